// Stroked and filled paths of generated PDFs, compared entity by entity within 0.001 mm.

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>

namespace unplot::engine {
namespace {

using testing::makePdf;
using testing::mm;
using testing::TempDir;
using testing::TestPage;

constexpr double kTolerance = 0.001;

Drawing convert(TestPage page, const std::vector<testing::TestLayer>& layers = {})
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({page}, layers)).string());
    return reader.readPage(1);
}

Drawing convert(const std::string& content)
{
    return convert(TestPage{content});
}

void expectPoint(Vec2 actual, double xPt, double yPt)
{
    EXPECT_NEAR(actual.x, mm(xPt), kTolerance);
    EXPECT_NEAR(actual.y, mm(yPt), kTolerance);
}

template <typename T> T only(const Drawing& d)
{
    EXPECT_EQ(d.entities.size(), 1u);
    if (d.entities.empty() || !std::holds_alternative<T>(d.entities[0].geometry)) {
        ADD_FAILURE() << "not the expected entity type";
        return T{};
    }
    return std::get<T>(d.entities[0].geometry);
}

// A circle as writers draw it: four Béziers with the usual 0.5523 control distance.
std::string bezierCircle(double cx, double cy, double r, double ry = -1)
{
    if (ry < 0)
        ry = r;
    const double k = 0.5523;
    auto p = [](double x, double y) { return std::to_string(x) + " " + std::to_string(y) + " "; };
    return p(cx + r, cy) + "m " + p(cx + r, cy + k * ry) + p(cx + k * r, cy + ry) + p(cx, cy + ry) + "c " +
           p(cx - k * r, cy + ry) + p(cx - r, cy + k * ry) + p(cx - r, cy) + "c " + p(cx - r, cy - k * ry) +
           p(cx - k * r, cy - ry) + p(cx, cy - ry) + "c " + p(cx + k * r, cy - ry) + p(cx + r, cy - k * ry) +
           p(cx + r, cy) + "c h ";
}

TEST(PdfStroke, ALoneSegmentIsALineWithColourAndWidth)
{
    const Drawing d = convert("1 0 0 RG 2 w 10 20 m 110 20 l S");
    const Line line = only<Line>(d);
    expectPoint(line.a, 10, 20);
    expectPoint(line.b, 110, 20);
    EXPECT_EQ(d.entities[0].style.color, (Rgb{255, 0, 0}));
    EXPECT_NEAR(d.entities[0].style.lineWidthMm, mm(2), kTolerance);
    EXPECT_EQ(d.entities[0].style.layer, "0");
    EXPECT_NEAR(d.widthMm, mm(595), kTolerance);
    EXPECT_NEAR(d.heightMm, mm(842), kTolerance);
}

struct PolylineRow {
    const char* name;
    const char* content;
    std::vector<std::pair<double, double>> points;
    bool closed;
};
void PrintTo(const PolylineRow& row, std::ostream* os)
{
    *os << row.name;
}

class PdfPolyline : public ::testing::TestWithParam<PolylineRow> {};

TEST_P(PdfPolyline, Converts)
{
    const auto& row = GetParam();
    const Polyline poly = only<Polyline>(convert(row.content));
    EXPECT_EQ(poly.closed, row.closed);
    ASSERT_EQ(poly.points.size(), row.points.size());
    for (std::size_t i = 0; i < row.points.size(); ++i)
        expectPoint(poly.points[i], row.points[i].first, row.points[i].second);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PdfPolyline,
    ::testing::Values(PolylineRow{"open", "10 20 m 50 20 l 50 60 l S", {{10, 20}, {50, 20}, {50, 60}}, false},
                      PolylineRow{"closepath", "10 20 m 50 20 l 50 60 l h S", {{10, 20}, {50, 20}, {50, 60}}, true},
                      PolylineRow{"closepath after returning to the start",
                                  "10 20 m 50 20 l 50 60 l 10 20 l h S",
                                  {{10, 20}, {50, 20}, {50, 60}},
                                  true},
                      PolylineRow{"returning without closepath stays open",
                                  "10 20 m 50 20 l 50 60 l 10 20 l S",
                                  {{10, 20}, {50, 20}, {50, 60}, {10, 20}},
                                  false},
                      PolylineRow{
                          "rectangle operator", "10 20 100 50 re S", {{10, 20}, {110, 20}, {110, 70}, {10, 70}}, true},
                      PolylineRow{"repeated points dropped",
                                  "10 20 m 50 20 l 50 20 l 50 60 l 50 60 l S",
                                  {{10, 20}, {50, 20}, {50, 60}},
                                  false}),
    [](const auto& p) {
        std::string name = p.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST(PdfStroke, ZeroLengthSubpathsGiveNothing)
{
    EXPECT_TRUE(convert("10 10 m 10 10 l S 30 30 m S 50 50 m 50 50 50 50 50 50 c S").entities.empty());
    const Line line = only<Line>(convert("10 10 m 10 10 l 40 10 l 40 10 l S"));
    expectPoint(line.a, 10, 10);
    expectPoint(line.b, 40, 10);
}

TEST(PdfStroke, RoundCappedDotsBecomeFilledDiscs)
{
    const Drawing d = convert("0 0 1 RG 1 J 4 w 30 40 m 30 40 l S 60 40 m h S 90 40 m S 0 J 120 40 m 120 40 l S");
    ASSERT_EQ(d.entities.size(), 2u); // a lone moveto draws nothing, nor does a dot with butt caps
    for (const auto& e : d.entities) {
        const Hatch& h = std::get<Hatch>(e.geometry);
        EXPECT_EQ(e.style.color, (Rgb{0, 0, 255}));
        EXPECT_EQ(e.style.lineWidthMm, 0);
        ASSERT_EQ(h.loops.size(), 1u);
        ASSERT_EQ(h.loops[0].segments.size(), 4u);
        EXPECT_NEAR(h.loops[0].segments[0].end.x - h.loops[0].start.x, -mm(2), kTolerance); // radius: half the width
        EXPECT_NEAR(h.loops[0].segments[1].end.x - h.loops[0].start.x, -mm(4), kTolerance);
    }
    expectPoint(std::get<Hatch>(d.entities[0].geometry).loops[0].start, 32, 40);
    expectPoint(std::get<Hatch>(d.entities[1].geometry).loops[0].start, 62, 40);
}

TEST(PdfStroke, ConsecutiveCurvesJoinIntoOneSpline)
{
    const BezierSpline s = only<BezierSpline>(convert("10 10 m 20 40 40 40 50 10 c 60 -20 80 -20 90 10 c S"));
    const double expected[][2] = {{10, 10}, {20, 40}, {40, 40}, {50, 10}, {60, -20}, {80, -20}, {90, 10}};
    ASSERT_EQ(s.points.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i)
        expectPoint(s.points[i], expected[i][0], expected[i][1]);
    EXPECT_FALSE(s.closed);
}

TEST(PdfStroke, QuadraticShorthandsArriveAsExactCubics)
{
    // "v" repeats the current point as the first control point, "y" the end point as the second.
    const BezierSpline s = only<BezierSpline>(convert("10 10 m 30 40 50 10 v 70 -20 90 10 y S"));
    const double expected[][2] = {{10, 10}, {10, 10}, {30, 40}, {50, 10}, {70, -20}, {90, 10}, {90, 10}};
    ASSERT_EQ(s.points.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i)
        expectPoint(s.points[i], expected[i][0], expected[i][1]);
}

TEST(PdfStroke, ASubpathOfLinesAndCurvesSplitsIntoPieces)
{
    const Drawing d = convert("10 10 m 50 10 l 60 30 70 30 80 10 c 120 10 l 130 10 l S");
    ASSERT_EQ(d.entities.size(), 3u);
    const Line& first = std::get<Line>(d.entities[0].geometry);
    expectPoint(first.a, 10, 10);
    expectPoint(first.b, 50, 10);
    const BezierSpline& curve = std::get<BezierSpline>(d.entities[1].geometry);
    ASSERT_EQ(curve.points.size(), 4u);
    expectPoint(curve.points[0], 50, 10);
    expectPoint(curve.points[3], 80, 10);
    const Polyline& last = std::get<Polyline>(d.entities[2].geometry);
    ASSERT_EQ(last.points.size(), 3u);
    expectPoint(last.points[0], 80, 10);
    expectPoint(last.points[2], 130, 10);
}

TEST(PdfStroke, BezierCirclesBecomeCircles)
{
    const Circle c = only<Circle>(convert(bezierCircle(200, 300, 50) + "S"));
    expectPoint(c.center, 200, 300);
    EXPECT_NEAR(c.radius, mm(50), kTolerance);

    // Drawn in a scaled, moved coordinate system.
    const Circle scaled = only<Circle>(convert("q 2 0 0 2 100 100 cm " + bezierCircle(10, 20, 5) + "S Q"));
    expectPoint(scaled.center, 120, 140);
    EXPECT_NEAR(scaled.radius, mm(10), kTolerance);
}

TEST(PdfStroke, BezierArcsExactWithinAThousandthBecomeArcs)
{
    // A quarter circle of radius 5 pt in one piece: within 0.0005 mm of the true arc.
    const Arc arc = only<Arc>(convert("105 100 m 105 102.7614 102.7614 105 100 105 c S"));
    expectPoint(arc.center, 100, 100);
    EXPECT_NEAR(arc.radius, mm(5), kTolerance);
    EXPECT_NEAR(arc.startAngleDeg, 0, 0.01);
    EXPECT_NEAR(arc.endAngleDeg, 90, 0.01);
    // Radius 50 pt in one piece strays by 0.005 mm: it stays the exact spline.
    EXPECT_EQ(only<BezierSpline>(convert("150 100 m 150 127.614 127.614 150 100 150 c S")).points.size(), 4u);
}

TEST(PdfStroke, NearCirclesStayExactSplines)
{
    const BezierSpline ellipse = only<BezierSpline>(convert(bezierCircle(200, 300, 50, 30) + "S"));
    EXPECT_EQ(ellipse.points.size(), 13u);
    EXPECT_TRUE(ellipse.closed);
}

TEST(PdfFill, EveryFilledSubpathIsALoopWithItsFillRule)
{
    for (const bool evenOdd : {true, false}) {
        SCOPED_TRACE(evenOdd ? "even-odd" : "non-zero");
        const Drawing d =
            convert(std::string("0 0 1 rg 100 100 200 200 re 150 150 100 100 re ") + (evenOdd ? "f*" : "f"));
        const Hatch& hatch = only<Hatch>(d);
        EXPECT_EQ(hatch.evenOdd, evenOdd);
        EXPECT_EQ(d.entities[0].style.color, (Rgb{0, 0, 255}));
        EXPECT_EQ(d.entities[0].style.lineWidthMm, 0);
        ASSERT_EQ(hatch.loops.size(), 2u);
        expectPoint(hatch.loops[1].start, 150, 150);
        ASSERT_EQ(hatch.loops[1].segments.size(), 3u); // the closing side is implied
        expectPoint(hatch.loops[1].segments[0].end, 250, 150);
        expectPoint(hatch.loops[1].segments[1].end, 250, 250);
        expectPoint(hatch.loops[1].segments[2].end, 150, 250);
    }
}

TEST(PdfFill, CurvedLoopsAndFillWithStroke)
{
    const Drawing d = convert("1 0 0 rg 0 1 0 RG " + bezierCircle(100, 100, 20) + "B");
    ASSERT_EQ(d.entities.size(), 2u);
    const Hatch& hatch = std::get<Hatch>(d.entities[0].geometry);
    ASSERT_EQ(hatch.loops.size(), 1u);
    ASSERT_EQ(hatch.loops[0].segments.size(), 4u);
    EXPECT_EQ(hatch.loops[0].segments[0].kind, PathSegment::Kind::Cubic);
    expectPoint(hatch.loops[0].segments[0].c1, 120, 100 + 0.5523 * 20);
    expectPoint(hatch.loops[0].segments[0].end, 100, 120);
    EXPECT_EQ(d.entities[0].style.color, (Rgb{255, 0, 0}));
    EXPECT_TRUE(std::holds_alternative<Circle>(d.entities[1].geometry));
    EXPECT_EQ(d.entities[1].style.color, (Rgb{0, 255, 0}));
}

TEST(PdfFill, AreaLessSubpathsAreNotLoops)
{
    EXPECT_TRUE(convert("10 10 m 50 10 l f 60 60 m f").entities.empty());
}

TEST(PdfStroke, CoordinatesBeyondRangeNeverReachTheDrawing)
{
    // Skipped by MuPDF already or by us (with a warning then): either way no infinite coordinate is written.
    const std::string huge = "100000000000000000000000000000000000000000000";
    const Drawing d = convert("q " + huge + " 0 0 " + huge + " 0 0 cm " + huge + " 0 0 " + huge +
                              " 0 0 cm 10 10 m 20 10 l S 0 0 10 10 re f Q 10 10 m 20 10 l S");
    ASSERT_EQ(d.entities.size(), 1u);
    const Line line = std::get<Line>(d.entities[0].geometry);
    expectPoint(line.a, 10, 10);
    expectPoint(line.b, 20, 10);
}

TEST(PdfStyle, ColoursAndWidths)
{
    EXPECT_EQ(convert("0.5 G 10 10 m 20 10 l S").entities.at(0).style.color, (Rgb{128, 128, 128}));
    const Rgb cyan = convert("1 0 0 0 K 10 10 m 20 10 l S").entities.at(0).style.color;
    EXPECT_LT(cyan.r, 60);
    EXPECT_GT(cyan.b, 180);
    const Drawing scaled = convert("2 0 0 2 0 0 cm 0.5 w 10 10 m 20 10 l S");
    EXPECT_NEAR(scaled.entities.at(0).style.lineWidthMm, mm(1), kTolerance);
    expectPoint(std::get<Line>(scaled.entities.at(0).geometry).a, 20, 20);
    EXPECT_EQ(convert("0 w 10 10 m 20 10 l S").entities.at(0).style.lineWidthMm, 0);
}

struct PageRow {
    const char* name;
    TestPage page;
    double widthPt, heightPt;
    double ax, ay, bx, by; // where the line from (150, 250) to (190, 250) is shown
};
void PrintTo(const PageRow& row, std::ostream* os)
{
    *os << row.name;
}

class PdfPageGeometry : public ::testing::TestWithParam<PageRow> {};

TEST_P(PdfPageGeometry, OriginAtTheLowerLeftOfThePageAsShown)
{
    const auto& row = GetParam();
    TestPage page = row.page;
    page.content = "150 250 m 190 250 l S";
    const Drawing d = convert(page);
    EXPECT_NEAR(d.widthMm, mm(row.widthPt), kTolerance);
    EXPECT_NEAR(d.heightMm, mm(row.heightPt), kTolerance);
    const Line line = only<Line>(d);
    expectPoint(line.a, row.ax, row.ay);
    expectPoint(line.b, row.bx, row.by);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PdfPageGeometry,
    ::testing::Values(PageRow{"plain", {"", 600, 800}, 600, 800, 150, 250, 190, 250},
                      // Turned a quarter clockwise: x' = y, y' = width - x.
                      PageRow{"rotate90", {"", 600, 800, {}, 90}, 800, 600, 250, 450, 250, 410},
                      PageRow{"rotate180", {"", 600, 800, {}, 180}, 600, 800, 450, 550, 410, 550},
                      PageRow{"rotate270", {"", 600, 800, {}, 270}, 800, 600, 550, 150, 550, 190},
                      PageRow{"cropbox", {"", 600, 800, {100, 200, 400, 600}}, 300, 400, 50, 50, 90, 50},
                      PageRow{
                          "cropbox_rotate90", {"", 600, 800, {100, 200, 400, 600}, 90}, 400, 300, 50, 250, 50, 210}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace unplot::engine
