#pragma once
// Text drawn as strokes comes back as text: a pass over a page's drawing that runs between reading and writing.
//
// First the invisible twins: text the PDF does not draw (render mode 3) lying over strokes of the same glyphs
// becomes visible text in the strokes' style, and the strokes go. Then recognition: groups of small strokes that
// match the glyphs of a stroke font, on a common baseline at any angle, become one TEXT per line of text; on pages
// with many strokes, lines in a font no font file has are read from the page's own glyph shapes, labelled by OCR
// (documentfont.h). Anything that is not confidently text stays as it was.

#include "drawing.h"
#include "ocr.h"
#include "strokefont.h"

#include <vector>

namespace unplot::engine::strokes {

struct TextRecovery {
    int textsRecovered = 0;  // TEXT entities made from strokes
    int strokesReplaced = 0; // stroked entities they replaced
    TextRecovery& operator+=(const TextRecovery& o)
    {
        textsRecovered += o.textsRecovered, strokesReplaced += o.strokesReplaced;
        return *this;
    }
};

// Twins only.
TextRecovery recoverTwins(Drawing& drawing);
// Recognition against `fonts`, and with `reader` (when given) of the page's own font from its repeating glyphs.
TextRecovery recognizeStrokedText(Drawing& drawing, const std::vector<StrokeFont>& fonts, LineReader* reader = nullptr);
// Both, twins first.
TextRecovery recoverText(Drawing& drawing, const std::vector<StrokeFont>& fonts, LineReader* reader = nullptr);

} // namespace unplot::engine::strokes
