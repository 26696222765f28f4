// The 2007 LZ77 variant: our encoder against a reader-side decoder, and that decoder against a real 2007 file.
#include "compress2007.h"
#include "container2007.h"
#include "reader2007.h"
#include "reedsolomon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace unplot::engine::dwg;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes roundTrip(const Bytes& data)
{
    const Bytes packed = compress2007(data.data(), data.size());
    return test::decompress2007(packed.data(), packed.size(), data.size());
}

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b)
        c = std::uint8_t(rng());
    return b;
}

TEST(Compress2007, LiteralSlotsArePermutations)
{
    for (std::size_t n = 1; n < 100; ++n) {
        std::vector<bool> seen(n, false);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t s = literalSlot2007(n, i);
            ASSERT_LT(s, n) << n;
            ASSERT_FALSE(seen[s]) << n << " " << i;
            seen[s] = true;
        }
    }
    // A 32-byte block stores its quarters last first; a 2-byte tail reversed.
    EXPECT_EQ(literalSlot2007(32, 0), 24u);
    EXPECT_EQ(literalSlot2007(32, 31), 7u);
    EXPECT_EQ(literalSlot2007(2, 0), 1u);
}

TEST(Compress2007, EveryLiteralRunLengthReadsBack)
{
    // Unrepeating data: one literal run of each length, across the tails and the length extensions.
    for (std::size_t n : {1, 2, 3, 5, 7, 8, 9, 15, 16, 22, 23, 24, 31, 32, 33, 63, 64, 277, 278, 279, 70000}) {
        const Bytes data = randomBytes(n, unsigned(n));
        EXPECT_EQ(roundTrip(data), data) << n;
    }
}

TEST(Compress2007, ReferencesOfEveryFormReadBack)
{
    // Repeats at distances and lengths that need each instruction form, with literal gaps of 0 to 40 bytes.
    std::mt19937 rng(7);
    Bytes data = randomBytes(70000, 1);
    for (std::size_t at = 1000; at + 600 < data.size();) {
        const std::size_t length = std::size_t(3 + rng() % (at % 5 == 0 ? 500 : 60));
        const std::size_t distance = std::size_t(1 + rng() % std::min<std::size_t>(at, at % 3 == 0 ? 65000 : 600));
        for (std::size_t k = 0; k < length; ++k)
            data[at + k] = data[at + k - distance];
        at += length + rng() % 41;
    }
    EXPECT_EQ(roundTrip(data), data);

    const Bytes zeros(300000, 0);  // long references
    const Bytes packed = compress2007(zeros.data(), zeros.size());
    EXPECT_LT(packed.size(), 64u);
    EXPECT_EQ(test::decompress2007(packed.data(), packed.size(), zeros.size()), zeros);

    Bytes text;
    for (int i = 0; i < 2000; ++i)
        for (char c : "AcDbEntity LINE 0 ByLayer " + std::to_string(i))
            text.push_back(std::uint8_t(c));
    EXPECT_EQ(roundTrip(text), text);
    EXPECT_LT(compress2007(text.data(), text.size()).size(), text.size() / 2);
}

TEST(Compress2007, DecoderReadsARealFileHeader)
{
    const std::filesystem::path path = std::filesystem::path(UNPLOT_SHARED_DIR) / "dwg-samples/example_2007.dwg";
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (file.size() < 0x480)
        GTEST_SKIP() << "no " << path;
    const auto coded =
        test::readCodedWords(file, kFileHeader2007Offset, kFileHeader2007Words, ReedSolomon::kHeaderData);
    ASSERT_TRUE(coded);
    const test::FileHeader2007Prefix prefix = test::readFileHeader2007Prefix(*coded);
    const Bytes header = test::decompress2007(coded->data() + 0x20, std::size_t(prefix.compressedSize), 0x110);
    auto field = [&](std::size_t i) {
        std::uint64_t v = 0;
        for (std::size_t k = 8; k-- > 0;)
            v = (v << 8) | header[i * 8 + k];
        return v;
    };
    EXPECT_EQ(field(0), 0x70u);          // header size
    EXPECT_EQ(field(1), file.size());    // file size
    EXPECT_EQ(field(29), 0x60100u);      // stream version
}

}  // namespace
