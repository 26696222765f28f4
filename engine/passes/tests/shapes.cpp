#include "shapes.h"

#include "pdfreader.h"
#include "pipeline.h"
#include "testpdf.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace unplot::engine::testing {
namespace {

Vec2 polar(Vec2 c, double r, double deg)
{
    const double a = deg * std::numbers::pi / 180;
    return {c.x + r * std::cos(a), c.y + r * std::sin(a)};
}

} // namespace

std::string at(Vec2 p)
{
    char s[64];
    std::snprintf(s, sizeof s, "%.6f %.6f ", p.x, p.y);
    return s;
}

std::string flattened(Vec2 center, double radius, int segments, double fromDeg, double toDeg, bool move)
{
    std::string s = move ? at(polar(center, radius, fromDeg)) + "m " : "";
    const bool round = std::abs(toDeg - fromDeg) >= 360;
    for (int i = 1; i <= (round ? segments - 1 : segments); ++i)
        s += at(polar(center, radius, fromDeg + (toDeg - fromDeg) * i / segments)) + "l ";
    return s + (round ? "h " : "");
}

int segmentsFor(double radius, double sweepDeg, double tolerance)
{
    const double step = 2 * std::acos(1 - std::min(1.0, tolerance / radius));
    return std::max(int(std::ceil(sweepDeg / 45)), int(std::ceil(sweepDeg * std::numbers::pi / 180 / step)));
}

std::string bezierArc(Vec2 center, double radius, double fromDeg, double toDeg, bool move, double pieceDeg)
{
    const int pieces = int(std::ceil(std::abs(toDeg - fromDeg) / pieceDeg - 1e-9));
    const double step = (toDeg - fromDeg) / pieces, k = 4.0 / 3 * std::tan(step * std::numbers::pi / 720);
    std::string s = move ? at(polar(center, radius, fromDeg)) + "m " : "";
    for (int i = 0; i < pieces; ++i) {
        const double a = fromDeg + i * step, b = a + step;
        const Vec2 p0 = polar(center, radius, a), p3 = polar(center, radius, b);
        const Vec2 t0 = polar({0, 0}, radius * k, a + 90), t3 = polar({0, 0}, radius * k, b + 90);
        s += at({p0.x + t0.x, p0.y + t0.y}) + at({p3.x - t3.x, p3.y - t3.y}) + at(p3) + "c ";
    }
    return s;
}

std::string dashesAlong(Vec2 a, Vec2 b, const std::vector<double>& pattern)
{
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    auto along = [&](double s) { return Vec2{a.x + (b.x - a.x) * s / length, a.y + (b.y - a.y) * s / length}; };
    std::string out;
    // A dot is drawn as plots draw it: a tiny stroke about its place.
    for (double s = 0; s < length;)
        for (std::size_t i = 0; i < pattern.size() && s < length; s += pattern[i++])
            if (i % 2 == 0 && pattern[i] == 0)
                out += at(along(s - 0.005)) + "m " + at(along(s + 0.005)) + "l ";
            else if (i % 2 == 0)
                out += at(along(s)) + "m " + at(along(std::min(length, s + pattern[i]))) + "l ";
    return out;
}

std::string dashesRound(Vec2 center, double radius, const std::vector<double>& pattern, int segmentsPerCircle)
{
    const double circumference = 2 * std::numbers::pi * radius;
    std::string out;
    for (double s = 0; s < circumference;)
        for (std::size_t i = 0; i < pattern.size() && s < circumference; s += pattern[i++]) {
            if (i % 2 == 1)
                continue;
            const double from = s * 360 / circumference,
                         to = std::min(circumference, s + pattern[i]) * 360 / circumference;
            out += pattern[i] == 0
                       ? at(polar(center, radius, from - 0.005)) + "m " + at(polar(center, radius, from + 0.005)) + "l "
                       : flattened(center, radius, std::max(1, int(std::round((to - from) / 360 * segmentsPerCircle))),
                                   from, to);
        }
    return out;
}

Drawing converted(const std::string& content, const std::vector<std::string>& skipped, double width, double height)
{
    TempDir dir;
    PdfReader reader(dir.write("in.pdf", makePdf({TestPage{content, width, height}})).string());
    Drawing d = reader.readPage(1);
    runPasses(d, skipped);
    return d;
}

} // namespace unplot::engine::testing
