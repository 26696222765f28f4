// Whole files through the test reader, which checks every checksum, CRC, sentinel, coded word and copy it passes:
// the reference drawings (so the reader's rules, and the 2007 checks, are those of a real writer), and ours.
#include "container2007.h"
#include "dwgcrc.h"
#include "dwgpaged.h"
#include "dwgreader.h"
#include "dwgwriter.h"
#include "reedsolomon.h"
#include "sampledrawings.h"

#include <gtest/gtest.h>

#include <set>

using namespace unplot::engine;
using namespace unplot::engine::dwg;
using test::Bytes;

namespace {

const std::set<std::string> kPagedSections = {
    "AcDb:Header",     "AcDb:Classes",      "AcDb:Handles", "AcDb:AcDbObjects", "AcDb:Template",    "AcDb:AuxHeader",
    "AcDb:SummaryInfo", "AcDb:Preview",     "AcDb:AppInfo", "AcDb:RevHistory", "AcDb:ObjFreeSpace"};

std::set<std::string> names(const test::DwgFile& f)
{
    std::set<std::string> n;
    for (const auto& [name, data] : f.sections)
        n.insert(name);
    return n;
}

TEST(Container, ReaderReadsEveryReferenceDrawing)
{
    const struct {
        const char* file;
        std::size_t objects, pages;
    } rows[] = {{"example_r14.dwg", 780, 0},
                {"example_2000.dwg", 698, 0},
                {"example_2004.dwg", 683, 24},
                {"example_2007.dwg", 488, 18},  // all 64-bit checks, the maps' copies, raw and coded pages
                {"example_2010.dwg", 484, 24}};
    for (const auto& row : rows) {
        const Bytes file = test::sample(row.file);
        if (file.empty())
            GTEST_SKIP() << "no reference drawings under " << UNPLOT_SHARED_DIR << "/dwg-samples";
        const test::DwgFile f = test::readDwg(file);
        EXPECT_EQ(f.objectAt.size(), row.objects) << row.file;
        EXPECT_EQ(f.pages.size(), row.pages) << row.file;
        if (row.pages != 0) {
            std::set<std::string> expected = kPagedSections;
            expected.insert("AcDb:AppInfoHistory");
            EXPECT_EQ(names(f), expected) << row.file;
        }
    }
}

class OurFile : public testing::TestWithParam<int> {};

TEST_P(OurFile, ReadsBackWithTheSectionsOfRealFiles)
{
    for (const Drawing& d : {unplot::test::primitivesDrawing(), unplot::test::largeDrawing(300),
                             unplot::test::hugeDrawing(), Drawing{1, 210, 297, {}, {}, {}, {}}}) {
        const test::DwgFile f = test::readDwg(writeDwg(d, GetParam()));
        std::set<std::string> expected = {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects",
                                          "AcDb:Template", "AcDb:Preview"};
        if (GetParam() == 15)
            expected.insert("AcDb:AuxHeader");
        EXPECT_EQ(names(f), GetParam() >= 18 ? kPagedSections : expected);
        const Bytes& header = f.sections.at("AcDb:Header");
        ASSERT_GE(header.size(), 16u);
        EXPECT_TRUE(std::equal(kHeaderVarsBegin.begin(), kHeaderVarsBegin.end(), header.begin()));
        // MEASUREMENT: metric (after an empty description, from 2007 on one of a NUL).
        EXPECT_EQ(f.sections.at("AcDb:Template").at(GetParam() >= 21 ? 4 : 2), 1);
    }
}

// 2007: objects never reach into a page's last bytes, so that every page ends in zeros and compresses.
TEST(Container, ObjectPagesOf2007EndInZeros)
{
    const test::DwgFile f = test::readDwg(writeDwg(unplot::test::largeDrawing(300), 21));
    const Bytes& objects = f.sections.at("AcDb:AcDbObjects");
    ASSERT_GT(objects.size(), 2 * kPageData2007);
    for (std::size_t end = kPageData2007; end < objects.size(); end += kPageData2007)
        EXPECT_TRUE(std::all_of(objects.begin() + std::ptrdiff_t(end - kPageGap2007),
                                objects.begin() + std::ptrdiff_t(end), [](auto c) { return c == 0; }))
            << "page ending at " << end;
}

TEST_P(OurFile, ReaderNoticesACorruptedObject)
{
    Bytes file = writeDwg(unplot::test::largeDrawing(20), GetParam());
    const test::DwgFile f = test::readDwg(file);
    ASSERT_FALSE(f.pages.empty() && GetParam() >= 18);
    // In the middle of the largest page (2004 and later), or of the objects (R14, 2000).
    std::size_t at = file.size() / 2;
    for (const test::DwgFile::Page& p : f.pages)
        if (p.section == "AcDb:AcDbObjects")
            at = p.at + 32 + p.stored / 2;
    file[at] ^= 0x10;
    EXPECT_THROW(test::readDwg(file), std::runtime_error);
}

// The sections that describe a file, taken apart field by field: what the reference drawings hold and what we
// write have the same fields in the same places (strings with their length; 8-bit before 2007 where the version
// says; 2010's 128-bit limits), and nothing but zeros after them.
std::size_t infoFields(const std::string& section, const Bytes& d, int version)
{
    std::size_t at = 0;
    auto take = [&](std::size_t n) {
        at += n;
        if (at > d.size())
            throw std::runtime_error(section + ": past the end");
        return std::size_t(d[at - n]) | (n > 1 ? std::size_t(d[at - n + 1]) << 8 : 0);
    };
    auto string = [&](bool wide) { take((wide ? 2 : 1) * take(2)); };
    const bool wide = version >= 21;
    if (section == "AcDb:AppInfo") {
        take(4);
        string(true);
        for (std::size_t n = take(4); n-- > 0;) {
            take(16);
            string(true);
        }
    } else if (section == "AcDb:SummaryInfo") {
        for (int i = 0; i < 8; ++i)
            string(wide);
        take(24);
        for (std::size_t n = take(2); n-- > 0;)
            string(wide), string(wide);
        take(8);
    } else if (section == "AcDb:RevHistory") {
        take(8);
        take(4 * take(4));
    } else if (section == "AcDb:ObjFreeSpace") {
        take(version >= 23 ? 24 : 20);
        take((version >= 23 ? 16 : 8) * take(1));
    } else if (section == "AcDb:Template") {
        string(wide);
        take(2);
    } else {
        take(123);  // AcDb:AuxHeader
    }
    if (!std::all_of(d.begin() + std::ptrdiff_t(at), d.end(), [](auto c) { return c == 0; }))
        throw std::runtime_error(section + ": more than its fields");
    return at;
}

TEST_P(OurFile, InfoSectionsHaveTheFieldsOfRealOnes)
{
    const int v = GetParam();
    if (v == 14)
        return;  // R14 files have none of them
    const char* samples[] = {"example_2000.dwg", "example_2004.dwg", "example_2007.dwg", "example_2010.dwg"};
    const Bytes real = test::sample(samples[v == 15 ? 0 : v == 18 ? 1 : v == 21 ? 2 : 3]);
    if (real.empty())
        GTEST_SKIP() << "no reference drawings under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    const test::DwgFile theirs = test::readDwg(real);
    const test::DwgFile ours = test::readDwg(writeDwg(unplot::test::primitivesDrawing(), v));
    for (const std::string section : {"AcDb:AuxHeader", "AcDb:AppInfo", "AcDb:SummaryInfo", "AcDb:RevHistory",
                                      "AcDb:ObjFreeSpace", "AcDb:Template"}) {
        if (v == 15 && section != "AcDb:AuxHeader")
            break;  // 2000 files have the auxiliary header only
        const std::size_t size = infoFields(section, theirs.sections.at(section), v);
        EXPECT_EQ(size, theirs.sections.at(section).size()) << section;
        const std::size_t ourSize = infoFields(section, ours.sections.at(section), v);
        if (section != "AcDb:AppInfo" && section != "AcDb:SummaryInfo") {
            EXPECT_EQ(ourSize, size) << section;  // no strings of their own
        }
    }
}

// 2000 to 2010: the preview's bitmap entry gives where the bitmap is in the file (R14: an empty preview).
TEST_P(OurFile, PreviewBitmapIsWhereItsEntrySays)
{
    const Bytes file = writeDwg(unplot::test::primitivesDrawing(), GetParam());
    const Bytes preview = test::readDwg(file).sections.at("AcDb:Preview");
    ASSERT_EQ(preview.at(20), GetParam() == 14 ? 0 : 2);  // entries
    if (GetParam() == 14)
        return;
    auto rl = [](const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16; };
    ASSERT_EQ(preview.at(30), 2);  // the bitmap
    const auto at = std::size_t(rl(preview, 31));
    EXPECT_EQ(rl(file, at), 40);  // its header: size, width, height
    EXPECT_EQ(rl(file, at + 4), 184);
    EXPECT_EQ(rl(file, at + 8), 126);
    EXPECT_EQ(std::size_t(rl(preview, 35)), 40 + 1024 + 184 * 126);
}

INSTANTIATE_TEST_SUITE_P(Dwg, OurFile, testing::Values(14, 15, 18, 21, 23),
                         [](const auto& row) { return "v" + std::to_string(row.param); });

// Sections of every kind through both paged containers and back through the reader: several pages, data that does
// not compress, a few bytes, raw sections the plain header points at.
TEST(Container, SectionsReadBackThroughTheMaps)
{
    const std::vector<PagedSection> sections = {
        {"AcDb:Header", 1, Bytes(300, 0x5a)},
        {"AcDb:AcDbObjects", 7, test::noise(3 * 0xf800 + 1234, 5)},
        {"AcDb:Handles", 4, {0x00, 0x02, 0x01, 0xD0}},
        {"AcDb:Template", 5, {0, 0, 1, 0}},
        {"AcDb:SummaryInfo", 9, test::noise(60, 2), false, 0x80, 0x20},
        {"AcDb:Preview", 10, test::noise(37, 3), false, 0x40, 0x0d},
    };
    PagedFileInfo info;
    for (const char* magic : {"AC1018", "AC1021"}) {
        info.magic = magic;
        const Bytes file = info.magic == "AC1021" ? writeFile2007(sections, info) : writePagedFile(sections, info);
        const test::DwgFile f = test::readDwg(file);
        for (const PagedSection& s : sections) {
            ASSERT_TRUE(f.sections.count(s.name)) << magic << " " << s.name;
            const Bytes& got = f.sections.at(s.name);  // readers ignore zeros after the data
            ASSERT_GE(got.size(), s.data.size()) << magic << " " << s.name;
            EXPECT_EQ(Bytes(got.begin(), got.begin() + std::ptrdiff_t(s.data.size())), s.data) << magic << s.name;
            EXPECT_EQ(std::count(got.begin(), got.end(), 0) - std::count(s.data.begin(), s.data.end(), 0),
                      std::ptrdiff_t(got.size() - s.data.size()));
            if (s.addressField != 0) {  // the plain header points at the raw data
                const std::size_t at = file[s.addressField] | file[s.addressField + 1] << 8 |
                                       file[s.addressField + 2] << 16;
                EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), file.begin() + std::ptrdiff_t(at)));
            }
        }
    }
}

// The coded file header of 2007: its body as often as it fits, the rest zero; the real file fills that rest with
// noise, so our coding of the real body matches the real header in every copy and nowhere else.
TEST(Container, CodedFileHeaderOf2007RepeatsItsBodyAsARealOne)
{
    const Bytes file = test::sample("example_2007.dwg");
    if (file.empty())
        GTEST_SKIP() << "no example_2007.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    const auto real = test::readCodedWords(file, kFileHeader2007Offset, kFileHeader2007Words, ReedSolomon::kHeaderData);
    ASSERT_TRUE(real.has_value());
    const Bytes body(real->begin(), real->begin() + 0x20 + 165);
    Bytes ours = codeFileHeader2007(body);
    ours.insert(ours.begin(), kFileHeader2007Offset, 0);
    const auto data = test::readCodedWords(ours, kFileHeader2007Offset, kFileHeader2007Words, ReedSolomon::kHeaderData);
    ASSERT_TRUE(data.has_value());
    for (std::size_t i = 0; i < data->size(); ++i)
        EXPECT_EQ((*data)[i], i < 600 && i % 200 < body.size() ? (*real)[i] : 0) << i;
}

}  // namespace
