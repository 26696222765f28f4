#pragma once
// Test drawings for the passes: PDF content of shapes as plots draw them (circles and arcs flattened into runs of
// segments or written as Bézier arcs, regular polygons, dashes drawn one subpath each), and their conversion
// through the reader and the passes. Coordinates in pt, as content streams take them.

#include "drawing.h"

#include <string>
#include <vector>

namespace unplot::engine::testing {

// Millimetres for PDF points.
constexpr double mm(double pt)
{
    return pt * 25.4 / 72.0;
}

// "x y " with six decimals.
std::string at(Vec2 p);

// A run of `segments` equal chords round a circle from `fromDeg` to `toDeg` (counter-clockwise when toDeg is
// larger), closed when it goes round: a flattened circle or arc, or a regular polygon. With `move` false it goes on
// from the current point (which must be the first).
std::string flattened(Vec2 center, double radius, int segments, double fromDeg = 0, double toDeg = 360,
                      bool move = true);
// The chords a plot that flattens to within `tolerance` (pt) takes for an arc: at least 8 a circle.
int segmentsFor(double radius, double sweepDeg, double tolerance);
// Bézier arcs of at most `pieceDeg` degrees each, continuing the current point (no moveto) when `move` is false.
std::string bezierArc(Vec2 center, double radius, double fromDeg, double toDeg, bool move = true, double pieceDeg = 90);
// `pattern` (on, off, ... in pt) along a straight line or round a circle, each dash a subpath of its own (dashes
// along the circle flattened with `segmentsPerCircle` chords a full turn).
std::string dashesAlong(Vec2 a, Vec2 b, const std::vector<double>& pattern);
std::string dashesRound(Vec2 center, double radius, const std::vector<double>& pattern, int segmentsPerCircle);

// The page's drawing after the reader and the passes not `skipped`.
Drawing converted(const std::string& content, const std::vector<std::string>& skipped = {}, double width = 595,
                  double height = 842);

// Entities of one kind.
template <typename G> std::vector<G> all(const Drawing& d)
{
    std::vector<G> out;
    for (const Entity& e : d.entities)
        if (const auto* g = std::get_if<G>(&e.geometry))
            out.push_back(*g);
    return out;
}

} // namespace unplot::engine::testing
