#pragma once
// The split streams of 2007 and later files: the data, the strings and the handles of an object (or of the header
// variables, or of the classes) are written apart and put together the way readers of those versions find them.

#include "bitwriter.h"
#include "dwgcrc.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace unplot::engine::dwg {

class SplitStreams {
public:
    BitWriter& data() { return data_; }
    BitWriter& strings() { return strings_; }
    BitWriter& handles() { return handles_; }
    const BitWriter& data() const { return data_; }
    const BitWriter& strings() const { return strings_; }
    const BitWriter& handles() const { return handles_; }

    // A string field: TU in the string stream, nothing in the data.
    void writeText(std::u16string_view text) { strings_.writeTU(text); }

    // What a reader finds before the handles: `prefix` (bits that go first, such as the object type), the data, the
    // string stream, its size in bits (RS; from 0x8000 bits on, the high part as a second RS before it and 0x8000
    // set in the low one) and one bit that says whether there is a string stream at all.
    BitWriter dataAndStrings(const BitWriter& prefix = BitWriter()) const;

    // A whole R2010 and later object: MS size in bytes, UMC size of the handle stream in bits, the type as BOT, the
    // data and strings, the handles, zero bits to the byte, and the CRC over all of it. The MS size counts the bytes
    // after the UMC; the handle stream size counts from the end of the strings' presence bit to the end of the
    // object, so it includes the padding.
    std::vector<std::uint8_t> object2010(std::uint16_t type) const;

    // A whole 2007 object: MS size in bytes, the type as BS, an RL size in bits of everything before the handles
    // (counted from the type on, up to and including the strings' presence bit), the data and strings, the handles,
    // zero bits to the byte, and the CRC over all of it.
    std::vector<std::uint8_t> object2007(std::uint16_t type) const;

private:
    BitWriter data_;
    BitWriter strings_;
    BitWriter handles_;
};

// The header variables or the classes of a 2007 and later file: the begin sentinel, RL size, (2010, `highSize`)
// RL high part of the size (0), then the bit stream: RL its own size in bits up to the strings' presence bit
// (counting the RL itself), the data and strings, the handles, zero bits to the byte; the CRC over the sizes and the
// bit stream, the end sentinel. The size counts the bytes of the bit stream.
std::vector<std::uint8_t> framedSection2010(const Sentinel& begin, const SplitStreams& streams, const Sentinel& end,
                                            bool highSize = true);

// UTF-8 as UTF-16 (surrogate pairs beyond U+FFFF), for TU fields; a malformed byte becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);

}  // namespace unplot::engine::dwg
