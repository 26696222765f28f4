// Text of generated PDFs: strings, placement, rotation, cap height, width factor, styles and grouping.

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>

namespace unplot::engine {
namespace {

using testing::makePdf;
using testing::mm;
using testing::TempDir;
using testing::TestPage;

constexpr double kTolerance = 0.001;
// Helvetica's cap height is 718/1000 em; MuPDF's built-in replacement is within a percent or two of it.
constexpr double kHelveticaCap = 0.718;

std::vector<std::pair<Text, Style>> texts(const TestPage& page)
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({page})).string());
    const Drawing d = reader.readPage(1);
    std::vector<std::pair<Text, Style>> out;
    for (const auto& e : d.entities)
        if (const auto* t = std::get_if<Text>(&e.geometry))
            out.emplace_back(*t, e.style);
    return out;
}

std::vector<std::pair<Text, Style>> texts(const std::string& content)
{
    return texts(TestPage{content});
}

TEST(PdfText, StringInsertionHeightAndStyle)
{
    TempDir dir;
    PdfReader reader(
        dir.write("in.pdf", makePdf({{"1 0 0 rg BT /F1 12 Tf 1 0 0 1 100 200 Tm (Hello World) Tj ET"}})).string());
    const Drawing d = reader.readPage(1);
    ASSERT_EQ(d.entities.size(), 1u);
    const Text& t = std::get<Text>(d.entities[0].geometry);
    EXPECT_EQ(t.utf8, "Hello World");
    EXPECT_NEAR(t.insertion.x, mm(100), kTolerance);
    EXPECT_NEAR(t.insertion.y, mm(200), kTolerance);
    EXPECT_NEAR(t.height, kHelveticaCap * mm(12), 0.02 * t.height);
    EXPECT_NEAR(t.rotationDeg, 0, 1e-6);
    EXPECT_NEAR(t.widthFactor, 1, 1e-6);
    EXPECT_EQ(t.style, "Helvetica");
    EXPECT_EQ(d.entities[0].style.color, (Rgb{255, 0, 0}));
    ASSERT_EQ(d.textStyles.size(), 1u);
    EXPECT_EQ(d.textStyles[0].name, "Helvetica");
    EXPECT_EQ(d.textStyles[0].fontName, "Helvetica");
}

struct RotationRow {
    const char* name;
    const char* matrix;
    double degrees;
};
void PrintTo(const RotationRow& row, std::ostream* os)
{
    *os << row.name;
}

class PdfTextRotation : public ::testing::TestWithParam<RotationRow> {};

TEST_P(PdfTextRotation, FollowsTheTextMatrix)
{
    const auto t = texts(std::string("BT /F1 10 Tf ") + GetParam().matrix + " 300 100 Tm (Up) Tj ET");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_NEAR(t[0].first.rotationDeg, GetParam().degrees, 1e-4);
    EXPECT_NEAR(t[0].first.insertion.x, mm(300), kTolerance);
    EXPECT_NEAR(t[0].first.insertion.y, mm(100), kTolerance);
    EXPECT_NEAR(t[0].first.height, kHelveticaCap * mm(10), 0.02 * mm(10));
    EXPECT_NEAR(t[0].first.widthFactor, 1, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Rows, PdfTextRotation,
                         ::testing::Values(RotationRow{"r90", "0 1 -1 0", 90}, RotationRow{"r180", "-1 0 0 -1", 180},
                                           RotationRow{"r270", "0 -1 1 0", 270},
                                           RotationRow{"r30", "0.8660254 0.5 -0.5 0.8660254", 30}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PdfText, HorizontalScalingIsTheWidthFactor)
{
    const auto t = texts("BT /F1 10 Tf 50 Tz 100 100 Td (Narrow) Tj ET");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].first.utf8, "Narrow");
    EXPECT_NEAR(t[0].first.widthFactor, 0.5, 1e-5);
    EXPECT_NEAR(t[0].first.height, kHelveticaCap * mm(10), 0.02 * mm(10));
}

TEST(PdfText, OnTheRotatedPageAsShown)
{
    TestPage page{"BT /F1 10 Tf 150 250 Td (Turned) Tj ET", 600, 800, {}, 90};
    const auto t = texts(page);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_NEAR(t[0].first.rotationDeg, 270, 1e-4);
    EXPECT_NEAR(t[0].first.insertion.x, mm(250), kTolerance);
    EXPECT_NEAR(t[0].first.insertion.y, mm(450), kTolerance);
}

struct GroupingRow {
    const char* name;
    const char* content;
    std::vector<std::string> strings;
};
void PrintTo(const GroupingRow& row, std::ostream* os)
{
    *os << row.name;
}

class PdfTextGrouping : public ::testing::TestWithParam<GroupingRow> {};

TEST_P(PdfTextGrouping, GlyphsOnOneBaselineFormOneText)
{
    std::vector<std::string> strings;
    for (const auto& [text, style] : texts(GetParam().content))
        strings.push_back(text.utf8);
    EXPECT_EQ(strings, GetParam().strings);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PdfTextGrouping,
    ::testing::Values(
        GroupingRow{"kerning", "BT /F1 10 Tf 100 100 Td [(Hel) -20 (lo)] TJ ET", {"Hello"}},
        GroupingRow{"positioned_word_gap", "BT /F1 10 Tf 100 100 Td [(Two) -300 (Words)] TJ ET", {"Two Words"}},
        GroupingRow{"far_apart", "BT /F1 10 Tf 100 100 Td (Left) Tj 200 0 Td (Right) Tj ET", {"Left", "Right"}},
        GroupingRow{"next_line", "BT /F1 10 Tf 12 TL 100 100 Td (One) Tj T* (Two) Tj ET", {"One", "Two"}},
        GroupingRow{"two_fonts", "BT /F1 10 Tf 100 100 Td (Sans) Tj /F2 10 Tf ( Serif) Tj ET", {"Sans", "Serif"}},
        GroupingRow{"split_text_objects",
                    "BT /F1 10 Tf 100 100 Td (Split) Tj ET BT /F1 10 Tf 119.45 100 Td (Text) Tj ET",
                    {"SplitText"}},
        GroupingRow{"blanks_trimmed", "BT /F1 10 Tf 100 100 Td (  padded  ) Tj ( ) Tj ET", {"padded"}},
        GroupingRow{"latin1",
                    "BT /F1 10 Tf 100 100 Td (\\374ber 45\\260) Tj ET",
                    {"\xc3\xbc"
                     "ber 45\xc2\xb0"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PdfText, OneTextStylePerFont)
{
    TempDir dir;
    PdfReader reader(
        dir.write("in.pdf",
                  makePdf({{"BT /F1 10 Tf 100 100 Td (A) Tj /F2 10 Tf 0 50 Td (B) Tj /F1 8 Tf 0 50 Td (C) Tj ET"}}))
            .string());
    const Drawing d = reader.readPage(1);
    ASSERT_EQ(d.textStyles.size(), 2u);
    EXPECT_EQ(d.textStyles[0].name, "Helvetica");
    EXPECT_EQ(d.textStyles[1].name, "Times-Roman");
    ASSERT_EQ(d.entities.size(), 3u);
    EXPECT_EQ(std::get<Text>(d.entities[1].geometry).style, "Times-Roman");
}

TEST(PdfText, InvisibleTextIsKeptOnALayerThatIsOff)
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({{"q BT /F1 10 Tf 3 Tr 100 100 Td (hidden) Tj ET Q"
                                                   " BT /F1 10 Tf 100 200 Td (shown) Tj ET"
                                                   " BT /F1 10 Tf 3 Tr 100 300 Td (also hidden) Tj ET"}}))
                         .string());
    const Drawing d = reader.readPage(1);
    ASSERT_EQ(d.entities.size(), 3u);
    EXPECT_EQ(std::get<Text>(d.entities[0].geometry).utf8, "hidden");
    EXPECT_EQ(d.entities[0].style.layer, "Invisible text");
    EXPECT_EQ(std::get<Text>(d.entities[1].geometry).utf8, "shown");
    EXPECT_EQ(d.entities[1].style.layer, "0");
    EXPECT_EQ(d.entities[2].style.layer, "Invisible text");
    ASSERT_EQ(d.layers.size(), 1u);
    EXPECT_EQ(d.layers[0].name, "Invisible text");
    EXPECT_FALSE(d.layers[0].visible);
    EXPECT_TRUE(d.warnings.empty());
}

TEST(PdfText, Type3TextIsText)
{
    const auto t = texts("BT /F3 20 Tf 100 100 Td (ABBA) Tj ET");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].first.utf8, "ABBA");
    EXPECT_NEAR(t[0].first.insertion.x, mm(100), kTolerance);
    EXPECT_NEAR(t[0].first.height, 0.7 * mm(20), kTolerance); // no outline font to measure: 0.7 em
}

TEST(PdfText, FilledAndStrokedTextGivesOneText)
{
    const auto t = texts("BT /F1 10 Tf 2 Tr 100 100 Td (Outlined) Tj ET BT /F1 10 Tf 1 Tr 100 200 Td (Stroked) Tj ET");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].first.utf8, "Outlined");
    EXPECT_EQ(t[1].first.utf8, "Stroked");
}

} // namespace
} // namespace unplot::engine
