// The object map: pages, deltas, checksums.
#include "dwgcrc.h"
#include "objectmap.h"

#include <gtest/gtest.h>

using namespace unplot::engine::dwg;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ObjectMap, EmptyMapIsOneEmptyPage)
{
    EXPECT_EQ(writeObjectMap({}), (Bytes{0x00, 0x02, 0x01, 0xD0}));
}

TEST(ObjectMap, WritesDeltasThenTheEmptyPage)
{
    const Bytes map = writeObjectMap({{1, 0x61}, {2, 0x80}, {5, 0x70}});
    // Page: size 9 (big-endian, counting itself), (1, 0x61) -> 01 E1 00 (0x61 has the sign bit set: two bytes),
    // (+1, +0x1F) -> 01 1F, (+3, -0x10) -> 03 50.
    const Bytes page = {0x00, 0x09, 0x01, 0xE1, 0x00, 0x01, 0x1F, 0x03, 0x50};
    ASSERT_GE(map.size(), page.size() + 2 + 4);
    EXPECT_EQ(Bytes(map.begin(), map.begin() + 9), page);
    const std::uint16_t crc = crc16(kCrcSeed, page.data(), page.size());
    EXPECT_EQ(map[9], crc >> 8);
    EXPECT_EQ(map[10], crc & 0xff);
    EXPECT_EQ(Bytes(map.begin() + 11, map.end()), (Bytes{0x00, 0x02, 0x01, 0xD0}));
}

TEST(ObjectMap, PagesStayWithinTheLimitAndRestartTheirDeltas)
{
    std::vector<MapEntry> entries;
    for (std::uint64_t h = 1; h <= 3000; ++h)
        entries.push_back({h, std::int64_t(100 + 300 * h)});
    const Bytes map = writeObjectMap(entries);

    // Walk the pages, decoding the pairs, and compare with the entries.
    std::size_t at = 0, entry = 0;
    int pages = 0;
    for (;;) {
        const std::size_t size = std::size_t(map[at] << 8 | map[at + 1]);
        ASSERT_LE(size, kMaxMapPage);
        const std::uint16_t crc = crc16(kCrcSeed, map.data() + at, size);
        ASSERT_EQ(crc, map[at + size] << 8 | map[at + size + 1]);
        if (size == 2)
            break;
        ++pages;
        std::uint64_t handle = 0;
        std::int64_t offset = 0;
        auto readMC = [&](std::size_t& p) {
            std::int64_t value = 0;
            int shift = 0;
            while (map[p] & 0x80) {
                value |= std::int64_t(map[p++] & 0x7f) << shift;
                shift += 7;
            }
            const bool negative = (map[p] & 0x40) != 0;
            value |= std::int64_t(map[p++] & 0x3f) << shift;
            return negative ? -value : value;
        };
        for (std::size_t p = at + 2; p < at + size;) {
            handle += std::uint64_t(readMC(p));
            offset += readMC(p);
            ASSERT_LT(entry, entries.size());
            EXPECT_EQ(handle, entries[entry].handle);
            EXPECT_EQ(offset, entries[entry].offset);
            ++entry;
        }
        at += size + 2;
    }
    EXPECT_EQ(entry, entries.size());
    EXPECT_GT(pages, 2);
}

}  // namespace
