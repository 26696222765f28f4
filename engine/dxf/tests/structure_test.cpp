// The file's structure in every version: sections, classes, tables, handles and owners, and the tags whose values a
// reader takes as they are (the readers' test checks that every file loads and audits clean).
#include "dxftestsupport.h"
#include "dxfwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <stdexcept>

namespace unplot::engine::dxf::test {
namespace {

std::uint64_t hex(const std::string& s) { return std::stoull(s, nullptr, 16); }

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
            if (o.section == section && (type.empty() || o.type == type) && o.type != "SECTION" && o.type != "ENDSEC")
                result.push_back(&o);
        return result;
    }
    std::vector<std::string> values(const std::string& section, const std::string& type, int code) const
    {
        std::vector<std::string> result;
        for (const auto* o : inSection(section, type))
            result.push_back(o->value(code));
        return result;
    }
    int version() const { return GetParam(); }
    bool r14() const { return GetParam() == 14; }

    Tags tags;
    std::vector<DxfObject> objects;
    std::map<std::string, Tags> header;
};

TEST_P(DxfStructure, SectionsTablesClassesAndObjectsTheVersionNeeds)
{
    std::vector<std::string> sections;
    for (const auto& o : objects)
        if (o.type == "SECTION")
            sections.push_back(o.section);
    EXPECT_EQ(sections, (std::vector<std::string>{"HEADER", "CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS"}));
    EXPECT_EQ(tags.back(), (std::pair<int, std::string>{0, "EOF"}));
    EXPECT_EQ(values("TABLES", "TABLE", 2), (std::vector<std::string>{"VPORT", "LTYPE", "LAYER", "STYLE", "VIEW",
                                                                       "UCS", "APPID", "DIMSTYLE", "BLOCK_RECORD"}));
    std::set<std::string> classes;
    for (const auto* c : inSection("CLASSES", "CLASS")) {
        classes.insert(c->value(1));
        EXPECT_EQ(c->has(91), version() >= 18) << "instance count from 2004 on";
    }
    const std::map<int, std::set<std::string>> expected = {
        {14, {"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LWPOLYLINE", "HATCH"}},
        {15, {"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LAYOUT"}}};
    EXPECT_EQ(classes, expected.count(version()) ? expected.at(version()) : std::set<std::string>{"ACDBDICTIONARYWDFLT"});

    const DxfObject& root = *inSection("OBJECTS").at(0);
    EXPECT_EQ(root.type, "DICTIONARY");
    EXPECT_EQ(root.value(330), "0");
    const auto names = root.values(3);
    for (const char* name : {"ACAD_GROUP", "ACAD_LAYOUT", "ACAD_MLINESTYLE", "ACAD_PLOTSETTINGS", "ACAD_PLOTSTYLENAME"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    std::set<std::string> layouts;
    for (const auto* l : inSection("OBJECTS", "LAYOUT"))
        layouts.insert(l->values(1).back());
    EXPECT_EQ(layouts, (r14() ? std::set<std::string>() : std::set<std::string>{"Model", "Layout1"}));
}

TEST_P(DxfStructure, HandlesUniqueOwnersExistAndSeedAboveAll)
{
    std::set<std::uint64_t> handles;
    for (const auto& o : objects)
        for (int code : {5, 105})
            for (const auto& h : o.values(code))
                EXPECT_TRUE(o.section == "HEADER" || handles.insert(hex(h)).second) << o.type << " reuses " << h;
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
                EXPECT_TRUE(ref == "0" || handles.count(hex(ref))) << o.type << " " << o.value(5) << " -> " << ref;
            }
    }
    EXPECT_GT(references, 40u);
    EXPECT_GT(hex(header["$HANDSEED"].at(0).second), *handles.rbegin());
    // Entities belong to the model space block record.
    std::string modelSpace;
    for (const auto* r : inSection("TABLES", "BLOCK_RECORD"))
        if (r->value(2) == (r14() ? "*MODEL_SPACE" : "*Model_Space"))
            modelSpace = r->value(5);
    EXPECT_EQ(values("ENTITIES", "", 330), std::vector<std::string>(inSection("ENTITIES").size(), modelSpace));
}

TEST_P(DxfStructure, HeaderVariables)
{
    const char* acadver[] = {"AC1014", "AC1015", "AC1018", "AC1021", "AC1024"};
    EXPECT_EQ(header["$ACADVER"], (Tags{{1, acadver[std::find(std::begin(kVersions), std::end(kVersions),
                                                               version()) - std::begin(kVersions)]}}));
    EXPECT_EQ(header["$DWGCODEPAGE"], (Tags{{3, "ANSI_1252"}}));
    EXPECT_EQ(header["$MEASUREMENT"], (Tags{{70, "1"}}));
    EXPECT_EQ(header.count("$INSUNITS") ? header["$INSUNITS"] : Tags{}, (r14() ? Tags{} : Tags{{70, "4"}}));
    EXPECT_EQ(header["$LIMMAX"], (Tags{{10, "420.0"}, {20, "297.0"}}));
    const Extents e = primitivesDrawing().extents();
    ASSERT_EQ(header["$EXTMIN"].size(), 3u);
    EXPECT_NEAR(std::stod(header["$EXTMIN"][0].second), e.min.x, 1e-9);
    EXPECT_NEAR(std::stod(header["$EXTMIN"][1].second), e.min.y, 1e-9);
    EXPECT_NEAR(std::stod(header["$EXTMAX"][1].second), e.max.y, 1e-9);
}

TEST_P(DxfStructure, LayersStylesAndNamesForTheVersion)
{
    const std::string accented = version() >= 21 ? "Ébauche 北" : "\xC9" "bauche \\U+5317";
    const auto layers = values("TABLES", "LAYER", 2);
    EXPECT_EQ(layers, (r14() ? std::vector<std::string>{"0", "WALLS__OUTER_", "HIDDEN", "_BAUCHE__"}
                             : std::vector<std::string>{"0", "Walls _outer_", "Hidden", accented}));
    EXPECT_EQ(values("TABLES", "LAYER", 62), (std::vector<std::string>{"7", "7", "-7", "7"}));  // hidden: off
    std::vector<std::string> styles;
    for (const auto* s : inSection("TABLES", "STYLE"))
        styles.push_back(s->value(2) + ":" + s->value(3));
    EXPECT_EQ(styles, (r14() ? std::vector<std::string>{"STANDARD:txt", "HELVETICA:arial.ttf", "TIMES-ROMAN:times.ttf"}
                             : std::vector<std::string>{"Standard:txt", "Helvetica:arial.ttf", "Times-Roman:times.ttf"}));
    EXPECT_EQ(values("ENTITIES", "TEXT", 7), (r14() ? std::vector<std::string>{"HELVETICA", "TIMES-ROMAN"}
                                                    : std::vector<std::string>{"Helvetica", "Times-Roman"}));
    EXPECT_EQ(values("ENTITIES", "LWPOLYLINE", 8).at(0), layers[1]);
    EXPECT_EQ(values("ENTITIES", "TEXT", 8).at(0), layers[3]);
    // Before 2007 the file is Windows-1252: Ø ± µ are single bytes, 北 an escape; from 2007 on UTF-8.
    EXPECT_EQ(values("ENTITIES", "TEXT", 1).at(0),
              version() >= 21 ? "Ø 25 ±0.1 µm 北" : "\xD8 25 \xB1" "0.1 \xB5m \\U+5317");
}

// Tags of the primitives drawing's entities, one row per value: the entity's type and its place among those of its
// type, the group code, the value ("" when the tag must be absent) and the first version that has it.
TEST_P(DxfStructure, EntityValues)
{
    const struct {
        const char* type;
        std::size_t index;
        int code;
        const char* value;
        int since = 14;
    } rows[] = {
        {"LINE", 0, 8, "0"}, {"LINE", 0, 62, "1"}, {"LINE", 0, 370, "35", 15}, {"LINE", 0, 420, "16711680", 18},
        // Black stays ACI 7 without a true colour; the square's repeated end point and the open polyline's doubled
        // first point are dropped.
        {"LWPOLYLINE", 0, 62, "7"}, {"LWPOLYLINE", 0, 420, ""}, {"LWPOLYLINE", 0, 370, "70", 15},
        {"LWPOLYLINE", 0, 90, "4"}, {"LWPOLYLINE", 0, 70, "1"}, {"LWPOLYLINE", 1, 90, "3"}, {"LWPOLYLINE", 1, 70, "0"},
        {"TEXT", 0, 40, "3.5"}, {"TEXT", 0, 50, "30.0"}, {"TEXT", 0, 10, "20.0"}, {"TEXT", 0, 20, "280.0"},
        {"TEXT", 1, 41, "0.8"}, {"TEXT", 1, 50, ""},
        // Exact splines: clamped, planar (a closed chain too), triple interior knots.
        {"SPLINE", 0, 70, "8"}, {"SPLINE", 0, 71, "3"}, {"SPLINE", 0, 72, "11"}, {"SPLINE", 0, 73, "7"},
        {"SPLINE", 1, 70, "8"}, {"SPLINE", 1, 72, "8"},
        // The major axis is the longer one: axis (10, 10) with ratio 2 becomes (-20, 20) with ratio 0.5; a full turn
        // stays exactly 0 to 2pi.
        {"ELLIPSE", 0, 40, "0.5"}, {"ELLIPSE", 0, 41, "0.0"}, {"ELLIPSE", 0, 42, "3.0"}, {"ELLIPSE", 1, 11, "-20.0"}, {"ELLIPSE", 1, 21, "20.0"},
        {"ELLIPSE", 1, 40, "0.5"}, {"ELLIPSE", 1, 41, "0.0"}, {"ELLIPSE", 1, 42, "6.283185307179586"},
        // A solid fill of a polyline loop and an edge loop (line, spline, line and the closing line).
        {"HATCH", 0, 2, "SOLID"}, {"HATCH", 0, 70, "1"}, {"HATCH", 0, 71, "0"}, {"HATCH", 0, 91, "2"},
        {"HATCH", 0, 75, "0"}, {"HATCH", 0, 76, "1"}, {"HATCH", 0, 98, "0"}, {"HATCH", 0, 94, "3"},
    };
    for (const auto& row : rows) {
        const auto found = inSection("ENTITIES", row.type);
        ASSERT_LT(row.index, found.size()) << row.type;
        const DxfObject& o = *found[row.index];
        const std::string expected = version() >= row.since ? row.value : "";
        EXPECT_EQ(o.has(row.code) ? o.value(row.code) : "", expected) << row.type << " " << row.index << " " << row.code;
    }
    const DxfObject& spline = *inSection("ENTITIES", "SPLINE").at(0);
    EXPECT_EQ(spline.values(40), (std::vector<std::string>{"0.0", "0.0", "0.0", "0.0", "1.0", "1.0", "1.0", "2.0",
                                                           "2.0", "2.0", "2.0"}));
    EXPECT_EQ(spline.values(20), (std::vector<std::string>{"150.0", "170.0", "170.0", "150.0", "130.0", "130.0", "150.0"}));
    const DxfObject& hatch = *inSection("ENTITIES", "HATCH").at(0);
    EXPECT_EQ(hatch.values(92), (std::vector<std::string>{"2", "0"}));
    EXPECT_EQ(hatch.values(72), (std::vector<std::string>{"0", "1", "4", "1", "1"}));
    EXPECT_EQ(hatch.values(40), (std::vector<std::string>{"0.0", "0.0", "0.0", "0.0", "1.0", "1.0", "1.0", "1.0"}));
    EXPECT_EQ(hatch.values(97).size(), version() >= 23 ? 3u : 2u);  // 2010: the fit points of a spline edge
    for (const auto* e : inSection("ENTITIES")) {
        const int aci = std::stoi(e->value(62));
        EXPECT_TRUE(aci >= 1 && aci <= 255) << e->type << " colour " << aci;
        EXPECT_EQ(e->has(370), e->type != "TEXT" && e->type != "HATCH" && !r14()) << e->type;
    }
    std::map<std::string, int> counts;
    for (const auto* e : inSection("ENTITIES"))
        ++counts[e->type];
    EXPECT_EQ(counts, primitivesCounts());  // degenerate shapes left out
}

INSTANTIATE_TEST_SUITE_P(AllVersions, DxfStructure, ::testing::ValuesIn(kVersions),
                         [](const auto& row) { return "v" + std::to_string(row.param); });

// One shape in its own drawing: what the ENTITIES section holds for it.
std::vector<DxfObject> entitiesOf(const Geometry& g, int version = 15, Style style = {})
{
    Drawing d;
    d.widthMm = d.heightMm = 100;
    d.entities.push_back({std::move(style), g});
    std::vector<DxfObject> result;
    for (auto& o : splitObjects(collectTags(d, version)))
        if (o.section == "ENTITIES" && o.type != "SECTION" && o.type != "ENDSEC")
            result.push_back(std::move(o));
    return result;
}

TEST(DxfEntities, ShapesNormalisedOrLeftOut)
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
        {"ellipse across zero", Ellipse{{0, 0}, {4, 0}, 0.5, 1.5 * pi, 0.5 * pi}, "ELLIPSE",
         {{41, "4.71238898038469"}, {42, "1.5707963267948966"}}},
        {"mirrored ellipse", Ellipse{{0, 0}, {4, 0}, -0.5, 0, 1}, "ELLIPSE",
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
        ASSERT_EQ(written.size(), row.type ? 1u : 0u);
        for (const auto& [code, value] : row.values)
            EXPECT_EQ(written[0].value(code), value) << code;
        if (row.type) {
            EXPECT_EQ(written[0].type, row.type);
        }
    }
}

TEST(DxfTables, AStrokeFontFileNameStaysOneValue)
{
    Drawing d;
    d.textStyles = {{"S", "rom\r\nans.shx"}};
    for (int version : kVersions)
        EXPECT_NE(dxfToString(d, version).find("\nrom  ans.shx\n"), std::string::npos) << version;
}

TEST(DxfEntities, LongTextCutLineweightSnappedAndTrueColourKept)
{
    for (int version : kVersions) {
        const auto written = entitiesOf(Text{std::string(3000, 'a'), {0, 0}, 2, 0, 1, "Standard"}, version);
        EXPECT_EQ(written.at(0).value(1).size(), version == 14 ? 255u : 1000u) << version;
    }
    const auto coloured = entitiesOf(Line{{0, 0}, {1, 1}}, 23, {"0", {10, 20, 30}, 0.33}).at(0);
    EXPECT_EQ(coloured.value(370), "35");
    EXPECT_EQ(coloured.value(420), std::to_string(10 * 65536 + 20 * 256 + 30));
    EXPECT_EQ(coloured.value(62), std::to_string(nearestAci({10, 20, 30})));
    const auto white = entitiesOf(Line{{0, 0}, {1, 1}}, 23, {"0", {255, 255, 255}, 0.0}).at(0);
    EXPECT_EQ(white.value(370), "0");
    EXPECT_EQ(white.value(62), "7");
    EXPECT_FALSE(white.has(420));
}

TEST(DxfWriter, UnknownVersionsEmptyDrawingsAndStreamOutput)
{
    for (std::int64_t code : {0, 12, 16, 22, 24, -1})
        EXPECT_THROW(dxfToString(Drawing{}, code), std::invalid_argument) << code;
    Drawing empty;
    empty.widthMm = 210;
    empty.heightMm = 297;
    auto header = headerVariables(collectTags(empty, 15));  // the page as extents
    EXPECT_EQ(header["$EXTMIN"], (Tags{{10, "0.0"}, {20, "0.0"}, {30, "0.0"}}));
    EXPECT_EQ(header["$EXTMAX"], (Tags{{10, "210.0"}, {20, "297.0"}, {30, "0.0"}}));
    // The stream gives the collected tags, codes right-aligned in three columns.
    std::string expected;
    for (const auto& [code, value] : collectTags(primitivesDrawing(), 18)) {
        const std::string c = std::to_string(code);
        expected += std::string(c.size() < 3 ? 3 - c.size() : 0, ' ') + c + "\n" + value + "\n";
    }
    EXPECT_EQ(dxfToString(primitivesDrawing(), 18), expected);
}

} // namespace
} // namespace unplot::engine::dxf::test
