// Documents as a whole: pages by number, a repaired cross-reference table, reading from memory. Why a file is refused
// is checked through the command (engine/cli/tests).

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace unplot::engine {
namespace {

using testing::makePdf;

const std::string kLine = "10 10 m 100 10 l S";

TEST(PdfReader, ReadsPagesByNumber)
{
    PdfReader reader(makePdf({{""}, {kLine + " 10 20 m 100 20 l S"}, {""}}), 0);
    ASSERT_EQ(reader.pageCount(), 3);
    const Drawing second = reader.readPage(2);
    EXPECT_EQ(second.pageNumber, 2);
    EXPECT_EQ(second.entities.size(), 2u);
    EXPECT_EQ(testing::describe(reader.readPage(3)), "nothing");
    EXPECT_THROW(reader.readPage(4), std::out_of_range);
    EXPECT_THROW(reader.readPage(0), std::out_of_range);
}

TEST(PdfReader, RepairsABrokenCrossReferenceTable)
{
    std::string pdf = makePdf({{kLine}});
    pdf.replace(pdf.find("startxref\n") + 10, 3, "999");
    testing::TempDir dir;
    EXPECT_EQ(PdfReader(dir.write("in.pdf", pdf).string()).readPage(1).entities.size(), 1u);
}

// A zlib stream of `megabytes` MB of spaces, quickly: one megabyte compressed and flushed, its bytes repeated, then an
// empty last block and the checksum.
std::string spaces(int megabytes)
{
    std::string mb(1 << 20, ' '), out(1 << 16, '\0');
    z_stream z{};
    deflateInit(&z, 9);
    z.next_in = reinterpret_cast<Bytef*>(mb.data());
    z.avail_in = uInt(mb.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FULL_FLUSH);
    const std::string block = out.substr(2, z.total_out - 2);
    deflateEnd(&z);
    std::string zlib = out.substr(0, 2);
    const uLong one = adler32(1, reinterpret_cast<const Bytef*>(mb.data()), uInt(mb.size()));
    uLong sum = 1;
    for (int i = 0; i < megabytes; ++i) {
        zlib += block;
        sum = adler32_combine(sum, one, z_off_t(mb.size()));
    }
    return zlib + std::string("\x03\x00", 2) + char(sum >> 24) + char(sum >> 16) + char(sum >> 8) + char(sum);
}

TEST(PdfReader, ReadsFromMemoryWithinAMemoryLimit)
{
    const std::string pdf = makePdf({{kLine}, {kLine}});
    EXPECT_EQ(PdfReader(pdf, std::size_t{64} << 20).readPage(2).entities.size(), 1u);
    EXPECT_THROW(PdfReader(pdf, 4096), std::runtime_error); // MuPDF cannot even start
    // MuPDF reads content streams as they inflate: 256 MB of spaces pass within 64 MB.
    PdfReader spacious(makePdf({{spaces(256), 595, 842, {}, 0, "FlateDecode"}, {kLine}}), std::size_t{64} << 20);
    EXPECT_EQ(testing::describe(spacious.readPage(1)), "nothing");
}

} // namespace
} // namespace unplot::engine
