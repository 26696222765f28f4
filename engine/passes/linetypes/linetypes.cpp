#include "linetypes.h"
namespace unplot::engine::passes {
void makeLinetypes(Drawing&) {}
} // namespace unplot::engine::passes
