#pragma once
// Font facts the text conversion needs, read through MuPDF without letting its errors escape.

#include <mupdf/fitz.h>

#include <string>
#include <unordered_map>

namespace unplot::engine {

// The font's cap height in ems: the top of its "H", else the OS/2 table's cap height, else 0.7.
double capHeightRatio(fz_context* ctx, fz_font* font);

// The glyph's advance in ems; 0 when MuPDF cannot tell.
double glyphAdvance(fz_context* ctx, fz_font* font, int glyph, int wmode);

// The characters the font's glyphs draw, as its own Unicode cmap table says (read backwards; the lowest code point
// where several share a glyph): the way back to the text when the PDF's map of it is broken. Empty for a font
// without a Unicode cmap.
std::unordered_map<int, char32_t> glyphCharacters(fz_context* ctx, fz_font* font);

// The font's name without a subset tag ("ABCDEF+Helvetica" gives "Helvetica").
std::string fontBaseName(fz_context* ctx, fz_font* font);

// A text style name for a font name: characters CAD table names refuse, and non-ASCII ones, become '_'.
std::string textStyleName(const std::string& fontName);

} // namespace unplot::engine
