// The paged container of R2004 files: header scrambling, page checksums, the literal encoding and a whole file
// walked the way a reader finds its sections.
#include "dwgcrc.h"
#include "dwgpaged.h"
#include "dwgwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace unplot::engine::dwg;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t rl(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8 | std::uint32_t(b.at(at + 2)) << 16 |
           std::uint32_t(b.at(at + 3)) << 24;
}

// A decoder for the part of the LZ77 encoding that the writer uses: one literal run, then the end opcode.
Bytes decodeLiterals(const Bytes& in)
{
    std::size_t at = 0;
    std::size_t length = in.at(at++);
    if (length == 0) {
        length = 0x0f;
        while (in.at(at) == 0) {
            length += 0xff;
            ++at;
        }
        length += in.at(at++);
    }
    length += 3;
    Bytes out(in.begin() + std::ptrdiff_t(at), in.begin() + std::ptrdiff_t(at + length));
    EXPECT_EQ(in.at(at + length), 0x11) << "end opcode after the run";
    return out;
}

TEST(PagedFile, HeaderScrambleIsTheKnownSequence)
{
    Bytes zeros(16, 0);
    scrambleFileHeader(zeros.data(), zeros.size());
    EXPECT_EQ(zeros, (Bytes{0x29, 0x23, 0xBE, 0x84, 0xE1, 0x6C, 0xD6, 0xAE, 0x52, 0x90, 0x49, 0xF1, 0xF1, 0xBB,
                            0xE9, 0xEB}));
}

TEST(PagedFile, PageChecksumIsTwoSumsModulo65521)
{
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(pageChecksum(0, abc, 3), 0x024A0126u);  // sums 294 and 97 + 195 + 294
    EXPECT_EQ(pageChecksum(0x00050007, abc, 3), std::uint32_t((5 + 7 * 3 + 586) << 16 | (7 + 294)));
    // Long data: the sums are reduced in chunks, which must give the same as reducing after every byte.
    const Bytes ff(100000, 0xff);
    std::uint32_t a = 0, b = 0;
    for (std::uint8_t x : ff) {
        a = (a + x) % 0xfff1;
        b = (b + a) % 0xfff1;
    }
    EXPECT_EQ(pageChecksum(0, ff.data(), ff.size()), b << 16 | a);
}

TEST(PagedFile, LiteralRunsOfEveryLengthClassDecode)
{
    for (std::size_t n : {4u, 5u, 18u, 19u, 20u, 272u, 273u, 274u, 528u, 529u, 0x7400u}) {
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = std::uint8_t(i * 31 + 7);
        EXPECT_EQ(decodeLiterals(compressLiterals(data.data(), data.size())), data) << n;
    }
    // Shorter data is padded to the shortest run.
    const std::uint8_t two[] = {9, 8};
    EXPECT_EQ(decodeLiterals(compressLiterals(two, 2)), (Bytes{9, 8, 0, 0}));
}

// Walks a file as a reader does: the encrypted header, the page map, the section map, the pages of each section.
std::map<std::string, Bytes> readBack(const Bytes& file)
{
    std::map<std::string, Bytes> sections;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "AC1018");
    Bytes h(file.begin() + 0x80, file.begin() + 0xec);
    scrambleFileHeader(h.data(), h.size());
    EXPECT_EQ(std::string(h.begin(), h.begin() + 11), "AcFssFcAJMB");
    const std::uint32_t crc = rl(h, 0x68);
    std::memset(h.data() + 0x68, 0, 4);
    EXPECT_EQ(crc32(0, h.data(), h.size()), crc);
    // The copy at the end.
    Bytes copy(file.begin() + std::ptrdiff_t(rl(h, 0x34)), file.begin() + std::ptrdiff_t(rl(h, 0x34) + 0x6c));
    EXPECT_EQ(copy, Bytes(file.begin() + 0x80, file.begin() + 0xec));

    auto systemPage = [&](std::size_t at, std::uint32_t type) {
        EXPECT_EQ(rl(file, at), type);
        Bytes header(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + 20));
        const std::uint32_t sum = rl(header, 16);
        std::memset(header.data() + 16, 0, 4);
        const Bytes packed(file.begin() + std::ptrdiff_t(at + 20),
                           file.begin() + std::ptrdiff_t(at + 20 + rl(file, at + 8)));
        EXPECT_EQ(pageChecksum(pageChecksum(0, header.data(), 20), packed.data(), packed.size()), sum);
        Bytes data = decodeLiterals(packed);
        EXPECT_EQ(data.size(), rl(file, at + 4));
        return data;
    };
    const Bytes pageMap = systemPage(rl(h, 0x54) + 0x100, 0x41630e3b);
    std::map<std::uint32_t, std::size_t> pageAt;
    std::size_t address = 0x100;
    for (std::size_t i = 0; i + 8 <= pageMap.size(); i += 8) {
        pageAt[rl(pageMap, i)] = address;
        address += rl(pageMap, i + 4);
    }
    EXPECT_EQ(address, rl(h, 0x34)) << "the pages fill the file up to the header copy";
    const Bytes map = systemPage(pageAt.at(rl(h, 0x5c)), 0x4163003b);
    std::size_t at = 20;
    for (std::uint32_t s = 0; s < rl(map, 0); ++s) {
        const std::uint32_t size = rl(map, at), pages = rl(map, at + 8), compressed = rl(map, at + 20);
        const std::string name(reinterpret_cast<const char*>(map.data() + at + 32));
        at += 96;
        Bytes data;
        for (std::uint32_t p = 0; p < pages; ++p, at += 16) {
            const std::size_t page = pageAt.at(rl(map, at));
            Bytes header(file.begin() + std::ptrdiff_t(page), file.begin() + std::ptrdiff_t(page + 32));
            for (std::size_t i = 0; i < 32; ++i)
                header[i] ^= std::uint8_t((0x4164536bu ^ std::uint32_t(page)) >> (8 * (i % 4)));
            EXPECT_EQ(rl(header, 0), 0x4163043bu);
            EXPECT_EQ(rl(header, 16), data.size()) << "pages start where the one before ended";
            const Bytes stored(file.begin() + std::ptrdiff_t(page + 32),
                               file.begin() + std::ptrdiff_t(page + 32 + rl(header, 8)));
            EXPECT_EQ(rl(header, 28), pageChecksum(0, stored.data(), stored.size()));
            const std::uint32_t headerSum = rl(header, 24);
            std::memset(header.data() + 24, 0, 4);
            EXPECT_EQ(pageChecksum(rl(header, 28), header.data(), 32), headerSum);
            const Bytes part = compressed == 2 ? decodeLiterals(stored) : stored;
            data.insert(data.end(), part.begin(), part.end());
        }
        if (!name.empty())
            sections[name] = Bytes(data.begin(), data.begin() + size);
    }
    return sections;
}

TEST(PagedFile, SectionsComeBackFromTheirPages)
{
    Bytes big(0x7400 * 2 + 100);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = std::uint8_t(i ^ (i >> 8));
    const std::vector<PagedSection> sections = {
        {"AcDb:Header", 1, Bytes(300, 0x5a)},
        {"AcDb:AcDbObjects", 7, big},
        {"AcDb:Template", 5, {0, 0, 1, 0}},
        {"AcDb:Preview", 10, Bytes(40, 1), false, 0x40, 0x0d},
    };
    const Bytes file = writePagedFile(sections, PagedFileInfo{});
    const auto back = readBack(file);
    ASSERT_EQ(back.size(), sections.size());
    for (const PagedSection& s : sections)
        EXPECT_EQ(back.at(s.name), s.data) << s.name;
    EXPECT_EQ(rl(file, 0x0d) % 0x20, 0u) << "the preview address points past its page header";
}

// A whole drawing: the sections every R2004 file has, framed as real files frame them.
TEST(PagedFile, DrawingHasTheSectionsReadersLookFor)
{
    unplot::engine::Drawing d;
    d.widthMm = 420;
    d.heightMm = 297;
    for (int i = 0; i < 1500; ++i)
        d.entities.push_back({{"0", {}, 0.25}, unplot::engine::Line{{double(i), 0}, {double(i), 10}}});
    const auto sections = readBack(unplot::engine::writeDwg(d, 18));
    for (const char* name : {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects", "AcDb:Template",
                             "AcDb:AuxHeader", "AcDb:SummaryInfo", "AcDb:Preview"})
        EXPECT_EQ(sections.count(name), 1u) << name;
    ASSERT_EQ(sections.count("AcDb:Header"), 1u);
    const Bytes& header = sections.at("AcDb:Header");
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 16), Bytes(kHeaderVarsBegin.begin(), kHeaderVarsBegin.end()));
    EXPECT_EQ(Bytes(header.end() - 16, header.end()), Bytes(kHeaderVarsEnd.begin(), kHeaderVarsEnd.end()));
    EXPECT_EQ(crc16(kCrcSeed, header.data() + 16, rl(header, 16) + 4),
              std::uint16_t(header[20 + rl(header, 16)] | header[21 + rl(header, 16)] << 8));
    ASSERT_EQ(sections.count("AcDb:AcDbObjects"), 1u);
    const Bytes& objects = sections.at("AcDb:AcDbObjects");
    EXPECT_EQ(rl(objects, 0), 0x0dcau);
    EXPECT_GT(objects.size(), 0x7400u) << "objects span several pages";
}

}  // namespace
