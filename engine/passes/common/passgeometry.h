#pragma once
// What the passes over a drawing share: plane geometry on Vec2, circles, bulges, Bézier points, entity bounds.

#include "drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

namespace unplot::engine::passes {

inline Vec2 operator+(Vec2 a, Vec2 b)
{
    return {a.x + b.x, a.y + b.y};
}
inline Vec2 operator-(Vec2 a, Vec2 b)
{
    return {a.x - b.x, a.y - b.y};
}
inline Vec2 operator*(double k, Vec2 a)
{
    return {k * a.x, k * a.y};
}
inline double dot(Vec2 a, Vec2 b)
{
    return a.x * b.x + a.y * b.y;
}
inline double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}
inline double length(Vec2 a)
{
    return std::hypot(a.x, a.y);
}
inline double distance(Vec2 a, Vec2 b)
{
    return length(a - b);
}

// The distance of `p` from the segment a-b.
inline double distanceToSegment(Vec2 p, Vec2 a, Vec2 b)
{
    const Vec2 d = b - a;
    const double dd = dot(d, d);
    const double t = dd > 0 ? std::clamp(dot(p - a, d) / dd, 0.0, 1.0) : 0;
    return distance(p, a + t * d);
}

inline Vec2 lerp(Vec2 a, Vec2 b, double t)
{
    return a + t * (b - a);
}
inline Vec2 polar(Vec2 center, double radius, double angle)
{
    return {center.x + radius * std::cos(angle), center.y + radius * std::sin(angle)};
}
inline double angleOf(Vec2 center, Vec2 p)
{
    return std::atan2(p.y - center.y, p.x - center.x);
}

constexpr double kTurn = 2 * std::numbers::pi;
// An angle brought into [0, 2pi).
inline double wrapAngle(double a)
{
    a = std::fmod(a, kTurn);
    if (a < 0)
        a += kTurn;
    return a >= kTurn ? 0 : a;
}
inline double radians(double degrees)
{
    return degrees * std::numbers::pi / 180;
}
inline double degrees(double radians)
{
    return radians * 180 / std::numbers::pi;
}

// The circle through three points; nullopt when they are (nearly) on one line.
std::optional<Circle> circleThrough(Vec2 a, Vec2 b, Vec2 c);
// The circle nearest to the points in the least-squares sense (algebraic fit); nullopt for fewer than three points
// or points on a line.
std::optional<Circle> fitCircle(const std::vector<Vec2>& points);

// The bulge of the arc from `a` around `center` to `b`, turning `sweep` radians (positive counter-clockwise).
inline double bulgeOf(double sweep)
{
    return std::tan(sweep / 4);
}
// An arc as start angle and signed sweep (radians), the direction it was drawn in.
struct ArcPath {
    Vec2 center;
    double radius = 0;
    double start = 0;
    double sweep = 0;
    Vec2 at(double fraction) const { return polar(center, radius, start + fraction * sweep); }
    Vec2 from() const { return at(0); }
    Vec2 to() const { return at(1); }
};
// An Arc entity (counter-clockwise, degrees) as an ArcPath; a full circle for a Circle.
ArcPath arcPathOf(const Arc& arc);
// Back to an Arc entity (or nullopt when the sweep is a full turn: then it is a Circle).
Geometry arcEntity(const ArcPath& arc);

inline bool overlaps(const Extents& a, const Extents& b)
{
    return !a.empty && !b.empty && a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y;
}

// A path of points and the bulges of its segments (one a segment: n - 1 for an open path, n for a closed one) as
// an entity: consecutive arcs of one circle merged, then one arc an Arc, a closed path round one circle a Circle,
// anything else a Polyline.
Geometry pathGeometry(std::vector<Vec2> points, std::vector<double> bulges, bool closed);

// A hash of what sameLook compares.
std::uint64_t lookHash(const Style& s);

// Whether two entities look the same on paper: layer, colour, width, linetype and dash pattern (not the clip).
inline bool sameLook(const Style& a, const Style& b)
{
    return a.color == b.color && a.lineWidthMm == b.lineWidthMm && a.dash == b.dash && a.linetype == b.linetype &&
           a.layer == b.layer;
}

} // namespace unplot::engine::passes
