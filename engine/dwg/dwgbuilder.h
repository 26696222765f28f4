#pragma once
// Builds a whole R14, 2000, 2004, 2007 or 2010 file (version codes 14, 15, 18, 21 and 23) from a drawing.

#include "bitwriter.h"
#include "drawing.h"
#include "dwgobject.h"
#include "dwgstreams.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace unplot::engine::dwg {

// Handles of the objects every file has; the drawing's layers, styles and entities follow from kFirstFree.
namespace handle {
inline constexpr std::uint64_t BlockControl = 0x1, LayerControl = 0x2, StyleControl = 0x3, LtypeControl = 0x5,
                               ViewControl = 0x6, UcsControl = 0x7, VportControl = 0x8, AppIdControl = 0x9,
                               DimStyleControl = 0xA, VxControl = 0xB, NamedObjects = 0xC, GroupDict = 0xD,
                               PlotStyleDict = 0xE, PlotStyleNormal = 0xF, Layer0 = 0x10, StyleStandard = 0x11,
                               AppIdAcad = 0x12, LtypeByBlock = 0x13, LtypeByLayer = 0x14, LtypeContinuous = 0x15,
                               MlineStyleDict = 0x16, MlineStandard = 0x17, PlotSettingsDict = 0x18,
                               LayoutDict = 0x19, DimStandard = 0x1A, ModelBlock = 0x1B, ModelBlockBegin = 0x1C,
                               ModelBlockEnd = 0x1D, ModelLayout = 0x1E, PaperBlock = 0x1F, PaperBlockBegin = 0x20,
                               PaperBlockEnd = 0x21, PaperLayout = 0x22, VportActive = 0x23, PaperViewport = 0x24,
                               kFirstFree = 0x25;
}  // namespace handle

// The release that wrote the file, as real files give it (the file header, the second header and the auxiliary
// header carry it).
inline constexpr std::uint8_t kWriterVersion[2] = {0x21, 0x1d};

class DwgBuilder {
public:
    // Dated `unixSeconds`, or now when it is negative.
    DwgBuilder(const Drawing& drawing, int version, std::int64_t unixSeconds = -1);
    std::vector<std::uint8_t> build();
    // The header variables as streams; up to 2004 all of them are in the data stream.
    SplitStreams headerStreams() const;

private:
    bool r2000() const { return version_ >= 15; }
    bool paged() const { return version_ >= 18; }  // R2004 and later
    bool r2007() const { return version_ >= 21; }  // split object streams, UTF-16 strings
    bool r2010() const { return version_ >= 23; }
    std::vector<std::uint8_t> buildPaged() const;
    SplitStreams classes() const;
    // dwginfo.cpp
    std::vector<std::uint8_t> auxHeader() const;
    std::vector<std::uint8_t> summaryInfo() const;
    std::vector<std::uint8_t> appInfo() const;
    std::vector<std::uint8_t> objFreeSpace() const;
    static std::vector<std::uint8_t> revHistory();
    std::vector<std::uint8_t> templateInfo() const;
    void add(std::uint64_t h, std::vector<std::uint8_t> bytes);
    std::vector<std::pair<const Geometry*, Rgb>> previewShapes() const;
    void putSecondHeader(std::vector<std::uint8_t>& out, const std::uint32_t (*locators)[2], int count) const;

    // dwgtables.cpp
    void writeControls();
    void writeTableEntries();
    void writeBlocks();
    using DictionaryEntries = std::vector<std::pair<std::string, std::uint64_t>>;
    void writeDictionary(std::uint64_t h, std::uint64_t owner, const DictionaryEntries& entries,
                         std::uint16_t objectType = type::Dictionary, std::uint64_t defaultEntry = 0);
    void writeDictionaries();
    void writeLayouts();
    void writeDimStyle();
    void writeVport();
    void writePaperViewport();
    // dwgentities.cpp
    void writeEntities();
    void writeImages();  // IMAGE entities and the objects they need
    void writeGeometry(ObjectWriter& w, const Geometry& g, bool linetyped);
    std::uint16_t entityType(const Geometry& g) const;
    // dwgheadervars.cpp
    BitWriter headerVariables() const;  // up to 2004: the data stream of headerStreams()

    const Drawing& drawing_;
    int version_;
    std::pair<std::uint32_t, std::uint32_t> now_;  // a Julian day and milliseconds into it: created, updated
    Extents extents_;
    std::vector<std::string> layerNames_;  // the drawing's layers, valid and unique
    std::vector<std::uint64_t> layerHandles_;
    std::map<std::string, std::uint64_t> layerByName_;  // from the drawing's names
    std::vector<std::string> styleNames_;
    std::vector<std::uint64_t> styleHandles_;
    std::map<std::string, std::uint64_t> styleByName_;
    std::vector<const Linetype*> linetypes_;  // the drawing's, each name once
    std::vector<std::string> linetypeNames_;
    std::vector<std::uint64_t> linetypeHandles_;
    std::map<std::string, std::uint64_t> linetypeByName_;
    struct Kept {
        const Entity* entity;
        Geometry geometry;  // normalized
    };
    std::vector<Kept> kept_;  // the entities written, degenerate ones left out
    std::uint64_t firstEntity_ = 0, lastEntity_ = 0;
    std::uint64_t materialDict_ = 0, colorDict_ = 0;  // R2004 and later: the material and colour dictionaries
    // With images: the first image's reactor (then one for each image, then each file's IMAGEDEF), the image
    // dictionary and the raster variables.
    std::uint64_t firstImageObject_ = 0, imageDict_ = 0, rasterVariables_ = 0;
    std::uint64_t nextHandle_ = handle::kFirstFree;
    std::map<std::uint64_t, std::vector<std::uint8_t>> objects_;
};

}  // namespace unplot::engine::dwg
