#pragma once
// What the parts of a DXF file share: the drawing, the version, the sink, the handles and the table names.

#include "drawing.h"
#include "dxfversion.h"
#include "tagsink.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace unplot::engine::dxf {

// Handles of the fixed structure (tables, blocks, objects); layers, styles and entities follow from kFirstFree.
namespace handle {
constexpr std::uint64_t kBlockRecordTable = 0x1, kLayerTable = 0x2, kStyleTable = 0x3, kLtypeTable = 0x5,
                        kViewTable = 0x6, kUcsTable = 0x7, kVportTable = 0x8, kAppidTable = 0x9, kDimstyleTable = 0xA,
                        kRootDictionary = 0xC, kGroupDictionary = 0xD, kPlotStyleNameDictionary = 0xE,
                        kNormalPlotStyle = 0xF, kLayerZero = 0x10, kStyleStandard = 0x11, kAppidAcad = 0x12,
                        kLtypeByBlock = 0x14, kLtypeByLayer = 0x15, kLtypeContinuous = 0x16,
                        kMlineStyleDictionary = 0x17, kMlineStyleStandard = 0x18, kPlotSettingsDictionary = 0x19,
                        kLayoutDictionary = 0x1A, kPaperSpaceRecord = 0x1B, kPaperSpaceBlock = 0x1C,
                        kPaperSpaceEndBlock = 0x1D, kPaperSpaceLayout = 0x1E, kModelSpaceRecord = 0x1F,
                        kModelSpaceBlock = 0x20, kModelSpaceEndBlock = 0x21, kModelSpaceLayout = 0x22,
                        kActiveVport = 0x23, kColorDictionary = 0x24, kMaterialDictionary = 0x25,
                        kMleaderStyleDictionary = 0x26, kDimstyleStandard = 0x27, kScaleListDictionary = 0x28,
                        kTableStyleDictionary = 0x29, kVisualStyleDictionary = 0x2A, kFirstFree = 0x30;
} // namespace handle

struct TableEntry {
    std::string name; // encoded for the version
    std::uint64_t handle = 0;
    bool visible = true;  // layers
    std::string fontFile; // text styles
    const Linetype* linetype = nullptr; // linetypes
};

struct DxfContext {
    DxfContext(const Drawing& drawing, const DxfVersion& version, TagSink& out);

    const Drawing& drawing;
    DxfVersion version;
    TagSink& out;

    std::vector<TableEntry> layers;      // besides "0"
    std::vector<TableEntry> textStyles;  // besides "Standard"
    std::vector<TableEntry> linetypes;   // besides ByBlock, ByLayer and Continuous
    std::uint64_t firstEntityHandle = 0; // entity i of the drawing has firstEntityHandle + i
    // Image i of the drawing is firstImageHandle + 2i, its reactor the next; image file f's definition is
    // firstImageDefHandle + f. All 0 in a drawing without images.
    std::uint64_t firstImageHandle = 0, firstImageDefHandle = 0, imageDictionaryHandle = 0,
                  rasterVariablesHandle = 0;
    std::uint64_t handleSeed = 0; // above every handle in the file

    // The encoded table name for a model name; unknown names give "0" and "Standard".
    const std::string& layerName(const std::string& modelName) const;
    const std::string& textStyleName(const std::string& modelName) const;
    // The encoded linetype name, or nullptr for continuous lines (the layer's linetype).
    const std::string* linetypeName(const std::string& modelName) const;

    // A string value encoded for the version, at most maxBytes long.
    std::string text(std::string_view utf8, std::size_t maxBytes = std::string::npos) const;

private:
    std::unordered_map<std::string, std::size_t> layerIndex_;
    std::unordered_map<std::string, std::size_t> styleIndex_;
    std::unordered_map<std::string, std::size_t> linetypeIndex_;
    std::string layerZero_ = "0";
    std::string styleStandard_;
};

// A CLASS record of the CLASSES section.
void writeClass(DxfContext& c, const char* dxfName, const char* cppName, int proxyFlags, bool isEntity,
                int instances = 0, const char* application = "ObjectDBX Classes");

// The raster images: their classes, their IMAGE entities, their definitions and the objects those need (the image
// dictionary, a reactor for each image, the raster variables). Nothing for a drawing without images.
void writeImageClasses(DxfContext& c);
void writeImages(DxfContext& c);
void writeImageObjects(DxfContext& c);

// The sections, in file order.
void writeHeader(DxfContext& c);
void writeClasses(DxfContext& c);
void writeTables(DxfContext& c);
void writeBlocks(DxfContext& c);
void writeEntities(DxfContext& c);
void writeObjects(DxfContext& c);

} // namespace unplot::engine::dxf
