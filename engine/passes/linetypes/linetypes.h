#pragma once
// Linetypes: every PDF dash array in use becomes a linetype (named after the common one it matches at some scale,
// else generated), and runs of separate dashes of one look along a line or circle, in a regular rhythm, become one
// LINE, ARC or CIRCLE with the linetype of that rhythm.

#include "drawing.h"

namespace unplot::engine::passes {

void makeLinetypes(Drawing& drawing);

} // namespace unplot::engine::passes
