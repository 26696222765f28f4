// The layout of a whole R14/2000 file, checked byte by byte without any outside reader: the file header and its
// section locators, the sentinels and checksums of every section, each object's checksum, the object map pages, the
// second header after the map.
#include "dwgcrc.h"
#include "dwgwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace unplot::engine;
using namespace unplot::engine::dwg;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t rl(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t rs(const Bytes& b, std::size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); }
bool sentinelAt(const Bytes& b, std::size_t at, const Sentinel& s)
{
    return at + s.size() <= b.size() && std::equal(s.begin(), s.end(), b.begin() + std::ptrdiff_t(at));
}

Drawing sample()
{
    Drawing d;
    d.widthMm = 297;
    d.heightMm = 210;
    d.layers = {{"L1", true}};
    for (int i = 0; i < 1500; ++i)
        d.entities.push_back({Style{i % 2 ? "L1" : "0", {10, 20, 30}, 0.35}, Line{{double(i), 0}, {double(i), 50}}});
    d.entities.push_back({Style{}, Text{"x", {0, 0}, 2.5, 0, 1, "Standard"}});
    return d;
}

class FileLayout : public testing::TestWithParam<std::int64_t> {};

TEST_P(FileLayout, SectionsSentinelsAndChecksumsAreConsistent)
{
    const Bytes f = writeDwg(sample(), GetParam());
    ASSERT_GT(f.size(), 0x80u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 6), GetParam() == 14 ? "AC1014" : "AC1015");

    // File header: 5 locators, checksum, sentinel.
    const std::uint32_t count = rl(f, 0x15);
    ASSERT_EQ(count, 5u);
    const std::size_t crcAt = 0x19 + 9 * count;
    EXPECT_EQ(rs(f, crcAt), crc16(0, f.data(), crcAt) ^ fileHeaderCrcMask(int(count)));
    EXPECT_TRUE(sentinelAt(f, crcAt + 2, kFileHeaderEnd));
    std::uint32_t seeker[5], size[5];
    for (std::uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(f[0x19 + 9 * i], i);
        seeker[i] = rl(f, 0x19 + 9 * i + 1);
        size[i] = rl(f, 0x19 + 9 * i + 5);
    }

    // Header variables and classes: sentinels, RL size, checksum over size and data, end sentinel, all in the size.
    const std::pair<Sentinel, Sentinel> framed[] = {{kHeaderVarsBegin, kHeaderVarsEnd}, {kClassesBegin, kClassesEnd}};
    for (int s = 0; s < 2; ++s) {
        const std::size_t at = seeker[s];
        ASSERT_TRUE(sentinelAt(f, at, framed[s].first)) << s;
        const std::uint32_t n = rl(f, at + 16);
        EXPECT_EQ(rs(f, at + 20 + n), crc16(kCrcSeed, f.data() + at + 16, 4 + n)) << s;
        EXPECT_TRUE(sentinelAt(f, at + 22 + n, framed[s].second)) << s;
        EXPECT_EQ(size[s], 16 + 4 + n + 2 + 16) << s;
    }

    // Object map: every page's checksum, every object it points at with a valid checksum, handles ascending.
    std::size_t at = seeker[2];
    std::size_t objects = 0;
    for (;;) {
        const std::size_t pageSize = std::size_t(f[at] << 8 | f[at + 1]);
        ASSERT_LE(pageSize, 2032u);
        ASSERT_EQ(crc16(kCrcSeed, f.data() + at, pageSize), f[at + pageSize] << 8 | f[at + pageSize + 1]);
        if (pageSize == 2)
            break;
        std::int64_t handle = 0, offset = 0;
        auto mc = [&](std::size_t& p) {
            std::int64_t v = 0;
            int shift = 0;
            while (f[p] & 0x80) {
                v |= std::int64_t(f[p++] & 0x7f) << shift;
                shift += 7;
            }
            const bool negative = f[p] & 0x40;
            v |= std::int64_t(f[p++] & 0x3f) << shift;
            return negative ? -v : v;
        };
        for (std::size_t p = at + 2; p < at + pageSize;) {
            const std::int64_t dh = mc(p);
            EXPECT_GT(dh, 0);
            handle += dh;
            offset += mc(p);
            // The object: MS size (one or two words here), data, checksum over both.
            std::size_t o = std::size_t(offset);
            std::size_t objectSize = rs(f, o);
            std::size_t header = 2;
            if (objectSize & 0x8000) {
                objectSize = (objectSize & 0x7fff) | std::size_t(rs(f, o + 2)) << 15;
                header = 4;
            }
            ASSERT_LT(o + header + objectSize + 2, f.size());
            EXPECT_EQ(rs(f, o + header + objectSize), crc16(kCrcSeed, f.data() + o, header + objectSize))
                << "handle " << handle;
            ++objects;
        }
        at += pageSize + 2;
    }
    EXPECT_EQ(at + 4, std::size_t(seeker[2]) + size[2]);
    EXPECT_GT(objects, 1500u);

    // The second header follows the map; its size runs from its RL to the end sentinel.
    const std::size_t second = seeker[2] + size[2];
    ASSERT_TRUE(sentinelAt(f, second, kSecondHeaderBegin));
    const std::uint32_t n = rl(f, second + 16);
    EXPECT_EQ(rs(f, second + 16 + n - 10), crc16(kCrcSeed, f.data() + second + 16, n - 10));
    EXPECT_TRUE(sentinelAt(f, second + 16 + n, kSecondHeaderEnd));

    // MEASUREMENT: metric.
    EXPECT_EQ(size[4], 4u);
    EXPECT_EQ(rl(f, seeker[4]), 0x00010000u);
}

INSTANTIATE_TEST_SUITE_P(Dwg, FileLayout, testing::Values(14, 15),
                         [](const auto& row) { return "AC10" + std::to_string(row.param); });

}  // namespace
