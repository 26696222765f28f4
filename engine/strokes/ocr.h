#pragma once
// Optical character recognition of one line of glyphs rendered from their strokes, by Tesseract (libtesseract5 and
// its English model, tesseract-ocr-eng). The library is loaded on first use, so that a page without unknown glyphs
// costs nothing and an engine without it still runs; it works on one thread (OMP_THREAD_LIMIT=1 unless set).

#include "drawing.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unplot::engine::strokes {

// A grey image, white (255) at first: what a line of text is drawn into for reading.
struct Raster {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    Raster(int w, int h) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h), 255) {}
    // Draws the segment a-b in black with round ends, `radius` pixels wide either side.
    void stroke(Vec2 a, Vec2 b, double radius);
    // Fills the polygons (closed point lists) in black, even-odd.
    void fill(const std::vector<std::vector<Vec2>>& polygons);
};

// One character read, with the columns of its box and the reader's confidence (0..100).
struct OcrSymbol {
    char32_t code = 0;
    int x0 = 0, x1 = 0;
    float confidence = 0;
};

class LineReader {
public:
    LineReader();
    ~LineReader();
    // Loads Tesseract and its model the first time; false when they cannot be loaded.
    bool ready();
    // Reads the image as one line of text (dictionaries off, the characters of drawings only); spaces left out.
    // Needs ready().
    std::vector<OcrSymbol> read(const Raster& image);

private:
    struct Api;
    std::unique_ptr<Api> api_;
    bool tried_ = false;
};

} // namespace unplot::engine::strokes
