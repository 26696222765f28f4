#include "arcs.h"
namespace unplot::engine::passes {
void recoverArcs(Drawing&) {}
} // namespace unplot::engine::passes
