// HEADER, CLASSES and TABLES sections.
#include "dxfcontext.h"

#include <algorithm>
#include <cmath>

namespace unplot::engine::dxf {
namespace {

void beginSection(TagSink& out, const char* name)
{
    out.tag(0, "SECTION");
    out.tag(2, name);
}

void endSection(TagSink& out)
{
    out.tag(0, "ENDSEC");
}

void variable(TagSink& out, const char* name)
{
    out.tag(9, name);
}

// The names CAD programs give the built-in records: R14 stores them in upper case.
const char* builtin(const DxfContext& c, const char* mixed, const char* upper)
{
    return c.version.extendedNames() ? mixed : upper;
}

void beginTable(DxfContext& c, const char* name, std::uint64_t h, int count)
{
    TagSink& out = c.out;
    out.tag(0, "TABLE");
    out.tag(2, name);
    out.handle(5, h);
    out.tag(330, "0");
    out.tag(100, "AcDbSymbolTable");
    out.tag(70, count);
}

void endTable(DxfContext& c)
{
    c.out.tag(0, "ENDTAB");
}

void beginRecord(DxfContext& c, const char* type, std::uint64_t h, std::uint64_t table, const char* subclass)
{
    TagSink& out = c.out;
    out.tag(0, type);
    out.handle(5, h);
    out.handle(330, table);
    out.tag(100, "AcDbSymbolTableRecord");
    out.tag(100, subclass);
}

void writeVportTable(DxfContext& c)
{
    TagSink& out = c.out;
    const Drawing& d = c.drawing;
    beginTable(c, "VPORT", handle::kVportTable, 1);
    beginRecord(c, "VPORT", handle::kActiveVport, handle::kVportTable, "AcDbViewportTableRecord");
    out.tag(2, builtin(c, "*Active", "*ACTIVE"));
    out.tag(70, 0);
    out.point(10, 0, 0);
    out.point(11, 1, 1);
    const double width = d.widthMm > 0 ? d.widthMm : 210;
    const double height = d.heightMm > 0 ? d.heightMm : 297;
    out.point(12, width / 2, height / 2);
    out.point(13, 0, 0);
    out.point(14, 10, 10);
    out.point(15, 10, 10);
    out.point3(16, 0, 0, 1);
    out.point3(17, 0, 0, 0);
    out.tag(40, height * 1.05);
    out.tag(41, std::clamp(width / height, 0.1, 10.0));
    out.tag(42, 50.0);
    out.tag(43, 0.0);
    out.tag(44, 0.0);
    out.tag(50, 0.0);
    out.tag(51, 0.0);
    out.tag(71, 0);
    out.tag(72, 1000);
    out.tag(73, 1);
    out.tag(74, 3);
    out.tag(75, 0);
    out.tag(76, 0);
    out.tag(77, 0);
    out.tag(78, 0);
    if (c.version.lineweights()) {
        out.tag(281, 0);
        out.tag(65, 1);
        out.point3(110, 0, 0, 0);
        out.point3(111, 1, 0, 0);
        out.point3(112, 0, 1, 0);
        out.tag(79, 0);
        out.tag(146, 0.0);
    }
    endTable(c);
}

void writeLtypeTable(DxfContext& c)
{
    TagSink& out = c.out;
    beginTable(c, "LTYPE", handle::kLtypeTable, int(3 + c.linetypes.size()));
    const struct {
        std::uint64_t h;
        const char* mixed;
        const char* upper;
        const char* description;
    } types[] = {{handle::kLtypeByBlock, "ByBlock", "BYBLOCK", ""},
                 {handle::kLtypeByLayer, "ByLayer", "BYLAYER", ""},
                 {handle::kLtypeContinuous, "Continuous", "CONTINUOUS", "Solid line"}};
    for (const auto& t : types) {
        beginRecord(c, "LTYPE", t.h, handle::kLtypeTable, "AcDbLinetypeTableRecord");
        out.tag(2, builtin(c, t.mixed, t.upper));
        out.tag(70, 0);
        out.tag(3, t.description);
        out.tag(72, 65);
        out.tag(73, 0);
        out.tag(40, 0.0);
    }
    for (const TableEntry& t : c.linetypes) {
        const std::vector<double>& elements = t.linetype->elements;
        double length = 0;
        for (double e : elements)
            length += std::abs(e);
        beginRecord(c, "LTYPE", t.handle, handle::kLtypeTable, "AcDbLinetypeTableRecord");
        out.tag(2, t.name);
        out.tag(70, 0);
        out.tag(3, c.text(t.linetype->description));
        out.tag(72, 65);
        out.tag(73, int(elements.size()));
        out.tag(40, length);
        for (double e : elements) {
            out.tag(49, e);
            out.tag(74, 0);
        }
    }
    endTable(c);
}

void writeLayer(DxfContext& c, const std::string& name, std::uint64_t h, bool visible)
{
    TagSink& out = c.out;
    beginRecord(c, "LAYER", h, handle::kLayerTable, "AcDbLayerTableRecord");
    out.tag(2, name);
    out.tag(70, 0);
    out.tag(62, visible ? 7 : -7); // a negative colour number: the layer is off
    out.tag(6, builtin(c, "Continuous", "CONTINUOUS"));
    if (c.version.lineweights()) {
        out.tag(370, -3);
        out.handle(390, handle::kNormalPlotStyle);
    }
}

void writeLayerTable(DxfContext& c)
{
    beginTable(c, "LAYER", handle::kLayerTable, int(c.layers.size() + 1));
    writeLayer(c, "0", handle::kLayerZero, true);
    for (const TableEntry& layer : c.layers)
        writeLayer(c, layer.name, layer.handle, layer.visible);
    endTable(c);
}

void writeStyle(DxfContext& c, const std::string& name, std::uint64_t h, const std::string& font)
{
    TagSink& out = c.out;
    beginRecord(c, "STYLE", h, handle::kStyleTable, "AcDbTextStyleTableRecord");
    out.tag(2, name);
    out.tag(70, 0);
    out.tag(40, 0.0); // no fixed height: each TEXT carries its own
    out.tag(41, 1.0);
    out.tag(50, 0.0);
    out.tag(71, 0);
    out.tag(42, 2.5);
    out.tag(3, font);
    out.tag(4, "");
}

void writeStyleTable(DxfContext& c)
{
    beginTable(c, "STYLE", handle::kStyleTable, int(c.textStyles.size() + 1));
    writeStyle(c, builtin(c, "Standard", "STANDARD"), handle::kStyleStandard, "txt");
    for (const TableEntry& style : c.textStyles)
        writeStyle(c, style.name, style.handle, style.fontFile);
    endTable(c);
}

void writeAppidTable(DxfContext& c)
{
    beginTable(c, "APPID", handle::kAppidTable, 1);
    beginRecord(c, "APPID", handle::kAppidAcad, handle::kAppidTable, "AcDbRegAppTableRecord");
    c.out.tag(2, "ACAD");
    c.out.tag(70, 0);
    endTable(c);
}

void writeDimstyleTable(DxfContext& c)
{
    TagSink& out = c.out;
    beginTable(c, "DIMSTYLE", handle::kDimstyleTable, 1);
    if (c.version.lineweights()) {
        out.tag(100, "AcDbDimStyleTable");
        out.tag(71, 1);
        out.handle(340, handle::kDimstyleStandard);
    }
    out.tag(0, "DIMSTYLE");
    out.handle(105, handle::kDimstyleStandard); // DIMSTYLE records carry their handle in 105
    out.handle(330, handle::kDimstyleTable);
    out.tag(100, "AcDbSymbolTableRecord");
    out.tag(100, "AcDbDimStyleTableRecord");
    out.tag(2, builtin(c, "Standard", "STANDARD"));
    out.tag(70, 0);
    if (c.version.lineweights())
        out.handle(340, handle::kStyleStandard);
    endTable(c);
}

void writeBlockRecord(DxfContext& c, std::uint64_t h, const char* mixed, const char* upper, std::uint64_t layout)
{
    TagSink& out = c.out;
    beginRecord(c, "BLOCK_RECORD", h, handle::kBlockRecordTable, "AcDbBlockTableRecord");
    out.tag(2, builtin(c, mixed, upper));
    if (c.version.lineweights()) {
        out.handle(340, layout);
        out.tag(70, 0);
        out.tag(280, 1);
        out.tag(281, 0);
    }
}

void writeBlockRecordTable(DxfContext& c)
{
    beginTable(c, "BLOCK_RECORD", handle::kBlockRecordTable, 2);
    writeBlockRecord(c, handle::kModelSpaceRecord, "*Model_Space", "*MODEL_SPACE", handle::kModelSpaceLayout);
    writeBlockRecord(c, handle::kPaperSpaceRecord, "*Paper_Space", "*PAPER_SPACE", handle::kPaperSpaceLayout);
    endTable(c);
}

} // namespace

void writeClass(DxfContext& c, const char* dxfName, const char* cppName, int proxyFlags, bool isEntity, int instances,
                const char* application)
{
    TagSink& out = c.out;
    out.tag(0, "CLASS");
    out.tag(1, dxfName);
    out.tag(2, cppName);
    out.tag(3, application);
    out.tag(90, proxyFlags);
    if (c.version.classInstanceCounts())
        out.tag(91, instances);
    out.tag(280, 0);
    out.tag(281, isEntity ? 1 : 0);
}

void writeHeader(DxfContext& c)
{
    TagSink& out = c.out;
    const Drawing& d = c.drawing;
    const Extents extents = d.extents();
    beginSection(out, "HEADER");
    variable(out, "$ACADVER");
    out.tag(1, c.version.acadVer);
    variable(out, "$ACADMAINTVER");
    out.tag(70, c.version.maintenanceVersion);
    variable(out, "$DWGCODEPAGE");
    out.tag(3, "ANSI_1252");
    variable(out, "$INSBASE");
    out.point3(10, 0, 0, 0);
    variable(out, "$EXTMIN");
    out.point3(10, extents.min.x, extents.min.y, 0);
    variable(out, "$EXTMAX");
    out.point3(10, extents.max.x, extents.max.y, 0);
    variable(out, "$LIMMIN");
    out.point(10, 0, 0);
    variable(out, "$LIMMAX");
    out.point(10, d.widthMm, d.heightMm);
    variable(out, "$TEXTSIZE");
    out.tag(40, 2.5);
    variable(out, "$TEXTSTYLE");
    out.tag(7, builtin(c, "Standard", "STANDARD"));
    variable(out, "$CLAYER");
    out.tag(8, "0");
    variable(out, "$LTSCALE");
    out.tag(40, 1.0);
    variable(out, "$CELTYPE");
    out.tag(6, builtin(c, "ByLayer", "BYLAYER"));
    variable(out, "$CECOLOR");
    out.tag(62, 256);
    variable(out, "$DIMSTYLE");
    out.tag(2, builtin(c, "Standard", "STANDARD"));
    variable(out, "$LUNITS");
    out.tag(70, 2);
    variable(out, "$LUPREC");
    out.tag(70, 4);
    variable(out, "$HANDSEED");
    out.handle(5, c.handleSeed);
    variable(out, "$MEASUREMENT");
    out.tag(70, 1);
    if (c.version.lineweights()) {
        variable(out, "$CELWEIGHT");
        out.tag(370, -1);
        variable(out, "$LWDISPLAY");
        out.tag(290, 1);
        variable(out, "$INSUNITS");
        out.tag(70, 4);
        variable(out, "$PSTYLEMODE");
        out.tag(290, 1);
    }
    endSection(out);
}

void writeClasses(DxfContext& c)
{
    beginSection(c.out, "CLASSES");
    switch (c.version.release) {
    case Release::R14:
        // R14 knows these two entities, and the plot style place holder, only as classes.
        writeClass(c, "ACDBDICTIONARYWDFLT", "AcDbDictionaryWithDefault", 0, false);
        writeClass(c, "ACDBPLACEHOLDER", "AcDbPlaceHolder", 0, false);
        writeClass(c, "LWPOLYLINE", "AcDbPolyline", 0, true);
        writeClass(c, "HATCH", "AcDbHatch", 0, true);
        break;
    case Release::R2000:
        writeClass(c, "ACDBDICTIONARYWDFLT", "AcDbDictionaryWithDefault", 0, false);
        writeClass(c, "ACDBPLACEHOLDER", "AcDbPlaceHolder", 0, false);
        writeClass(c, "LAYOUT", "AcDbLayout", 0, false);
        break;
    default: // 2004 on: layouts and place holders are built in
        writeClass(c, "ACDBDICTIONARYWDFLT", "AcDbDictionaryWithDefault", 0, false, 1);
        break;
    }
    writeImageClasses(c);
    endSection(c.out);
}

void writeTables(DxfContext& c)
{
    beginSection(c.out, "TABLES");
    writeVportTable(c);
    writeLtypeTable(c);
    writeLayerTable(c);
    writeStyleTable(c);
    beginTable(c, "VIEW", handle::kViewTable, 0);
    endTable(c);
    beginTable(c, "UCS", handle::kUcsTable, 0);
    endTable(c);
    writeAppidTable(c);
    writeDimstyleTable(c);
    writeBlockRecordTable(c);
    endSection(c.out);
}

} // namespace unplot::engine::dxf
