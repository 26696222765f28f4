#include "drawing.h"

#include <algorithm>
#include <cmath>

namespace unplot::engine {

std::vector<Vec2> imageClipPixels(const Image& image, const ImageFile& file)
{
    const double w = file.width, h = file.height;
    std::vector<Vec2> pixels;
    const double det = image.u.x * image.v.y - image.u.y * image.v.x;
    for (const Vec2& p : image.clip) {
        const double dx = p.x - image.origin.x, dy = p.y - image.origin.y;
        const double along = (dx * image.v.y - dy * image.v.x) / det, up = (image.u.x * dy - image.u.y * dx) / det;
        pixels.push_back({std::clamp(along, 0.0, w) - 0.5, std::clamp(h - up, 0.0, h) - 0.5});
    }
    if (pixels.size() > 1 && pixels.back() == pixels.front())
        pixels.pop_back();
    if (pixels.size() < 3)
        return {{-0.5, -0.5}, {w - 0.5, h - 0.5}};
    const auto [left, right] = std::minmax_element(pixels.begin(), pixels.end(), [](Vec2 a, Vec2 b) { return a.x < b.x; });
    const auto [top, bottom] = std::minmax_element(pixels.begin(), pixels.end(), [](Vec2 a, Vec2 b) { return a.y < b.y; });
    // A rectangle along the grid: every corner on the bounding box's corners.
    const Vec2 low{left->x, top->y}, high{right->x, bottom->y};
    auto onCorner = [&](Vec2 p) {
        const double e = 1e-6;
        return (std::abs(p.x - low.x) < e || std::abs(p.x - high.x) < e) &&
               (std::abs(p.y - low.y) < e || std::abs(p.y - high.y) < e);
    };
    if (pixels.size() == 4 && std::all_of(pixels.begin(), pixels.end(), onCorner))
        return {low, high};
    pixels.push_back(pixels.front());
    return pixels;
}

} // namespace unplot::engine
