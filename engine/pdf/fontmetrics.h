#pragma once
// Font facts the text conversion needs, read through MuPDF without letting its errors escape.

#include <mupdf/fitz.h>

#include <string>

namespace unplot::engine {

// The font's cap height in ems: the top of its "H", else the OS/2 table's cap height, else 0.7.
double capHeightRatio(fz_context* ctx, fz_font* font);

// The glyph's advance in ems; 0 when MuPDF cannot tell.
double glyphAdvance(fz_context* ctx, fz_font* font, int glyph, int wmode);

// The font's name without a subset tag ("ABCDEF+Helvetica" gives "Helvetica").
std::string fontBaseName(fz_context* ctx, fz_font* font);

// A text style name for a font name: characters CAD table names refuse, and non-ASCII ones, become '_'.
std::string textStyleName(const std::string& fontName);

} // namespace unplot::engine
