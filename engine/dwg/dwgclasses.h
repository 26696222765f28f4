#pragma once
// The classes section's content: the three classes every file this writer makes declares.

#include "dwgstreams.h"

namespace unplot::engine::dwg {

// The classes for a version code (14, 15, 18, 23): up to 2004 everything goes to the data stream with 8-bit strings;
// from 2010 on the names are TU strings in the string stream.
SplitStreams classStreams(int version);

}  // namespace unplot::engine::dwg
