// The engine on PDFs, as unplot-engine converts a page: a document read from memory under a MuPDF memory limit,
// its first pages turned into drawings, the passes run over them (clipping, text, clean-up, arcs, joins, linetypes),
// and each written as DXF. Failures the engine
// reports (a damaged file, an unreadable page) are fine; crashes, hangs, leaks and memory beyond the limit are not.
// Checked: every drawing keeps the model's promises to the writers (point counts, names of layers and styles, image
// files).

#include "drawing.h"
#include "dxfwriter.h"
#include "fuzzcheck.h"
#include "pdfreader.h"
#include "pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>

using namespace unplot::engine;

namespace {

constexpr std::size_t kMemoryLimit = std::size_t{256} << 20;
constexpr int kPagesRead = 3;

void checkModel(const Drawing& d)
{
    const auto hasLayer = [&](const std::string& name) {
        return name == "0" || std::any_of(d.layers.begin(), d.layers.end(), [&](const Layer& l) { return l.name == name; });
    };
    for (const Entity& e : d.entities) {
        FUZZ_CHECK(hasLayer(e.style.layer));
        FUZZ_CHECK(e.style.linetype.empty() ||
                   std::any_of(d.linetypes.begin(), d.linetypes.end(), [&](auto& t) { return t.name == e.style.linetype; }));
        FUZZ_CHECK(e.style.dash <= d.dashes.size() && e.style.clip <= d.clips.size());
        if (const auto* p = std::get_if<Polyline>(&e.geometry))
            FUZZ_CHECK(p->points.size() >= 2 && (p->bulges.empty() || p->bulges.size() == p->points.size()));
        if (const auto* s = std::get_if<BezierSpline>(&e.geometry))
            FUZZ_CHECK(s->points.size() >= 4 && s->points.size() % 3 == 1);
        if (const auto* t = std::get_if<Text>(&e.geometry))
            FUZZ_CHECK(t->style == "Standard" || std::any_of(d.textStyles.begin(), d.textStyles.end(),
                                                            [&](const TextStyle& s) { return s.name == t->style; }));
    }
    for (const Image& image : d.images) {
        FUZZ_CHECK(hasLayer(image.style.layer) && image.file < d.imageFiles.size());
        FUZZ_CHECK(std::isfinite(image.origin.x) && std::isfinite(image.origin.y) && image.fade >= 0 && image.fade <= 100);
    }
    for (const ImageFile& f : d.imageFiles)
        FUZZ_CHECK(f.width > 0 && f.height > 0 && !f.bytes.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        PdfReader reader(std::string_view(reinterpret_cast<const char*>(data), size), kMemoryLimit);
        for (int page = 1; page <= reader.pageCount() && page <= kPagesRead; ++page) {
            try {
                Drawing drawing = reader.readPage(page);
                checkModel(drawing);
                runPasses(drawing);
                checkModel(drawing);
                dxfToString(drawing, 15);
            } catch (const std::runtime_error&) {
            }
        }
    } catch (const PdfOpenError&) {
    }
    return 0;
}
