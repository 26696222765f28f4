#include "linetypes.h"

#include "passgeometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <cstdio>
#include <string>
#include <tuple>
#include <unordered_map>

namespace unplot::engine::passes {
namespace {

// --- naming ---------------------------------------------------------------------------------------------------

// The common linetypes, by the shape of their pattern (in units of a quarter inch, as they are usually given).
struct Known {
    const char* name;
    const char* description;
    std::vector<double> shape;
};
const std::vector<Known>& knownLinetypes()
{
    static const std::vector<Known> known = {
        {"DASHED", "Dashed __ __ __ __", {2, -1}},
        {"HIDDEN", "Hidden _ _ _ _ _ _", {1, -0.5}},
        {"CENTER", "Center ____ _ ____ _", {5, -1, 1, -1}},
        {"PHANTOM", "Phantom _____ _ _ _____", {5, -1, 1, -1, 1, -1}},
        {"DOT", "Dot . . . . . .", {0, -1}},
        {"DASHDOT", "Dash dot __ . __ .", {2, -1, 0, -1}},
        {"DIVIDE", "Divide __ . . __ . .", {2, -1, 0, -1, 0, -1}},
        {"BORDER", "Border __ __ . __ __ .", {2, -1, 2, -1, 0, -1}},
    };
    return known;
}
constexpr double kQuarterInch = 6.35;

double periodOf(const std::vector<double>& elements)
{
    double p = 0;
    for (double e : elements)
        p += std::abs(e);
    return p;
}

// How far off (as a share of the period) `elements` are from `shape` scaled to the same period, starting the shape
// at its element `shift`; infinity when the dashes and gaps do not line up.
double mismatch(const std::vector<double>& elements, const std::vector<double>& shape, std::size_t shift)
{
    const double period = periodOf(elements), scale = period / periodOf(shape);
    double worst = 0;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const double want = scale * shape[(i + shift) % shape.size()];
        if ((want < 0) != (elements[i] < 0))
            return 1e9;
        worst = std::max(worst, std::abs(elements[i] - want) / period);
    }
    return worst;
}

// The common linetype the pattern matches at some scale (any phase), else nullptr. Shapes that differ only in
// scale (DASHED, HIDDEN) go by the one whose usual size is nearer.
const Known* knownMatch(std::vector<double> elements)
{
    // A pattern that starts inside a dash or gap (its phase) ends with the rest of it: one element, read round.
    if (elements.size() > 2 && elements.front() != 0 && elements.back() != 0 &&
        (elements.front() < 0) == (elements.back() < 0)) {
        elements.front() += elements.back();
        elements.pop_back();
    }
    const Known* best = nullptr;
    double bestScale = 1e9;
    for (const Known& k : knownLinetypes()) {
        if (k.shape.size() != elements.size())
            continue;
        for (std::size_t shift = 0; shift < k.shape.size(); ++shift)
            if (mismatch(elements, k.shape, shift) <= 0.04) {
                const double scale = std::abs(std::log(periodOf(elements) / (periodOf(k.shape) * kQuarterInch)));
                if (scale < bestScale)
                    best = &k, bestScale = scale;
                break;
            }
    }
    return best;
}

std::string describe(const std::vector<double>& elements)
{
    std::string art, sizes;
    for (double e : elements) {
        art += e > 0 ? "__" : e == 0 ? "." : " ";
        char number[32];
        std::snprintf(number, sizeof number, "%s%.2f", sizes.empty() ? "" : " ", e);
        sizes += number;
    }
    return art + art + " (" + sizes + " mm)";
}

// The drawing's linetypes, one per distinct pattern, with names users know where the pattern has a known shape.
class Linetypes {
public:
    explicit Linetypes(Drawing& d) : d_(d) {}

    // The name of the linetype with this pattern, made when it is new.
    const std::string& nameFor(const std::vector<double>& elements)
    {
        for (const Linetype& t : d_.linetypes)
            if (t.elements.size() == elements.size() &&
                std::equal(elements.begin(), elements.end(), t.elements.begin(),
                           [](double a, double b) { return std::abs(a - b) <= 0.005; }))
                return t.name;
        const Known* known = knownMatch(elements);
        std::string base = known ? known->name : "PATTERN";
        std::string name = known ? base : base + "_1";
        for (int n = 2;
             std::any_of(d_.linetypes.begin(), d_.linetypes.end(), [&](const Linetype& t) { return t.name == name; });
             ++n)
            name = base + "_" + std::to_string(n);
        d_.linetypes.push_back({name, known ? std::string(known->description) : describe(elements), elements});
        ++made_;
        return d_.linetypes.back().name;
    }
    int made() const { return made_; }

private:
    Drawing& d_;
    int made_ = 0;
};

// A PDF dash array as linetype elements, started where the phase puts the pattern's start.
std::vector<double> elementsOf(const DashArray& dash)
{
    std::vector<double> cycle;
    const std::size_t n = dash.lengths.size() % 2 == 1 ? 2 * dash.lengths.size() : dash.lengths.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double l = dash.lengths[i % dash.lengths.size()];
        cycle.push_back(i % 2 == 0 ? l : -l);
    }
    const double period = periodOf(cycle);
    double phase = std::fmod(dash.phase, period);
    if (phase < 0)
        phase += period;
    std::vector<double> out, skipped;
    for (double e : cycle) {
        const double len = std::abs(e), sign = e < 0 ? -1 : 1;
        if (phase >= len && !(phase == 0 && len == 0)) {
            phase -= len;
            skipped.push_back(e);
        } else if (phase > 0) {
            out.push_back(sign * (len - phase)); // the rest of the element the pattern starts in
            skipped.push_back(sign * phase);
            phase = 0;
        } else {
            out.push_back(e);
        }
    }
    out.insert(out.end(), skipped.begin(), skipped.end());
    // Neighbours of one kind run together (a dash split by the phase, or zero gaps).
    std::vector<double> merged;
    for (double e : out) {
        if (!merged.empty() && e != 0 && merged.back() != 0 && (e < 0) == (merged.back() < 0))
            merged.back() += e;
        else
            merged.push_back(e);
    }
    return merged;
}

// --- dashes drawn one by one ------------------------------------------------------------------------------------

// Pieces as long as this (mm) or shorter are dots.
constexpr double kDot = 0.1;
// Dashes and gaps of linetypes on paper stay within these (mm).
constexpr double kMaxDash = 50, kMaxGap = 20;
// Ends closer than this (mm) touch: such pieces are one stroke, not dashes.
constexpr double kTouch = 1e-3;

// A piece of a dashed stroke along its carrier (a line, or a circle measured along its circumference).
struct Piece {
    std::size_t entity;
    double from, to;
};

// The elements of one period of the rhythm of `pieces` (sorted, disjoint), when they keep one: at least three
// dashes and two whole periods, dashes and gaps repeating within 0.02 mm (or 3 %), the first and last dash allowed
// to be cut short.
std::optional<std::vector<double>> rhythm(const std::vector<Piece>& pieces)
{
    const std::size_t n = pieces.size();
    if (n < 3)
        return std::nullopt;
    auto near = [](double a, double b) { return std::abs(a - b) <= std::max(0.02, 0.03 * std::max(a, b)); };
    for (std::size_t p = 1; p <= 4 && n >= 2 * p + 1; ++p) {
        bool regular = true;
        for (std::size_t i = 0; i + p < n && regular; ++i) {
            const double a = pieces[i].to - pieces[i].from, b = pieces[i + p].to - pieces[i + p].from;
            const bool cut = (i == 0 && a < b) || (i + p == n - 1 && b < a);
            regular = (cut || near(a, b)) && (i + p + 1 >= n || near(pieces[i + 1].from - pieces[i].to,
                                                                     pieces[i + p + 1].from - pieces[i + p].to));
        }
        if (!regular)
            continue;
        // One period from the second dash on (the first may be cut short), averaged over the whole run.
        std::vector<double> elements;
        for (std::size_t k = 0; k < p; ++k) {
            double dash = 0, gap = 0;
            int dashes = 0, gaps = 0;
            for (std::size_t i = 1 + k; i < n; i += p) {
                if (i + 1 < n) {
                    dash += pieces[i].to - pieces[i].from, ++dashes;
                    gap += pieces[i + 1].from - pieces[i].to, ++gaps;
                }
            }
            if (dashes == 0 || gaps == 0)
                return std::nullopt;
            dash /= dashes;
            elements.push_back(dash);
            elements.push_back(-gap / gaps);
        }
        // A dot's length goes to the gaps on either side of it.
        for (std::size_t k = 0; k < elements.size(); k += 2)
            if (elements[k] <= kDot) {
                elements[k + 1] -= elements[k] / 2;
                elements[(k + elements.size() - 1) % elements.size()] -= elements[k] / 2;
                elements[k] = 0;
            }
        // Start the pattern with the first piece's kind of dash.
        std::rotate(elements.begin(), elements.end() - 2, elements.end());
        if (std::any_of(elements.begin(), elements.end(), [](double e) { return e > kMaxDash || -e > kMaxGap; }))
            return std::nullopt;
        return elements;
    }
    return std::nullopt;
}

// The rhythm of a run of dashes whose first or last piece may be out of step (plots that centre the pattern on a
// stroke end it with odd pieces): such a piece belongs to the run when it is no longer than a dash and no further
// off than one and a half gaps.
std::optional<std::vector<double>> runRhythm(const std::vector<Piece>& run)
{
    for (std::size_t trim = 0; trim < 4; ++trim) {
        const std::size_t head = trim & 1, tail = trim >> 1;
        if (run.size() < head + tail + 3)
            continue;
        const std::vector<Piece> core(run.begin() + std::ptrdiff_t(head), run.end() - std::ptrdiff_t(tail));
        const auto elements = rhythm(core);
        if (!elements)
            continue;
        double dash = 0, gap = 0;
        for (double e : *elements)
            dash = std::max(dash, e), gap = std::max(gap, -e);
        const auto fits = [&](const Piece& p, double apart) {
            return p.to - p.from <= dash + 0.02 && apart <= 1.5 * gap + 0.02;
        };
        if ((head == 0 || fits(run.front(), core.front().from - run.front().to)) &&
            (tail == 0 || fits(run.back(), run.back().from - core.back().to)))
            return elements;
    }
    return std::nullopt;
}

// Splits sorted pieces into runs of dashes: pieces apart by more than a touch and less than the longest gap.
template <typename F> void forEachRun(std::vector<Piece>& pieces, F&& f)
{
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.from < b.from; });
    std::size_t start = 0;
    for (std::size_t i = 1; i <= pieces.size(); ++i) {
        const bool breaks = i == pieces.size() || pieces[i].from - pieces[i - 1].to <= kTouch ||
                            pieces[i].from - pieces[i - 1].to > kMaxGap;
        if (!breaks)
            continue;
        if (i - start >= 3) {
            std::vector<Piece> run(pieces.begin() + std::ptrdiff_t(start), pieces.begin() + std::ptrdiff_t(i));
            f(run);
        }
        start = i;
    }
}

// Short lines (dots, chords of dashed circles) by the 1 mm cell their middle lies in.
class ShortLines {
public:
    template <typename Keep> ShortLines(const Drawing& d, Keep&& keep)
    {
        for (std::size_t i = 0; i < d.entities.size(); ++i)
            if (const auto* l = std::get_if<Line>(&d.entities[i].geometry);
                l && keep(d.entities[i]) && distance(l->a, l->b) <= 2)
                cells_[cellOf(0.5 * (l->a + l->b))].push_back(i);
    }
    // Each short line near the points once.
    template <typename F> void near(const std::vector<Vec2>& points, F&& f) const
    {
        std::vector<std::int64_t> cells;
        for (Vec2 p : points)
            for (int dx = -1; dx <= 1; ++dx)
                for (int dy = -1; dy <= 1; ++dy)
                    cells.push_back(cellOf(p + Vec2{double(dx), double(dy)}));
        std::sort(cells.begin(), cells.end());
        cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
        for (std::int64_t cell : cells)
            if (const auto found = cells_.find(cell); found != cells_.end())
                for (std::size_t e : found->second)
                    f(e);
    }

private:
    static std::int64_t cellOf(Vec2 p)
    {
        return std::int64_t(std::uint64_t(std::llround(p.x)) * 1000003u + std::uint64_t(std::llround(p.y)));
    }
    std::unordered_map<std::int64_t, std::vector<std::size_t>> cells_;
};

// The ends of every line and the corners of every polyline, by the 1 mm cell they lie in: a dash that another
// stroke ends on is a stroke of a glyph or of a symbol (the stem of an H its bar ends on), not a dash.
class Ends {
public:
    explicit Ends(const Drawing& d)
    {
        for (std::size_t i = 0; i < d.entities.size(); ++i)
            if (const auto* l = std::get_if<Line>(&d.entities[i].geometry))
                add(i, l->a), add(i, l->b);
            else if (const auto* p = std::get_if<Polyline>(&d.entities[i].geometry))
                for (Vec2 v : p->points)
                    add(i, v);
    }
    bool touched(std::size_t entity, Vec2 a, Vec2 b) const
    {
        constexpr double kOn = 0.01;
        for (double x = std::floor(std::min(a.x, b.x) - kOn); x <= std::max(a.x, b.x) + kOn; x += 1)
            for (double y = std::floor(std::min(a.y, b.y) - kOn); y <= std::max(a.y, b.y) + kOn; y += 1)
                if (const auto found = cells_.find(cellOf({x, y})); found != cells_.end())
                    for (const auto& [other, p] : found->second)
                        if (other != entity && distanceToSegment(p, a, b) <= kOn)
                            return true;
        return false;
    }

private:
    void add(std::size_t entity, Vec2 p) { cells_[cellOf(p)].push_back({entity, p}); }
    static std::int64_t cellOf(Vec2 p)
    {
        return std::int64_t(std::uint64_t(std::int64_t(std::floor(p.x))) * 1000003u +
                            std::uint64_t(std::int64_t(std::floor(p.y))));
    }
    std::unordered_map<std::int64_t, std::vector<std::pair<std::size_t, Vec2>>> cells_;
};

struct Dasher {
    Drawing& d;
    Linetypes& types;
    std::vector<bool> gone;
    int joined = 0, made = 0;
    ShortLines shortLines{d, [this](const Entity& e) { return candidate(e); }};
    std::optional<Ends> ends{}; // made when first needed

    // Half the dashes or more have other strokes ending on them.
    bool partOfLineWork(const std::vector<Piece>& run)
    {
        if (!ends)
            ends.emplace(d);
        std::size_t touched = 0;
        for (const Piece& p : run) {
            const Line& l = std::get<Line>(d.entities[p.entity].geometry);
            touched += ends->touched(p.entity, l.a, l.b);
        }
        return 2 * touched >= run.size();
    }

    bool candidate(const Entity& e) const
    {
        return e.style.dash == 0 && e.style.linetype.empty() &&
               (std::holds_alternative<Line>(e.geometry) || std::holds_alternative<Arc>(e.geometry));
    }

    // Dashes along straight lines: lines grouped by the infinite line they lie on, dots (too short to say which
    // way they run) put with the line they lie on.
    void straight()
    {
        struct OnLine {
            std::size_t entity;
            double angle, offset; // direction in (-pi/2, pi/2], signed distance of the line from the origin
        };
        std::vector<OnLine> lines;
        for (std::size_t i = 0; i < d.entities.size(); ++i) {
            const auto* l = std::get_if<Line>(&d.entities[i].geometry);
            if (!l || !candidate(d.entities[i]))
                continue;
            Vec2 dir = l->b - l->a;
            const double len = length(dir);
            if (len <= 2 * kDot || len > kMaxDash)
                continue;
            dir = (1 / len) * dir;
            if (dir.x < 0 || (dir.x == 0 && dir.y < 0))
                dir = -1.0 * dir;
            lines.push_back({i, std::atan2(dir.y, dir.x), cross(dir, l->a)});
        }
        std::sort(lines.begin(), lines.end(), [](const OnLine& a, const OnLine& b) { return a.angle < b.angle; });
        std::vector<OnLine> group;
        for (std::size_t i = 0; i < lines.size();) {
            std::size_t j = i + 1;
            while (j < lines.size() && lines[j].angle - lines[j - 1].angle <= 2e-4)
                ++j;
            group.assign(lines.begin() + std::ptrdiff_t(i), lines.begin() + std::ptrdiff_t(j));
            std::sort(group.begin(), group.end(), [](const OnLine& a, const OnLine& b) { return a.offset < b.offset; });
            for (std::size_t a = 0; a < group.size();) {
                std::size_t b = a + 1;
                while (b < group.size() && group[b].offset - group[b - 1].offset <= 0.005)
                    ++b;
                if (b - a >= 2)
                    carrier(std::vector<OnLine>(group.begin() + std::ptrdiff_t(a), group.begin() + std::ptrdiff_t(b)));
                a = b;
            }
            i = j;
        }
    }

    template <typename OnLine> void carrier(const std::vector<OnLine>& members)
    {
        const Entity& e0 = d.entities[members[0].entity];
        const Line& l0 = std::get<Line>(e0.geometry);
        const Vec2 origin = l0.a, dir = (1 / distance(l0.a, l0.b)) * (l0.b - l0.a);
        std::vector<Piece> pieces;
        auto add = [&](std::size_t i) {
            const Line& l = std::get<Line>(d.entities[i].geometry);
            const double s0 = dot(l.a - origin, dir), s1 = dot(l.b - origin, dir);
            pieces.push_back({i, std::min(s0, s1), std::max(s0, s1)});
        };
        for (const auto& m : members)
            if (sameLook(d.entities[m.entity].style, e0.style))
                add(m.entity);
        // Dots on this line, in the gaps between its pieces and up to the widest gap beyond its ends.
        std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.from < b.from; });
        std::vector<Vec2> along;
        double reach = 0;
        for (std::size_t k = 1; k < pieces.size(); ++k)
            if (pieces[k].from - pieces[k - 1].to > kTouch && pieces[k].from - pieces[k - 1].to <= kMaxGap) {
                reach = std::max(reach, pieces[k].from - pieces[k - 1].to);
                for (double s = pieces[k - 1].to; s < pieces[k].from + 1; s += 1)
                    along.push_back(origin + s * dir);
            }
        const std::size_t count = pieces.size();
        for (double s = 0; s < reach + 1; s += 1)
            along.insert(along.end(), {origin + (pieces[0].from - s) * dir, origin + (pieces[count - 1].to + s) * dir});
        shortLines.near(along, [&](std::size_t i) {
            const auto* line = std::get_if<Line>(&d.entities[i].geometry);
            if (gone[i] || !line || !candidate(d.entities[i]) || distance(line->a, line->b) > 2 * kDot ||
                !sameLook(d.entities[i].style, e0.style))
                return;
            const Vec2 mid = 0.5 * (line->a + line->b);
            const double s = dot(mid - origin, dir);
            // Not on one of the dashes: there it is a dot of a line that crosses this one.
            const auto after = std::upper_bound(pieces.begin(), pieces.begin() + std::ptrdiff_t(count), s,
                                                [](double v, const Piece& p) { return v < p.from; });
            const bool onDash = (after != pieces.begin() && s <= std::prev(after)->to + kTouch) ||
                                (after != pieces.begin() + std::ptrdiff_t(count) && s >= after->from - kTouch);
            if (std::abs(cross(dir, mid - origin)) <= 0.005 && s > pieces[0].from - reach - kDot &&
                s < pieces[count - 1].to + reach + kDot && !onDash)
                add(i);
        });
        forEachRun(pieces, [&](std::vector<Piece>& run) {
            const auto elements = runRhythm(run);
            if (!elements || partOfLineWork(run))
                return;
            Entity& first = d.entities[run.front().entity];
            first.geometry = Line{origin + run.front().from * dir, origin + run.back().to * dir};
            first.style.linetype = types.nameFor(*elements);
            for (std::size_t k = 1; k < run.size(); ++k)
                gone[run[k].entity] = true;
            joined += int(run.size());
            ++made;
        });
    }

    // Dashes along circles: arcs grouped by their circle, with dots and short chords lying on it.
    void round()
    {
        struct OnCircle {
            std::size_t entity;
            ArcPath arc;
        };
        std::vector<OnCircle> arcs;
        for (std::size_t i = 0; i < d.entities.size(); ++i)
            if (const auto* a = std::get_if<Arc>(&d.entities[i].geometry); a && candidate(d.entities[i]))
                arcs.push_back({i, arcPathOf(*a)});
        std::sort(arcs.begin(), arcs.end(), [](const OnCircle& a, const OnCircle& b) {
            return std::tie(a.arc.center.x, a.arc.center.y) < std::tie(b.arc.center.x, b.arc.center.y);
        });
        std::vector<bool> grouped(arcs.size(), false);
        for (std::size_t i = 0; i < arcs.size(); ++i) {
            if (grouped[i] || gone[arcs[i].entity])
                continue;
            // Arcs near this one's circle (short arcs' centres are uncertain), then the circle through them all
            // and the arcs that lie on it.
            const ArcPath& seed = arcs[i].arc;
            const double loose = std::max(0.05, 0.01 * seed.radius);
            const Style& look = d.entities[arcs[i].entity].style;
            std::vector<std::size_t> members;
            std::vector<Vec2> points;
            for (std::size_t j = i; j < arcs.size() && arcs[j].arc.center.x <= seed.center.x + loose; ++j) {
                const ArcPath& a = arcs[j].arc;
                if (!grouped[j] && !gone[arcs[j].entity] && distance(a.center, seed.center) <= loose &&
                    std::abs(a.radius - seed.radius) <= loose && sameLook(d.entities[arcs[j].entity].style, look)) {
                    members.push_back(j);
                    points.insert(points.end(), {a.from(), a.at(0.5), a.to()});
                }
            }
            const auto fitted = members.size() >= 2 ? fitCircle(points) : std::nullopt;
            if (!fitted)
                continue;
            const ArcPath c{fitted->center, fitted->radius, 0, kTurn};
            const double tolerance = std::max(0.005, 2e-4 * c.radius);
            auto onCircle = [&](Vec2 p) { return std::abs(distance(p, c.center) - c.radius) <= tolerance; };
            std::vector<Piece> pieces;
            auto add = [&](std::size_t entity, double start, double sweep) {
                const double from = wrapAngle(start) * c.radius;
                pieces.push_back({entity, from, from + std::abs(sweep) * c.radius});
            };
            for (std::size_t j : members) {
                const ArcPath& a = arcs[j].arc;
                if (!onCircle(a.from()) || !onCircle(a.to())) // its ends are where the plot put them
                    continue;
                grouped[j] = true;
                const double start = angleOf(c.center, a.from());
                add(arcs[j].entity, start, wrapAngle(angleOf(c.center, a.to()) - start));
            }
            if (pieces.size() < 2)
                continue;
            // Dots and chords: short lines whose ends lie on the circle, looked for all along it.
            const int steps = std::max(8, int(kTurn * c.radius));
            std::vector<Vec2> along;
            for (int k = 0; k < steps; ++k)
                along.push_back(polar(c.center, c.radius, kTurn * k / steps));
            shortLines.near(along, [&](std::size_t e) {
                const auto* line = std::get_if<Line>(&d.entities[e].geometry);
                if (gone[e] || !line || !candidate(d.entities[e]))
                    return;
                const Line& l = *line;
                if (!sameLook(d.entities[e].style, look) || !onCircle(l.a) || !onCircle(l.b))
                    return;
                double a0 = angleOf(c.center, l.a), a1 = angleOf(c.center, l.b);
                double sweep = wrapAngle(a1 - a0);
                if (sweep > std::numbers::pi)
                    std::swap(a0, a1), sweep = kTurn - sweep;
                add(e, a0, sweep);
            });
            // Read the circle from a start that no run wraps across: after the widest gap, or where the rhythm of
            // a dashed full circle breaks (the plot starts and ends its pattern there).
            std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.from < b.from; });
            const double circumference = kTurn * c.radius;
            const std::size_t n = pieces.size();
            auto gapBefore = [&](std::size_t k) {
                return k == 0 ? pieces[0].from + circumference - pieces[n - 1].to : pieces[k].from - pieces[k - 1].to;
            };
            std::vector<std::size_t> starts(n);
            for (std::size_t k = 0; k < n; ++k)
                starts[k] = k;
            std::stable_sort(starts.begin(), starts.end(),
                             [&](std::size_t a, std::size_t b) { return gapBefore(a) > gapBefore(b); });
            if (n > 1000 || gapBefore(starts[0]) > kMaxGap)
                starts.resize(1);
            std::vector<Piece> rotated(n);
            std::size_t chosen = starts[0];
            for (std::size_t start : starts) {
                for (std::size_t k = 0; k < n; ++k) {
                    rotated[k] = pieces[(start + k) % n];
                    if (start + k >= n)
                        rotated[k].from += circumference, rotated[k].to += circumference;
                }
                if (starts.size() == 1 || rhythm(rotated)) {
                    chosen = start;
                    break;
                }
            }
            for (std::size_t k = 0; k < n; ++k) {
                rotated[k] = pieces[(chosen + k) % n];
                if (chosen + k >= n)
                    rotated[k].from += circumference, rotated[k].to += circumference;
            }
            forEachRun(rotated, [&](std::vector<Piece>& run) {
                const auto elements = runRhythm(run);
                if (!elements)
                    return;
                Entity& first = d.entities[run.front().entity];
                const double sweep = (run.back().to - run.front().from) / c.radius;
                // All round but for a gap no wider than the pattern's: a dashed circle.
                const double widest = -*std::min_element(elements->begin(), elements->end());
                if (run.size() == n && kTurn * c.radius - (run.back().to - run.front().from) <= 1.5 * widest + 0.02)
                    first.geometry = Circle{c.center, c.radius};
                else
                    first.geometry =
                        arcEntity({c.center, c.radius, run.front().from / c.radius, std::min(sweep, kTurn)});
                first.style.linetype = types.nameFor(*elements);
                for (std::size_t k = 1; k < run.size(); ++k)
                    gone[run[k].entity] = true;
                joined += int(run.size());
                ++made;
            });
        }
    }
};

} // namespace

void makeLinetypes(Drawing& d)
{
    Linetypes types(d);
    // PDF dash arrays.
    std::vector<std::string> byDash(d.dashes.size());
    int dashed = 0;
    for (Entity& e : d.entities) {
        const std::uint32_t dash = e.style.dash;
        if (dash == 0 || dash > d.dashes.size() || std::holds_alternative<Hatch>(e.geometry) ||
            std::holds_alternative<Text>(e.geometry))
            continue;
        std::string& name = byDash[dash - 1];
        if (name.empty())
            name = types.nameFor(elementsOf(d.dashes[dash - 1]));
        e.style.linetype = name;
        ++dashed;
    }
    // Dashes drawn one by one.
    Dasher dasher{d, types, std::vector<bool>(d.entities.size(), false)};
    dasher.straight();
    dasher.round();
    std::size_t to = 0;
    for (std::size_t i = 0; i < d.entities.size(); ++i)
        if (!dasher.gone[i]) {
            if (to != i)
                d.entities[to] = std::move(d.entities[i]);
            ++to;
        }
    d.entities.resize(to);
    d.notes.push_back("linetypes: " + std::to_string(types.made()) + " made; " + std::to_string(dashed) +
                      " dashed strokes; " + std::to_string(dasher.joined) + " dashes drawn one by one became " +
                      std::to_string(dasher.made) + " dashed lines and arcs");
}

} // namespace unplot::engine::passes
