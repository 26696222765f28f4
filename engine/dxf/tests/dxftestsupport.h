#pragma once
// Helpers for the DXF writer tests: sample drawings, and the collected tags cut into sections and objects.

#include "drawing.h"
#include "dxftags.h"
#include "sampledrawings.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace unplot::engine::dxf::test {

using unplot::test::largeDrawing;
using unplot::test::primitivesCounts;
using unplot::test::primitivesDrawing;

using Tags = std::vector<std::pair<int, std::string>>;

// One object of the file: a run of tags from one (0, TYPE) to the next, with the section it is in.
struct DxfObject {
    std::string section;
    std::string type;
    Tags tags;

    // The value of the first tag with this code, or "" when there is none.
    std::string value(int code) const;
    std::vector<std::string> values(int code) const;
    bool has(int code) const;
};

Tags collectTags(const Drawing& drawing, int version);
std::vector<DxfObject> splitObjects(const Tags& tags);
// Header variables: name to the tags that follow it.
std::map<std::string, Tags> headerVariables(const Tags& tags);

inline constexpr int kVersions[] = {14, 15, 18, 21, 23};

} // namespace unplot::engine::dxf::test
