#pragma once
// One object of the object stream: its common fields, its data and handle streams (and from 2007 on its string
// stream), its checksum.

#include "bitwriter.h"
#include "dwgstreams.h"

#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

// Fixed object type numbers.
namespace type {
inline constexpr std::uint16_t Text = 1, Block = 4, EndBlk = 5, Arc = 17, Circle = 18, Line = 19, Viewport = 34, Ellipse = 35,
                               Spline = 36, Dictionary = 42, BlockControl = 48, BlockHeader = 49, LayerControl = 50,
                               Layer = 51, StyleControl = 52, Style = 53, LtypeControl = 56, Ltype = 57,
                               ViewControl = 60, UcsControl = 62, VportControl = 64, Vport = 65, AppIdControl = 66,
                               AppId = 67, DimStyleControl = 68, DimStyle = 69, VxControl = 70, MlineStyle = 73,
                               LwPolyline = 77, Hatch = 78;
// Classes this writer declares, numbered from 500 in this order (the raster ones only in drawings with images).
inline constexpr std::uint16_t DictionaryWithDefault = 500, PlaceHolder = 501, Layout = 502, Image = 503,
                               ImageDef = 504, ImageDefReactor = 505, RasterVariables = 506;
}  // namespace type

// How an entity sits in its block.
struct EntityCommon {
    std::uint8_t space = 2;       // 2 model space, 1 paper space (owner implied), 0 another block (owner written)
    std::uint64_t owner = 0;      // the block header, when space is 0
    std::uint16_t color = 256;    // ACI; 256 by layer
    std::int32_t rgb = -1;        // R2004 and later: a true colour (0xRRGGBB) beside the ACI; -1 none
    std::uint8_t lineweight = 29;  // the file's lineweight index; 29 by layer
    std::uint64_t layer = 0;
    std::uint64_t linetype = 0;  // 0: by layer
    std::uint64_t prev = 0, next = 0;  // neighbours in the block's entity list (0: none)
};

class ObjectWriter {
public:
    // A non-graphic object: owner, reactors and extension dictionary go first in the handle stream. An object in a
    // dictionary has that dictionary as its first reactor (`ownerIsReactor`), as real files give it; `reactors`
    // follow it.
    ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, std::uint64_t owner,
                 bool ownerIsReactor = false, const std::vector<std::uint64_t>& reactors = {});
    // An entity; its common handles are written by finish().
    ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, const EntityCommon& common);

    ObjectWriter(const ObjectWriter&) = delete;  // data_ and refs_ point into streams_
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    BitWriter& data() { return streams_.data(); }
    BitWriter& refs() { return streams_.handles(); }
    BitWriter& strings() { return streams_.strings(); }  // from 2007 on; text() fills it
    // A string field: up to 2004 in the data stream as 8-bit text (see toDwgText), from 2007 on as UTF-16 in the
    // string stream.
    void text(std::string_view utf8);
    bool r2000() const { return version_ >= 15; }
    bool r2004() const { return version_ >= 18; }
    bool r2007() const { return version_ >= 21; }  // split streams, UTF-16 strings
    bool r2010() const { return version_ >= 23; }

    // Size (MS), bytes and checksum of the finished object (from 2007 on as SplitStreams::object2007 and
    // object2010 put it).
    // Call once: the streams are consumed.
    std::vector<std::uint8_t> finish();

private:
    void writeStart(std::uint16_t objectType, std::uint64_t handle, bool entity);
    int version_;
    std::uint16_t type_;
    SplitStreams streams_;
    BitWriter& data_ = streams_.data();
    BitWriter& refs_ = streams_.handles();
    std::size_t bitSizeAt_ = 0;
};

}  // namespace unplot::engine::dwg
