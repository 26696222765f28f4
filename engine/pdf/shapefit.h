#pragma once
// Recognises true circles and circular arcs among chains of cubic Bézier curves, as PDF writers approximate them.

#include "drawing.h"

#include <optional>
#include <vector>

namespace unplot::engine {

// `segments` start at `start`, every one a cubic, and the chain ends where it started. Returns the circle when every
// point of the chain lies on it within max(0.001 mm, 0.0005 * radius) and the chain turns once around its centre.
std::optional<Circle> fitCircle(Vec2 start, const std::vector<PathSegment>& segments);

// `segments` (cubics) run from `start` along a circular arc of less than a full turn. Returns the arc when every point
// of the run lies on it within 0.001 mm: Bézier approximations of an arc qualify when their pieces are short enough.
std::optional<Arc> fitArc(Vec2 start, const PathSegment* first, const PathSegment* last);

} // namespace unplot::engine
