// Which loops a fill keeps, by fill rule and nesting.
#include "fillloops.h"

#include <gtest/gtest.h>

#include <limits>

namespace unplot::engine {
namespace {

using K = PathSegment::Kind;

// An axis-aligned square from (x, y) with side s, counter-clockwise or clockwise.
Loop square(double x, double y, double s, bool ccw)
{
    if (ccw)
        return {{x, y},
                {{K::Line, {}, {}, {x + s, y}}, {K::Line, {}, {}, {x + s, y + s}}, {K::Line, {}, {}, {x, y + s}}}};
    return {{x, y}, {{K::Line, {}, {}, {x, y + s}}, {K::Line, {}, {}, {x + s, y + s}}, {K::Line, {}, {}, {x + s, y}}}};
}

// A counter-clockwise circle-like loop of four cubics around (cx, cy).
Loop roundLoop(double cx, double cy, double r)
{
    const double k = 0.5523 * r;
    return {{cx + r, cy},
            {{K::Cubic, {cx + r, cy + k}, {cx + k, cy + r}, {cx, cy + r}},
             {K::Cubic, {cx - k, cy + r}, {cx - r, cy + k}, {cx - r, cy}},
             {K::Cubic, {cx - r, cy - k}, {cx - k, cy - r}, {cx, cy - r}},
             {K::Cubic, {cx + k, cy - r}, {cx + r, cy - k}, {cx + r, cy}}}};
}

std::vector<Vec2> starts(const std::vector<BoundaryLoop>& loops)
{
    std::vector<Vec2> result;
    for (const auto& l : loops)
        result.push_back(l.start);
    return result;
}

TEST(FillLoops, FillRuleAndNesting)
{
    const struct {
        const char* name;
        Hatch hatch;
        std::vector<Vec2> kept;
    } rows[] = {
        {"non-zero, hole against the outline",
         {{square(0, 0, 10, true), square(2, 2, 5, false)}, false},
         {{0, 0}, {2, 2}}},
        {"non-zero, nested same direction fills all",
         {{square(0, 0, 10, true), square(2, 2, 5, true)}, false},
         {{0, 0}}},
        {"non-zero, both clockwise", {{square(0, 0, 10, false), square(2, 2, 5, false)}, false}, {{0, 0}}},
        {"even-odd keeps the nested loop", {{square(0, 0, 10, true), square(2, 2, 5, true)}, true}, {{0, 0}, {2, 2}}},
        {"non-zero, separate loops", {{square(0, 0, 1, true), square(5, 5, 1, false)}, false}, {{0, 0}, {5, 5}}},
        {"non-zero, island in a hole",
         {{square(0, 0, 10, true), square(2, 2, 6, false), square(4, 4, 2, true)}, false},
         {{0, 0}, {2, 2}, {4, 4}}},
        {"non-zero, curved loop inside a same-direction square",
         {{square(0, 0, 10, true), roundLoop(5, 5, 2)}, false},
         {{0, 0}}},
        {"non-zero, curved hole", {{square(0, 0, 10, false), roundLoop(5, 5, 2)}, false}, {{0, 0}, {7, 5}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(starts(boundaryLoops(row.hatch)), row.kept) << row.name;
}

TEST(FillLoops, DegenerateLoopsAndEdgesDropped)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Hatch h;
    h.loops = {
        {{0, 0},
         {{K::Line, {}, {}, {0, 0}},
          {K::Line, {}, {}, {5, 0}},
          {K::Line, {}, {}, {5, 0}},
          {K::Line, {}, {}, {5, 5}},
          {K::Line, {}, {}, {0, 0}}}},
        {{1, 1}, {{K::Line, {}, {}, {2, 1}}}},                              // a line, no area
        {{1, 1}, {{K::Cubic, {1, 1}, {1, 1}, {1, 1}}}},                     // a point
        {{1, 1}, {{K::Line, {}, {}, {nan, 1}}, {K::Line, {}, {}, {1, 2}}}}, // not finite
        {{0, 0}, {{K::Cubic, {1, 1}, {2, 1}, {3, 0}}}},                     // one curve, closed by a line
    };
    h.evenOdd = true;
    const auto loops = boundaryLoops(h);
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_TRUE(loops[0].straight);
    ASSERT_EQ(loops[0].segments.size(), 2u); // closing edge back to the start is implicit
    EXPECT_EQ(loops[0].segments[0].end, (Vec2{5, 0}));
    EXPECT_EQ(loops[0].segments[1].end, (Vec2{5, 5}));
    EXPECT_FALSE(loops[1].straight);
    EXPECT_EQ(loops[1].segments.size(), 1u);
}

} // namespace
} // namespace unplot::engine
