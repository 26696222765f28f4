#pragma once
// PNG files of the pixels the reader takes out of a page.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace unplot::engine {

// Pixels of 8-bit samples, made a row at a time (rows are asked for top to bottom, once each).
struct PngPixels {
    int width = 0, height = 0;
    int channels = 1; // 1 grey, 2 grey and alpha, 3 RGB, 4 RGB and alpha
    std::function<void(int y, std::uint8_t* row)> row; // writes row y's width * channels samples
};

// A PNG file of the pixels.
std::string encodePng(const PngPixels& pixels);

// A PNG file of one bit a pixel from single-channel samples: 0 is 0, anything else 1. Without `paint`, a grey
// image (black and white); with it, a mask: 1 shows the colour (0xRRGGBB), 0 is transparent.
std::string encodeBilevelPng(const PngPixels& pixels, const std::uint32_t* paint = nullptr);

} // namespace unplot::engine
