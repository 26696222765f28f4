#pragma once
// Gathers the glyphs of PDF text, one by one, into TEXT entities: consecutive glyphs that sit on one baseline with
// the same font, size and direction become one Text; a gap the width of a space becomes a space, a larger one or a
// jump off the baseline starts a new Text.

#include "drawing.h"

#include <vector>

namespace unplot::engine {

// What the glyphs of one run share (one span of one font and matrix).
struct TextRun {
    Style style;
    std::string textStyle = "Standard";
    double rotationDeg = 0;
    double height = 0; // cap height in mm
    double widthFactor = 1;
    Vec2 direction{1, 0}; // unit vector along the baseline
    double emMm = 0;      // the font size along the baseline, in mm
};

class TextGrouper {
public:
    explicit TextGrouper(std::vector<Entity>& out) : out_(out) {}

    // Starts a run; glyphs continue the open Text only when the run matches it.
    void startRun(TextRun run);
    // The glyphs that follow begin a text object of their own: they continue the open Text only across the gap of
    // a word space (two labels side by side are two texts).
    void startObject() { objectStart_ = true; }
    // A glyph at `origin` (mm) advancing by `advanceMm`; `unicode` < 0 when the glyph has no character.
    void addGlyph(Vec2 origin, double advanceMm, int unicode);
    // A further character of the last glyph (a ligature's second letter).
    void addToLastGlyph(int unicode);
    // Emits the open Text, if any.
    void flush();

private:
    bool sameRun(const TextRun& run) const;

    std::vector<Entity>& out_;
    TextRun run_;
    bool open_ = false; // a Text is being gathered
    bool haveRun_ = false;
    bool objectStart_ = false;
    Text text_;
    Vec2 next_; // where the next glyph of the open Text should sit
};

} // namespace unplot::engine
