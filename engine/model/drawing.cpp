#include "drawing.h"

#include <algorithm>
#include <cmath>

namespace unplot::engine {
namespace {

struct Bounds {
    Extents e;
    void add(Vec2 p)
    {
        if (e.empty) {
            e.min = e.max = p;
            e.empty = false;
            return;
        }
        e.min.x = std::min(e.min.x, p.x);
        e.min.y = std::min(e.min.y, p.y);
        e.max.x = std::max(e.max.x, p.x);
        e.max.y = std::max(e.max.y, p.y);
    }
    void addCircle(Vec2 c, double r)
    {
        add({c.x - r, c.y - r});
        add({c.x + r, c.y + r});
    }
    void operator()(const Line& g) { add(g.a), add(g.b); }
    void operator()(const Polyline& g)
    {
        std::for_each(g.points.begin(), g.points.end(), [&](Vec2 p) { add(p); });
        for (std::size_t i = 0; i < g.bulges.size() && i < g.points.size(); ++i)
            if (g.bulges[i] != 0 && (i + 1 < g.points.size() || g.closed))
                addArc(bulgeArc(g.points[i], g.points[(i + 1) % g.points.size()], g.bulges[i]));
    }
    // The points of an arc furthest along the axes, where the arc reaches them.
    void addArc(const BulgeArc& a)
    {
        constexpr double kQuarter = 3.141592653589793 / 2;
        if (!std::isfinite(a.startAngle) || !std::isfinite(a.endAngle))
            return; // a bulge not finite: its ends bound it as far as anything does
        double end = a.endAngle;
        while (end < a.startAngle)
            end += 4 * kQuarter;
        for (int k = int(std::ceil(a.startAngle / kQuarter)); k * kQuarter <= end; ++k)
            add({a.center.x + a.radius * std::cos(k * kQuarter), a.center.y + a.radius * std::sin(k * kQuarter)});
    }
    // Control points bound a Bézier curve: a safe, slightly generous extent.
    void operator()(const BezierSpline& g) { std::for_each(g.points.begin(), g.points.end(), [&](Vec2 p) { add(p); }); }
    void operator()(const Circle& g) { addCircle(g.center, g.radius); }
    void operator()(const Arc& g) { addCircle(g.center, g.radius); }
    void operator()(const Ellipse& g) { addCircle(g.center, std::hypot(g.majorAxis.x, g.majorAxis.y)); }
    void operator()(const Text& g)
    {
        add(g.insertion);
        const double a = g.rotationDeg * 3.141592653589793 / 180.0;
        const double w = g.height * g.widthFactor * 0.7 * double(g.utf8.size());
        add({g.insertion.x + w * std::cos(a) - g.height * std::sin(a), g.insertion.y + w * std::sin(a) + g.height * std::cos(a)});
    }
    void operator()(const Hatch& g)
    {
        for (const auto& loop : g.loops) {
            add(loop.start);
            for (const auto& s : loop.segments) {
                add(s.end);
                if (s.kind == PathSegment::Kind::Cubic)
                    add(s.c1), add(s.c2);
            }
        }
    }
};

}  // namespace

BulgeArc bulgeArc(Vec2 a, Vec2 b, double bulge)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    // The centre lies off the chord's middle, to its left for a counter-clockwise arc, by half the chord times
    // (1 - bulge^2) / (2 bulge).
    const double k = (1 - bulge * bulge) / (4 * bulge);
    BulgeArc arc;
    arc.center = {(a.x + b.x) / 2 - k * dy, (a.y + b.y) / 2 + k * dx};
    arc.radius = std::hypot(a.x - arc.center.x, a.y - arc.center.y);
    const double from = std::atan2(a.y - arc.center.y, a.x - arc.center.x);
    const double to = std::atan2(b.y - arc.center.y, b.x - arc.center.x);
    arc.startAngle = bulge > 0 ? from : to;
    arc.endAngle = bulge > 0 ? to : from;
    return arc;
}

Extents extentsOf(const Geometry& g)
{
    Bounds b;
    std::visit(b, g);
    return b.e;
}

Extents Drawing::extents() const
{
    Bounds b;
    for (const auto& entity : entities)
        std::visit(b, entity.geometry);
    for (const auto& image : images) {
        if (image.file >= imageFiles.size())
            continue;
        const ImageFile& f = imageFiles[image.file];
        const Vec2 w{image.u.x * f.width, image.u.y * f.width}, h{image.v.x * f.height, image.v.y * f.height};
        b.add(image.origin);
        b.add({image.origin.x + w.x, image.origin.y + w.y});
        b.add({image.origin.x + h.x, image.origin.y + h.y});
        b.add({image.origin.x + w.x + h.x, image.origin.y + w.y + h.y});
    }
    if (b.e.empty) {
        b.add({0, 0});
        b.add({widthMm, heightMm});
    }
    return b.e;
}

}  // namespace unplot::engine
