// Recognition of stroked text without a twin: strokes grouped into glyphs and lines of text, matched against the
// glyphs of stroke fonts in both directions (the strokes must lie on the font's glyph and the glyph on the strokes).

#include "pieces.h"
#include "textrecovery.h"
#include "utf8.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <numeric>
#include <string_view>

namespace unplot::engine::strokes {
namespace {

constexpr double kMaxGlyphMm = 14;       // larger strokes are not glyphs (cap heights up to 10 mm)
constexpr double kMinCapMm = 0.5, kMaxCapMm = 11;
constexpr double kTouchMm = 0.01;        // strokes closer than this belong to one glyph
constexpr double kSample = 0.05;         // sample spacing, in cap heights
constexpr double kMeanTolerance = 0.015; // mean distance between strokes and glyph, in cap heights
constexpr double kMaxTolerance = 0.08;   // largest distance
constexpr double kUnmatched = 1.0;       // the cost of a glyph no template matches

// The characters recognised: ASCII and the symbols of engineering drawings.
bool wanted(char32_t c)
{
    return (c > U' ' && c < 0x7F) || std::u32string_view(U"±°Ø×∅µ").find(c) != std::u32string_view::npos;
}

bool alnum(char32_t c)
{
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9');
}

// Shapes that lines, circles and crosses of a drawing make as well: never a text on their own.
bool lookalike(char32_t c)
{
    return std::u32string_view(U"0OoIl1xXvVLT").find(c) != std::u32string_view::npos;
}

void densify(const std::vector<Vec2>& line, double step, std::vector<Vec2>& out)
{
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const Vec2 a = line[i], b = line[i + 1];
        const int n = std::max(1, int(std::ceil(std::hypot(b.x - a.x, b.y - a.y) / step)));
        for (int k = 0; k < n; ++k)
            out.push_back({a.x + (b.x - a.x) * k / n, a.y + (b.y - a.y) * k / n});
    }
    if (!line.empty())
        out.push_back(line.back());
}

// The mean distance of the points, moved by `dx`, from the lines; more than kMeanTolerance (without finishing) when
// a point lies further than kMaxTolerance from them.
double meanDistance(const std::vector<Vec2>& points, double dx, const std::vector<std::vector<Vec2>>& lines,
                    double scale)
{
    const double limit = kMaxTolerance * kMaxTolerance * scale * scale;
    const double most = kMeanTolerance * scale * double(points.size());
    double sum = 0;
    for (Vec2 p : points) {
        double d = 1e300;
        for (const auto& l : lines) {
            d = std::min(d, squaredDistanceToPolyline({p.x + dx, p.y}, l));
            if (d == 0)
                break;
        }
        sum += std::sqrt(d);
        if (d > limit || sum > most)
            return 2 * kMeanTolerance * scale;
    }
    return points.empty() ? 2 * kMeanTolerance * scale : sum / double(points.size());
}

double inkLength(const std::vector<Vec2>& line)
{
    double length = 0;
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        length += std::hypot(line[i + 1].x - line[i].x, line[i + 1].y - line[i].y);
    return length;
}

struct Template {
    char32_t code;
    const StrokeGlyph* glyph;
    double centre; // of the ink along x
    std::vector<Vec2> samples;
    double ink = 0; // the strokes' length
};

struct FontTemplates {
    const StrokeFont* font;
    std::vector<Template> glyphs;
};

std::vector<FontTemplates> templatesOf(const std::vector<StrokeFont>& fonts)
{
    std::vector<FontTemplates> out;
    for (const auto& font : fonts) {
        FontTemplates f{&font, {}};
        for (const auto& [code, g] : font.glyphs) {
            if (!wanted(code) || g.strokes.empty())
                continue;
            Template t{code, &g, (g.min.x + g.max.x) / 2, {}};
            for (const auto& s : g.strokes) {
                densify(s, kSample, t.samples);
                t.ink += inkLength(s);
            }
            f.glyphs.push_back(std::move(t));
        }
        out.push_back(std::move(f));
    }
    return out;
}

double segmentDistance(Vec2 a, Vec2 b, Vec2 c, Vec2 d)
{
    auto cross = [](Vec2 o, Vec2 p, Vec2 q) { return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x); };
    const double d1 = cross(a, b, c), d2 = cross(a, b, d), d3 = cross(c, d, a), d4 = cross(c, d, b);
    if (((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0)))
        return 0;
    return std::sqrt(std::min({squaredDistanceToPolyline(a, {c, d}), squaredDistanceToPolyline(b, {c, d}),
                               squaredDistanceToPolyline(c, {a, b}), squaredDistanceToPolyline(d, {a, b})}));
}

bool touch(const Piece& p, const Piece& q)
{
    for (std::size_t i = 0; i + 1 < p.points.size(); ++i)
        for (std::size_t j = 0; j + 1 < q.points.size(); ++j)
            if (segmentDistance(p.points[i], p.points[i + 1], q.points[j], q.points[j + 1]) <= kTouchMm)
                return true;
    return false;
}

struct UnionFind {
    std::vector<std::size_t> parent;
    explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    std::size_t find(std::size_t i) { return parent[i] == i ? i : parent[i] = find(parent[i]); }
    void join(std::size_t a, std::size_t b) { parent[find(a)] = find(b); }
};

// Connected strokes: a glyph, or a part of one (the dot of an i).
struct Component {
    std::vector<std::size_t> pieces;
    Box box;
};

std::vector<Component> components(const std::vector<Piece>& pieces)
{
    UnionFind sets(pieces.size());
    const PieceGrid grid(pieces, 2.0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Box near = pieces[i].box;
        near.min = {near.min.x - kTouchMm, near.min.y - kTouchMm};
        near.max = {near.max.x + kTouchMm, near.max.y + kTouchMm};
        for (std::size_t j : grid.find(near))
            if (j > i && sets.find(i) != sets.find(j) && touch(pieces[i], pieces[j]))
                sets.join(i, j);
    }
    std::map<std::size_t, Component> byRoot;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Component& c = byRoot[sets.find(i)];
        c.pieces.push_back(i);
        c.box.add(pieces[i].box.min);
        c.box.add(pieces[i].box.max);
    }
    std::vector<Component> out;
    for (auto& [root, c] : byRoot)
        if (c.box.width() <= kMaxGlyphMm && c.box.height() <= kMaxGlyphMm)
            out.push_back(std::move(c));
    return out;
}

// The directions text may run in: the four right angles, and those that neighbouring glyphs of similar size keep
// to each other often enough.
// Each component's box as a piece, to find components by place.
std::vector<Piece> boxesOf(const std::vector<Component>& comps)
{
    std::vector<Piece> boxes;
    for (std::size_t i = 0; i < comps.size(); ++i)
        boxes.push_back({i, {}, comps[i].box});
    return boxes;
}

std::vector<double> textAngles(const std::vector<Component>& comps, const PieceGrid& grid)
{
    std::vector<double> angles{0, 90, 270, 180};
    std::vector<int> votes(180, 0);
    for (const auto& c : comps) {
        const double size = std::max(c.box.width(), c.box.height());
        if (size < kMinCapMm)
            continue;
        const Vec2 centre{(c.box.min.x + c.box.max.x) / 2, (c.box.min.y + c.box.max.y) / 2};
        Box near{{centre.x - 1.5 * size, centre.y - 1.5 * size}, {centre.x + 1.5 * size, centre.y + 1.5 * size}};
        double best = 1e300;
        Vec2 dir{};
        for (std::size_t j : grid.find(near)) {
            const Box& b = comps[j].box;
            const double other = std::max(b.width(), b.height());
            const Vec2 oc{(b.min.x + b.max.x) / 2, (b.min.y + b.max.y) / 2};
            const double d = std::hypot(oc.x - centre.x, oc.y - centre.y);
            if (d > 1e-9 && d < best && other > 0.6 * size && other < 1.6 * size)
                best = d, dir = {oc.x - centre.x, oc.y - centre.y};
        }
        if (best < 1e300) {
            int deg = int(std::lround(std::atan2(dir.y, dir.x) * 180 / std::numbers::pi));
            ++votes[std::size_t(((deg % 180) + 180) % 180)];
        }
    }
    const int enough = std::max(8, std::accumulate(votes.begin(), votes.end(), 0) / 50);
    for (int deg = 0; deg < 180; ++deg) {
        const int v = votes[std::size_t(deg)];
        const int distance = std::min({deg, std::abs(deg - 90), 180 - deg});
        if (v >= enough && distance >= 3 && v >= votes[std::size_t((deg + 179) % 180)] &&
            v >= votes[std::size_t((deg + 1) % 180)]) {
            angles.push_back(deg);
            angles.push_back(deg + 180);
        }
    }
    return angles;
}

struct Frame {
    Vec2 u, v;
    double s(Vec2 p) const { return p.x * u.x + p.y * u.y; }
    double t(Vec2 p) const { return p.x * v.x + p.y * v.y; }
    Vec2 point(double s, double t) const { return {s * u.x + t * v.x, s * u.y + t * v.y}; }
    static Frame at(double deg)
    {
        const double a = deg * std::numbers::pi / 180;
        return {{std::cos(a), std::sin(a)}, {-std::sin(a), std::cos(a)}};
    }
};

// A glyph as it stands on the page, in a frame.
struct Candidate {
    std::vector<std::size_t> comps;
    double s0 = 1e300, s1 = -1e300, t0 = 1e300, t1 = -1e300;
    void add(const Candidate& o)
    {
        comps.insert(comps.end(), o.comps.begin(), o.comps.end());
        s0 = std::min(s0, o.s0), s1 = std::max(s1, o.s1), t0 = std::min(t0, o.t0), t1 = std::max(t1, o.t1);
    }
    double width() const { return s1 - s0; }
    double height() const { return t1 - t0; }
};

struct Proposal {
    std::vector<std::size_t> pieces;
    std::size_t glyphs = 0;
    double cost = 0;
    Entity text;
};

struct Match {
    char32_t code = 0;
    double cost = kUnmatched;
    double origin = 0; // along the baseline, where the glyph's pen origin is
    const Template* tmpl = nullptr;
};

class Recognizer {
public:
    Recognizer(Drawing& drawing, const std::vector<StrokeFont>& fonts)
        : drawing_(drawing), fonts_(templatesOf(fonts)), pieces_(collectPieces(drawing, kMaxGlyphMm)),
          comps_(components(pieces_)), compBoxes_(boxesOf(comps_)), compGrid_(compBoxes_, 3.0)
    {}

    TextRecovery run()
    {
        TextRecovery result;
        if (fonts_.empty() || comps_.empty())
            return result;
        for (double angle : textAngles(comps_, compGrid_))
            readAt(angle);
        commit();
        result.textsRecovered = int(texts_.size());
        result.strokesReplaced = replaceUsedEntities(drawing_, pieces_, std::move(texts_));
        return result;
    }

private:
    // The chains of glyph candidates that run along the frame's direction.
    void readAt(double angle)
    {
        const Frame f = Frame::at(angle);
        std::vector<Candidate> cands;
        for (std::size_t i = 0; i < comps_.size(); ++i) {
            Candidate c{{i}};
            for (std::size_t p : comps_[i].pieces)
                for (Vec2 q : pieces_[p].points) {
                    const double s = f.s(q), t = f.t(q);
                    c.s0 = std::min(c.s0, s), c.s1 = std::max(c.s1, s), c.t0 = std::min(c.t0, t), c.t1 = std::max(c.t1, t);
                }
            cands.push_back(std::move(c));
        }
        std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) { return a.s0 < b.s0; });
        struct Chain {
            std::vector<Candidate> glyphs;
            double s1, t0, t1, h;
        };
        std::vector<Chain> open;
        for (auto& c : cands) {
            const double ch = std::max(c.height(), 0.0);
            Chain* best = nullptr;
            double bestCost = 1e300;
            for (auto& chain : open) {
                const double h = std::max(chain.h, ch);
                const double gap = c.s0 - chain.s1;
                if (gap > 1.6 * h || gap < -0.6 * h)
                    continue;
                if (c.t0 < chain.t0 - 0.5 * chain.h || c.t1 > chain.t1 + 0.5 * chain.h || ch > 1.8 * chain.h)
                    continue;
                const double cost = std::abs(gap) + std::abs((c.t0 + c.t1) - (chain.t0 + chain.t1)) / 2;
                if (cost < bestCost)
                    bestCost = cost, best = &chain;
            }
            if (best) {
                best->s1 = std::max(best->s1, c.s1);
                best->t0 = std::min(best->t0, c.t0), best->t1 = std::max(best->t1, c.t1);
                best->h = std::max(best->h, ch);
                best->glyphs.push_back(std::move(c));
            } else {
                const double s1 = c.s1, t0 = c.t0, t1 = c.t1;
                open.push_back({{std::move(c)}, s1, t0, t1, std::max(ch, 1e-6)});
            }
        }
        for (auto& chain : open)
            readChain(f, angle, std::move(chain.glyphs));
    }

    // Glyph candidates: components stacked over each other along the line are one glyph.
    static std::vector<Candidate> stacked(std::vector<Candidate> glyphs)
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

    void readChain(const Frame& frame, double angle, std::vector<Candidate> glyphs)
    {
        glyphs = stacked(std::move(glyphs));
        const std::size_t n = glyphs.size();
        if (n == 0)
            return;
        // The baseline: the level most glyph bottoms share (the lower one on a tie).
        double tallest = 0;
        for (const auto& g : glyphs)
            tallest = std::max(tallest, g.height());
        if (tallest < kMinCapMm * 0.5)
            return;
        double baseline = 0;
        int most = -1;
        for (const auto& g : glyphs) {
            int k = 0;
            for (const auto& o : glyphs)
                k += std::abs(o.t0 - g.t0) <= 0.08 * tallest;
            if (k > most || (k == most && g.t0 < baseline))
                most = k, baseline = g.t0;
        }
        double top = 0;
        for (const auto& g : glyphs)
            if (std::abs(g.t0 - baseline) <= 0.08 * tallest)
                top = std::max(top, g.t1 - baseline);
        struct Reading {
            const FontTemplates* font = nullptr;
            double h = 0, cost = 1e300;
            std::vector<Match> matches;
            std::vector<std::size_t> ends; // each match covers glyphs [previous end, end)
            int matched = 0;
        };
        std::vector<Reading> readings;
        for (const auto& font : fonts_)
            for (double h : {top, top / font.font->xHeight}) {
                // Lower case without ascenders ("mm", "on") only in longer lines: "OU" reads as "ou" too.
                if (h < kMinCapMm || h > kMaxCapMm || (h != top && n < 3))
                    continue;
                Reading r;
                r.font = &font;
                r.h = h;
                // Distances count in the height of the glyphs seen, whatever the cap height supposed.
                if (!readLine(frame, glyphs, baseline, h, std::min(1.0, top / h), font, r.matches, r.ends))
                    continue;
                r.cost = 0;
                for (const auto& m : r.matches)
                    r.cost += m.cost, r.matched += m.tmpl != nullptr;
                readings.push_back(std::move(r));
            }
        const Reading* best = nullptr;
        for (const auto& r : readings)
            if (!best || r.cost < best->cost)
                best = &r;
        if (!best || best->matched == 0)
            return;
        // A string the same strokes also read as at another height (xo against XO) is not certain.
        for (const auto& r : readings)
            if (&r != best && r.font == best->font && r.matched == best->matched && r.cost < best->cost * 1.3 &&
                stringOf(r.matches) != stringOf(best->matches))
                return;
        propose(frame, angle, glyphs, baseline, *best->font->font, best->h, best->matches);
    }

    static std::u32string stringOf(const std::vector<Match>& matches)
    {
        std::u32string s;
        for (const auto& m : matches)
            s += m.tmpl ? m.code : U'?';
        return s;
    }

    // Matches the glyphs in order, each alone or two side by side as one (a " drawn as two strokes); false when some
    // glyph matches nothing.
    bool readLine(const Frame& frame, const std::vector<Candidate>& glyphs, double baseline, double h, double strictness,
                  const FontTemplates& font, std::vector<Match>& matches, std::vector<std::size_t>& ends)
    {
        const std::size_t n = glyphs.size();
        std::vector<double> cost(n + 1, 1e300);
        std::vector<Match> via(n + 1);
        std::vector<std::size_t> from(n + 1, 0);
        cost[0] = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (cost[i] >= 1e300) {
                if (i > 0 && cost[i - 1] >= 1e300)
                    return false; // no glyph reaches past here: the line cannot be read whole
                continue;
            }
            Candidate one = glyphs[i];
            for (std::size_t j = i + 1; j <= std::min(n, i + 2); ++j) {
                if (j == i + 2) {
                    if (glyphs[i + 1].s1 - one.s0 > 1.3 * h)
                        break;
                    one.add(glyphs[i + 1]);
                }
                const Match m = bestMatch(frame, one, baseline, h, strictness, font);
                if (!m.tmpl)
                    continue;
                const double c = cost[i] + m.cost + (j == i + 2 ? 0.01 : 0);
                if (c < cost[j])
                    cost[j] = c, via[j] = m, from[j] = i;
            }
        }
        if (cost[n] >= 1e300)
            return false;
        matches.clear();
        ends.clear();
        for (std::size_t j = n; j > 0; j = from[j]) {
            matches.push_back(via[j]);
            ends.push_back(j);
        }
        std::reverse(matches.begin(), matches.end());
        std::reverse(ends.begin(), ends.end());
        return true;
    }

    Match bestMatch(const Frame& frame, const Candidate& g, double baseline, double h, double strictness,
                    const FontTemplates& font)
    {
        // The candidate in cap heights, x from its ink's centre.
        const double centre = (g.s0 + g.s1) / 2;
        const double w = g.width() / h, bottom = (g.t0 - baseline) / h, top = (g.t1 - baseline) / h;
        std::vector<std::vector<Vec2>> lines;
        std::vector<Vec2> samples;
        double ink = 0;
        for (std::size_t c : g.comps)
            for (std::size_t p : comps_[c].pieces) {
                std::vector<Vec2> line;
                for (Vec2 q : pieces_[p].points)
                    line.push_back({(frame.s(q) - centre) / h, (frame.t(q) - baseline) / h});
                densify(line, kSample, samples);
                ink += inkLength(line);
                lines.push_back(std::move(line));
            }
        Match best;
        for (const auto& t : font.glyphs) {
            const StrokeGlyph& gl = *t.glyph;
            const double tw = gl.max.x - gl.min.x;
            if (std::abs(w - tw) > 0.1 + 0.15 * tw || std::abs(top - gl.max.y) > 0.12 ||
                std::abs(bottom - gl.min.y) > 0.12 || ink < 0.8 * t.ink || ink > 1.25 * t.ink + 0.2)
                continue;
            const double sumA = meanDistance(samples, t.centre, gl.strokes, strictness) / strictness;
            if (sumA > kMeanTolerance)
                continue;
            const double sumB = meanDistance(t.samples, -t.centre, lines, strictness) / strictness;
            const double cost = std::max(sumA, sumB);
            if (cost > kMeanTolerance)
                continue;
            if (cost < best.cost)
                best = {t.code, cost, centre - t.centre * h, &t};
        }
        return best;
    }

    // A line whose every glyph a font has becomes a text proposed, where it passes every check: a line with a glyph
    // no font has is left alone whole, since what looks like letters beside it may be line work.
    void propose(const Frame& frame, double angle, const std::vector<Candidate>& glyphs, double baseline,
                 const StrokeFont& font, double h, const std::vector<Match>& matches)
    {
        if (std::any_of(matches.begin(), matches.end(), [](const Match& m) { return m.tmpl == nullptr; }))
            return;
        std::u32string text;
        int letters = 0;
        bool same = true;
        double worst = 0;
        for (std::size_t k = 0; k < matches.size(); ++k) {
            const Match& m = matches[k];
            if (k > 0) {
                // The font's advance puts each glyph where the next one starts; a gap of half a space is a space.
                const Match& prev = matches[k - 1];
                const double advance = prev.tmpl->glyph->advance * h;
                const double gap = m.origin - (prev.origin + advance);
                if (gap > 0.5 * font.space * h)
                    text += U' ';
                else if (gap < -0.25 * advance || gap > 0.3 * advance)
                    return;
                same = same && m.code == matches[0].code;
            }
            text += m.code;
            letters += alnum(m.code);
            worst = std::max(worst, m.cost);
        }
        const std::size_t count = matches.size();
        const bool square = angle == 0 || angle == 90 || angle == 180 || angle == 270;
        if (letters == 0 || (count < 3 && !square))
            return;
        if (count == 1 && (angle != 0 || lookalike(text[0]) || !alnum(text[0]) || !alone(glyphs[0], h)))
            return;
        if (count > 1 && (letters < 2 || (same && lookalike(text[0]))))
            return;
        // Every stroke of the line in one style.
        Proposal p;
        for (const auto& g : glyphs)
            for (std::size_t c : g.comps)
                p.pieces.insert(p.pieces.end(), comps_[c].pieces.begin(), comps_[c].pieces.end());
        const Style& style = drawing_.entities[pieces_[p.pieces.front()].entity].style;
        for (std::size_t i : p.pieces) {
            const Style& other = drawing_.entities[pieces_[i].entity].style;
            if (other.layer != style.layer || !(other.color == style.color))
                return;
        }
        Text t;
        for (char32_t c : text)
            appendUtf8(t.utf8, c);
        t.insertion = frame.point(matches[0].origin, baseline);
        t.height = h;
        t.rotationDeg = std::fmod(angle, 360.0);
        t.style = styleFor(font);
        p.glyphs = count;
        p.cost = worst;
        p.text = Entity{style, std::move(t)};
        proposals_.push_back(std::move(p));
    }

    // No other strokes near the glyph: a letter standing alone, not one of a line read across.
    bool alone(const Candidate& g, double h) const
    {
        for (std::size_t c : g.comps) {
            Box near = comps_[c].box;
            near.min = {near.min.x - h, near.min.y - h};
            near.max = {near.max.x + h, near.max.y + h};
            for (std::size_t other : compGrid_.find(near))
                if (std::find(g.comps.begin(), g.comps.end(), other) == g.comps.end())
                    return false;
        }
        return true;
    }

    // The proposals with the most glyphs first: a column of letters read across the line is a row of single ones.
    void commit()
    {
        std::stable_sort(proposals_.begin(), proposals_.end(), [](const Proposal& a, const Proposal& b) {
            return a.glyphs != b.glyphs ? a.glyphs > b.glyphs : a.cost < b.cost;
        });
        for (auto& p : proposals_) {
            if (std::any_of(p.pieces.begin(), p.pieces.end(), [&](std::size_t i) { return pieces_[i].used; }))
                continue;
            std::size_t first = pieces_[p.pieces.front()].entity;
            for (std::size_t i : p.pieces) {
                pieces_[i].used = true;
                first = std::min(first, pieces_[i].entity);
            }
            texts_.push_back({first, std::move(p.text)});
        }
    }

    std::string styleFor(const StrokeFont& font)
    {
        const std::string name = font.name;
        if (std::none_of(drawing_.textStyles.begin(), drawing_.textStyles.end(),
                         [&](const TextStyle& s) { return s.name == name; }))
            drawing_.textStyles.push_back({name, font.cadFont.empty() ? name : font.cadFont});
        return name;
    }

    Drawing& drawing_;
    std::vector<FontTemplates> fonts_;
    std::vector<Piece> pieces_;
    std::vector<Component> comps_;
    std::vector<Piece> compBoxes_;
    PieceGrid compGrid_;
    std::vector<Proposal> proposals_;
    std::vector<std::pair<std::size_t, Entity>> texts_;
};

} // namespace

TextRecovery recognizeStrokedText(Drawing& drawing, const std::vector<StrokeFont>& fonts)
{
    return Recognizer(drawing, fonts).run();
}

} // namespace unplot::engine::strokes
