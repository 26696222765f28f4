// Clean-up and joining: duplicates and lines lying on others go, touching paths of one look become one polyline,
// a fill keeps its one outline.

#include "joins.h"
#include "shapes.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>

namespace unplot::engine {
namespace {

using testing::all;
using testing::converted;
using testing::mm;

TEST(Joins, DuplicatesOverlapsAndNothingsGo)
{
    // The same line three times (once reversed), a line on a longer one, two overlapping ones, a different colour.
    const Drawing d = converted("10 10 m 200 10 l S 200 10 m 10 10 l S 10 10 m 200 10 l S 50 10 m 100 10 l S "
                                "10 40 m 100 40 l S 80 40 m 150 40 l S 1 0 0 RG 10 40 m 100 40 l S",
                                {"join"});
    const auto lines = all<Line>(d);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NEAR(std::abs(lines[0].b.x - lines[0].a.x), mm(190), 1e-6);
    EXPECT_NEAR(std::abs(lines[1].b.x - lines[1].a.x), mm(140), 1e-6); // one line over both
    EXPECT_EQ(d.entities[2].style.color, (Rgb{255, 0, 0}));
    // What the PDF cannot give: a line of no length, a polyline of one point.
    Drawing nothing;
    nothing.entities = {{Style{}, Line{{1, 1}, {1, 1}}}, {Style{}, Polyline{{{2, 2}, {2, 2}}, true}}};
    passes::cleanUp(nothing);
    EXPECT_TRUE(nothing.entities.empty());
}

TEST(Joins, TouchingPathsBecomeOnePolyline)
{
    const Drawing d = converted(
        // A rounded corner: line, Bézier quarter circle, line, drawn as three paths.
        "10 10 m 100 10 l S " + testing::bezierArc({100, 20}, 10, -90, 0) +
        "S 110 20 m 110 100 l S "
        // A square of four lines, one of them drawn backwards; a T: the straight pair joins, the stem stays.
        "200 10 m 300 10 l S 300 10 m 300 110 l S 200 110 m 300 110 l S 200 110 m 200 10 l S "
        "400 10 m 450 10 l S 450 10 m 500 10 l S 450 10 m 450 60 l S "
        // A fill with its outline stroked twice: one hatch, one outline.
        "10 300 100 50 re f 10 300 100 50 re S 10 300 100 50 re S");
    const auto polylines = all<Polyline>(d);
    ASSERT_EQ(polylines.size(), 3u);
    const Polyline& corner = polylines[0];
    ASSERT_EQ(corner.points.size(), 4u);
    EXPECT_FALSE(corner.closed);
    ASSERT_EQ(corner.bulges.size(), 4u);
    EXPECT_NEAR(corner.bulges[1], std::tan(M_PI / 8), 1e-6);
    EXPECT_NEAR(corner.points[2].x, mm(110), 1e-6);
    EXPECT_TRUE(polylines[1].closed);
    EXPECT_EQ(polylines[1].points.size(), 4u);
    EXPECT_TRUE(polylines[2].closed); // the fill's outline
    EXPECT_EQ(all<Hatch>(d).size(), 1u);
    const auto lines = all<Line>(d);
    ASSERT_EQ(lines.size(), 2u); // the T's bar, merged as one line, and its stem
    EXPECT_NEAR(std::abs(lines[0].b.x - lines[0].a.x), mm(100), 1e-6);
}

} // namespace
} // namespace unplot::engine
