#pragma once
// DXF output of a drawing, for every version code the protocol offers (14, 15, 18, 21, 23).

#include "drawing.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace unplot::engine {

// Writes the drawing as an ASCII DXF of the given version code. Throws std::invalid_argument for an unknown code.
void writeDxf(const Drawing& drawing, std::int64_t versionCode, std::ostream& out);

// The same into a string.
std::string dxfToString(const Drawing& drawing, std::int64_t versionCode);

}  // namespace unplot::engine
