// Checksums against published check values and the test vectors of the 2007 checks (which the test reader then
// finds in every field of a real 2007 file: see container_test.cpp).
#include "container2007.h"
#include "dwgcrc.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace unplot::engine::dwg;

namespace {

const std::uint8_t* bytes(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(Checks, PublishedCheckValues)
{
    EXPECT_EQ(crc16(0, bytes("123456789"), 9), 0xBB3D);  // CRC-16/ARC
    EXPECT_EQ(crc16(crc16(kCrcSeed, bytes("1234"), 4), bytes("56789"), 5), crc16(kCrcSeed, bytes("123456789"), 9));
    EXPECT_EQ(crc32(crc32(0, bytes("1234"), 4), bytes("56789"), 5), 0xCBF43926u);
    // A real file ends its object map with 00 02 01 D0: the page holding only its size, and its checksum.
    EXPECT_EQ(crc16(kCrcSeed, bytes("\x00\x02"), 2), 0x01D0);
}

TEST(Checks, Vectors2007)
{
    const std::uint8_t* digits = bytes("123456789");
    const struct {
        const char* what;
        std::uint64_t value, expected;
    } rows[] = {
        {"seed1(9)", crc64Seed1(9), 0xe7f8c934ffbbfd57},
        {"seed2(9)", crc64Seed2(9), 0xffbbfc79e7f8c92b},
        {"seed1(16)", crc64Seed1(16), 0x4211f0f5ffa5216c},
        {"seed2(0x110)", crc64Seed2(0x110), 0xfc61189a45a9e6e5},
        {"page CRC of the digits", crc64Mirrored(crc64Seed1(9), digits, 9), 0x39557f282c02b821},
        {"page CRC of nothing", crc64Mirrored(crc64Seed1(0), digits, 0), 0xe1d87185ffd9613c},
        {"normal kernel over the digits", crc64Normal(crc64Seed2(9), digits, 9), 0xb4268774201869a1},
        {"page sum of the digits", pageChecksum2007(digits, 9), 0x21910485},
        {"sequence check of key 0", sequenceCheck2007(0), 0x8b71eb2498f01a1d},
        {"check data N of r1 = r2 = 0", checkData2007(0, 0)[0], 0x40240c68a55e2a7b},
        {"check data M of r1 = r2 = 0", checkData2007(0, 0)[1], 0x02b37ad7b324f9f8},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.value, row.expected) << row.what;
}

}  // namespace
