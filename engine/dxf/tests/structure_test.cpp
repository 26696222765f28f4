// The file's structure in every version: sections, classes, tables, handles and owners, version-specific tags.
#include "dxftestsupport.h"
#include "dxfwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <stdexcept>

namespace unplot::engine::dxf::test {
namespace {

std::uint64_t hex(const std::string& s)
{
    return std::stoull(s, nullptr, 16);
}

class DxfStructure : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        tags = collectTags(primitivesDrawing(), GetParam());
        objects = splitObjects(tags);
        header = headerVariables(tags);
    }
    std::vector<const DxfObject*> inSection(const std::string& section, const std::string& type = {}) const
    {
        std::vector<const DxfObject*> result;
        for (const auto& o : objects)
            if (o.section == section && (type.empty() || o.type == type))
                result.push_back(&o);
        return result;
    }
    const DxfObject* record(const std::string& type, const std::string& name) const
    {
        for (const auto& o : objects)
            if (o.section == "TABLES" && o.type == type && o.value(2) == name)
                return &o;
        return nullptr;
    }
    bool r14() const { return GetParam() == 14; }

    Tags tags;
    std::vector<DxfObject> objects;
    std::map<std::string, Tags> header;
};

TEST_P(DxfStructure, SectionsInOrderAndEof)
{
    std::vector<std::string> sections;
    for (const auto& o : objects)
        if (o.type == "SECTION")
            sections.push_back(o.section);
    EXPECT_EQ(sections, (std::vector<std::string>{"HEADER", "CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS"}));
    EXPECT_EQ(tags.back(), (std::pair<int, std::string>{0, "EOF"}));
    std::vector<std::string> tables;
    for (const auto* t : inSection("TABLES", "TABLE"))
        tables.push_back(t->value(2));
    EXPECT_EQ(tables, (std::vector<std::string>{"VPORT", "LTYPE", "LAYER", "STYLE", "VIEW", "UCS", "APPID", "DIMSTYLE",
                                                "BLOCK_RECORD"}));
}

TEST_P(DxfStructure, HeaderNamesVersionUnitsAndExtents)
{
    const std::map<int, std::string> acadver = {
        {14, "AC1014"}, {15, "AC1015"}, {18, "AC1018"}, {21, "AC1021"}, {23, "AC1024"}};
    EXPECT_EQ(header["$ACADVER"], (Tags{{1, acadver.at(GetParam())}}));
    EXPECT_EQ(header["$DWGCODEPAGE"], (Tags{{3, "ANSI_1252"}}));
    EXPECT_EQ(header["$MEASUREMENT"], (Tags{{70, "1"}}));
    // $INSUNITS came with 2000; R14 has no such variable.
    EXPECT_EQ(header.count("$INSUNITS"), r14() ? 0u : 1u);
    if (!r14()) {
        EXPECT_EQ(header["$INSUNITS"], (Tags{{70, "4"}}));
    }
    EXPECT_EQ(header["$LIMMAX"], (Tags{{10, "420.0"}, {20, "297.0"}}));
    const Extents e = primitivesDrawing().extents();
    const Tags& extmin = header["$EXTMIN"];
    ASSERT_EQ(extmin.size(), 3u);
    EXPECT_NEAR(std::stod(extmin[0].second), e.min.x, 1e-9);
    EXPECT_NEAR(std::stod(extmin[1].second), e.min.y, 1e-9);
    EXPECT_NEAR(std::stod(header["$EXTMAX"][1].second), e.max.y, 1e-9);
}

TEST_P(DxfStructure, HandlesUniqueOwnersExistAndSeedAboveAll)
{
    std::set<std::uint64_t> handles;
    for (const auto& o : objects) {
        if (o.section == "HEADER")
            continue;
        for (int code : {5, 105})
            for (const auto& h : o.values(code))
                EXPECT_TRUE(handles.insert(hex(h)).second) << o.type << " reuses handle " << h;
    }
    std::size_t references = 0;
    for (const auto& o : objects) {
        if (o.section == "HEADER" || o.section == "CLASSES" || o.type == "SECTION" || o.type == "ENDSEC" ||
            o.type == "ENDTAB" || o.type == "EOF")
            continue;
        EXPECT_TRUE(o.has(5) || o.has(105)) << o.type << " has no handle";
        EXPECT_TRUE(o.has(330)) << o.type << " " << o.value(5) << " has no owner";
        for (int code : {330, 340, 350, 360, 390, 331})
            for (const auto& ref : o.values(code)) {
                ++references;
                if (ref != "0") {
                    EXPECT_TRUE(handles.count(hex(ref))) << o.type << " " << o.value(5) << " points to " << ref;
                }
            }
    }
    EXPECT_GT(references, 40u);
    ASSERT_EQ(header["$HANDSEED"].size(), 1u);
    EXPECT_GT(hex(header["$HANDSEED"][0].second), *handles.rbegin());
    // Entities belong to the model space block record.
    const DxfObject* modelSpace = record("BLOCK_RECORD", r14() ? "*MODEL_SPACE" : "*Model_Space");
    ASSERT_NE(modelSpace, nullptr);
    for (const auto* e : inSection("ENTITIES"))
        if (e->type != "SECTION" && e->type != "ENDSEC") {
            EXPECT_EQ(e->value(330), modelSpace->value(5));
        }
}

TEST_P(DxfStructure, ClassesAndObjectsTheVersionNeeds)
{
    std::set<std::string> classes;
    for (const auto* c : inSection("CLASSES", "CLASS")) {
        classes.insert(c->value(1));
        EXPECT_EQ(c->has(91), GetParam() >= 18) << "instance count from 2004 on";
    }
    std::set<std::string> expected = {"ACDBDICTIONARYWDFLT"};
    if (r14())
        expected = {"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LWPOLYLINE", "HATCH"};
    if (GetParam() == 15)
        expected = {"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LAYOUT"};
    EXPECT_EQ(classes, expected);

    const auto objs = inSection("OBJECTS");
    ASSERT_GE(objs.size(), 2u);
    const DxfObject& root = *objs[1]; // after the SECTION marker
    EXPECT_EQ(root.type, "DICTIONARY");
    EXPECT_EQ(root.value(330), "0");
    const auto names = root.values(3);
    for (const char* name : {"ACAD_GROUP", "ACAD_LAYOUT", "ACAD_MLINESTYLE", "ACAD_PLOTSETTINGS", "ACAD_PLOTSTYLENAME"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    std::set<std::string> layouts;
    for (const auto* l : inSection("OBJECTS", "LAYOUT"))
        layouts.insert(l->values(1).back());
    const std::set<std::string> expectedLayouts = {"Model", "Layout1"};
    EXPECT_EQ(layouts, r14() ? std::set<std::string>() : expectedLayouts);
}

TEST_P(DxfStructure, ColoursLineweightsAndTrueColourByVersion)
{
    for (const auto* e : inSection("ENTITIES")) {
        if (e->type == "SECTION" || e->type == "ENDSEC")
            continue;
        const int aci = std::stoi(e->value(62));
        EXPECT_TRUE(aci >= 1 && aci <= 255) << e->type << " colour " << aci;
        const bool stroke = e->type != "TEXT" && e->type != "HATCH";
        EXPECT_EQ(e->has(370), stroke && GetParam() >= 15) << e->type;
    }
    const DxfObject* line = inSection("ENTITIES", "LINE").at(0);
    EXPECT_EQ(line->value(62), "1");
    EXPECT_EQ(line->has(370) ? line->value(370) : "", r14() ? "" : "35");
    EXPECT_EQ(line->has(420) ? line->value(420) : "", GetParam() >= 18 ? "16711680" : "");
    // Black stays ACI 7 without a true colour, in every version.
    const DxfObject* square = inSection("ENTITIES", "LWPOLYLINE").at(0);
    EXPECT_EQ(square->value(62), "7");
    EXPECT_FALSE(square->has(420));
    EXPECT_EQ(square->has(370) ? square->value(370) : "", r14() ? "" : "70");
}

TEST_P(DxfStructure, LayersAndStylesNamedValidUniqueAndHiddenLayerOff)
{
    std::vector<std::string> layers;
    for (const auto* l : inSection("TABLES", "LAYER"))
        layers.push_back(l->value(2));
    const std::string accented = GetParam() >= 21 ? "Ébauche 北"
                                                  : "\xC9"
                                                    "bauche \\U+5317";
    if (r14()) {
        EXPECT_EQ(layers, (std::vector<std::string>{"0", "WALLS__OUTER_", "HIDDEN", "_BAUCHE__"}));
    } else {
        EXPECT_EQ(layers, (std::vector<std::string>{"0", "Walls _outer_", "Hidden", accented}));
    }
    EXPECT_EQ(record("LAYER", r14() ? "HIDDEN" : "Hidden")->value(62), "-7");
    EXPECT_EQ(record("LAYER", "0")->value(62), "7");

    const auto lines = inSection("ENTITIES", "LINE");
    EXPECT_EQ(lines.at(0)->value(8), "0");
    EXPECT_EQ(inSection("ENTITIES", "LWPOLYLINE").at(0)->value(8), layers[1]);
    EXPECT_EQ(inSection("ENTITIES", "TEXT").at(0)->value(8), layers[3]);

    std::vector<std::string> styles;
    for (const auto* s : inSection("TABLES", "STYLE"))
        styles.push_back(s->value(2) + ":" + s->value(3));
    if (r14()) {
        EXPECT_EQ(styles, (std::vector<std::string>{"STANDARD:txt", "HELVETICA:arial.ttf", "TIMES-ROMAN:times.ttf"}));
    } else {
        EXPECT_EQ(styles, (std::vector<std::string>{"Standard:txt", "Helvetica:arial.ttf", "Times-Roman:times.ttf"}));
    }
    const auto texts = inSection("ENTITIES", "TEXT");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0]->value(7), r14() ? "HELVETICA" : "Helvetica");
    EXPECT_EQ(texts[1]->value(7), r14() ? "TIMES-ROMAN" : "Times-Roman");
}

TEST_P(DxfStructure, TextEncodedForTheVersion)
{
    const auto texts = inSection("ENTITIES", "TEXT");
    ASSERT_EQ(texts.size(), 2u);
    // Before 2007 the file is Windows-1252: Ø ± µ are single bytes, 北 an escape; from 2007 on UTF-8.
    const std::string expected = GetParam() >= 21 ? "Ø 25 ±0.1 µm 北"
                                                  : "\xD8 25 \xB1"
                                                    "0.1 \xB5m \\U+5317";
    EXPECT_EQ(texts[0]->value(1), expected);
    EXPECT_EQ(texts[0]->value(40), "3.5");
    EXPECT_EQ(texts[0]->value(50), "30.0");
    EXPECT_EQ(texts[0]->value(10), "20.0");
    EXPECT_EQ(texts[0]->value(20), "280.0");
    EXPECT_EQ(texts[1]->value(41), "0.8");
    EXPECT_FALSE(texts[1]->has(50));
}

TEST_P(DxfStructure, SplinesExactWithTripleInteriorKnots)
{
    const auto splines = inSection("ENTITIES", "SPLINE");
    ASSERT_EQ(splines.size(), 2u);
    const DxfObject& open = *splines[0];
    EXPECT_EQ(open.value(70), "8");
    EXPECT_EQ(open.value(71), "3");
    EXPECT_EQ(open.value(72), "11");
    EXPECT_EQ(open.value(73), "7");
    EXPECT_EQ(open.values(40),
              (std::vector<std::string>{"0.0", "0.0", "0.0", "0.0", "1.0", "1.0", "1.0", "2.0", "2.0", "2.0", "2.0"}));
    EXPECT_EQ(open.values(10), (std::vector<std::string>{"0.0", "10.0", "30.0", "40.0", "50.0", "70.0", "80.0"}));
    EXPECT_EQ(open.values(20),
              (std::vector<std::string>{"150.0", "170.0", "170.0", "150.0", "130.0", "130.0", "150.0"}));
    // A closed chain stays clamped: planar only.
    EXPECT_EQ(splines[1]->value(70), "8");
    EXPECT_EQ(splines[1]->values(40).size(), 8u);
}

TEST_P(DxfStructure, ZeroLengthAndEmptyEntitiesAreNotWritten)
{
    std::map<std::string, int> counts;
    for (const auto* e : inSection("ENTITIES"))
        if (e->type != "SECTION" && e->type != "ENDSEC")
            ++counts[e->type];
    EXPECT_EQ(counts, primitivesCounts());
    const auto polylines = inSection("ENTITIES", "LWPOLYLINE");
    // The closed square loses its repeated end point; the open one its doubled first point.
    EXPECT_EQ(polylines[0]->value(90), "4");
    EXPECT_EQ(polylines[0]->value(70), "1");
    EXPECT_EQ(polylines[1]->value(90), "3");
    EXPECT_EQ(polylines[1]->value(70), "0");
}

TEST_P(DxfStructure, EllipseMajorAxisIsTheLongerOne)
{
    const auto ellipses = inSection("ENTITIES", "ELLIPSE");
    ASSERT_EQ(ellipses.size(), 3u);
    EXPECT_EQ(ellipses[0]->value(40), "0.5");
    EXPECT_EQ(ellipses[0]->value(41), "0.0");
    EXPECT_EQ(ellipses[0]->value(42), "3.0");
    // Axis (10, 10) with ratio 2 becomes axis (-20, 20) with ratio 0.5; a full turn stays exactly 0 to 2pi.
    EXPECT_EQ(ellipses[1]->value(11), "-20.0");
    EXPECT_EQ(ellipses[1]->value(21), "20.0");
    EXPECT_EQ(ellipses[1]->value(40), "0.5");
    EXPECT_EQ(ellipses[1]->value(41), "0.0");
    EXPECT_EQ(ellipses[1]->value(42), "6.283185307179586");
}

TEST_P(DxfStructure, HatchSolidWithPolylineAndEdgeLoops)
{
    const auto hatches = inSection("ENTITIES", "HATCH");
    ASSERT_EQ(hatches.size(), 3u);
    const DxfObject& h = *hatches[0];
    EXPECT_EQ(h.value(2), "SOLID");
    EXPECT_EQ(h.value(70), "1");
    EXPECT_EQ(h.value(71), "0");
    EXPECT_EQ(h.value(91), "2");
    EXPECT_EQ(h.values(92), (std::vector<std::string>{"2", "0"})); // a polyline loop, then an edge loop
    EXPECT_EQ(h.value(75), "0");
    EXPECT_EQ(h.value(76), "1");
    EXPECT_EQ(h.value(98), "0");
    // The edge loop: line, spline, line, and the closing line added.
    EXPECT_EQ(h.values(72), (std::vector<std::string>{"0", "1", "4", "1", "1"}));
    EXPECT_EQ(h.value(94), "3");
    EXPECT_EQ(h.values(40), (std::vector<std::string>{"0.0", "0.0", "0.0", "0.0", "1.0", "1.0", "1.0", "1.0"}));
    // 2010 wants the fit point count of a spline edge.
    EXPECT_EQ(h.values(97).size(), GetParam() >= 23 ? 3u : 2u);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, DxfStructure, ::testing::ValuesIn(kVersions),
                         [](const auto& row) { return "v" + std::to_string(row.param); });

TEST(DxfWriter, UnknownVersionThrows)
{
    for (std::int64_t code : {0, 12, 16, 22, 24, -1})
        EXPECT_THROW(dxfToString(Drawing{}, code), std::invalid_argument) << code;
}

TEST(DxfWriter, EmptyDrawingUsesThePageAsExtents)
{
    Drawing d;
    d.widthMm = 210;
    d.heightMm = 297;
    auto header = headerVariables(collectTags(d, 15));
    EXPECT_EQ(header["$EXTMIN"], (Tags{{10, "0.0"}, {20, "0.0"}, {30, "0.0"}}));
    EXPECT_EQ(header["$EXTMAX"], (Tags{{10, "210.0"}, {20, "297.0"}, {30, "0.0"}}));
}

TEST(DxfWriter, StreamAndStringGiveTheSameBytes)
{
    const Drawing d = primitivesDrawing();
    const std::string text = dxfToString(d, 18);
    std::string expected;
    for (const auto& [code, value] : collectTags(d, 18)) {
        const std::string c = std::to_string(code);
        expected += std::string(c.size() < 3 ? 3 - c.size() : 0, ' ') + c + "\n" + value + "\n";
    }
    EXPECT_EQ(text, expected);
}

} // namespace
} // namespace unplot::engine::dxf::test

namespace unplot::engine::dxf::test {
namespace {

// What the ENTITIES section holds for a drawing of this one geometry.
std::vector<DxfObject> entitiesOf(const Geometry& g, int version = 15)
{
    Drawing d;
    d.widthMm = d.heightMm = 100;
    d.entities.push_back({{}, g});
    std::vector<DxfObject> result;
    for (auto& o : splitObjects(collectTags(d, version)))
        if (o.section == "ENTITIES" && o.type != "SECTION" && o.type != "ENDSEC")
            result.push_back(std::move(o));
    return result;
}

TEST(DxfEntities, ArcsAndEllipsesNormalised)
{
    const double pi = 3.141592653589793;
    const struct {
        const char* name;
        Geometry geometry;
        const char* type; // nullptr: nothing written
        std::map<int, std::string> values;
    } rows[] = {
        {"arc over a full turn is a circle", Arc{{1, 2}, 3, 0, 360}, "CIRCLE", {{40, "3.0"}}},
        {"arc across zero", Arc{{0, 0}, 3, 350, 10}, "ARC", {{50, "350.0"}, {51, "10.0"}}},
        {"negative angles", Arc{{0, 0}, 3, -90, 90}, "ARC", {{50, "270.0"}, {51, "90.0"}}},
        {"arc without sweep", Arc{{0, 0}, 3, 10, 370.0 - 360.0}, nullptr, {}},
        {"ellipse across zero",
         Ellipse{{0, 0}, {4, 0}, 0.5, 1.5 * pi, 0.5 * pi},
         "ELLIPSE",
         {{41, "4.71238898038469"}, {42, "1.5707963267948966"}}},
        {"mirrored ellipse",
         Ellipse{{0, 0}, {4, 0}, -0.5, 0, 1},
         "ELLIPSE",
         {{40, "0.5"}, {41, "5.283185307179586"}, {42, "6.283185307179586"}}},
        {"ellipse without sweep", Ellipse{{0, 0}, {4, 0}, 0.5, 1, 1}, nullptr, {}},
        {"flat ellipse", Ellipse{{0, 0}, {4, 0}, 0, 0, 1}, nullptr, {}},
        {"very flat ellipse", Ellipse{{0, 0}, {4000, 0}, 1e-9, 0, 1}, "ELLIPSE", {{40, "0.000001"}}},
        {"ellipse overflowing its swap", Ellipse{{0, 0}, {0, -1.7e308}, 2, 0, 1}, nullptr, {}},
        {"not finite", Line{{0, 0}, {std::numeric_limits<double>::infinity(), 1}}, nullptr, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto written = entitiesOf(row.geometry);
        if (!row.type) {
            EXPECT_TRUE(written.empty());
            continue;
        }
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written[0].type, row.type);
        for (const auto& [code, value] : row.values)
            EXPECT_EQ(written[0].value(code), value) << code;
    }
}

TEST(DxfTables, AStrokeFontFileNameStaysOneValue)
{
    Drawing d;
    d.textStyles = {{"S", "rom\r\nans.shx"}};
    for (int version : kVersions)
        EXPECT_NE(dxfToString(d, version).find("\nrom  ans.shx\n"), std::string::npos) << version;
}

TEST(DxfEntities, LongTextCutToWhatReadersTake)
{
    for (int version : kVersions) {
        const auto written = entitiesOf(Text{std::string(3000, 'a'), {0, 0}, 2, 0, 1, "Standard"}, version);
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written[0].value(1).size(), version == 14 ? 255u : 1000u) << version;
    }
}

TEST(DxfEntities, LineweightSnappedAndTrueColourKept)
{
    Drawing d;
    d.entities.push_back({{"0", {10, 20, 30}, 0.33}, Line{{0, 0}, {1, 1}}});
    d.entities.push_back({{"0", {255, 255, 255}, 0.0}, Line{{0, 0}, {1, 1}}});
    std::vector<DxfObject> lines;
    for (auto& o : splitObjects(collectTags(d, 23)))
        if (o.type == "LINE")
            lines.push_back(o);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].value(370), "35");
    EXPECT_EQ(lines[0].value(420), std::to_string(10 * 65536 + 20 * 256 + 30));
    EXPECT_EQ(lines[0].value(62), std::to_string(nearestAci({10, 20, 30})));
    EXPECT_EQ(lines[1].value(370), "0");
    EXPECT_EQ(lines[1].value(62), "7");
    EXPECT_FALSE(lines[1].has(420));
}

} // namespace
} // namespace unplot::engine::dxf::test
