#pragma once
// Recovers the curves a plot flattened: runs of polyline segments on a circle become arcs (a whole polyline an ARC,
// or a CIRCLE when closed; otherwise bulges in the polyline), chains of Bézier arcs on one circle merge into one
// arc, Bézier chains on an ellipse become an ELLIPSE.

#include "drawing.h"

namespace unplot::engine::passes {

void recoverArcs(Drawing& drawing);

} // namespace unplot::engine::passes
