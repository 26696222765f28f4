#include "ocr.h"

#include "utf8.h"

#include <tesseract/baseapi.h>
#include <tesseract/capi.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace unplot::engine::strokes {
namespace {

// Tesseract's OpenMP runtime reads it when loaded; set at start, before there are threads to race with.
const bool kOneThreadEach = setenv("OMP_THREAD_LIMIT", "1", 0) == 0;

} // namespace

void Raster::stroke(Vec2 a, Vec2 b, double radius)
{
    const int x0 = std::max(0, int(std::floor(std::min(a.x, b.x) - radius)));
    const int x1 = std::min(width - 1, int(std::ceil(std::max(a.x, b.x) + radius)));
    const int y0 = std::max(0, int(std::floor(std::min(a.y, b.y) - radius)));
    const int y1 = std::min(height - 1, int(std::ceil(std::max(a.y, b.y) + radius)));
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double px = x + 0.5 - a.x, py = y + 0.5 - a.y;
            const double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0;
            const double ex = px - t * dx, ey = py - t * dy;
            if (ex * ex + ey * ey <= radius * radius)
                pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 0;
        }
}

void Raster::fill(const std::vector<std::vector<Vec2>>& polygons)
{
    std::vector<double> crossings;
    for (int y = 0; y < height; ++y) {
        const double yc = y + 0.5;
        crossings.clear();
        for (const auto& poly : polygons)
            for (std::size_t i = 0; i < poly.size(); ++i) {
                const Vec2 p = poly[i], q = poly[(i + 1) % poly.size()];
                if ((p.y <= yc) != (q.y <= yc))
                    crossings.push_back(p.x + (yc - p.y) * (q.x - p.x) / (q.y - p.y));
            }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2)
            for (int x = std::max(0, int(std::lround(crossings[i]))); x < std::min(width, int(std::lround(crossings[i + 1])));
                 ++x)
                pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 0;
    }
}

// The functions of Tesseract's C interface, looked up in the library.
struct LineReader::Api {
    void* library = nullptr;
    TessBaseAPI* handle = nullptr;
#define UNPLOT_TESS(name) decltype(&::name) name = nullptr;
    UNPLOT_TESS(TessBaseAPICreate)
    UNPLOT_TESS(TessBaseAPIDelete)
    UNPLOT_TESS(TessBaseAPIInit4)
    UNPLOT_TESS(TessBaseAPISetPageSegMode)
    UNPLOT_TESS(TessBaseAPISetImage)
    UNPLOT_TESS(TessBaseAPIRecognize)
    UNPLOT_TESS(TessBaseAPIGetIterator)
    UNPLOT_TESS(TessResultIteratorGetPageIterator)
    UNPLOT_TESS(TessPageIteratorBoundingBox)
    UNPLOT_TESS(TessResultIteratorGetUTF8Text)
    UNPLOT_TESS(TessResultIteratorConfidence)
    UNPLOT_TESS(TessResultIteratorNext)
    UNPLOT_TESS(TessResultIteratorDelete)
    UNPLOT_TESS(TessDeleteText)
#undef UNPLOT_TESS

    template <typename F> bool find(F& function, const char* name)
    {
        function = reinterpret_cast<F>(dlsym(library, name));
        return function != nullptr;
    }

    bool load()
    {
        library = dlopen("libtesseract.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return false;
#define UNPLOT_TESS(name) find(name, #name) &&
        const bool all = UNPLOT_TESS(TessBaseAPICreate) UNPLOT_TESS(TessBaseAPIDelete) UNPLOT_TESS(TessBaseAPIInit4)
            UNPLOT_TESS(TessBaseAPISetPageSegMode) UNPLOT_TESS(TessBaseAPISetImage) UNPLOT_TESS(TessBaseAPIRecognize)
                UNPLOT_TESS(TessBaseAPIGetIterator) UNPLOT_TESS(TessResultIteratorGetPageIterator)
                    UNPLOT_TESS(TessPageIteratorBoundingBox) UNPLOT_TESS(TessResultIteratorGetUTF8Text)
                        UNPLOT_TESS(TessResultIteratorConfidence) UNPLOT_TESS(TessResultIteratorNext)
                            UNPLOT_TESS(TessResultIteratorDelete) UNPLOT_TESS(TessDeleteText) true;
#undef UNPLOT_TESS
        if (!all)
            return false;
        handle = TessBaseAPICreate();
        // Dictionaries would turn part numbers into words; these can only be set at the start.
        const char* names[] = {"load_system_dawg", "load_freq_dawg", "tessedit_char_whitelist"};
        const char* values[] = {"0", "0",
                                ("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.,:;-+/()[]%=#\"'<>_*&?!"
                                 "\xC2\xB1\xC2\xB0\xC3\x97\xC2\xB5")};
        if (TessBaseAPIInit4(handle, nullptr, "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, const_cast<char**>(names),
                             const_cast<char**>(values), 3, 0) != 0)
            return false;
        TessBaseAPISetPageSegMode(handle, tesseract::PSM_SINGLE_LINE);
        return true;
    }

    ~Api()
    {
        if (handle)
            TessBaseAPIDelete(handle);
        // The library stays loaded: its OpenMP threads may outlive the handle.
    }
};

LineReader::LineReader() = default;

LineReader::~LineReader() = default;

bool LineReader::ready()
{
    if (!tried_) {
        tried_ = true;
        auto api = std::make_unique<Api>();
        if (api->load())
            api_ = std::move(api);
    }
    return api_ != nullptr;
}

std::vector<OcrSymbol> LineReader::read(const Raster& image)
{
    Api& a = *api_;
    std::vector<OcrSymbol> out;
    a.TessBaseAPISetImage(a.handle, image.pixels.data(), image.width, image.height, 1, image.width);
    if (a.TessBaseAPIRecognize(a.handle, nullptr) != 0)
        return out;
    TessResultIterator* it = a.TessBaseAPIGetIterator(a.handle);
    if (!it)
        return out;
    do {
        char* text = a.TessResultIteratorGetUTF8Text(it, tesseract::RIL_SYMBOL);
        if (!text)
            continue;
        const std::string_view utf8(text);
        std::size_t end = 0;
        const char32_t code = nextCodePoint(utf8, end);
        const bool one = end == utf8.size() && code != U' ';
        a.TessDeleteText(text);
        int left = 0, top = 0, right = 0, bottom = 0;
        a.TessPageIteratorBoundingBox(a.TessResultIteratorGetPageIterator(it), tesseract::RIL_SYMBOL, &left, &top, &right, &bottom);
        // More than one character in one box is not a reading of one glyph.
        const float confidence = one ? a.TessResultIteratorConfidence(it, tesseract::RIL_SYMBOL) : 0;
        out.push_back({one ? code : U'\0', left, right, confidence});
    } while (a.TessResultIteratorNext(it, tesseract::RIL_SYMBOL));
    a.TessResultIteratorDelete(it);
    return out;
}

} // namespace unplot::engine::strokes
