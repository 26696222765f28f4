// Every file the writer produces, in every version, opened by two independent readers: ezdxf must load and audit
// it without a single error, fix or repair message; dxflib must count the same entities.
#include "dxftestsupport.h"
#include "dxfwriter.h"
#include "readback.h"

#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

namespace unplot::engine::dxf::test {
namespace {

namespace fs = std::filesystem;

class CountingAdapter : public DL_CreationAdapter {
public:
    std::map<std::string, int> counts;
    void addLine(const DL_LineData&) override { ++counts["LINE"]; }
    void addPolyline(const DL_PolylineData&) override { ++counts["LWPOLYLINE"]; }
    void addSpline(const DL_SplineData&) override { ++counts["SPLINE"]; }
    void addCircle(const DL_CircleData&) override { ++counts["CIRCLE"]; }
    void addArc(const DL_ArcData&) override { ++counts["ARC"]; }
    void addEllipse(const DL_EllipseData&) override { ++counts["ELLIPSE"]; }
    void addText(const DL_TextData&) override { ++counts["TEXT"]; }
    void addHatch(const DL_HatchData&) override { ++counts["HATCH"]; }
};

std::map<std::string, int> dxflibCounts(const fs::path& file)
{
    CountingAdapter adapter;
    DL_Dxf reader;
    EXPECT_TRUE(reader.in(file.string(), &adapter)) << file;
    return adapter.counts;
}

struct Sample {
    std::string name;
    Drawing drawing;
    std::map<std::string, int> counts;
};

// Layers and styles with names a CAD program refuses as they are.
Drawing awkwardNamesDrawing()
{
    Drawing d;
    d.widthMm = 100;
    d.heightMm = 100;
    const char* names[] = {"0", "a/b", "A/B", "", "  ", "x=y;z", "Ébène", "é", "É", "北京", "layer\tname"};
    int i = 0;
    for (const char* name : names) {
        d.layers.push_back({name, i % 2 == 0});
        d.textStyles.push_back({name, name});
        d.entities.push_back({{name, {1, 2, 3}, 0.25}, Line{{0, double(i)}, {10, double(i)}}});
        d.entities.push_back({{name, {}, 0}, Text{std::string("T ") + name, {20, double(i)}, 2, 0, 1, name}});
        ++i;
    }
    return d;
}

// Text and names of arbitrary bytes (malformed UTF-8, control characters, backslashes), far coordinates and
// non-finite ones: 40 TEXT and 10 LINE entities survive.
Drawing hostileDrawing()
{
    std::mt19937 random(42);
    auto bytes = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s += char(random() % 256);
        return s;
    };
    Drawing d;
    d.widthMm = 10;
    d.heightMm = 10;
    for (int i = 0; i < 8; ++i) {
        d.layers.push_back({bytes(1 + random() % 40), i % 3 != 0});
        d.textStyles.push_back({bytes(1 + random() % 40), bytes(10)});
    }
    for (int i = 0; i < 40; ++i) {
        Style s{d.layers[random() % 8].name, {std::uint8_t(random()), std::uint8_t(random()), 0}, 0};
        d.entities.push_back(
            {s, Text{bytes(1 + random() % 300) + "\\U+12", {1, 1}, 2, 1e6, -1, d.textStyles[random() % 8].name}});
    }
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < 10; ++i) {
        d.entities.push_back({{}, Line{{-1e9 * i, 1e9}, {1e9, -1e9 * i}}});
        d.entities.push_back({{}, Line{{nan, 0}, {1, 1}}});
        d.entities.push_back({{}, Circle{{0, 0}, inf}});
        d.entities.push_back({{"0", {}, nan}, Polyline{{{0, 0}, {1, inf}}, false}});
    }
    return d;
}

class DxfReaders : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new unplot::test::TempDir;
        samples_ = {
            {"primitives", primitivesDrawing(), primitivesCounts()},
            {"large", largeDrawing(320), primitivesCounts(320)},
            {"empty", Drawing{1, 210, 297, {}, {}, {}, {}}, {}},
            {"names", awkwardNamesDrawing(), {{"LINE", 11}, {"TEXT", 11}}},
            {"hostile", hostileDrawing(), {{"LINE", 10}, {"TEXT", 40}}},
        };
        for (const Sample& sample : samples_)
            for (int version : kVersions) {
                std::ofstream out(file(sample, version), std::ios::binary);
                writeDxf(sample.drawing, version, out);
            }
    }
    static void TearDownTestSuite() { delete dir_; }
    static fs::path file(const Sample& sample, int version)
    {
        return dir_->path() / (sample.name + "-" + std::to_string(version) + ".dxf");
    }

    static inline unplot::test::TempDir* dir_ = nullptr;
    static inline std::vector<Sample> samples_;
};

TEST_F(DxfReaders, EzdxfLoadsAndAuditsEveryFileWithoutProblemsAndReadsTextBack)
{
    if (const std::string missing = unplot::test::readerMissing("ezdxf"); !missing.empty())
        GTEST_SKIP() << missing;
    std::vector<fs::path> files;
    for (const Sample& sample : samples_)
        for (int version : kVersions)
            files.push_back(file(sample, version));
    const nlohmann::json report = unplot::test::auditDxf(files);
    for (const Sample& sample : samples_)
        for (int version : kVersions) {
            const std::string path = file(sample, version).string();
            SCOPED_TRACE(path);
            ASSERT_TRUE(report.contains(path));
            const auto& r = report[path];
            EXPECT_EQ(r["problems"].size(), 0u) << r["problems"].dump(1);
            using Counts = std::map<std::string, int>;
            EXPECT_EQ(r["counts"].get<Counts>(), sample.counts);
        }
    // Non-ASCII text comes back as written, from code page escapes and from UTF-8 alike.
    for (int version : kVersions) {
        const auto& texts = report[file(samples_[0], version).string()]["texts"];
        ASSERT_EQ(texts.size(), 2u) << version;
        EXPECT_EQ(texts[0].get<std::string>(), "Ø 25 ±0.1 µm 北") << version;
        EXPECT_EQ(texts[1].get<std::string>(), "Plain ASCII") << version;
    }
}

TEST_F(DxfReaders, DxflibCountsTheSameEntities)
{
    for (const Sample& sample : samples_)
        for (int version : kVersions)
            EXPECT_EQ(dxflibCounts(file(sample, version)), sample.counts) << sample.name << " " << version;
}

} // namespace
} // namespace unplot::engine::dxf::test
