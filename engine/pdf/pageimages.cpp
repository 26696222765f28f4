#include "pageimages.h"

#include "pngfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>

namespace unplot::engine {
namespace {

// A picture whose far corner moves less than this (mm) when its skew is taken out counts as a rectangle.
constexpr double kSkewTolerance = 0.005;
// MuPDF halves an image at most six times while decoding it.
constexpr int kMostHalvings = 6;
// What fileOf gives for pixels that are all transparent.
constexpr std::uint32_t kNoFile = ~0u;

// MuPDF's errors while it decodes: it reports and then swallows most of them (padding what it could not read), which
// would pass a broken image off as a blank one.
struct ErrorWatch {
    fz_error_cb* print = nullptr;
    void* user = nullptr;
    int count = 0;
    char first[256] = "";
};

void watchError(void* user, const char* message)
{
    auto* w = static_cast<ErrorWatch*>(user);
    if (w->count++ == 0)
        fz_strlcpy(w->first, message, sizeof w->first);
    if (w->print)
        w->print(w->user, message);
}

// MuPDF's decoding of an image, halved `level` times, with only plain data in the frame. Null on failure (also when
// MuPDF reported an error on the way), with MuPDF's error code and message.
fz_pixmap* decodeAt(fz_context* ctx, fz_image* image, int level, int* code, char* message, std::size_t size)
{
    fz_pixmap* pixmap = nullptr;
    ErrorWatch watch;
    watch.print = fz_error_callback(ctx, &watch.user);
    fz_set_error_callback(ctx, watchError, &watch);
    fz_var(pixmap);
    fz_try(ctx)
    {
        if (level == 0) {
            pixmap = fz_get_unscaled_pixmap_from_image(ctx, image);
        } else {
            // MuPDF halves while the result stays 2 pixels above the size asked for.
            fz_matrix want = fz_scale(float(std::max(1, (image->w >> level) - 2)),
                                      float(std::max(1, (image->h >> level) - 2)));
            pixmap = fz_get_pixmap_from_image(ctx, image, nullptr, &want, nullptr, nullptr);
        }
    }
    fz_catch(ctx)
    {
        *code = fz_caught(ctx);
        pixmap = nullptr;
    }
    fz_set_error_callback(ctx, watch.print, watch.user);
    if (watch.count > 0) {
        fz_drop_pixmap(ctx, pixmap);
        pixmap = nullptr;
        fz_strlcpy(message, watch.first, size);
    }
    return pixmap;
}

// The pixmap in grey or RGB (with its alpha), as it is when it is already; null when MuPDF cannot convert it.
fz_pixmap* greyOrRgb(fz_context* ctx, fz_pixmap* pixmap)
{
    fz_pixmap* result = nullptr;
    fz_var(result);
    fz_try(ctx)
    {
        fz_colorspace* cs = pixmap->colorspace;
        if (!cs || fz_colorspace_is_gray(ctx, cs) || fz_colorspace_is_rgb(ctx, cs))
            result = fz_keep_pixmap(ctx, pixmap);
        else
            result = fz_convert_pixmap(ctx, pixmap, fz_device_rgb(ctx), nullptr, nullptr, fz_default_color_params, 1);
    }
    fz_catch(ctx)
    {
        result = nullptr;
    }
    return result;
}

// The bytes of a JPEG image that any reader shows as the PDF does: grey or RGB, no mask, no decode array, colours
// transformed as the file's own markers say. Empty otherwise.
std::string_view keptJpeg(fz_context* ctx, fz_image* image)
{
    fz_compressed_buffer* cb = fz_compressed_image_buffer(ctx, image);
    if (!cb || !cb->buffer || cb->params.type != FZ_IMAGE_JPEG || cb->params.u.jpeg.color_transform != -1 ||
        image->invert_cmyk_jpeg || image->mask || image->use_colorkey || image->use_decode || image->imagemask ||
        !image->colorspace || (image->n != 1 && image->n != 3) || image->bpc != 8)
        return {};
    if (!(image->n == 1 ? fz_colorspace_is_gray(ctx, image->colorspace) : fz_colorspace_is_rgb(ctx, image->colorspace)))
        return {};
    const std::string_view bytes(reinterpret_cast<const char*>(cb->buffer->data), cb->buffer->len);
    return bytes.starts_with("\xFF\xD8") ? bytes : std::string_view{};
}

struct Samples {
    const fz_pixmap* p;
    const std::uint8_t* at(int x, int y) const { return p->samples + std::ptrdiff_t(y) * p->stride + std::ptrdiff_t(x) * p->n; }
};

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}
double dot(Vec2 a, Vec2 b)
{
    return a.x * b.x + a.y * b.y;
}

// Within 0.01 mm of the polygon or inside it (an empty polygon holds everything).
bool insideOrOn(Vec2 p, const std::vector<Vec2>& polygon)
{
    if (polygon.size() < 3)
        return true;
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Vec2 a = polygon[j], b = polygon[i], ab{b.x - a.x, b.y - a.y}, ap{p.x - a.x, p.y - a.y};
        const double t = std::clamp(dot(ap, ab) / std::max(dot(ab, ab), 1e-30), 0.0, 1.0);
        const Vec2 off{ap.x - t * ab.x, ap.y - t * ab.y};
        if (dot(off, off) < 1e-4)
            return true;
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * ab.x / ab.y)
            inside = !inside;
    }
    return inside;
}

std::string plural(int n, const char* one, const char* many)
{
    return std::to_string(n) + (n == 1 ? one : many);
}

} // namespace

PageImages::PageImages(fz_context* ctx, Drawing& drawing, fz_matrix toMm) : ctx_(ctx), drawing_(drawing), toMm_(toMm) {}

PageImages::~PageImages()
{
    for (const auto& [key, file] : made_)
        fz_drop_image(ctx_, std::get<0>(key));
}

PageImages::Placement PageImages::place(fz_matrix m, int width, int height) const
{
    const fz_matrix t = toMm_;
    auto map = [&](double x, double y) {
        const double dx = m.a * x + m.c * y + m.e, dy = m.b * x + m.d * y + m.f;
        return Vec2{t.a * dx + t.c * dy + t.e, t.b * dx + t.d * dy + t.f};
    };
    const Vec2 topLeft = map(0, 0), topRight = map(1, 0), bottomLeft = map(0, 1), bottomRight = map(1, 1);
    Placement p;
    p.origin = bottomLeft;
    p.u = {(bottomRight.x - bottomLeft.x) / width, (bottomRight.y - bottomLeft.y) / width};
    p.v = {(topLeft.x - bottomLeft.x) / height, (topLeft.y - bottomLeft.y) / height};
    if (cross(p.u, p.v) < 0) { // mirrored: the file's rows go bottom to top, so that it shows the right way up
        p.flip = true;
        p.origin = topLeft;
        p.u = {(topRight.x - topLeft.x) / width, (topRight.y - topLeft.y) / width};
        p.v = {-p.v.x, -p.v.y};
    }
    const double uu = dot(p.u, p.u);
    if (uu > 0 && std::abs(dot(p.u, p.v)) / std::sqrt(uu) * height > kSkewTolerance) {
        // An IMAGE is a rectangle: the one with the same centre, bottom direction, width and area.
        const Vec2 centre{p.origin.x + (p.u.x * width + p.v.x * height) / 2,
                          p.origin.y + (p.u.y * width + p.v.y * height) / 2};
        const double along = dot(p.u, p.v) / uu;
        p.v = {p.v.x - along * p.u.x, p.v.y - along * p.u.y};
        p.origin = {centre.x - (p.u.x * width + p.v.x * height) / 2, centre.y - (p.u.y * width + p.v.y * height) / 2};
        p.skewed = true;
    }
    const double area = cross(p.u, p.v) * width * height;
    p.valid = std::isfinite(p.origin.x) && std::isfinite(p.origin.y) && std::isfinite(area) && area > 1e-9;
    return p;
}

fz_pixmap* PageImages::decode(fz_image* image, int level)
{
    for (;; ++level) {
        int code = 0;
        char message[256] = "";
        fz_pixmap* pixmap = decodeAt(ctx_, image, level, &code, message, sizeof message);
        if (pixmap && double(pixmap->w) * pixmap->h <= kMostPixels) {
            downsampled_ += level > 0 ? 1 : 0;
            return pixmap;
        }
        fz_drop_pixmap(ctx_, pixmap);
        if ((pixmap || code == FZ_ERROR_MEMORY) && level < kMostHalvings)
            continue; // still too large, or memory ran short: smaller
        ++damaged_;
        if (firstDamage_.empty())
            firstDamage_ = pixmap ? "too large even halved six times" : message;
        return nullptr;
    }
}

void PageImages::draw(fz_image* image, fz_matrix ctm, float alpha, const Style& style, const std::vector<Vec2>& clip,
                      const Rgb* paint)
{
    if (!image || image->w <= 0 || image->h <= 0)
        return;
    const bool flip = place(ctm, 1, 1).flip;
    const std::int64_t colour = paint ? trueColorValue(*paint) : -1;
    const auto key = std::make_tuple(image, flip, colour);
    auto known = made_.find(key);
    if (known == made_.end()) {
        int level = 0;
        while (level < kMostHalvings && double(image->w >> level) * double(image->h >> level) > kMostPixels)
            ++level;
        std::uint32_t file = 0;
        const std::string_view jpeg = paint || flip || level > 0 ? std::string_view{} : keptJpeg(ctx_, image);
        if (!jpeg.empty()) {
            // Kept as it is once MuPDF has read it through (at an eighth of its size: quickly).
            int code = 0;
            char message[256] = "";
            fz_pixmap* check = decodeAt(ctx_, image, 3, &code, message, sizeof message);
            if (!check) {
                ++damaged_;
                if (firstDamage_.empty())
                    firstDamage_ = message;
                return;
            }
            fz_drop_pixmap(ctx_, check);
            file = addFile(std::string(jpeg), ".jpg", image->w, image->h, false);
        } else {
            fz_pixmap* pixmap = decode(image, level);
            if (!pixmap)
                return;
            fz_pixmap* mask = nullptr;
            if (image->mask && !paint) {
                int maskLevel = 0;
                while (maskLevel < kMostHalvings && (image->mask->w >> maskLevel) > pixmap->w &&
                       (image->mask->h >> maskLevel) > pixmap->h)
                    ++maskLevel;
                mask = decode(image->mask, maskLevel);
                if (!mask) {
                    fz_drop_pixmap(ctx_, pixmap);
                    return;
                }
            }
            fz_pixmap* shown = paint ? fz_keep_pixmap(ctx_, pixmap) : greyOrRgb(ctx_, pixmap);
            fz_drop_pixmap(ctx_, pixmap);
            if (!shown) {
                fz_drop_pixmap(ctx_, mask);
                ++damaged_;
                return;
            }
            try {
                file = fileOf(shown, mask, flip, image->bpc == 1, paint);
            } catch (...) {
                fz_drop_pixmap(ctx_, shown);
                fz_drop_pixmap(ctx_, mask);
                throw;
            }
            fz_drop_pixmap(ctx_, shown);
            fz_drop_pixmap(ctx_, mask);
        }
        known = made_.emplace(key, file).first;
        fz_keep_image(ctx_, image);
    }
    if (known->second == kNoFile)
        return; // nothing of it shows
    const ImageFile& f = drawing_.imageFiles[known->second];
    addImage(known->second, place(ctm, f.width, f.height), alpha, style, clip);
}

void PageImages::drawPixmap(fz_pixmap* pixmap, float scale, float alpha, const Style& style,
                            const std::vector<Vec2>& clip)
{
    const fz_matrix ctm{float(pixmap->w) * scale, 0, 0, float(pixmap->h) * scale, float(pixmap->x) * scale,
                        float(pixmap->y) * scale};
    const Placement p = place(ctm, pixmap->w, pixmap->h);
    const std::uint32_t file = fileOf(pixmap, nullptr, p.flip, false, nullptr);
    if (file != kNoFile)
        addImage(file, p, alpha, style, clip);
}

std::uint32_t PageImages::fileOf(fz_pixmap* pixmap, fz_pixmap* mask, bool flip, bool bilevel, const Rgb* paint)
{
    const int width = pixmap->w, height = pixmap->h;
    const Samples px{pixmap};
    const int colours = pixmap->n - pixmap->alpha - pixmap->s;
    auto sourceRow = [&](int y) { return flip ? height - 1 - y : y; };
    auto maskAt = [&](int x, int y) {
        return mask ? *Samples{mask}.at(int(std::int64_t(x) * mask->w / width), int(std::int64_t(y) * mask->h / height))
                    : std::uint8_t(255);
    };
    auto alphaAt = [&](int x, int y) {
        const int a = pixmap->alpha ? px.at(x, y)[colours] : 255;
        return std::uint8_t((a * maskAt(x, y) + 127) / 255);
    };
    bool transparent = false, visible = paint != nullptr;
    for (int y = 0; y < height && !(transparent && visible) && !paint; ++y)
        for (int x = 0; x < width && !(transparent && visible); ++x) {
            const std::uint8_t a = alphaAt(x, y);
            transparent = transparent || a < 255;
            visible = visible || a > 0;
        }
    if (!visible)
        return kNoFile;
    if (paint || (bilevel && colours == 1 && !transparent)) {
        bool twoLevels = true; // all 0 or 255
        for (int y = 0; y < height && twoLevels; ++y)
            for (int x = 0; x < width && twoLevels; ++x)
                twoLevels = *px.at(x, y) == 0 || *px.at(x, y) == 255;
        if (twoLevels) {
            const auto rgb = paint ? std::uint32_t(trueColorValue(*paint)) : 0;
            PngPixels one{width, height, 1, [&](int y, std::uint8_t* row) {
                              for (int x = 0; x < width; ++x)
                                  row[x] = *px.at(x, sourceRow(y));
                          }};
            return addFile(encodeBilevelPng(one, paint ? &rgb : nullptr), ".png", width, height, paint != nullptr);
        }
    }
    PngPixels out{width, height, paint ? 4 : colours + (transparent ? 1 : 0), nullptr};
    out.row = [&](int y, std::uint8_t* row) {
        const int sy = sourceRow(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* s = px.at(x, sy);
            if (paint) {
                *row++ = paint->r, *row++ = paint->g, *row++ = paint->b, *row++ = s[0];
                continue;
            }
            const int a = alphaAt(x, sy);
            const int premultiplied = pixmap->alpha ? s[colours] : 255; // MuPDF keeps colours times alpha
            for (int c = 0; c < colours; ++c)
                *row++ = premultiplied == 255 ? s[c]
                         : premultiplied == 0 ? 0
                                              : std::uint8_t(std::min(255, (s[c] * 255 + premultiplied / 2) / premultiplied));
            if (transparent)
                *row++ = std::uint8_t(a);
        }
    };
    return addFile(encodePng(out), ".png", width, height, transparent || paint);
}

std::uint32_t PageImages::addFile(std::string bytes, const char* extension, int width, int height, bool transparent)
{
    const std::size_t hash = std::hash<std::string>{}(bytes);
    const auto [first, last] = byContent_.equal_range(hash);
    for (auto it = first; it != last; ++it)
        if (drawing_.imageFiles[it->second].bytes == bytes)
            return it->second;
    const auto index = std::uint32_t(drawing_.imageFiles.size());
    drawing_.imageFiles.push_back({"page-" + std::to_string(drawing_.pageNumber) + "-image-" +
                                       std::to_string(index + 1) + extension,
                                   std::move(bytes), width, height, transparent});
    byContent_.emplace(hash, index);
    return index;
}

void PageImages::addImage(std::uint32_t file, const Placement& p, float alpha, const Style& style,
                          const std::vector<Vec2>& clip)
{
    if (!p.valid)
        return; // squeezed to nothing: it shows nothing
    skewed_ += p.skewed ? 1 : 0;
    Image image;
    image.style = style;
    image.file = file;
    image.origin = p.origin;
    image.u = p.u;
    image.v = p.v;
    image.fade = std::clamp(int(std::lround((1.0 - double(alpha)) * 100)), 0, 100);
    const ImageFile& f = drawing_.imageFiles[file];
    const Vec2 w{p.u.x * f.width, p.u.y * f.width}, h{p.v.x * f.height, p.v.y * f.height};
    const Vec2 o = p.origin;
    const Vec2 corners[] = {o, {o.x + w.x, o.y + w.y}, {o.x + h.x, o.y + h.y}, {o.x + w.x + h.x, o.y + w.y + h.y}};
    if (!std::all_of(std::begin(corners), std::end(corners), [&](Vec2 c) { return insideOrOn(c, clip); }))
        image.clip = clip; // it shows only in part
    drawing_.images.push_back(std::move(image));
}

void PageImages::finish(std::vector<std::string>& warnings) const
{
    if (damaged_ > 0)
        warnings.push_back(plural(damaged_, " raster image skipped: its data cannot be decoded (",
                                  " raster images skipped: their data cannot be decoded (first: ") +
                           firstDamage_ + ")");
    if (downsampled_ > 0)
        warnings.push_back(plural(downsampled_, " raster image", " raster images") +
                           " of more than 200 megapixels converted at a lower resolution");
    if (skewed_ > 0)
        warnings.push_back(plural(skewed_, " skewed raster image", " skewed raster images") +
                           " placed as the nearest rectangle (an IMAGE cannot be skewed)");
}

} // namespace unplot::engine
