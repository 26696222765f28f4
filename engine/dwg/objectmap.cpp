#include "objectmap.h"

#include "bitwriter.h"
#include "dwgcrc.h"

namespace unplot::engine::dwg {
namespace {

void closePage(std::vector<std::uint8_t>& out, const BitWriter& body)
{
    const std::size_t start = out.size();
    const std::size_t size = body.bytes().size() + 2;
    out.push_back(std::uint8_t(size >> 8));
    out.push_back(std::uint8_t(size & 0xff));
    out.insert(out.end(), body.bytes().begin(), body.bytes().end());
    const std::uint16_t crc = crc16(kCrcSeed, out.data() + start, size);
    out.push_back(std::uint8_t(crc >> 8));
    out.push_back(std::uint8_t(crc & 0xff));
}

}  // namespace

std::vector<std::uint8_t> writeObjectMap(const std::vector<MapEntry>& entries)
{
    std::vector<std::uint8_t> out;
    BitWriter page;
    std::uint64_t lastHandle = 0;
    std::int64_t lastOffset = 0;
    for (const MapEntry& e : entries) {
        BitWriter pair;
        pair.writeMC(std::int64_t(e.handle - lastHandle));
        pair.writeMC(e.offset - lastOffset);
        if (page.bytes().size() + pair.bytes().size() + 2 > kMaxMapPage) {
            closePage(out, page);
            page = BitWriter();
            pair = BitWriter();
            pair.writeMC(std::int64_t(e.handle));
            pair.writeMC(e.offset);
        }
        page.append(pair);
        lastHandle = e.handle;
        lastOffset = e.offset;
    }
    if (page.bitCount() != 0)
        closePage(out, page);
    closePage(out, BitWriter());
    return out;
}

}  // namespace unplot::engine::dwg
