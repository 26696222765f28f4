// The two LZ77 variants of 2004 and later files: our encoders against the test reader's decoders, at every class of
// literal run, reference length and distance, and on the pages of the reference drawings.
#include "compress2007.h"
#include "dwgpaged.h"
#include "dwgreader.h"

#include <gtest/gtest.h>

#include <random>

using namespace unplot::engine::dwg;
using test::Bytes;

namespace {

struct Variant {
    const char* name;
    std::vector<std::uint8_t> (*compress)(const std::uint8_t*, std::size_t);
    Bytes (*decompress)(const std::uint8_t*, std::size_t, std::size_t);
    std::size_t pageSize;     // the most one call compresses
    std::size_t minLiterals;  // the shortest data
};
const Variant kVariants[] = {{"v2004", compress2004, test::decompress2004, 0x7400, 4},
                             {"v2007", compress2007, test::decompress2007, 300000, 1}};

class Compression : public testing::TestWithParam<Variant> {
protected:
    Bytes roundTrip(const Bytes& data) const
    {
        const Bytes packed = GetParam().compress(data.data(), data.size());
        return GetParam().decompress(packed.data(), packed.size(), data.size());
    }
};

TEST_P(Compression, EveryLiteralRunLengthReadsBack)
{
    // Data that never repeats: one literal run of each length, across the opcode's own lengths and the extensions.
    for (std::size_t n : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 18, 19, 20, 22, 23, 24, 31, 32, 33, 63, 64, 272, 273, 274,
                          277, 278, 279, 528, 529, 0x7400, 70000}) {
        if (n < GetParam().minLiterals || n > GetParam().pageSize)
            continue;
        const Bytes data = test::noise(n, unsigned(n));
        EXPECT_EQ(roundTrip(data), data) << n;
    }
}

TEST_P(Compression, ReferencesOfEveryLengthAndDistanceReadBack)
{
    // Repeats at distances up to a page and lengths up to 500, with literal gaps of 0 to 40 bytes.
    std::mt19937 rng(7);
    const std::size_t size = std::min<std::size_t>(GetParam().pageSize, 70000);
    Bytes data = test::noise(size, 1);
    for (std::size_t at = 1000; at + 600 < size;) {
        const std::size_t length = std::size_t(3 + rng() % (at % 5 == 0 ? 500 : 60));
        const std::size_t distance = std::size_t(1 + rng() % std::min<std::size_t>(at, at % 3 == 0 ? 65000 : 600));
        for (std::size_t k = 0; k < length; ++k)
            data[at + k] = data[at + k - distance];
        at += length + rng() % 41;
    }
    EXPECT_EQ(roundTrip(data), data);

    const Bytes zeros(GetParam().pageSize, 0);  // long references
    const Bytes packed = GetParam().compress(zeros.data(), zeros.size());
    EXPECT_LT(packed.size(), 3 + zeros.size() / 200);
    EXPECT_EQ(GetParam().decompress(packed.data(), packed.size(), zeros.size()), zeros);

    Bytes text;
    for (int i = 0; i < 1000; ++i)
        for (char c : "AcDbEntity LINE 0 ByLayer " + std::to_string(i))
            text.push_back(std::uint8_t(c));
    EXPECT_EQ(roundTrip(text), text);
    EXPECT_LT(GetParam().compress(text.data(), text.size()).size(), text.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Dwg, Compression, testing::ValuesIn(kVariants), [](const auto& row) { return row.param.name; });

// Every compressed page of the reference drawings, compressed again by us: it reads back, and takes about the room
// the real writer's takes.
TEST(Compression, RealPagesCompressAsRealWritersCompressThem)
{
    for (const char* name : {"example_2004.dwg", "example_2007.dwg", "example_2010.dwg"}) {
        const Bytes file = test::sample(name);
        if (file.empty())
            GTEST_SKIP() << "no " << name << " under " << UNPLOT_SHARED_DIR << "/dwg-samples";
        const bool v2007 = std::string(name) == "example_2007.dwg";
        std::size_t theirs = 0, ours = 0;
        for (const test::DwgFile::Page& p : test::readDwg(file).pages) {
            if (p.stored >= p.data.size())
                continue;  // stored as it is
            const Bytes packed = (v2007 ? compress2007 : compress2004)(p.data.data(), p.data.size());
            const Bytes back = (v2007 ? test::decompress2007 : test::decompress2004)(packed.data(), packed.size(),
                                                                                    p.data.size());
            ASSERT_EQ(back, p.data) << name << " " << p.section;
            theirs += p.stored;
            ours += packed.size();
        }
        EXPECT_LT(double(ours), 1.2 * double(theirs)) << name;
    }
}

}  // namespace
