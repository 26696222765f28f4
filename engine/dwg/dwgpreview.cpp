#include "dwgpreview.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace unplot::engine::dwg {
namespace {

constexpr int kWidth = 184, kHeight = 126;  // as real files of these versions store it
constexpr std::uint8_t kImageBegin[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                          0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
constexpr std::uint8_t kImageEnd[16] = {0xE0, 0xDA, 0x92, 0xF8, 0x2B, 0xC9, 0xD7, 0xD7,
                                        0x62, 0xA8, 0x35, 0xC0, 0x62, 0xBB, 0xEF, 0xD4};

void putRL(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}

// The page on 8-bit pixels, bottom row first: white (index 0), and the 216 colours of a 6x6x6 cube from index 1.
class Canvas {
public:
    Canvas(double width, double height)
    {
        scale_ = std::min((kWidth - 2) / std::max(width, 1e-9), (kHeight - 2) / std::max(height, 1e-9));
        x0_ = (kWidth - width * scale_) / 2;
        y0_ = (kHeight - height * scale_) / 2;
    }
    void setColor(Rgb c)
    {
        if (c.r > 230 && c.g > 230 && c.b > 230)  // white on white: drawn black, as CAD programs show it
            c = {0, 0, 0};
        color_ = std::uint8_t(1 + (c.r + 25) / 51 * 36 + (c.g + 25) / 51 * 6 + (c.b + 25) / 51);
    }
    void line(Vec2 a, Vec2 b)
    {
        const double ax = x0_ + a.x * scale_, ay = y0_ + a.y * scale_, bx = x0_ + b.x * scale_, by = y0_ + b.y * scale_;
        if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by))
            return;  // a point no page has (or a page of no size): nothing to see
        const int steps = int(std::min(std::ceil(std::max(std::fabs(bx - ax), std::fabs(by - ay))), 2.0 * kWidth));
        for (int i = 0; i <= steps; ++i) {
            const double t = steps == 0 ? 0 : double(i) / steps;
            const long x = std::lround(ax + (bx - ax) * t), y = std::lround(ay + (by - ay) * t);
            if (x >= 0 && x < kWidth && y >= 0 && y < kHeight)
                pixels_[std::size_t(y) * kWidth + std::size_t(x)] = color_;
        }
    }
    // A curve through `point(t)`, t from 0 to 1, in straight pieces.
    template <typename F>
    void curve(F point, int pieces = 24)
    {
        Vec2 from = point(0.0);
        for (int i = 1; i <= pieces; ++i) {
            const Vec2 to = point(double(i) / pieces);
            line(from, to);
            from = to;
        }
    }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

private:
    double scale_, x0_, y0_;
    std::uint8_t color_ = 0;
    std::vector<std::uint8_t> pixels_ = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight, 0);
};

struct Painter {
    Canvas& canvas;
    void operator()(const Line& g) { canvas.line(g.a, g.b); }
    void operator()(const Polyline& g)
    {
        for (std::size_t i = 1; i < g.points.size(); ++i)
            canvas.line(g.points[i - 1], g.points[i]);
        if (g.closed)
            canvas.line(g.points.back(), g.points.front());
    }
    void operator()(const BezierSpline& g)
    {
        for (std::size_t i = 0; i + 3 < g.points.size(); i += 3)
            canvas.curve([&](double t) { return bezierPoint(g.points[i], g.points[i + 1], g.points[i + 2], g.points[i + 3], t); },
                         8);
    }
    void ellipse(Vec2 c, Vec2 major, double ratio, double from, double to)
    {
        canvas.curve([&](double t) {
            const double a = from + (to - from) * t;
            return Vec2{c.x + major.x * std::cos(a) - major.y * ratio * std::sin(a),
                        c.y + major.y * std::cos(a) + major.x * ratio * std::sin(a)};
        });
    }
    void operator()(const Circle& g) { ellipse(g.center, {g.radius, 0}, 1, 0, 2 * std::numbers::pi); }
    void operator()(const Arc& g)
    {
        const double end = g.endAngleDeg >= g.startAngleDeg ? g.endAngleDeg : g.endAngleDeg + 360;
        ellipse(g.center, {g.radius, 0}, 1, g.startAngleDeg * std::numbers::pi / 180, end * std::numbers::pi / 180);
    }
    void operator()(const Ellipse& g) { ellipse(g.center, g.majorAxis, g.ratio, g.startParam, g.endParam); }
    void operator()(const Text& g)  // its baseline
    {
        const double length = g.lengthMm > 0 ? g.lengthMm : 0.6 * g.height * g.widthFactor * double(g.utf8.size());
        const double a = g.rotationDeg * std::numbers::pi / 180;
        canvas.line(g.insertion, {g.insertion.x + length * std::cos(a), g.insertion.y + length * std::sin(a)});
    }
    void operator()(const Hatch& g)  // its outline
    {
        for (const Loop& loop : g.loops) {
            Vec2 at = loop.start;
            for (const PathSegment& s : loop.segments) {
                if (s.kind == PathSegment::Kind::Line)
                    canvas.line(at, s.end);
                else
                    canvas.curve([&](double t) { return bezierPoint(at, s.c1, s.c2, s.end, t); }, 8);
                at = s.end;
            }
            canvas.line(at, loop.start);
        }
    }
};

}  // namespace

std::vector<std::uint8_t> previewImage(const std::vector<std::pair<const Geometry*, Rgb>>& shapes, double widthMm,
                                       double heightMm, std::uint32_t base)
{
    Canvas canvas(widthMm, heightMm);
    for (const auto& [geometry, color] : shapes) {
        canvas.setColor(color);
        std::visit(Painter{canvas}, *geometry);
    }

    // A device-independent bitmap: its header, the palette (blue, green, red, 0), the rows.
    std::vector<std::uint8_t> bitmap;
    for (std::uint32_t v : {40u, std::uint32_t(kWidth), std::uint32_t(kHeight)})
        putRL(bitmap, v);
    bitmap.insert(bitmap.end(), {1, 0, 8, 0});  // one plane, 8 bits a pixel
    for (std::uint32_t v : {0u, std::uint32_t(kWidth * kHeight), 1u, 1u, 256u, 0u})
        putRL(bitmap, v);
    bitmap.insert(bitmap.end(), {0xff, 0xff, 0xff, 0});
    for (int i = 0; i < 255; ++i) {
        const int c = i < 216 ? i : 0;
        bitmap.insert(bitmap.end(), {std::uint8_t(c % 6 * 51), std::uint8_t(c / 6 % 6 * 51), std::uint8_t(c / 36 * 51), 0});
    }
    bitmap.insert(bitmap.end(), canvas.pixels().begin(), canvas.pixels().end());

    // The section: sentinel, size, two entries (an empty header record of 80 bytes, the bitmap), sentinel. Entries
    // give where their data is in the file.
    constexpr std::uint32_t kHeaderBytes = 80;
    std::vector<std::uint8_t> out(kImageBegin, kImageBegin + 16);
    putRL(out, std::uint32_t(1 + 2 * 9 + kHeaderBytes + bitmap.size()));
    out.push_back(2);
    const std::uint32_t headerAt = base + 16 + 4 + 1 + 2 * 9;
    out.push_back(1);
    putRL(out, headerAt);
    putRL(out, kHeaderBytes);
    out.push_back(2);
    putRL(out, headerAt + kHeaderBytes);
    putRL(out, std::uint32_t(bitmap.size()));
    out.insert(out.end(), kHeaderBytes, 0);
    out.insert(out.end(), bitmap.begin(), bitmap.end());
    out.insert(out.end(), kImageEnd, kImageEnd + 16);
    return out;
}

}  // namespace unplot::engine::dwg
