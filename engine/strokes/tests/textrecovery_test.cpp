// Text drawn as strokes in generated PDFs (the stroke fonts' own glyphs, plotted as a CAD program plots them) comes
// back as text; line work that is not text stays; invisible twins over strokes become the visible text.

#include "clipping.h"
#include "pdfreader.h"
#include "pieces.h"
#include "testpdf.h"
#include "textrecovery.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <tuple>

namespace unplot::engine::strokes {
namespace {

using testing::makePdf;
using testing::TempDir;

constexpr double kPtPerMm = 72 / 25.4;

const std::vector<StrokeFont>& fonts()
{
    static const std::vector<StrokeFont> all = loadStrokeFonts();
    return all;
}

const StrokeFont* font(const std::string& file)
{
    static std::vector<StrokeFont> loaded;
    for (const auto& f : loaded)
        if (f.name == std::filesystem::path(file).stem())
            return &f;
    for (const char* dir : {"/usr/share/librecad/fonts/", "/usr/share/hershey-fonts/"})
        if (std::filesystem::exists(dir + file)) {
            loaded.push_back(file.ends_with(".jhf") ? readJhfFont(dir + file) : readLffFont(dir + file));
            return &loaded.back();
        }
    return nullptr;
}

// PDF operators that stroke `text` set in `f`: one path per glyph (per segment when `segments`, as schematic editors
// plot their fonts), lower left of the baseline at (x, y) mm.
std::string stroked(const StrokeFont& f, const std::u32string& text, double x, double y, double heightMm, double deg,
                    bool segments = false, double widthFactor = 1, double obliqueDeg = 0)
{
    const double a = deg * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    std::ostringstream out;
    out << "0 0 1 RG 0.3 w 1 J 1 j\n";
    double pen = 0;
    for (char32_t ch : text) {
        auto g = f.glyphs.find(ch);
        if (ch == U' ' || g == f.glyphs.end()) {
            pen += f.space * heightMm * widthFactor;
            continue;
        }
        for (const auto& stroke : g->second.strokes) {
            for (std::size_t i = 0; i < stroke.size(); ++i) {
                const double v = stroke[i].y * heightMm;
                const double u = pen + stroke[i].x * heightMm * widthFactor + v * std::tan(obliqueDeg * std::numbers::pi / 180);
                const char* op = i == 0 ? " m\n" : segments && i + 1 < stroke.size() ? " l S\n" : " l\n";
                out << (x + u * c - v * s) * kPtPerMm << ' ' << (y + u * s + v * c) * kPtPerMm << op;
                if (segments && i > 0 && i + 1 < stroke.size())
                    out << (x + u * c - v * s) * kPtPerMm << ' ' << (y + u * s + v * c) * kPtPerMm << " m\n";
            }
        }
        out << "S\n";
        pen += g->second.advance * heightMm * widthFactor;
    }
    return out.str();
}

struct Page {
    Drawing drawing;
    TextRecovery recovery;
};

Page recover(const std::string& content, const std::vector<StrokeFont>& known = fonts(), LineReader* ocr = nullptr)
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({{content, 1684, 1191}})).string()); // A2
    Page page{reader.readPage(1), {}};
    passes::clipToRegions(page.drawing);
    page.recovery = recoverText(page.drawing, known, ocr);
    return page;
}

std::vector<const Entity*> textsOn(const Drawing& d, bool visible)
{
    std::vector<const Entity*> out;
    for (const auto& e : d.entities)
        if (std::holds_alternative<Text>(e.geometry) && (e.style.layer != kInvisibleTextLayer) == visible)
            out.push_back(&e);
    return out;
}

// A line of text set on a page: where its baseline starts (mm), and what it says.
struct Placed {
    double x, y;
    std::string text;
};

// How many of the page's visible texts are one of `lines` at its place, in height within `tolerance`; any other is
// a false text.
int placedTexts(const Drawing& d, const std::vector<Placed>& lines, double height, double tolerance)
{
    int right = 0;
    for (const Entity* e : textsOn(d, true)) {
        const Text& t = std::get<Text>(e->geometry);
        const bool found = std::any_of(lines.begin(), lines.end(), [&](const Placed& l) {
            return std::hypot(l.x - t.insertion.x, l.y - t.insertion.y) <= 1 && l.text == t.utf8;
        });
        right += found;
        EXPECT_TRUE(found) << "a false text \"" << t.utf8 << "\" at " << t.insertion.x << ", " << t.insertion.y;
        EXPECT_NEAR(t.height, height, tolerance);
    }
    return right;
}

struct Row {
    const char* file;
    std::u32string text;
    double height, degrees;
    double widthFactor = 1; // the text style's: condensed below 1
    double obliqueDeg = 0;
};

// Recovery on a table of lines: every recovered string at its place, the rate and the false texts counted.
TEST(StrokedText, LinesInFourFontFamiliesAtAnyAngle)
{
    if (!font("standard.lff") || !font("futural.jhf") || !font("iso3098.lff") || !font("lc_opengost-ar.lff"))
        GTEST_SKIP() << "the stroke fonts of librecad-data and hershey-fonts-data are not installed";
    const std::vector<Row> rows = {
        {"standard.lff", U"M12x1.5 DIN 912", 3.5, 0},   {"standard.lff", U"Rev C 2024", 1.8, 90},
        {"standard.lff", U"ISO 2768-mK", 10, 0},        {"standard.lff", U"lower case text", 2.5, 30},
        {"futural.jhf", U"SECTION A-A (2:1)", 5, 0}, {"futural.jhf", U"drawn by 42", 2.5, 270},
        {"futural.jhf", U"Model LIMIT", 3.5, 0}, // I and l drawn alike
        {"futural.jhf", U"R12.5 +0.1/-0.2", 3.5, 0}, {"futural.jhf", U"Part 7 of 9", 7, 45},
        {"iso3098.lff", U"TOLERANCE 0.05", 3.5, 0},      {"iso3098.lff", U"Weld 6x50", 2.5, 90},
        {"iso3098.lff", U"Surface Ra 3.2", 5, 180},      {"iso3098.lff", U"MATERIAL S235", 1.8, 0},
        {"iso3098.lff", U"Ø20 ±0.1 x 45°", 3.5, 0},      {"standard.lff", U"Scale 1:50", 2.5, 137},
        {"lc_opengost-ar.lff", U"Sheet 2 of 4", 3.5, 0}, {"lc_opengost-ar.lff", U"Weight 12 kg", 5, 90},
        {"lc_opengost-ar.lff", U"SCALE 10:1", 3.5, 0},   {"futural.jhf", U"limit", 2.5, 0}, // O and 0, I and l alike
        {"iso3098.lff", U"PART No 4711", 3.5, 0, 0.8},   {"standard.lff", U"WIDE TITLE 12", 5, 90, 1.3},
        {"futural.jhf", U"Condensed 75", 2.5, 0, 0.75},  {"iso3098.lff", U"SECTION B-B", 5, 0, 1, 15},
        {"standard.lff", U"Slanted 25", 3.5, 90, 1, 20},
    };
    int recovered = 0, wrong = 0;
    for (const auto& row : rows) {
        const StrokeFont& f = *font(row.file);
        // Text condensed or widened stands among lines of its font at its own width, as a drawing plots it.
        const std::string notes = row.widthFactor == 1 ? "" : "GENERAL NOTES";
        std::string content =
            stroked(f, row.text, 150, 100, row.height, row.degrees, false, row.widthFactor, row.obliqueDeg);
        for (double y : {30, 45})
            content += notes.empty() ? "" : stroked(f, std::u32string(notes.begin(), notes.end()), 250, y, 3.5, 0);
        const Page page = recover(content);
        const auto texts = textsOn(page.drawing, true);
        std::string want;
        for (char32_t c : row.text)
            appendUtf8(want, c);
        bool found = false;
        for (const Entity* e : texts) {
            const Text& t = std::get<Text>(e->geometry);
            if (t.utf8 == notes && t.widthFactor == 1)
                continue;
            const double off = std::hypot(t.insertion.x - 150, t.insertion.y - 100);
            const double turn = std::remainder(t.rotationDeg - row.degrees, 360.0);
            if (t.utf8 == want && off <= std::max(1.0, 0.3 * row.height) && std::abs(turn) <= 3 &&
                std::abs(t.height - row.height) <= 0.2 * row.height && std::abs(t.widthFactor - row.widthFactor) <= 0.05 &&
                std::abs(t.obliqueDeg - row.obliqueDeg) <= 2)
                found = true;
            else
                ++wrong, ADD_FAILURE() << row.file << " \"" << want << "\": a false text \"" << t.utf8 << "\"";
        }
        recovered += found;
        EXPECT_TRUE(found) << row.file << " \"" << want << "\" at " << row.height << " mm, " << row.degrees << "°";
    }
    std::cout << "stroked text: " << recovered << " of " << rows.size() << " lines recovered, " << wrong
              << " false texts\n";
}

// Line work that resembles glyphs stays line work.
TEST(StrokedText, DistractorsStayGeometry)
{
    if (fonts().empty())
        GTEST_SKIP() << "no stroke fonts installed";
    std::ostringstream c;
    c << "0 0 0 RG 0.5 w\n";
    for (int i = 0; i < 12; ++i) // hatching
        c << 100 + 6 * i << " 100 m " << 130 + 6 * i << " 130 l S\n";
    for (int i = 0; i < 5; ++i) // crosses in a row, and centre marks
        c << 300 + 12 * i << " 100 m " << 308 + 12 * i << " 110 l " << 300 + 12 * i << " 110 m " << 308 + 12 * i
          << " 100 l S " << 300 + 12 * i << " 150 m " << 310 + 12 * i << " 150 l " << 305 + 12 * i << " 145 m "
          << 305 + 12 * i << " 155 l S\n";
    c << "500 100 m 600 100 l S 500 100 m 510 103 l 510 97 l h f 600 100 m 590 103 l 590 97 l h f\n"; // dimension
    for (int i = 0; i <= 10; ++i) // ticks and a grid
        c << 100 + 10 * i << " 300 m " << 100 + 10 * i << " 306 l S " << 100 + 20 * i << " 400 m " << 100 + 20 * i
          << " 500 l S\n";
    c << "400 300 m 420 300 420 320 400 320 c 380 320 380 300 400 300 c S 390 310 m 410 310 l S\n"; // circle and bar
    c << "500 300 m 506 312 l 512 300 l S 520 300 m 520 312 l S 530 300 m 536 312 l 542 300 l S\n"; // "leaders"
    LineReader ocr; // the page's own glyphs read too, where Tesseract is installed
    const Page page = recover(c.str(), fonts(), ocr.ready() ? &ocr : nullptr);
    EXPECT_TRUE(textsOn(page.drawing, true).empty());
    EXPECT_EQ(page.recovery.strokesReplaced, 0);
}

// Dimension values of one or two glyphs, at any angle, standing on their dimension lines among the line work a
// dimension brings (extension lines, arrowheads, a centre line through the value): read where they stand on the line
// and read from below or the right, left as strokes where the line is missing or on the wrong side.
TEST(StrokedText, DimensionValuesOnTheirLines)
{
    if (!font("standard.lff") || !font("futural.jhf") || !font("iso3098.lff"))
        GTEST_SKIP() << "the stroke fonts of librecad-data and hershey-fonts-data are not installed";
    enum Rule { None, Below, Above };
    struct Value {
        const char* file;
        std::u32string text;
        double height, degrees;
        Rule rule;
        const char* want; // "" for no text
    };
    const std::vector<Value> values = {
        {"standard.lff", U"28", 2.5, 13, Below, "28"},    {"iso3098.lff", U"6", 3.5, 90, Below, "6"},
        {"futural.jhf", U"R5", 3.5, -45, Below, "R5"},    {"standard.lff", U"2", 3.5, 0, Below, "2"},
        {"iso3098.lff", U"6", 3.5, 90, Above, ""},        {"standard.lff", U"28", 2.5, 13, None, ""},
        {"iso3098.lff", U"9", 3.5, 270, Below, ""}, // reads from the left: a 6 upside down
    };
    for (const Value& v : values) {
        const StrokeFont& f = *font(v.file);
        const double a = v.degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a), h = v.height;
        double width = 0;
        for (char32_t ch : v.text)
            width += f.glyphs.at(ch).advance * h;
        // A segment in the value's frame (along, up; mm from its start at 150, 100), in points.
        auto segment = [&](double s0, double t0, double s1, double t1) {
            std::ostringstream out;
            for (auto [u, w, op] : {std::tuple{s0, t0, " m "}, std::tuple{s1, t1, " l S\n"}})
                out << (150 + u * c - w * s) * kPtPerMm << ' ' << (100 + u * s + w * c) * kPtPerMm << op;
            return out.str();
        };
        std::string content = stroked(f, v.text, 150, 100, h, v.degrees);
        if (v.rule != None) {
            const double t = v.rule == Below ? -0.25 * h : 1.25 * h;
            content += segment(-2 * h, t, width + 2 * h, t) + segment(-0.3 * h, t - h, -0.3 * h, t + 1.5 * h) +
                       segment(width + 0.3 * h, t - h, width + 0.3 * h, t + 1.5 * h); // the dimension line and its extension lines
            for (double u : {-2 * h, width + 1.2 * h}) // arrowheads, drawn as lines
                content += segment(u, t - 0.15 * h, u + 0.8 * h, t) + segment(u, t + 0.15 * h, u + 0.8 * h, t);
        }
        content += "1 0 0 RG\n"; // a centre line through the value, dash by dash
        for (double t = -2 * h; t < 2 * h; t += 0.6 * h)
            content += segment(width / 2, t, width / 2, t + 0.4 * h);
        const Page page = recover(content);
        const auto texts = textsOn(page.drawing, true);
        ASSERT_EQ(texts.size(), *v.want ? 1u : 0u) << v.file << " at " << v.degrees << "°";
        if (texts.empty())
            continue;
        const Text& t = std::get<Text>(texts[0]->geometry);
        EXPECT_EQ(t.utf8, v.want);
        EXPECT_LE(std::hypot(t.insertion.x - 150, t.insertion.y - 100), std::max(1.0, 0.3 * h));
        EXPECT_LE(std::abs(std::remainder(t.rotationDeg - v.degrees, 360.0)), 3);
        EXPECT_NEAR(t.height, h, 0.2 * h);
    }
}

// Numbers no page has: an arc turning a million times, strokes a world away or not finite.
TEST(StrokedText, PiecesOfExtremeNumbersStayFewOrAreLeftOut)
{
    Drawing d;
    d.entities.push_back({{}, Arc{{0, 0}, 1, 0, 3.6e8}});
    d.entities.push_back({{}, Arc{{0, 0}, 1, 0, std::nan("")}});
    d.entities.push_back({{}, Line{{5e299, 0}, {5e299, 1}}});
    d.entities.push_back({{}, Line{{std::nan(""), 0}, {std::nan(""), 1}}});
    const std::vector<Piece> pieces = collectPieces(d, 100);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_LE(pieces[0].points.size(), 40u);
}

// Strokes replaced in place: each text where its index was, before the entity kept there; past the end at the end.
TEST(StrokedText, TextsTakeTheStrokesPlaces)
{
    struct Case {
        std::vector<std::size_t> used, at; // strokes replaced; where the texts go
        const char* order;                 // what is left: strokes by number, texts by letter
    };
    for (const Case& c : std::vector<Case>{{{1, 3}, {1, 3}, "0a2b4"}, {{0, 1, 2, 3, 4}, {9, 0}, "ba"},
                                           {{4}, {2, 2}, "01ab23"}, {{0, 4}, {4, 5, 0}, "c123ab"}}) {
        auto named = [](std::string name, Geometry g) {
            Entity e{{}, std::move(g)};
            e.style.layer = std::move(name);
            return e;
        };
        Drawing d;
        std::vector<Piece> pieces(5);
        for (std::size_t i = 0; i < 5; ++i) {
            d.entities.push_back(named(std::to_string(i), Line{}));
            pieces[i].entity = i;
            pieces[i].used = std::count(c.used.begin(), c.used.end(), i) > 0;
        }
        std::vector<std::pair<std::size_t, Entity>> texts;
        for (std::size_t k = 0; k < c.at.size(); ++k)
            texts.push_back({c.at[k], named(std::string(1, char('a' + k)), Text{})});
        EXPECT_EQ(replaceUsedEntities(d, pieces, texts), int(c.used.size()));
        std::string order;
        for (const auto& e : d.entities)
            order += e.style.layer;
        EXPECT_EQ(order, c.order);
    }
}

TEST(StrokedText, InvisibleTwinsOverStrokesBecomeTheText)
{
    if (!font("futural.jhf"))
        GTEST_SKIP() << "hershey-fonts-data is not installed";
    // Helvetica behind the strokes, as schematic plotters put it (cap height 0.718 em), in a label's frame of the
    // strokes' colour; and a twin over nothing.
    auto pt = [](double mm) { return std::to_string(mm * kPtPerMm) + " "; };
    const std::string content = stroked(*font("futural.jhf"), U"R12 10k", 50, 50, 2.5, 0) + pt(49) + pt(49) + "m " +
                                pt(63.5) + pt(49) + "l " + pt(63.5) + pt(53.3) + "l " + pt(49) + pt(53.3) + "l h S " +
                                "BT 3 Tr /F1 " + std::to_string(2.5 * kPtPerMm / 0.718) + " Tf " +
                                std::to_string(50 * kPtPerMm) + " " + std::to_string(50 * kPtPerMm) +
                                " Td (R12 10k) Tj 1 0 0 1 400 400 Tm (search only) Tj ET";
    const Page page = recover(content);
    const auto visible = textsOn(page.drawing, true), hidden = textsOn(page.drawing, false);
    ASSERT_EQ(visible.size(), 1u);
    EXPECT_EQ(std::get<Text>(visible[0]->geometry).utf8, "R12 10k");
    EXPECT_EQ(visible[0]->style.color, (Rgb{0, 0, 255}));
    EXPECT_NEAR(std::get<Text>(visible[0]->geometry).height, 2.5, 0.3);
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(std::get<Text>(hidden[0]->geometry).utf8, "search only");
    EXPECT_EQ(page.recovery.textsRecovered, 1);
    EXPECT_EQ(page.drawing.entities.size(), 3u) << "every stroke under the twin replaced, the frame kept";
}

// A font the engine is not given, plotted segment by segment as schematic editors plot theirs, on a page of part
// labels: the page's own glyphs, read by OCR, give its lines back, and no line a wrong string.
TEST(StrokedText, LinesInAFontOnlyThePageKnows)
{
    LineReader ocr; // ended before Tesseract's own objects are at exit
    if (!font("futural.jhf") || !ocr.ready())
        GTEST_SKIP() << "hershey-fonts-data or Tesseract with its English model is not installed";
    const char* parts[] = {"R", "C", "U", "L", "D", "TP", "J", "Q"};
    const char* values[] = {"10K", "4.7UF", "100NF", "GND", "VCC", "3V3", "SDA", "SCL", "22R", "BAT54"};
    std::string content;
    std::vector<Placed> lines;
    // As many strokes as a large schematic has: OCR reads as much as the page's strokes allow.
    for (int row = 0; row < 110; ++row)
        for (int column = 0; column < 15; ++column) {
            const int n = row * 15 + column;
            const std::string text = std::string(parts[n % 8]) + std::to_string(n % 37 + 1) + " " + values[n % 10];
            const double x = 10 + 38 * column, y = 10 + 3.6 * row;
            content += stroked(*font("futural.jhf"), std::u32string(text.begin(), text.end()), x, y, 1.8, 0, true);
            lines.push_back({x, y, text});
        }
    // The stroke fonts but those of this family judge lookalikes; the engine does not read the page with them.
    std::vector<StrokeFont> others;
    for (const auto& f : fonts())
        if (f.name != "futural" && f.name != "rowmans" && f.name != "simplex" && f.name != "romans")
            others.push_back(f);
    const Page page = recover(content, others, &ocr);
    const int right = placedTexts(page.drawing, lines, 1.8, 0.2);
    std::cout << "page's own font: " << right << " of " << lines.size() << " lines recovered\n";
    EXPECT_GE(right, int(lines.size()) / 4);
}

// Text a printer driver drew as filled glyph outlines, beside fills that are no text (pads, vias, arrows, a logo,
// in rows as text stands): the page's own glyphs give the lines back in the fills' colour, and no other text.
TEST(StrokedText, FilledGlyphOutlinesBesideFilledShapes)
{
    LineReader ocr;
    if (!ocr.ready())
        GTEST_SKIP() << "Tesseract with its English model is not installed";
    const char* parts[] = {"R", "C", "U", "L", "D", "TP", "J", "Q"};
    const char* values[] = {"10k", "4.7uF", "100nF", "GND", "VCC", "3V3", "SDA", "SCL", "22R", "BAT54", "Input", "(ADC)"};
    std::string content = "0 0.5 0 rg\n";
    std::vector<Placed> lines;
    const double size = 2.5 / 0.714 * kPtPerMm; // a cap height of 2.5 mm
    for (int row = 0; row < 50; ++row)
        for (int column = 0; column < 5; ++column) {
            const int n = row * 5 + column;
            const std::string text = std::string(parts[n % 8]) + std::to_string(n % 37 + 1) + " " + values[n % 12];
            const double x = 10 + 60 * column, y = 10 + 5 * row;
            const std::string glyphs = testing::outlinedText(std::u32string(text.begin(), text.end()), x * kPtPerMm, y * kPtPerMm, size);
            // Most lines cut in two bands at varying heights, as printer drivers cut glyphs into pieces.
            const std::string cut = std::to_string(x * kPtPerMm - 5) + " " + std::to_string(y * kPtPerMm + 1.5 * (n % 5)) + " 200 ";
            content += n % 5 == 0 ? glyphs : "q " + cut + "-9 re W n " + glyphs + "Q q " + cut + "12 re W n " + glyphs + "Q\n";
            lines.push_back({x, y, text});
        }
    std::ostringstream shapes; // from x = 1000 pt on
    for (int row = 0; row < 8; ++row)
        for (int i = 0; i < 12; ++i) {
            const double x = 1000 + 12 * i, y = 40 + 40 * row;
            shapes << x << ' ' << y << " 5 " << 3 + row % 3 * 2 << " re f " << x << ' ' << y + 12 << " m " << x + 8 << ' '
                   << y + 15 << " l " << x << ' ' << y + 18 << " l f " << x << ' ' << y + 24 << " 8 8 re " << x + 3 << ' '
                   << y + 27 << " 2 2 re f*\n"; // a pad, an arrow, a via
        }
    shapes << "1200 400 m 1215 440 l 1230 400 l 1190 425 l 1240 425 l h f 1250 400 m 1270 400 1270 430 1250 430 c h f\n";
    const Page page = recover(content + shapes.str(), fonts(), &ocr);
    const int right = placedTexts(page.drawing, lines, 2.5, 0.5);
    for (const Entity* e : textsOn(page.drawing, true))
        EXPECT_EQ(e->style.color, (Rgb{0, 128, 0}));
    std::cout << "filled outlines: " << right << " of " << lines.size() << " lines recovered\n";
    EXPECT_GE(right, int(lines.size()) / 2);
}

} // namespace
} // namespace unplot::engine::strokes
