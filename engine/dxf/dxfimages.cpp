// Raster images: IMAGE entities, IMAGEDEF objects naming the files beside the drawing, a reactor for each image, the
// image dictionary and the raster variables.
#include "dxfcontext.h"

#include <string_view>

namespace unplot::engine::dxf {
namespace {

std::uint64_t imageHandle(const DxfContext& c, std::size_t i)
{
    return c.firstImageHandle + 2 * i;
}

// The file's name without its extension: the image's name in the dictionary.
std::string_view entryName(const ImageFile& file)
{
    const std::string_view name = file.name;
    return name.substr(0, name.rfind('.'));
}

void ownedByRoot(TagSink& out)
{
    out.tag(102, "{ACAD_REACTORS");
    out.handle(330, handle::kRootDictionary);
    out.tag(102, "}");
    out.handle(330, handle::kRootDictionary);
}

} // namespace

void writeImageClasses(DxfContext& c)
{
    const Drawing& d = c.drawing;
    if (d.images.empty())
        return;
    const int images = int(d.images.size());
    writeClass(c, "IMAGE", "AcDbRasterImage", 2175, true, images, "ISM");
    writeClass(c, "IMAGEDEF", "AcDbRasterImageDef", 0, false, int(d.imageFiles.size()), "ISM");
    writeClass(c, "IMAGEDEF_REACTOR", "AcDbRasterImageDefReactor", 1, false, images, "ISM");
    writeClass(c, "RASTERVARIABLES", "AcDbRasterVariables", 0, false, 1, "ISM");
}

void writeImages(DxfContext& c)
{
    TagSink& out = c.out;
    const Drawing& d = c.drawing;
    for (std::size_t i = 0; i < d.images.size(); ++i) {
        const Image& image = d.images[i];
        const ImageFile& file = d.imageFiles[image.file];
        const std::vector<Vec2> clip = imageClipPixels(image, file);
        out.tag(0, "IMAGE");
        out.handle(5, imageHandle(c, i));
        out.handle(330, handle::kModelSpaceRecord);
        out.tag(100, "AcDbEntity");
        out.tag(8, c.layerName(image.style.layer));
        out.tag(100, "AcDbRasterImage");
        out.tag(90, 0);
        out.point3(10, image.origin.x, image.origin.y, 0);
        out.exactTag(11, image.u.x);
        out.exactTag(21, image.u.y);
        out.exactTag(31, 0);
        out.exactTag(12, image.v.x);
        out.exactTag(22, image.v.y);
        out.exactTag(32, 0);
        out.point(13, file.width, file.height);
        out.handle(340, c.firstImageDefHandle + image.file);
        // Shown, also when not aligned with the screen; clipped; transparent pixels see through.
        out.tag(70, 1 | 2 | (image.clip.empty() ? 0 : 4) | (file.transparent ? 8 : 0));
        out.tag(280, image.clip.empty() ? 0 : 1);
        out.tag(281, 50);
        out.tag(282, 50);
        out.tag(283, image.fade);
        out.handle(360, imageHandle(c, i) + 1);
        out.tag(71, clip.size() == 2 ? 1 : 2);
        out.tag(91, int(clip.size()));
        for (const Vec2& p : clip)
            out.point(14, p.x, p.y);
        if (c.version.release >= Release::R2010)
            out.tag(290, 0); // shows inside the boundary
    }
}

void writeImageObjects(DxfContext& c)
{
    TagSink& out = c.out;
    const Drawing& d = c.drawing;
    if (d.images.empty())
        return;
    out.tag(0, "DICTIONARY");
    out.handle(5, c.imageDictionaryHandle);
    ownedByRoot(out);
    out.tag(100, "AcDbDictionary");
    out.tag(281, 1);
    for (std::size_t f = 0; f < d.imageFiles.size(); ++f) { // named in order: page-N-image-K, K rising
        out.tag(3, c.text(entryName(d.imageFiles[f])));
        out.handle(350, c.firstImageDefHandle + f);
    }
    for (std::size_t f = 0; f < d.imageFiles.size(); ++f) {
        const ImageFile& file = d.imageFiles[f];
        out.tag(0, "IMAGEDEF");
        out.handle(5, c.firstImageDefHandle + f);
        out.tag(102, "{ACAD_REACTORS");
        out.handle(330, c.imageDictionaryHandle);
        for (std::size_t i = 0; i < d.images.size(); ++i)
            if (d.images[i].file == f)
                out.handle(330, imageHandle(c, i) + 1);
        out.tag(102, "}");
        out.handle(330, c.imageDictionaryHandle);
        out.tag(100, "AcDbRasterImageDef");
        out.tag(90, 0);
        out.tag(1, c.text(file.name));
        out.point(10, file.width, file.height);
        out.point(11, 1, 1); // a pixel's default size: one drawing unit
        out.tag(280, 1);     // loaded
        out.tag(281, 0);     // no resolution unit
    }
    for (std::size_t i = 0; i < d.images.size(); ++i) {
        out.tag(0, "IMAGEDEF_REACTOR");
        out.handle(5, imageHandle(c, i) + 1);
        out.handle(330, imageHandle(c, i));
        out.tag(100, "AcDbRasterImageDefReactor");
        out.tag(90, 2);
        out.handle(330, imageHandle(c, i));
    }
    out.tag(0, "RASTERVARIABLES");
    out.handle(5, c.rasterVariablesHandle);
    ownedByRoot(out);
    out.tag(100, "AcDbRasterVariables");
    out.tag(90, 0);
    out.tag(70, 0); // no frame
    out.tag(71, 1); // high quality
    out.tag(72, 1); // millimetres
}

} // namespace unplot::engine::dxf
