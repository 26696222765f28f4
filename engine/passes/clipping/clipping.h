#pragma once
// Cuts the drawing at the PDF's clip regions, so that nothing shows that the page does not show: strokes are cut
// exactly where they cross a region's edge (lines, polylines with their arcs, arcs, circles, ellipses, Bézier
// splines), fills are intersected with the region (their curves flattened where they are cut), text whose middle
// lies outside is dropped. Entities wholly inside stay as they are.

#include "drawing.h"

namespace unplot::engine::passes {

// Clears every entity's Style::clip; adds a note with the counts of entities cut and dropped.
void clipToRegions(Drawing& drawing);

} // namespace unplot::engine::passes
