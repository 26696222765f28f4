#pragma once
// One object of the object stream (R13 to R2004): its common fields, its data and handle streams, its checksum.

#include "bitwriter.h"

#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

// Fixed object type numbers.
namespace type {
inline constexpr std::uint16_t Text = 1, Block = 4, EndBlk = 5, Arc = 17, Circle = 18, Line = 19, Ellipse = 35,
                               Spline = 36, Dictionary = 42, BlockControl = 48, BlockHeader = 49, LayerControl = 50,
                               Layer = 51, StyleControl = 52, Style = 53, LtypeControl = 56, Ltype = 57,
                               ViewControl = 60, UcsControl = 62, VportControl = 64, Vport = 65, AppIdControl = 66,
                               AppId = 67, DimStyleControl = 68, DimStyle = 69, VxControl = 70, MlineStyle = 73,
                               LwPolyline = 77, Hatch = 78;
// Classes this writer declares, numbered from 500 in this order.
inline constexpr std::uint16_t DictionaryWithDefault = 500, PlaceHolder = 501, Layout = 502;
}  // namespace type

// How an entity sits in its block.
struct EntityCommon {
    std::uint8_t space = 2;       // 2 model space, 1 paper space (owner implied), 0 another block (owner written)
    std::uint64_t owner = 0;      // the block header, when space is 0
    std::uint16_t color = 256;    // ACI; 256 by layer
    std::int32_t rgb = -1;        // R2004 and later: a true colour (0xRRGGBB) beside the ACI; -1 none
    std::uint8_t lineweight = 29;  // the file's lineweight index; 29 by layer
    std::uint64_t layer = 0;
    std::uint64_t prev = 0, next = 0;  // neighbours in the block's entity list (0: none)
};

class ObjectWriter {
public:
    // A non-graphic object: owner, reactors and extension dictionary go first in the handle stream. An object in a
    // dictionary has that dictionary as its one reactor (`ownerIsReactor`), as real files give it.
    ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, std::uint64_t owner,
                 bool ownerIsReactor = false);
    // An entity; its common handles are written by finish().
    ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, const EntityCommon& common);

    BitWriter& data() { return data_; }
    BitWriter& refs() { return refs_; }
    bool r2000() const { return version_ >= 15; }
    bool r2004() const { return version_ >= 18; }

    // Size (MS), bytes and checksum of the finished object. Call once: the streams are consumed.
    std::vector<std::uint8_t> finish();

private:
    int version_;
    BitWriter data_;
    BitWriter refs_;
    std::size_t bitSizeAt_ = 0;
};

}  // namespace unplot::engine::dwg
