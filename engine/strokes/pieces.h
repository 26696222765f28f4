#pragma once
// The small line work of a page that could be the strokes of glyphs, as polylines, with a grid to find them by place.

#include "drawing.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace unplot::engine::strokes {

struct Box {
    Vec2 min{1e300, 1e300}, max{-1e300, -1e300};
    void add(Vec2 p);
    double width() const { return max.x - min.x; }
    double height() const { return max.y - min.y; }
};

// One stroked or filled entity: its path flattened.
struct Piece {
    std::size_t entity;
    std::vector<Vec2> points; // a polyline; a fill's rings one after the other, each closed
    Box box;
    bool used = false; // taken into a text
    int look = 0;      // pieces of one layer and colour share it
    std::vector<std::size_t> rings; // a fill's: where each ring begins in `points`; empty for a stroke

    // The rings of a fill, each a closed polyline.
    std::vector<std::vector<Vec2>> ringPoints() const;
};

// Which entities collectPieces takes.
enum class Ink { Strokes, StrokesAndFills, Fills };

// The entities that are strokes no larger than `maxSizeMm` (lines, polylines, splines, arcs, circles), on a visible
// layer other than the invisible text's; solid fills too or instead as `ink` says (their outlines: the glyphs of
// text a printer driver drew filled). Entities with numbers no page has (not finite, or a billion millimetres out)
// are left out.
std::vector<Piece> collectPieces(const Drawing& drawing, double maxSizeMm, Ink ink = Ink::Strokes);

// Finds pieces whose boxes meet a box; cells twice the size of most pieces.
class PieceGrid {
public:
    explicit PieceGrid(const std::vector<Piece>& pieces);
    // Indices of the pieces whose boxes meet `box`, each once, in increasing order.
    std::vector<std::size_t> find(const Box& box) const;
    // Calls `f` with the index of each piece whose box meets `box`, in no order and maybe more than once.
    template <typename F> void visit(const Box& box, F&& f) const
    {
        for (int y = row(box.min.y); y <= row(box.max.y); ++y)
            for (int x = column(box.min.x); x <= column(box.max.x); ++x) {
                const std::size_t c = std::size_t(y) * std::size_t(columns_) + std::size_t(x);
                for (std::uint32_t k = starts_[c]; k < starts_[c + 1]; ++k)
                    if (entries_[k].meets(box))
                        f(std::size_t(entries_[k].piece));
            }
    }

private:
    int column(double x) const;
    int row(double y) const;
    double cell_;
    Vec2 origin_;
    int columns_ = 0, rows_ = 0;
    struct Entry { // a piece's box, and the piece
        double x0, y0, x1, y1;
        std::uint32_t piece;
        bool meets(const Box& b) const { return x1 >= b.min.x && x0 <= b.max.x && y1 >= b.min.y && y0 <= b.max.y; }
    };
    std::vector<std::uint32_t> starts_; // per cell (row by row), where its pieces begin in entries_
    std::vector<Entry> entries_;        // pieces with their boxes, cell by cell
};

// Points along the polyline no further than `step` apart, its corners among them, appended to `out`.
void densify(const std::vector<Vec2>& line, double step, std::vector<Vec2>& out);

// The middle value (the upper of two middles), or 0 for none.
double median(std::vector<double> values);

// Whether text running at `deg` reads the way a drawing's text does: from below or from the right.
bool readable(double deg);

// The square of the smallest distance from `p` to the segment a-b.
double squaredDistanceToSegment(Vec2 p, Vec2 a, Vec2 b);

// The segments of polylines, for measuring many points against all of them: the square of the smallest distance
// from a point to any of them, found sooner by trying first the segment nearest to the point before
// (`hint`, kept between calls) and measuring only segments whose boxes, and those of runs of a few consecutive ones,
// come as close as the nearest so far.
class Segments {
public:
    explicit Segments(const std::vector<std::vector<Vec2>>& lines);
    double squaredDistance(Vec2 p, std::size_t& hint) const; // 1e300 without segments

private:
    struct Segment {
        Vec2 a, b;
        Box box;
    };
    struct Run { // of consecutive segments
        Box box;
        std::size_t end; // of its segments in segments_
    };
    std::vector<Segment> segments_;
    std::vector<Run> runs_;
};

// The cells of a grid over polylines that lie within `reach` of them: a point in no such cell is further away than
// that, found without measuring.
class NearMask {
public:
    NearMask(const std::vector<std::vector<Vec2>>& lines, double reach);
    bool near(Vec2 p) const
    {
        const int x = column(p.x), y = row(p.y);
        return x >= 0 && y >= 0 && x < columns_ && y < rows_ && near_[std::size_t(y) * std::size_t(columns_) + std::size_t(x)];
    }
    // Whether every point, moved by `dx` along x, is near.
    bool nearAll(const std::vector<Vec2>& points, double dx = 0) const;

private:
    int column(double x) const { return int(std::floor((x - origin_.x) / cell_)); }
    int row(double y) const { return int(std::floor((y - origin_.y) / cell_)); }
    double cell_;
    Vec2 origin_;
    int columns_ = 0, rows_ = 0;
    std::vector<bool> near_;
};

// Removes the entities of the used pieces from the drawing and puts each text where the first of its strokes was
// (`texts`: that entity's index, and the text). Returns how many entities were removed.
int replaceUsedEntities(Drawing& drawing, const std::vector<Piece>& pieces,
                        std::vector<std::pair<std::size_t, Entity>> texts);

} // namespace unplot::engine::strokes
