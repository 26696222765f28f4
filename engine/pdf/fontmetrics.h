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

// The character a glyph's name says it draws when that is one of the drawing symbols that are text (degree,
// plus-minus, micro, diameter): symbol fonts name these glyphs while their codes say nothing or the wrong letter.
// 0 for any other glyph.
char32_t symbolCharacter(fz_context* ctx, fz_font* font, int glyph);
// The same for a glyph name.
char32_t drawingSymbol(const char* name);

// The glyph's name in the font program, in `name` (`size` bytes); false when the font names none.
bool glyphName(fz_context* ctx, fz_font* font, int glyph, char* name, int size);

// The glyph's outline placed by `trm` (the text matrix at the glyph's origin, in device space), or null when the
// font has none for it. The caller drops it.
fz_path* glyphOutline(fz_context* ctx, fz_font* font, int glyph, fz_matrix trm);

// The font's name without a subset tag ("ABCDEF+Helvetica" gives "Helvetica").
std::string fontBaseName(fz_context* ctx, fz_font* font);

// A text style name for a font name: characters CAD table names refuse, and non-ASCII ones, become '_'.
std::string textStyleName(const std::string& fontName);

} // namespace unplot::engine
