#include "passgeometry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

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

std::uint64_t lookHash(const Style& s)
{
    std::uint64_t width = 0;
    static_assert(sizeof width == sizeof s.lineWidthMm);
    std::memcpy(&width, &s.lineWidthMm, sizeof width);
    std::uint64_t h = std::hash<std::string>()(s.layer) * 0x9e3779b97f4a7c15;
    h ^= std::hash<std::string>()(s.linetype) + 0x7f4a7c15 + (h << 6) + (h >> 2);
    h ^= (width * 0xbf58476d1ce4e5b9) ^ (std::uint64_t(trueColorValue(s.color)) << 20) ^ (std::uint64_t(s.dash) << 48);
    return h;
}

Geometry pathGeometry(std::vector<Vec2> points, std::vector<double> bulges, bool closed)
{
    // Two arcs from p through a to b are one when their circles agree, or when a and both their middles lie on the
    // arc from p to b with both sweeps (short arcs' own centres are uncertain).
    auto sameCircle = [](const BulgeArc& x, const BulgeArc& y) {
        const double tolerance = std::max(2e-3, 5e-4 * x.radius);
        return distance(x.center, y.center) <= tolerance && std::abs(x.radius - y.radius) <= tolerance;
    };
    auto oneArc = [](Vec2 p, Vec2 a, Vec2 b, double first, double second, double sweep) {
        const BulgeArc whole = bulgeArc(p, b, bulgeOf(sweep));
        const double tolerance = std::max(2e-3, 5e-4 * whole.radius);
        auto on = [&](Vec2 q) { return std::abs(distance(q, whole.center) - whole.radius) <= tolerance; };
        auto middle = [](Vec2 x, Vec2 y, double bulge) {
            const BulgeArc arc = bulgeArc(x, y, bulge);
            return polar(arc.center, arc.radius, arc.startAngle + wrapAngle(arc.endAngle - arc.startAngle) / 2);
        };
        return on(a) && on(middle(p, a, first)) && on(middle(a, b, second));
    };
    std::vector<Vec2> mp{points[0]};
    std::vector<double> mb;
    for (std::size_t i = 0; i < bulges.size(); ++i) {
        const Vec2 a = mp.back(), b = points[(i + 1) % points.size()];
        if (!mb.empty() && mb.back() != 0 && bulges[i] != 0 && (mb.back() > 0) == (bulges[i] > 0)) {
            const double sweep = 4 * std::atan(mb.back()) + 4 * std::atan(bulges[i]);
            // The closing segment of a closed path stays apart: the path keeps two points at least.
            if (std::abs(sweep) < kTurn - 1e-6 && !(closed && i + 1 == bulges.size()) &&
                (sameCircle(bulgeArc(mp[mp.size() - 2], a, mb.back()), bulgeArc(a, b, bulges[i])) ||
                 oneArc(mp[mp.size() - 2], a, b, mb.back(), bulges[i], sweep))) {
                mp.back() = b;
                mb.back() = bulgeOf(sweep);
                continue;
            }
        }
        mb.push_back(bulges[i]);
        mp.push_back(b);
    }
    if (closed)
        mp.pop_back();
    if (!closed && mb.size() == 1 && mb[0] != 0) {
        const BulgeArc a = bulgeArc(mp[0], mp[1], mb[0]);
        return arcEntity({a.center, a.radius, angleOf(a.center, mp[0]), 4 * std::atan(mb[0])});
    }
    if (closed && mb.size() == 2 && mb[0] != 0 && (mb[0] > 0) == (mb[1] > 0)) {
        const BulgeArc a = bulgeArc(mp[0], mp[1], mb[0]), b = bulgeArc(mp[1], mp[0], mb[1]);
        if (sameCircle(a, b))
            return Circle{a.center, a.radius};
    }
    Polyline poly{std::move(mp), closed, {}};
    if (std::any_of(mb.begin(), mb.end(), [](double x) { return x != 0; })) {
        poly.bulges = std::move(mb);
        if (!closed)
            poly.bulges.push_back(0);
    }
    return poly;
}

} // namespace unplot::engine::passes
