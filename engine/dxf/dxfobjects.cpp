// BLOCKS and OBJECTS sections: the two layout blocks, the named object dictionary and what hangs from it.
#include "dxfcontext.h"

#include <algorithm>
#include <string_view>

namespace unplot::engine::dxf {
namespace {

struct DictionaryEntry {
    std::string_view name;
    std::uint64_t handle;
};

void ownerReactor(TagSink& out, std::uint64_t owner)
{
    out.tag(102, "{ACAD_REACTORS");
    out.handle(330, owner);
    out.tag(102, "}");
}

void writeBlock(DxfContext& c, std::uint64_t record, std::uint64_t begin, std::uint64_t end, const char* mixed,
                const char* upper, bool paperSpace)
{
    TagSink& out = c.out;
    const char* name = c.version.extendedNames() ? mixed : upper;
    out.tag(0, "BLOCK");
    out.handle(5, begin);
    out.handle(330, record);
    out.tag(100, "AcDbEntity");
    if (paperSpace)
        out.tag(67, 1);
    out.tag(8, "0");
    out.tag(100, "AcDbBlockBegin");
    out.tag(2, name);
    out.tag(70, 0);
    out.point3(10, 0, 0, 0);
    out.tag(3, name);
    out.tag(1, "");
    out.tag(0, "ENDBLK");
    out.handle(5, end);
    out.handle(330, record);
    out.tag(100, "AcDbEntity");
    if (paperSpace)
        out.tag(67, 1);
    out.tag(8, "0");
    out.tag(100, "AcDbBlockEnd");
}

// A dictionary owned by the named object dictionary; entries sorted by name.
void writeDictionary(DxfContext& c, std::uint64_t h, std::vector<DictionaryEntry> entries)
{
    TagSink& out = c.out;
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    out.tag(0, "DICTIONARY");
    out.handle(5, h);
    ownerReactor(out, handle::kRootDictionary);
    out.handle(330, handle::kRootDictionary);
    out.tag(100, "AcDbDictionary");
    out.tag(281, 1);
    for (const auto& e : entries) {
        out.tag(3, e.name);
        out.handle(350, e.handle);
    }
}

void writePlotStyleNames(DxfContext& c)
{
    TagSink& out = c.out;
    out.tag(0, "ACDBDICTIONARYWDFLT");
    out.handle(5, handle::kPlotStyleNameDictionary);
    ownerReactor(out, handle::kRootDictionary);
    out.handle(330, handle::kRootDictionary);
    out.tag(100, "AcDbDictionary");
    out.tag(281, 1);
    out.tag(3, "Normal");
    out.handle(350, handle::kNormalPlotStyle);
    out.tag(100, "AcDbDictionaryWithDefault");
    out.handle(340, handle::kNormalPlotStyle);

    out.tag(0, "ACDBPLACEHOLDER");
    out.handle(5, handle::kNormalPlotStyle);
    ownerReactor(out, handle::kPlotStyleNameDictionary);
    out.handle(330, handle::kPlotStyleNameDictionary);
}

void writeMlineStyle(DxfContext& c)
{
    TagSink& out = c.out;
    out.tag(0, "MLINESTYLE");
    out.handle(5, handle::kMlineStyleStandard);
    ownerReactor(out, handle::kMlineStyleDictionary);
    out.handle(330, handle::kMlineStyleDictionary);
    out.tag(100, "AcDbMlineStyle");
    out.tag(2, c.version.extendedNames() ? "Standard" : "STANDARD");
    out.tag(70, 0);
    out.tag(3, "");
    out.tag(62, 256);
    out.tag(51, 90.0);
    out.tag(52, 90.0);
    out.tag(71, 2);
    for (double offset : {0.5, -0.5}) {
        out.tag(49, offset);
        out.tag(62, 256);
        out.tag(6, "BYLAYER");
    }
}

// A LAYOUT: plot settings for an unnamed device, the paper as the page, then the layout itself.
void writeLayout(DxfContext& c, std::uint64_t h, const char* name, int tabOrder, std::uint64_t blockRecord)
{
    TagSink& out = c.out;
    const Drawing& d = c.drawing;
    const bool model = tabOrder == 0;
    out.tag(0, "LAYOUT");
    out.handle(5, h);
    ownerReactor(out, handle::kLayoutDictionary);
    out.handle(330, handle::kLayoutDictionary);
    out.tag(100, "AcDbPlotSettings");
    out.tag(1, "");
    out.tag(2, "none_device");
    out.tag(4, "");
    out.tag(6, "");
    for (int code = 40; code <= 43; ++code)
        out.tag(code, 0.0);
    out.tag(44, d.widthMm);
    out.tag(45, d.heightMm);
    for (int code = 46; code <= 49; ++code)
        out.tag(code, 0.0);
    out.tag(140, 0.0);
    out.tag(141, 0.0);
    out.tag(142, 1.0);
    out.tag(143, 1.0);
    out.tag(70, model ? 1024 : 0);
    out.tag(72, 1); // paper units: millimetres
    out.tag(73, 0);
    out.tag(74, 5);
    out.tag(7, "");
    out.tag(75, 16);
    out.tag(147, 1.0);
    if (c.version.trueColor()) { // 2004 on: shade plot mode, resolution and dpi
        out.tag(76, 0);
        out.tag(77, 2);
        out.tag(78, 300);
    }
    out.tag(148, 0.0);
    out.tag(149, 0.0);
    out.tag(100, "AcDbLayout");
    out.tag(1, name);
    out.tag(70, 1);
    out.tag(71, tabOrder);
    out.point(10, 0, 0);
    out.point(11, d.widthMm, d.heightMm);
    out.point3(12, 0, 0, 0);
    const Extents e = d.extents();
    out.point3(14, e.min.x, e.min.y, 0);
    out.point3(15, e.max.x, e.max.y, 0);
    out.tag(146, 0.0);
    out.point3(13, 0, 0, 0);
    out.point3(16, 1, 0, 0);
    out.point3(17, 0, 1, 0);
    out.tag(76, 0);
    out.handle(330, blockRecord);
    if (model)
        out.handle(331, handle::kActiveVport);
}

} // namespace

void writeBlocks(DxfContext& c)
{
    c.out.tag(0, "SECTION");
    c.out.tag(2, "BLOCKS");
    writeBlock(c, handle::kModelSpaceRecord, handle::kModelSpaceBlock, handle::kModelSpaceEndBlock, "*Model_Space",
               "*MODEL_SPACE", false);
    writeBlock(c, handle::kPaperSpaceRecord, handle::kPaperSpaceBlock, handle::kPaperSpaceEndBlock, "*Paper_Space",
               "*PAPER_SPACE", true);
    c.out.tag(0, "ENDSEC");
}

void writeObjects(DxfContext& c)
{
    TagSink& out = c.out;
    const bool layouts = c.version.lineweights();
    out.tag(0, "SECTION");
    out.tag(2, "OBJECTS");

    // The named object dictionary: it has no owner and must come first.
    std::vector<DictionaryEntry> root = {
        {"ACAD_COLOR", handle::kColorDictionary},
        {"ACAD_GROUP", handle::kGroupDictionary},
        {"ACAD_IMAGE_DICT", c.imageDictionaryHandle},
        {"ACAD_IMAGE_VARS", c.rasterVariablesHandle},
        {"ACAD_LAYOUT", handle::kLayoutDictionary},
        {"ACAD_MATERIAL", handle::kMaterialDictionary},
        {"ACAD_MLEADERSTYLE", handle::kMleaderStyleDictionary},
        {"ACAD_MLINESTYLE", handle::kMlineStyleDictionary},
        {"ACAD_PLOTSETTINGS", handle::kPlotSettingsDictionary},
        {"ACAD_PLOTSTYLENAME", handle::kPlotStyleNameDictionary},
        {"ACAD_SCALELIST", handle::kScaleListDictionary},
        {"ACAD_TABLESTYLE", handle::kTableStyleDictionary},
        {"ACAD_VISUALSTYLE", handle::kVisualStyleDictionary},
    };
    out.tag(0, "DICTIONARY");
    out.handle(5, handle::kRootDictionary);
    out.tag(330, "0");
    out.tag(100, "AcDbDictionary");
    out.tag(281, 1);
    for (const auto& e : root) {
        if (e.handle == 0)
            continue; // no images
        out.tag(3, e.name);
        out.handle(350, e.handle);
    }

    writeDictionary(c, handle::kColorDictionary, {});
    writeDictionary(c, handle::kGroupDictionary, {});
    if (layouts)
        writeDictionary(c, handle::kLayoutDictionary,
                        {{"Model", handle::kModelSpaceLayout}, {"Layout1", handle::kPaperSpaceLayout}});
    else
        writeDictionary(c, handle::kLayoutDictionary, {}); // R14 has no layouts
    writeDictionary(c, handle::kMaterialDictionary, {});
    writeDictionary(c, handle::kMleaderStyleDictionary, {});
    writeDictionary(c, handle::kMlineStyleDictionary,
                    {{c.version.extendedNames() ? "Standard" : "STANDARD", handle::kMlineStyleStandard}});
    writeDictionary(c, handle::kPlotSettingsDictionary, {});
    writePlotStyleNames(c);
    writeDictionary(c, handle::kScaleListDictionary, {});
    writeDictionary(c, handle::kTableStyleDictionary, {});
    writeDictionary(c, handle::kVisualStyleDictionary, {});
    writeMlineStyle(c);
    writeImageObjects(c);
    if (layouts) {
        writeLayout(c, handle::kModelSpaceLayout, "Model", 0, handle::kModelSpaceRecord);
        writeLayout(c, handle::kPaperSpaceLayout, "Layout1", 1, handle::kPaperSpaceRecord);
    }
    out.tag(0, "ENDSEC");
}

} // namespace unplot::engine::dxf
