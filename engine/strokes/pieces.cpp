#include "pieces.h"

#include <algorithm>
#include <array>
#include <map>
#include <cmath>
#include <numbers>
#include <unordered_set>

namespace unplot::engine::strokes {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
// No glyph lies further out than this; the grid's cells count from the origin.
constexpr double kFarMm = 1e9;

void arcPoints(Vec2 c, double r, double a0, double sweep, std::vector<Vec2>& out)
{
    const int n = std::max(2, int(std::ceil(std::abs(sweep) / (kTwoPi / 32))));
    for (int i = 0; i <= n; ++i) {
        const double t = a0 + sweep * i / n;
        out.push_back({c.x + r * std::cos(t), c.y + r * std::sin(t)});
    }
}

struct Flatten {
    std::vector<Vec2>& out;
    std::vector<std::size_t>& rings;
    bool operator()(const Line& g) { return out.push_back(g.a), out.push_back(g.b), true; }
    bool operator()(const Polyline& g)
    {
        out = g.points;
        if (g.closed && !g.points.empty())
            out.push_back(g.points.front());
        return true;
    }
    bool operator()(const BezierSpline& g)
    {
        out.push_back(g.points[0]);
        for (std::size_t i = 0; i + 3 < g.points.size(); i += 3)
            for (int k = 1; k <= 6; ++k)
                out.push_back(bezierPoint(g.points[i], g.points[i + 1], g.points[i + 2], g.points[i + 3], k / 6.0));
        return true;
    }
    bool operator()(const Circle& g) { return arcPoints(g.center, g.radius, 0, kTwoPi, out), true; }
    bool operator()(const Arc& g)
    {
        double sweep = std::fmod(g.endAngleDeg - g.startAngleDeg, 360.0);
        if (!std::isfinite(sweep) || !std::isfinite(g.startAngleDeg))
            return false;
        if (sweep <= 0)
            sweep += 360;
        arcPoints(g.center, g.radius, g.startAngleDeg * std::numbers::pi / 180, sweep * std::numbers::pi / 180, out);
        return true;
    }
    bool operator()(const Ellipse&) { return false; }
    bool operator()(const Text&) { return false; }
    bool operator()(const Hatch& g)
    {
        for (const auto& loop : g.loops) {
            rings.push_back(out.size());
            Vec2 at = loop.start;
            out.push_back(at);
            for (const auto& seg : loop.segments) {
                if (seg.kind == PathSegment::Kind::Cubic)
                    for (int k = 1; k < 6; ++k)
                        out.push_back(bezierPoint(at, seg.c1, seg.c2, seg.end, k / 6.0));
                out.push_back(at = seg.end);
            }
            out.push_back(loop.start);
        }
        return true;
    }
};

} // namespace

void Box::add(Vec2 p)
{
    min = {std::min(min.x, p.x), std::min(min.y, p.y)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y)};
}

std::vector<std::vector<Vec2>> Piece::ringPoints() const
{
    std::vector<std::vector<Vec2>> out;
    for (std::size_t r = 0; r < rings.size(); ++r)
        out.emplace_back(points.begin() + std::ptrdiff_t(rings[r]),
                         r + 1 < rings.size() ? points.begin() + std::ptrdiff_t(rings[r + 1]) : points.end());
    return out;
}

std::vector<Piece> collectPieces(const Drawing& drawing, double maxSizeMm, Ink ink)
{
    std::unordered_set<std::string> hidden{kInvisibleTextLayer};
    for (const auto& layer : drawing.layers)
        if (!layer.visible)
            hidden.insert(layer.name);
    std::vector<Piece> pieces;
    pieces.reserve(drawing.entities.size());
    std::map<std::pair<std::string, std::uint32_t>, int> looks;
    const Style* last = nullptr; // of the entity before, looked up already: most come in runs of one style
    bool hide = false;
    int look = 0;
    for (std::size_t i = 0; i < drawing.entities.size(); ++i) {
        const Entity& e = drawing.entities[i];
        const bool fill = std::holds_alternative<Hatch>(e.geometry);
        if (fill ? ink == Ink::Strokes : ink == Ink::Fills)
            continue;
        if (!last || e.style.layer != last->layer || !(e.style.color == last->color)) {
            last = &e.style;
            hide = hidden.count(e.style.layer) > 0;
            if (!hide)
                look = looks.emplace(std::pair{e.style.layer, std::uint32_t(trueColorValue(e.style.color))}, int(looks.size()))
                           .first->second;
        }
        if (hide)
            continue;
        Piece piece{i, {}, {}, false, look, {}};
        if (!std::visit(Flatten{piece.points, piece.rings}, e.geometry) || piece.points.size() < 2)
            continue;
        bool near = true;
        for (Vec2 p : piece.points) {
            near = near && std::fabs(p.x) <= kFarMm && std::fabs(p.y) <= kFarMm; // false for NaN too
            piece.box.add(p);
        }
        if (near && piece.box.width() <= maxSizeMm && piece.box.height() <= maxSizeMm)
            pieces.push_back(std::move(piece));
    }
    return pieces;
}

int PieceGrid::column(double x) const
{
    return std::clamp(int(std::floor((x - origin_.x) / cell_)), 0, columns_ - 1);
}

int PieceGrid::row(double y) const
{
    return std::clamp(int(std::floor((y - origin_.y) / cell_)), 0, rows_ - 1);
}

PieceGrid::PieceGrid(const std::vector<Piece>& pieces)
{
    Box all;
    std::vector<double> sizes;
    for (const auto& p : pieces) {
        all.add(p.box.min), all.add(p.box.max);
        sizes.push_back(std::max(p.box.width(), p.box.height()));
    }
    if (pieces.empty())
        all.add({0, 0}), sizes.push_back(1);
    std::nth_element(sizes.begin(), sizes.begin() + std::ptrdiff_t(sizes.size() / 2), sizes.end());
    cell_ = std::clamp(2 * sizes[sizes.size() / 2], 0.2, 5.0);
    constexpr double kMaxCells = 4e6; // a larger page gets larger cells
    cell_ = std::max(cell_, std::sqrt((all.width() + cell_) * (all.height() + cell_) / kMaxCells));
    origin_ = all.min;
    columns_ = int(all.width() / cell_) + 1;
    rows_ = int(all.height() / cell_) + 1;
    // Counted, then filled: each piece listed in every cell its box meets.
    starts_.assign(std::size_t(columns_) * std::size_t(rows_) + 1, 0);
    std::vector<std::array<int, 4>> cells; // of each piece: first and last column and row
    cells.reserve(pieces.size());
    for (const auto& p : pieces) {
        cells.push_back({column(p.box.min.x), column(p.box.max.x), row(p.box.min.y), row(p.box.max.y)});
        const auto [x0, x1, y0, y1] = cells.back();
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                ++starts_[std::size_t(y) * std::size_t(columns_) + std::size_t(x) + 1];
    }
    for (std::size_t c = 1; c < starts_.size(); ++c)
        starts_[c] += starts_[c - 1];
    entries_.resize(starts_.back());
    std::vector<std::uint32_t> next(starts_.begin(), starts_.end() - 1);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Box& b = pieces[i].box;
        const auto [x0, x1, y0, y1] = cells[i];
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                entries_[next[std::size_t(y) * std::size_t(columns_) + std::size_t(x)]++] = {b.min.x, b.min.y, b.max.x, b.max.y, std::uint32_t(i)};
    }
}

std::vector<std::size_t> PieceGrid::find(const Box& box) const
{
    std::vector<std::size_t> out;
    const int x0 = column(box.min.x), x1 = column(box.max.x), y0 = row(box.min.y), y1 = row(box.max.y);
    int cells = 0; // that found pieces
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const std::size_t c = std::size_t(y) * std::size_t(columns_) + std::size_t(x);
            const std::size_t found = out.size();
            for (std::uint32_t k = starts_[c]; k < starts_[c + 1]; ++k) {
                const Entry& e = entries_[k];
                // A piece in several cells of the box is taken in the first of them.
                if (e.meets(box) && (x == x0 || column(e.x0) == x) && (y == y0 || row(e.y0) == y))
                    out.push_back(e.piece);
            }
            cells += out.size() > found;
        }
    if (cells > 1)
        std::sort(out.begin(), out.end());
    return out;
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

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

bool readable(double deg)
{
    const double a = std::fmod(std::fmod(deg, 360.0) + 360, 360.0);
    return a <= 90 + 1e-6 || a > 270 + 1e-6;
}

double squaredDistanceToSegment(Vec2 p, Vec2 a, Vec2 b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0;
    const double ex = p.x - a.x - t * dx, ey = p.y - a.y - t * dy;
    return ex * ex + ey * ey;
}

Segments::Segments(const std::vector<std::vector<Vec2>>& lines)
{
    // Consecutive segments (along a line, or of lines drawn one after another) lie close: runs of a few share a box.
    constexpr std::size_t kRun = 4;
    for (const auto& line : lines)
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            if (segments_.size() % kRun == 0)
                runs_.push_back({{}, 0});
            Segment s{line[i], line[i + 1], {}};
            s.box.add(s.a), s.box.add(s.b);
            runs_.back().box.add(s.a), runs_.back().box.add(s.b);
            segments_.push_back(s);
            runs_.back().end = segments_.size();
        }
}

double Segments::squaredDistance(Vec2 p, std::size_t& hint) const
{
    if (segments_.empty())
        return 1e300;
    hint = std::min(hint, segments_.size() - 1);
    double best = squaredDistanceToSegment(p, segments_[hint].a, segments_[hint].b);
    // Skipped only when clearly further than the nearest: rounding never decides which distance is least.
    auto further = [&](const Box& b) {
        const double gx = std::max({0.0, b.min.x - p.x, p.x - b.max.x});
        const double gy = std::max({0.0, b.min.y - p.y, p.y - b.max.y});
        return gx * gx + gy * gy > best * (1 + 1e-6) + 1e-18;
    };
    std::size_t i = 0;
    for (const Run& run : runs_) {
        if (further(run.box)) {
            i = run.end;
            continue;
        }
        for (; i < run.end; ++i) {
            const Segment& s = segments_[i];
            if (i == hint || further(s.box))
                continue;
            if (const double d = squaredDistanceToSegment(p, s.a, s.b); d < best)
                best = d, hint = i;
        }
    }
    return best;
}

NearMask::NearMask(const std::vector<std::vector<Vec2>>& lines, double reach) : cell_(0.4 * reach)
{
    Box box;
    for (const auto& line : lines)
        for (Vec2 p : line)
            box.add(p);
    if (lines.empty() || box.min.x > box.max.x)
        return;
    const double margin = reach + 2 * cell_;
    origin_ = {box.min.x - margin, box.min.y - margin};
    columns_ = int(std::ceil((box.width() + 2 * margin) / cell_));
    rows_ = int(std::ceil((box.height() + 2 * margin) / cell_));
    near_.assign(std::size_t(columns_) * std::size_t(rows_), false);
    const double within = reach + cell_; // from a cell's centre, so that the whole cell is covered
    for (const auto& line : lines)
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            const Vec2 a = line[i], b = line[i + 1];
            for (int y = std::max(0, row(std::min(a.y, b.y) - within)); y <= std::min(rows_ - 1, row(std::max(a.y, b.y) + within)); ++y)
                for (int x = std::max(0, column(std::min(a.x, b.x) - within));
                     x <= std::min(columns_ - 1, column(std::max(a.x, b.x) + within)); ++x)
                    if (squaredDistanceToSegment({origin_.x + (x + 0.5) * cell_, origin_.y + (y + 0.5) * cell_}, a, b) <=
                        within * within)
                        near_[std::size_t(y) * std::size_t(columns_) + std::size_t(x)] = true;
        }
}

bool NearMask::nearAll(const std::vector<Vec2>& points, double dx) const
{
    // Every eighth point first: the points of another shape mostly stray in one place, found sooner so.
    constexpr std::size_t kStride = 8;
    for (std::size_t first = 0; first < kStride; ++first)
        for (std::size_t k = first; k < points.size(); k += kStride)
            if (!near({points[k].x + dx, points[k].y}))
                return false;
    return true;
}

int replaceUsedEntities(Drawing& drawing, const std::vector<Piece>& pieces,
                        std::vector<std::pair<std::size_t, Entity>> texts)
{
    std::vector<Entity>& entities = drawing.entities;
    const std::size_t n = entities.size();
    std::vector<bool> drop(n, false);
    int count = 0;
    for (const auto& piece : pieces)
        if (piece.used && !drop[piece.entity])
            drop[piece.entity] = true, ++count;
    if (count == 0)
        return 0;
    std::sort(texts.begin(), texts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // In place (a page's entities are too many to copy): the kept ones moved to the front, then merged with the
    // texts from the back, each text before the entity that had its index.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!drop[i]) {
            if (kept != i)
                entities[kept] = std::move(entities[i]);
            ++kept;
        }
    entities.resize(kept + texts.size());
    std::size_t w = entities.size(), original = n;
    for (auto text = texts.rbegin(); text != texts.rend();) {
        if (kept > 0)
            do
                --original; // to the index the last kept entity not yet placed had
            while (drop[original]);
        for (; text != texts.rend() && (kept == 0 || text->first > original); ++text)
            entities[--w] = std::move(text->second);
        if (kept > 0 && --w != --kept)
            entities[w] = std::move(entities[kept]);
    }
    return count;
}

} // namespace unplot::engine::strokes
