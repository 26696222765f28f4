#include "joins.h"
namespace unplot::engine::passes {
void cleanUp(Drawing&) {}
void joinPaths(Drawing&) {}
} // namespace unplot::engine::passes
