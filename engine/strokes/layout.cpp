#include "layout.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <unordered_map>

namespace unplot::engine::strokes {
namespace {

constexpr double kTouchMm = 0.01;  // strokes of one layer and colour closer than this belong to one glyph
constexpr double kMinGlyphMm = 0.5; // smaller components do not vote for text angles
constexpr double kMinLineMm = 0.25; // rows whose tallest glyph is lower are not text

double segmentDistance(Vec2 a, Vec2 b, Vec2 c, Vec2 d)
{
    auto cross = [](Vec2 o, Vec2 p, Vec2 q) { return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x); };
    const double d1 = cross(a, b, c), d2 = cross(a, b, d), d3 = cross(c, d, a), d4 = cross(c, d, b);
    if (((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0)))
        return 0;
    return std::sqrt(std::min({squaredDistanceToSegment(a, c, d), squaredDistanceToSegment(b, c, d),
                               squaredDistanceToSegment(c, a, b), squaredDistanceToSegment(d, a, b)}));
}

bool touch(const Piece& p, const Piece& q)
{
    // Segments whose boxes lie clearly further apart are not measured.
    constexpr double kApart = kTouchMm + 1e-6;
    for (std::size_t i = 0; i + 1 < p.points.size(); ++i) {
        const Vec2 a = p.points[i], b = p.points[i + 1];
        for (std::size_t j = 0; j + 1 < q.points.size(); ++j) {
            const Vec2 c = q.points[j], d = q.points[j + 1];
            if (std::min(c.x, d.x) - std::max(a.x, b.x) > kApart || std::min(a.x, b.x) - std::max(c.x, d.x) > kApart ||
                std::min(c.y, d.y) - std::max(a.y, b.y) > kApart || std::min(a.y, b.y) - std::max(c.y, d.y) > kApart)
                continue;
            if (segmentDistance(a, b, c, d) <= kTouchMm)
                return true;
        }
    }
    return false;
}

struct UnionFind {
    std::vector<std::size_t> parent;
    explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    std::size_t find(std::size_t i) // halving the path as it goes: a chain of a million strokes is no deep recursion
    {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    }
    void join(std::size_t a, std::size_t b) { parent[find(a)] = find(b); }
};

std::vector<Component> connected(const std::vector<Piece>& pieces, double maxGlyphMm)
{
    UnionFind sets(pieces.size());
    const PieceGrid grid(pieces);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Box near = pieces[i].box;
        near.min = {near.min.x - kTouchMm, near.min.y - kTouchMm};
        near.max = {near.max.x + kTouchMm, near.max.y + kTouchMm};
        // The later pieces of its look that may touch it, in order (the sets' roots depend on it).
        found.clear();
        grid.visit(near, [&](std::size_t j) {
            if (j > i && pieces[i].look == pieces[j].look)
                found.push_back(j);
        });
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        for (std::size_t j : found)
            if (sets.find(i) != sets.find(j) && touch(pieces[i], pieces[j]))
                sets.join(i, j);
    }
    // The components in the order of their roots.
    constexpr std::size_t kNone = ~std::size_t(0);
    std::vector<std::size_t> slot(pieces.size(), kNone);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        slot[sets.find(i)] = 0;
    std::size_t count = 0;
    for (std::size_t& s : slot)
        if (s != kNone)
            s = count++;
    std::vector<Component> all(count);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Component& c = all[slot[sets.find(i)]];
        c.pieces.push_back(i);
        c.box.add(pieces[i].box.min);
        c.box.add(pieces[i].box.max);
    }
    std::vector<Component> out;
    for (auto& c : all)
        if (c.box.width() <= maxGlyphMm && c.box.height() <= maxGlyphMm)
            out.push_back(std::move(c));
    return out;
}

std::vector<Piece> boxesOf(const std::vector<Component>& comps)
{
    std::vector<Piece> boxes;
    for (std::size_t i = 0; i < comps.size(); ++i)
        boxes.push_back({i, {}, comps[i].box, false, 0, {}});
    return boxes;
}

// `c` a bar or a dot within the box of `g`: a part of it (the bar of an A set inside its legs).
bool inside(const Candidate& c, const Candidate& g)
{
    const double slack = 0.05 * std::max(g.width(), g.height());
    return c.s0 >= g.s0 - slack && c.s1 <= g.s1 + slack && c.t0 >= g.t0 - slack && c.t1 <= g.t1 + slack &&
           (c.height() <= 0.2 * g.height() || c.width() <= 0.2 * g.width());
}

// Components stacked over each other along the line are one glyph.
std::vector<Candidate> stacked(std::vector<Candidate> glyphs)
{
    std::vector<Candidate> out;
    for (auto& g : glyphs) {
        if (!out.empty()) {
            Candidate& last = out.back();
            const double overlap = std::min(last.s1, g.s1) - std::max(last.s0, g.s0);
            if (overlap >= 0.5 * std::min(last.width(), g.width()) - 1e-9) {
                last.add(g);
                continue;
            }
        }
        out.push_back(std::move(g));
    }
    return out;
}

// The baseline (the level most glyph bottoms share, the lower one on a tie) and the height above it of the
// tallest glyph standing on it.
void measure(TextLine& line)
{
    double tallest = 0;
    for (const auto& g : line.glyphs)
        tallest = std::max(tallest, g.height());
    int most = -1;
    for (const auto& g : line.glyphs) {
        int k = 0;
        for (const auto& o : line.glyphs)
            k += std::abs(o.t0 - g.t0) <= 0.08 * tallest;
        if (k > most || (k == most && g.t0 < line.baseline))
            most = k, line.baseline = g.t0;
    }
    line.top = 0;
    for (const auto& g : line.glyphs)
        if (std::abs(g.t0 - line.baseline) <= 0.08 * tallest)
            line.top = std::max(line.top, g.t1 - line.baseline);
}

// The height most glyphs on the baseline reach (the greater one on a tie): the line's letters, whatever else the
// row took in.
double commonTop(const TextLine& line)
{
    double best = 0;
    int most = 0;
    for (const auto& g : line.glyphs) {
        const double top = g.t1 - line.baseline;
        if (std::abs(g.t0 - line.baseline) > 0.1 * top || top <= 0)
            continue;
        int k = 0;
        for (const auto& o : line.glyphs)
            k += std::abs(o.t0 - line.baseline) <= 0.1 * top && std::abs(o.t1 - g.t1) <= 0.1 * top;
        if (k > most || (k == most && top > best))
            most = k, best = top;
    }
    return best;
}

// Splits a row where its glyphs stop looking like one line of text: at a glyph far taller than the letters most
// glyphs reach (it becomes a row of its own) or reaching far above or below them, and at a gap too wide for the
// glyphs either side. Each part is split again on its own letters.
void split(TextLine line, std::vector<TextLine>& out, int depth = 0)
{
    measure(line);
    const double cap = commonTop(line);
    if (cap <= 0 || depth > 3) {
        out.push_back(std::move(line));
        return;
    }
    std::vector<TextLine> parts;
    TextLine part{line.angle, line.frame, {}};
    auto close = [&] {
        if (!part.glyphs.empty())
            parts.push_back(std::move(part));
        part = TextLine{line.angle, line.frame, {}};
    };
    double tallest = 0; // in the part
    for (auto& g : line.glyphs) {
        const bool odd = g.height() > 2.2 * cap || g.t1 > line.baseline + 2.2 * cap || g.t0 < line.baseline - cap;
        if (odd) {
            close();
            part.glyphs.push_back(std::move(g));
            close();
            tallest = 0;
            continue;
        }
        if (!part.glyphs.empty() && g.s0 - part.glyphs.back().s1 > 1.6 * std::max(tallest, g.height()))
            close(), tallest = 0;
        tallest = std::max(tallest, g.height());
        part.glyphs.push_back(std::move(g));
    }
    close();
    if (parts.size() == 1) {
        measure(parts[0]);
        out.push_back(std::move(parts[0]));
        return;
    }
    for (auto& p : parts)
        split(std::move(p), out, depth + 1);
}

} // namespace

void Candidate::add(const Candidate& o)
{
    comps.insert(comps.end(), o.comps.begin(), o.comps.end());
    s0 = std::min(s0, o.s0), s1 = std::max(s1, o.s1), t0 = std::min(t0, o.t0), t1 = std::max(t1, o.t1);
}

Layout::Layout(const std::vector<Piece>& pieces, double maxGlyphMm)
    : pieces_(pieces), comps_(connected(pieces, maxGlyphMm)), grid_(boxesOf(comps_))
{}

std::vector<double> Layout::textAngles() const
{
    // Two witnesses: where each glyph-sized component's nearest neighbour of like size lies (whole degrees over a half
    // turn), and which way the straight strokes of such components run (by length, in half degrees over a quarter
    // turn). Text at an angle shows in both, and its stems and bars give the angle exactly.
    std::vector<int> toward(180, 0);
    std::vector<double> straight(180, 0);
    for (const auto& c : comps_) {
        const double size = std::max(c.box.width(), c.box.height());
        if (size < kMinGlyphMm)
            continue;
        const Vec2 centre{(c.box.min.x + c.box.max.x) / 2, (c.box.min.y + c.box.max.y) / 2};
        const Box near{{centre.x - 1.5 * size, centre.y - 1.5 * size}, {centre.x + 1.5 * size, centre.y + 1.5 * size}};
        double best = 1e300;
        std::size_t nearest = 0; // the first of the nearest, by index
        Vec2 dir{};
        grid_.visit(near, [&](std::size_t j) {
            const Box& b = comps_[j].box;
            const double other = std::max(b.width(), b.height());
            const Vec2 oc{(b.min.x + b.max.x) / 2, (b.min.y + b.max.y) / 2};
            const double d = std::hypot(oc.x - centre.x, oc.y - centre.y);
            if (d > 1e-9 && (d < best || (d == best && j < nearest)) && other > 0.6 * size && other < 1.6 * size)
                best = d, nearest = j, dir = {oc.x - centre.x, oc.y - centre.y};
        });
        if (best >= 1e300)
            continue;
        const int deg = int(std::lround(std::atan2(dir.y, dir.x) * 180 / std::numbers::pi));
        ++toward[std::size_t(((deg % 180) + 180) % 180)];
        for (std::size_t p : c.pieces) {
            const auto& line = pieces_[p].points;
            for (std::size_t i = 0; i + 1 < line.size(); ++i) {
                const double dx = line[i + 1].x - line[i].x, dy = line[i + 1].y - line[i].y, length = std::hypot(dx, dy);
                if (length < 0.25 * size)
                    continue; // a piece of a curve
                const double quarter = std::fmod(std::atan2(dy, dx) * 180 / std::numbers::pi + 360, 90.0);
                straight[std::size_t(quarter * 2) % 180] += length / size;
            }
        }
    }
    auto sum = [](const auto& v, int from, int to) { // bins from..to, around the circle
        double total = 0;
        for (int i = from; i <= to; ++i)
            total += v[std::size_t((i % int(v.size()) + int(v.size())) % int(v.size()))];
        return total;
    };
    std::vector<double> angles{0, 90, 270, 180};
    auto add = [&](double deg) {
        deg = std::fmod(deg + 360, 360.0);
        if (std::none_of(angles.begin(), angles.end(), [&](double a) { return std::abs(std::remainder(a - deg, 360.0)) < 1; }))
            angles.push_back(deg);
    };
    // Stems and bars at an angle that neighbours confirm: the four ways along and across them.
    const double strokesOverall = sum(straight, 0, 179);
    const double towardOverall = sum(toward, 0, 179);
    for (int bin = 0; bin < 180; ++bin) {
        const double here = sum(straight, bin - 1, bin + 1);
        const double deg = (bin + 0.5) / 2;
        if (here < 3 || here < strokesOverall / 50 || std::min(deg, 90 - deg) < 3 || here < sum(straight, bin - 2, bin) ||
            here <= sum(straight, bin, bin + 2))
            continue;
        double weighted = 0;
        for (int i = bin - 1; i <= bin + 1; ++i)
            weighted += (i + 0.5) / 2 * straight[std::size_t((i + 180) % 180)];
        const double at = weighted / here;
        const int whole = int(std::lround(at));
        if (sum(toward, whole - 6, whole + 6) + sum(toward, whole + 84, whole + 96) < std::max(3.0, towardOverall / 100))
            continue;
        for (double turn : {0, 90, 180, 270})
            add(at + turn);
    }
    // Neighbours alone, often enough, where some glyph strokes run that way too (any font has stems or bars).
    const int enough = std::max(8, int(towardOverall) / 50);
    auto stems = [&](int deg) {
        const int bin = 2 * (deg % 90);
        return sum(straight, bin - 4, bin + 4) >= 1;
    };
    for (int deg = 0; deg < 180; ++deg) {
        const int v = toward[std::size_t(deg)];
        const int distance = std::min({deg, std::abs(deg - 90), 180 - deg});
        if (v >= enough && distance >= 5 && stems(deg) && v >= toward[std::size_t((deg + 179) % 180)] &&
            v >= toward[std::size_t((deg + 1) % 180)] &&
            std::none_of(angles.begin() + 4, angles.end(), [&](double a) { return std::abs(std::remainder(a - deg, 180.0)) < 5; })) {
            angles.push_back(deg);
            angles.push_back(deg + 180);
        }
    }
    return angles;
}

std::vector<TextLine> Layout::linesAt(double angle, const std::vector<std::size_t>* only) const
{
    const Frame f = Frame::at(angle);
    std::vector<Candidate> cands;
    cands.reserve(only ? only->size() : comps_.size());
    for (std::size_t k = 0, n = only ? only->size() : comps_.size(); k < n; ++k) {
        const std::size_t i = only ? (*only)[k] : k;
        Candidate c{{i}};
        for (std::size_t p : comps_[i].pieces)
            for (Vec2 q : pieces_[p].points) {
                const double s = f.s(q), t = f.t(q);
                c.s0 = std::min(c.s0, s), c.s1 = std::max(c.s1, s), c.t0 = std::min(c.t0, t), c.t1 = std::max(c.t1, t);
            }
        cands.push_back(std::move(c));
    }
    std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) { return a.s0 < b.s0; });
    // Each glyph joins the row it continues best. A row is listed in the bands of t it may take glyphs from (its
    // extent, half its height more either way); a row left further behind than any glyph may jump is dropped.
    struct Row {
        std::vector<Candidate> glyphs;
        double s1, t0, t1, h;
        long low, high; // the bands it is listed in
    };
    constexpr double kBand = 1.0;
    auto band = [](double t) { return long(std::floor(t / kBand)); };
    std::vector<Row> rows;
    std::unordered_map<long, std::vector<std::size_t>> bands;
    auto enlist = [&](std::size_t k) {
        Row& r = rows[k];
        const long low = band(r.t0 - 0.5 * r.h), high = band(r.t1 + 0.5 * r.h);
        for (long b = low; b <= high; ++b)
            if (b < r.low || b > r.high)
                bands[b].push_back(k);
        r.low = std::min(r.low, low), r.high = std::max(r.high, high);
    };
    for (auto& c : cands) {
        const double ch = std::max(c.height(), 0.0);
        std::vector<std::size_t>& near = bands[band((c.t0 + c.t1) / 2)];
        std::size_t best = rows.size();
        double bestCost = 1e300;
        for (std::size_t n = 0; n < near.size();) {
            const Row& r = rows[near[n]];
            const double gap = c.s0 - r.s1;
            if (gap > 2.88 * r.h) { // beyond 1.6 times the larger height, and a glyph may be 1.8 times the row's
                near[n] = near.back();
                near.pop_back();
                continue;
            }
            ++n;
            const double h = std::max(r.h, ch);
            if (gap > 1.6 * h || gap < -0.6 * h)
                continue;
            if (c.t0 < r.t0 - 0.5 * r.h || c.t1 > r.t1 + 0.5 * r.h || ch > 1.8 * r.h)
                continue;
            const double cost = std::abs(gap) + std::abs((c.t0 + c.t1) - (r.t0 + r.t1)) / 2;
            const std::size_t k = &r - rows.data();
            if (cost < bestCost || (cost == bestCost && k < best))
                bestCost = cost, best = k;
        }
        if (best < rows.size()) {
            Row& r = rows[best];
            r.s1 = std::max(r.s1, c.s1);
            r.t0 = std::min(r.t0, c.t0), r.t1 = std::max(r.t1, c.t1);
            r.h = std::max(r.h, ch);
            r.glyphs.push_back(std::move(c));
            enlist(best);
        } else {
            const double s1 = c.s1, t0 = c.t0, t1 = c.t1;
            rows.push_back({{std::move(c)}, s1, t0, t1, std::max(ch, 1e-6), LONG_MAX, LONG_MIN});
            enlist(rows.size() - 1);
        }
    }
    // A bar or dot left on a row of its own inside a glyph of another row is a part of that glyph.
    std::vector<double> starts; // of the rows (their first glyphs, at first)
    std::vector<bool> ordered;  // whether a row's glyphs still start in order
    for (const auto& r : rows)
        starts.push_back(r.glyphs.front().s0), ordered.push_back(true);
    for (auto& r : rows) {
        if (r.glyphs.size() != 1)
            continue;
        const Candidate& c = r.glyphs[0];
        for (std::size_t k : bands[band((c.t0 + c.t1) / 2)]) {
            Row& o = rows[k];
            // Not within the row's box and the most slack any of its glyphs allows: inside none of them; nor inside
            // glyphs that start further on than that slack beyond it.
            const double slack = 0.05 * std::max(o.s1 - starts[k], o.t1 - o.t0);
            if (c.s0 < starts[k] - slack || c.s1 > o.s1 + slack || c.t0 < o.t0 - slack || c.t1 > o.t1 + slack)
                continue;
            const auto end = !ordered[k] ? o.glyphs.end()
                                         : std::upper_bound(o.glyphs.begin(), o.glyphs.end(), c.s0 + slack + 1e-9,
                                                            [](double s, const Candidate& g) { return s < g.s0; });
            auto part = std::find_if(o.glyphs.begin(), end, [&](const Candidate& g) { return &g != &c && inside(c, g); });
            if (part != end) {
                part->add(c);
                ordered[k] = ordered[k] && (part == o.glyphs.begin() || std::prev(part)->s0 <= part->s0);
                starts[k] = std::min(starts[k], part->s0);
                o.s1 = std::max(o.s1, part->s1), o.t0 = std::min(o.t0, part->t0), o.t1 = std::max(o.t1, part->t1);
                r.glyphs.clear();
                break;
            }
        }
    }
    std::vector<TextLine> parts, lines;
    for (auto& r : rows)
        split(TextLine{angle, f, stacked(std::move(r.glyphs))}, parts);
    for (auto& line : parts) {
        double tallest = 0;
        for (const auto& g : line.glyphs)
            tallest = std::max(tallest, g.height());
        if (tallest >= kMinLineMm)
            lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace unplot::engine::strokes
