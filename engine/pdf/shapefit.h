#pragma once
// Recognises true circles among chains of cubic Bézier curves, as PDF writers approximate them.

#include "drawing.h"

#include <optional>
#include <vector>

namespace unplot::engine {

// `segments` start at `start`, every one a cubic, and the chain ends where it started. Returns the circle when every
// point of the chain lies on it within max(0.001 mm, 0.0005 * radius) and the chain turns once around its centre.
std::optional<Circle> fitCircle(Vec2 start, const std::vector<PathSegment>& segments);

} // namespace unplot::engine
