// Curves a plot flattened or wrote as Bézier arcs come back as circles, arcs and ellipses; polygons and freeform
// curves stay as they are. Recovered shapes are checked within 0.001 mm of the drawn ones.

#include "shapes.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>

namespace unplot::engine {
namespace {

using testing::all;
using testing::at;
using testing::converted;
using testing::flattened;
using testing::mm;

constexpr double kTolerance = 0.001;

void expectCircle(const Circle& c, Vec2 centerPt, double radiusPt)
{
    EXPECT_NEAR(c.center.x, mm(centerPt.x), kTolerance);
    EXPECT_NEAR(c.center.y, mm(centerPt.y), kTolerance);
    EXPECT_NEAR(c.radius, mm(radiusPt), kTolerance);
}

// The circle among `circles` nearest to a centre.
Circle nearest(const std::vector<Circle>& circles, Vec2 centerPt)
{
    Circle best{};
    double gap = 1e9;
    for (const Circle& c : circles)
        if (double g = std::hypot(c.center.x - mm(centerPt.x), c.center.y - mm(centerPt.y)); g < gap)
            gap = g, best = c;
    return best;
}

struct Round {
    double diameterMm, turnDeg;
};

// One page, one flattening rule for all: circles of every size are circles; polygons drawn beside them stay.
void expectPlot(const std::vector<Round>& circles, int (*segments)(double radiusPt), int polygonCorners,
                double polygonRadiusMm)
{
    std::string content;
    std::vector<Vec2> centers;
    double x = 10;
    for (const Round& r : circles) {
        const double radius = r.diameterMm / 2 * 72 / 25.4;
        centers.push_back({x + radius, 3000});
        content += flattened(centers.back(), radius, segments(radius), r.turnDeg, r.turnDeg + 360) + "S ";
        x += 2 * radius + 20;
    }
    for (int corners : {6, 8, polygonCorners})
        content += flattened({x += 100, 100}, polygonRadiusMm * 72 / 25.4, corners, 15, 375) + "S ";
    const Drawing d = converted(content, {}, 6000, 6000);
    const auto found = all<Circle>(d);
    ASSERT_EQ(found.size(), circles.size());
    for (std::size_t i = 0; i < circles.size(); ++i)
        expectCircle(nearest(found, centers[i]), centers[i], circles[i].diameterMm / 2 * 72 / 25.4);
    const auto polygons = all<Polyline>(d);
    ASSERT_EQ(polygons.size(), 3u);
    for (const Polyline& p : polygons)
        EXPECT_TRUE(p.bulges.empty() && p.closed);
}

TEST(Arcs, PlotFlattenedToATolerance)
{
    // 0.02 mm: from 8 chords a circle (0.5 mm across) to 497 (2 m across).
    expectPlot(
        {{0.5, 0}, {2, 10}, {10, 33}, {80, 45}, {600, 7}, {2000, 90}},
        [](double r) { return testing::segmentsFor(r, 360, 0.02 * 72 / 25.4); }, 24, 10);
}

TEST(Arcs, PlotFlatteningWithAFixedCount)
{
    // 72 chords a circle at any size: a 24-gon finer than the largest circle's chords is still a polygon.
    expectPlot(
        {{1, 0}, {20, 5}, {100, 3}, {300, 0}}, [](double) { return 72; }, 24, 2);
}

TEST(Arcs, FlattenedArcsAndPolylinesMixingLinesAndArcs)
{
    // An arc in steps of 3 degrees ending in a shorter chord; a slot: two lines and two flattened half circles.
    const std::string arc = flattened({200, 300}, 100, 73, 30, 249) +
                            at({200 + 100 * std::cos(250 * M_PI / 180), 300 + 100 * std::sin(250 * M_PI / 180)}) +
                            "l S ";
    const std::string slot = at({100, 600}) + "m " + at({200, 600}) + "l " +
                             flattened({200, 625}, 25, 36, -90, 90, false) + at({100, 650}) + "l " +
                             flattened({100, 625}, 25, 36, 90, 270, false) + "h S ";
    const Drawing d = converted(arc + slot + flattened({400, 100}, 50, 96) + "S ");
    const auto arcs = all<Arc>(d);
    ASSERT_EQ(arcs.size(), 1u);
    expectCircle({arcs[0].center, arcs[0].radius}, {200, 300}, 100);
    EXPECT_NEAR(arcs[0].startAngleDeg, 30, 1e-4);
    EXPECT_NEAR(arcs[0].endAngleDeg, 250, 1e-4);
    const auto polylines = all<Polyline>(d);
    ASSERT_EQ(polylines.size(), 1u);
    const Polyline& p = polylines[0];
    ASSERT_EQ(p.points.size(), 4u);
    EXPECT_TRUE(p.closed);
    ASSERT_EQ(p.bulges.size(), 4u);
    EXPECT_EQ(
        std::count_if(p.bulges.begin(), p.bulges.end(), [](double b) { return std::abs(std::abs(b) - 1) < 1e-6; }), 2);
}

TEST(Arcs, BezierArcsEllipsesAndWhatStays)
{
    using testing::bezierArc;
    const std::string content =
        // An S: two Bézier arcs on two circles; a Bézier circle as a half circle in one piece and two quarters.
        bezierArc({100, 100}, 40, 180, 0) + bezierArc({180, 100}, 40, 180, 360, false) + "S " +
        bezierArc({400, 100}, 30, 0, 180, true, 180) + bezierArc({400, 100}, 30, 180, 360, false) + "S " +
        // A Bézier circle squashed and turned into an ellipse; a flattened one.
        "q 0.866 0.5 -0.25 0.433 300 400 cm " + bezierArc({0, 0}, 60, 0, 360) + "S Q " + "q 1 0 0 0.4 100 600 cm " +
        flattened({0, 0}, 50, 144) + "S Q " +
        // A parabola finely flattened: bends smoothly, no arc.
        [] {
            std::string s = at({300, 700}) + "m ";
            for (int i = 1; i <= 60; ++i)
                s += at({300 + i * 2.0, 700 + i * i * 0.05}) + "l ";
            return s + "S ";
        }();
    const Drawing d = converted(content);
    const auto polylines = all<Polyline>(d);
    ASSERT_EQ(polylines.size(), 2u);
    EXPECT_EQ(polylines[0].bulges.size(), 3u); // the S: two arcs, one turning each way
    EXPECT_LT(polylines[0].bulges[0] * polylines[0].bulges[1], 0);
    EXPECT_TRUE(polylines[1].bulges.empty()); // the parabola
    ASSERT_EQ(all<Circle>(d).size(), 1u);
    expectCircle(all<Circle>(d)[0], {400, 100}, 30);
    const auto ellipses = all<Ellipse>(d);
    ASSERT_EQ(ellipses.size(), 2u);
    EXPECT_NEAR(ellipses[0].center.x, mm(300), kTolerance);
    EXPECT_NEAR(std::hypot(ellipses[0].majorAxis.x, ellipses[0].majorAxis.y), mm(60), kTolerance);
    EXPECT_NEAR(ellipses[0].ratio, 0.5, 1e-5);
    EXPECT_NEAR(std::atan2(ellipses[0].majorAxis.y, ellipses[0].majorAxis.x) * 180 / M_PI, 30, 1e-3);
    EXPECT_NEAR(ellipses[1].ratio, 0.4, 1e-4);
    EXPECT_NEAR(std::hypot(ellipses[1].majorAxis.x, ellipses[1].majorAxis.y), mm(50), kTolerance);
}

} // namespace
} // namespace unplot::engine
