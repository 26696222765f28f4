// Invisible twins: text the PDF does not draw, over the strokes of the same glyphs.

#include "pieces.h"
#include "textrecovery.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace unplot::engine::strokes {
namespace {

// The twin's glyphs seldom have the strokes' metrics (a schematic draws a stroke font and puts Helvetica behind
// it): the strokes may start a little before the twin, end well after it, and reach below the baseline.
constexpr double kBefore = 0.3, kAfter = 0.6, kBelow = 0.45, kAbove = 0.45; // in cap heights
constexpr double kMaxGlyphMm = 40;

struct Frame {
    Vec2 origin, u, v; // v: up the glyphs
    double s(Vec2 p) const { return (p.x - origin.x) * u.x + (p.y - origin.y) * u.y; }
    double t(Vec2 p) const { return (p.x - origin.x) * v.x + (p.y - origin.y) * v.y; }
};

bool hasInk(const std::string& utf8)
{
    return std::any_of(utf8.begin(), utf8.end(), [](char c) { return c != ' '; });
}

bool hasTallCharacter(const std::string& utf8)
{
    return std::any_of(utf8.begin(), utf8.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::string_view("bdfhklt").find(c) != std::string_view::npos;
    });
}

// A stroke wider than a glyph that reaches both below and above the text is the frame drawn round it (a
// schematic's label box), not a stroke of it.
bool framesText(const Piece& p, const Frame& f, double h)
{
    double s0 = 1e300, s1 = -1e300, t0 = 1e300, t1 = -1e300;
    for (Vec2 q : p.points) {
        s0 = std::min(s0, f.s(q)), s1 = std::max(s1, f.s(q));
        t0 = std::min(t0, f.t(q)), t1 = std::max(t1, f.t(q));
    }
    return s1 - s0 > 2 * h && t0 < -0.15 * h && t1 > 1.15 * h;
}

} // namespace

TextRecovery recoverTwins(Drawing& drawing)
{
    TextRecovery result;
    std::vector<std::size_t> twins;
    for (std::size_t i = 0; i < drawing.entities.size(); ++i) {
        const Entity& e = drawing.entities[i];
        if (const auto* t = std::get_if<Text>(&e.geometry); t && e.style.layer == kInvisibleTextLayer && t->lengthMm > 0 &&
                                                            t->height > 0 && hasInk(t->utf8))
            twins.push_back(i);
    }
    if (twins.empty())
        return result;
    std::vector<Piece> pieces = collectPieces(drawing, kMaxGlyphMm, Ink::StrokesAndFills);
    if (pieces.empty())
        return result;
    const PieceGrid grid(pieces);
    std::vector<std::pair<std::size_t, Entity>> none;
    // Each twin's own box, as far as its glyphs reach; strokes wider than the twin's glyphs run on past it (and,
    // where the text is not left-aligned, begin before it), as far as they continue without a gap, but never into
    // another twin's box.
    struct Place {
        Frame f;
        double s0, end, s1, t0, t1, back; // back: how far before s0 strokes may begin
        Box search(double from, double to) const
        {
            Box b;
            for (double s : {from, to})
                for (double t : {t0, t1})
                    b.add({f.origin.x + s * f.u.x + t * f.v.x, f.origin.y + s * f.u.y + t * f.v.y});
            return b;
        }
        bool holds(const Piece& p, double from, double to) const
        {
            return std::all_of(p.points.begin(), p.points.end(), [&](Vec2 q) {
                const double s = f.s(q), t = f.t(q);
                return s >= from && s <= to && t >= t0 && t <= t1;
            });
        }
    };
    std::vector<Place> places;
    // The twin whose own box holds each piece, the smallest where several do (a small text inside a large one's box
    // is the small one's), or none.
    constexpr std::size_t kNone = ~std::size_t(0);
    std::vector<std::size_t> owner(pieces.size(), kNone);
    std::vector<double> ownerArea(pieces.size(), 1e300);
    for (std::size_t index : twins) {
        const Text& text = std::get<Text>(drawing.entities[index].geometry);
        const double h = text.height, a = text.rotationDeg * std::numbers::pi / 180;
        const Frame f{text.insertion, {std::cos(a), std::sin(a)}, {-std::sin(a), std::cos(a)}};
        places.push_back({f, -kBefore * h, text.lengthMm + kAfter * h, 1.5 * text.lengthMm + kAfter * h,
                          -kBelow * h, (1 + kAbove) * h, -kBefore * h - 0.6 * text.lengthMm});
        const Place& p = places.back();
        const double area = (p.end - p.s0) * (p.t1 - p.t0);
        for (std::size_t i : grid.find(p.search(p.s0, p.end)))
            if (area < ownerArea[i] && p.holds(pieces[i], p.s0, p.end))
                owner[i] = places.size() - 1, ownerArea[i] = area;
    }
    for (std::size_t n = 0; n < twins.size(); ++n) {
        const std::size_t index = twins[n];
        const Place& place = places[n];
        const Frame& f = place.f;
        Entity& twin = drawing.entities[index];
        Text& text = std::get<Text>(twin.geometry);
        const double h = text.height;
        // The strokes wholly inside the twin's box, by style.
        std::map<std::tuple<std::string, std::uint8_t, std::uint8_t, std::uint8_t>, std::vector<std::size_t>> byStyle;
        for (std::size_t i : grid.find(place.search(place.back, place.s1))) {
            const Piece& p = pieces[i];
            if (p.used)
                continue;
            const bool inside = owner[i] == n || (owner[i] == kNone && place.holds(p, place.back, place.s1));
            const Style& st = drawing.entities[p.entity].style;
            if (inside && !framesText(p, f, h))
                byStyle[{st.layer, st.color.r, st.color.g, st.color.b}].push_back(i);
        }
        // The style whose strokes span the twin's line best (a text's strokes, not a few of a smaller text's or of
        // line work inside its box), then the one with the most strokes.
        std::vector<std::size_t>* chosen = nullptr;
        double bestSpan = -1;
        for (auto& [key, list] : byStyle) {
            Box span;
            for (std::size_t i : list)
                for (Vec2 q : pieces[i].points)
                    span.add({f.s(q), f.t(q)});
            const double cover = std::min(1.0, span.width() / std::max(text.lengthMm, h)) * std::min(1.0, span.height() / h);
            if (cover > bestSpan + 0.1 || (cover > bestSpan - 0.1 && list.size() > chosen->size()))
                chosen = &list, bestSpan = std::max(bestSpan, cover);
        }
        if (!chosen)
            continue;
        auto start = [&](std::size_t i) {
            double m = 1e300;
            for (Vec2 q : pieces[i].points)
                m = std::min(m, f.s(q));
            return m;
        };
        auto end = [&](std::size_t i) {
            double m = -1e300;
            for (Vec2 q : pieces[i].points)
                m = std::max(m, f.s(q));
            return m;
        };
        // Before the twin (centred or right-aligned text is wider as strokes), as far back as the strokes continue
        // without a gap; after it, as far on.
        std::vector<std::size_t> before, after;
        for (std::size_t i : *chosen)
            (start(i) < place.s0 ? before : after).push_back(i);
        std::sort(before.begin(), before.end(), [&](std::size_t x, std::size_t y) { return end(x) > end(y); });
        double back = place.s0;
        for (std::size_t k = 0; k < before.size(); ++k) {
            if (end(before[k]) < back - kAfter * h) {
                before.resize(k);
                break;
            }
            back = std::min(back, start(before[k]));
        }
        std::sort(after.begin(), after.end(), [&](std::size_t x, std::size_t y) { return start(x) < start(y); });
        double reach = kAfter * h;
        for (std::size_t k = 0; k < after.size(); ++k) {
            if (start(after[k]) > std::max(reach, text.lengthMm) + kAfter * h) {
                after.resize(k);
                break;
            }
            reach = std::max(reach, end(after[k]));
        }
        *chosen = std::move(after);
        chosen->insert(chosen->end(), before.begin(), before.end());
        if (chosen->empty())
            continue;
        // The strokes must fill the twin's line: most of its length and, with capitals or digits, most of its height.
        double smin = 1e300, smax = -1e300, tmax = -1e300, tmin = 1e300;
        for (std::size_t i : *chosen)
            for (Vec2 q : pieces[i].points) {
                smin = std::min(smin, f.s(q)), smax = std::max(smax, f.s(q));
                tmin = std::min(tmin, f.t(q)), tmax = std::max(tmax, f.t(q));
            }
        const bool tall = hasTallCharacter(text.utf8);
        if (smax - smin < 0.4 * text.lengthMm || (tall && tmax < 0.6 * h) || tmax - tmin < 0.05 * h)
            continue;
        const Style strokeStyle = drawing.entities[pieces[chosen->front()].entity].style;
        for (std::size_t i : *chosen)
            pieces[i].used = true;
        if (tall && tmax < 1.3 * h)
            text.height = tmax; // the strokes' own cap height
        twin.style = strokeStyle;
        ++result.textsRecovered;
    }
    result.strokesReplaced = replaceUsedEntities(drawing, pieces, std::move(none));
    return result;
}

TextRecovery recoverText(Drawing& drawing, const std::vector<StrokeFont>& fonts, LineReader* reader)
{
    TextRecovery recovered = recoverTwins(drawing);
    recovered += recognizeStrokedText(drawing, fonts, reader);
    return recovered;
}

} // namespace unplot::engine::strokes
