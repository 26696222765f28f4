#pragma once
// The raster images of a page: their pixels as files for the archive (one file for each distinct picture) and where
// they show, as the drawing's images.

#include "drawing.h"

#include <mupdf/fitz.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace unplot::engine {

class PageImages {
public:
    // Images larger than this (in pixels, after decoding) are decoded at a half, a quarter, ... of their size.
    static constexpr double kMostPixels = 200e6;

    // `toMm`: device space to the drawing's millimetres.
    PageImages(fz_context* ctx, Drawing& drawing, fz_matrix toMm);
    ~PageImages();
    PageImages(const PageImages&) = delete;
    PageImages& operator=(const PageImages&) = delete;

    // An image drawn with MuPDF's matrix (the unit square onto the picture, (0, 0) at its top left) and opacity.
    // `clip`: the polygon (mm) it shows within, or empty. `paint`: the image is a stencil mask that shows this colour
    // where it is set.
    void draw(fz_image* image, fz_matrix ctm, float alpha, const Style& style, const std::vector<Vec2>& clip,
              const Rgb* paint = nullptr);
    // What a shading painted, rendered into `pixmap`, whose pixels lie in device space as its x, y, w and h say,
    // scaled by `scale` (device units a pixel).
    void drawPixmap(fz_pixmap* pixmap, float scale, float alpha, const Style& style, const std::vector<Vec2>& clip);

    // Adds the warnings for images that could not be converted whole.
    void finish(std::vector<std::string>& warnings) const;

private:
    struct Placement {
        Vec2 origin, u, v;
        bool flip = false;     // the picture is mirrored: its rows go into the file bottom to top
        bool skewed = false;   // u and v were not perpendicular: the nearest rectangle is placed
        bool valid = false;
    };
    Placement place(fz_matrix ctm, int width, int height) const;
    // The file of a decoded pixmap (and its mask), as an index into the drawing's files.
    std::uint32_t fileOf(fz_pixmap* pixmap, fz_pixmap* mask, bool flip, bool bilevel, const Rgb* paint);
    std::uint32_t addFile(std::string bytes, const char* extension, int width, int height, bool transparent);
    void addImage(std::uint32_t file, const Placement& p, float alpha, const Style& style, const std::vector<Vec2>& clip);
    // The image decoded, downsampled when it is too large (or memory runs short); null (and counted) on failure.
    fz_pixmap* decode(fz_image* image, int level);

    fz_context* ctx_;
    Drawing& drawing_;
    fz_matrix toMm_;
    // Files already made for an image: (image, mirrored, stencil colour or -1).
    std::map<std::tuple<fz_image*, bool, std::int64_t>, std::uint32_t> made_;
    std::unordered_multimap<std::size_t, std::uint32_t> byContent_;

    int damaged_ = 0;
    std::string firstDamage_;
    int downsampled_ = 0;
    int skewed_ = 0;
};

} // namespace unplot::engine
