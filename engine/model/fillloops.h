#pragma once
// The boundary loops of a solid fill as a HATCH can hold them: one rule for both writers.

#include "drawing.h"

#include <vector>

namespace unplot::engine {

// A loop without zero-length edges; `straight` when it has no curve (then written as a polyline boundary, its
// closing edge implicit and dropped from `segments`).
struct BoundaryLoop {
    Vec2 start;
    std::vector<PathSegment> segments;
    bool straight = true;
};

// The loops to write for a fill, with the hatch drawn in the normal (odd parity) style.
// Degenerate loops (no extent, non-finite points) are left out. Even-odd fills keep every other loop as given.
// For non-zero winding fills, a loop is kept only where the fill changes across it: the winding number of the
// other loops at the loop's start, w, and its own direction, d (+1 counter-clockwise), fill its inside when
// w + d != 0 and its outside when w != 0; a loop with the same state on both sides (a same-direction loop inside
// a filled one) is dropped. That is exact for loops that neither cross nor touch each other; crossing or
// self-intersecting loops keep the odd-parity reading (a self-crossing star shows its centre empty).
std::vector<BoundaryLoop> boundaryLoops(const Hatch& hatch);

} // namespace unplot::engine
