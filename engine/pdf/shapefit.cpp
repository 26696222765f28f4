#include "shapefit.h"

#include <cmath>
#include <numbers>

namespace unplot::engine {
namespace {

Vec2 bezierPoint(Vec2 p0, const PathSegment& s, double t)
{
    const double u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return {a * p0.x + b * s.c1.x + c * s.c2.x + d * s.end.x, a * p0.y + b * s.c1.y + c * s.c2.y + d * s.end.y};
}

// The circle through three points; nullopt when they are (nearly) on one line.
std::optional<Circle> circleThrough(Vec2 a, Vec2 b, Vec2 c)
{
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2 * (bx * cy - by * cx);
    const double scale = (bx * bx + by * by) + (cx * cx + cy * cy);
    if (std::abs(d) <= 1e-12 * scale)
        return std::nullopt;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
    return Circle{{a.x + ux, a.y + uy}, std::hypot(ux, uy)};
}

} // namespace

std::optional<Circle> fitCircle(Vec2 start, const std::vector<PathSegment>& segments)
{
    constexpr int kSamplesPerCurve = 8;
    std::vector<Vec2> samples;
    samples.reserve(segments.size() * kSamplesPerCurve + 1);
    Vec2 from = start;
    for (const auto& s : segments) {
        if (s.kind != PathSegment::Kind::Cubic)
            return std::nullopt;
        for (int i = 0; i < kSamplesPerCurve; ++i)
            samples.push_back(bezierPoint(from, s, double(i) / kSamplesPerCurve));
        from = s.end;
    }
    const std::size_t n = samples.size();
    // Writers put the curves' end points on the circle exactly: three of them, far apart, give it. With only two
    // curves, points inside them have to do.
    const std::size_t m = segments.size();
    auto circle = m >= 3 ? circleThrough(start, segments[m / 3 - 1].end, segments[2 * m / 3 - 1].end)
                         : circleThrough(samples[0], samples[n / 3], samples[2 * n / 3]);
    if (!circle || circle->radius < 1e-4)
        return std::nullopt;
    const double tolerance = std::max(0.001, 0.0005 * circle->radius);
    // Every sample on the circle, and the chain turning one way around the centre, once.
    double turned = 0;
    double previous = std::atan2(samples[0].y - circle->center.y, samples[0].x - circle->center.x);
    for (std::size_t i = 0; i <= n; ++i) {
        const Vec2 p = i < n ? samples[i] : samples[0];
        if (std::abs(std::hypot(p.x - circle->center.x, p.y - circle->center.y) - circle->radius) > tolerance)
            return std::nullopt;
        if (i == 0)
            continue;
        const double angle = std::atan2(p.y - circle->center.y, p.x - circle->center.x);
        double step = angle - previous;
        if (step > std::numbers::pi)
            step -= 2 * std::numbers::pi;
        if (step < -std::numbers::pi)
            step += 2 * std::numbers::pi;
        if (std::abs(step) > std::numbers::pi / 2 || (turned != 0 && (step > 0) != (turned > 0)))
            return std::nullopt;
        turned += step;
        previous = angle;
    }
    if (std::abs(std::abs(turned) - 2 * std::numbers::pi) > 1e-3)
        return std::nullopt;
    return circle;
}

} // namespace unplot::engine
