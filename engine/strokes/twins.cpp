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
    std::vector<Piece> pieces = collectPieces(drawing, kMaxGlyphMm, true);
    if (pieces.empty())
        return result;
    const PieceGrid grid(pieces, 5.0);
    std::vector<std::pair<std::size_t, Entity>> none;
    // Each twin's own box, as far as its glyphs reach; strokes wider than the twin's glyphs run on past it, as far
    // as they continue without a gap, but never into another twin's box.
    struct Place {
        Frame f;
        double s0, end, s1, t0, t1;
        Box search(double to) const
        {
            Box b;
            for (double s : {s0, to})
                for (double t : {t0, t1})
                    b.add({f.origin.x + s * f.u.x + t * f.v.x, f.origin.y + s * f.u.y + t * f.v.y});
            return b;
        }
        bool holds(const Piece& p, double to) const
        {
            return std::all_of(p.points.begin(), p.points.end(), [&](Vec2 q) {
                const double s = f.s(q), t = f.t(q);
                return s >= s0 && s <= to && t >= t0 && t <= t1;
            });
        }
    };
    std::vector<Place> places;
    std::vector<int> owners(pieces.size(), 0); // how many twins' own boxes hold each piece
    for (std::size_t index : twins) {
        const Text& text = std::get<Text>(drawing.entities[index].geometry);
        const double h = text.height, a = text.rotationDeg * std::numbers::pi / 180;
        const Frame f{text.insertion, {std::cos(a), std::sin(a)}, {-std::sin(a), std::cos(a)}};
        places.push_back({f, -kBefore * h, text.lengthMm + kAfter * h, 1.5 * text.lengthMm + kAfter * h,
                          -kBelow * h, (1 + kAbove) * h});
        for (std::size_t i : grid.find(places.back().search(places.back().end)))
            owners[i] += places.back().holds(pieces[i], places.back().end);
    }
    for (std::size_t n = 0; n < twins.size(); ++n) {
        const std::size_t index = twins[n];
        const Place& place = places[n];
        const Frame& f = place.f;
        Entity& twin = drawing.entities[index];
        Text& text = std::get<Text>(twin.geometry);
        const double h = text.height;
        // The strokes wholly inside the twin's box, by style; the style with the most of them wins.
        std::map<std::tuple<std::string, std::uint8_t, std::uint8_t, std::uint8_t>, std::vector<std::size_t>> byStyle;
        for (std::size_t i : grid.find(place.search(place.s1))) {
            const Piece& p = pieces[i];
            if (p.used)
                continue;
            const bool own = place.holds(p, place.end);
            const bool inside = own ? true : owners[i] == 0 && place.holds(p, place.s1);
            const Style& st = drawing.entities[p.entity].style;
            if (inside)
                byStyle[{st.layer, st.color.r, st.color.g, st.color.b}].push_back(i);
        }
        std::vector<std::size_t>* chosen = nullptr;
        for (auto& [key, list] : byStyle)
            if (!chosen || list.size() > chosen->size())
                chosen = &list;
        if (!chosen)
            continue;
        auto start = [&](std::size_t i) {
            double m = 1e300;
            for (Vec2 q : pieces[i].points)
                m = std::min(m, f.s(q));
            return m;
        };
        std::sort(chosen->begin(), chosen->end(), [&](std::size_t x, std::size_t y) { return start(x) < start(y); });
        double reach = kAfter * h;
        for (std::size_t k = 0; k < chosen->size(); ++k) {
            const double from = start((*chosen)[k]);
            if (from > std::max(reach, text.lengthMm) + kAfter * h) {
                chosen->resize(k);
                break;
            }
            for (Vec2 q : pieces[(*chosen)[k]].points)
                reach = std::max(reach, f.s(q));
        }
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

TextRecovery recoverText(Drawing& drawing, const std::vector<StrokeFont>& fonts)
{
    TextRecovery twins = recoverTwins(drawing);
    const TextRecovery recognized = recognizeStrokedText(drawing, fonts);
    twins.textsRecovered += recognized.textsRecovered;
    twins.strokesReplaced += recognized.strokesReplaced;
    return twins;
}

} // namespace unplot::engine::strokes
