// The circle recogniser on its own: what counts as a circle.

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

} // namespace
} // namespace unplot::engine
