#pragma once
// Collects one PDF path (already in millimetres) subpath by subpath and turns it into drawing entities: stroked
// subpaths become lines, polylines, splines, circles or arcs; a filled path becomes one hatch.

#include "drawing.h"

#include <cstddef>
#include <vector>

namespace unplot::engine {

class PathBuilder {
public:
    void clear();
    void moveTo(Vec2 p);
    void lineTo(Vec2 p);
    void curveTo(Vec2 c1, Vec2 c2, Vec2 end);
    void closePath();

    // False when a point of the path was not a finite number: such a path gives no entities.
    bool finite() const { return finite_; }

    // Appends the stroked path's entities (never a zero-length one). A subpath drawn on the spot is a dot when the
    // stroke has round caps: pass its diameter (the line width) to get it as a filled disc, else 0.
    void emitStroke(const Style& style, double dotDiameter, std::vector<Entity>& out) const;
    // Appends one hatch with every subpath that encloses something as a loop; nothing when none does.
    void emitFill(const Style& style, bool evenOdd, std::vector<Entity>& out) const;

    // The subpaths as closed rings, curves flattened to within `tolerance` mm: the path as a clip region.
    std::vector<std::vector<Vec2>> rings(double tolerance) const;

    // Segments shorter than this (in mm) are treated as zero length and dropped.
    static constexpr double kDegenerateMm = 1e-6;

private:
    struct SubPath {
        Vec2 start;
        std::vector<PathSegment> segments;
        bool closed = false;
        bool drawnOnTheSpot = false; // a segment of zero length was dropped, or closed where it started
    };
    SubPath& current();
    Vec2 currentPoint() const;
    void emitSubPath(const SubPath& path, const Style& style, std::vector<Entity>& out) const;

    std::vector<SubPath> subPaths_; // reused between paths; only the first used_ are live
    std::size_t used_ = 0;
    bool finite_ = true;
};

} // namespace unplot::engine
