#pragma once
// The small line work of a page that could be the strokes of glyphs, as polylines, with a grid to find them by place.

#include "drawing.h"

#include <cstddef>
#include <vector>

namespace unplot::engine::strokes {

struct Box {
    Vec2 min{1e300, 1e300}, max{-1e300, -1e300};
    void add(Vec2 p);
    double width() const { return max.x - min.x; }
    double height() const { return max.y - min.y; }
};

// One stroked entity: its path flattened.
struct Piece {
    std::size_t entity;
    std::vector<Vec2> points; // a polyline
    Box box;
    bool used = false; // taken into a text
};

// The entities that are strokes no larger than `maxSizeMm` (lines, polylines, splines, arcs, circles), on a visible
// layer other than the invisible text's; with `fills`, solid fills too (their points only: the outlines of glyphs).
// Strokes with numbers no page has (not finite, or a billion millimetres out) are left out.
std::vector<Piece> collectPieces(const Drawing& drawing, double maxSizeMm, bool fills = false);

// Finds pieces whose boxes meet a box; cells of `cellMm`.
class PieceGrid {
public:
    PieceGrid(const std::vector<Piece>& pieces, double cellMm);
    // Indices of the pieces whose boxes meet `box`, each once, in increasing order.
    std::vector<std::size_t> find(const Box& box) const;

private:
    long key(long x, long y) const { return x * 1000003L + y; }
    long cell(double v) const;
    const std::vector<Piece>& pieces_;
    double cell_;
    std::vector<std::pair<long, std::size_t>> index_; // (cell key, piece), sorted
};

// The square of the smallest distance from `p` to the polyline.
double squaredDistanceToPolyline(Vec2 p, const std::vector<Vec2>& line);

// Removes the entities of the used pieces from the drawing and puts each text where the first of its strokes was
// (`texts`: that entity's index, and the text). Returns how many entities were removed.
int replaceUsedEntities(Drawing& drawing, const std::vector<Piece>& pieces,
                        std::vector<std::pair<std::size_t, Entity>> texts);

} // namespace unplot::engine::strokes
