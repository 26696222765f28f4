// The circle and arc recognisers on their own: what counts as a circle or an arc.

#include "shapefit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace unplot::engine {
namespace {

// A circle (or ellipse) as n Bézier arcs with control distance `kappa` scaled for the arc's angle.
std::vector<PathSegment> arcs(Vec2 c, double rx, double ry, int n, double kappaScale = 1, double turns = 1)
{
    std::vector<PathSegment> out;
    const double step = turns * 2 * std::numbers::pi / n;
    const double k = kappaScale * 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < n; ++i) {
        const double a0 = i * step, a1 = (i + 1) * step;
        const Vec2 p0{c.x + rx * std::cos(a0), c.y + ry * std::sin(a0)};
        const Vec2 p1{c.x + rx * std::cos(a1), c.y + ry * std::sin(a1)};
        out.push_back({PathSegment::Kind::Cubic,
                       {p0.x - k * rx * std::sin(a0), p0.y + k * ry * std::cos(a0)},
                       {p1.x + k * rx * std::sin(a1), p1.y - k * ry * std::cos(a1)},
                       p1});
    }
    return out;
}

TEST(FitCircle, AcceptsCirclesOfFourArcsOrMore)
{
    for (int n : {4, 8, 16}) {
        SCOPED_TRACE(n);
        const auto segments = arcs({10, 20}, 5, 5, n);
        const auto circle = fitCircle({15, 20}, segments);
        ASSERT_TRUE(circle);
        EXPECT_NEAR(circle->center.x, 10, 1e-6);
        EXPECT_NEAR(circle->center.y, 20, 1e-6);
        EXPECT_NEAR(circle->radius, 5, 1e-6);
    }
    // Writers round the control distance: 0.552 instead of 0.5523 still draws the circle within tolerance.
    EXPECT_TRUE(fitCircle({15, 20}, arcs({10, 20}, 5, 5, 4, 0.552 / 0.55228)));
}

TEST(FitCircle, RefusesWhatIsNotACircle)
{
    EXPECT_FALSE(fitCircle({15, 20}, arcs({10, 20}, 5, 4.9, 4)));     // an ellipse
    EXPECT_FALSE(fitCircle({15, 20}, arcs({10, 20}, 5, 5, 4, 0.8)));  // bulging control points
    EXPECT_FALSE(fitCircle({15, 20}, arcs({10, 20}, 5, 5, 8, 1, 2))); // twice around
    EXPECT_FALSE(fitCircle({15, 20}, arcs({10, 20}, 5, 5, 3)));       // three arcs stray too far from it
    auto withLine = arcs({10, 20}, 5, 5, 4);
    withLine[1].kind = PathSegment::Kind::Line;
    EXPECT_FALSE(fitCircle({15, 20}, withLine));
}

TEST(FitArc, AcceptsArcsWhosePiecesStayWithinAThousandthOfAMillimetre)
{
    // Eight 45-degree pieces of radius 20 stray by 0.0001 mm: a half circle from 0 to 180 degrees.
    const auto half = arcs({10, 20}, 20, 20, 8, 1, 0.5);
    const auto arc = fitArc({30, 20}, half.data(), half.data() + half.size());
    ASSERT_TRUE(arc);
    EXPECT_NEAR(arc->center.x, 10, 1e-6);
    EXPECT_NEAR(arc->center.y, 20, 1e-6);
    EXPECT_NEAR(arc->radius, 20, 1e-6);
    EXPECT_NEAR(arc->startAngleDeg, 0, 1e-6);
    EXPECT_NEAR(arc->endAngleDeg, 180, 1e-6);

    // The same run backwards: clockwise from 180 to 0 degrees is the counter-clockwise arc from 0 to 180.
    std::vector<PathSegment> back;
    for (std::size_t i = half.size(); i-- > 0;) {
        const Vec2 to = i > 0 ? half[i - 1].end : Vec2{30, 20};
        back.push_back({PathSegment::Kind::Cubic, half[i].c2, half[i].c1, to});
    }
    const auto reversed = fitArc(half.back().end, back.data(), back.data() + back.size());
    ASSERT_TRUE(reversed);
    EXPECT_NEAR(reversed->startAngleDeg, 0, 1e-6);
    EXPECT_NEAR(reversed->endAngleDeg, 180, 1e-6);
}

TEST(FitArc, KeepsSplinesThatAreNotExactArcs)
{
    // A quarter circle of radius 20 in one piece strays by 0.005 mm: not exact enough.
    const auto quarter = arcs({0, 0}, 20, 20, 4);
    EXPECT_FALSE(fitArc({20, 0}, quarter.data(), quarter.data() + 1));
    // The same in radius 2 strays by 0.0005 mm: an arc.
    const auto small = arcs({0, 0}, 2, 2, 4);
    EXPECT_TRUE(fitArc({2, 0}, small.data(), small.data() + 1));
    // An S-curve turns both ways.
    const std::vector<PathSegment> s = {{PathSegment::Kind::Cubic, {1, 1}, {2, -1}, {3, 0}}};
    EXPECT_FALSE(fitArc({0, 0}, s.data(), s.data() + 1));
}

} // namespace
} // namespace unplot::engine
