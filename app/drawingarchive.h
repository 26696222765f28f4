#pragma once
// The drawings inside a result archive, for `unplot convert -o NAME.dxf`.

#include <QString>

namespace unplot {

// How many drawings (.dxf or .dwg members) the archive at `archive` holds, -1 when it cannot be read.
int countDrawings(const QString& archive);

// Writes the one drawing of the archive at `archive` to `target`, replacing it only once it is complete, and its image
// files (.png, .jpg) beside it. Returns the reason when that cannot be done (no drawing, or more than one; an
// unreadable archive; an unwritable target).
QString extractOnlyDrawing(const QString& archive, const QString& target);

} // namespace unplot
