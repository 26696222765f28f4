#pragma once
// The preview image of 2000 to 2010 files: the thumbnail file browsers show.

#include "drawing.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace unplot::engine::dwg {

// The preview as the file stores it: sentinels around an empty header record and a 184 x 126 bitmap of 256 colours
// (the page, white, with the shapes' outlines and the texts' baselines in their colours). The entries give where
// their data is in the file: `base` is where the result will start.
std::vector<std::uint8_t> previewImage(const std::vector<std::pair<const Geometry*, Rgb>>& shapes, double widthMm,
                                       double heightMm, std::uint32_t base);

// Where previewImage() puts the file addresses of its two entries, for a container to add the image's own address.
inline constexpr std::size_t kPreviewAddresses[] = {22, 31};

}  // namespace unplot::engine::dwg
