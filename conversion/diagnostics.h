#pragma once
#include <QString>

namespace unplot {

// The debug form of a text: in double quotes, with \" \\ \' \n \r \t \0 escaped and any other control character
// written as \u{hex}.
QString debugQuoted(const QString& text);

// Writes debugQuoted(text) and a line break to standard output, flushed.
void printDiagnostic(const QString& text);

// Writes text (as it is) and a line break to standard output, flushed.
void printPlain(const QString& text);

}  // namespace unplot
