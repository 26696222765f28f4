#include "dwgclasses.h"

#include "dwgobject.h"

#include <vector>

namespace unplot::engine::dwg {

SplitStreams classStreams(int version, std::uint32_t images, std::uint32_t imageFiles)
{
    // R14 files declare them too (and some readers expect at least one class).
    const bool paged = version >= 18, split = version >= 21;
    SplitStreams s;
    BitWriter& d = s.data();
    auto text = [&](std::string_view ascii) {
        if (split)
            s.writeText(toUtf16(ascii));
        else
            d.writeTV(ascii);
    };
    struct Class {
        std::uint16_t number;
        const char* cpp;
        const char* dxf;
        std::uint32_t instances;
        std::uint16_t proxyFlags = 0;
        bool entity = false;
    };
    std::vector<Class> classes = {{type::DictionaryWithDefault, "AcDbDictionaryWithDefault", "ACDBDICTIONARYWDFLT", 1},
                                  {type::PlaceHolder, "AcDbPlaceHolder", "ACDBPLACEHOLDER", 1},
                                  {type::Layout, "AcDbLayout", "LAYOUT", 2}};
    if (images > 0)
        classes.insert(classes.end(), {{type::Image, "AcDbRasterImage", "IMAGE", images, 2175, true},
                                       {type::ImageDef, "AcDbRasterImageDef", "IMAGEDEF", imageFiles},
                                       {type::ImageDefReactor, "AcDbRasterImageDefReactor", "IMAGEDEF_REACTOR", images, 1},
                                       {type::RasterVariables, "AcDbRasterVariables", "RASTERVARIABLES", 1}});
    if (paged) {
        d.writeBS(classes.back().number);  // the highest class number
        d.writeRC(0);
        d.writeRC(0);
        d.writeB(true);
    }
    for (const Class& c : classes) {
        d.writeBS(c.number);
        d.writeBS(c.proxyFlags);
        text(c.number >= type::Image ? "ISM" : "ObjectDBX Classes");
        text(c.cpp);
        text(c.dxf);
        d.writeB(false);  // not a zombie
        d.writeBS(c.entity ? 0x1F2 : 0x1F3);
        if (paged) {
            d.writeBL(c.instances);
            d.writeBL(22);  // the release that defined the class, as real files give it
            d.writeBL(42);
            d.writeBL(0);
            d.writeBL(0);
        }
    }
    return s;
}

}  // namespace unplot::engine::dwg
