// The command line of unplot-engine.

#include "options.h"

#include <gtest/gtest.h>

namespace unplot::engine {
namespace {

TEST(EngineOptions, DefaultsToDxfR14AllPages)
{
    const EngineOptions o = parseOptions({"in.pdf", "out.zip"});
    EXPECT_EQ(o.mode, EngineOptions::Mode::Convert);
    EXPECT_EQ(o.input, "in.pdf");
    EXPECT_EQ(o.output, "out.zip");
    EXPECT_FALSE(o.dwg);
    EXPECT_EQ(o.version, 14);
    EXPECT_EQ(o.pages, "-1");
}

TEST(EngineOptions, ReadsEveryOptionInEitherForm)
{
    const EngineOptions o = parseOptions({"--dwg", "in.pdf", "--version", "2004", "--pages=1, 3-5", "out.zip"});
    EXPECT_TRUE(o.dwg);
    EXPECT_EQ(o.version, 18);
    EXPECT_EQ(o.pages, "1, 3-5");
    EXPECT_EQ(parseOptions({"a.pdf", "b.zip", "--version=23", "--pages", "-1", "--dxf"}).version, 23);
    const EngineOptions info = parseOptions({"--info", "in.pdf"});
    EXPECT_EQ(info.mode, EngineOptions::Mode::Info);
    EXPECT_EQ(info.input, "in.pdf");
    EXPECT_EQ(parseOptions({"--help"}).mode, EngineOptions::Mode::Help);
}

TEST(EngineOptions, RefusesWhatItCannotUse)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"in.pdf"},
        {"in.pdf", "out.zip", "extra"},
        {"in.pdf", "out.zip", "--version", "13"},
        {"in.pdf", "out.zip", "--version"},
        {"in.pdf", "out.zip", "--pages", "3-1"},
        {"in.pdf", "out.zip", "--pages", "one"},
        {"in.pdf", "out.zip", "--dxf", "--dwg"},
        {"in.pdf", "out.zip", "--scale", "2"},
        {"--info"},
        {"--info", "a.pdf", "b.pdf"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_THROW(parseOptions(args), UsageError) << line;
    }
}

} // namespace
} // namespace unplot::engine
