// Recognition of stroked text without a twin: strokes grouped into glyphs and lines of text, matched against the
// glyphs of stroke fonts in both directions (the strokes must lie on the font's glyph and the glyph on the strokes).

#include "documentfont.h"
#include "layout.h"
#include "textrecovery.h"
#include "utf8.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <numeric>
#include <optional>
#include <string_view>

namespace unplot::engine::strokes {
namespace {

constexpr double kMaxGlyphMm = 14;       // larger strokes are not glyphs (cap heights up to 10 mm)
constexpr double kMinCapMm = 0.5, kMaxCapMm = 11;
constexpr double kSample = 0.05;         // sample spacing, in cap heights
constexpr double kMeanTolerance = 0.015; // mean distance between strokes and glyph, in cap heights
constexpr double kMaxTolerance = 0.08;   // largest distance
constexpr double kUnmatched = 1.0;       // the cost of a glyph no template matches
constexpr double kEndGap = 0.9;          // a glyph this close (in heights) beyond a line's end belongs to it
constexpr double kDocumentCost = 0.5;    // a reading from the page's own font yields to a font file's
constexpr double kMinRuleMm = 2;         // straight strokes shorter than this carry no dimension value
constexpr double kRuleGap = 0.8;         // the most a dimension value stands above its line, in heights
constexpr std::size_t kMinWidthGlyphs = 3; // lines with fewer glyphs of full height are read at the fonts' widths only;
constexpr int kPlottedLines = 2;         // a font that reads so many lines of them at its width,
constexpr double kPlottedShare = 0.05;   // and this share of such lines, reads others widened,
constexpr double kMinWidthFactor = 0.6;  // the narrowest condensed (its inverse the widest),
constexpr double kWidthStep = 0.05;      // in these steps,
constexpr double kMinOblique = 4;        // degrees: lines whose stems lean less are read upright only
constexpr double kWidenedTolerance = 0.5 * kMeanTolerance; // each glyph of them (and of slanting lines) closer to
                                                           // its template than this

// The characters recognised: ASCII and the symbols of engineering drawings.
bool wanted(char32_t c)
{
    return (c > U' ' && c < 0x7F) || std::u32string_view(U"±°Ø×∅µ").find(c) != std::u32string_view::npos;
}

bool alnum(char32_t c)
{
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9');
}

// In fonts that draw I and l alike (the Hershey fonts and their kin) the letters around one tell which it is: l after
// a small letter ("Model") or at a word's start in text of small letters only ("line"), else I ("DETAIL", "Input").
void settleIOrL(const StrokeFont& font, std::u32string& text)
{
    const auto i = font.glyphs.find(U'I'), l = font.glyphs.find(U'l');
    if (i == font.glyphs.end() || l == font.glyphs.end() || i->second.strokes != l->second.strokes)
        return;
    auto letter = [&](std::size_t k) { return k < text.size() && text[k] != U'I' && text[k] != U'l' && alnum(text[k]) && text[k] > U'9'; };
    auto small = [&](std::size_t k) { return text[k] >= U'a' && text[k] <= U'z'; };
    bool capitals = false;
    for (std::size_t k = 0; k < text.size(); ++k)
        capitals = capitals || (letter(k) && !small(k));
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] != U'I' && text[k] != U'l')
            continue;
        std::size_t before = k, after = k + 1;
        while (before > 0 && !letter(before - 1) && text[before - 1] != U' ')
            --before;
        while (after < text.size() && !letter(after) && text[after] != U' ')
            ++after;
        const bool lower = before > 0 && letter(before - 1) ? small(before - 1) : !capitals && letter(after);
        text[k] = lower ? U'l' : U'I';
    }
}

// In fonts that draw O and 0 alike (the GOST font) the characters of its word tell: 0 among digits ("105"), O among
// letters ("ON").
void settleOOr0(const StrokeFont& font, std::u32string& text)
{
    const auto o = font.glyphs.find(U'O'), zero = font.glyphs.find(U'0');
    if (o == font.glyphs.end() || zero == font.glyphs.end() || o->second.strokes != zero->second.strokes)
        return;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] != U'O' && text[k] != U'0')
            continue;
        int digits = 0, letters = 0;
        auto count = [&](char32_t c) {
            digits += c >= U'1' && c <= U'9';
            letters += alnum(c) && c > U'9' && c != U'O';
        };
        for (std::size_t i = k; i > 0 && text[i - 1] != U' '; --i)
            count(text[i - 1]);
        for (std::size_t i = k + 1; i < text.size() && text[i] != U' '; ++i)
            count(text[i]);
        if (digits != letters)
            text[k] = digits > letters ? U'0' : U'O';
    }
}

// Shapes that lines, circles and crosses of a drawing make as well: never a text on their own.
bool lookalike(char32_t c)
{
    return std::u32string_view(U"0OoIl1xXvVLT").find(c) != std::u32string_view::npos;
}

// The mean distance of the points, moved by `dx`, from the segments; more than kMeanTolerance (without finishing)
// when a point lies further than kMaxTolerance from them.
double meanDistance(const std::vector<Vec2>& points, double dx, const Segments& segments, double scale)
{
    const double limit = kMaxTolerance * kMaxTolerance * scale * scale;
    const double most = kMeanTolerance * scale * double(points.size());
    std::size_t hint = 0;
    double sum = 0;
    for (Vec2 p : points) {
        const double d = segments.squaredDistance({p.x + dx, p.y}, hint);
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

// A glyph of a font as recognition compares strokes with it, self-contained.
struct Template {
    char32_t code;
    double centre; // of the ink along x
    double left, right, bottom, top, advance; // its box and advance, in cap heights
    std::vector<Vec2> samples;
    double ink;    // the strokes' length
    NearMask mask;
    Segments segments;
    const NearMask& near() const { return mask; }
    const Segments& strokes() const { return segments; }
    double width() const { return right - left; }
};

} // namespace

// What recognition derives from a font, made once for it: its templates, narrowest first, and the middle width of
// its capitals and digits (in cap heights).
struct GlyphTemplates {
    std::vector<Template> glyphs;
    double width = 0;
};

namespace {

struct FontTemplates {
    const StrokeFont* font;
    std::shared_ptr<const GlyphTemplates> made;
    const std::vector<Template>& glyphs() const { return made->glyphs; }
    double width() const { return made->width; }
};

std::shared_ptr<const GlyphTemplates> templatesOf(const StrokeFont& font)
{
    auto f = std::make_shared<GlyphTemplates>();
    auto add = [&](char32_t code, const StrokeGlyph& g) {
        if (!wanted(code) || g.strokes.empty())
            return;
        Template t{code, (g.min.x + g.max.x) / 2, g.min.x, g.max.x, g.min.y, g.max.y, g.advance, {}, 0,
                   NearMask(g.strokes, kMaxTolerance), Segments(g.strokes)};
        for (const auto& stroke : g.strokes) {
            densify(stroke, kSample, t.samples);
            t.ink += inkLength(stroke);
        }
        f->glyphs.push_back(std::move(t));
    };
    for (const auto& [code, g] : font.glyphs)
        add(code, g);
    for (const auto& [code, g] : font.variants)
        add(code, g);
    std::sort(f->glyphs.begin(), f->glyphs.end(), [](const Template& a, const Template& b) { return a.width() < b.width(); });
    std::vector<double> widths;
    for (const auto& t : f->glyphs)
        if ((t.code >= U'A' && t.code <= U'Z') || (t.code >= U'0' && t.code <= U'9'))
            widths.push_back(t.width());
    f->width = median(std::move(widths));
    return f;
}

// The fonts' templates, made for each font the first time any page needs them.
std::vector<FontTemplates> templatesOf(const std::vector<StrokeFont>& fonts)
{
    static std::mutex making;
    const std::lock_guard lock(making);
    std::vector<FontTemplates> out;
    for (const auto& font : fonts) {
        if (!font.templates)
            font.templates = templatesOf(font);
        out.push_back({&font, font.templates});
    }
    return out;
}

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
    // Over strokes, both ways; over filled glyph outlines, the page's own font only.
    Recognizer(Drawing& drawing, const std::vector<StrokeFont>& fonts, LineReader* reader, Ink ink, std::vector<Piece> pieces)
        : drawing_(drawing), fonts_(fonts), templates_(ink == Ink::Fills ? std::vector<FontTemplates>{} : templatesOf(fonts)),
          reader_(reader), filled_(ink == Ink::Fills), pieces_(std::move(pieces)), layout_(pieces_, kMaxGlyphMm)
    {
        for (const Piece& p : pieces_)
            ink_.push_back(inkLength(p.points));
    }

    TextRecovery run()
    {
        TextRecovery result;
        if ((templates_.empty() && !reader_) || layout_.components().empty())
            return result;
        std::vector<TextLine> unread;
        for (double angle : layout_.textAngles())
            for (TextLine& line : layout_.linesAt(angle))
                if (!readLine(line))
                    unread.push_back(std::move(line));
        if (!filled_)
            readDimensionValues();
        // Lines condensed or widened, where a font reads a share of the page's lines at its own width.
        const auto full = std::count_if(unread.begin(), unread.end(), [](const TextLine& l) { return fullHeight(l) >= kMinWidthGlyphs; });
        for (std::size_t i = 0; i < templates_.size(); ++i)
            plotted_.push_back(linesRead_[i] >= kPlottedLines && double(linesRead_[i]) >= kPlottedShare * double(linesRead_[i] + full));
        if (std::find(plotted_.begin(), plotted_.end(), true) != plotted_.end())
            std::erase_if(unread, [&](const TextLine& line) { return readWidened(line); });
        if (reader_)
            for (const LineText& read : readDocumentFont(layout_, unread, *reader_, fonts_)) {
                const TextLine& line = unread[read.line];
                offer(line, read.text, line.glyphs.front().s0, read.capHeight, documentStyle(), kDocumentCost + read.cost);
            }
        commit();
        result.textsRecovered = int(texts_.size());
        result.strokesReplaced = replaceUsedEntities(drawing_, pieces_, std::move(texts_));
        return result;
    }

private:
    // Dimension values: the glyphs of one look standing just above a straight stroke of it, read along it. Read
    // apart from the rest, the glyphs of a value no longer stack with the line work about it (its extension lines, a
    // centre line through it), and values at angles no other text keeps to are read at all.
    void readDimensionValues()
    {
        const Rules& rules = this->rules();
        std::map<long, std::pair<double, std::vector<std::size_t>>> above; // by the reading angle in tenths of degrees
        const auto& comps = layout_.components();
        std::vector<std::size_t> seen(rules.segments.size(), comps.size()); // the component that last met each rule
        for (std::size_t c = 0; c < comps.size(); ++c) {
            const Box& b = comps[c].box;
            const double size = std::max(b.width(), b.height());
            if (size > 1.6 * kMaxCapMm)
                continue;
            const Vec2 centre{(b.min.x + b.max.x) / 2, (b.min.y + b.max.y) / 2};
            const double reach = kRuleGap * kMaxCapMm + size;
            const Box near{{b.min.x - reach, b.min.y - reach}, {b.max.x + reach, b.max.y + reach}};
            const int look = pieces_[comps[c].pieces.front()].look;
            rules.grid.visit(near, [&](std::size_t r) {
                if (rules.segments[r].look != look || seen[r] == c)
                    return;
                seen[r] = c;
                const Frame& f = rules.frames[r];
                const Vec2 a = rules.segments[r].points[0], e = rules.segments[r].points[1];
                const double s = f.s(centre), sa = f.s(a), se = f.s(e);
                if (s < std::min(sa, se) || s > std::max(sa, se))
                    return;
                const double level = f.t(a) + (f.t(e) - f.t(a)) * (s - sa) / (se - sa);
                double low = 1e300, high = -1e300; // of the box's corners, around the component's own
                for (Vec2 q : {b.min, b.max, Vec2{b.min.x, b.max.y}, Vec2{b.max.x, b.min.y}})
                    low = std::min(low, f.t(q)), high = std::max(high, f.t(q));
                if (high <= level || low - level > kRuleGap * kMaxCapMm)
                    return;
                double bottom = 1e300, top = -1e300;
                for (std::size_t p : comps[c].pieces)
                    for (Vec2 q : pieces_[p].points)
                        bottom = std::min(bottom, f.t(q)), top = std::max(top, f.t(q));
                if (bottom - level < -0.05 * (top - bottom) || bottom - level > kRuleGap * kMaxCapMm)
                    return;
                auto& [angle, list] = above[std::lround(rules.readings[r] * 10) % 3600];
                angle = rules.readings[r];
                list.push_back(c);
            });
        }
        for (auto& [key, entry] : above) {
            auto& [angle, list] = entry;
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
            for (TextLine& line : layout_.linesAt(angle, &list))
                readLine(line);
        }
    }

    // Proposes the line's text when a stroke font reads it whole.
    // Proposes the line's text when a stroke font reads it whole, upright or slanting as its stems do (an oblique
    // angle).
    bool readLine(const TextLine& line)
    {
        if (readLineAt(line, 1, nullptr))
            return true;
        if (fullHeight(line) < kMinWidthGlyphs)
            return false;
        const double oblique = obliqueOf(line);
        if (oblique == 0)
            return false;
        slant_ = std::tan(oblique * std::numbers::pi / 180);
        const bool read = readLineAt(line, 1, nullptr);
        slant_ = 0;
        return read;
    }

    // How far the line's stems lean right of upright (degrees), where most of its straight strokes near upright lean
    // alike and by kMinOblique or more; else 0.
    double obliqueOf(const TextLine& line) const
    {
        const Frame& f = line.frame;
        std::vector<std::pair<double, double>> leans; // (degrees, length)
        double total = 0;
        for (const auto& g : line.glyphs)
            for (std::size_t c : g.comps)
                for (std::size_t p : layout_.components()[c].pieces) {
                    const auto& points = pieces_[p].points;
                    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
                        double ds = f.s(points[i + 1]) - f.s(points[i]), dt = f.t(points[i + 1]) - f.t(points[i]);
                        if (dt < 0)
                            ds = -ds, dt = -dt;
                        if (dt < 0.3 * line.top || std::abs(ds) > 0.7 * dt)
                            continue; // short, or further than 35° from upright
                        const double length = std::hypot(ds, dt);
                        leans.emplace_back(std::atan2(ds, dt) * 180 / std::numbers::pi, length), total += length;
                    }
                }
        if (leans.size() < 3)
            return 0;
        std::sort(leans.begin(), leans.end());
        double half = 0, median = 0;
        for (auto [lean, length] : leans)
            if ((half += length) >= total / 2) {
                median = lean;
                break;
            }
        double alike = 0;
        for (auto [lean, length] : leans)
            alike += std::abs(lean - median) <= 3 ? length : 0;
        return std::abs(median) >= kMinOblique && alike >= 0.6 * total ? std::round(median * 2) / 2 : 0;
    }

    // Proposes the line's text when a font the page's other lines are plotted in reads it condensed or widened (a
    // text style's width factor), in steps of kWidthStep from the width its glyphs' middle one suggests.
    bool readWidened(const TextLine& line)
    {
        if (fullHeight(line) < kMinWidthGlyphs)
            return false;
        std::vector<double> widths;
        for (const auto& g : line.glyphs)
            if (g.height() >= 0.6 * line.top)
                widths.push_back(g.width() / line.top);
        const double width = median(std::move(widths));
        for (std::size_t i = 0; i < templates_.size(); ++i) {
            const FontTemplates& font = templates_[i];
            if (!plotted_[i] || font.width() <= 0)
                continue;
            std::vector<double> factors;
            for (double f = kMinWidthFactor; f <= 1 / kMinWidthFactor + 1e-9; f += kWidthStep)
                if (std::abs(f - 1) > kWidthStep / 2)
                    factors.push_back(std::round(f * 100) / 100);
            const double guess = width / font.width();
            std::stable_sort(factors.begin(), factors.end(),
                             [&](double a, double b) { return std::abs(a - guess) < std::abs(b - guess); });
            for (double f : factors)
                if (readLineAt(line, f, &font))
                    return true;
        }
        return false;
    }

    // How many of the line's glyphs stand most of its height.
    static std::size_t fullHeight(const TextLine& line)
    {
        return std::size_t(std::count_if(line.glyphs.begin(), line.glyphs.end(),
                                         [&](const Candidate& g) { return g.height() >= 0.6 * line.top; }));
    }

    // Reads the line at the width factor, in the font given or in any.
    bool readLineAt(const TextLine& line, double widthFactor, const FontTemplates* only)
    {
        const std::size_t n = line.glyphs.size();
        const double top = line.top;
        struct Reading {
            const FontTemplates* font = nullptr;
            double h = 0, cost = 1e300;
            std::vector<Match> matches;
            int matched = 0;
        };
        std::vector<Reading> readings;
        // The tallest glyph gives the cap height, or the x-height of small letters alone; when it rises a little above
        // other glyphs (an i's dot, a round letter's overshoot), their level gives them too.
        const double below = levelBelowTop(line);
        for (const auto& font : templates_)
            for (const double h : {top, top / font.font->xHeight, below, below / font.font->xHeight}) {
                if (h == 0 || (only && &font != only))
                    continue;
                // Lower case without ascenders ("mm", "on") only in longer lines: "OU" reads as "ou" too.
                if (h < kMinCapMm || h > kMaxCapMm || (h != top && n < 3))
                    continue;
                Reading r;
                r.font = &font;
                r.h = h;
                // Distances count in the height of the glyphs seen, whatever the cap height supposed.
                if (!matchGlyphs(line, h, widthFactor, std::min(1.0, top / h), font, r.matches))
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
            return false;
        // A string the same strokes also read as at another height (xo against XO) is not certain.
        for (const auto& r : readings)
            if (&r != best && r.font == best->font && r.matched == best->matched && r.cost < best->cost * 1.3 &&
                stringOf(r.matches) != stringOf(best->matches))
                return false;
        if (!propose(line, *best->font->font, best->h, widthFactor, best->matches))
            return false;
        if (widthFactor == 1 && n >= kMinWidthGlyphs) { // every font that reads it so: fonts of one family draw alike
            std::vector<bool> credited(templates_.size(), false);
            for (const auto& r : readings) {
                const std::size_t i = std::size_t(r.font - templates_.data());
                if (!credited[i] && r.cost <= best->cost * 1.3 + 1e-9 && stringOf(r.matches) == stringOf(best->matches))
                    credited[i] = true, ++linesRead_[i];
            }
        }
        return true;
    }

    // The level most glyphs standing on the baseline reach a little below the tallest (the greater on a tie), or 0.
    static double levelBelowTop(const TextLine& line)
    {
        double best = 0;
        int most = 0;
        auto standing = [&](const Candidate& g) { return std::abs(g.t0 - line.baseline) <= 0.08 * line.top; };
        for (const auto& g : line.glyphs) {
            const double level = g.t1 - line.baseline;
            if (!standing(g) || level >= 0.995 * line.top || level <= 0.8 * line.top)
                continue;
            int k = 0;
            for (const auto& o : line.glyphs)
                k += standing(o) && std::abs(o.t1 - g.t1) <= 0.005 * line.top;
            if (k > most || (k == most && level > best))
                most = k, best = level;
        }
        return best;
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
    bool matchGlyphs(const TextLine& line, double h, double widthFactor, double strictness, const FontTemplates& font,
                     std::vector<Match>& matches)
    {
        const std::vector<Candidate>& glyphs = line.glyphs;
        const std::size_t n = glyphs.size();
        std::vector<std::size_t> from(n + 1, 0);
        std::vector<double> cost(n + 1, 1e300);
        std::vector<Match> via(n + 1);
        cost[0] = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (cost[i] >= 1e300) {
                if (i > 0 && cost[i - 1] >= 1e300)
                    return false; // no glyph reaches past here: the line cannot be read whole
                continue;
            }
            Candidate one = glyphs[i];
            // Two side by side as one only as the font draws them: condensed or slanting, more shapes would pass.
            for (std::size_t j = i + 1; j <= std::min(n, i + (widthFactor == 1 && slant_ == 0 ? 2 : 1)); ++j) {
                if (j == i + 2) {
                    if (glyphs[i + 1].s1 - one.s0 > 1.3 * h * widthFactor)
                        break;
                    one.add(glyphs[i + 1]);
                }
                const Match m = bestMatch(line, one, h, widthFactor, strictness, font);
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
        for (std::size_t j = n; j > 0; j = from[j])
            matches.push_back(via[j]);
        std::reverse(matches.begin(), matches.end());
        return true;
    }

    // `widthFactor`: how much wider the glyphs stand than the font draws them.
    Match bestMatch(const TextLine& line, const Candidate& g, double h, double widthFactor, double strictness,
                    const FontTemplates& font)
    {
        const Frame& frame = line.frame;
        const double baseline = line.baseline;
        // The candidate in cap heights, x from its ink's centre; the templates its box and ink allow, before any
        // distance is measured.
        // Slanting glyphs set upright: s less the slant times the height above the baseline.
        const double slant = slant_;
        auto along = [&](Vec2 q) { return frame.s(q) - slant * (frame.t(q) - baseline); };
        double s0 = g.s0, s1 = g.s1;
        if (slant != 0) {
            s0 = 1e300, s1 = -1e300;
            for (std::size_t c : g.comps)
                for (std::size_t p : layout_.components()[c].pieces)
                    for (Vec2 q : pieces_[p].points)
                        s0 = std::min(s0, along(q)), s1 = std::max(s1, along(q));
        }
        const double centre = (s0 + s1) / 2, across = h * widthFactor;
        const double w = (s1 - s0) / across, bottom = (g.t0 - baseline) / h, top = (g.t1 - baseline) / h;
        double ink = 0;
        for (std::size_t c : g.comps)
            for (std::size_t p : layout_.components()[c].pieces)
                if (widthFactor == 1 && slant == 0)
                    ink += ink_[p] / h;
                else
                    for (std::size_t i = 0; i + 1 < pieces_[p].points.size(); ++i) {
                        const Vec2 a = pieces_[p].points[i], b = pieces_[p].points[i + 1];
                        ink += std::hypot((along(b) - along(a)) / across, (frame.t(b) - frame.t(a)) / h);
                    }
        std::vector<const Template*>& possible = possible_;
        possible.clear();
        // |w - tw| <= 0.1 + 0.15 tw holds for tw from (w - 0.1) / 1.15 to (w + 0.1) / 0.85.
        auto it = std::lower_bound(font.glyphs().begin(), font.glyphs().end(), (w - 0.1) / 1.15 - 1e-9,
                                  [](const Template& a, double v) { return a.width() < v; });
        for (; it != font.glyphs().end() && it->width() <= (w + 0.1) / 0.85 + 1e-9; ++it) {
            if (std::abs(w - it->width()) <= 0.1 + 0.15 * it->width() && std::abs(top - it->top) <= 0.12 &&
                std::abs(bottom - it->bottom) <= 0.12 && ink >= 0.8 * it->ink && ink <= 1.25 * it->ink + 0.2)
                possible.push_back(&*it);
        }
        Match best;
        if (possible.empty())
            return best;
        std::vector<std::vector<Vec2>>& lines = lines_;
        std::vector<Vec2>& samples = samples_;
        std::vector<Vec2>& corners = corners_;
        std::size_t count = 0;
        corners.clear();
        for (std::size_t c : g.comps)
            for (std::size_t p : layout_.components()[c].pieces) {
                if (count == lines.size())
                    lines.emplace_back();
                std::vector<Vec2>& stroke = lines[count++];
                stroke.clear();
                for (Vec2 q : pieces_[p].points)
                    stroke.push_back({(along(q) - centre) / across, (frame.t(q) - baseline) / h});
                corners.insert(corners.end(), stroke.begin(), stroke.end());
            }
        lines.resize(count);
        samples.clear();
        std::optional<Segments> strokes; // made when first needed
        for (const Template* tp : possible) {
            const Template& t = *tp;
            // The strokes' corners are samples too: a template they stray from is no match, found before sampling.
            if (!t.near().nearAll(corners, t.centre))
                continue;
            if (samples.empty())
                for (const auto& stroke : lines)
                    densify(stroke, kSample, samples);
            if (!t.near().nearAll(samples, t.centre))
                continue;
            const double sumA = meanDistance(samples, t.centre, t.strokes(), strictness) / strictness;
            if (sumA > kMeanTolerance)
                continue;
            const double sumB = meanDistance(t.samples, -t.centre, strokes ? *strokes : strokes.emplace(lines), strictness) / strictness;
            const double cost = std::max(sumA, sumB);
            if (cost > kMeanTolerance)
                continue;
            if (cost < best.cost && ((widthFactor == 1 && slant == 0) || cost <= kWidenedTolerance))
                best = {t.code, cost, centre - t.centre * across, &t};
        }
        return best;
    }

    // A line whose every glyph a font has becomes a text proposed, where it passes every check: a line with a glyph
    // no font has is left alone whole, since what looks like letters beside it may be line work.
    bool propose(const TextLine& line, const StrokeFont& font, double h, double widthFactor,
                 const std::vector<Match>& matches)
    {
        if (std::any_of(matches.begin(), matches.end(), [](const Match& m) { return m.tmpl == nullptr; }))
            return false;
        std::u32string text;
        double worst = 0;
        for (std::size_t k = 0; k < matches.size(); ++k) {
            const Match& m = matches[k];
            if (k > 0) {
                // The font's advance puts each glyph where the next one starts; a gap of half a space is a space.
                const Match& prev = matches[k - 1];
                const double advance = prev.tmpl->advance * h * widthFactor;
                const double gap = m.origin - (prev.origin + advance);
                if (gap > 0.5 * font.space * h * widthFactor)
                    text += U' ';
                else if (gap < -0.25 * advance || gap > 0.3 * advance)
                    return false;
            }
            text += m.code;
            worst = std::max(worst, m.cost);
        }
        settleIOrL(font, text);
        settleOOr0(font, text);
        return offer(line, text, matches[0].origin, h, styleFor(font), worst, widthFactor);
    }

    // Proposes `text` for the line's strokes where it passes the checks against line work read as letters: letters
    // in it, more than one unless one stands alone, not a row of one shape that lines draw too nor of single
    // glyphs spaced apart, no glyph just beyond its ends, the strokes in one style. `start` is where the text begins along the line.
    bool offer(const TextLine& line, const std::u32string& text, double start, double h, const std::string& styleName,
               double cost, double widthFactor = 1)
    {
        const std::vector<Candidate>& glyphs = line.glyphs;
        const double angle = line.angle;
        int letters = 0;
        std::size_t count = 0, words = 0;
        bool same = true;
        for (std::size_t k = 0; k < text.size(); ++k)
            if (text[k] != U' ') {
                letters += alnum(text[k]);
                same = same && text[k] == text[0];
                ++count;
                words += k == 0 || text[k - 1] == U' ';
            }
        if (letters == 0)
            return false;
        Proposal p;
        for (const auto& g : glyphs)
            for (std::size_t c : g.comps)
                p.pieces.insert(p.pieces.end(), layout_.components()[c].pieces.begin(),
                                layout_.components()[c].pieces.end());
        const Style& style = drawing_.entities[pieces_[p.pieces.front()].entity].style;
        for (std::size_t i : p.pieces)
            if (pieces_[i].look != pieces_[p.pieces.front()].look)
                return false;
        // A short text at an angle, or a glyph alone, may be a mark of line work; not so a dimension's value standing
        // on its line.
        const bool square = angle == 0 || angle == 90 || angle == 180 || angle == 270;
        const std::optional<double> rule = count < 3 && !filled_ ? ruleUnder(line, h) : std::nullopt;
        const bool value = rule.has_value();
        if (count < 3 && !square && !value)
            return false;
        // A glyph alone stands level, or, filled (a label a typeface's outline gives, not a mark of line work), at
        // any right angle.
        if (count == 1 &&
            (lookalike(text[0]) || !alnum(text[0]) ||
             (value ? !bounded(line, h, rule) : (filled_ ? !square : angle != 0) || !alone(glyphs[0], h))))
            return false;
        if (count > 1 && (letters < 2 || (same && lookalike(text[0])) || words == count || !bounded(line, h, rule)))
            return false; // a row of separate shapes is line work more often than letters spaced apart
        if (crossed(line, h))
            return false; // the texts of cells side by side, not one
        Text t;
        for (char32_t c : text)
            appendUtf8(t.utf8, c);
        t.insertion = line.frame.point(start, line.baseline);
        t.height = h;
        t.widthFactor = widthFactor;
        t.obliqueDeg = std::atan(slant_) * 180 / std::numbers::pi;
        t.rotationDeg = std::fmod(angle, 360.0);
        t.style = styleName;
        p.glyphs = count;
        p.cost = cost;
        p.text = Entity{style, std::move(t)};
        proposals_.push_back(std::move(p));
        return true;
    }

    static bool sameLook(const Style& a, const Style& b) { return a.color == b.color && a.layer == b.layer; }

    // Straight strokes of the drawing no shorter than kMinRuleMm and of a look some piece has, each as two points, found
    // by place.
    struct Rules {
        std::vector<Piece> segments;
        std::vector<double> readings; // of each: the way a value on it reads (degrees)
        std::vector<Frame> frames;    // and its frame
        PieceGrid grid;
    };
    const Rules& rules()
    {
        if (rules_)
            return *rules_;
        // The strokes' looks (layer and colour) as numbered among the pieces; -1 for one no piece has.
        std::map<std::pair<std::string, std::uint32_t>, int> looks;
        for (std::size_t i = 0; i < pieces_.size(); ++i)
            if (i == 0 || pieces_[i].look != pieces_[i - 1].look) {
                const Style& style = drawing_.entities[pieces_[i].entity].style;
                looks.emplace(std::pair{style.layer, std::uint32_t(trueColorValue(style.color))}, pieces_[i].look);
            }
        std::vector<Piece> segments;
        const Style* last = nullptr; // of the entity before: most come in runs of one style
        int look = -1;
        auto add = [&](std::size_t entity, Vec2 a, Vec2 b) {
            constexpr double kFar = 1e9; // numbers no page has
            if (!(std::hypot(b.x - a.x, b.y - a.y) >= kMinRuleMm) ||
                !(std::max({std::abs(a.x), std::abs(a.y), std::abs(b.x), std::abs(b.y)}) <= kFar))
                return;
            const Style& style = drawing_.entities[entity].style;
            if (!last || !sameLook(style, *last)) {
                const auto found = looks.find({style.layer, std::uint32_t(trueColorValue(style.color))});
                look = found == looks.end() ? -1 : found->second;
                last = &style;
            }
            if (look < 0)
                return;
            Piece p{entity, {a, b}, {}, false, look, {}};
            p.box.add(a), p.box.add(b);
            segments.push_back(std::move(p));
        };
        for (std::size_t i = 0; i < drawing_.entities.size(); ++i) {
            const Geometry& g = drawing_.entities[i].geometry;
            if (const auto* l = std::get_if<Line>(&g))
                add(i, l->a, l->b);
            else if (const auto* pl = std::get_if<Polyline>(&g))
                for (std::size_t k = 0, n = pl->points.size(); k + (pl->closed ? 0 : 1) < n; ++k)
                    if (pl->bulges.empty() || pl->bulges[k] == 0)
                        add(i, pl->points[k], pl->points[(k + 1) % n]);
        }
        std::vector<double> readings;
        std::vector<Frame> frames;
        for (const Piece& p : segments) {
            const Vec2 a = p.points[0], b = p.points[1];
            const double deg = std::fmod(std::atan2(b.y - a.y, b.x - a.x) * 180 / std::numbers::pi + 360, 360.0);
            readings.push_back(readable(deg) ? deg : std::fmod(deg + 180, 360.0));
            frames.push_back(Frame::at(readings.back()));
        }
        PieceGrid grid(segments);
        return rules_.emplace(Rules{std::move(segments), std::move(readings), std::move(frames), std::move(grid)});
    }

    // The level (t) of a straight stroke of the line's look that runs along the whole of it a little below its baseline,
    // where the line reads the way a drawing's dimension values do (from below or from the right): the value's
    // dimension line.
    std::optional<double> ruleUnder(const TextLine& line, double h)
    {
        if (!readable(line.angle))
            return std::nullopt;
        const Frame& f = line.frame;
        const double s0 = line.glyphs.front().s0, s1 = line.glyphs.back().s1;
        const double low = line.baseline - kRuleGap * h, high = line.baseline + 0.05 * h;
        Box region;
        for (double s : {s0, s1})
            for (double t : {low, high})
                region.add(f.point(s, t));
        const Rules& rules = this->rules();
        const int look = lookOf(line);
        std::vector<std::pair<double, double>> spans;
        double top = -1e300;
        for (std::size_t r : rules.grid.find(region)) {
            const Vec2 a = rules.segments[r].points[0], b = rules.segments[r].points[1];
            const double sa = f.s(a), sb = f.s(b), ta = f.t(a), tb = f.t(b);
            if (std::abs(tb - ta) > 0.02 * std::abs(sb - sa) || rules.segments[r].look != look)
                continue; // not along the line (more than a degree off), or another look
            auto level = [&](double s) { return ta + (tb - ta) * (s - sa) / (sb - sa); };
            if (std::min(level(s0), level(s1)) >= low && std::max(level(s0), level(s1)) <= high) {
                spans.emplace_back(std::min(sa, sb), std::max(sa, sb));
                top = std::max({top, level(s0), level(s1)});
            }
        }
        std::sort(spans.begin(), spans.end());
        double reach = s0;
        for (auto [from, to] : spans)
            if (from <= reach + 0.05 * h)
                reach = std::max(reach, to);
        return reach >= s1 ? std::optional<double>(top) : std::nullopt;
    }

    int lookOf(const TextLine& line) const
    {
        return pieces_[layout_.components()[line.glyphs.front().comps.front()].pieces.front()].look;
    }

    // Whether a straight stroke across the line (a table's rule, not a strike-through at a slant) runs between two
    // of its glyphs, beyond their height either way.
    bool crossed(const TextLine& line, double h)
    {
        const Frame& f = line.frame;
        const Rules& rules = this->rules();
        const double t0 = line.baseline + 0.1 * h, t1 = line.baseline + 0.9 * h;
        for (std::size_t k = 1; k < line.glyphs.size(); ++k) {
            const double from = line.glyphs[k - 1].s1 - 0.05 * h, to = line.glyphs[k].s0 + 0.05 * h;
            Box region;
            region.add(f.point(from, t0)), region.add(f.point(to, t1));
            for (std::size_t r : rules.grid.find(region)) {
                const Vec2 a = rules.segments[r].points[0], b = rules.segments[r].points[1];
                const double sa = f.s(a), sb = f.s(b), ta = f.t(a), tb = f.t(b);
                if (std::abs(sb - sa) > 0.35 * std::abs(tb - ta) || std::min(ta, tb) > line.baseline - 0.15 * h ||
                    std::max(ta, tb) < line.baseline + 1.15 * h)
                    continue; // at a slant, or no longer than a glyph's stem
                auto at = [&](double t) { return sa + (sb - sa) * (t - ta) / (tb - ta); };
                if (std::min(at(t0), at(t1)) >= from && std::max(at(t0), at(t1)) <= to)
                    return true;
            }
        }
        return false;
    }

    // No other strokes near the glyph: a letter standing alone, not one of a line read across.
    bool alone(const Candidate& g, double h) const
    {
        for (std::size_t c : g.comps) {
            Box near = layout_.components()[c].box;
            near.min = {near.min.x - h, near.min.y - h};
            near.max = {near.max.x + h, near.max.y + h};
            for (std::size_t other : layout_.componentsNear(near))
                if (std::find(g.comps.begin(), g.comps.end(), other) == g.comps.end())
                    return false;
        }
        return true;
    }

    // No strokes of a glyph's size (a dash, a dot) just before the line's first glyph or after its last on its band:
    // the whole of a line, not the part of one that could be read. Beside a dimension's value on its `rule`, only
    // strokes of its look above the rule count (not its arrowheads, nor a centre line through it).
    bool bounded(const TextLine& line, double h, const std::optional<double>& rule = std::nullopt) const
    {
        const int look = lookOf(line);
        const Frame& f = line.frame;
        const double s0 = line.glyphs.front().s0, s1 = line.glyphs.back().s1;
        const double t0 = line.baseline - 0.1 * h, t1 = line.baseline + h;
        for (auto [from, to] : {std::pair{s0 - kEndGap * h, s0}, std::pair{s1, s1 + kEndGap * h}}) {
            Box region;
            for (double s : {from, to})
                for (double t : {t0, t1})
                    region.add(f.point(s, t));
            for (std::size_t c : layout_.componentsNear(region)) {
                Candidate other{{c}};
                for (std::size_t p : layout_.components()[c].pieces)
                    for (Vec2 q : pieces_[p].points) {
                        const double s = f.s(q), t = f.t(q);
                        other.s0 = std::min(other.s0, s), other.s1 = std::max(other.s1, s);
                        other.t0 = std::min(other.t0, t), other.t1 = std::max(other.t1, t);
                    }
                const bool glyphSized = std::max(other.width(), other.height()) <= 1.5 * h;
                const bool inside = other.s1 > from && other.s0 < to && other.t1 > t0 && other.t0 < t1;
                const bool own = std::any_of(line.glyphs.begin(), line.glyphs.end(), [&](const Candidate& g) {
                    return std::find(g.comps.begin(), g.comps.end(), c) != g.comps.end();
                });
                const bool counts =
                    !rule || (other.t0 > *rule && pieces_[layout_.components()[c].pieces.front()].look == look);
                if (glyphSized && inside && !own && counts)
                    return false;
            }
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

    std::string styleFor(const StrokeFont& font) { return style(font.name, font.cadFont.empty() ? font.name : font.cadFont); }
    // Text in the page's own font: a TrueType font stands in for it.
    std::string documentStyle() { return style("Plotted text", "sans"); }

    std::string style(const std::string& name, const std::string& fontName)
    {
        if (std::none_of(drawing_.textStyles.begin(), drawing_.textStyles.end(),
                         [&](const TextStyle& s) { return s.name == name; }))
            drawing_.textStyles.push_back({name, fontName});
        return name;
    }

    Drawing& drawing_;
    const std::vector<StrokeFont>& fonts_;
    std::vector<FontTemplates> templates_;
    LineReader* reader_;
    const bool filled_; // reading filled glyph outlines
    std::vector<Piece> pieces_;
    Layout layout_;
    std::vector<double> ink_; // of each piece
    // Kept from one glyph to the next: its strokes in cap heights, their samples, the templates that may match it.
    std::vector<std::vector<Vec2>> lines_;
    std::vector<Vec2> samples_, corners_;
    std::vector<const Template*> possible_;
    std::vector<Proposal> proposals_;
    std::vector<std::pair<std::size_t, Entity>> texts_;
    std::optional<Rules> rules_;
    std::vector<int> linesRead_ = std::vector<int>(templates_.size(), 0); // of kMinWidthGlyphs or more, per font
    std::vector<bool> plotted_; // per font: whether the page is plotted in it
    double slant_ = 0;          // of the reading under way: the tangent of its oblique angle
};

} // namespace

TextRecovery recognizeStrokedText(Drawing& drawing, const std::vector<StrokeFont>& fonts, LineReader* reader)
{
    TextRecovery result = Recognizer(drawing, fonts, reader, Ink::Strokes, collectPieces(drawing, kMaxGlyphMm)).run();
    if (!reader)
        return result;
    // Then text a printer driver drew as filled glyph outlines, where there are fills enough to learn a font from.
    if (std::vector<Piece> fills = collectPieces(drawing, kMaxGlyphMm, Ink::Fills); worthLearning(fills))
        result += Recognizer(drawing, fonts, reader, Ink::Fills, std::move(fills)).run();
    return result;
}

} // namespace unplot::engine::strokes
