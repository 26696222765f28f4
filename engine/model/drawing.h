#pragma once
// The drawing model between the PDF reader and the DXF and DWG writers: one page as CAD entities, in millimetres,
// origin at the lower left of the page as shown, y up.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace unplot::engine {

struct Vec2 {
    double x = 0;
    double y = 0;
    friend bool operator==(const Vec2&, const Vec2&) = default;
};

// The point at t (0 to 1) of the cubic Bezier curve p0 p1 p2 p3.
inline Vec2 bezierPoint(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double t)
{
    const double u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
}

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Attributes every entity carries.
struct Style {
    std::string layer = "0";  // "0" or the name of one of Drawing::layers
    Rgb color;                // the PDF colour; writers derive the ACI (nearestAci) and, where allowed, true colour
    double lineWidthMm = 0;   // stroke width in mm; 0 for fills and text. Writers snap it (snapLineweight)
    std::string linetype{};   // "" continuous, else the name of one of Drawing::linetypes
    std::uint32_t dash{};     // strokes: 0 solid, else 1 + index into Drawing::dashes (the passes make linetypes)
    std::uint32_t clip{};     // 0 not clipped, else 1 + index into Drawing::clips
};

// A PDF dash array in mm: lengths on, off, on, ... (an odd count runs twice, on and off swapped), and how far into
// the pattern each subpath starts.
struct DashArray {
    std::vector<double> lengths;
    double phase = 0;
    friend bool operator==(const DashArray&, const DashArray&) = default;
};

// A linetype with LTSCALE 1: elements in mm, dashes > 0, gaps < 0, dots 0, repeated from the entity's start.
struct Linetype {
    std::string name;  // valid as a table name
    std::string description;
    std::vector<double> elements;
};

// A region the PDF clips what follows to: its subpaths as closed rings in mm (curves flattened), the fill rule, and
// the region it lies inside (the clip is the intersection of both).
struct ClipRegion {
    std::vector<std::vector<Vec2>> rings;
    bool evenOdd = false;
    std::uint32_t parent = 0;  // 0 none, else 1 + index into Drawing::clips
};

struct Line {
    Vec2 a, b;
};

// Two or more distinct points; `closed` from the PDF's closepath. Segments are straight unless `bulges` holds one
// value per point: the bulge of the segment from that point to the next (the closing one for the last point of a
// closed polyline), tan(included angle / 4), positive counter-clockwise, 0 straight.
struct Polyline {
    std::vector<Vec2> points;
    bool closed = false;
    std::vector<double> bulges{};
};

// A chain of cubic Béziers: points = 3n+1 control points (start, c1, c2, end, c1, c2, end, ...), n >= 1.
// Written as one exact cubic SPLINE (clamped, interior knots of multiplicity 3).
struct BezierSpline {
    std::vector<Vec2> points;
    bool closed = false;  // the last end point equals the first start point
};

struct Circle {
    Vec2 center;
    double radius = 0;
};

// Counter-clockwise from start to end, angles in degrees.
struct Arc {
    Vec2 center;
    double radius = 0;
    double startAngleDeg = 0;
    double endAngleDeg = 0;
};

// DXF-style ellipse: major axis as a vector from the centre, minor/major ratio, parameters in radians.
struct Ellipse {
    Vec2 center;
    Vec2 majorAxis;
    double ratio = 1;
    double startParam = 0;
    double endParam = 6.283185307179586;
};

// Single-line text. `height` is the cap height in mm; `style` names one of Drawing::textStyles (or "Standard").
struct Text {
    std::string utf8;
    Vec2 insertion;  // left end of the baseline
    double height = 2.5;
    double rotationDeg = 0;
    double widthFactor = 1;
    std::string style = "Standard";
    double lengthMm = 0;  // how far the PDF's glyphs advance along the baseline; 0 when not known
    double obliqueDeg = 0; // how far the glyphs lean right of upright
};

// A boundary loop of a fill: starts at `start`, each segment continues from the previous end; implicitly closed.
struct PathSegment {
    enum class Kind { Line, Cubic } kind = Kind::Line;
    Vec2 c1, c2;  // control points of a cubic
    Vec2 end;
};
struct Loop {
    Vec2 start;
    std::vector<PathSegment> segments;
};

// A solid fill. Every subpath of the PDF fill is one loop.
struct Hatch {
    std::vector<Loop> loops;
    bool evenOdd = false;  // fill rule: even-odd, else non-zero winding
};

using Geometry = std::variant<Line, Polyline, BezierSpline, Circle, Arc, Ellipse, Text, Hatch>;

struct Entity {
    Style style;
    Geometry geometry;
};

// The layer the PDF reader puts text on that the PDF does not draw (render mode 3). Switched off.
inline constexpr const char* kInvisibleTextLayer = "Invisible text";

struct Layer {
    std::string name;  // as the PDF's optional-content group is called (made unique and valid by the writers)
    bool visible = true;
};

struct TextStyle {
    std::string name;      // unique, valid as a table name
    std::string fontName;  // the PDF font's name
};

// The font file a CAD program draws a style's text with: a CAD stroke font (".shx") as named, else a TrueType font
// every CAD installation has, close to the font's family. Both writers name fonts through it.
std::string cadFontFile(const std::string& fontName);

struct Extents {
    Vec2 min, max;
    bool empty = true;
};

// The pixels of a raster image: a file that goes into the archive beside the drawing, which names it.
struct ImageFile {
    std::string name;           // "page-N-image-K.png" (or ".jpg"): the drawing refers to it by this relative path
    std::string bytes;          // the PNG or JPEG file
    int width = 0, height = 0;  // in pixels
    bool transparent = false;   // some pixels are transparent
};

// A raster image on the page (an IMAGE). Its pixel rows run along `u` and stack up along `v` from `origin`, the lower
// left corner of the picture; u and v are the edges of one pixel in mm, perpendicular, v counter-clockwise from u.
struct Image {
    Style style;
    std::uint32_t file = 0;  // index into Drawing::imageFiles
    Vec2 origin, u, v;
    std::vector<Vec2> clip;  // the polygon (mm) it shows within, inside the picture; empty: all of it shows
    int fade = 0;            // 0 to 100: how far the picture fades into the background (the PDF's opacity)
};

// An image's clip boundary as IMAGE entities keep it, in pixels from the centre of the picture's top left pixel (x
// along the rows, y down the columns): the two opposite corners of a rectangle along the pixel grid (the whole
// picture when it has no clip), else the corners of a polygon, closed by repeating the first.
std::vector<Vec2> imageClipPixels(const Image& image, const ImageFile& file);

struct Drawing {
    int pageNumber = 1;         // 1-based PDF page number
    double widthMm = 0;         // the page as shown (after CropBox and /Rotate)
    double heightMm = 0;
    std::vector<Layer> layers;  // besides "0"
    std::vector<TextStyle> textStyles;  // besides "Standard"
    std::vector<Entity> entities;
    std::vector<std::string> warnings;  // what could not be converted (images, shadings, ...), one line each
    std::vector<Linetype> linetypes{};  // besides Continuous
    std::vector<DashArray> dashes{};    // as the PDF's strokes use them
    std::vector<ClipRegion> clips{};
    std::vector<std::string> notes{};   // what the passes over the page did, one line each
    std::vector<ImageFile> imageFiles{};
    std::vector<Image> images{};  // drawn beneath the entities

    Extents extents() const;  // of all entities and images; the page when there are none
};

// The extent of one entity's geometry (of its control points for curves: a little generous).
Extents extentsOf(const Geometry& g);

// The arc a polyline segment from `a` to `b` with `bulge` (non-zero) follows: centre, radius, and the angles in
// radians, counter-clockwise from start to end.
struct BulgeArc {
    Vec2 center;
    double radius = 0, startAngle = 0, endAngle = 0;
};
BulgeArc bulgeArc(Vec2 a, Vec2 b, double bulge);

// The AutoCAD Color Index nearest to a colour: 1..255, black and white both give 7 (never 0 or 256).
int nearestAci(Rgb color);
// The standard lineweight (in 1/100 mm: 0, 5, 9, 13, 15, 18, 20, 25, 30, 35, 40, 50, 53, 60, 70, 80, 90, 100, 106,
// 120, 140, 158, 200, 211) nearest to a width in mm.
int snapLineweight(double widthMm);
// True colour as DXF group 420 and DWG store it: 0x00RRGGBB.
inline std::int32_t trueColorValue(Rgb c) { return (std::int32_t(c.r) << 16) | (std::int32_t(c.g) << 8) | c.b; }

}  // namespace unplot::engine
