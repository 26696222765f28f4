#pragma once
// Drawings the tests of both writers share.

#include "drawing.h"

#include <map>
#include <string>

namespace unplot::test {

// A page with one of every kind of entity, on layers with awkward names (one hidden), in colours and widths, with
// non-ASCII text; with shapes no writer writes (zero length, a single point, not finite, empty) and shapes written
// in a canonical form (a full-turn arc as a circle, an ellipse given by its minor axis, mirrored or too flat, a
// closed polyline repeating its first point, a fill of two nested loops of the same direction).
engine::Drawing primitivesDrawing();
// What a reader counts in its model space (of `copies` times that drawing).
std::map<std::string, int> primitivesCounts(int copies = 1);

// `copies` times the primitives' entities, in changing colours: about 5,000 entities for 300 copies.
engine::Drawing largeDrawing(int copies);

// Entities far larger than a DWG page, whose coordinates hardly repeat: a 6,000-point polyline and an 800-loop fill.
engine::Drawing hugeDrawing();

}  // namespace unplot::test
