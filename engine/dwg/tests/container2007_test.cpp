// The 2007 file header's coding, against a real 2007 file and our test reader.
#include "container2007.h"
#include "reader2007.h"
#include "reedsolomon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace unplot::engine::dwg;

namespace {

std::vector<std::uint8_t> readSample()
{
    const std::filesystem::path path = std::filesystem::path(UNPLOT_SHARED_DIR) / "dwg-samples/example_2007.dwg";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> decodedHeader(const std::vector<std::uint8_t>& file)
{
    auto data = test::readCodedWords(file, kFileHeader2007Offset, kFileHeader2007Words, ReedSolomon::kHeaderData);
    return data ? *data : std::vector<std::uint8_t>{};
}

TEST(FileHeader2007, RealFileStoresItsBodyThreeTimesOverInTheCodedWords)
{
    const std::vector<std::uint8_t> file = readSample();
    if (file.size() < kFileHeader2007Offset + kFileHeader2007Size)
        GTEST_SKIP() << "no example_2007.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    const std::vector<std::uint8_t> data = decodedHeader(file);
    ASSERT_EQ(data.size(), 717u) << "parity of the real header does not check";
    const test::FileHeader2007Prefix prefix = test::readFileHeader2007Prefix(data);
    EXPECT_EQ(prefix.compressedSize, 165);
    EXPECT_EQ(prefix.length2, 0);
    const std::size_t padded = (0x20 + 165 + 7) / 8 * 8;
    for (std::size_t i = 0; i < 3 * padded; ++i)
        ASSERT_EQ(data[i], data[i % padded]) << i;
}

TEST(FileHeader2007, OurCodingReadsBackAndMatchesTheRealLayout)
{
    const std::vector<std::uint8_t> file = readSample();
    if (file.size() < kFileHeader2007Offset + kFileHeader2007Size)
        GTEST_SKIP() << "no example_2007.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    const std::vector<std::uint8_t> real = decodedHeader(file);
    ASSERT_EQ(real.size(), 717u);
    const std::vector<std::uint8_t> body(real.begin(), real.begin() + 0x20 + 165);

    std::vector<std::uint8_t> ours = codeFileHeader2007(body);
    ASSERT_EQ(ours.size(), kFileHeader2007Size);
    ours.insert(ours.begin(), kFileHeader2007Offset, 0);  // where a file stores it
    const std::vector<std::uint8_t> data = decodedHeader(ours);
    ASSERT_EQ(data.size(), 717u) << "our parity does not check";
    // The real file fills its padding and the bytes after the last copy with noise; we write zeros there.
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool inCopy = i < 600 && i % 200 < body.size();
        EXPECT_EQ(data[i], inCopy ? real[i] : 0) << i;
    }
    for (std::size_t i = 3 * ReedSolomon::kWordSize; i < kFileHeader2007Size; ++i)
        EXPECT_EQ(ours[kFileHeader2007Offset + i], 0) << i;
}

TEST(FileHeader2007, BodyMustFitTheCodedWords)
{
    EXPECT_NO_THROW(codeFileHeader2007(std::vector<std::uint8_t>(712, 1)));
    EXPECT_THROW(codeFileHeader2007(std::vector<std::uint8_t>(713, 1)), std::length_error);
    EXPECT_THROW(codeFileHeader2007({}), std::length_error);
}

TEST(FileHeader2007, ReaderRejectsACorruptedWord)
{
    std::vector<std::uint8_t> coded = codeFileHeader2007(std::vector<std::uint8_t>(40, 7));
    coded[4] ^= 1;  // word 1, data byte 1
    EXPECT_FALSE(test::readCodedWords(coded, 0, kFileHeader2007Words, ReedSolomon::kHeaderData));
}

}  // namespace
