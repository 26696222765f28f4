// Checksums against published check values and bytes of real files.
#include "dwgcrc.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace unplot::engine::dwg;

namespace {

const std::uint8_t* bytes(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(Crc16, MatchesTheArcCheckValue)
{
    // CRC-16/ARC of "123456789" is 0xBB3D.
    EXPECT_EQ(crc16(0, bytes("123456789"), 9), 0xBB3D);
}

TEST(Crc16, ContinuesFromItsSeed)
{
    const std::uint16_t whole = crc16(kCrcSeed, bytes("123456789"), 9);
    EXPECT_EQ(crc16(crc16(kCrcSeed, bytes("1234"), 4), bytes("56789"), 5), whole);
}

TEST(Crc16, EmptyObjectMapPageAsRealFilesStoreIt)
{
    // A real file ends its object map with 00 02 01 D0: the page holding only its size, and its checksum.
    const std::uint8_t page[] = {0x00, 0x02};
    EXPECT_EQ(crc16(kCrcSeed, page, 2), 0x01D0);
}

TEST(Crc32, MatchesTheCheckValue)
{
    EXPECT_EQ(crc32(0, bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(crc32(crc32(0, bytes("1234"), 4), bytes("56789"), 5), 0xCBF43926u);
}

TEST(FileHeaderCrc, MaskDependsOnTheLocatorCount)
{
    EXPECT_EQ(fileHeaderCrcMask(3), 0xA598);
    EXPECT_EQ(fileHeaderCrcMask(5), 0x3CC4);
    EXPECT_EQ(fileHeaderCrcMask(6), 0x8461);
}

TEST(Sentinels, EndIsTheBitwiseComplementOfBegin)
{
    const std::pair<Sentinel, Sentinel> pairs[] = {{kHeaderVarsBegin, kHeaderVarsEnd},
                                                   {kClassesBegin, kClassesEnd},
                                                   {kSecondHeaderBegin, kSecondHeaderEnd}};
    for (const auto& [begin, end] : pairs)
        for (std::size_t i = 0; i < begin.size(); ++i)
            EXPECT_EQ(std::uint8_t(~begin[i]), end[i]) << i;
}

}  // namespace
