#pragma once
// Clean-up and joining of strokes. cleanUp drops pieces of no length, exact duplicates and straight pieces lying on
// a longer one of the same look (collinear overlapping ones merge). joinPaths joins open lines, polylines and arcs
// of the same look whose ends touch into one polyline (with bulges for the arcs), closed where it closes.

#include "drawing.h"

namespace unplot::engine::passes {

void cleanUp(Drawing& drawing);
void joinPaths(Drawing& drawing);

} // namespace unplot::engine::passes
