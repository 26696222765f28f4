#include "dxftestsupport.h"

#include <algorithm>

namespace unplot::engine::dxf::test {

std::string DxfObject::value(int code) const
{
    for (const auto& [c, v] : tags)
        if (c == code)
            return v;
    return {};
}

std::vector<std::string> DxfObject::values(int code) const
{
    std::vector<std::string> result;
    for (const auto& [c, v] : tags)
        if (c == code)
            result.push_back(v);
    return result;
}

bool DxfObject::has(int code) const
{
    return std::any_of(tags.begin(), tags.end(), [code](const auto& t) { return t.first == code; });
}

Tags collectTags(const Drawing& drawing, int version)
{
    CollectingTagSink sink;
    writeDxfTags(drawing, version, sink);
    return std::move(sink.tags);
}

std::vector<DxfObject> splitObjects(const Tags& tags)
{
    std::vector<DxfObject> objects;
    std::string section;
    bool sectionName = false;
    for (const auto& tag : tags) {
        if (tag.first == 0) {
            if (tag.second == "SECTION")
                sectionName = true;
            objects.push_back({section, tag.second, {}});
        } else if (sectionName && tag.first == 2) {
            section = tag.second;
            objects.back().section = section;
            sectionName = false;
        }
        if (!objects.empty())
            objects.back().tags.push_back(tag);
    }
    return objects;
}

std::map<std::string, Tags> headerVariables(const Tags& tags)
{
    std::map<std::string, Tags> result;
    Tags* current = nullptr;
    for (const auto& tag : tags) {
        if (tag.first == 0 && tag.second == "ENDSEC")
            break;
        if (tag.first == 9)
            current = &result[tag.second];
        else if (current)
            current->push_back(tag);
    }
    return result;
}

Drawing primitivesDrawing()
{
    using K = PathSegment::Kind;
    Drawing d;
    d.pageNumber = 3;
    d.widthMm = 420;
    d.heightMm = 297;
    d.layers = {{"Walls <outer>", true}, {"Hidden", false}, {"Ébauche 北", true}};
    d.textStyles = {{"Helvetica", "Helvetica"}, {"Times-Roman", "Times-Roman"}};

    Style red{"0", {255, 0, 0}, 0.35};
    Style walls{"Walls <outer>", {0, 0, 0}, 0.7};
    Style hidden{"Hidden", {20, 120, 200}, 0.1};
    Style text{"Ébauche 北", {0, 0, 0}, 0};
    Style fill{"0", {0, 160, 0}, 0};

    d.entities = {
        {red, Line{{10, 10}, {110, 60}}},
        {red, Line{{5, 5}, {5, 5}}}, // zero length: not written
        {walls, Polyline{{{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}}, true}},
        {walls, Polyline{{{200, 10}, {200, 10}, {250, 20}, {300, 10}}, false}},
        {walls, Polyline{{{7, 7}, {7, 7}}, false}}, // one point: not written
        {hidden, BezierSpline{{{0, 150}, {10, 170}, {30, 170}, {40, 150}, {50, 130}, {70, 130}, {80, 150}}, false}},
        {hidden, BezierSpline{{{100, 150}, {140, 190}, {180, 150}, {100, 150}}, true}},
        {hidden, BezierSpline{{{1, 1}, {1, 1}, {1, 1}, {1, 1}}, false}}, // a point: not written
        {red, Circle{{300, 200}, 25}},
        {red, Circle{{300, 200}, 0}}, // not written
        {red, Arc{{300, 200}, 40, 10, 200}},
        {red, Ellipse{{150, 250}, {40, 0}, 0.5, 0, 3}},
        {red, Ellipse{{250, 250}, {10, 10}, 2.0, 0, 6.283185307179586}},
        {text, Text{"Ø 25 ±0.1 µm 北", {20, 280}, 3.5, 30, 1, "Helvetica"}},
        {text, Text{"Plain ASCII", {20, 270}, 2.5, 0, 0.8, "Times-Roman"}},
        {text, Text{"", {20, 260}, 2.5, 0, 1, "Standard"}}, // empty: not written
        {fill,
         Hatch{{Loop{{0, 0}, {{K::Line, {}, {}, {50, 0}}, {K::Line, {}, {}, {50, 50}}, {K::Line, {}, {}, {0, 50}}}},
                Loop{{10, 10},
                     {{K::Line, {}, {}, {30, 10}},
                      {K::Cubic, {40, 20}, {40, 30}, {30, 30}},
                      {K::Line, {}, {}, {10, 30}}}}},
               true}},
        {fill, Hatch{{Loop{{60, 60}, {{K::Cubic, {80, 90}, {100, 90}, {120, 60}}}}}, false}},
        {fill, Hatch{{Loop{{5, 5}, {{K::Line, {}, {}, {5, 5}}}}}, false}}, // degenerate: not written
    };
    return d;
}

std::map<std::string, int> primitivesCounts()
{
    return {{"LINE", 1}, {"LWPOLYLINE", 2}, {"SPLINE", 2}, {"CIRCLE", 1},
            {"ARC", 1},  {"ELLIPSE", 2},    {"TEXT", 2},   {"HATCH", 2}};
}

Drawing largeDrawing(int copies)
{
    const Drawing base = primitivesDrawing();
    Drawing d = base;
    d.entities.clear();
    d.widthMm = 841;
    d.heightMm = 594;
    for (int i = 0; i < copies; ++i) {
        const double dx = (i % 20) * 0.5, dy = (i / 20) * 0.5;
        for (Entity e : base.entities) {
            std::visit(
                [&](auto& g) {
                    auto shift = [&](Vec2& p) { p.x += dx, p.y += dy; };
                    using G = std::decay_t<decltype(g)>;
                    if constexpr (std::is_same_v<G, Line>)
                        shift(g.a), shift(g.b);
                    else if constexpr (std::is_same_v<G, Polyline> || std::is_same_v<G, BezierSpline>)
                        std::for_each(g.points.begin(), g.points.end(), shift);
                    else if constexpr (std::is_same_v<G, Text>)
                        shift(g.insertion);
                    else if constexpr (std::is_same_v<G, Hatch>)
                        for (Loop& loop : g.loops) {
                            shift(loop.start);
                            for (PathSegment& s : loop.segments)
                                shift(s.c1), shift(s.c2), shift(s.end);
                        }
                    else
                        shift(g.center);
                },
                e.geometry);
            e.style.color = Rgb{std::uint8_t(i * 7), std::uint8_t(255 - i), std::uint8_t(i * 13)};
            d.entities.push_back(std::move(e));
        }
    }
    return d;
}

} // namespace unplot::engine::dxf::test
