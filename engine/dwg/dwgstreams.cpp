#include "dwgstreams.h"

#include "dwgcrc.h"
#include "utf8.h"

namespace unplot::engine::dwg {

BitWriter SplitStreams::dataAndStrings(const BitWriter& prefix) const
{
    BitWriter out;
    out.append(prefix);
    out.append(data_);
    const std::size_t stringBits = strings_.bitCount();
    if (stringBits == 0) {
        out.writeB(false);
        return out;
    }
    out.append(strings_);
    if (stringBits >= 0x8000) {
        out.writeRS(std::uint16_t(stringBits >> 15));
        out.writeRS(std::uint16_t(0x8000u | (stringBits & 0x7fffu)));
    } else {
        out.writeRS(std::uint16_t(stringBits));
    }
    out.writeB(true);
    return out;
}

std::vector<std::uint8_t> SplitStreams::object2010(std::uint16_t type) const
{
    BitWriter typeCode;
    typeCode.writeBOT(type);
    BitWriter body = dataAndStrings(typeCode);
    const std::size_t endBit = body.bitCount();
    body.append(handles_);
    const std::size_t paddedBits = (body.bitCount() + 7) / 8 * 8;

    // The UMC in front is whole bytes, so it moves neither the padding nor the handle stream's size.
    BitWriter head;
    head.writeUMC(paddedBits - endBit);
    const std::size_t bodySize = paddedBits / 8;

    BitWriter size;
    size.writeMS(std::uint32_t(bodySize));  // the UMC is not counted
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size.bytes().size() + bodySize + 2);
    bytes.insert(bytes.end(), size.bytes().begin(), size.bytes().end());
    bytes.insert(bytes.end(), head.bytes().begin(), head.bytes().end());
    bytes.insert(bytes.end(), body.bytes().begin(), body.bytes().end());
    const std::uint16_t crc = crc16(kCrcSeed, bytes.data(), bytes.size());
    bytes.push_back(std::uint8_t(crc & 0xff));
    bytes.push_back(std::uint8_t(crc >> 8));
    return bytes;
}

std::vector<std::uint8_t> SplitStreams::object2007(std::uint16_t type) const
{
    BitWriter prefix;
    prefix.writeBS(type);
    const std::size_t bitSizeAt = prefix.bitCount();
    prefix.writeRL(0);
    BitWriter body = dataAndStrings(prefix);
    body.patchRL(bitSizeAt, std::uint32_t(body.bitCount()));
    body.append(handles_);

    BitWriter size;
    size.writeMS(std::uint32_t(body.bytes().size()));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size.bytes().size() + body.bytes().size() + 2);
    bytes.insert(bytes.end(), size.bytes().begin(), size.bytes().end());
    bytes.insert(bytes.end(), body.bytes().begin(), body.bytes().end());
    const std::uint16_t crc = crc16(kCrcSeed, bytes.data(), bytes.size());
    bytes.push_back(std::uint8_t(crc & 0xff));
    bytes.push_back(std::uint8_t(crc >> 8));
    return bytes;
}

std::vector<std::uint8_t> framedSection2010(const Sentinel& begin, const SplitStreams& streams, const Sentinel& end,
                                            bool highSize)
{
    BitWriter bitSize;
    bitSize.writeRL(0);
    BitWriter body = streams.dataAndStrings(bitSize);
    body.patchRL(0, std::uint32_t(body.bitCount()));
    body.append(streams.handles());

    std::vector<std::uint8_t> out(begin.begin(), begin.end());
    const std::size_t sizeAt = out.size();
    const auto size = std::uint32_t(body.bytes().size());
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(size >> (8 * i)));
    if (highSize)
        out.insert(out.end(), 4, 0);
    out.insert(out.end(), body.bytes().begin(), body.bytes().end());
    const std::uint16_t crc = crc16(kCrcSeed, out.data() + sizeAt, out.size() - sizeAt);
    out.push_back(std::uint8_t(crc & 0xff));
    out.push_back(std::uint8_t(crc >> 8));
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

std::u16string toUtf16(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xd800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xdc00 + ((cp - 0x10000) & 0x3ff)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

}  // namespace unplot::engine::dwg
