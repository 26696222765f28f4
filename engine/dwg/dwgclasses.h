#pragma once
// The classes section's content: the three classes every file this writer makes declares, and the four of raster
// images in a drawing that has some.

#include "dwgstreams.h"

namespace unplot::engine::dwg {

// The classes for a version code (14, 15, 18, 23): up to 2004 everything goes to the data stream with 8-bit strings;
// from 2010 on the names are TU strings in the string stream.
// `images` and `imageFiles` count the IMAGE entities and IMAGEDEF objects.
SplitStreams classStreams(int version, std::uint32_t images = 0, std::uint32_t imageFiles = 0);

}  // namespace unplot::engine::dwg
