#include "fillloops.h"

#include <cmath>

namespace unplot::engine {
namespace {

constexpr double kEpsilon = 1e-8;             // as for entities: closer points are one point
constexpr std::size_t kMaxWindingLoops = 400; // beyond this, skip the quadratic winding analysis
constexpr int kCubicSteps = 16;

bool finite(Vec2 p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}
bool same(Vec2 a, Vec2 b)
{
    return std::fabs(a.x - b.x) <= kEpsilon && std::fabs(a.y - b.y) <= kEpsilon;
}

bool clean(const Loop& loop, BoundaryLoop& result)
{
    if (!finite(loop.start))
        return false;
    result.start = loop.start;
    Vec2 current = loop.start;
    for (const PathSegment& s : loop.segments) {
        const bool cubic = s.kind == PathSegment::Kind::Cubic;
        if (!finite(s.end) || (cubic && (!finite(s.c1) || !finite(s.c2))))
            return false;
        if (same(current, s.end) && (!cubic || (same(current, s.c1) && same(current, s.c2))))
            continue;
        result.segments.push_back(s);
        result.straight = result.straight && !cubic;
        current = s.end;
    }
    if (result.straight) {
        while (!result.segments.empty() && same(result.segments.back().end, result.start))
            result.segments.pop_back();
        return result.segments.size() >= 2;
    }
    return !result.segments.empty();
}

// The loop as a closed polygon (curves flattened), first point not repeated.
std::vector<Vec2> flatten(const BoundaryLoop& loop)
{
    std::vector<Vec2> points{loop.start};
    Vec2 p0 = loop.start;
    for (const PathSegment& s : loop.segments) {
        if (s.kind == PathSegment::Kind::Cubic) {
            for (int i = 1; i < kCubicSteps; ++i)
                points.push_back(bezierPoint(p0, s.c1, s.c2, s.end, double(i) / kCubicSteps));
        }
        points.push_back(s.end);
        p0 = s.end;
    }
    return points;
}

// +1 for a counter-clockwise polygon, -1 for clockwise, 0 without area.
int direction(const std::vector<Vec2>& polygon)
{
    double area = 0;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++)
        area += (polygon[j].x - polygon[i].x) * (polygon[j].y + polygon[i].y);
    return area > 0 ? 1 : (area < 0 ? -1 : 0);
}

// The winding number of a closed polygon around a point (counter-clockwise positive).
int winding(const std::vector<Vec2>& polygon, Vec2 p)
{
    int w = 0;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Vec2 a = polygon[j], b = polygon[i];
        const double side = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
        if (a.y <= p.y) {
            if (b.y > p.y && side > 0)
                ++w;
        } else if (b.y <= p.y && side < 0) {
            --w;
        }
    }
    return w;
}

} // namespace

std::vector<BoundaryLoop> boundaryLoops(const Hatch& hatch)
{
    std::vector<BoundaryLoop> loops;
    for (const Loop& loop : hatch.loops) {
        BoundaryLoop b;
        if (clean(loop, b))
            loops.push_back(std::move(b));
    }
    if (hatch.evenOdd || loops.size() < 2 || loops.size() > kMaxWindingLoops)
        return loops;

    std::vector<std::vector<Vec2>> polygons;
    polygons.reserve(loops.size());
    for (const BoundaryLoop& loop : loops)
        polygons.push_back(flatten(loop));
    std::vector<BoundaryLoop> kept;
    for (std::size_t i = 0; i < loops.size(); ++i) {
        int around = 0;
        for (std::size_t j = 0; j < loops.size(); ++j)
            if (j != i)
                around += winding(polygons[j], loops[i].start);
        const bool insideFilled = around + direction(polygons[i]) != 0;
        const bool outsideFilled = around != 0;
        if (insideFilled != outsideFilled)
            kept.push_back(std::move(loops[i]));
    }
    return kept;
}

} // namespace unplot::engine
