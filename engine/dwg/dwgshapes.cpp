#include "dwgshapes.h"

#include "fillloops.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace unplot::engine::dwg {
namespace {

bool finite(Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool same(Vec2 a, Vec2 b) { return std::fabs(a.x - b.x) <= kEpsilon && std::fabs(a.y - b.y) <= kEpsilon; }
bool allFinite(const std::vector<Vec2>& points)
{
    for (const Vec2& p : points)
        if (!finite(p))
            return false;
    return true;
}
double normalizedDegrees(double degrees)
{
    double d = std::fmod(degrees, 360.0);
    if (d < 0)
        d += 360.0;
    return d >= 360.0 ? 0.0 : d;
}

struct Normalizer {
    using Result = std::optional<Geometry>;

    Result operator()(const Line& g) const
    {
        if (!finite(g.a) || !finite(g.b) || same(g.a, g.b))
            return std::nullopt;
        return g;
    }
    Result operator()(const Polyline& g) const
    {
        if (!allFinite(g.points))
            return std::nullopt;
        // A dropped point's bulge goes with it (its segment has no length).
        const bool withBulges = g.bulges.size() == g.points.size();
        Polyline p;
        for (std::size_t i = 0; i < g.points.size(); ++i) {
            const double bulge = withBulges && std::isfinite(g.bulges[i]) ? g.bulges[i] : 0;
            if (p.points.empty() || !same(p.points.back(), g.points[i])) {
                p.points.push_back(g.points[i]);
                p.bulges.push_back(bulge);
            } else {
                p.bulges.back() = bulge;
            }
        }
        if (g.closed)
            while (p.points.size() > 1 && same(p.points.back(), p.points.front())) {
                p.points.pop_back();
                p.bulges.pop_back();
            }
        if (p.points.size() < 2)
            return std::nullopt;
        const bool straight = std::all_of(p.bulges.begin(), p.bulges.end(), [](double b) { return b == 0; });
        p.closed = g.closed && (p.points.size() > 2 || !straight);
        if (straight)
            p.bulges.clear();
        else if (!p.closed)
            p.bulges.back() = 0;
        return p;
    }
    Result operator()(const BezierSpline& g) const
    {
        const std::size_t segments = g.points.size() >= 4 ? (g.points.size() - 1) / 3 : 0;
        if (segments == 0 || !allFinite(g.points))
            return std::nullopt;
        BezierSpline s{{g.points.begin(), g.points.begin() + std::ptrdiff_t(3 * segments + 1)}, g.closed};
        bool degenerate = true;
        for (std::size_t i = 1; i < s.points.size() && degenerate; ++i)
            degenerate = same(s.points[i], s.points[0]);
        if (degenerate)
            return std::nullopt;
        return s;
    }
    Result operator()(const Circle& g) const
    {
        if (!finite(g.center) || !std::isfinite(g.radius) || g.radius <= kEpsilon)
            return std::nullopt;
        return g;
    }
    Result operator()(const Arc& g) const
    {
        if (!finite(g.center) || !std::isfinite(g.radius) || g.radius <= kEpsilon || !std::isfinite(g.startAngleDeg) ||
            !std::isfinite(g.endAngleDeg))
            return std::nullopt;
        if (std::fabs(g.endAngleDeg - g.startAngleDeg) >= 360.0 - 1e-9)
            return Circle{g.center, g.radius};
        const double start = normalizedDegrees(g.startAngleDeg);
        const double end = normalizedDegrees(g.endAngleDeg);
        const double sweep = end >= start ? end - start : end + 360.0 - start;
        if (sweep * g.radius * std::numbers::pi / 180 <= kEpsilon)
            return std::nullopt;
        return Arc{g.center, g.radius, start, end};
    }
    Result operator()(const Ellipse& g) const
    {
        constexpr double kTurn = 2 * std::numbers::pi;
        if (!finite(g.center) || !finite(g.majorAxis) || !std::isfinite(g.ratio) || !std::isfinite(g.startParam) ||
            !std::isfinite(g.endParam))
            return std::nullopt;
        Ellipse e = g;
        e.ratio = std::fabs(g.ratio);
        const double majorLength = std::hypot(e.majorAxis.x, e.majorAxis.y);
        if (majorLength <= kEpsilon || e.ratio * majorLength <= kEpsilon)
            return std::nullopt;
        if (g.ratio < 0) {  // a mirrored parametrisation: the same points the other way round
            e.startParam = -g.endParam;
            e.endParam = -g.startParam;
        }
        if (e.ratio > 1) {  // the major axis must be the longer one: swap, and turn the parameters by 90 degrees
            e.majorAxis = {-e.majorAxis.y * e.ratio, e.majorAxis.x * e.ratio};
            e.ratio = 1 / e.ratio;
            e.startParam -= std::numbers::pi / 2;
            e.endParam -= std::numbers::pi / 2;
        }
        if (!finite(e.majorAxis))  // the swap overflowed
            return std::nullopt;
        e.ratio = std::max(e.ratio, kMinEllipseRatio);
        if (std::fabs(e.endParam - e.startParam) >= kTurn - 1e-9) {
            e.startParam = 0;
            e.endParam = kTurn;
            return e;
        }
        double sweep = std::fmod(e.endParam - e.startParam, kTurn);
        if (sweep < 0)
            sweep += kTurn;
        if (sweep * std::min(e.ratio, 1.0) * majorLength <= kEpsilon)
            return std::nullopt;
        e.startParam = std::fmod(e.startParam, kTurn);
        if (e.startParam < 0)
            e.startParam += kTurn;
        e.endParam = e.startParam + sweep;
        if (e.endParam > kTurn)
            e.endParam -= kTurn;
        return e;
    }
    Result operator()(const Text& g) const
    {
        if (g.utf8.empty() || !finite(g.insertion) || !std::isfinite(g.height) || g.height <= 0 ||
            !std::isfinite(g.rotationDeg) || !std::isfinite(g.widthFactor))
            return std::nullopt;
        Text t = g;
        t.rotationDeg = normalizedDegrees(g.rotationDeg);
        if (!(t.widthFactor > 0))
            t.widthFactor = 1;
        if (!(std::abs(t.obliqueDeg) < 85)) // not finite, or a slant no CAD program takes
            t.obliqueDeg = 0;
        return t;
    }
    Result operator()(const Hatch& g) const
    {
        Hatch h;
        h.evenOdd = true;  // the loops kept already express the fill rule in odd parity
        for (const BoundaryLoop& loop : boundaryLoops(g))
            h.loops.push_back(Loop{loop.start, loop.segments});
        if (h.loops.empty())
            return std::nullopt;
        return h;
    }
};

}  // namespace

std::optional<Geometry> normalized(const Geometry& g) { return std::visit(Normalizer{}, g); }

}  // namespace unplot::engine::dwg
