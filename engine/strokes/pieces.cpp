#include "pieces.h"

#include <algorithm>
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
    bool fills;
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
            for (int k = 1; k <= 6; ++k) {
                const double t = k / 6.0, u = 1 - t;
                const Vec2 a = g.points[i], b = g.points[i + 1], c = g.points[i + 2], d = g.points[i + 3];
                out.push_back({u * u * u * a.x + 3 * u * u * t * b.x + 3 * u * t * t * c.x + t * t * t * d.x,
                               u * u * u * a.y + 3 * u * u * t * b.y + 3 * u * t * t * c.y + t * t * t * d.y});
            }
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
            out.push_back(loop.start);
            for (const auto& seg : loop.segments)
                out.push_back(seg.end);
        }
        return fills;
    }
};

} // namespace

void Box::add(Vec2 p)
{
    min = {std::min(min.x, p.x), std::min(min.y, p.y)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y)};
}

std::vector<Piece> collectPieces(const Drawing& drawing, double maxSizeMm, bool fills)
{
    std::unordered_set<std::string> hidden{kInvisibleTextLayer};
    for (const auto& layer : drawing.layers)
        if (!layer.visible)
            hidden.insert(layer.name);
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < drawing.entities.size(); ++i) {
        const Entity& e = drawing.entities[i];
        if (hidden.count(e.style.layer))
            continue;
        Piece piece{i, {}, {}};
        if (!std::visit(Flatten{piece.points, fills}, e.geometry) || piece.points.size() < 2)
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

long PieceGrid::cell(double v) const
{
    return long(std::floor(v / cell_));
}

PieceGrid::PieceGrid(const std::vector<Piece>& pieces, double cellMm) : pieces_(pieces), cell_(cellMm)
{
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Box& b = pieces[i].box;
        for (long x = cell(b.min.x); x <= cell(b.max.x); ++x)
            for (long y = cell(b.min.y); y <= cell(b.max.y); ++y)
                index_.push_back({key(x, y), i});
    }
    std::sort(index_.begin(), index_.end());
}

std::vector<std::size_t> PieceGrid::find(const Box& box) const
{
    std::vector<std::size_t> out;
    for (long x = cell(box.min.x); x <= cell(box.max.x); ++x)
        for (long y = cell(box.min.y); y <= cell(box.max.y); ++y) {
            auto it = std::lower_bound(index_.begin(), index_.end(), std::pair<long, std::size_t>{key(x, y), 0});
            for (; it != index_.end() && it->first == key(x, y); ++it) {
                const Box& b = pieces_[it->second].box;
                if (b.max.x >= box.min.x && b.min.x <= box.max.x && b.max.y >= box.min.y && b.min.y <= box.max.y)
                    out.push_back(it->second);
            }
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

double squaredDistanceToPolyline(Vec2 p, const std::vector<Vec2>& line)
{
    double best = 1e300;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const Vec2 a = line[i], b = line[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double ex = p.x - a.x - t * dx, ey = p.y - a.y - t * dy;
        best = std::min(best, ex * ex + ey * ey);
    }
    return best;
}

int replaceUsedEntities(Drawing& drawing, const std::vector<Piece>& pieces,
                        std::vector<std::pair<std::size_t, Entity>> texts)
{
    std::vector<bool> drop(drawing.entities.size(), false);
    int count = 0;
    for (const auto& piece : pieces)
        if (piece.used && !drop[piece.entity])
            drop[piece.entity] = true, ++count;
    if (count == 0)
        return 0;
    std::sort(texts.begin(), texts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Entity> out;
    out.reserve(drawing.entities.size() - std::size_t(count) + texts.size());
    auto next = texts.begin();
    for (std::size_t i = 0; i < drawing.entities.size(); ++i) {
        for (; next != texts.end() && next->first == i; ++next)
            out.push_back(std::move(next->second));
        if (!drop[i])
            out.push_back(std::move(drawing.entities[i]));
    }
    for (; next != texts.end(); ++next)
        out.push_back(std::move(next->second));
    drawing.entities = std::move(out);
    return count;
}

} // namespace unplot::engine::strokes
