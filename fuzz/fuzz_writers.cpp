// The DXF and DWG writers on drawings decoded from the input: any number of layers, text styles and entities of
// every kind, linetypes, dash arrays and clip regions, with arbitrary names and strings and numbers from tiny to huge,
// infinite and NaN. The passes over the drawing (clipping, text, clean-up, arcs, joins, linetypes) run over half of
// them first, as they do between reading and writing. Each drawing is written as DXF
// and as DWG of one version. With UNPLOT_FUZZ_OUTPUT=PATH, the files are kept as PATH.dxf and
// PATH.dwg, for the independent readers that scripts/fuzz.sh runs on them.

#include "drawing.h"
#include "dwgwriter.h"
#include "dxfwriter.h"
#include "fuzzcheck.h"
#include "pipeline.h"
#include "utf8.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

using namespace unplot::engine;

namespace {

class DrawingDecoder {
public:
    DrawingDecoder(const std::uint8_t* data, std::size_t size) : in_(data, size) {}

    std::int64_t version()
    {
        static constexpr std::int64_t kVersions[] = {14, 15, 18, 21, 23};
        return in_.PickValueInArray(kVersions);
    }
    bool flag() { return in_.ConsumeBool(); }

    Drawing drawing()
    {
        Drawing d;
        d.widthMm = number();
        d.heightMm = number();
        for (int i = in_.ConsumeIntegralInRange(0, 4); i > 0; --i)
            d.layers.push_back({in_.ConsumeRandomLengthString(40), in_.ConsumeBool()});
        for (int i = in_.ConsumeIntegralInRange(0, 3); i > 0; --i)
            d.textStyles.push_back({in_.ConsumeRandomLengthString(40), in_.ConsumeRandomLengthString(40)});
        for (int i = in_.ConsumeIntegralInRange(0, 2); i > 0; --i) {
            Linetype t{in_.ConsumeRandomLengthString(40), in_.ConsumeRandomLengthString(40), {}};
            for (int n = in_.ConsumeIntegralInRange(0, 6); n > 0; --n)
                t.elements.push_back(number());
            d.linetypes.push_back(t);
        }
        // Dash arrays as the reader keeps them: lengths finite and not negative, some of them more than 0.
        for (int i = in_.ConsumeIntegralInRange(0, 2); i > 0; --i) {
            DashArray a{{}, in_.ConsumeFloatingPointInRange(-100.0, 100.0)};
            for (int n = in_.ConsumeIntegralInRange(1, 6); n > 0; --n)
                a.lengths.push_back(in_.ConsumeBool() ? in_.ConsumeFloatingPointInRange(0.0, 1e-6)
                                                      : in_.ConsumeFloatingPointInRange(0.0, 50.0));
            a.lengths.front() += 1e-9;
            d.dashes.push_back(a);
        }
        for (std::uint32_t i = 0, n = in_.ConsumeIntegralInRange(0, 2); i < n; ++i) {
            ClipRegion c{{}, in_.ConsumeBool(), in_.ConsumeIntegralInRange<std::uint32_t>(0, i)};
            for (int rings = in_.ConsumeIntegralInRange(1, 2); rings > 0; --rings) {
                c.rings.emplace_back(); // finite, as the reader keeps them
                for (std::size_t k = in_.ConsumeIntegralInRange<std::size_t>(3, 8); k > 0; --k)
                    c.rings.back().push_back({in_.ConsumeFloatingPointInRange(-2000.0, 2000.0),
                                              in_.ConsumeFloatingPointInRange(-2000.0, 2000.0)});
            }
            d.clips.push_back(c);
        }
        while (in_.remaining_bytes() > 0 && d.entities.size() < 200)
            d.entities.push_back(entity(d));
        return d;
    }

private:
    // Mostly ordinary drawing sizes, sometimes the extremes.
    double number()
    {
        switch (in_.ConsumeIntegralInRange(0, 15)) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return std::numeric_limits<double>::infinity();
        case 2: return -std::numeric_limits<double>::max();
        case 3: return std::numeric_limits<double>::denorm_min();
        case 4: return 0.0;
        case 5: return in_.ConsumeFloatingPoint<double>();
        case 6: return in_.ConsumeFloatingPointInRange(-1e-9, 1e-9);
        case 7: return in_.ConsumeFloatingPointInRange(-1e12, 1e12);
        default: return in_.ConsumeFloatingPointInRange(-2000.0, 2000.0);
        }
    }
    Vec2 point() { return {number(), number()}; }
    std::vector<Vec2> points(std::size_t count)
    {
        std::vector<Vec2> result;
        for (std::size_t i = 0; i < count; ++i)
            result.push_back(point());
        return result;
    }

    Entity entity(const Drawing& d)
    {
        Entity e;
        const std::size_t layer = in_.ConsumeIntegralInRange<std::size_t>(0, d.layers.size());
        e.style.layer = layer == d.layers.size() ? "0" : d.layers[layer].name;
        e.style.color = {in_.ConsumeIntegral<std::uint8_t>(), in_.ConsumeIntegral<std::uint8_t>(),
                         in_.ConsumeIntegral<std::uint8_t>()};
        e.style.lineWidthMm = number();
        const std::size_t linetype = in_.ConsumeIntegralInRange<std::size_t>(0, d.linetypes.size());
        if (linetype < d.linetypes.size())
            e.style.linetype = d.linetypes[linetype].name;
        e.style.dash = in_.ConsumeIntegralInRange<std::uint32_t>(0, std::uint32_t(d.dashes.size()));
        e.style.clip = in_.ConsumeIntegralInRange<std::uint32_t>(0, std::uint32_t(d.clips.size()));
        switch (in_.ConsumeIntegralInRange(0, 7)) {
        case 0: e.geometry = Line{point(), point()}; break;
        case 1: {
            Polyline p{points(in_.ConsumeIntegralInRange<std::size_t>(2, 40)), in_.ConsumeBool()};
            if (in_.ConsumeBool())
                for (std::size_t i = 0; i < p.points.size(); ++i)
                    p.bulges.push_back(in_.ConsumeBool() ? 0.0 : number());
            e.geometry = p;
            break;
        }
        case 2: {
            BezierSpline spline{points(3 * in_.ConsumeIntegralInRange<std::size_t>(1, 12) + 1), in_.ConsumeBool()};
            if (spline.closed)
                spline.points.back() = spline.points.front();
            e.geometry = spline;
            break;
        }
        case 3: e.geometry = Circle{point(), number()}; break;
        case 4: e.geometry = Arc{point(), number(), number(), number()}; break;
        case 5: e.geometry = Ellipse{point(), point(), number(), number(), number()}; break;
        case 6: {
            Text text{in_.ConsumeRandomLengthString(80), point(), number(), number(), number(), "Standard"};
            const std::size_t style = in_.ConsumeIntegralInRange<std::size_t>(0, d.textStyles.size());
            if (style < d.textStyles.size())
                text.style = d.textStyles[style].name;
            e.geometry = text;
            break;
        }
        default: {
            Hatch hatch;
            hatch.evenOdd = in_.ConsumeBool();
            for (int loops = in_.ConsumeIntegralInRange(0, 4); loops > 0; --loops) {
                Loop loop{point(), {}};
                for (int n = in_.ConsumeIntegralInRange(0, 10); n > 0; --n) {
                    PathSegment s;
                    s.kind = in_.ConsumeBool() ? PathSegment::Kind::Cubic : PathSegment::Kind::Line;
                    if (s.kind == PathSegment::Kind::Cubic) {
                        s.c1 = point();
                        s.c2 = point();
                    }
                    s.end = point();
                    loop.segments.push_back(s);
                }
                hatch.loops.push_back(loop);
            }
            e.geometry = hatch;
        }
        }
        return e;
    }

    FuzzedDataProvider in_;
};

// The DXF as a reader splits it: pairs of lines, a group code (a number) and its value, ending in "0" "EOF". From
// 2007 on the file is UTF-8.
void checkDxf(const std::string& dxf, std::int64_t version)
{
    std::size_t pos = 0, lines = 0;
    std::string_view code, value;
    while (pos < dxf.size()) {
        const std::size_t end = dxf.find('\n', pos);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view line(dxf.data() + pos, end - pos);
        FUZZ_CHECK(line.find('\r') == std::string_view::npos);
        if (lines++ % 2 == 0) {
            code = line.substr(std::min(line.find_first_not_of(' '), line.size()));
            FUZZ_CHECK(!code.empty() && code.size() <= 4 && code.find_first_not_of("0123456789") == std::string_view::npos);
        } else {
            value = line;
        }
        pos = end + 1;
    }
    FUZZ_CHECK(lines % 2 == 0 && code == "0" && value == "EOF");
    if (version >= 21)
        for (std::size_t i = 0; i < dxf.size();) {
            const std::size_t start = i;
            FUZZ_CHECK(nextCodePoint(dxf, i) != kReplacementCharacter || i - start == 3); // not malformed
        }
}

void keep(const char* extension, const char* bytes, std::size_t size)
{
    static const char* path = std::getenv("UNPLOT_FUZZ_OUTPUT");
    if (path)
        std::ofstream(path + std::string(extension), std::ios::binary).write(bytes, std::streamsize(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DrawingDecoder decoder(data, size);
    const std::int64_t version = decoder.version();
    const bool passes = decoder.flag();
    Drawing drawing = decoder.drawing();
    if (passes)
        runPasses(drawing);

    const std::string dxf = dxfToString(drawing, version);
    const std::vector<std::uint8_t> dwg = writeDwg(drawing, version);
    checkDxf(dxf, version);
    FUZZ_CHECK(dwg.size() > 6 && dwg[0] == 'A' && dwg[1] == 'C');
    keep(".dxf", dxf.data(), dxf.size());
    keep(".dwg", reinterpret_cast<const char*>(dwg.data()), dwg.size());
    return 0;
}
