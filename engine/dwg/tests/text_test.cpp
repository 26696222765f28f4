// Strings in the 8-bit form of R13 to R2004 files, and table names.
#include "dwgtext.h"

#include <gtest/gtest.h>

using namespace unplot::engine::dwg;

namespace {

TEST(DwgText, EscapesEverythingBeyondAscii)
{
    EXPECT_EQ(toDwgText("Plan A-1"), "Plan A-1");
    EXPECT_EQ(toDwgText("Ma\xC3\x9F 3\xC2\xB0"), "Ma\\U+00DF 3\\U+00B0");  // Maß 3°
    EXPECT_EQ(toDwgText("\xE6\x97\xA5\xE6\x9C\xAC"), "\\U+65E5\\U+672C");   // 日本
    EXPECT_EQ(toDwgText("\xF0\x9F\x98\x80"), "\\U+D83D\\U+DE00");            // an emoji: a surrogate pair
    EXPECT_EQ(toDwgText("a\xFF" "b\xC3"), "a?b?");                           // malformed bytes
    EXPECT_EQ(toDwgText("ab\xC3\x9F", 8), "ab");                               // never half an escape
    EXPECT_EQ(toDwgText(std::string(70000, 'x')).size(), 32000u);
}

TEST(TableNames, AreValidAndUniqueWithoutCase)
{
    const auto names = uniqueTableNames({"Walls", "walls", "0", "a<b>", "", "Walls"}, {"0"});
    EXPECT_EQ(names, (std::vector<std::string>{"Walls", "walls_2", "0_2", "a_b_", "Layer", "Walls_3"}));
}

TEST(TableNames, R14NamesAreUpperCaseWithoutExtendedCharacters)
{
    const auto names = uniqueTableNames({"Hidden stuff", "Dims: \xC3\xA9t\xC3\xA9/1", "a$b-c_d", "HIDDEN_STUFF"}, {"0"}, true);
    EXPECT_EQ(names, (std::vector<std::string>{"HIDDEN_STUFF", "DIMS___T__1", "A$B-C_D", "HIDDEN_STUFF_2"}));
}

}  // namespace
