#pragma once
// The DXF writer at tag level: the same output as writeDxf, into any sink (tests collect the tags).

#include "drawing.h"
#include "tagsink.h"

#include <cstdint>

namespace unplot::engine::dxf {

// Throws std::invalid_argument for a version code other than 14, 15, 18, 21, 23.
void writeDxfTags(const Drawing& drawing, std::int64_t versionCode, TagSink& sink);

} // namespace unplot::engine::dxf
