// Pages of generated PDFs converted, compared as described in words (coordinates in points, to 0.001).

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>

namespace unplot::engine {
namespace {

using testing::TestLayer;
using testing::TestPage;

// A circle (or, with ry, an ellipse) as writers draw it: four Béziers with the usual 0.5523 control distance.
std::string bezierCircle(double cx, double cy, double r, double ry = -1)
{
    ry = ry < 0 ? r : ry;
    const double k = 0.5523;
    auto p = [](double x, double y) { return std::to_string(x) + " " + std::to_string(y) + " "; };
    return p(cx + r, cy) + "m " + p(cx + r, cy + k * ry) + p(cx + k * r, cy + ry) + p(cx, cy + ry) + "c " +
           p(cx - k * r, cy + ry) + p(cx - r, cy + k * ry) + p(cx - r, cy) + "c " + p(cx - r, cy - k * ry) +
           p(cx - k * r, cy - ry) + p(cx, cy - ry) + "c " + p(cx + k * r, cy - ry) + p(cx + r, cy - k * ry) +
           p(cx + r, cy) + "c h ";
}

const std::string kHuge = "100000000000000000000000000000000000000000000";

struct Row {
    const char* name;
    TestPage page;
    std::string expected; // a pattern for testing::describe
    std::vector<TestLayer> layers = {};
    bool glyphFonts = false; // the page may use the fonts F4 to F8
};
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

const Row kRows[] = {
    // Strokes.
    {"line_colour_width", {"1 0 0 RG 2 w 10 20 m 110 20 l S"}, "line 10,20 110,20 #ff0000 w2"},
    {"poly_open", {"10 20 m 50 20 l 50 60 l S"}, "poly 10,20 50,20 50,60 w1"},
    {"poly_closepath", {"10 20 m 50 20 l 50 60 l h S"}, "poly 10,20 50,20 50,60 closed w1"},
    {"poly_closepath_after_return", {"10 20 m 50 20 l 50 60 l 10 20 l h S"}, "poly 10,20 50,20 50,60 closed w1"},
    {"poly_return_without_closepath", {"10 20 m 50 20 l 50 60 l 10 20 l S"}, "poly 10,20 50,20 50,60 10,20 w1"},
    {"poly_rectangle", {"10 20 100 50 re S"}, "poly 10,20 110,20 110,70 10,70 closed w1"},
    {"poly_repeated_points", {"10 20 m 50 20 l 50 20 l 50 60 l 50 60 l S"}, "poly 10,20 50,20 50,60 w1"},
    {"zero_length_nothing", {"10 10 m 10 10 l S 30 30 m S 50 50 m 50 50 50 50 50 50 c S"}, "nothing"},
    {"zero_length_segments_dropped", {"10 10 m 10 10 l 40 10 l 40 10 l S"}, "line 10,10 40,10 w1"},
    {"round_dots",
     {"0 0 1 RG 1 J 4 w 30 40 m 30 40 l S 60 40 m h S 90 40 m S 0 J 120 40 m 120 40 l S"},
     "fill (32,40 ~32,41.105 31.105,42 30,42 ~* 28,40 ~* 30,38 ~* 32,40) #0000ff; fill (62,40 ~*) #0000ff"},
    {"curves_join",
     {"10 10 m 20 40 40 40 50 10 c 60 -20 80 -20 90 10 c S"},
     "spline 10,10 20,40 40,40 50,10 60,-20 80,-20 90,10 w1"},
    {"quadratic_shorthands",
     {"10 10 m 30 40 50 10 v 70 -20 90 10 y S"},
     "spline 10,10 10,10 30,40 50,10 70,-20 90,10 90,10 w1"},
    {"mixed_subpath",
     {"10 10 m 50 10 l 60 30 70 30 80 10 c 120 10 l 130 10 l S"},
     "line 10,10 50,10 w1; spline 50,10 60,30 70,30 80,10 w1; poly 80,10 120,10 130,10 w1"},
    {"circle", {bezierCircle(200, 300, 50) + "S"}, "circle 200,300 50 w1"},
    {"circle_scaled", {"q 2 0 0 2 100 100 cm " + bezierCircle(10, 20, 5) + "S Q"}, "circle 120,140 10 w2"},
    {"arc_small", {"105 100 m 105 102.7614 102.7614 105 100 105 c S"}, "arc 100,100 5 0>90 w1"},
    {"arc_too_coarse",
     {"150 100 m 150 127.614 127.614 150 100 150 c S"},
     "spline 150,100 150,127.614 127.614,150 100,150 w1"},
    {"ellipse_stays_spline",
     {bezierCircle(200, 300, 50, 30) + "S"},
     "spline 250,300 250,316.569 227.615,330 200,330 172.385,330 150,316.569 150,300 150,283.431 172.385,270 200,270 "
     "227.615,270 250,283.431 250,300 closed w1"},
    {"huge",
     {"q " + kHuge + " 0 0 " + kHuge + " 0 0 cm " + kHuge + " 0 0 " + kHuge +
      " 0 0 cm 10 10 m 20 10 l S 0 0 10 10 re f Q 10 10 m 20 10 l S"},
     "line 10,10 20,10 w1"},
    {"colour_gray", {"0.5 G 10 10 m 20 10 l S"}, "line 10,10 20,10 #808080 w1"},
    {"colour_cmyk", {"1 0 0 0 K 10 10 m 20 10 l S"}, "line 10,10 20,10 #00ffff w1"},
    {"width_scaled", {"2 0 0 2 0 0 cm 0.5 w 10 10 m 20 10 l S"}, "line 20,20 40,20 w1"},
    {"width_zero", {"0 w 10 10 m 20 10 l S"}, "line 10,10 20,10"},
    // Fills.
    {"fill_evenodd",
     {"0 0 1 rg 100 100 200 200 re 150 150 100 100 re f*"},
     "fill evenodd (100,100 300,100 300,300 100,300)(150,150 250,150 250,250 150,250) #0000ff"},
    {"fill_nonzero",
     {"0 0 1 rg 100 100 200 200 re 150 150 100 100 re f"},
     "fill (100,100 300,100 300,300 100,300)(150,150 250,150 250,250 150,250) #0000ff"},
    {"fill_and_stroke",
     {"1 0 0 rg 0 1 0 RG " + bezierCircle(100, 100, 20) + "B"},
     "fill (120,100 ~120,111.046 111.046,120 100,120 ~* 100,80 ~*) #ff0000; circle 100,100 20 #00ff00 w1"},
    {"fill_arealess", {"10 10 m 50 10 l f 60 60 m f"}, "nothing"},
    // Pages: the origin at the lower left of the page as shown.
    {"page_plain", {"150 250 m 190 250 l S", 600, 800}, "line 150,250 190,250 w1 | 600x800"},
    {"page_rotate90", {"150 250 m 190 250 l S", 600, 800, {}, 90}, "line 250,450 250,410 w1 | 800x600"},
    {"page_rotate180", {"150 250 m 190 250 l S", 600, 800, {}, 180}, "line 450,550 410,550 w1 | 600x800"},
    {"page_rotate270", {"150 250 m 190 250 l S", 600, 800, {}, 270}, "line 550,150 550,190 w1 | 800x600"},
    {"page_cropbox", {"150 250 m 190 250 l S", 600, 800, {100, 200, 400, 600}}, "line 50,50 90,50 w1 | 300x400"},
    {"page_cropbox_rotate90",
     {"150 250 m 190 250 l S", 600, 800, {100, 200, 400, 600}, 90},
     "line 50,250 50,210 w1 | 400x300"},
    {"text_rotated_page",
     {"BT /F1 10 Tf 150 250 Td (Turned) Tj ET", 600, 800, {}, 90},
     "text \"Turned\" 250,450 h7.29 r270 x1 Helvetica | 800x600 style=Helvetica"},
    // Text.
    {"text",
     {"1 0 0 rg BT /F1 12 Tf 1 0 0 1 100 200 Tm (Hello World) Tj ET"},
     "text \"Hello World\" 100,200 h8.748 r0 x1 Helvetica #ff0000 style=Helvetica"},
    {"text_r90",
     {"BT /F1 10 Tf 0 1 -1 0 300 100 Tm (Up) Tj ET"},
     "text \"Up\" 300,100 h7.29 r90 x1 Helvetica style=Helvetica"},
    {"text_r180",
     {"BT /F1 10 Tf -1 0 0 -1 300 100 Tm (Up) Tj ET"},
     "text \"Up\" 300,100 h7.29 r180 x1 Helvetica style=Helvetica"},
    {"text_r270",
     {"BT /F1 10 Tf 0 -1 1 0 300 100 Tm (Up) Tj ET"},
     "text \"Up\" 300,100 h7.29 r270 x1 Helvetica style=Helvetica"},
    {"text_r30",
     {"BT /F1 10 Tf 0.8660254 0.5 -0.5 0.8660254 300 100 Tm (Up) Tj ET"},
     "text \"Up\" 300,100 h7.29 r30 x1 Helvetica style=Helvetica"},
    {"text_scaling",
     {"BT /F1 10 Tf 50 Tz 100 100 Td (Narrow) Tj ET"},
     "text \"Narrow\" 100,100 h7.29 r0 x0.5 Helvetica style=Helvetica"},
    {"kerning",
     {"BT /F1 10 Tf 100 100 Td [(Hel) -20 (lo)] TJ ET"},
     "text \"Hello\" 100,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"word_gap",
     {"BT /F1 10 Tf 100 100 Td [(Two) -300 (Words)] TJ ET"},
     "text \"Two Words\" 100,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"far_apart",
     {"BT /F1 10 Tf 100 100 Td (Left) Tj 200 0 Td (Right) Tj ET"},
     "text \"Left\" 100,100 h7.29 r0 x1 Helvetica; text \"Right\" 300,100 h7.29 r0 x1 Helvetica "
     "style=Helvetica"},
    {"next_line",
     {"BT /F1 10 Tf 12 TL 100 100 Td (One) Tj T* (Two) Tj ET"},
     "text \"One\" 100,100 h7.29 r0 x1 Helvetica; text \"Two\" 100,88 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"off_the_baseline",
     {"BT /F1 10 Tf 100 100 Td (One) Tj 18.9 -3 Td (Two) Tj ET"},
     "text \"One\" 100,100 h7.29 r0 x1 Helvetica; text \"Two\" 118.9,97 h7.29 r0 x1 Helvetica "
     "style=Helvetica"},
    {"two_fonts",
     {"BT /F1 10 Tf 100 100 Td (Sans) Tj /F2 10 Tf ( Serif) Tj ET"},
     "text \"Sans\" 100,100 h7.29 r0 x1 Helvetica; text \"Serif\" 125.29,100 h6.62 r0 x1 Times-Roman "
     "style=Helvetica style=Times-Roman"},
    {"split_objects",
     {"BT /F1 10 Tf 100 100 Td (Split) Tj ET BT /F1 10 Tf 119.45 100 Td (Text) Tj ET"},
     "text \"SplitText\" 100,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"labels_side_by_side", // two text objects two thirds of an em apart: two labels, not two words
     {"BT /F1 10 Tf 100 100 Td (GND) Tj ET BT /F1 10 Tf 129 100 Td (GND) Tj ET"},
     "text \"GND\" 100,100 h7.29 r0 x1 Helvetica; text \"GND\" 129,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"blanks_trimmed",
     {"BT /F1 10 Tf 100 100 Td (  padded  ) Tj ( ) Tj ET"},
     "text \"padded\" 105.56,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"latin1",
     {"BT /F1 10 Tf 100 100 Td (\\374ber 45\\260) Tj ET"},
     "text \"\xC3\xBC"
     "ber 45\xC2\xB0\" 100,100 h7.29 r0 x1 Helvetica style=Helvetica"},
    {"styles",
     {"BT /F1 10 Tf 100 100 Td (A) Tj /F2 10 Tf 0 50 Td (B) Tj /F1 8 Tf 0 50 Td (C) Tj ET"},
     "text \"A\" 100,100 h7.29 r0 x1 Helvetica; text \"B\" 100,150 h6.62 r0 x1 Times-Roman; text \"C\" 100,200 h5.832 "
     "r0 x1 Helvetica style=Helvetica style=Times-Roman"},
    {"invisible",
     {"q BT /F1 10 Tf 3 Tr 100 100 Td (hidden) Tj ET Q BT /F1 10 Tf 100 200 Td (shown) Tj ET "
      "BT /F1 10 Tf 3 Tr 100 300 Td (also hidden) Tj ET"},
     "text \"hidden\" 100,100 h7.29 r0 x1 Helvetica @Invisible text; text \"shown\" 100,200 h7.29 r0 x1 Helvetica; "
     "text \"also hidden\" 100,300 h7.29 r0 x1 Helvetica @Invisible text style=Helvetica layer=Invisible "
     "text(off)"},
    {"type3", {"BT /F3 20 Tf 100 100 Td (ABBA) Tj ET"}, "text \"ABBA\" 100,100 h14 r0 x1 Unnamed-T3 style=Unnamed-T3"},
    {"fill_stroke_text",
     {"BT /F1 10 Tf 2 Tr 100 100 Td (Outlined) Tj ET BT /F1 10 Tf 1 Tr 100 200 Td (Stroked) Tj ET"},
     "text \"Outlined\" 100,100 h7.29 r0 x1 Helvetica; text \"Stroked\" 100,200 h7.29 r0 x1 Helvetica "
     "style=Helvetica"},
    // Layers and what is skipped.
    {"layers",
     {"/OC /oc1 BDC 10 10 m 20 10 l S EMC /OC /oc2 BDC 10 20 m 20 20 l S EMC 10 30 m 20 30 l S "
      "/OC /oc1 BDC /Span << /ActualText (x) >> BDC 10 40 m 20 40 l S EMC EMC"},
     "line 10,10 20,10 w1 @Walls; line 10,20 20,20 w1 @Notes; line 10,30 20,30 w1; line 10,40 20,40 w1 @Walls "
     "layer=Walls layer=Notes(off)",
     {{"Walls", true}, {"Notes", false}}},
    {"layer_zero",
     {"/OC /oc1 BDC 10 10 m 20 10 l S EMC 10 30 m 20 30 l S /OC /oc2 BDC 10 20 m 20 20 l S EMC"},
     "line 10,10 20,10 w1; line 10,30 20,30 w1; line 10,20 20,20 w1 @Walls layer=Walls",
     {{"0", true}, {"Walls", true}}},
    {"image_shading",
     {"10 10 m 100 10 l S q 100 0 0 100 0 0 cm BI /W 1 /H 1 /CS /G /BPC 8 ID \xff EI Q /Sh1 sh"},
     "image page-1-image-1.png:8/0 1x1 0,0 100,0 0,100; image page-1-image-2.png:8/2 138x1170 0,-0.4 99.36,-0.4 0,842; "
     "line 10,10 100,10 w1"},
    // Glyphs that are no text (fonts F5 to F8), beside text that is. They were text: "ABC" and an invisible "D" beside
    // the square MuPDF paints itself; "AB"; "Note HI °"; "abg°±∅µ"; "abg°".
    {"type3_unnamed_glyphs_paint_in_the_text_colour",
     {"0 0 1 rg BT /F5 20 Tf 100 100 Td (ABCDE) Tj ET"},
     "fill (100,100 115,100 107.5,115) #0000ff; line 115,100 130,115 #0000ff w1; fill (130,100 145,100 145,115 "
     "130,115) #ff0000; fill (145,100 160,100 160,115 145,115) #0000ff; text \"A\" 160,100 h14 r0 x1 Unnamed-T3 "
     "#0000ff style=Unnamed-T3 warning=3 font glyphs with no character *",
     {},
     true},
    {"type3_stroked_text_in_the_stroke_colour",
     {"0 1 0 RG BT /F5 20 Tf 1 Tr 100 100 Td (AB) Tj ET"},
     "fill (100,100 115,100 107.5,115) #00ff00; line 115,100 130,115 #00ff00 w1 style=Unnamed-T3 warning=2 *",
     {},
     true},
    {"symbolic_font_icons_beside_its_text",
     {"BT /F6 10 Tf 100 200 Td (Note HI `) Tj ET"},
     "fill (*); fill (*); text \"Note\" 100,200 h* NotoSerif; text \"°\" 147.47,200 h* style=NotoSerif warning=2 *",
     {},
     true},
    {"symbol_font_by_its_names",
     {"BT /F7 10 Tf 100 300 Td (abg\\260\\261\\306m) Tj ET"},
     "text \"αβγ°±∅µ\" 100,300 h6.73 r0 x1 Symbol style=Symbol",
     {},
     true},
    {"symbol_font_by_the_symbol_encoding",
     {"BT /F8 10 Tf 100 400 Td (abg\\260) Tj ET"},
     "text \"αβγ°\" 100,400 h* SymbolMT style=SymbolMT",
     {},
     true},
};

class PdfConvert : public ::testing::TestWithParam<Row> {};

TEST_P(PdfConvert, Page)
{
    testing::TempDir dir;
    const std::string toUnicode = GetParam().glyphFonts ? "0 beginbfchar endbfchar" : "";
    PdfReader reader(dir.write("in.pdf", testing::makePdf({GetParam().page}, GetParam().layers, toUnicode)).string());
    const std::string actual = testing::describe(reader.readPage(1));
    EXPECT_PRED2(testing::like, GetParam().expected, actual);
}

INSTANTIATE_TEST_SUITE_P(Rows, PdfConvert, ::testing::ValuesIn(kRows),
                         [](const auto& p) { return std::string(p.param.name); });

// A CID TrueType font whose ToUnicode map starts a block with a range that runs backwards, as some CAD exporters
// write it: MuPDF drops the rest of that block. The font's own cmap names the letters, but not glyph 1914 (an alternate
// form of a Greek letter), which is drawn as its outline, as is a glyph the map gives a private character; .notdef
// (glyph 0) shows nothing; a glyph named "degree" is "°" though the map gives it a private character.
TEST(PdfText, CharactersABrokenToUnicodeMapLosesComeFromTheFont)
{
    const std::u32string title = U"Чертёж";
    std::string map = "7 beginbfrange\n<0010> <0001> <0041>\n";
    for (const char32_t c : title) {
        char unicode[8];
        std::snprintf(unicode, sizeof unicode, "<%04X>", unsigned(c));
        const std::string glyph = testing::cidText(std::u32string(1, c));
        map += glyph + " " + glyph + " " + unicode + "\n";
    }
    const std::string icon = testing::cidText(U"Ø"), degree = testing::cidText(U"°");
    map += "endbfrange 2 beginbfrange " + icon + " " + icon + " <E000> " + degree + " " + degree + " <F0B0>\n";
    const std::string content = "BT /F4 10 Tf 100 100 Td " + testing::cidText(title) + " Tj <077A0000> Tj " + icon +
                                " Tj 0 -20 Td " + degree + " Tj ET";
    PdfReader reader(testing::makePdf({{content}}, {}, map + "endbfrange"), 0);
    EXPECT_PRED2(testing::like,
                 "fill (*); fill (*); text \"Чертёж\" 100,100 h* NotoSerif; text \"°\" 100,80 h* style=NotoSerif "
                 "warning=2 font glyphs with no character (symbols or icons) drawn as their outlines",
                 testing::describe(reader.readPage(1)));
}

} // namespace
} // namespace unplot::engine
