#include "dwgclasses.h"

#include "dwgobject.h"

namespace unplot::engine::dwg {

SplitStreams classStreams(int version)
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
    };
    if (paged) {
        d.writeBS(type::Layout);  // the highest class number
        d.writeRC(0);
        d.writeRC(0);
        d.writeB(true);
    }
    for (const Class& c : {Class{type::DictionaryWithDefault, "AcDbDictionaryWithDefault", "ACDBDICTIONARYWDFLT", 1},
                           Class{type::PlaceHolder, "AcDbPlaceHolder", "ACDBPLACEHOLDER", 1},
                           Class{type::Layout, "AcDbLayout", "LAYOUT", 2}}) {
        d.writeBS(c.number);
        d.writeBS(0);  // proxy flags
        text("ObjectDBX Classes");
        text(c.cpp);
        text(c.dxf);
        d.writeB(false);  // not a zombie
        d.writeBS(0x1F3);  // an object, not an entity
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
