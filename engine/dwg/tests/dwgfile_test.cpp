// Whole DWG files read back by independent readers: LibreDWG and libdxfrw (npm WASM builds, run under node), and
// LibreDWG's DXF of our DWG against our DXF of the same drawing.
#include "dwgreader.h"
#include "dwgwriter.h"
#include "dxfwriter.h"
#include "readback.h"
#include "sampledrawings.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace unplot::engine;
using namespace unplot::test;

namespace {

using Counts = std::map<std::string, int>;

std::string magic(int code)
{
    return code == 14 ? "AC1014" : code == 15 ? "AC1015" : code == 18 ? "AC1018" : code == 21 ? "AC1021" : "AC1024";
}
std::string sampleOf(int code)
{
    const char* name = code == 14 ? "r14" : code == 15 ? "2000" : code == 18 ? "2004" : code == 21 ? "2007" : "2010";
    return "example_" + std::string(name) + ".dwg";
}

class DwgReadBack : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        if (const std::string missing = readerMissing("libredwg"); !missing.empty())
            GTEST_SKIP() << missing;
    }
    fs::path write(const Drawing& d) { return dir.save("test.dwg", writeDwg(d, GetParam())); }
    TempDir dir;
};

// LibreDWG: no error bit at or above 0x80 (0x40, a section it looks for and real files lack too, is fine), no CRC
// error, objects found, and the model space as written.
TEST_P(DwgReadBack, LibreDwgReadsEveryDrawingWithItsEntities)
{
    const struct {
        const char* name;
        Drawing drawing;
        Counts counts;
    } rows[] = {
        {"primitives", primitivesDrawing(), primitivesCounts()},
        {"thousands of entities, many map pages", largeDrawing(300), primitivesCounts(300)},
        {"objects larger than a page", hugeDrawing(), {{"HATCH", 1}, {"LWPOLYLINE", 1}}},
        {"empty", Drawing{1, 210, 297, {}, {}, {}, {}}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto r = readDwg(write(row.drawing));
        EXPECT_LT(r.at("error").get<int>(), 0x80) << r.dump();
        EXPECT_EQ(r.at("error").get<int>() & 1, 0) << "CRC error: " << r.dump();
        EXPECT_GT(r.at("objects").get<int>(), 0);
        EXPECT_EQ(r.at("modelSpace").get<Counts>(), row.counts) << r.dump();
        EXPECT_EQ(r.at("magic").get<std::string>(), magic(GetParam()));
    }
    // The check itself, on a file a commercial CAD program wrote.
    const auto real = unplot::engine::dwg::test::sample(sampleOf(GetParam()));
    if (!real.empty()) {
        const auto r = readDwg(dir.save("real.dwg", real));
        EXPECT_LT(r.at("error").get<int>(), 0x80) << r.dump();
        EXPECT_EQ(r.at("error").get<int>() & 1, 0) << r.dump();
    }
}

// libdxfrw gives up on the layouts in the objects section of real 2004, 2007 and 2010 files (BAD_READ_OBJECTS, 12)
// after reading their header, classes, tables, blocks and entities; of ours, on those of 2007 and 2010.
TEST_P(DwgReadBack, LibdxfrwSeesTheSameEntities)
{
    if (const std::string missing = readerMissing("libdxfrw"); !missing.empty())
        GTEST_SKIP() << missing;
    constexpr int kBadReadObjects = 12;
    const bool failsOnLayouts = GetParam() == 21 || GetParam() == 23;
    const auto real = unplot::engine::dwg::test::sample(sampleOf(GetParam()));
    if (!real.empty()) {
        EXPECT_EQ(readDwg(dir.save("real.dwg", real), "libdxfrw").at("error").get<int>(),
                  GetParam() >= 18 ? kBadReadObjects : 0);
    }
    for (int copies : {1, 200}) {
        const auto r = readDwg(write(copies == 1 ? primitivesDrawing() : largeDrawing(copies)), "libdxfrw");
        const int error = r.at("error").get<int>();
        EXPECT_TRUE(error == 0 || (failsOnLayouts && error == kBadReadObjects)) << r.dump();
        EXPECT_TRUE(failsOnLayouts || r.at("ok").get<bool>()) << r.dump();
        int total = GetParam() >= 15 ? 1 : 0;  // libdxfrw counts the paper layout's viewport too
        for (const auto& [type, n] : primitivesCounts(copies))
            total += n;
        EXPECT_EQ(r.at("entities").get<int>(), total) << r.dump();
    }
}

// LibreDWG's DXF of our DWG against our DXF writer's output of the same drawing: entity by entity, within 0.001 mm.
TEST_P(DwgReadBack, LibreDwgDxfMatchesOurDxf)
{
    if (const std::string missing = readerMissing("ezdxf"); !missing.empty())
        GTEST_SKIP() << missing;
    for (const Drawing& d : {primitivesDrawing(), largeDrawing(12), hugeDrawing()}) {
        const fs::path theirs = dir.path() / "theirs.dxf";
        const auto r = readDwg(write(d), "libredwg", theirs);
        ASSERT_TRUE(fs::exists(theirs)) << r.dump();
        EXPECT_EQ(compareDxf(dir.save("ours.dxf", dxfToString(d, GetParam())), theirs), "");
        fs::remove(theirs);
    }
}

INSTANTIATE_TEST_SUITE_P(Dwg, DwgReadBack, testing::Values(14, 15, 18, 21, 23),
                         [](const auto& row) { return magic(row.param); });

TEST(DwgVersions, UnknownCodeThrows)
{
    for (std::int64_t code : {0, 12, 16, 24})
        EXPECT_THROW(writeDwg(Drawing{}, code), std::invalid_argument) << code;
}

}  // namespace
