// The drawing's entities, all in model space.
#include "dwgbuilder.h"
#include "dwgshapes.h"
#include "dwgtext.h"

#include <cmath>
#include <numbers>
#include <unordered_map>

namespace unplot::engine::dwg {
namespace {

constexpr int kLineweights[] = {0, 5, 9, 13, 15, 18, 20, 25, 30, 35, 40, 50, 53, 60, 70, 80, 90, 100, 106, 120, 140, 158, 200, 211};
constexpr std::uint8_t kLineweightByLayer = 29;

// The file's lineweight index for a width in hundredths of a millimetre.
std::uint8_t lineweightIndex(int hundredths)
{
    for (std::size_t i = 0; i < std::size(kLineweights); ++i)
        if (kLineweights[i] == hundredths)
            return std::uint8_t(i);
    return kLineweightByLayer;
}

double radians(double deg) { return deg * std::numbers::pi / 180.0; }
bool same(Vec2 a, Vec2 b) { return std::fabs(a.x - b.x) <= kEpsilon && std::fabs(a.y - b.y) <= kEpsilon; }

// Knots of a clamped cubic through n Bézier segments: 0,0,0,0, 1,1,1, ..., n,n,n,n.
std::vector<double> bezierKnots(std::size_t segments)
{
    std::vector<double> knots(4, 0.0);
    for (std::size_t i = 1; i < segments; ++i)
        knots.insert(knots.end(), 3, double(i));
    knots.insert(knots.end(), 4, double(segments));
    return knots;
}

struct GeometryWriter {
    ObjectWriter& w;  // for the strings
    BitWriter& d;
    bool r2000;
    bool r2004;
    bool linetyped;  // the entity has a linetype of its own

    void operator()(const Line& g)
    {
        if (!r2000) {
            d.write3BD(g.a.x, g.a.y, 0);
            d.write3BD(g.b.x, g.b.y, 0);
            d.writeBD(0);
            d.write3BD(0, 0, 1);
            return;
        }
        d.writeB(true);  // both z are 0
        d.writeRD(g.a.x);
        d.writeDD(g.b.x, g.a.x);
        d.writeRD(g.a.y);
        d.writeDD(g.b.y, g.a.y);
        d.writeBT(0, r2000);
        d.writeBE(0, 0, 1, r2000);
    }
    void operator()(const Polyline& g)
    {
        // Closed (512); with bulges (16); a linetype that runs on across the vertices (256), as a PDF dash pattern
        // does along a subpath.
        const bool bulges = !g.bulges.empty();
        d.writeBS(std::uint16_t((g.closed ? 512 : 0) | (bulges ? 16 : 0) | (linetyped ? 256 : 0)));
        d.writeBL(std::uint32_t(g.points.size()));
        if (bulges)
            d.writeBL(std::uint32_t(g.bulges.size()));
        // R14 stores every point raw; R2000 the first, then each as a change from the one before.
        for (std::size_t i = 0; i < g.points.size(); ++i) {
            if (i == 0 || !r2000) {
                d.write2RD(g.points[i].x, g.points[i].y);
            } else {
                d.writeDD(g.points[i].x, g.points[i - 1].x);
                d.writeDD(g.points[i].y, g.points[i - 1].y);
            }
        }
        for (double b : g.bulges)
            d.writeBD(b);
    }
    void operator()(const BezierSpline& g)
    {
        const std::size_t segments = (g.points.size() - 1) / 3;
        const std::vector<double> knots = bezierKnots(segments);
        d.writeBS(1);  // defined by control points
        d.writeBS(3);  // degree
        d.writeB(false);  // rational
        d.writeB(false);  // not closed: the knots stay clamped for a closed chain too
        d.writeB(false);  // periodic
        d.writeBD(1e-10);  // knot tolerance
        d.writeBD(1e-10);  // control point tolerance
        d.writeBL(std::uint32_t(knots.size()));
        d.writeBL(std::uint32_t(3 * segments + 1));
        d.writeB(false);  // no weights
        for (double k : knots)
            d.writeBD(k);
        for (std::size_t i = 0; i < 3 * segments + 1; ++i)
            d.write3BD(g.points[i].x, g.points[i].y, 0);
    }
    void operator()(const Circle& g)
    {
        d.write3BD(g.center.x, g.center.y, 0);
        d.writeBD(g.radius);
        d.writeBT(0, r2000);
        d.writeBE(0, 0, 1, r2000);
    }
    void operator()(const Arc& g)
    {
        d.write3BD(g.center.x, g.center.y, 0);
        d.writeBD(g.radius);
        d.writeBT(0, r2000);
        d.writeBE(0, 0, 1, r2000);
        d.writeBD(radians(g.startAngleDeg));
        d.writeBD(radians(g.endAngleDeg));
    }
    void operator()(const Ellipse& g)
    {
        d.write3BD(g.center.x, g.center.y, 0);
        d.write3BD(g.majorAxis.x, g.majorAxis.y, 0);
        d.write3BD(0, 0, 1);
        d.writeBD(g.ratio);
        d.writeBD(g.startParam);
        d.writeBD(g.endParam);
    }
    void operator()(const Text& g)
    {
        const double rotation = radians(g.rotationDeg);
        if (r2000) {
            // Data flags: elevation, alignment point, generation and alignments left out; oblique angle, rotation
            // and width factor where not their defaults.
            const double oblique = radians(g.obliqueDeg);
            std::uint8_t flags = 0x01 | 0x02 | 0x20 | 0x40 | 0x80;
            if (oblique == 0)
                flags |= 0x04;
            if (rotation == 0)
                flags |= 0x08;
            if (g.widthFactor == 1)
                flags |= 0x10;
            d.writeRC(flags);
            d.write2RD(g.insertion.x, g.insertion.y);
            d.writeBE(0, 0, 1, true);
            d.writeBT(0, true);
            if (oblique != 0)
                d.writeRD(oblique);
            if (rotation != 0)
                d.writeRD(rotation);
            d.writeRD(g.height);
            if (g.widthFactor != 1)
                d.writeRD(g.widthFactor);
            w.text(g.utf8);
            return;
        }
        d.writeBD(0);  // elevation
        d.write2RD(g.insertion.x, g.insertion.y);
        d.write2RD(0, 0);  // alignment point
        d.write3BD(0, 0, 1);
        d.writeBD(0);  // thickness
        d.writeBD(radians(g.obliqueDeg));
        d.writeBD(rotation);
        d.writeBD(g.height);
        d.writeBD(g.widthFactor);
        w.text(g.utf8);
        d.writeBS(0);
        d.writeBS(0);
        d.writeBS(0);
    }
    void operator()(const Hatch& g)
    {
        if (r2004) {
            d.writeBL(0);  // not a gradient
            d.writeBL(0);
            d.writeBD(0);  // gradient angle
            d.writeBD(0);  // gradient shift
            d.writeBL(0);  // single colour
            d.writeBD(0);  // tint
            d.writeBL(0);  // no gradient colours
            w.text("");
        }
        d.writeBD(0);  // elevation
        d.write3BD(0, 0, 1);
        w.text("SOLID");
        d.writeB(true);   // solid fill
        d.writeB(false);  // not associative
        d.writeBL(std::uint32_t(g.loops.size()));
        for (const Loop& loop : g.loops) {
            bool straight = true;
            for (const PathSegment& s : loop.segments)
                straight = straight && s.kind == PathSegment::Kind::Line;
            if (straight) {
                d.writeBL(0x2);  // polyline
                d.writeB(false);       // no bulges
                d.writeB(true);        // closed
                d.writeBL(std::uint32_t(loop.segments.size() + 1));
                d.write2RD(loop.start.x, loop.start.y);
                for (const PathSegment& s : loop.segments)
                    d.write2RD(s.end.x, s.end.y);
            } else {
                const bool needsClosing = !same(loop.segments.back().end, loop.start);
                d.writeBL(0x0);  // edges
                d.writeBL(std::uint32_t(loop.segments.size() + (needsClosing ? 1 : 0)));
                Vec2 at = loop.start;
                for (const PathSegment& s : loop.segments) {
                    if (s.kind == PathSegment::Kind::Line) {
                        d.writeRC(1);
                        d.write2RD(at.x, at.y);
                        d.write2RD(s.end.x, s.end.y);
                    } else {
                        d.writeRC(4);  // spline: one cubic Bézier
                        d.writeBL(3);
                        d.writeB(false);
                        d.writeB(false);
                        d.writeBL(8);
                        d.writeBL(4);
                        for (double k : {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 1.0, 1.0})
                            d.writeBD(k);
                        for (Vec2 p : {at, s.c1, s.c2, s.end})
                            d.write2RD(p.x, p.y);
                        if (w.r2010()) {
                            // 2010 adds fit data. Given none, LibreDWG reads no further edge of the loop, so the
                            // edge also carries its two ends (on the curve) and the tangent directions there.
                            d.writeBL(2);
                            d.write2RD(at.x, at.y);
                            d.write2RD(s.end.x, s.end.y);
                            d.write2RD(s.c1.x - at.x, s.c1.y - at.y);
                            d.write2RD(s.end.x - s.c2.x, s.end.y - s.c2.y);
                        }
                    }
                    at = s.end;
                }
                if (needsClosing) {  // a line back to the start
                    d.writeRC(1);
                    d.write2RD(at.x, at.y);
                    d.write2RD(loop.start.x, loop.start.y);
                }
            }
            d.writeBL(0);  // no boundary objects
        }
        d.writeBS(0);  // normal style (odd parity): the loops already follow the fill rule
        d.writeBS(1);                  // predefined pattern
        d.writeBL(0);                  // no seed points
    }
};

}  // namespace

std::uint16_t DwgBuilder::entityType(const Geometry& g) const
{
    struct Visitor {
        std::uint16_t operator()(const Line&) const { return type::Line; }
        std::uint16_t operator()(const Polyline&) const { return type::LwPolyline; }
        std::uint16_t operator()(const BezierSpline&) const { return type::Spline; }
        std::uint16_t operator()(const Circle&) const { return type::Circle; }
        std::uint16_t operator()(const Arc&) const { return type::Arc; }
        std::uint16_t operator()(const Ellipse&) const { return type::Ellipse; }
        std::uint16_t operator()(const Text&) const { return type::Text; }
        std::uint16_t operator()(const Hatch&) const { return type::Hatch; }
    };
    return std::visit(Visitor{}, g);
}

void DwgBuilder::writeGeometry(ObjectWriter& w, const Geometry& g, bool linetyped)
{
    std::visit(GeometryWriter{w, w.data(), r2000(), paged(), linetyped}, g);
    if (const auto* text = std::get_if<Text>(&g)) {
        const auto it = styleByName_.find(text->style);
        w.refs().writeH(HandleCode::HardPointer, it != styleByName_.end() ? it->second : handle::StyleStandard);
    }
}

void DwgBuilder::writeEntities()
{
    const std::size_t count = kept_.size(), images = drawing_.images.size(), total = images + count;
    std::unordered_map<std::uint32_t, std::uint16_t> aci;  // drawings use few colours: look each up once
    for (std::size_t i = 0; i < count; ++i) {
        const Entity& e = *kept_[i].entity;
        const Geometry& geometry = kept_[i].geometry;
        const std::uint64_t h = firstEntity_ + images + i;
        EntityCommon c;
        c.space = 2;
        const auto rgb = std::uint32_t(trueColorValue(e.style.color));
        auto known = aci.find(rgb);
        if (known == aci.end())
            known = aci.emplace(rgb, std::uint16_t(nearestAci(e.style.color))).first;
        c.color = known->second;
        const bool blackOrWhite = e.style.color == Rgb{0, 0, 0} || e.style.color == Rgb{255, 255, 255};
        if (paged() && !blackOrWhite)  // ACI 7 alone draws in the background's contrast colour
            c.rgb = std::int32_t(rgb);
        const bool filled = std::holds_alternative<Text>(geometry) || std::holds_alternative<Hatch>(geometry);
        const double width = std::isfinite(e.style.lineWidthMm) ? e.style.lineWidthMm : 0;
        c.lineweight = filled ? kLineweightByLayer : lineweightIndex(snapLineweight(width));
        const auto layer = layerByName_.find(e.style.layer);
        c.layer = layer != layerByName_.end() ? layer->second : handle::Layer0;
        const auto linetype = e.style.linetype.empty() ? linetypeByName_.end() : linetypeByName_.find(e.style.linetype);
        c.linetype = linetype != linetypeByName_.end() ? linetype->second : 0;
        c.prev = images + i > 0 ? h - 1 : 0;
        c.next = images + i + 1 < total ? h + 1 : 0;
        ObjectWriter w(version_, entityType(geometry), h, c);
        writeGeometry(w, geometry, c.linetype != 0);
        add(h, w.finish());
    }
}

void DwgBuilder::writeImages()
{
    const std::size_t images = drawing_.images.size(), total = images + kept_.size();
    const std::uint64_t firstDef = firstImageObject_ + images;
    for (std::size_t i = 0; i < images; ++i) {
        const Image& image = drawing_.images[i];
        const ImageFile& file = drawing_.imageFiles[image.file];
        const std::uint64_t h = firstEntity_ + i;
        EntityCommon c;
        const auto layer = layerByName_.find(image.style.layer);
        c.layer = layer != layerByName_.end() ? layer->second : handle::Layer0;
        c.prev = i > 0 ? h - 1 : 0;
        c.next = i + 1 < total ? h + 1 : 0;
        ObjectWriter w(version_, type::Image, h, c);
        BitWriter& d = w.data();
        d.writeBL(0);  // class version
        d.write3BD(image.origin.x, image.origin.y, 0);
        d.write3BD(image.u.x, image.u.y, 0);
        d.write3BD(image.v.x, image.v.y, 0);
        d.write2RD(file.width, file.height);
        // Shown, also when not aligned with the screen; clipped; transparent pixels see through.
        d.writeBS(std::uint16_t(1 | 2 | (image.clip.empty() ? 0 : 4) | (file.transparent ? 8 : 0)));
        d.writeB(!image.clip.empty());
        d.writeRC(50);  // brightness
        d.writeRC(50);  // contrast
        d.writeRC(std::uint8_t(image.fade));
        if (r2010())
            d.writeB(false);  // shows inside the boundary
        const std::vector<Vec2> clip = imageClipPixels(image, file);
        d.writeBS(clip.size() == 2 ? 1 : 2);
        if (clip.size() != 2)
            d.writeBL(std::uint32_t(clip.size()));
        for (const Vec2& p : clip)
            d.write2RD(p.x, p.y);
        w.refs().writeH(HandleCode::HardPointer, firstDef + image.file);
        w.refs().writeH(HandleCode::HardOwner, firstImageObject_ + i);
        add(h, w.finish());

        ObjectWriter r(version_, type::ImageDefReactor, firstImageObject_ + i, h);
        r.data().writeBL(2);  // class version
        add(firstImageObject_ + i, r.finish());
    }
    if (images == 0)
        return;
    std::vector<std::pair<std::string, std::uint64_t>> entries;
    for (std::size_t f = 0; f < drawing_.imageFiles.size(); ++f) {
        const ImageFile& file = drawing_.imageFiles[f];
        std::vector<std::uint64_t> reactors;
        for (std::size_t i = 0; i < images; ++i)
            if (drawing_.images[i].file == f)
                reactors.push_back(firstImageObject_ + i);
        ObjectWriter w(version_, type::ImageDef, firstDef + f, imageDict_, true, reactors);
        BitWriter& d = w.data();
        d.writeBL(0);  // class version
        d.write2RD(file.width, file.height);
        w.text(file.name);
        d.writeB(true);  // loaded
        d.writeRC(0);    // no resolution unit
        d.write2RD(1, 1);  // a pixel's default size: one drawing unit
        add(firstDef + f, w.finish());
        entries.emplace_back(file.name.substr(0, file.name.rfind('.')), firstDef + f);
    }
    writeDictionary(imageDict_, handle::NamedObjects, entries);
    ObjectWriter v(version_, type::RasterVariables, rasterVariables_, handle::NamedObjects, true);
    v.data().writeBL(0);  // class version
    v.data().writeBS(0);  // no frame
    v.data().writeBS(1);  // high quality
    v.data().writeBS(1);  // millimetres
    add(rasterVariables_, v.finish());
}

}  // namespace unplot::engine::dwg
