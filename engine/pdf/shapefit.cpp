#include "shapefit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace unplot::engine {
namespace {

constexpr int kSamplesPerCurve = 8;

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

bool allCubics(const PathSegment* first, const PathSegment* last)
{
    for (auto s = first; s != last; ++s)
        if (s->kind != PathSegment::Kind::Cubic)
            return false;
    return first != last;
}

// Points along the chain: kSamplesPerCurve per curve from its start, then the chain's end point.
std::vector<Vec2> samplesOf(Vec2 start, const PathSegment* first, const PathSegment* last)
{
    std::vector<Vec2> samples;
    samples.reserve(std::size_t(last - first) * kSamplesPerCurve + 1);
    Vec2 from = start;
    for (auto s = first; s != last; ++s) {
        for (int i = 0; i < kSamplesPerCurve; ++i)
            samples.push_back(bezierPoint(from, s->c1, s->c2, s->end, double(i) / kSamplesPerCurve));
        from = s->end;
    }
    samples.push_back(from);
    return samples;
}

// The signed angle the samples turn through around the circle's centre; nullopt when one of them is off the circle
// by more than `tolerance`, or the turning stops, changes direction or jumps.
std::optional<double> turning(const std::vector<Vec2>& samples, const Circle& circle, double tolerance)
{
    double turned = 0;
    double previous = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Vec2 p = samples[i];
        if (std::abs(std::hypot(p.x - circle.center.x, p.y - circle.center.y) - circle.radius) > tolerance)
            return std::nullopt;
        const double angle = std::atan2(p.y - circle.center.y, p.x - circle.center.x);
        if (i > 0) {
            double step = angle - previous;
            if (step > std::numbers::pi)
                step -= 2 * std::numbers::pi;
            if (step < -std::numbers::pi)
                step += 2 * std::numbers::pi;
            if (step == 0 || std::abs(step) > std::numbers::pi / 2 || (turned != 0 && (step > 0) != (turned > 0)))
                return std::nullopt;
            turned += step;
        }
        previous = angle;
    }
    return turned;
}

double degrees(double radians)
{
    double d = radians * 180 / std::numbers::pi;
    if (d < 0)
        d += 360;
    return d >= 360 ? d - 360 : d + 0.0;
}

} // namespace

std::optional<Circle> fitCircle(Vec2 start, const std::vector<PathSegment>& segments)
{
    if (segments.size() < 2 || !allCubics(segments.data(), segments.data() + segments.size()))
        return std::nullopt;
    std::vector<Vec2> samples = samplesOf(start, segments.data(), segments.data() + segments.size());
    samples.back() = samples.front(); // the chain ends where it started
    // Writers put the curves' end points on the circle exactly: three of them, far apart, give it. With only two
    // curves, points inside them have to do.
    const std::size_t m = segments.size(), n = samples.size() - 1;
    auto circle = m >= 3 ? circleThrough(start, segments[m / 3 - 1].end, segments[2 * m / 3 - 1].end)
                         : circleThrough(samples[0], samples[n / 3], samples[2 * n / 3]);
    if (!circle || circle->radius < 1e-4)
        return std::nullopt;
    const auto turned = turning(samples, *circle, std::max(0.001, 0.0005 * circle->radius));
    if (!turned || std::abs(std::abs(*turned) - 2 * std::numbers::pi) > 1e-3)
        return std::nullopt;
    return circle;
}

std::optional<Arc> fitArc(Vec2 start, const PathSegment* first, const PathSegment* last)
{
    if (!allCubics(first, last))
        return std::nullopt;
    const std::vector<Vec2> samples = samplesOf(start, first, last);
    const auto circle = circleThrough(samples.front(), samples[samples.size() / 2], samples.back());
    if (!circle || circle->radius < 1e-4)
        return std::nullopt;
    const auto turned = turning(samples, *circle, 0.001);
    // At least a degree, and short of a full turn: gentler curves stay as they are.
    if (!turned || std::abs(*turned) < std::numbers::pi / 180 || std::abs(*turned) > 2 * std::numbers::pi - 1e-6)
        return std::nullopt;
    const Vec2 end = samples.back();
    Arc arc{circle->center, circle->radius, degrees(std::atan2(start.y - circle->center.y, start.x - circle->center.x)),
            degrees(std::atan2(end.y - circle->center.y, end.x - circle->center.x))};
    if (*turned < 0)
        std::swap(arc.startAngleDeg, arc.endAngleDeg); // arcs run counter-clockwise
    return arc;
}

} // namespace unplot::engine
