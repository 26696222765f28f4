// Documents as a whole: pages by number, a repaired cross-reference table, reading from memory. Why a file is refused
// is checked through the command (engine/cli/tests).

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(testing::describe(reader.readPage(3)), "nothing | 595x842");
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

TEST(PdfReader, ReadsFromMemoryWithinAMemoryLimit)
{
    const std::string pdf = makePdf({{kLine}, {kLine}});
    EXPECT_EQ(PdfReader(pdf, std::size_t{64} << 20).readPage(2).entities.size(), 1u);
    EXPECT_THROW(PdfReader(pdf, 4096), std::runtime_error); // MuPDF cannot even start
}

} // namespace
} // namespace unplot::engine
