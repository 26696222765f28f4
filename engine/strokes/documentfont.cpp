#include "documentfont.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <string_view>

namespace unplot::engine::strokes {
namespace {

// In units of the line's height (the tallest glyph on its baseline).
constexpr double kBoxTolerance = 0.08;  // glyph box edges of one class
constexpr double kMeanTolerance = 0.035; // mean distance between the strokes of one class, both ways
constexpr double kMaxTolerance = 0.1;    // largest distance
constexpr double kFilledMeanTolerance = 0.015; // filled glyphs: a driver draws one glyph the same every time, and the
                                               // outlines of a typeface's glyphs differ less than strokes do
constexpr double kSample = 0.05;         // sample spacing
constexpr double kInkTolerance = 0.15;   // strokes' lengths of one class, relative
constexpr double kSpace = 0.75;          // a gap this wide between glyph boxes is a space
constexpr double kFilledSpace = 0.3;     // between filled glyphs, at least,
constexpr double kFilledSpaceMargin = 0.2; // and this much wider than the line's middle gap

constexpr double kMinHeightMm = 0.4, kMaxHeightMm = 11; // of the lines read
constexpr std::size_t kMaxGlyphs = 80;
constexpr double kMaxWidth = 1.6;        // a glyph wider than its line's height this many times is no letter
constexpr double kPixelsPerHeight = 28;  // the line's height as rendered for OCR
constexpr int kMargin = 12;              // white around it
constexpr int kMinOccurrences = 3;       // a class that occurs this often is read by OCR
constexpr int kFrequent = 50;            // classes this frequent are read first
constexpr int kMinVotes = 2;             // a class needs this many readings agreeing
constexpr int kWantedVotes = 3;          // and is read this often when it can be
constexpr double kCapitalTop = 0.85;
constexpr double kLookalikeMargin = 0.8;  // a lookalike this much closer to a class's drawing than its label vetoes it
constexpr double kLookalikeFit = 0.1;     // when it lies this close (in the glyph's box): one that fits no better is
                                          // no drawing of it either (a 1 with a foot against a plain l)
constexpr int kOutvote = 2;              // of two shapes read as one character, one with this many times the votes keeps it
constexpr double kAspect = 1.25;         // one glyph at two sizes may differ this much in width     // capitals and digits reach this high
constexpr int kOneWay = 10;              // a class is O or zero by the words it stands in this many times more
constexpr double kMajority = 0.7;        // agreeing on one character
constexpr float kMinConfidence = 50;     // readings less certain do not vote
constexpr int kMinRichLines = 40;          // pages with fewer lines of repeating glyphs are not read by OCR (each
                                           // line counted both ways; filled glyphs' lines only the way up)
constexpr std::size_t kWindow = 10;        // glyphs read at once
constexpr std::size_t kMaxReadGlyphs = 300;   // per page at most,
constexpr std::size_t kPiecesPerGlyph = 200;  // and one for so many strokes: a glyph read costs about what matching
                                              // 200 strokes against the stroke fonts does
constexpr std::size_t kFillsPerGlyph = 8;     // or fills (a filled glyph is one to three of them)
constexpr std::size_t kMinReadGlyphs = 150;   // pages that allow fewer are not read: too little would be learnt
constexpr std::size_t kOrientGlyphs = 4;  // lines this long show which way up text stands
constexpr std::size_t kOrientLines = 4;   // so many of them at most, the richest, are read both ways
constexpr std::size_t kOrientWindow = 8;  // in their middles
constexpr double kOrientShare = 0.1;      // directions with fewer of the page's rich lines are not tried
constexpr double kOrientMargin = 3;       // by this much more confidence, on average over its glyphs, one way wins
constexpr double kOrientConfidence = 80;  // and reads with at least this much
constexpr int kOrientVotes = 3;           // and the way most of them win needs this many
constexpr double kWordGap = 0.5;          // filled glyphs: the middle gap of a line of words, at most
constexpr double kTallGlyph = 0.8;        // filled glyphs lower than their line's capitals this much are short:
constexpr double kOrientShort = 4;        // so many more of them on the baseline than at the top, at least,
constexpr double kOrientShortShare = 0.01; // and this share of the glyphs of the lines counted, is the way up

// A glyph's shape in its line: polylines and samples relative to its left end and the baseline, in units of the
// line's height, so that one glyph of a font is one shape at every size.
struct Shape {
    std::vector<std::vector<Vec2>> strokes;
    std::vector<Vec2> samples;
    double width = 0, bottom = 0, top = 0;
    double ink = 0; // the strokes' length
    mutable std::shared_ptr<const NearMask> mask; // made when first needed
    mutable std::shared_ptr<const Segments> segments;
    const NearMask& near() const
    {
        if (!mask)
            mask = std::make_shared<const NearMask>(strokes, kMaxTolerance);
        return *mask;
    }
    const Segments& lines() const
    {
        if (!segments)
            segments = std::make_shared<const Segments>(strokes);
        return *segments;
    }
};

// The mean distance of `points` from `segments`, or a large number once one point lies beyond `maxDistance` or the
// mean can no longer stay within `meanLimit`.
double meanDistance(const std::vector<Vec2>& points, const Segments& segments, double maxDistance, double meanLimit = 1e300)
{
    if (points.empty())
        return 1e300;
    std::size_t hint = 0;
    double sum = 0;
    const double most = meanLimit * double(points.size());
    for (Vec2 p : points) {
        const double d = segments.squaredDistance(p, hint);
        sum += std::sqrt(d);
        if (d > maxDistance * maxDistance || sum > most)
            return 1e300;
    }
    return sum / double(points.size());
}

double meanDistance(const std::vector<Vec2>& points, const std::vector<std::vector<Vec2>>& lines, double maxDistance)
{
    return meanDistance(points, Segments(lines), maxDistance);
}

// The middle value (the upper one of an even count); 0 for none.

// The middle gap between the glyph boxes of a line.
double middleGap(const TextLine& line)
{
    std::vector<double> gaps;
    for (std::size_t k = 1; k < line.glyphs.size(); ++k)
        gaps.push_back(line.glyphs[k].s0 - line.glyphs[k - 1].s1);
    return median(std::move(gaps));
}

bool sameBox(const Shape& a, const Shape& b)
{
    return std::abs(a.width - b.width) <= kBoxTolerance && std::abs(a.bottom - b.bottom) <= kBoxTolerance &&
           std::abs(a.top - b.top) <= kBoxTolerance;
}

// `b` measured against `a`, whose mask is kept.
bool sameShape(const Shape& a, const Shape& b, double tolerance = kMeanTolerance)
{
    return sameBox(a, b) && std::abs(a.ink - b.ink) <= kInkTolerance * std::max(a.ink, b.ink) && a.near().nearAll(b.samples) &&
           meanDistance(a.samples, b.lines(), kMaxTolerance, tolerance) <= tolerance &&
           meanDistance(b.samples, a.lines(), kMaxTolerance, tolerance) <= tolerance;
}

Shape boxed(const Shape& s);

// One glyph drawn at two sizes (rounded differently, so a little narrower or wider): the same in its box.
bool sameDrawing(const Shape& a, const Shape& b)
{
    const double wider = std::max(a.width, b.width), narrower = std::min(a.width, b.width);
    return std::abs(a.top - b.top) <= kBoxTolerance && std::abs(a.bottom - b.bottom) <= kBoxTolerance &&
           wider <= kAspect * narrower + kBoxTolerance && sameShape(boxed(a), boxed(b));
}

// The shape stretched to fill the unit square (a flat dimension stays at its middle): what is left of the difference
// between two glyphs of about one box is their drawing, not their size or place.
Shape boxed(const Shape& s)
{
    Shape out;
    const double height = s.top - s.bottom;
    auto map = [&](Vec2 p) {
        return Vec2{s.width > kBoxTolerance ? p.x / s.width : 0.5, height > kBoxTolerance ? (p.y - s.bottom) / height : 0.5};
    };
    for (const auto& stroke : s.strokes) {
        out.strokes.emplace_back();
        for (Vec2 p : stroke)
            out.strokes.back().push_back(map(p));
    }
    for (Vec2 p : s.samples)
        out.samples.push_back(map(p));
    out.width = 1, out.top = 1;
    return out;
}

struct Class {
    Shape shape;             // of its first glyph
    int occurrences = 0;
    std::map<char32_t, int> votes;
    int asked = 0;           // glyphs of it read by OCR
    int total = 0;           // readings that voted
    char32_t code = 0;       // agreed on, or 0
    double disagreement = 1; // the share of readings for other characters
    bool zeroOrO = false;    // an O or a zero, as the word it stands in says
    bool byWords = false;    // an O or a zero by the words it stands in, whatever its drawing is closer to
};

// Characters OCR takes for one another: a label among them must fit the stroke fonts' drawings of it better than
// theirs of the others.
constexpr std::u32string_view kLookalikes[] = {U"5S", U"0ODQ", U"1Il|", U"2Z", U"8B", U"6G", U"UV", U"C(", U"7T"};

// The glyphs the stroke fonts draw for a character, each stretched to its box.
std::vector<Shape> referenceShapes(const std::vector<StrokeFont>& fonts, char32_t code)
{
    std::vector<Shape> out;
    for (const auto& font : fonts) {
        const auto g = font.glyphs.find(code);
        if (g == font.glyphs.end() || g->second.strokes.empty())
            continue;
        Shape s;
        s.width = g->second.max.x - g->second.min.x, s.bottom = g->second.min.y, s.top = g->second.max.y;
        for (const auto& stroke : g->second.strokes) {
            s.strokes.emplace_back();
            for (Vec2 p : stroke)
                s.strokes.back().push_back({p.x - g->second.min.x, p.y});
            densify(s.strokes.back(), kSample, s.samples);
        }
        out.push_back(boxed(s));
    }
    return out;
}

// How far a shape is from the nearest of the fonts' drawings of a character, both stretched to their boxes.
double referenceDistance(const Shape& boxedShape, const std::vector<Shape>& references)
{
    double best = 1e300;
    for (const auto& r : references)
        best = std::min(best, std::max(meanDistance(boxedShape.samples, r.strokes, 1e3),
                                       meanDistance(r.samples, boxedShape.strokes, 1e3)));
    return best;
}

std::size_t fillCount(const std::vector<Piece>& pieces)
{
    return std::size_t(std::count_if(pieces.begin(), pieces.end(), [](const Piece& p) { return !p.rings.empty(); }));
}

// How many glyphs OCR may read: one for so many strokes or fills.
std::size_t readingBudget(const std::vector<Piece>& pieces)
{
    const std::size_t fills = fillCount(pieces);
    return std::min(kMaxReadGlyphs, (pieces.size() - fills) / kPiecesPerGlyph + fills / kFillsPerGlyph);
}

class Learner {
public:
    Learner(const Layout& layout, const std::vector<TextLine>& lines, LineReader& reader,
            const std::vector<StrokeFont>& references)
        : layout_(layout), lines_(lines), reader_(reader), fonts_(references),
          filled_(2 * fillCount(layout.pieces()) > layout.pieces().size()), budget_(readingBudget(layout.pieces()))
    {
        classOf_.resize(lines.size());
        if (budget_ < kMinReadGlyphs)
            return; // too few strokes to pay for learning their font
        if (!filled_) {
            for (std::size_t l = 0; l < lines.size(); ++l)
                if (textLike(lines[l]))
                    classifyLine(l);
            return;
        }
        // Only lines standing upright are learnt from, and each glyph in one line only: the lines of the surest
        // direction first, where rows of glyphs of lines stacked close run slanted too.
        orientByShortGlyphs();
        std::vector<bool> taken(layout.components().size(), false);
        for (double angle : upright_) {
            std::vector<std::size_t> learnt;
            for (std::size_t l = 0; l < lines.size(); ++l) {
                if (lines[l].angle != angle || !textLike(lines[l]))
                    continue;
                std::size_t comps = 0, before = 0;
                for (const auto& g : lines[l].glyphs)
                    for (std::size_t c : g.comps)
                        ++comps, before += taken[c];
                if (2 * before < comps)
                    classifyLine(l), learnt.push_back(l);
            }
            for (std::size_t l : learnt)
                for (const auto& g : lines[l].glyphs)
                    for (std::size_t c : g.comps)
                        taken[c] = true;
        }
    }

    void classifyLine(std::size_t l)
    {
        for (const auto& g : lines_[l].glyphs)
            classOf_[l].push_back(classify(shapeOf(lines_[l], g)));
    }

    // Rows that may be text: letters of a drawing's sizes, side by side, most of them more than dots and dashes.
    static bool textLike(const TextLine& line)
    {
        const std::size_t n = line.glyphs.size();
        if (n == 0 || n > kMaxGlyphs || line.top < kMinHeightMm || line.top > kMaxHeightMm)
            return false;
        if (line.glyphs.back().s1 - line.glyphs.front().s0 < 0.3 * line.top * double(n))
            return false;
        std::size_t letters = 0;
        for (const auto& g : line.glyphs) {
            if (g.width() > kMaxWidth * line.top)
                return false;
            letters += g.height() >= 0.4 * line.top;
        }
        return 2 * letters >= n;
    }

    std::vector<LineText> run()
    {
        if (budget_ < kMinReadGlyphs || richLines() < (filled_ ? kMinRichLines / 2 : kMinRichLines) || !reader_.ready())
            return {};
        if (!filled_)
            orient();
        readChosenLines();
        for (auto& c : classes_)
            label(c);
        settleSplitReadings();
        settleZeroOrO();
        checkLabels();
        // Lines read upside down where the page shows which way up its text stands are not read; where it does not,
        // lines that read from the left or from above are not either (a drawing's text reads from below or the right),
        // nor strokes that read both ways.
        std::vector<LineText> out;
        std::map<std::size_t, std::vector<std::size_t>> byComponent; // lines read, by their components
        for (std::size_t l = 0; l < lines_.size(); ++l) {
            const long axis = std::lround(lines_[l].angle) % 180;
            const bool decided = std::any_of(upright_.begin(), upright_.end(), [&](double a) { return std::lround(a) % 180 == axis; });
            if (decided ? !upright(lines_[l].angle) : !readable(lines_[l].angle))
                continue;
            LineText text = spell(l);
            if (text.text.empty())
                continue;
            for (const auto& g : lines_[l].glyphs)
                for (std::size_t c : g.comps)
                    byComponent[c].push_back(out.size());
            out.push_back(std::move(text));
        }
        std::vector<bool> drop(out.size(), false);
        for (const auto& [comp, read] : byComponent)
            for (std::size_t a : read)
                for (std::size_t b : read)
                    if (std::lround(std::abs(lines_[out[a].line].angle - lines_[out[b].line].angle)) == 180)
                        drop[a] = drop[b] = true;
        std::vector<LineText> kept;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (!drop[i])
                kept.push_back(std::move(out[i]));
        return kept;
    }

    // How many different glyphs the line has when each is of a shape that repeats and most stand close together
    // (words, not a column of letters of other lines), else 0: lines of three or more are text more than line work
    // is.
    std::size_t richness(std::size_t l) const
    {
        const TextLine& line = lines_[l];
        std::size_t close = 0;
        for (std::size_t k = 1; k < classOf_[l].size(); ++k)
            close += line.glyphs[k].s0 - line.glyphs[k - 1].s1 <= kSpace * line.top;
        if (2 * close < classOf_[l].size())
            return 0;
        std::vector<std::size_t> kinds(classOf_[l]);
        std::sort(kinds.begin(), kinds.end());
        kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
        const bool repeating = std::all_of(kinds.begin(), kinds.end(), [&](std::size_t c) {
            return classes_[c].occurrences >= kMinOccurrences;
        });
        return repeating ? kinds.size() : 0;
    }

    int richLines() const
    {
        int rich = 0;
        for (std::size_t l = 0; l < lines_.size(); ++l)
            rich += richness(l) >= 3;
        return rich;
    }

    bool upright(double angle) const { return std::find(upright_.begin(), upright_.end(), angle) != upright_.end(); }

private:
    Shape shapeOf(const TextLine& line, const Candidate& g) const
    {
        Shape s;
        const double unit = line.top;
        s.width = g.width() / unit;
        s.bottom = (g.t0 - line.baseline) / unit;
        s.top = (g.t1 - line.baseline) / unit;
        auto add = [&](const std::vector<Vec2>& points) {
            std::vector<Vec2> stroke;
            for (Vec2 q : points)
                stroke.push_back({(line.frame.s(q) - g.s0) / unit, (line.frame.t(q) - line.baseline) / unit});
            densify(stroke, kSample, s.samples);
            for (std::size_t i = 0; i + 1 < stroke.size(); ++i)
                s.ink += std::hypot(stroke[i + 1].x - stroke[i].x, stroke[i + 1].y - stroke[i].y);
            s.strokes.push_back(std::move(stroke));
        };
        for (std::size_t c : g.comps)
            for (std::size_t p : layout_.components()[c].pieces) {
                const Piece& piece = layout_.pieces()[p];
                if (piece.rings.empty())
                    add(piece.points);
                else // a fill's outline, ring by ring (where a printer driver cut a glyph into pieces, the edges
                     // they share too: they cost a class little, measured)
                    for (const auto& ring : piece.ringPoints())
                        add(ring);
            }
        return s;
    }

    // Classes by their box in steps of the box tolerance: a shape's class is in its own cell or a neighbour.
    static std::array<long, 3> cellOf(const Shape& s)
    {
        return {std::lround(s.width / kBoxTolerance), std::lround(s.top / kBoxTolerance), std::lround(s.bottom / kBoxTolerance)};
    }

    std::size_t classify(Shape shape)
    {
        const auto cell = cellOf(shape);
        for (long dx = -1; dx <= 1; ++dx)
            for (long dy = -1; dy <= 1; ++dy)
                for (long dz = -1; dz <= 1; ++dz) {
                    const auto it = byBox_.find({cell[0] + dx, cell[1] + dy, cell[2] + dz});
                    if (it != byBox_.end())
                        for (std::size_t c : it->second)
                            if (sameShape(classes_[c].shape, shape, filled_ ? kFilledMeanTolerance : kMeanTolerance)) {
                                ++classes_[c].occurrences;
                                return c;
                            }
                }
        byBox_[cell].push_back(classes_.size());
        Class c;
        c.shape = std::move(shape);
        c.occurrences = 1;
        classes_.push_back(std::move(c));
        return classes_.size() - 1;
    }

    // Consecutive glyphs of a line: what OCR reads at once.
    struct Span {
        std::size_t line = 0, first = 0, count = 0;
    };

    // Windows of a line, overlapping by half.
    std::vector<Span> windows(std::size_t l) const
    {
        const std::size_t n = classOf_[l].size();
        std::vector<Span> out;
        for (std::size_t first = 0;; first += kWindow / 2) {
            const std::size_t start = std::min(first, n > kWindow ? n - kWindow : 0);
            out.push_back({l, start, std::min(n, kWindow)});
            if (start + kWindow >= n)
                return out;
        }
    }

    // How many glyphs of the span belong to classes that repeat and still want readings.
    // What reading the span is worth: the glyphs of the page whose classes it reads that still want readings
    // (each class counted once, as many times as it occurs, up to a point).
    int need(const Span& w) const
    {
        int n = 0;
        for (std::size_t k = w.first; k < w.first + w.count; ++k) {
            const std::size_t c = classOf_[w.line][k];
            const Class& cls = classes_[c];
            bool seen = false;
            for (std::size_t j = w.first; j < k && !seen; ++j)
                seen = classOf_[w.line][j] == c;
            if (!seen && cls.occurrences >= kMinOccurrences && cls.total < kWantedVotes && cls.asked < 2 * kWantedVotes)
                n += std::min(cls.occurrences, kFrequent);
        }
        return n;
    }

    // The spans with the most glyphs of classes that want readings, read until no class wants more.
    void readChosenLines()
    {
        std::vector<Span> spans;
        std::priority_queue<std::pair<int, std::size_t>> queue; // (need when last counted, span)
        for (std::size_t l = 0; l < lines_.size(); ++l)
            if (classOf_[l].size() >= 2 && upright(lines_[l].angle) && !(filled_ && oneShape(l)))
                for (const Span& w : windows(l))
                    if (int n = need(w); n > 0) {
                        queue.push({n, spans.size()});
                        spans.push_back(w);
                    }
        while (!queue.empty() && budget_ > 0) {
            const auto [was, i] = queue.top();
            queue.pop();
            const int now = need(spans[i]);
            if (now <= 0)
                continue;
            if (now < was && !queue.empty() && now < queue.top().first) {
                queue.push({now, i});
                continue;
            }
            vote(spans[i]);
        }
    }

    // Renders the span (turned upside down when `turned`) and reads it: for each glyph, the character read over it
    // alone, or nothing.
    std::vector<OcrSymbol> readGlyphs(const Span& span, bool turned) const
    {
        const TextLine& line = lines_[span.line];
        budget_ -= std::min(budget_, span.count);
        const auto first = line.glyphs.begin() + std::ptrdiff_t(span.first);
        const std::vector<Candidate> glyphs(first, first + std::ptrdiff_t(span.count));
        const std::size_t n = glyphs.size();
        std::vector<OcrSymbol> out(n);
        const double scale = kPixelsPerHeight / line.top;
        double s0 = 1e300, s1 = -1e300, t0 = 1e300, t1 = -1e300;
        for (const auto& g : glyphs)
            s0 = std::min(s0, g.s0), s1 = std::max(s1, g.s1), t0 = std::min(t0, g.t0), t1 = std::max(t1, g.t1);
        const int w = int(std::ceil((s1 - s0) * scale)) + 2 * kMargin, h = int(std::ceil((t1 - t0) * scale)) + 2 * kMargin;
        if (w > 8000 || h > 400)
            return out;
        Raster image(w, h);
        auto pixel = [&](Vec2 q) {
            const Vec2 p{(line.frame.s(q) - s0) * scale + kMargin, (t1 - line.frame.t(q)) * scale + kMargin};
            return turned ? Vec2{w - p.x, h - p.y} : p;
        };
        for (const auto& g : glyphs)
            for (std::size_t c : g.comps)
                for (std::size_t p : layout_.components()[c].pieces) {
                    const Piece& piece = layout_.pieces()[p];
                    if (!piece.rings.empty()) {
                        auto rings = piece.ringPoints();
                        for (auto& ring : rings)
                            for (Vec2& q : ring)
                                q = pixel(q);
                        image.fill(rings);
                        continue;
                    }
                    for (std::size_t i = 0; i + 1 < piece.points.size(); ++i)
                        image.stroke(pixel(piece.points[i]), pixel(piece.points[i + 1]), 0.05 * kPixelsPerHeight);
                }
        // Each symbol to the glyph its box's middle falls in (halfway to the neighbours counts).
        std::vector<int> hits(n, 0);
        for (const auto& sym : reader_.read(image)) {
            const double x = (sym.x0 + sym.x1) / 2.0;
            const double middle = ((turned ? w - x : x) - kMargin) / scale + s0;
            for (std::size_t k = 0; k < n; ++k) {
                const double left = k == 0 ? -1e300 : (glyphs[k - 1].s1 + glyphs[k].s0) / 2;
                const double right = k + 1 == n ? 1e300 : (glyphs[k].s1 + glyphs[k + 1].s0) / 2;
                if (middle >= left && middle < right) {
                    ++hits[k];
                    out[k] = sym;
                    break;
                }
            }
        }
        for (std::size_t k = 0; k < n; ++k)
            if (hits[k] != 1)
                out[k] = {};
        return out;
    }

    // Reads the span and gives each glyph read as one character a vote for its class.
    void vote(const Span& span)
    {
        const std::vector<OcrSymbol> read = readGlyphs(span, false);
        for (std::size_t k = 0; k < read.size(); ++k) {
            Class& c = classes_[classOf_[span.line][span.first + k]];
            ++c.asked;
            if (read[k].code != 0 && read[k].confidence >= kMinConfidence)
                ++c.votes[read[k].code], ++c.total;
        }
    }

    // Which way up the lines of each direction stand, where the page says so clearly: the middles of its longest
    // lines are read both ways, and a way that reads with more confidence in most of them is the way up. Only lines
    // standing that way are read by OCR: upside down, OCR reads letters as other letters with confidence.
    void orient()
    {
        std::map<long, std::vector<std::pair<std::size_t, std::size_t>>> byAxis; // (kinds, line) by direction mod 180
        std::size_t all = 0;
        for (std::size_t l = 0; l < lines_.size(); ++l)
            if (const std::size_t kinds = richness(l); kinds >= 3 && classOf_[l].size() >= kOrientGlyphs)
                byAxis[std::lround(lines_[l].angle) % 180].push_back({kinds, l}), ++all;
        // The directions with the most such lines first; another only while the budget allows reading after it.
        std::vector<std::pair<long, std::vector<std::pair<std::size_t, std::size_t>>>> axes(byAxis.begin(), byAxis.end());
        std::stable_sort(axes.begin(), axes.end(), [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
        for (auto& [axis, list] : axes) {
            if (double(list.size()) < kOrientShare * double(all) ||
                (!upright_.empty() && budget_ < kMinReadGlyphs + 2 * kOrientLines * kOrientWindow))
                continue; // too little text runs this way to tell, or no reading would be left
            std::sort(list.begin(), list.end(), [](auto a, auto b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
            int votes[2] = {0, 0}; // for the axis itself, for the opposite direction
            for (std::size_t i = 0; i < std::min(list.size(), kOrientLines); ++i) {
                if (std::max(votes[0], votes[1]) >= kOrientVotes && std::min(votes[0], votes[1]) == 0)
                    break; // no doubt left
                const TextLine& line = lines_[list[i].second];
                const std::size_t n = std::min(line.glyphs.size(), kOrientWindow);
                const Span middle{list[i].second, (line.glyphs.size() - n) / 2, n};
                double means[2] = {0, 0};
                for (bool turned : {false, true})
                    for (const auto& r : readGlyphs(middle, turned))
                        means[turned] += r.confidence / double(n);
                const double margin = means[0] - means[1];
                if (std::abs(margin) >= kOrientMargin && std::max(means[0], means[1]) >= kOrientConfidence)
                    ++votes[(margin < 0) != (std::lround(line.angle) % 360 >= 180)];
            }
            const int cast = votes[0] + votes[1];
            for (int way : {0, 1})
                if (votes[way] >= kOrientVotes && votes[way] >= kMajority * cast)
                    upright_.push_back(double(axis + 180 * way));
        }
    }

    // Which way up filled glyphs stand, from their shapes (OCR reads a typeface's glyphs upside down with as much
    // confidence, and the letters turned are letters: n and u, p and d): the glyphs lower than the line's capitals
    // (lower case, points, commas, colons) stand on its baseline, not hang from its top. Over all the lines of a
    // direction, where they say so clearly together; a direction of capitals and digits only stays undecided.
    void orientByShortGlyphs()
    {
        std::map<long, std::pair<double, double>> byAxis; // (score, glyphs) by direction mod 180
        for (const TextLine& line : lines_) {
            if (!textLike(line) || line.glyphs.size() < 2)
                continue;
            if (middleGap(line) > kWordGap * line.top)
                continue; // no words: glyphs far apart (the first glyphs of lines stacked one over another)
            // The glyphs as tall as most of the upper quarter are (capitals, not a descender that reaches further).
            std::vector<double> heights, bottoms, tops;
            for (const auto& g : line.glyphs)
                heights.push_back(g.height());
            const auto quarter = heights.begin() + std::ptrdiff_t(heights.size() * 3 / 4);
            std::nth_element(heights.begin(), quarter, heights.end());
            const double tall = kTallGlyph * *quarter;
            for (const auto& g : line.glyphs)
                if (g.height() >= tall)
                    bottoms.push_back(g.t0), tops.push_back(g.t1);
            const double low = median(bottoms), high = median(tops), tolerance = kBoxTolerance * (high - low);
            double score = 0;
            for (const auto& g : line.glyphs)
                if (g.height() < tall)
                    score += (std::abs(g.t0 - low) <= tolerance) - (std::abs(g.t1 - high) <= tolerance);
            auto& [sum, glyphs] = byAxis[std::lround(line.angle) % 180];
            sum += std::lround(line.angle) % 360 >= 180 ? -score : score;
            glyphs += double(line.glyphs.size());
        }
        std::vector<std::pair<double, double>> decided; // (right angle first, then the most glyphs; direction)
        for (const auto& [axis, sum] : byAxis)
            if (std::abs(sum.first) >= std::max(kOrientShort, kOrientShortShare * sum.second))
                decided.push_back({sum.second + (axis % 90 == 0 ? 1e9 : 0), double(axis + (sum.first > 0 ? 0 : 180))});
        std::sort(decided.rbegin(), decided.rend());
        for (const auto& d : decided)
            upright_.push_back(d.second);
    }

    // Labels OCR gives that the shapes contradict are taken back: a capital or digit lower than capitals (a letter
    // whose lower case differs only in size becomes lower case), and one character on two shapes that differ (a
    // font draws a character one way: OCR reads a V as U too, a ( as C) unless one has by far the most votes for it.
    void checkLabels()
    {
        const std::vector<char32_t> labels = currentLabels();
        for (auto& c : classes_)
            if (c.code != 0 && !c.byWords && !fitsBest(c, labels))
                c.code = 0;
        for (auto& c : classes_) {
            const bool capital = (c.code >= U'A' && c.code <= U'Z') || (c.code >= U'0' && c.code <= U'9');
            if (c.code == 0 || !capital || c.shape.top >= kCapitalTop)
                continue;
            const char32_t lower = c.code + (U'a' - U'A');
            c.code = std::u32string_view(U"cosuvwxz").find(lower) != std::u32string_view::npos ? lower : 0;
        }
        std::map<char32_t, std::vector<std::size_t>> byCode;
        for (std::size_t i = 0; i < classes_.size(); ++i)
            if (classes_[i].code != 0)
                byCode[classes_[i].code].push_back(i);
        for (const auto& [code, list] : byCode)
            for (std::size_t a : list) {
                // A class keeps the label against every rival it outvotes clearly, its votes counted as often as
                // it occurs; else no one keeps it. A class the words it stands in name keeps it, its readings all
                // counted for it.
                const char32_t label = code; // a copy: clang 14 cannot capture a structured binding
                auto votes = [&](const Class& c) { return (c.byWords ? c.total : c.votes.at(label)) * c.occurrences; };
                for (std::size_t b : list) {
                    const Class &x = classes_[a], &y = classes_[b];
                    const bool variants = sameDrawing(x.shape, y.shape);
                    if (a != b && !variants && !x.byWords && votes(x) < kOutvote * votes(y)) {
                        lost_.push_back(a);
                        break;
                    }
                }
            }
        for (std::size_t i : lost_)
            classes_[i].code = 0;
    }

    std::vector<char32_t> currentLabels() const
    {
        std::vector<char32_t> out;
        for (const auto& c : classes_)
            out.push_back(c.code);
        return out;
    }

    // Whether a class drawn otherwise than `c` has the label `code` (of `labels`, one per class): the page's font
    // draws that character so, and `c` is another one.
    bool drawnElsewhere(char32_t code, const Class& c, const std::vector<char32_t>& labels) const
    {
        for (std::size_t i = 0; i < classes_.size(); ++i)
            if (labels[i] == code && &classes_[i] != &c && !sameDrawing(classes_[i].shape, c.shape))
                return true;
        return false;
    }

    // A class whose readings split between characters, some of which other classes drawn otherwise clearly are (a
    // slashed zero read as 0 and as O where the page's O is a class of its own), takes the rest by the same
    // majority, when the rest outnumbers what was set aside.
    void settleSplitReadings()
    {
        const std::vector<char32_t> labels = currentLabels();
        for (auto& c : classes_) {
            if (c.code != 0 || c.total < kWantedVotes)
                continue;
            int left = 0, best = 0;
            char32_t code = 0;
            for (const auto& [ch, n] : c.votes)
                if (!drawnElsewhere(ch, c, labels)) {
                    left += n;
                    if (n > best)
                        best = n, code = ch;
                }
            if (best >= kMinVotes && best >= kMajority * left && 2 * best > c.total) {
                c.code = code;
                c.disagreement = 1 - double(best) / c.total;
            }
        }
    }

    // The character of glyph `j` of line `l` when it stands in one word with glyph `k` and its class has one, else 0.
    char32_t besideIn(std::size_t l, std::size_t k, std::size_t j) const
    {
        const TextLine& line = lines_[l];
        if (j >= classOf_[l].size() || line.glyphs[std::max(j, k)].s0 - line.glyphs[std::min(j, k)].s1 > kSpace * line.top)
            return 0;
        const Class& c = classes_[classOf_[l][j]];
        return c.zeroOrO ? 0 : c.code;
    }

    // Whether glyph k of line l, an O or a zero, reads as a zero by its neighbours (after a digit, or before one at
    // a word's start: "110", "R30", "05"), as O (between letters, or before one at a word's start: "MOSI", "ON"), or
    // neither (0).
    char32_t zeroOrO(std::size_t l, std::size_t k) const
    {
        auto digit = [](char32_t c) { return c >= U'1' && c <= U'9'; };
        auto letter = [](char32_t c) { return c != U'O' && ((c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z')); };
        const char32_t left = besideIn(l, k, k - 1), right = besideIn(l, k, k + 1); // k - 1 wraps past the start
        if (digit(left) || (left == 0 && digit(right)))
            return U'0';
        if (letter(right) && (letter(left) || left == 0))
            return U'O';
        return 0;
    }

    // OCR reads a zero as O and an O as zero, more so a page's own drawing of them: where a class stands in words
    // tells which it is. Where more of its words say otherwise than OCR, kOneWay times as many turn it over; else it
    // stands both ways (a font that draws them alike) and is read word by word.
    void settleZeroOrO()
    {
        std::vector<int> zero(classes_.size(), 0), o(classes_.size(), 0);
        for (std::size_t l = 0; l < lines_.size(); ++l)
            for (std::size_t k = 0; k < classOf_[l].size(); ++k) {
                const std::size_t c = classOf_[l][k];
                if (classes_[c].code == U'O' || classes_[c].code == U'0') {
                    const char32_t way = zeroOrO(l, k);
                    zero[c] += way == U'0', o[c] += way == U'O';
                }
            }
        for (std::size_t c = 0; c < classes_.size(); ++c) {
            if (classes_[c].code != U'O' && classes_[c].code != U'0')
                continue;
            Class& cls = classes_[c];
            const int agree = cls.code == U'0' ? zero[c] : o[c], other = cls.code == U'0' ? o[c] : zero[c];
            if (other <= agree)
                continue; // the words do not say otherwise than OCR
            if (other >= 2 && other >= kOneWay * agree)
                cls.code = cls.code == U'0' ? U'O' : U'0', cls.byWords = true;
            else
                cls.zeroOrO = cls.byWords = true;
        }
    }

    // Whether the class's label fits its drawing better than a lookalike of the label does, as the stroke fonts
    // draw them (a 5 OCR read as S is drawn like their 5s), leaving out lookalikes the page draws otherwise (its own
    // I, a class of its own, does not make its 1 an I): without fonts to compare, any label fits.
    bool fitsBest(const Class& c, const std::vector<char32_t>& labels)
    {
        for (std::u32string_view group : kLookalikes) {
            if (group.find(c.code) == std::u32string_view::npos)
                continue;
            const Shape shape = boxed(c.shape);
            const double own = referenceDistance(shape, references(c.code));
            for (char32_t other : group)
                if (other != c.code && !drawnElsewhere(other, c, labels)) {
                    const double distance = referenceDistance(shape, references(other));
                    if (distance < kLookalikeMargin * own && distance <= kLookalikeFit)
                        return false;
                }
        }
        return true;
    }

    const std::vector<Shape>& references(char32_t code)
    {
        auto it = referenceShapes_.find(code);
        return it != referenceShapes_.end() ? it->second : referenceShapes_.emplace(code, referenceShapes(fonts_, code)).first->second;
    }

    static void label(Class& c)
    {
        int best = 0;
        char32_t code = 0;
        for (const auto& [ch, n] : c.votes)
            if (n > best)
                best = n, code = ch;
        if (best < kMinVotes || best < kMajority * c.total)
            return;
        c.code = code;
        c.disagreement = 1 - double(best) / c.total;
    }

    // Whether the line's glyphs are all of one class: filled shapes of one kind in a row (pads, vias, arrows) are
    // line work whatever OCR takes them for (but "22" is not), and OCR reads no such row.
    bool oneShape(std::size_t l) const
    {
        return std::all_of(classOf_[l].begin(), classOf_[l].end(), [&](std::size_t c) { return c == classOf_[l][0]; });
    }

    // The line's text from its glyphs' classes, or nothing when a glyph's class has no character.
    LineText spell(std::size_t l) const
    {
        const TextLine& line = lines_[l];
        if (classOf_[l].empty())
            return {};
        LineText out{l, {}, 0, 0};
        double cap = 0, ascender = 0;
        double space = kSpace * line.top;
        if (filled_) // a typeface's letters stand closer than a stroke font's, and its spaces are narrower
            space = std::max(kFilledSpace * line.top, middleGap(line) + kFilledSpaceMargin * line.top);
        if (filled_ && line.glyphs.size() > 2 && oneShape(l))
            return {};
        for (std::size_t k = 0; k < line.glyphs.size(); ++k) {
            const Class& c = classes_[classOf_[l][k]];
            const char32_t code = c.zeroOrO ? zeroOrO(l, k) : c.code;
            if (code == 0)
                return {};
            const Candidate& g = line.glyphs[k];
            if (k > 0 && g.s0 - line.glyphs[k - 1].s1 > space)
                out.text += U' ';
            out.text += code;
            out.cost = std::max(out.cost, c.disagreement);
            const double above = g.t1 - line.baseline;
            if ((c.code >= U'A' && c.code <= U'Z') || (c.code >= U'0' && c.code <= U'9'))
                cap = std::max(cap, above);
            else if (std::u32string_view(U"bdfhklt").find(c.code) != std::u32string_view::npos)
                ascender = std::max(ascender, above);
        }
        out.capHeight = cap > 0 ? cap : ascender > 0 ? ascender : line.top / 0.7;
        return out;
    }

    const Layout& layout_;
    const std::vector<TextLine>& lines_;
    LineReader& reader_;
    const std::vector<StrokeFont>& fonts_;                 // to compare lookalikes with
    std::map<char32_t, std::vector<Shape>> referenceShapes_; // their drawings, by character
    std::vector<Class> classes_;
    std::map<std::array<long, 3>, std::vector<std::size_t>> byBox_; // classes by cellOf
    std::vector<std::vector<std::size_t>> classOf_; // per line, per glyph
    std::vector<double> upright_;                   // the directions whose lines OCR reads
    std::vector<std::size_t> lost_;                 // classes whose label a rival took away
    const bool filled_;                             // the glyphs are fills, not strokes
    mutable std::size_t budget_;                    // glyphs OCR may still read
};

} // namespace

bool worthLearning(const std::vector<Piece>& pieces)
{
    return readingBudget(pieces) >= kMinReadGlyphs;
}

std::vector<LineText> readDocumentFont(const Layout& layout, const std::vector<TextLine>& lines, LineReader& reader,
                                       const std::vector<StrokeFont>& references)
{
    return Learner(layout, lines, reader, references).run();
}

} // namespace unplot::engine::strokes
