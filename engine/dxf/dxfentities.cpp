// ENTITIES section: one DXF entity per drawing entity, none for degenerate geometry.
#include "dxfcontext.h"
#include "fillloops.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <variant>

namespace unplot::engine::dxf {
namespace {

// Points closer than this (mm) are one point: below the precision numbers are written with.
constexpr double kEpsilon = 1e-8;
// Readers refuse a flatter ellipse; at any size a drawing has, one this flat draws the same line.
constexpr double kMinEllipseRatio = 1e-6;

bool finite(Vec2 p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}
bool finite(double v)
{
    return std::isfinite(v);
}
bool same(Vec2 a, Vec2 b)
{
    return std::fabs(a.x - b.x) <= kEpsilon && std::fabs(a.y - b.y) <= kEpsilon;
}

template <typename Points> bool allFinite(const Points& points)
{
    for (const Vec2& p : points)
        if (!finite(p))
            return false;
    return true;
}

// Consecutive duplicates dropped; for a closed ring also a last point equal to the first. A dropped point's bulge
// goes with it (its segment has no length); `bulges` comes back empty or one per point kept.
std::vector<Vec2> distinctPoints(const Polyline& g, std::vector<double>& bulges)
{
    const bool withBulges = g.bulges.size() == g.points.size();
    std::vector<Vec2> result;
    result.reserve(g.points.size());
    bulges.clear();
    for (std::size_t i = 0; i < g.points.size(); ++i) {
        const double bulge = withBulges && std::isfinite(g.bulges[i]) ? g.bulges[i] : 0;
        if (result.empty() || !same(result.back(), g.points[i])) {
            result.push_back(g.points[i]);
            bulges.push_back(bulge);
        } else {
            bulges.back() = bulge;
        }
    }
    if (g.closed)
        while (result.size() > 1 && same(result.back(), result.front())) {
            result.pop_back();
            bulges.pop_back();
        }
    if (std::all_of(bulges.begin(), bulges.end(), [](double b) { return b == 0; }))
        bulges.clear();
    return result;
}

// Clamped cubic knots for n Bézier segments: 0,0,0,0, 1,1,1, ..., n-1,n-1,n-1, n,n,n,n.
void writeBezierKnots(TagSink& out, int code, std::size_t segments)
{
    for (int i = 0; i < 4; ++i)
        out.tag(code, 0.0);
    for (std::size_t k = 1; k < segments; ++k)
        for (int i = 0; i < 3; ++i)
            out.tag(code, double(k));
    for (int i = 0; i < 4; ++i)
        out.tag(code, double(segments));
}

class EntityWriter {
public:
    explicit EntityWriter(DxfContext& c) : c_(c), out_(c.out) {}

    void write(const Entity& entity, std::uint64_t h)
    {
        entity_ = &entity;
        handle_ = h;
        std::visit(*this, entity.geometry);
    }

    void operator()(const Line& g)
    {
        if (!finite(g.a) || !finite(g.b) || same(g.a, g.b))
            return;
        begin("LINE", true, "AcDbLine");
        out_.point3(10, g.a.x, g.a.y, 0);
        out_.point3(11, g.b.x, g.b.y, 0);
    }

    void operator()(const Polyline& g)
    {
        if (!allFinite(g.points))
            return;
        std::vector<double> bulges;
        const std::vector<Vec2> points = distinctPoints(g, bulges);
        if (points.size() < 2)
            return;
        begin("LWPOLYLINE", true, "AcDbPolyline");
        out_.tag(90, int(points.size()));
        // A linetype runs on across the vertices (128), as a PDF dash pattern does along a subpath.
        const bool closed = g.closed && (points.size() > 2 || !bulges.empty());
        out_.tag(70, (closed ? 1 : 0) | (c_.linetypeName(entity_->style.linetype) ? 128 : 0));
        for (std::size_t i = 0; i < points.size(); ++i) {
            out_.point(10, points[i].x, points[i].y);
            if (!bulges.empty() && bulges[i] != 0 && (closed || i + 1 < points.size()))
                out_.tag(42, bulges[i]);
        }
    }

    void operator()(const BezierSpline& g)
    {
        const std::size_t segments = g.points.size() >= 4 ? (g.points.size() - 1) / 3 : 0;
        if (segments == 0 || !allFinite(g.points))
            return;
        const std::size_t count = 3 * segments + 1;
        bool degenerate = true;
        for (std::size_t i = 1; i < count && degenerate; ++i)
            degenerate = same(g.points[i], g.points[0]);
        if (degenerate)
            return;
        begin("SPLINE", true, "AcDbSpline");
        out_.point3(210, 0, 0, 1);
        // Planar only: the knots stay clamped for a closed chain too, so it is not flagged closed or periodic.
        out_.tag(70, 8);
        out_.tag(71, 3);
        out_.tag(72, int(count + 4));
        out_.tag(73, int(count));
        out_.tag(74, 0);
        out_.tag(42, 1e-9);
        out_.tag(43, 1e-9);
        writeBezierKnots(out_, 40, segments);
        for (std::size_t i = 0; i < count; ++i)
            out_.point3(10, g.points[i].x, g.points[i].y, 0);
    }

    void operator()(const Circle& g)
    {
        if (!finite(g.center) || !finite(g.radius) || g.radius <= kEpsilon)
            return;
        begin("CIRCLE", true, "AcDbCircle");
        out_.point3(10, g.center.x, g.center.y, 0);
        out_.tag(40, g.radius);
    }

    void operator()(const Arc& g)
    {
        if (!finite(g.center) || !finite(g.radius) || g.radius <= kEpsilon || !finite(g.startAngleDeg) ||
            !finite(g.endAngleDeg))
            return;
        if (std::fabs(g.endAngleDeg - g.startAngleDeg) >= 360.0 - 1e-9) { // a full turn
            (*this)(Circle{g.center, g.radius});
            return;
        }
        const double start = normalizedDegrees(g.startAngleDeg);
        const double end = normalizedDegrees(g.endAngleDeg);
        const double sweep = end >= start ? end - start : end + 360.0 - start;
        if (sweep * g.radius * std::numbers::pi / 180 <= kEpsilon)
            return;
        begin("ARC", true, "AcDbCircle");
        out_.point3(10, g.center.x, g.center.y, 0);
        out_.tag(40, g.radius);
        out_.tag(100, "AcDbArc");
        out_.tag(50, start);
        out_.tag(51, end);
    }

    void operator()(const Ellipse& g)
    {
        constexpr double kTurn = 2 * std::numbers::pi;
        if (!finite(g.center) || !finite(g.majorAxis) || !finite(g.ratio) || !finite(g.startParam) ||
            !finite(g.endParam))
            return;
        Vec2 major = g.majorAxis;
        double ratio = std::fabs(g.ratio);
        double start = g.startParam;
        double end = g.endParam;
        const double majorLength = std::hypot(major.x, major.y);
        if (majorLength <= kEpsilon || ratio * majorLength <= kEpsilon)
            return;
        if (g.ratio < 0) { // a mirrored parametrisation: run the same points the other way round
            start = -g.endParam;
            end = -g.startParam;
        }
        if (ratio > 1) { // DXF wants the major axis as the longer one: swap, and turn the parameters by 90 degrees
            major = {-major.y * ratio, major.x * ratio};
            ratio = 1 / ratio;
            start -= std::numbers::pi / 2;
            end -= std::numbers::pi / 2;
        }
        if (!finite(major)) // the swap overflowed
            return;
        ratio = std::max(ratio, kMinEllipseRatio);
        // Counter-clockwise from start to end; the start in [0, 2pi), a full turn exactly 0 to 2pi.
        if (std::fabs(end - start) >= kTurn - 1e-9) {
            start = 0;
            end = kTurn;
        } else {
            double sweep = std::fmod(end - start, kTurn);
            if (sweep < 0)
                sweep += kTurn;
            if (sweep * std::min(ratio, 1.0) * majorLength <= kEpsilon)
                return;
            start = std::fmod(start, kTurn);
            if (start < 0)
                start += kTurn;
            end = start + sweep;
            if (end > kTurn)
                end -= kTurn;
        }
        begin("ELLIPSE", true, "AcDbEllipse");
        out_.point3(10, g.center.x, g.center.y, 0);
        out_.point3(11, major.x, major.y, 0);
        out_.point3(210, 0, 0, 1);
        out_.exactTag(40, ratio);
        out_.exactTag(41, start);
        out_.exactTag(42, end);
    }

    void operator()(const Text& g)
    {
        if (g.utf8.empty() || !finite(g.insertion) || !finite(g.height) || g.height <= 0 || !finite(g.rotationDeg) ||
            !finite(g.widthFactor) || !finite(g.obliqueDeg))
            return;
        begin("TEXT", false, "AcDbText");
        out_.point3(10, g.insertion.x, g.insertion.y, 0);
        out_.tag(40, g.height);
        // R14 takes 255 bytes in a string value; later versions allow 2049, but common readers stop at 1024 bytes a
        // line. Longer text (hundreds of characters in one span) is cut to 1000 bytes.
        out_.tag(1, c_.text(g.utf8, c_.version.extendedNames() ? 1000 : 255));
        if (g.rotationDeg != 0)
            out_.tag(50, normalizedDegrees(g.rotationDeg));
        if (g.widthFactor > 0 && g.widthFactor != 1)
            out_.tag(41, g.widthFactor);
        if (g.obliqueDeg != 0 && std::abs(g.obliqueDeg) < 85)
            out_.tag(51, g.obliqueDeg);
        out_.tag(7, c_.textStyleName(g.style));
        out_.tag(100, "AcDbText");
    }

    void operator()(const Hatch& g);

private:
    static double normalizedDegrees(double degrees)
    {
        double d = std::fmod(degrees, 360.0);
        if (d < 0)
            d += 360.0;
        return d >= 360.0 ? 0.0 : d;
    }

    // The tags every entity starts with. Strokes carry a lineweight; fills and text leave it to the layer.
    void begin(const char* type, bool stroke, const char* subclass)
    {
        const Style& s = entity_->style;
        out_.tag(0, type);
        out_.handle(5, handle_);
        out_.handle(330, handle::kModelSpaceRecord);
        out_.tag(100, "AcDbEntity");
        out_.tag(8, c_.layerName(s.layer));
        if (const std::string* linetype = c_.linetypeName(s.linetype))
            out_.tag(6, *linetype);
        out_.tag(62, nearestAci(s.color));
        if (stroke && c_.version.lineweights())
            out_.tag(370, snapLineweight(std::isfinite(s.lineWidthMm) ? s.lineWidthMm : 0));
        // Black and white stay ACI 7 only, which CAD programs draw in the contrast colour of the background.
        const bool blackOrWhite = s.color == Rgb{0, 0, 0} || s.color == Rgb{255, 255, 255};
        if (c_.version.trueColor() && !blackOrWhite)
            out_.tag(420, trueColorValue(s.color));
        out_.tag(100, subclass);
    }

    DxfContext& c_;
    TagSink& out_;
    const Entity* entity_ = nullptr;
    std::uint64_t handle_ = 0;
};

void writePolylineLoop(TagSink& out, const BoundaryLoop& loop)
{
    out.tag(92, 2); // polyline boundary
    out.tag(72, 0); // no bulges
    out.tag(73, 1); // closed
    out.tag(93, int(loop.segments.size() + 1));
    out.point(10, loop.start.x, loop.start.y);
    for (const PathSegment& s : loop.segments)
        out.point(10, s.end.x, s.end.y);
    out.tag(97, 0);
}

void writeEdgeLoop(TagSink& out, const BoundaryLoop& loop, bool r2010)
{
    const bool needsClosing = !same(loop.segments.back().end, loop.start);
    out.tag(92, 0); // edges
    out.tag(93, int(loop.segments.size() + (needsClosing ? 1 : 0)));
    Vec2 current = loop.start;
    for (const PathSegment& s : loop.segments) {
        if (s.kind == PathSegment::Kind::Line) {
            out.tag(72, 1);
            out.point(10, current.x, current.y);
            out.point(11, s.end.x, s.end.y);
        } else {
            out.tag(72, 4);
            out.tag(94, 3);
            out.tag(73, 0);
            out.tag(74, 0);
            out.tag(95, 8);
            out.tag(96, 4);
            writeBezierKnots(out, 40, 1);
            for (Vec2 p : {current, s.c1, s.c2, s.end})
                out.point(10, p.x, p.y);
            if (r2010)
                out.tag(97, 0); // no fit points
        }
        current = s.end;
    }
    if (needsClosing) {
        out.tag(72, 1);
        out.point(10, current.x, current.y);
        out.point(11, loop.start.x, loop.start.y);
    }
    out.tag(97, 0);
}

// Solid fill in the normal (odd parity) style, with the loops boundaryLoops() keeps for the fill rule.
void EntityWriter::operator()(const Hatch& g)
{
    const std::vector<BoundaryLoop> loops = boundaryLoops(g);
    if (loops.empty())
        return;
    begin("HATCH", false, "AcDbHatch");
    out_.point3(10, 0, 0, 0);
    out_.point3(210, 0, 0, 1);
    out_.tag(2, "SOLID");
    out_.tag(70, 1); // solid fill
    out_.tag(71, 0); // not associative
    out_.tag(91, int(loops.size()));
    const bool r2010 = c_.version.release >= Release::R2010;
    for (const BoundaryLoop& loop : loops) {
        if (loop.straight)
            writePolylineLoop(out_, loop);
        else
            writeEdgeLoop(out_, loop, r2010);
    }
    out_.tag(75, 0); // normal style: odd parity
    out_.tag(76, 1); // predefined pattern
    out_.tag(98, 0); // no seed points
}

} // namespace

void writeEntities(DxfContext& c)
{
    c.out.tag(0, "SECTION");
    c.out.tag(2, "ENTITIES");
    writeImages(c); // beneath what is drawn over them
    EntityWriter writer(c);
    std::uint64_t h = c.firstEntityHandle;
    for (const Entity& entity : c.drawing.entities)
        writer.write(entity, h++);
    c.out.tag(0, "ENDSEC");
}

} // namespace unplot::engine::dxf
