// Geometry is cut exactly where the PDF clips it: at rectangles, polygons and regions inside regions.

#include "shapes.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>

namespace unplot::engine {
namespace {

using testing::all;
using testing::at;
using testing::converted;
using testing::mm;

void expectLine(const Line& l, Vec2 a, Vec2 b)
{
    const bool flipped = std::abs(l.a.x - mm(b.x)) + std::abs(l.a.y - mm(b.y)) < 0.01;
    const Vec2 from = flipped ? l.b : l.a, to = flipped ? l.a : l.b;
    EXPECT_NEAR(from.x, mm(a.x), 0.001);
    EXPECT_NEAR(from.y, mm(a.y), 0.001);
    EXPECT_NEAR(to.x, mm(b.x), 0.001);
    EXPECT_NEAR(to.y, mm(b.y), 0.001);
}

TEST(Clipping, CutsAtARectangle)
{
    const Drawing d = converted("q 100 100 300 200 re W n "
                                "50 150 m 250 150 l S "            // a line running in from the left
                                "150 250 m 200 350 l 250 250 l S " // a polyline out over the top and back
                                    + testing::bezierArc({400, 200}, 50, 0, 360) +
                                    "S "                    // a circle half outside
                                    "350 250 100 100 re f " // a fill over the corner
                                    "BT /F1 12 Tf 20 20 Td (out) Tj 1 0 0 1 150 150 Tm (in) Tj ET "
                                    "Q 0 0 m 10 0 l S", // not clipped
                                {"cleanup", "join"});
    const auto lines = all<Line>(d);
    ASSERT_EQ(lines.size(), 4u);
    expectLine(lines[0], {100, 150}, {250, 150});
    expectLine(lines[1], {150, 250}, {175, 300});
    expectLine(lines[2], {225, 300}, {250, 250});
    expectLine(lines[3], {0, 0}, {10, 0});
    const auto arcs = all<Arc>(d);
    ASSERT_EQ(arcs.size(), 1u);
    EXPECT_NEAR(arcs[0].startAngleDeg, 90, 1e-6);
    EXPECT_NEAR(arcs[0].endAngleDeg, 270, 1e-6);
    const auto hatches = all<Hatch>(d);
    ASSERT_EQ(hatches.size(), 1u);
    const Extents e = extentsOf(hatches[0]);
    EXPECT_NEAR(e.min.x, mm(350), 0.001);
    EXPECT_NEAR(e.max.x, mm(400), 0.001);
    EXPECT_NEAR(e.max.y, mm(300), 0.001);
    const auto texts = all<Text>(d);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].utf8, "in");
}

TEST(Clipping, CutsAtPolygonsAndNestedRegions)
{
    const Drawing d = converted("q 100 100 m 300 100 l 200 300 l h W n 50 150 m 350 150 l S Q "
                                "q 0 400 300 100 re W n 200 350 300 200 re W n 0 450 m 600 450 l S Q "
                                "q 100 600 m 300 600 l 200 800 l h W* n " +
                                    testing::bezierArc({200, 650}, 60, 0, 360) + "S Q",
                                {"cleanup", "join"});
    const auto lines = all<Line>(d);
    ASSERT_EQ(lines.size(), 2u);
    expectLine(lines[0], {125, 150}, {275, 150});
    expectLine(lines[1], {200, 450}, {300, 450});
    const auto arcs = all<Arc>(d); // the circle cut by the triangle's base
    ASSERT_EQ(arcs.size(), 1u);
    const double below = std::asin(50.0 / 60) * 180 / M_PI;
    EXPECT_NEAR(arcs[0].startAngleDeg, 270 + (90 - below), 1e-6);
    EXPECT_NEAR(arcs[0].endAngleDeg, 270 - (90 - below), 1e-6);
}

} // namespace
} // namespace unplot::engine
