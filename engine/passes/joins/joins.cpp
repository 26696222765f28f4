#include "joins.h"

#include "passgeometry.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>

namespace unplot::engine::passes {
namespace {

// Shorter than this (mm) is no length at all.
constexpr double kZero = 1e-6;
// Ends this close (mm) touch.
constexpr double kTouch = 1e-3;
// Geometry is compared for duplicates and overlaps in steps of this (mm).
constexpr double kGrid = 1e-5;

std::int64_t q(double v, double step = kGrid)
{
    return std::llround(v / step);
}

// --- clean-up -------------------------------------------------------------------------------------------------------

// The geometry without what has no length; false when nothing is left.
bool dropZeroLength(Geometry& g)
{
    if (auto* line = std::get_if<Line>(&g))
        return distance(line->a, line->b) > kZero;
    if (auto* poly = std::get_if<Polyline>(&g)) {
        const auto& pts = poly->points;
        bool repeats = pts.size() < 3 || (poly->closed && distance(pts.back(), pts.front()) <= kZero);
        for (std::size_t i = 1; i < pts.size() && !repeats; ++i)
            repeats = distance(pts[i - 1], pts[i]) <= kZero;
        if (!repeats)
            return true;
        const bool withBulges = poly->bulges.size() == poly->points.size();
        Polyline kept{{}, poly->closed, {}};
        for (std::size_t i = 0; i < poly->points.size(); ++i) {
            const double bulge = withBulges ? poly->bulges[i] : 0;
            if (kept.points.empty() || distance(kept.points.back(), poly->points[i]) > kZero) {
                kept.points.push_back(poly->points[i]);
                kept.bulges.push_back(bulge);
            } else {
                kept.bulges.back() = bulge;
            }
        }
        if (kept.closed)
            while (kept.points.size() > 1 && distance(kept.points.back(), kept.points.front()) <= kZero) {
                kept.points.pop_back();
                kept.bulges.pop_back();
            }
        if (std::all_of(kept.bulges.begin(), kept.bulges.end(), [](double b) { return b == 0; }))
            kept.bulges.clear();
        if (kept.points.size() < 2)
            return false;
        if (kept.points.size() == 2 && kept.bulges.empty())
            g = Line{kept.points[0], kept.points[1]};
        else if (kept.points.size() != poly->points.size())
            *poly = std::move(kept);
        return true;
    }
    if (auto* circle = std::get_if<Circle>(&g))
        return circle->radius > kZero;
    if (auto* arc = std::get_if<Arc>(&g))
        return arc->radius > kZero && std::abs(arcPathOf(*arc).sweep) * arc->radius > kZero;
    if (auto* spline = std::get_if<BezierSpline>(&g))
        return std::any_of(spline->points.begin(), spline->points.end(),
                           [&](Vec2 p) { return distance(p, spline->points[0]) > kZero; });
    return true;
}

// A key that two entities share exactly when they look the same and have the same geometry (to kGrid), whatever
// the direction a line or open polyline runs in: two 64-bit hashes of the quantized numbers.
struct KeyWriter {
    std::uint64_t h1 = 0x9e3779b97f4a7c15, h2 = 0xc2b2ae3d27d4eb4f;
    void mix(std::uint64_t v)
    {
        v ^= v >> 31;
        v *= 0xbf58476d1ce4e5b9;
        v ^= v >> 27;
        h1 = (h1 ^ v) * 0x100000001b3;
        h2 = ((h2 << 5) | (h2 >> 59)) + v * 0x94d049bb133111eb;
    }
    void add(double v) { mix(std::uint64_t(q(v))); }
    void add(Vec2 p) { add(p.x), add(p.y); }

    void operator()(const Line& g)
    {
        const bool flip = std::pair{q(g.b.x), q(g.b.y)} < std::pair{q(g.a.x), q(g.a.y)};
        add(flip ? g.b : g.a), add(flip ? g.a : g.b);
    }
    void operator()(const Polyline& g)
    {
        mix(g.closed ? 1 : 2);
        const bool flip = !g.closed && g.bulges.empty() &&
                          std::pair{q(g.points.back().x), q(g.points.back().y)} <
                              std::pair{q(g.points.front().x), q(g.points.front().y)};
        for (std::size_t i = 0; i < g.points.size(); ++i)
            add(g.points[flip ? g.points.size() - 1 - i : i]);
        for (double b : g.bulges)
            add(b);
    }
    void operator()(const BezierSpline& g)
    {
        for (Vec2 p : g.points)
            add(p);
    }
    void operator()(const Circle& g) { add(g.center), add(g.radius); }
    void operator()(const Arc& g) { add(g.center), add(g.radius), add(g.startAngleDeg), add(g.endAngleDeg); }
    void operator()(const Ellipse& g)
    {
        add(g.center), add(g.majorAxis), add(g.ratio), add(g.startParam), add(g.endParam);
    }
    void operator()(const Text& g)
    {
        mix(std::hash<std::string>()(g.utf8)), mix(std::hash<std::string>()(g.style));
        add(g.insertion), add(g.height), add(g.rotationDeg), add(g.widthFactor), add(g.obliqueDeg);
    }
    void operator()(const Hatch& g)
    {
        mix(g.evenOdd ? 3 : 4);
        for (const Loop& loop : g.loops) {
            mix(5);
            add(loop.start);
            for (const PathSegment& s : loop.segments) {
                if (s.kind == PathSegment::Kind::Cubic)
                    add(s.c1), add(s.c2);
                add(s.end);
            }
        }
    }
};

std::pair<std::uint64_t, std::uint64_t> keyOf(const Entity& e)
{
    KeyWriter w;
    w.mix(lookHash(e.style));
    w.mix(e.geometry.index());
    std::visit(w, e.geometry);
    return {w.h1, w.h2};
}

// A straight piece on its infinite line: the direction (angle in [0, pi)) and offset of the line, and where along
// it the piece starts and ends.
struct OnCarrier {
    std::size_t entity;
    std::uint64_t look;
    std::int64_t angle, offset; // quantized
    double from, to;
    bool removable; // a Line (a polyline's edge only covers others)
};

std::optional<OnCarrier> carrierOf(std::size_t entity, std::uint64_t look, Vec2 a, Vec2 b, bool removable)
{
    Vec2 d = b - a;
    const double n = length(d);
    if (n <= kZero)
        return std::nullopt;
    d = (1 / n) * d;
    if (d.y < 0 || (d.y == 0 && d.x < 0))
        d = -1.0 * d;
    const double s0 = dot(a, d), s1 = dot(b, d);
    return OnCarrier{entity,           look,     q(std::atan2(d.y, d.x), 1e-7), q(cross(d, a), 1e-4), std::min(s0, s1),
                     std::max(s0, s1), removable};
}

// Lines lying on a longer line or polyline edge of the same look go; collinear lines that overlap or touch merge.
// Returns how many lines went.
int mergeCollinear(std::vector<Entity>& entities, std::vector<bool>& gone)
{
    int removed = 0;
    std::vector<OnCarrier> pieces;
    for (std::size_t i = 0; i < entities.size(); ++i) {
        if (gone[i] || entities[i].style.dash != 0)
            continue;
        const std::uint64_t look = lookHash(entities[i].style);
        if (const auto* line = std::get_if<Line>(&entities[i].geometry)) {
            if (auto c = carrierOf(i, look, line->a, line->b, true))
                pieces.push_back(*c);
        } else if (const auto* poly = std::get_if<Polyline>(&entities[i].geometry)) {
            const std::size_t n = poly->points.size();
            for (std::size_t k = 0; k + 1 < n || (poly->closed && k < n); ++k)
                if (poly->bulges.empty() || poly->bulges[k] == 0)
                    if (auto c = carrierOf(i, look, poly->points[k], poly->points[(k + 1) % n], false))
                        pieces.push_back(*c);
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const OnCarrier& a, const OnCarrier& b) {
        return std::tie(a.look, a.angle, a.offset, a.from) < std::tie(b.look, b.angle, b.offset, b.from);
    });
    for (std::size_t i = 0; i < pieces.size();) {
        std::size_t j = i + 1;
        while (j < pieces.size() && pieces[j].look == pieces[i].look && pieces[j].angle == pieces[i].angle &&
               pieces[j].offset == pieces[i].offset)
            ++j;
        // One carrier: walk the pieces in order of their starts, keeping the one that reaches furthest.
        std::size_t reach = i; // the piece reaching furthest so far
        for (std::size_t k = i + 1; k < j; ++k) {
            OnCarrier& a = pieces[reach];
            OnCarrier& b = pieces[k];
            if (b.from > a.to + kZero) {
                reach = k;
                continue;
            }
            if (b.to <= a.to + kZero && b.removable) { // b lies on a
                gone[b.entity] = true;
                ++removed;
            } else if (a.removable && b.from <= a.from + kZero && a.to <= b.to + kZero) { // a lies on b
                gone[a.entity] = true;
                ++removed;
                reach = k;
            } else if (a.removable && b.removable) { // overlapping or touching lines: one line over both
                auto& la = std::get<Line>(entities[a.entity].geometry);
                const auto& lb = std::get<Line>(entities[b.entity].geometry);
                Vec2 ends[] = {la.a, la.b, lb.a, lb.b};
                const Vec2 d = la.b - la.a;
                auto along = [&](Vec2 p) { return dot(p - la.a, d); };
                const auto [lo, hi] = std::minmax_element(std::begin(ends), std::end(ends),
                                                          [&](Vec2 x, Vec2 y) { return along(x) < along(y); });
                la = Line{*lo, *hi};
                a.to = std::max(a.to, b.to);
                gone[b.entity] = true;
                ++removed;
            } else if (b.to > a.to) {
                reach = k;
            }
        }
        i = j;
    }
    return removed;
}

// --- joining --------------------------------------------------------------------------------------------------------

// A stroke that may join others at its ends: its points and the bulges of its segments.
struct Path {
    std::size_t entity;
    std::vector<Vec2> points;
    std::vector<double> bulges; // one per segment
    Vec2 end(int side) const { return side == 0 ? points.front() : points.back(); }
    // The direction the path sets out in from its end.
    Vec2 inward(int side) const
    {
        const std::size_t n = points.size();
        const Vec2 at = end(side), next = side == 0 ? points[1] : points[n - 2];
        const double bulge = side == 0 ? bulges.front() : -bulges.back();
        // An arc leaves its end turned by twice the bulge's angle from its chord.
        const double turn = -2 * std::atan(bulge);
        const Vec2 chord = next - at;
        return {chord.x * std::cos(turn) - chord.y * std::sin(turn),
                chord.x * std::sin(turn) + chord.y * std::cos(turn)};
    }
};

std::optional<Path> pathOf(std::size_t i, const Geometry& g)
{
    if (const auto* line = std::get_if<Line>(&g))
        return Path{i, {line->a, line->b}, {0}};
    if (const auto* arc = std::get_if<Arc>(&g)) {
        const ArcPath a = arcPathOf(*arc);
        if (std::abs(a.sweep) >= kTurn - 1e-9)
            return std::nullopt;
        return Path{i, {a.from(), a.to()}, {bulgeOf(a.sweep)}};
    }
    if (const auto* poly = std::get_if<Polyline>(&g)) {
        if (poly->closed || poly->points.size() < 2)
            return std::nullopt;
        Path p{i, poly->points, std::vector<double>(poly->points.size() - 1, 0.0)};
        if (poly->bulges.size() == poly->points.size())
            std::copy(poly->bulges.begin(), poly->bulges.end() - 1, p.bulges.begin());
        return p;
    }
    return std::nullopt;
}

// Polylines longer than this are not made by joining: some readers refuse them.
constexpr std::size_t kMaxJoinedPoints = 10000;

struct Joiner {
    std::vector<Entity>& entities;
    std::vector<Path> paths;
    std::vector<std::int64_t> partner; // per end (2 per path): the end it joins, or -1

    // Ends are found by the 0.1 mm cell they lie in (and the neighbouring cell, for an end near its edge).
    static constexpr double kCell = 0.1;
    static std::int64_t cell(double v)
    {
        const double c = std::floor(v / kCell);
        return c == c ? std::int64_t(std::clamp(c, -1e18, 1e18)) : 0; // an end far off or not a number meets none
    }
    static std::pair<std::int64_t, std::int64_t> cell(Vec2 p) { return {cell(p.x), cell(p.y)}; }
    static std::pair<int, int> reach(double v)
    {
        const double f = v / kCell - std::floor(v / kCell);
        return {f * kCell < kTouch ? -1 : 0, (1 - f) * kCell < kTouch ? 1 : 0};
    }

    void pairEnds()
    {
        // Every end by its cell, sorted, so that the ends near a point are found by binary search.
        std::vector<std::pair<std::pair<std::int64_t, std::int64_t>, std::size_t>> grid;
        grid.reserve(2 * paths.size());
        for (std::size_t e = 0; e < 2 * paths.size(); ++e)
            grid.push_back({cell(paths[e / 2].end(int(e % 2))), e});
        std::sort(grid.begin(), grid.end());
        partner.assign(2 * paths.size(), -1);
        std::vector<std::size_t> near;
        for (std::size_t e = 0; e < 2 * paths.size(); ++e) {
            if (partner[e] >= 0)
                continue;
            const Vec2 at = paths[e / 2].end(int(e % 2));
            const Style& look = entities[paths[e / 2].entity].style;
            near.clear();
            const auto [cx, cy] = cell(at);
            const auto [x0, x1] = reach(at.x);
            const auto [y0, y1] = reach(at.y);
            for (std::int64_t dx = x0; dx <= x1; ++dx)
                for (std::int64_t dy = y0; dy <= y1; ++dy) {
                    const std::pair<std::int64_t, std::int64_t> c{cx + dx, cy + dy};
                    auto it = std::lower_bound(grid.begin(), grid.end(), std::pair{c, std::size_t(0)});
                    for (; it != grid.end() && it->first == c; ++it) {
                        const std::size_t f = it->second;
                        if (distance(paths[f / 2].end(int(f % 2)), at) <= kTouch &&
                            sameLook(entities[paths[f / 2].entity].style, look))
                            near.push_back(f);
                    }
                }
            // Two ends meeting join; where more meet, the two that continue each other straightest, if nearly
            // straight.
            if (near.size() == 2) {
                if (near[0] / 2 != near[1] / 2 || paths[near[0] / 2].points.size() > 2)
                    link(near[0], near[1]);
                continue;
            }
            double best = 0.1; // radians off straight
            std::pair<std::size_t, std::size_t> pick{0, 0};
            for (std::size_t x = 0; x < near.size(); ++x)
                for (std::size_t y = x + 1; y < near.size(); ++y) {
                    if (partner[near[x]] >= 0 || partner[near[y]] >= 0 || near[x] / 2 == near[y] / 2)
                        continue;
                    const Vec2 u = paths[near[x] / 2].inward(int(near[x] % 2)),
                               v = paths[near[y] / 2].inward(int(near[y] % 2));
                    const double off = std::numbers::pi - std::abs(std::atan2(cross(u, v), dot(u, v)));
                    if (off < best)
                        best = off, pick = {near[x], near[y]};
                }
            if (pick.first != pick.second)
                link(pick.first, pick.second);
        }
    }

    void link(std::size_t a, std::size_t b)
    {
        if (partner[a] >= 0 || partner[b] >= 0 || a == b)
            return;
        partner[a] = std::int64_t(b);
        partner[b] = std::int64_t(a);
    }

    // Walks the chains, replaces each by one entity in the place of its first member. Returns how many entities
    // went into others.
    int join(std::vector<bool>& gone)
    {
        std::vector<bool> used(paths.size(), false);
        int joined = 0;
        auto walk = [&](std::size_t startPath, int startSide) {
            // Follow from the end opposite startSide.
            std::vector<std::pair<std::size_t, bool>> chain; // path, reversed
            std::size_t p = startPath;
            bool reversed = startSide == 1;
            std::size_t points = 0;
            while (!used[p] && points + paths[p].points.size() <= kMaxJoinedPoints) {
                used[p] = true;
                points += paths[p].points.size();
                chain.push_back({p, reversed});
                const std::size_t exitEnd = 2 * p + (reversed ? 0 : 1);
                if (partner[exitEnd] < 0)
                    break;
                const auto next = std::size_t(partner[exitEnd]);
                p = next / 2;
                reversed = next % 2 == 1;
            }
            const auto [lastPath, lastRev] = chain.back();
            const std::size_t lastExit = 2 * lastPath + (lastRev ? 0 : 1);
            const bool closed = partner[lastExit] >= 0 && std::size_t(partner[lastExit]) / 2 == chain.front().first;
            if (chain.size() < 2 && !closed)
                return;
            std::vector<Vec2> pts;
            std::vector<double> bulges;
            for (auto [path, rev] : chain) {
                const Path& c = paths[path];
                const std::size_t n = c.points.size();
                for (std::size_t k = 0; k < n; ++k) {
                    if (k == 0 && !pts.empty())
                        continue;
                    pts.push_back(c.points[rev ? n - 1 - k : k]);
                }
                for (std::size_t k = 0; k + 1 < n; ++k)
                    bulges.push_back(rev ? -c.bulges[n - 2 - k] : c.bulges[k]);
            }
            if (closed)
                pts.pop_back();
            Entity& first = entities[paths[chain.front().first].entity];
            first.geometry = pathGeometry(std::move(pts), std::move(bulges), closed);
            for (std::size_t k = 1; k < chain.size(); ++k)
                gone[paths[chain[k].first].entity] = true;
            joined += int(chain.size()) - 1;
        };
        // Open chains from their free ends first, then what is left: closed rings.
        for (std::size_t p = 0; p < paths.size(); ++p)
            for (int side = 0; side < 2; ++side)
                if (!used[p] && partner[2 * p + std::size_t(side)] < 0)
                    walk(p, side);
        for (std::size_t p = 0; p < paths.size(); ++p)
            if (!used[p])
                walk(p, 0);
        return joined;
    }
};

void keep(std::vector<Entity>& entities, const std::vector<bool>& gone)
{
    std::size_t to = 0;
    for (std::size_t i = 0; i < entities.size(); ++i)
        if (!gone[i]) {
            if (to != i)
                entities[to] = std::move(entities[i]);
            ++to;
        }
    entities.resize(to);
}

} // namespace

void cleanUp(Drawing& d)
{
    std::vector<bool> gone(d.entities.size(), false);
    int zero = 0, duplicates = 0;
    // Duplicates by sorting their keys: of entities with one key, the first stays.
    std::vector<std::pair<std::pair<std::uint64_t, std::uint64_t>, std::size_t>> keys;
    keys.reserve(d.entities.size());
    for (std::size_t i = 0; i < d.entities.size(); ++i) {
        if (dropZeroLength(d.entities[i].geometry))
            keys.push_back({keyOf(d.entities[i]), i});
        else
            gone[i] = true, ++zero;
    }
    std::sort(keys.begin(), keys.end());
    for (std::size_t k = 1; k < keys.size(); ++k)
        if (keys[k].first == keys[k - 1].first)
            gone[keys[k].second] = true, ++duplicates;
    const int overlaps = mergeCollinear(d.entities, gone);
    keep(d.entities, gone);
    d.notes.push_back("cleanup: " + std::to_string(zero) + " of no length, " + std::to_string(duplicates) +
                      " duplicates, " + std::to_string(overlaps) + " overlapping lines removed");
}

void joinPaths(Drawing& d)
{
    Joiner j{d.entities, {}, {}};
    for (std::size_t i = 0; i < d.entities.size(); ++i)
        if (d.entities[i].style.dash == 0) // a dash pattern starts afresh with each PDF subpath
            if (auto p = pathOf(i, d.entities[i].geometry))
                j.paths.push_back(std::move(*p));
    j.pairEnds();
    std::vector<bool> gone(d.entities.size(), false);
    const int joined = j.join(gone);
    keep(d.entities, gone);
    d.notes.push_back("join: " + std::to_string(joined) + " paths joined to others");
}

} // namespace unplot::engine::passes
