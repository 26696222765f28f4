#pragma once
// Text in a font no font file describes (an EDA program's own vector font, a plotter's): the page teaches it. Glyphs
// of the same shape at the same size form a class; lines chosen to cover the classes are rendered and read by OCR,
// and a class takes the character its readings agree on by a clear majority. A line whose every glyph belongs to a
// class with a character then reads from the classes, whether or not OCR saw it.

#include "layout.h"
#include "ocr.h"
#include "strokefont.h"

#include <string>
#include <vector>

namespace unplot::engine::strokes {

struct LineText {
    std::size_t line = 0;      // index into the lines read
    std::u32string text;       // spaces included
    double capHeight = 0;      // measured on the glyphs
    double cost = 0;           // the weakest class's disagreement (0: every reading agreed)
};

// Whether the page has strokes or fills enough to pay for learning its font: readDocumentFont reads nothing from
// fewer.
bool worthLearning(const std::vector<Piece>& pieces);

// Reads `lines` (rows of glyphs that no stroke font reads) with the page's own glyph classes; the stroke fonts
// `references` judge between lookalike characters.
std::vector<LineText> readDocumentFont(const Layout& layout, const std::vector<TextLine>& lines, LineReader& reader,
                                       const std::vector<StrokeFont>& references);

} // namespace unplot::engine::strokes
