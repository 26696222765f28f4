#pragma once
// DWG output of a drawing.

#include "drawing.h"

#include <cstdint>
#include <vector>

namespace unplot::engine {

// Writes the drawing as DWG of the given version code: 14 (R14, AC1014), 15 (2000, AC1015), 18 (2004, AC1018),
// 21 (2007, AC1021) or 23 (2010, AC1024). Throws std::invalid_argument for any other code. The drawing's creation
// and update dates are `unixSeconds` (the same drawing, the same bytes), or the present moment when it is negative.
std::vector<std::uint8_t> writeDwg(const Drawing& drawing, std::int64_t versionCode, std::int64_t unixSeconds = -1);

}  // namespace unplot::engine
