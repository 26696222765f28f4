#include "pathbuilder.h"

#include "shapefit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace unplot::engine {
namespace {

bool near(Vec2 a, Vec2 b)
{
    return std::abs(a.x - b.x) <= PathBuilder::kDegenerateMm && std::abs(a.y - b.y) <= PathBuilder::kDegenerateMm;
}

bool isFinite(Vec2 p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

bool isDegenerate(Vec2 from, const PathSegment& s)
{
    if (!near(from, s.end))
        return false;
    return s.kind == PathSegment::Kind::Line || (near(from, s.c1) && near(from, s.c2));
}

void emitRun(Vec2 from, const PathSegment* first, const PathSegment* last, const Style& style, bool closed,
             std::vector<Entity>& out)
{
    if (first->kind == PathSegment::Kind::Line) {
        if (last - first == 1 && !closed) {
            out.push_back({style, Line{from, first->end}});
            return;
        }
        Polyline poly;
        poly.points.reserve(std::size_t(last - first) + 1);
        poly.points.push_back(from);
        for (auto s = first; s != last; ++s)
            poly.points.push_back(s->end);
        if (closed) {
            poly.points.pop_back();        // the closing segment is implied by the flag
            if (poly.points.size() == 2) { // there and back along one line
                out.push_back({style, Line{poly.points[0], poly.points[1]}});
                return;
            }
        }
        poly.closed = closed;
        out.push_back({style, std::move(poly)});
        return;
    }
    if (!closed) {
        if (auto arc = fitArc(from, first, last)) {
            out.push_back({style, *arc});
            return;
        }
    }
    BezierSpline spline;
    spline.points.reserve(3 * std::size_t(last - first) + 1);
    spline.points.push_back(from);
    for (auto s = first; s != last; ++s) {
        spline.points.push_back(s->c1);
        spline.points.push_back(s->c2);
        spline.points.push_back(s->end);
    }
    spline.closed = closed;
    out.push_back({style, std::move(spline)});
}

// A filled disc, its outline four Bézier quarter circles.
Hatch disc(Vec2 c, double r)
{
    const double k = r * 4.0 / 3.0 * (std::numbers::sqrt2 - 1);
    Loop loop{{c.x + r, c.y}, {}};
    loop.segments.push_back({PathSegment::Kind::Cubic, {c.x + r, c.y + k}, {c.x + k, c.y + r}, {c.x, c.y + r}});
    loop.segments.push_back({PathSegment::Kind::Cubic, {c.x - k, c.y + r}, {c.x - r, c.y + k}, {c.x - r, c.y}});
    loop.segments.push_back({PathSegment::Kind::Cubic, {c.x - r, c.y - k}, {c.x - k, c.y - r}, {c.x, c.y - r}});
    loop.segments.push_back({PathSegment::Kind::Cubic, {c.x + k, c.y - r}, {c.x + r, c.y - k}, {c.x + r, c.y}});
    Hatch hatch;
    hatch.loops.push_back(std::move(loop));
    return hatch;
}

} // namespace

void PathBuilder::clear()
{
    used_ = 0;
    finite_ = true;
}

PathBuilder::SubPath& PathBuilder::current()
{
    if (used_ == 0)
        moveTo({});
    return subPaths_[used_ - 1];
}

Vec2 PathBuilder::currentPoint() const
{
    const SubPath& s = subPaths_[used_ - 1];
    return s.segments.empty() ? s.start : s.segments.back().end;
}

void PathBuilder::moveTo(Vec2 p)
{
    finite_ = finite_ && isFinite(p);
    if (used_ == subPaths_.size())
        subPaths_.emplace_back();
    SubPath& s = subPaths_[used_++];
    s.start = p;
    s.segments.clear();
    s.closed = false;
    s.drawnOnTheSpot = false;
}

void PathBuilder::lineTo(Vec2 p)
{
    finite_ = finite_ && isFinite(p);
    SubPath& s = current();
    if (s.closed) { // drawing on after a closepath starts a new subpath at the same point
        moveTo(s.start);
        lineTo(p);
        return;
    }
    if (!isDegenerate(currentPoint(), {PathSegment::Kind::Line, {}, {}, p}))
        s.segments.push_back({PathSegment::Kind::Line, {}, {}, p});
    else
        s.drawnOnTheSpot = true;
}

void PathBuilder::curveTo(Vec2 c1, Vec2 c2, Vec2 end)
{
    finite_ = finite_ && isFinite(c1) && isFinite(c2) && isFinite(end);
    SubPath& s = current();
    if (s.closed) {
        moveTo(s.start);
        curveTo(c1, c2, end);
        return;
    }
    const PathSegment seg{PathSegment::Kind::Cubic, c1, c2, end};
    if (!isDegenerate(currentPoint(), seg))
        s.segments.push_back(seg);
    else
        s.drawnOnTheSpot = true;
}

void PathBuilder::closePath()
{
    if (used_ == 0)
        return;
    SubPath& s = subPaths_[used_ - 1];
    s.closed = true;
    s.drawnOnTheSpot = s.drawnOnTheSpot || s.segments.empty();
}

void PathBuilder::emitSubPath(const SubPath& path, const Style& style, std::vector<Entity>& out) const
{
    if (path.segments.empty())
        return;
    const Vec2 end = path.segments.back().end;
    const bool returns = near(end, path.start);
    bool allLines = true, allCubics = true;
    for (const auto& s : path.segments) {
        allLines = allLines && s.kind == PathSegment::Kind::Line;
        allCubics = allCubics && s.kind == PathSegment::Kind::Cubic;
    }
    if (allCubics && returns && path.segments.size() >= 2) {
        if (auto circle = fitCircle(path.start, path.segments)) {
            out.push_back({style, *circle});
            return;
        }
    }
    if (allLines || allCubics) {
        if (allLines && path.closed && !returns) {
            // The closing segment is implied: emit as a closed polyline, its closing point included for emitRun.
            std::vector<PathSegment> segs = path.segments;
            segs.push_back({PathSegment::Kind::Line, {}, {}, path.start});
            emitRun(path.start, segs.data(), segs.data() + segs.size(), style, true, out);
        } else if (allLines) {
            emitRun(path.start, path.segments.data(), path.segments.data() + path.segments.size(), style, path.closed,
                    out);
        } else {
            const bool closeWithLine = path.closed && !returns;
            emitRun(path.start, path.segments.data(), path.segments.data() + path.segments.size(), style, returns, out);
            if (closeWithLine)
                out.push_back({style, Line{end, path.start}});
        }
        return;
    }
    // A mix of lines and curves: one entity per run of the same kind.
    std::vector<PathSegment> segs = path.segments;
    if (path.closed && !returns)
        segs.push_back({PathSegment::Kind::Line, {}, {}, path.start});
    Vec2 from = path.start;
    std::size_t i = 0;
    while (i < segs.size()) {
        std::size_t j = i + 1;
        while (j < segs.size() && segs[j].kind == segs[i].kind)
            ++j;
        emitRun(from, segs.data() + i, segs.data() + j, style, false, out);
        from = segs[j - 1].end;
        i = j;
    }
}

void PathBuilder::emitStroke(const Style& style, double dotDiameter, std::vector<Entity>& out) const
{
    if (!finite_)
        return;
    for (std::size_t i = 0; i < used_; ++i) {
        const SubPath& path = subPaths_[i];
        if (path.segments.empty() && path.drawnOnTheSpot && dotDiameter > 0) {
            Style fill = style;
            fill.lineWidthMm = 0;
            out.push_back({fill, disc(path.start, dotDiameter / 2)});
        } else {
            emitSubPath(path, style, out);
        }
    }
}

std::vector<std::vector<Vec2>> PathBuilder::rings(double tolerance) const
{
    std::vector<std::vector<Vec2>> result;
    if (!finite_)
        return result;
    for (std::size_t i = 0; i < used_; ++i) {
        const SubPath& path = subPaths_[i];
        std::vector<Vec2> ring{path.start};
        for (const PathSegment& s : path.segments) {
            if (s.kind == PathSegment::Kind::Cubic) {
                // Pieces enough that none strays from the curve by more than the tolerance.
                const Vec2 p0 = ring.back();
                const double bend = std::max(std::hypot(p0.x - 2 * s.c1.x + s.c2.x, p0.y - 2 * s.c1.y + s.c2.y),
                                             std::hypot(s.c1.x - 2 * s.c2.x + s.end.x, s.c1.y - 2 * s.c2.y + s.end.y));
                const double pieces = std::ceil(std::sqrt(0.75 * bend / tolerance));
                const int n = pieces > 1 ? int(std::min(pieces, 100.0)) : 1; // also when the bend overflowed
                for (int k = 1; k < n; ++k)
                    ring.push_back(bezierPoint(p0, s.c1, s.c2, s.end, double(k) / n));
            }
            ring.push_back(s.end);
        }
        result.push_back(std::move(ring));
    }
    return result;
}

void PathBuilder::emitFill(const Style& style, bool evenOdd, std::vector<Entity>& out) const
{
    if (!finite_)
        return;
    Hatch hatch;
    hatch.evenOdd = evenOdd;
    for (std::size_t i = 0; i < used_; ++i) {
        const SubPath& path = subPaths_[i];
        Loop loop{path.start, path.segments};
        // The loop closes itself: a last straight segment back to the start is implied.
        if (!loop.segments.empty() && loop.segments.back().kind == PathSegment::Kind::Line &&
            near(loop.segments.back().end, loop.start))
            loop.segments.pop_back();
        const bool encloses = loop.segments.size() >= 2 ||
                              (loop.segments.size() == 1 && loop.segments[0].kind == PathSegment::Kind::Cubic);
        if (encloses)
            hatch.loops.push_back(std::move(loop));
    }
    if (!hatch.loops.empty())
        out.push_back({style, std::move(hatch)});
}

} // namespace unplot::engine
