#pragma once
// Geometry as the writers store it: degenerate shapes left out, arcs and ellipses in their canonical form, fills
// reduced to the loops a HATCH holds. The same rules as the DXF writer's, so that both files of a page agree.

#include "drawing.h"

#include <optional>

namespace unplot::engine::dwg {

// Points closer than this (mm) are one point.
inline constexpr double kEpsilon = 1e-8;
// Readers refuse a flatter ellipse; at any size a drawing has, one this flat draws the same line.
inline constexpr double kMinEllipseRatio = 1e-6;

// The geometry to write, or nothing for a shape with no extent or with non-finite numbers. A Polyline comes back
// without repeated points, its bulges empty when all are 0; an Arc of a full turn as a Circle; an Arc's angles in
// [0, 360); an Ellipse with its major axis the longer one, a ratio from kMinEllipseRatio to 1 and its parameters
// counter-clockwise from [0, 2pi); a BezierSpline with exactly 3n+1 points; a Hatch's loops as boundaryLoops keeps
// them (a straight loop without its closing edge).
std::optional<Geometry> normalized(const Geometry& g);

}  // namespace unplot::engine::dwg
