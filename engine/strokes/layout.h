#pragma once
// The layout of small line work: strokes joined into connected components (glyphs or parts of glyphs), and those
// into rows that run along a direction, as the glyphs of a line of text stand.

#include "pieces.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace unplot::engine::strokes {

// Connected strokes: a glyph, or a part of one (the dot of an i).
struct Component {
    std::vector<std::size_t> pieces;
    Box box;
};

// Coordinates along a direction: s along the line, t up the glyphs.
struct Frame {
    Vec2 u, v;
    double s(Vec2 p) const { return p.x * u.x + p.y * u.y; }
    double t(Vec2 p) const { return p.x * v.x + p.y * v.y; }
    Vec2 point(double s, double t) const { return {s * u.x + t * v.x, s * u.y + t * v.y}; }
    static Frame at(double deg)
    {
        const double a = deg * std::numbers::pi / 180;
        return {{std::cos(a), std::sin(a)}, {-std::sin(a), std::cos(a)}};
    }
};

// A glyph as it stands on the page, in a line's frame.
struct Candidate {
    std::vector<std::size_t> comps;
    double s0 = 1e300, s1 = -1e300, t0 = 1e300, t1 = -1e300;
    void add(const Candidate& o);
    double width() const { return s1 - s0; }
    double height() const { return t1 - t0; }
};

// A row of glyph candidates along a direction, in reading order.
struct TextLine {
    double angle = 0; // degrees
    Frame frame;
    std::vector<Candidate> glyphs;
    double baseline = 0; // the level most glyph bottoms share (t)
    double top = 0;      // the height above it of the tallest glyph standing on it
};

class Layout {
public:
    // Components larger than `maxGlyphMm` either way are left out.
    Layout(const std::vector<Piece>& pieces, double maxGlyphMm);

    const std::vector<Piece>& pieces() const { return pieces_; }
    const std::vector<Component>& components() const { return comps_; }
    // The components whose boxes meet `box`.
    std::vector<std::size_t> componentsNear(const Box& box) const { return grid_.find(box); }

    // The directions text may run in: the four right angles, and those that neighbouring glyphs of similar size
    // keep to each other often enough.
    std::vector<double> textAngles() const;
    // The rows along `angle`, glyphs stacked over each other merged; rows too small for text left out. Of the
    // components listed in `only`, when given.
    std::vector<TextLine> linesAt(double angle, const std::vector<std::size_t>* only = nullptr) const;

private:
    const std::vector<Piece>& pieces_;
    std::vector<Component> comps_;
    PieceGrid grid_;
};

} // namespace unplot::engine::strokes
