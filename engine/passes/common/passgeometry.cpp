#include "passgeometry.h"

#include <algorithm>

namespace unplot::engine::passes {

std::optional<Circle> circleThrough(Vec2 a, Vec2 b, Vec2 c)
{
    const Vec2 u = b - a, v = c - a;
    const double d = 2 * cross(u, v);
    const double uu = dot(u, u), vv = dot(v, v);
    if (std::abs(d) <= 1e-12 * (uu + vv))
        return std::nullopt;
    const Vec2 o{(v.y * uu - u.y * vv) / d, (u.x * vv - v.x * uu) / d};
    return Circle{a + o, length(o)};
}

std::optional<Circle> fitCircle(const std::vector<Vec2>& points)
{
    if (points.size() < 3)
        return std::nullopt;
    // Kasa's fit around the centroid: solve for the centre from the normal equations.
    Vec2 m{};
    for (Vec2 p : points)
        m = m + p;
    m = (1.0 / double(points.size())) * m;
    double suu = 0, svv = 0, suv = 0, suuu = 0, svvv = 0, suvv = 0, svuu = 0;
    for (Vec2 p : points) {
        const double u = p.x - m.x, v = p.y - m.y;
        suu += u * u, svv += v * v, suv += u * v;
        suuu += u * u * u, svvv += v * v * v, suvv += u * v * v, svuu += v * u * u;
    }
    const double det = suu * svv - suv * suv;
    if (std::abs(det) <= 1e-18 * (suu + svv) * (suu + svv))
        return std::nullopt;
    const double r1 = (suuu + suvv) / 2, r2 = (svvv + svuu) / 2;
    const double uc = (r1 * svv - r2 * suv) / det, vc = (r2 * suu - r1 * suv) / det;
    const double n = double(points.size());
    return Circle{{m.x + uc, m.y + vc}, std::sqrt(uc * uc + vc * vc + (suu + svv) / n)};
}

Vec2 bezierPoint(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double t)
{
    const double u = 1 - t;
    return (u * u * u) * p0 + (3 * u * u * t) * p1 + (3 * u * t * t) * p2 + (t * t * t) * p3;
}

ArcPath arcPathOf(const Arc& arc)
{
    const double start = radians(arc.startAngleDeg);
    double sweep = wrapAngle(radians(arc.endAngleDeg) - start);
    if (sweep == 0)
        sweep = kTurn;
    return {arc.center, arc.radius, start, sweep};
}

Geometry arcEntity(const ArcPath& a)
{
    if (std::abs(a.sweep) >= kTurn - 1e-9)
        return Circle{a.center, a.radius};
    const double from = a.sweep > 0 ? a.start : a.start + a.sweep;
    return Arc{a.center, a.radius, degrees(wrapAngle(from)), degrees(wrapAngle(from + std::abs(a.sweep)))};
}

} // namespace unplot::engine::passes
