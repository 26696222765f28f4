// Number formatting, the stream sink's lines, string encoding and table names.
#include "dxfencoding.h"
#include "tagsink.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace unplot::engine::dxf {
namespace {

TEST(DxfNumbers, FormattedFixedLocaleFreeAndFinite)
{
    const struct {
        double value;
        const char* text;
    } rows[] = {
        {0, "0.0"},
        {-0.0, "0.0"},
        {1, "1.0"},
        {-2.5, "-2.5"},
        {0.1 + 0.2, "0.3"},
        {123.4567890123, "123.456789012"},
        {1e-12, "0.0"},
        {-1e-12, "0.0"},
        {1e-9, "0.000000001"},
        {1e20, "100000000000000000000.0"},
        {std::numeric_limits<double>::quiet_NaN(), "0.0"},
        {std::numeric_limits<double>::infinity(), "0.0"},
        {-std::numeric_limits<double>::infinity(), "0.0"},
    };
    for (const auto& row : rows) {
        char buffer[400];
        EXPECT_EQ(formatDouble(row.value, buffer), row.text) << row.value;
    }
    char buffer[400];
    EXPECT_EQ(formatDouble(-std::numeric_limits<double>::max(), buffer).size(), 312u);
    // Exact: reads back as the same double.
    EXPECT_EQ(formatDouble(6.283185307179586, buffer, true), "6.283185307179586");
    EXPECT_EQ(formatDouble(0.5, buffer, true), "0.5");
    EXPECT_EQ(formatDouble(2, buffer, true), "2.0");
    EXPECT_EQ(formatDouble(-1e-300, buffer, true), "0.0");
    EXPECT_EQ(formatDouble(1e-11, buffer, true), "0.00000000001");
}

TEST(DxfTagSink, StreamWritesRightAlignedCodesAndValues)
{
    std::ostringstream out;
    {
        StreamTagSink sink(out);
        sink.tag(0, "LINE");
        sink.handle(5, 0x2AF);
        sink.tag(70, 1);
        sink.point(10, 1.5, -2);
        sink.tag(1071, 7);
    }
    EXPECT_EQ(out.str(), "  0\nLINE\n  5\n2AF\n 70\n1\n 10\n1.5\n 20\n-2.0\n1071\n7\n");
}

TEST(DxfTagSink, StreamFlushesLargeOutputInOrder)
{
    std::ostringstream out;
    StreamTagSink sink(out);
    for (int i = 0; i < 20000; ++i)
        sink.tag(90, i);
    sink.flush();
    const std::string text = out.str();
    EXPECT_EQ(text.substr(0, 8), " 90\n0\n 9");
    EXPECT_EQ(text.substr(text.size() - 10), " 90\n19999\n");
}

TEST(DxfEncoding, StringsPerVersion)
{
    const auto r2000 = *dxfVersionForCode(15);
    const auto r2007 = *dxfVersionForCode(21);
    const struct {
        const char* utf8;
        std::string before2007;
        std::string from2007;
    } rows[] = {
        {"plain", "plain", "plain"},
        {"Ø ±µ°é", "\xD8 \xB1\xB5\xB0\xE9", "Ø ±µ°é"},
        {"€ – ‰", "\x80 \x96 \x89", "€ – ‰"},
        {"北 Ω", "\\U+5317 \\U+03A9", "北 Ω"},
        {"a\nb\tc", "a b c", "a b c"},
        {"\xF0\x9F\x98\x80", "\\U+FFFD", "\xF0\x9F\x98\x80"}, // beyond the BMP: no \U+ escape exists
        {"bad\xC3(", "bad\\U+FFFD(", "bad\xEF\xBF\xBD("},     // malformed UTF-8
        {"\xE2\x82", "\\U+FFFD\\U+FFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(encodeDxfString(row.utf8, r2000), row.before2007) << row.utf8;
        EXPECT_EQ(encodeDxfString(row.utf8, r2007), row.from2007) << row.utf8;
    }
}

TEST(DxfEncoding, CutsWholeCharactersOnly)
{
    const auto r2000 = *dxfVersionForCode(15);
    const auto r2010 = *dxfVersionForCode(23);
    EXPECT_EQ(encodeDxfString("abcdef", r2000, 4), "abcd");
    EXPECT_EQ(encodeDxfString("ab北", r2000, 9), "ab\\U+5317");
    EXPECT_EQ(encodeDxfString("ab北", r2000, 8), "ab");
    EXPECT_EQ(encodeDxfString("ab北", r2010, 4), "ab");
    EXPECT_EQ(encodeDxfString("ab北", r2010, 5), "ab北");
}

TEST(DxfTableNames, SanitisedAndUnique)
{
    TableNames names(*dxfVersionForCode(18));
    names.reserve("0");
    EXPECT_EQ(names.make("0", "Layer"), "0_2");
    EXPECT_EQ(names.make("a<b>/c\\d\"e:f;g?h*i|j,k=l`m", "Layer"), "a_b__c_d_e_f_g_h_i_j_k_l_m");
    EXPECT_EQ(names.make("  Walls  ", "Layer"), "Walls");
    EXPECT_EQ(names.make("WALLS", "Layer"), "WALLS_2"); // names compare case-insensitively
    EXPECT_EQ(names.make("walls", "Layer"), "walls_3");
    EXPECT_EQ(names.make("   ", "Layer"), "Layer");
    EXPECT_EQ(names.make("", "Layer"), "Layer_2");
    EXPECT_EQ(names.make("Ébauche 北", "Layer"), "Ébauche 北");
    EXPECT_EQ(names.make("éBAUCHE 北", "Layer"), "éBAUCHE 北_2");
    EXPECT_EQ(names.make("ŁÓDŹ", "Layer"), "ŁÓDŹ");
    EXPECT_EQ(names.make("łódź", "Layer"), "łódź_2");
    EXPECT_EQ(names.make("Слой", "Layer"), "Слой");
    EXPECT_EQ(names.make("СЛОЙ", "Layer"), "СЛОЙ_2");
    EXPECT_EQ(names.make(std::string(300, 'x'), "Layer").size(), 255u);
    EXPECT_EQ(names.make(std::string(300, 'x'), "Layer"), std::string(253, 'x') + "_2");
}

TEST(DxfTableNames, R14KeepsToItsCharacterSet)
{
    TableNames names(*dxfVersionForCode(14));
    names.reserve("Standard");
    EXPECT_EQ(names.make("Standard", "Style"), "STANDARD_2");
    EXPECT_EQ(names.make("Times New Roman", "Style"), "TIMES_NEW_ROMAN");
    EXPECT_EQ(names.make("a$b-c_d.e", "Style"), "A$B-C_D_E");
    EXPECT_EQ(names.make(std::string(40, 'q'), "Style"), std::string(31, 'Q'));
}

} // namespace
} // namespace unplot::engine::dxf
