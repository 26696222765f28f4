// The circle and arc recognisers on their own: what counts as a circle or an arc.

#include "shapefit.h"
#include "testpdf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace unplot::engine {
namespace {

// An ellipse centred at (10, 20) as n Bézier pieces over `turns` turns from angle 0, their control distance scaled
// by `kappa` (1: the usual one for the pieces' angle); reversed, the same run backwards.
std::vector<PathSegment> arcs(double rx, double ry, int n, double kappa = 1, double turns = 1, bool reversed = false)
{
    std::vector<PathSegment> out;
    const double step = turns * 2 * std::numbers::pi / n * (reversed ? -1 : 1),
                 k = kappa * 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < n; ++i) {
        const double a0 = (reversed ? n - i : i) * std::abs(step), a1 = a0 + step;
        const Vec2 p1{10 + rx * std::cos(a1), 20 + ry * std::sin(a1)};
        out.push_back({PathSegment::Kind::Cubic,
                       {10 + rx * (std::cos(a0) - k * std::sin(a0)), 20 + ry * (std::sin(a0) + k * std::cos(a0))},
                       {p1.x + k * rx * std::sin(a1), p1.y - k * ry * std::cos(a1)},
                       p1});
    }
    return out;
}

// What the recognisers make of the run: "circle X,Y R", "arc X,Y R FROM>TO" or "none".
std::string fit(Vec2 start, const std::vector<PathSegment>& run, bool whole)
{
    char text[96] = "none";
    if (auto c = whole ? fitCircle(start, run) : std::nullopt)
        std::snprintf(text, sizeof text, "circle %.4f,%.4f %.4f", c->center.x, c->center.y, c->radius);
    if (auto a = whole ? std::nullopt : fitArc(start, run.data(), run.data() + run.size()))
        std::snprintf(text, sizeof text, "arc %.4f,%.4f %.4f %.4f>%.4f", a->center.x, a->center.y, a->radius,
                      a->startAngleDeg, a->endAngleDeg);
    return text;
}

TEST(ShapeFit, CirclesAndArcs)
{
    auto withLine = arcs(5, 5, 4);
    withLine[1].kind = PathSegment::Kind::Line;
    const auto quarter = arcs(20, 20, 4), small = arcs(2, 2, 4);
    const struct {
        const char* name;
        Vec2 start;
        std::vector<PathSegment> run;
        bool whole; // a closed chain for fitCircle, else a run for fitArc
        const char* expected;
    } rows[] = {
        {"4 pieces", {15, 20}, arcs(5, 5, 4), true, "circle 10.0000,20.0000 5.0000"},
        {"8 pieces", {15, 20}, arcs(5, 5, 8), true, "circle 10.0000,20.0000 5.0000"},
        {"16 pieces", {15, 20}, arcs(5, 5, 16), true, "circle 10.0000,20.0000 5.0000"},
        {"control distance rounded to 0.552", {15, 20}, arcs(5, 5, 4, 0.552 / 0.55228), true, "circle 10*"},
        {"ellipse", {15, 20}, arcs(5, 4.9, 4), true, "none"},
        {"bulging control points", {15, 20}, arcs(5, 5, 4, 0.8), true, "none"},
        {"twice around", {15, 20}, arcs(5, 5, 8, 1, 2), true, "none"},
        {"three pieces stray too far", {15, 20}, arcs(5, 5, 3), true, "none"},
        {"a line among the curves", {15, 20}, withLine, true, "none"},
        // Eight 45-degree pieces of radius 20 stray by 0.0001 mm: within the 0.001 mm an arc allows.
        {"half circle", {30, 20}, arcs(20, 20, 8, 1, 0.5), false, "arc 10.0000,20.0000 20.0000 0.0000>180.0000"},
        {"half circle backwards",
         {-10, 20},
         arcs(20, 20, 8, 1, 0.5, true),
         false,
         "arc 10.0000,20.0000 20.0000 0.0000>180.0000"},
        {"quarter of radius 20 in one piece strays by 0.005 mm", {30, 20}, {quarter[0]}, false, "none"},
        {"quarter of radius 2 in one piece", {12, 20}, {small[0]}, false, "arc 10.0000,20.0000 2.0000 *>90.0000"},
        {"s-curve", {0, 0}, {{PathSegment::Kind::Cubic, {1, 1}, {2, -1}, {3, 0}}}, false, "none"},
    };
    for (const auto& row : rows)
        EXPECT_PRED2(testing::like, row.expected, fit(row.start, row.run, row.whole)) << row.name;
}

} // namespace
} // namespace unplot::engine
