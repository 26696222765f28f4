#include "sampledrawings.h"

#include <cmath>
#include <random>

namespace unplot::test {

using namespace engine;
using K = PathSegment::Kind;

Drawing primitivesDrawing()
{
    const double nan = std::nan("");
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
    const Loop outer{{100, 0}, {{K::Line, {}, {}, {140, 0}}, {K::Line, {}, {}, {140, 40}}, {K::Line, {}, {}, {100, 40}}}};
    const Loop inner{{110, 10}, {{K::Line, {}, {}, {130, 10}}, {K::Line, {}, {}, {130, 30}}, {K::Line, {}, {}, {110, 30}}}};

    d.entities = {
        {red, Line{{10, 10}, {110, 60}}},
        {red, Line{{5, 5}, {5, 5}}}, // zero length: not written
        {hidden, Line{{100, 7}, {7.001, 50}}},  // an end whose x shares its high bytes with the start's y
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
        {text, Text{"Plain ASCII", {20, 270}, 2.5, 0, 0.8, "Times-Roman", 0, 15}}, // condensed, slanting
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
        {{"no such layer", {12, 200, 99}, 2.0}, Line{{10, 10}, {10, 10.000001}}},  // on layer 0
        {red, Line{{nan, 5}, {5, 6}}},              // not written
        {red, Arc{{1, 1}, 5, 10, 10}},              // no sweep: not written
        {red, Ellipse{{1, 1}, {0, 0}, 0.5, 0, 1}},  // no axis: not written
        {fill, Hatch{}},                            // no loops: not written
        {red, Arc{{60, 60}, 5, -90, 270}},          // a full turn: a circle
        {red, Ellipse{{80, 80}, {6, 0}, -0.5, 0.2, 1.2}},
        {red, Ellipse{{1, 1}, {0, -1.7e308}, 2, 0, 1}},  // its swapped axis overflows: not written
        {red, Ellipse{{90, 90}, {4000, 0}, 1e-9, 0, 1}},  // too flat for readers: written at the flattest they take
        {fill, Hatch{{outer, inner}, false}},  // non-zero, nested, same direction: the outer loop only
        // Linetypes, and polylines with arcs: a slot (two half circles) on a dash-dot linetype, a lens.
        {{"0", {}, 0.25, "Center"}, Polyline{{{20, 200}, {60, 200}, {60, 220}, {20, 220}}, true, {0, 1, 0, -1}}},
        {{"0", {}, 0.25, "DASHED"}, Line{{10, 240}, {200, 240}}},
        {walls, Polyline{{{100, 300}, {120, 300}}, true, {0.3, 0.3}}},
    };
    d.linetypes = {{"Center", "____ _ ____", {12, -3, 3, -3}}, {"DASHED", "__ __", {6, -3}}};
    return d;
}

std::map<std::string, int> primitivesCounts(int copies)
{
    std::map<std::string, int> counts = {{"LINE", 4}, {"LWPOLYLINE", 4}, {"SPLINE", 2}, {"CIRCLE", 2},
                                         {"ARC", 1},  {"ELLIPSE", 4},    {"TEXT", 2},   {"HATCH", 3}};
    for (auto& [type, n] : counts)
        n *= copies;
    return counts;
}

Drawing largeDrawing(int copies)
{
    const Drawing base = primitivesDrawing();
    Drawing d = base;
    d.entities.clear();
    for (int i = 0; i < copies; ++i)
        for (Entity e : base.entities) {
            e.style.color = Rgb{std::uint8_t(i * 7), std::uint8_t(255 - i), std::uint8_t(i * 13)};
            d.entities.push_back(std::move(e));
        }
    return d;
}

Drawing hugeDrawing()
{
    Drawing d;
    d.widthMm = 841;
    d.heightMm = 594;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> jitter(0, 1);
    Polyline wave;
    for (int i = 0; i < 6000; ++i)
        wave.points.push_back({i * 0.14 + jitter(rng) * 0.01, 300 + 50 * std::sin(i * 0.013) + jitter(rng)});
    Hatch dots;
    for (int i = 0; i < 800; ++i) {
        const double x = 10 + (i % 50) * 16 + jitter(rng), y = 10 + (i / 50) * 9 + jitter(rng);
        Loop loop{{x, y}, {}};
        for (Vec2 p : {Vec2{x + 3.3 + jitter(rng), y}, Vec2{x + 3.1, y + 2.7 + jitter(rng)}, Vec2{x, y + 2.9}})
            loop.segments.push_back({K::Line, {}, {}, p});
        dots.loops.push_back(loop);
    }
    d.entities = {{{"0", {}, 0.25}, wave}, {{"0", {}, 0.25}, dots}};
    return d;
}

}  // namespace unplot::test
