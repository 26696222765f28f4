// PDF dash arrays become linetypes named after the common ones they match; dashes drawn one by one along a line or
// a circle become one dashed LINE or ARC.

#include "shapes.h"
#include "testpdf.h"

#include <gtest/gtest.h>

namespace unplot::engine {
namespace {

using testing::all;
using testing::converted;
using testing::mm;

const Linetype* linetypeOf(const Drawing& d, const Entity& e)
{
    for (const Linetype& t : d.linetypes)
        if (t.name == e.style.linetype)
            return &t;
    return nullptr;
}

void expectElements(const Linetype* t, const std::vector<double>& elements)
{
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->elements.size(), elements.size()) << t->name;
    for (std::size_t i = 0; i < elements.size(); ++i)
        EXPECT_NEAR(t->elements[i], elements[i], 0.001) << t->name << " element " << i;
}

struct DashRow {
    std::vector<double> dashMm; // the PDF's dash array, in mm
    double phaseMm;
    const char* name;
    std::vector<double> elements;
};

TEST(Linetypes, FromPdfDashArrays)
{
    const DashRow rows[] = {
        {{12.7, 6.35}, 0, "DASHED", {12.7, -6.35}},
        {{6.35, 3.175}, 0, "HIDDEN", {6.35, -3.175}},
        {{31.75, 6.35, 6.35, 6.35}, 0, "CENTER", {31.75, -6.35, 6.35, -6.35}},
        {{20, 4, 4, 4, 4, 4}, 0, "PHANTOM", {20, -4, 4, -4, 4, -4}},
        {{0, 2}, 0, "DOT", {0, -2}},
        {{3, 1, 0, 1}, 0, "PATTERN_1", {3, -1, 0, -1}},
        {{4}, 0, "PATTERN_1", {4, -4}},
        {{12.7, 6.35}, 3.175, "DASHED", {9.525, -6.35, 3.175}}, // the phase: the pattern starts inside a dash
    };
    for (const DashRow& row : rows) {
        std::string array = "[";
        for (double l : row.dashMm)
            array += std::to_string(l * 72 / 25.4) + " ";
        const Drawing d = converted("1 J " + array + "] " + std::to_string(row.phaseMm * 72 / 25.4) +
                                    " d 10 10 m 500 10 l S 10 20 m 500 20 l S");
        ASSERT_EQ(d.entities.size(), 2u);
        EXPECT_EQ(d.entities[0].style.linetype, row.name);
        EXPECT_EQ(d.linetypes.size(), 1u); // one per pattern
        expectElements(linetypeOf(d, d.entities[0]), row.elements);
    }
}

TEST(Linetypes, FromDashesDrawnOneByOne)
{
    const std::string content =
        // Dashes along a line; dash-dot along a slanting line; dash-dot round a circle; collinear pieces with no
        // rhythm; a dash-dot line whose end pieces are out of step, and the dot of a line that crosses it on a dash;
        // a column of letters H, their stems in step as dashes are (the bars ending on them say they are not).
        testing::dashesAlong({50, 100}, {450, 100}, {12, 6}) + "S " +
        testing::dashesAlong({50, 200}, {450, 500}, {20, 10, 0, 10}) + "S " +
        testing::dashesRound({300, 650}, 80, {20, 10, 0, 10}, 180) + "S " +
        "50 50 m 60 50 l 62 50 m 72 50 l 77 50 m 87 50 l 89 50 m 99 50 l 108 50 m 118 50 l S "
        "520 50 m 520 53 l 520 57 m 520 57.02 l 520 63 m 520 75 l 520 81 m 520 81.02 l 520 87 m 520 99 l "
        "520 105 m 520 105.02 l 520 111 m 520 123 l 520 129 m 520 129.02 l 520 134 m 520 136 l "
        "519.99 93 m 520.01 93 l S" +
        [] {
            std::string h;
            for (int k = 0; k < 6; ++k) {
                const std::string y0 = std::to_string(300 + 16 * k), y1 = std::to_string(310 + 16 * k),
                                  y = std::to_string(305 + 16 * k);
                h += "600 " + y0 + " m 600 " + y1 + " l 600 " + y + " m 606 " + y + " l 606 " + y0 + " m 606 " + y1 +
                     " l S ";
            }
            return h;
        }();
    const Drawing d = converted(content);
    const auto lines = all<Line>(d);
    ASSERT_EQ(lines.size(), 2u + 5u + 2u + 18u);
    const Entity& centred = d.entities[8]; // after the circle and the pieces with no rhythm
    EXPECT_EQ(centred.style.linetype, "DASHDOT_2");
    EXPECT_NEAR(std::get<Line>(centred.geometry).a.y, mm(50), 0.001);
    EXPECT_NEAR(std::get<Line>(centred.geometry).b.y, mm(136), 0.001);
    EXPECT_EQ(d.entities[0].style.linetype, "HIDDEN");
    expectElements(linetypeOf(d, d.entities[0]), {mm(12), -mm(6)});
    EXPECT_NEAR(lines[0].a.x, mm(50), 0.001);
    EXPECT_NEAR(lines[0].b.x, mm(50 + 22 * 18 + 4), 0.001); // the end of the last dash
    EXPECT_EQ(d.entities[1].style.linetype, "DASHDOT");
    expectElements(linetypeOf(d, d.entities[1]), {mm(20), -mm(10), 0, -mm(10)});
    const auto circles = all<Circle>(d); // dashed all round
    ASSERT_EQ(circles.size(), 1u);
    EXPECT_NEAR(circles[0].center.x, mm(300), 0.001);
    EXPECT_NEAR(circles[0].radius, mm(80), 0.001);
    EXPECT_EQ(d.entities[2].style.linetype, "DASHDOT");
    for (std::size_t i = 3; i < d.entities.size(); ++i)
        EXPECT_EQ(d.entities[i].style.linetype, i == 8 ? "DASHDOT_2" : "");
}

} // namespace
} // namespace unplot::engine
