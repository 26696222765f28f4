// Colour and lineweight mapping, and extents, of the drawing model.
#include "drawing.h"

#include <gtest/gtest.h>

namespace unplot::engine {
namespace {

TEST(ModelColors, NearestAciStaysInTheDrawableRange)
{
    const struct {
        Rgb rgb;
        int aci;
    } rows[] = {
        {{0, 0, 0}, 7},       {{255, 255, 255}, 7}, {{255, 0, 0}, 1}, {{255, 255, 0}, 2},
        {{0, 255, 0}, 3},     {{0, 255, 255}, 4},   {{0, 0, 255}, 5}, {{255, 0, 255}, 6},
        {{128, 128, 128}, 8}, {{192, 192, 192}, 9}, {{250, 2, 3}, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(nearestAci(row.rgb), row.aci) << int(row.rgb.r) << "," << int(row.rgb.g) << "," << int(row.rgb.b);
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) {
                const int aci = nearestAci({std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
                ASSERT_GE(aci, 1);
                ASSERT_LE(aci, 255);
            }
}

TEST(ModelColors, TrueColorPacksRgb)
{
    EXPECT_EQ(trueColorValue({0x12, 0x34, 0x56}), 0x123456);
}

TEST(ModelColors, LineweightSnapsToTheStandardSet)
{
    const struct {
        double mm;
        int lineweight;
    } rows[] = {{0, 0},     {0.01, 0},  {0.03, 5},  {0.25, 25},  {0.26, 25}, {0.35, 35}, {0.5, 50},
                {0.52, 53}, {1.0, 100}, {1.9, 200}, {2.11, 211}, {50, 211},  {-1, 0}};
    for (const auto& row : rows)
        EXPECT_EQ(snapLineweight(row.mm), row.lineweight) << row.mm;
}

TEST(ModelExtents, EntitiesOrThePage)
{
    Drawing d;
    d.widthMm = 210;
    d.heightMm = 297;
    Extents e = d.extents();
    EXPECT_FALSE(e.empty);
    EXPECT_EQ(e.min, (Vec2{0, 0}));
    EXPECT_EQ(e.max, (Vec2{210, 297}));
    d.entities.push_back({{}, Line{{10, 20}, {30, -5}}});
    d.entities.push_back({{}, Circle{{100, 50}, 10}});
    e = d.extents();
    EXPECT_EQ(e.min, (Vec2{10, -5}));
    EXPECT_EQ(e.max, (Vec2{110, 60}));
}

} // namespace
} // namespace unplot::engine
