#pragma once
// The passes that run over each page's drawing between the PDF reader and the writers, in the one order they run
// in. A new pass takes its place in drawingPasses().

#include "drawing.h"

#include <string>
#include <vector>

namespace unplot::engine {

struct DrawingPass {
    const char* name;      // as `unplot-engine --skip` names it
    const char* summary;   // one line for --help
    void (*run)(Drawing&); // adds a note of what it did to Drawing::notes
};

const std::vector<DrawingPass>& drawingPasses();

// Runs every pass not named in `skipped` in order, then notes the entity counts before and after.
void runPasses(Drawing& drawing, const std::vector<std::string>& skipped = {});

} // namespace unplot::engine
