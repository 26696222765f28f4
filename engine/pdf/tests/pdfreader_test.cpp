// Opening documents: what is refused and why, pages, layers, and what is skipped with a warning.

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>
#include <random>

namespace unplot::engine {
namespace {

using testing::makePdf;
using testing::TempDir;
using testing::TestPage;

const std::string kLine = "10 10 m 100 10 l S";

PdfOpenError::Reason openFailure(const std::string& bytes)
{
    TempDir dir;
    try {
        PdfReader reader(dir.write("in.pdf", bytes).string());
        ADD_FAILURE() << "opened";
    } catch (const PdfOpenError& e) {
        EXPECT_GT(std::string(e.what()).size(), 10u);
        return e.reason();
    }
    return PdfOpenError::Reason::Damaged;
}

TEST(PdfOpen, RefusesWhatIsNotAPdf)
{
    std::mt19937 random(42);
    std::string noise(4096, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return char(random() & 0xFF); });
    EXPECT_EQ(openFailure(noise), PdfOpenError::Reason::NotPdf);
    EXPECT_EQ(openFailure(""), PdfOpenError::Reason::NotPdf);
    EXPECT_EQ(openFailure("PK\x03\x04 a zip archive"), PdfOpenError::Reason::NotPdf);
}

TEST(PdfOpen, RefusesADamagedPdf)
{
    const std::string pdf = makePdf({{kLine}, {kLine}});
    // Cut before the page tree's pages: no page can be found, repair or not.
    EXPECT_EQ(openFailure(pdf.substr(0, pdf.find("2 0 obj"))), PdfOpenError::Reason::Damaged);
    EXPECT_EQ(openFailure("%PDF-1.7\n" + std::string(2000, 'x')), PdfOpenError::Reason::Damaged);
}

TEST(PdfOpen, RepairsABrokenCrossReferenceTable)
{
    std::string pdf = makePdf({{kLine}});
    pdf.replace(pdf.find("startxref\n") + 10, 3, "999");
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", pdf).string());
    EXPECT_EQ(reader.pageCount(), 1);
    EXPECT_EQ(reader.readPage(1).entities.size(), 1u);
}

TEST(PdfOpen, NeedsAPasswordOnlyWhenTheUserPasswordIsSet)
{
    const std::string pdf = makePdf({{kLine}});
    EXPECT_EQ(openFailure(testing::encryptPdf(pdf, "user", "owner")), PdfOpenError::Reason::Encrypted);

    TempDir dir;
    PdfReader reader(dir.write("owner-only.pdf", testing::encryptPdf(pdf, "", "owner")).string());
    EXPECT_EQ(reader.readPage(1).entities.size(), 1u);
}

TEST(PdfOpen, ReadsFromMemoryWithinAMemoryLimit)
{
    const std::string pdf = makePdf({{kLine}, {kLine}});
    EXPECT_EQ(PdfReader(pdf, std::size_t{64} << 20).readPage(2).entities.size(), 1u);
    EXPECT_THROW(PdfReader(pdf, 4096), std::runtime_error); // MuPDF cannot even start
}

TEST(PdfOpen, ReadsPagesByNumber)
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({{""}, {kLine + " 10 20 m 100 20 l S"}, {""}})).string());
    ASSERT_EQ(reader.pageCount(), 3);
    const Drawing second = reader.readPage(2);
    EXPECT_EQ(second.pageNumber, 2);
    EXPECT_EQ(second.entities.size(), 2u);
    const Drawing empty = reader.readPage(3);
    EXPECT_TRUE(empty.entities.empty());
    EXPECT_TRUE(empty.warnings.empty());
    EXPECT_THROW(reader.readPage(4), std::out_of_range);
    EXPECT_THROW(reader.readPage(0), std::out_of_range);
}

TEST(PdfLayers, ContentGoesOnTheLayerOfItsGroupAndHiddenLayersAreConvertedSwitchedOff)
{
    const std::string content = "/OC /oc1 BDC 10 10 m 20 10 l S EMC "
                                "/OC /oc2 BDC 10 20 m 20 20 l S EMC "
                                "10 30 m 20 30 l S "
                                "/OC /oc1 BDC /Span << /ActualText (x) >> BDC 10 40 m 20 40 l S EMC EMC";
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({{content}}, {{"Walls", true}, {"Notes", false}})).string());
    ASSERT_EQ(reader.layers().size(), 2u);
    EXPECT_EQ(reader.layers()[0].name, "Walls");
    EXPECT_TRUE(reader.layers()[0].visible);
    EXPECT_EQ(reader.layers()[1].name, "Notes");
    EXPECT_FALSE(reader.layers()[1].visible);

    const Drawing d = reader.readPage(1);
    ASSERT_EQ(d.entities.size(), 4u);
    std::vector<std::pair<double, std::string>> byHeight;
    for (const auto& e : d.entities)
        byHeight.emplace_back(std::get<Line>(e.geometry).a.y, e.style.layer);
    std::sort(byHeight.begin(), byHeight.end());
    EXPECT_EQ(byHeight[0].second, "Walls");
    EXPECT_EQ(byHeight[1].second, "Notes");
    EXPECT_EQ(byHeight[2].second, "0");
    EXPECT_EQ(byHeight[3].second, "Walls"); // marked content inside a group stays on the group's layer
    ASSERT_EQ(d.layers.size(), 2u);
    EXPECT_FALSE(d.layers[1].visible);
}

TEST(PdfLayers, AGroupCalledZeroIsTheDrawingsOwnLayerZero)
{
    // CAD plots carry the CAD layer "0" over as a group of that name; it must not become a second layer "0".
    const std::string content = "/OC /oc1 BDC 10 10 m 20 10 l S EMC 10 30 m 20 30 l S "
                                "/OC /oc2 BDC 10 20 m 20 20 l S EMC";
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({{content}}, {{"0", true}, {"Walls", true}})).string());
    const Drawing d = reader.readPage(1);
    ASSERT_EQ(d.layers.size(), 1u);
    EXPECT_EQ(d.layers[0].name, "Walls");
    ASSERT_EQ(d.entities.size(), 3u);
    for (const auto& e : d.entities)
        EXPECT_EQ(e.style.layer, std::abs(std::get<Line>(e.geometry).a.y - 20 * 25.4 / 72) < 1e-6 ? "Walls" : "0");
}

TEST(PdfWarnings, SkippedImagesAndShadingsAreReported)
{
    TempDir dir;
    const std::string content = kLine + " q 100 0 0 100 0 0 cm BI /W 1 /H 1 /CS /G /BPC 8 ID \xff EI Q /Sh1 sh";
    PdfReader reader(dir.write("in.pdf", makePdf({{content}})).string());
    const Drawing d = reader.readPage(1);
    EXPECT_EQ(d.entities.size(), 1u);
    ASSERT_EQ(d.warnings.size(), 2u);
    EXPECT_NE(d.warnings[0].find("1 raster image skipped"), std::string::npos) << d.warnings[0];
    EXPECT_NE(d.warnings[1].find("1 shading"), std::string::npos) << d.warnings[1];
}

} // namespace
} // namespace unplot::engine
