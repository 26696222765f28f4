#pragma once
// DWG output of a drawing.

#include "drawing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace unplot::engine {

struct DwgWriteInfo {
    std::int64_t requestedCode = 0;  // the version code asked for
    std::int64_t writtenCode = 0;    // the version code actually written
    std::string note;                // why they differ, for the archive's README.txt; empty when they agree
};

// Is this version code written natively (as itself)?
bool dwgWritesNatively(std::int64_t versionCode);

// Writes the drawing as DWG: the requested version when it is written natively, else the newest natively written
// version that is older (info says which). Throws std::invalid_argument for an unknown code.
std::vector<std::uint8_t> writeDwg(const Drawing& drawing, std::int64_t versionCode, DwgWriteInfo* info = nullptr);

}  // namespace unplot::engine
