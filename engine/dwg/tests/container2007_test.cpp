// The 2007 file header's coding, against a real 2007 file and our test reader.
#include "container2007.h"
#include "dwgcrc.h"
#include "dwgwriter.h"
#include "reader2007.h"
#include "reedsolomon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

// A whole file through writeFile2007 and back through a reader that follows the format: the maps, the coded words,
// the compressed pages, raw pages and the plain header's addresses.
std::vector<std::uint8_t> pattern(std::size_t n)
{
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t((i % 7 == 0) ? i / 7 : i % 13);  // repeats, but not trivially
    return b;
}

std::vector<std::uint8_t> noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> b(n);
    for (auto& c : b)
        c = std::uint8_t(rng());
    return b;
}

void expectSection(const test::File2007& r, const PagedSection& s)
{
    ASSERT_TRUE(r.sections.count(s.name)) << s.name;
    const std::vector<std::uint8_t>& got = r.sections.at(s.name);
    ASSERT_GE(got.size(), s.data.size()) << s.name;
    EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), got.begin())) << s.name;
    EXPECT_TRUE(std::all_of(got.begin() + std::ptrdiff_t(s.data.size()), got.end(), [](auto c) { return c == 0; }))
        << s.name << ": only zeros may follow the data";
    EXPECT_EQ(r.encodings.at(s.name), s.compressed ? 4u : 1u) << s.name;
}

TEST(File2007, SectionsReadBackThroughTheMaps)
{
    const std::vector<PagedSection> sections = {
        {"AcDb:Header", 1, pattern(300)},
        {"AcDb:AcDbObjects", 7, pattern(3 * 0xf800 + 1234)},  // four pages
        {"AcDb:Handles", 4, noise(200, 1)},                   // does not compress: zeros are added to its end
        {"AcDb:Template", 5, {0, 0, 1, 0}},
        {"AcDb:SummaryInfo", 9, noise(60, 2), false, 0x80, 0x20},
        {"AcDb:Preview", 10, noise(37, 3), false, 0x40, 0x0d},
    };
    PagedFileInfo info;
    info.magic = "AC1021";
    info.maintenance = 50;
    const std::vector<std::uint8_t> file = writeFile2007(sections, info);
    ASSERT_EQ(std::string(file.begin(), file.begin() + 6), "AC1021");
    EXPECT_EQ(file[0x0b], 50);

    const test::File2007 r = test::readFile2007(file);
    for (const test::File2007::Page& p : r.pages)
        EXPECT_EQ(pageChecksum2007(p.data.data(), p.data.size()), p.checksum) << p.section;
    EXPECT_EQ(r.header[0], 0x70u);
    EXPECT_EQ(r.header[29], 0x60100u);  // stream version
    EXPECT_EQ(r.sections.size(), sections.size());
    for (const PagedSection& s : sections)
        expectSection(r, s);
    // The plain header points at the raw pages.
    for (const PagedSection& s : {sections[4], sections[5]}) {
        std::size_t at = 0;
        for (std::size_t i = 4; i-- > 0;)
            at = (at << 8) | file[s.addressField + i];
        ASSERT_LE(at + s.data.size(), file.size());
        EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), file.begin() + std::ptrdiff_t(at))) << s.name;
    }
}

// The reader itself, on a file a commercial CAD program wrote.
TEST(File2007, ReaderReadsARealFile)
{
    const std::vector<std::uint8_t> file = readSample();
    if (file.size() < kPages2007Offset)
        GTEST_SKIP() << "no example_2007.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    const test::File2007 r = test::readFile2007(file);
    for (const char* name : {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects", "AcDb:Template"})
        EXPECT_TRUE(r.sections.count(name)) << name;
    const std::vector<std::uint8_t>& header = r.sections.at("AcDb:Header");
    ASSERT_GE(header.size(), 16u);
    EXPECT_EQ(header[0], 0xcf);  // the header variables' begin sentinel
    EXPECT_EQ(header[15], 0x5f);
    // Every page's checksum, raw and compressed, of every size class (the file has 18 pages, 6 bytes to 295 KB).
    ASSERT_EQ(r.pages.size(), 18u);
    for (const test::File2007::Page& p : r.pages)
        EXPECT_EQ(pageChecksum2007(p.data.data(), p.data.size()), p.checksum) << p.section << " " << p.data.size();
}

TEST(File2007, ReaderNoticesACorruptedPage)
{
    std::vector<std::uint8_t> file = writeFile2007({{"AcDb:Header", 1, pattern(3000)}}, PagedFileInfo{});
    const test::File2007 r = test::readFile2007(file);
    ASSERT_EQ(r.pageAt.size(), 3u);  // the page map, the header's page, the section map
    file[r.pageAt.at(2) + 10] ^= 0x10;
    EXPECT_THROW(test::readFile2007(file), std::runtime_error);
}

// Data that does not compress: the pages before the last are stored uncompressed, one code word per page (where
// reading the word and reading the page's bytes as they are agree); the last gets zeros appended.
TEST(File2007, UnrepeatingDataIsStoredInSingleWordPages)
{
    const PagedSection s{"AcDb:AcDbObjects", 7, noise(2 * 0xf800 + 0x1000, 4)};
    const std::vector<std::uint8_t> file = writeFile2007({s}, PagedFileInfo{});
    const test::File2007 r = test::readFile2007(file);
    expectSection(r, s);
    const std::size_t storedPages = 2 * (0xf800 / 248);
    EXPECT_EQ(r.pageAt.size(), storedPages + 3);  // and the last page, the page map, the section map
    for (const auto& [id, at] : r.pageAt) {
        if (id < 2 || id >= storedPages + 2)
            continue;  // the page map; the last page and the section map
        // A stored page holds its data as it is.
        const std::size_t from = (id - 2) * 248;
        const std::size_t n = 248;
        EXPECT_TRUE(std::equal(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + n),
                               s.data.begin() + std::ptrdiff_t(from)))
            << id;
    }
}

// A whole drawing: the sections readers look for, the header framed without 2010's high size word, and the
// objects laid out so that every page ends in zeros.
TEST(File2007, DrawingPagesEndInZeros)
{
    unplot::engine::Drawing d;
    d.widthMm = 420;
    d.heightMm = 297;
    for (int i = 0; i < 4000; ++i)
        d.entities.push_back({{"0", {}, 0.25}, unplot::engine::Line{{i * 0.37, 0}, {i * 0.41, double(10 + i % 7)}}});
    const test::File2007 r = test::readFile2007(unplot::engine::writeDwg(d, 21));
    for (const char* name : {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects", "AcDb:Template",
                             "AcDb:AuxHeader", "AcDb:SummaryInfo", "AcDb:Preview"})
        EXPECT_EQ(r.sections.count(name), 1u) << name;
    const std::vector<std::uint8_t>& header = r.sections.at("AcDb:Header");
    auto rl = [&](std::size_t at) { return std::size_t(header[at] | header[at + 1] << 8 | header[at + 2] << 16); };
    EXPECT_TRUE(std::equal(kHeaderVarsBegin.begin(), kHeaderVarsBegin.end(), header.begin()));
    const std::size_t size = rl(16);
    ASSERT_LT(20 + size + 18, header.size() + 1);
    EXPECT_EQ(crc16(kCrcSeed, header.data() + 16, size + 4), std::uint16_t(header[20 + size] | header[21 + size] << 8));
    EXPECT_TRUE(std::equal(kHeaderVarsEnd.begin(), kHeaderVarsEnd.end(), header.begin() + std::ptrdiff_t(22 + size)));

    const std::vector<std::uint8_t>& objects = r.sections.at("AcDb:AcDbObjects");
    ASSERT_GT(objects.size(), 2 * kPageData2007);
    for (std::size_t end = kPageData2007; end < objects.size(); end += kPageData2007)
        EXPECT_TRUE(std::all_of(objects.begin() + std::ptrdiff_t(end - kPageGap2007),
                                objects.begin() + std::ptrdiff_t(end), [](auto c) { return c == 0; }))
            << "page ending at " << end;
}

}  // namespace
