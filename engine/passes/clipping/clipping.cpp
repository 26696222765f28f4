#include "clipping.h"

#include "passgeometry.h"

#include <clipper.hpp>

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>

namespace unplot::engine::passes {
namespace {

// Points this close to a region's edge (mm) count as inside: a line drawn along the clip's edge stays.
constexpr double kOnEdge = 1e-4;
// Curves of fills that are cut are flattened to within this (mm); Clipper works in units of 1e-5 mm.
constexpr double kFlatness = 0.005;
constexpr double kClipperUnit = 1e5;

struct Edge {
    Vec2 a, b;
    Extents box;
};

Extents boxOf(Vec2 a, Vec2 b)
{
    return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)}, false};
}

Extents grown(Extents e, double by)
{
    e.min = e.min - Vec2{by, by};
    e.max = e.max + Vec2{by, by};
    return e;
}

bool contains(const Extents& outer, const Extents& inner)
{
    return inner.min.x >= outer.min.x && inner.max.x <= outer.max.x && inner.min.y >= outer.min.y &&
           inner.max.y <= outer.max.y;
}

bool insideRings(const ClipRegion& r, Vec2 p)
{
    int winding = 0, crossings = 0;
    for (const auto& ring : r.rings)
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const Vec2 a = ring[i], b = ring[(i + 1) % ring.size()];
            if (a.y <= p.y) {
                if (b.y > p.y && cross(b - a, p - a) > 0)
                    ++winding, ++crossings;
            } else if (b.y <= p.y && cross(b - a, p - a) < 0) {
                --winding, ++crossings;
            }
        }
    return r.evenOdd ? crossings % 2 == 1 : winding != 0;
}

// One clip region with the regions it lies in: where an entity with that Style::clip may show.
struct Region {
    std::vector<const ClipRegion*> chain;
    std::vector<Edge> edges;
    Extents box;            // nothing shows outside it
    bool rectangle = false; // the region is `box` exactly
    bool empty = false;

    bool inside(Vec2 p) const
    {
        if (rectangle)
            return contains(grown(box, kOnEdge), {p, p, false});
        for (const Edge& e : edges)
            if (distanceToSegment(p, e.a, e.b) <= kOnEdge)
                return true;
        return std::all_of(chain.begin(), chain.end(), [&](const ClipRegion* r) { return insideRings(*r, p); });
    }
};

// The ring as an axis-parallel rectangle, if it is one.
std::optional<Extents> rectangleOf(const ClipRegion& r)
{
    if (r.rings.size() != 1)
        return std::nullopt;
    std::vector<Vec2> ring = r.rings[0];
    if (ring.size() == 5 && distance(ring.front(), ring.back()) <= 1e-9)
        ring.pop_back();
    if (ring.size() != 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) {
        const Vec2 a = ring[i], b = ring[(i + 1) % 4];
        if (std::abs(a.x - b.x) > 1e-9 && std::abs(a.y - b.y) > 1e-9)
            return std::nullopt;
    }
    return boxOf(ring[0], ring[2]);
}

Region resolve(const Drawing& d, std::uint32_t clip)
{
    Region region;
    bool allRectangles = true;
    for (std::uint32_t c = clip; c != 0 && c <= d.clips.size() && region.chain.size() < d.clips.size();
         c = d.clips[c - 1].parent) {
        const ClipRegion& r = d.clips[c - 1];
        region.chain.push_back(&r);
        Extents box;
        for (const auto& ring : r.rings)
            for (Vec2 p : ring) {
                box.min = box.empty ? p : Vec2{std::min(box.min.x, p.x), std::min(box.min.y, p.y)};
                box.max = box.empty ? p : Vec2{std::max(box.max.x, p.x), std::max(box.max.y, p.y)};
                box.empty = false;
            }
        if (box.empty) {
            region.empty = true;
            return region;
        }
        region.box = region.chain.size() == 1
                         ? box
                         : Extents{{std::max(region.box.min.x, box.min.x), std::max(region.box.min.y, box.min.y)},
                                   {std::min(region.box.max.x, box.max.x), std::min(region.box.max.y, box.max.y)},
                                   false};
        allRectangles = allRectangles && rectangleOf(r).has_value();
        for (const auto& ring : r.rings)
            for (std::size_t i = 0; i < ring.size(); ++i) {
                const Vec2 a = ring[i], b = ring[(i + 1) % ring.size()];
                if (a != b)
                    region.edges.push_back({a, b, boxOf(a, b)});
            }
    }
    region.empty = region.empty || region.box.min.x > region.box.max.x || region.box.min.y > region.box.max.y;
    region.rectangle = allRectangles && !region.empty;
    if (region.rectangle) {
        const Vec2 lo = region.box.min, hi = region.box.max;
        const std::array<Vec2, 4> corners{lo, Vec2{hi.x, lo.y}, hi, Vec2{lo.x, hi.y}};
        region.edges.clear();
        for (std::size_t i = 0; i < 4; ++i)
            region.edges.push_back({corners[i], corners[(i + 1) % 4], boxOf(corners[i], corners[(i + 1) % 4])});
    }
    return region;
}

// Where a curve crosses the region's edges, as fractions of the curve in (0, 1), in no particular order.
using Fractions = std::vector<double>;

void addFraction(Fractions& out, double f)
{
    if (f > 1e-12 && f < 1 - 1e-12)
        out.push_back(f);
}

void crossSegment(const Region& r, Vec2 a, Vec2 b, Fractions& out)
{
    const Extents box = boxOf(a, b);
    const Vec2 d = b - a;
    for (const Edge& e : r.edges) {
        if (!overlaps(box, e.box))
            continue;
        const Vec2 f = e.b - e.a;
        const double denominator = cross(d, f);
        if (std::abs(denominator) <= 1e-15 * length(d) * length(f))
            continue; // parallel: the pieces' middles decide
        const double t = cross(e.a - a, f) / denominator, s = cross(e.a - a, d) / denominator;
        if (s >= 0 && s <= 1)
            addFraction(out, t);
    }
}

// Parameters s in [0, 1] where the segment p + s d meets the unit circle.
template <typename F> void unitCircleHits(Vec2 p, Vec2 d, F&& hit)
{
    const double a = dot(d, d), b = 2 * dot(p, d), c = dot(p, p) - 1;
    const double disc = b * b - 4 * a * c;
    if (a <= 0 || disc < 0)
        return;
    const double root = std::sqrt(disc);
    for (double s : {(-b - root) / (2 * a), (-b + root) / (2 * a)})
        if (s >= 0 && s <= 1)
            hit(p + s * d);
}

// An arc or a part of an ellipse: centre, the two axes (x along `u`, y along `v`), start and signed sweep.
struct Conic {
    Vec2 center, u, v;
    double start = 0, sweep = kTurn;
    Vec2 at(double f) const
    {
        const double t = start + f * sweep;
        return center + std::cos(t) * u + std::sin(t) * v;
    }
};

void crossConic(const Region& r, const Conic& c, const Extents& box, Fractions& out)
{
    const double det = cross(c.u, c.v);
    if (std::abs(det) <= 1e-18)
        return;
    // Into the frame where the conic is the unit circle.
    auto local = [&](Vec2 p) {
        const Vec2 q = p - c.center;
        return Vec2{cross(q, c.v) / det, cross(c.u, q) / det};
    };
    for (const Edge& e : r.edges) {
        if (!overlaps(box, e.box))
            continue;
        const Vec2 a = local(e.a);
        unitCircleHits(a, local(e.b) - a, [&](Vec2 q) {
            double turned = wrapAngle(std::atan2(q.y, q.x) - c.start);
            if (c.sweep < 0)
                turned = wrapAngle(-turned);
            addFraction(out, turned / std::abs(c.sweep));
        });
    }
}

// Real roots in (0, 1) of a3 t^3 + a2 t^2 + a1 t + a0, by sign changes over a fine grid and bisection.
void cubicRoots(double a3, double a2, double a1, double a0, Fractions& out)
{
    auto f = [&](double t) { return ((a3 * t + a2) * t + a1) * t + a0; };
    constexpr int kSteps = 32;
    double t0 = 0, f0 = f(0);
    for (int i = 1; i <= kSteps; ++i) {
        const double t1 = double(i) / kSteps, f1 = f(t1);
        if ((f0 < 0) != (f1 < 0) && f1 != 0) {
            double lo = t0, hi = t1, flo = f0;
            for (int k = 0; k < 60; ++k) {
                const double mid = (lo + hi) / 2, fm = f(mid);
                if ((fm < 0) == (flo < 0))
                    lo = mid, flo = fm;
                else
                    hi = mid;
            }
            out.push_back((lo + hi) / 2);
        }
        t0 = t1, f0 = f1;
    }
}

void crossCubic(const Region& r, const std::array<Vec2, 4>& p, Fractions& out)
{
    Extents box;
    box.empty = false;
    box.min = box.max = p[0];
    for (Vec2 q : p)
        box.min = {std::min(box.min.x, q.x), std::min(box.min.y, q.y)},
        box.max = {std::max(box.max.x, q.x), std::max(box.max.y, q.y)};
    for (const Edge& e : r.edges) {
        if (!overlaps(box, e.box))
            continue;
        const Vec2 d = e.b - e.a, n{-d.y, d.x};
        // The signed distance from the edge's line along the curve, in power form.
        const double s0 = dot(n, p[0] - e.a), s1 = dot(n, p[1] - e.a), s2 = dot(n, p[2] - e.a), s3 = dot(n, p[3] - e.a);
        Fractions roots;
        cubicRoots(-s0 + 3 * s1 - 3 * s2 + s3, 3 * s0 - 6 * s1 + 3 * s2, -3 * s0 + 3 * s1, s0, roots);
        for (double t : roots) {
            const double s = dot(bezierPoint(p[0], p[1], p[2], p[3], t) - e.a, d) / dot(d, d);
            if (s >= 0 && s <= 1)
                addFraction(out, t);
        }
    }
}

// The parts of [0, 1] inside the region, given the crossings and a way to find a point at a fraction.
template <typename At> std::vector<std::pair<double, double>> keptIntervals(Fractions cuts, const Region& r, At&& at)
{
    cuts.push_back(0);
    cuts.push_back(1);
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::pair<double, double>> kept;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        if (cuts[i + 1] - cuts[i] <= 1e-12 || !r.inside(at((cuts[i] + cuts[i + 1]) / 2)))
            continue;
        if (!kept.empty() && kept.back().second == cuts[i])
            kept.back().second = cuts[i + 1];
        else
            kept.push_back({cuts[i], cuts[i + 1]});
    }
    return kept;
}

// The part of a cubic from t0 to t1.
std::array<Vec2, 4> subCubic(std::array<Vec2, 4> p, double t0, double t1)
{
    auto split = [](const std::array<Vec2, 4>& q, double t, bool left) {
        const Vec2 a = lerp(q[0], q[1], t), b = lerp(q[1], q[2], t), c = lerp(q[2], q[3], t);
        const Vec2 ab = lerp(a, b, t), bc = lerp(b, c, t), m = lerp(ab, bc, t);
        return left ? std::array<Vec2, 4>{q[0], a, ab, m} : std::array<Vec2, 4>{m, bc, c, q[3]};
    };
    if (t1 < 1)
        p = split(p, t1, true);
    if (t0 > 0)
        p = split(p, t0 / t1, false);
    return p;
}

Conic conicOf(const ArcPath& a)
{
    return {a.center, {a.radius, 0}, {0, a.radius}, a.start, a.sweep};
}

// A polyline segment as a straight piece or an arc, for cutting.
struct Segment {
    Vec2 a, b;
    double bulge = 0;
    ArcPath arc() const
    {
        const BulgeArc arc = bulgeArc(a, b, bulge);
        const double sweep = 4 * std::atan(bulge);
        return {arc.center, arc.radius, angleOf(arc.center, a), sweep};
    }
    Vec2 at(double f) const { return bulge == 0 ? lerp(a, b, f) : arc().at(f); }
};

class Cutter {
public:
    Cutter(const Region& r, std::vector<Entity>& out, const Style& style) : r_(r), out_(out), style_(style) {}
    bool unchanged() const { return unchanged_; }

    void operator()(const Line& g)
    {
        Fractions cuts;
        crossSegment(r_, g.a, g.b, cuts);
        const auto kept = keptIntervals(cuts, r_, [&](double f) { return lerp(g.a, g.b, f); });
        unchanged_ = kept.size() == 1 && kept[0] == std::pair{0.0, 1.0};
        for (auto [f0, f1] : kept)
            emit(Line{lerp(g.a, g.b, f0), lerp(g.a, g.b, f1)});
    }

    void operator()(const Polyline& g)
    {
        const std::size_t n = g.points.size();
        const std::size_t count = g.closed ? n : n - 1;
        std::vector<Polyline> pieces;
        bool open = false;  // the last piece reaches the end of the segment before
        bool first = false; // the first piece starts at the polyline's start
        for (std::size_t i = 0; i < count; ++i) {
            const Segment s{g.points[i], g.points[(i + 1) % n], g.bulges.size() == n ? g.bulges[i] : 0.0};
            Fractions cuts;
            if (s.bulge == 0) {
                crossSegment(r_, s.a, s.b, cuts);
            } else {
                const ArcPath arc = s.arc();
                crossConic(r_, conicOf(arc), grown(boxOf(arc.center, arc.center), arc.radius), cuts);
            }
            const auto kept = keptIntervals(cuts, r_, [&](double f) { return s.at(f); });
            for (auto [f0, f1] : kept) {
                if (!(open && f0 == 0)) {
                    if (i == 0 && f0 == 0)
                        first = true;
                    pieces.push_back({{s.at(f0)}, false, {}});
                }
                Polyline& p = pieces.back();
                p.bulges.resize(p.points.size(), 0.0);
                p.bulges.back() = s.bulge == 0 ? 0 : std::tan(4 * std::atan(s.bulge) * (f1 - f0) / 4);
                p.points.push_back(s.at(f1));
                p.bulges.push_back(0);
            }
            open = !kept.empty() && kept.back().second == 1;
        }
        if (g.closed && pieces.size() == 1 && first && open) {
            emit(g); // nothing was cut
            unchanged_ = true;
            return;
        }
        if (g.closed && pieces.size() > 1 && first && open) {
            // The last piece runs on into the first across the closing vertex.
            Polyline& last = pieces.back();
            last.points.pop_back();
            last.bulges.pop_back();
            last.points.insert(last.points.end(), pieces.front().points.begin(), pieces.front().points.end());
            last.bulges.insert(last.bulges.end(), pieces.front().bulges.begin(), pieces.front().bulges.end());
            pieces.erase(pieces.begin());
        }
        for (Polyline& p : pieces) {
            if (std::all_of(p.bulges.begin(), p.bulges.end(), [](double b) { return b == 0; }))
                p.bulges.clear();
            if (p.points.size() == 2 && p.bulges.empty())
                emit(Line{p.points[0], p.points[1]});
            else
                emit(std::move(p));
        }
    }

    void operator()(const BezierSpline& g)
    {
        std::vector<BezierSpline> pieces;
        bool open = false;
        for (std::size_t i = 0; i + 3 < g.points.size(); i += 3) {
            const std::array<Vec2, 4> p{g.points[i], g.points[i + 1], g.points[i + 2], g.points[i + 3]};
            Fractions cuts;
            crossCubic(r_, p, cuts);
            const auto kept = keptIntervals(cuts, r_, [&](double t) { return bezierPoint(p[0], p[1], p[2], p[3], t); });
            for (auto [t0, t1] : kept) {
                const auto q = subCubic(p, t0, t1);
                if (!(open && t0 == 0))
                    pieces.push_back({{q[0]}, false});
                pieces.back().points.insert(pieces.back().points.end(), q.begin() + 1, q.end());
            }
            open = !kept.empty() && kept.back().second == 1;
        }
        if (pieces.size() == 1 && pieces[0].points.size() == g.points.size()) {
            emit(g);
            unchanged_ = true;
            return;
        }
        for (BezierSpline& p : pieces)
            emit(std::move(p));
    }

    void operator()(const Circle& g) { cutConic(conicOf({g.center, g.radius, 0, kTurn}), g, true); }
    void operator()(const Arc& g) { cutConic(conicOf(arcPathOf(g)), g, true); }
    void operator()(const Ellipse& g)
    {
        const Vec2 minor{-g.majorAxis.y * g.ratio, g.majorAxis.x * g.ratio};
        double sweep = g.endParam - g.startParam;
        if (std::abs(sweep) < kTurn - 1e-9)
            sweep = wrapAngle(sweep);
        cutConic({g.center, g.majorAxis, minor, g.startParam, sweep}, g, false);
    }

    void operator()(const Text& g)
    {
        const Extents e = extentsOf(g);
        if (r_.inside(0.5 * (e.min + e.max)))
            emit(g);
    }

    void operator()(const Hatch& g)
    {
        using namespace ClipperLib;
        if (!clipperCanTake(g)) {
            emit(g); // too far off for Clipper's integers: left as drawn
            return;
        }
        auto scaled = [](Vec2 p) {
            return IntPoint(cInt(std::llround(p.x * kClipperUnit)), cInt(std::llround(p.y * kClipperUnit)));
        };
        Paths subject;
        for (const Loop& loop : g.loops) {
            Path path{scaled(loop.start)};
            Vec2 at = loop.start;
            for (const PathSegment& s : loop.segments) {
                if (s.kind == PathSegment::Kind::Cubic) {
                    const double bend = std::max(length(at - 2 * s.c1 + s.c2), length(s.c1 - 2 * s.c2 + s.end));
                    const double pieces = std::ceil(std::sqrt(0.75 * bend / kFlatness));
                    const int n = pieces > 1 ? int(std::min(pieces, 200.0)) : 1;
                    for (int k = 1; k < n; ++k)
                        path.push_back(scaled(bezierPoint(at, s.c1, s.c2, s.end, double(k) / n)));
                }
                path.push_back(scaled(s.end));
                at = s.end;
            }
            subject.push_back(std::move(path));
        }
        PolyFillType subjectFill = g.evenOdd ? pftEvenOdd : pftNonZero;
        for (const ClipRegion* region : r_.chain) {
            Paths clip;
            for (const auto& ring : region->rings) {
                clip.emplace_back();
                for (Vec2 p : ring)
                    clip.back().push_back(scaled(p));
            }
            Clipper c;
            c.AddPaths(subject, ptSubject, true);
            c.AddPaths(clip, ptClip, true);
            Paths result;
            c.Execute(ctIntersection, result, subjectFill, region->evenOdd ? pftEvenOdd : pftNonZero);
            subject = std::move(result);
            subjectFill = pftEvenOdd;
        }
        Hatch cut;
        cut.evenOdd = true;
        for (const Path& path : subject) {
            if (path.size() < 3)
                continue;
            auto mm = [](const IntPoint& p) { return Vec2{double(p.X) / kClipperUnit, double(p.Y) / kClipperUnit}; };
            Loop loop{mm(path[0]), {}};
            for (std::size_t i = 1; i < path.size(); ++i)
                loop.segments.push_back({PathSegment::Kind::Line, {}, {}, mm(path[i])});
            cut.loops.push_back(std::move(loop));
        }
        if (!cut.loops.empty())
            emit(std::move(cut));
    }

private:
    // Whether the fill's points and the regions' fit Clipper's integers (in kClipperUnit, below 2^62).
    bool clipperCanTake(const Hatch& g) const
    {
        const auto fits = [](Vec2 p) { return std::abs(p.x) < 1e12 && std::abs(p.y) < 1e12; };
        for (const Loop& loop : g.loops) {
            if (!fits(loop.start))
                return false;
            for (const PathSegment& s : loop.segments)
                if (!fits(s.end) || (s.kind == PathSegment::Kind::Cubic && (!fits(s.c1) || !fits(s.c2))))
                    return false;
        }
        for (const ClipRegion* region : r_.chain)
            for (const auto& ring : region->rings)
                if (!std::all_of(ring.begin(), ring.end(), fits))
                    return false;
        return true;
    }

    template <typename G> void cutConic(const Conic& c, const G& whole, bool circular)
    {
        Fractions cuts;
        const double reach = std::max(length(c.u), length(c.v));
        crossConic(r_, c, grown(boxOf(c.center, c.center), reach), cuts);
        const auto kept = keptIntervals(cuts, r_, [&](double f) { return c.at(f); });
        const bool full = std::abs(c.sweep) >= kTurn - 1e-9;
        if (kept.size() == 1 && kept[0] == std::pair{0.0, 1.0}) {
            emit(whole);
            unchanged_ = true;
            return;
        }
        std::vector<std::pair<double, double>> parts = kept;
        if (full && parts.size() > 1 && parts.front().first == 0 && parts.back().second == 1) {
            parts.back().second = 1 + parts.front().second; // runs on across the start
            parts.erase(parts.begin());
        }
        for (auto [f0, f1] : parts) {
            if (circular) {
                emit(arcEntity({c.center, length(c.u), c.start + f0 * c.sweep, (f1 - f0) * c.sweep}));
            } else {
                const double ratio = length(c.v) / length(c.u);
                emit(Ellipse{c.center, c.u, ratio, c.start + f0 * c.sweep, c.start + f1 * c.sweep});
            }
        }
    }

    template <typename G> void emit(G&& g)
    {
        out_.push_back({style_, Geometry(std::forward<G>(g))});
        out_.back().style.clip = 0;
    }

    const Region& r_;
    std::vector<Entity>& out_;
    const Style& style_;
    bool unchanged_ = false;
};

} // namespace

void clipToRegions(Drawing& d)
{
    std::unordered_map<std::uint32_t, Region> regions;
    std::vector<Entity> out;
    out.reserve(d.entities.size());
    int cut = 0, dropped = 0;
    for (Entity& e : d.entities) {
        const std::uint32_t clip = e.style.clip;
        e.style.clip = 0;
        if (clip == 0 || clip > d.clips.size()) {
            out.push_back(std::move(e));
            continue;
        }
        auto found = regions.find(clip);
        if (found == regions.end())
            found = regions.emplace(clip, resolve(d, clip)).first;
        const Region& r = found->second;
        const Extents box = extentsOf(e.geometry);
        if (r.empty || box.empty || !overlaps(grown(r.box, kOnEdge), box)) {
            ++dropped;
            continue;
        }
        bool whole = false;
        if (r.rectangle) {
            whole = contains(grown(r.box, kOnEdge), box);
        } else if (std::none_of(r.edges.begin(), r.edges.end(), [&](const Edge& x) { return overlaps(x.box, box); })) {
            // No edge comes near: the entity lies wholly inside or wholly outside, as any point of its box does.
            if (!r.inside(box.min)) {
                ++dropped;
                continue;
            }
            whole = true;
        }
        if (whole) {
            out.push_back(std::move(e));
            continue;
        }
        const std::size_t before = out.size();
        Cutter cutter(r, out, e.style);
        std::visit(cutter, e.geometry);
        if (out.size() == before)
            ++dropped;
        else if (!cutter.unchanged())
            ++cut;
    }
    d.entities = std::move(out);
    d.notes.push_back("clip: " + std::to_string(cut) + " cut, " + std::to_string(dropped) + " dropped outside");
}

} // namespace unplot::engine::passes
