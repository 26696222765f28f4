// Reed-Solomon coding of 2007 files, against the code's defining property and the bytes of a real file.
#include "reedsolomon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace unplot::engine::dwg;

namespace {

// The fields: data pages use x^8+x^4+x^3+x^2+1, everything else x^8+x^6+x^5+x^3+1.
unsigned polynomialFor(std::size_t dataBytes) { return dataBytes == ReedSolomon::kPageData ? 0x11du : 0x169u; }

// Multiplication in GF(256), bit by bit (independent of the encoder's tables).
std::uint8_t gfMul(std::uint8_t a, std::uint8_t b, unsigned polynomial)
{
    unsigned r = 0, x = a;
    for (; b; b = std::uint8_t(b >> 1)) {
        if (b & 1u)
            r ^= x;
        x <<= 1;
        if (x & 0x100u)
            x ^= polynomial;
    }
    return std::uint8_t(r);
}

// A code word evaluated at a^i: word byte k (k < dataBytes) is the coefficient of x^(parity+k), parity byte j that
// of x^j.
std::uint8_t evaluate(const std::vector<std::uint8_t>& word, std::size_t dataBytes, std::uint8_t point)
{
    const std::size_t parity = word.size() - dataBytes;
    const unsigned polynomial = polynomialFor(dataBytes);
    std::uint8_t acc = 0;
    for (std::size_t e = word.size(); e-- > 0;) {  // Horner, highest power first
        const std::uint8_t coef = e >= parity ? word[e - parity] : word[dataBytes + e];
        acc = std::uint8_t(gfMul(acc, point, polynomial) ^ coef);
    }
    return acc;
}

std::vector<std::uint8_t> readSample()
{
    const std::filesystem::path path = std::filesystem::path(UNPLOT_SHARED_DIR) / "dwg-samples/example_2007.dwg";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The data bytes of `words` interleaved code words stored at `offset`.
std::vector<std::uint8_t> deinterleaveData(const std::vector<std::uint8_t>& file, std::size_t offset,
                                           std::size_t words, std::size_t dataBytes)
{
    std::vector<std::uint8_t> data;
    for (std::size_t w = 0; w < words; ++w)
        for (std::size_t i = 0; i < dataBytes; ++i)
            data.push_back(file[offset + i * words + w]);
    return data;
}

class ReedSolomonCode : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ReedSolomonCode, EveryCodeWordVanishesAtTheGeneratorsRoots)
{
    const ReedSolomon rs(GetParam());
    std::vector<std::uint8_t> word(ReedSolomon::kWordSize, 0);
    for (std::size_t i = 0; i < rs.dataBytes(); ++i)
        word[i] = std::uint8_t(i * 37 + 11);
    rs.parity(word.data(), word.data() + rs.dataBytes());
    std::uint8_t root = 1;
    for (std::size_t i = 1; i <= rs.parityBytes(); ++i) {
        root = gfMul(root, 2, polynomialFor(GetParam()));
        EXPECT_EQ(evaluate(word, rs.dataBytes(), root), 0) << "root a^" << i;
    }
    // ... and a changed data byte no longer does.
    word[5] ^= 0x40;
    EXPECT_NE(evaluate(word, rs.dataBytes(), 2), 0);
}

INSTANTIATE_TEST_SUITE_P(HeaderAndPages, ReedSolomonCode,
                         ::testing::Values(ReedSolomon::kHeaderData, ReedSolomon::kPageData));

TEST(ReedSolomon, InterleavesWordsAndPadsTheLastWithZeros)
{
    const ReedSolomon rs(ReedSolomon::kPageData);
    const std::vector<std::uint8_t> data(300, 0x5A);  // two words, the second 49 bytes short
    ASSERT_EQ(rs.wordsFor(data.size()), 2u);
    const std::vector<std::uint8_t> out = rs.encodeInterleaved(data, 2);
    ASSERT_EQ(out.size(), 510u);
    std::vector<std::uint8_t> second;
    for (std::size_t i = 0; i < ReedSolomon::kWordSize; ++i)
        second.push_back(out[i * 2 + 1]);
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_EQ(second[48], 0x5A);
    EXPECT_EQ(second[49], 0x00);
    EXPECT_EQ(evaluate(second, rs.dataBytes(), 2), 0);
    EXPECT_THROW(ReedSolomon(255), std::invalid_argument);
}

TEST(ReedSolomon, ReproducesTheCodedHeaderAndPagesOfARealFile)
{
    const std::vector<std::uint8_t> file = readSample();
    if (file.size() < 0x6c840 + 3 * ReedSolomon::kWordSize)
        GTEST_SKIP() << "no example_2007.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";

    // The file header: three (255,239) words interleaved from 0x80.
    const ReedSolomon header(ReedSolomon::kHeaderData);
    const std::vector<std::uint8_t> headerData = deinterleaveData(file, 0x80, 3, header.dataBytes());
    const std::vector<std::uint8_t> headerCoded = header.encodeInterleaved(headerData, 3);
    EXPECT_TRUE(std::equal(headerCoded.begin(), headerCoded.end(), file.begin() + 0x80));

    // The page map at 0x480: four (255,239) words interleaved.
    const std::vector<std::uint8_t> mapData = deinterleaveData(file, 0x480, 4, header.dataBytes());
    const std::vector<std::uint8_t> mapCoded = header.encodeInterleaved(mapData, 4);
    EXPECT_TRUE(std::equal(mapCoded.begin(), mapCoded.end(), file.begin() + 0x480));

    // A data page (the header variables' page of this file, at 0x6c840): three (255,251) words interleaved.
    const ReedSolomon page(ReedSolomon::kPageData);
    const std::vector<std::uint8_t> pageData = deinterleaveData(file, 0x6c840, 3, page.dataBytes());
    const std::vector<std::uint8_t> pageCoded = page.encodeInterleaved(pageData, 3);
    EXPECT_TRUE(std::equal(pageCoded.begin(), pageCoded.end(), file.begin() + 0x6c840));
}

}  // namespace
