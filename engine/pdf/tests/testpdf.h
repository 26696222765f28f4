#pragma once
// What the engine's tests share: PDFs written from content streams the tests spell out, a drawing described in
// words, and temporary folders.
//
// Every page's content may use the fonts F1 (Helvetica) and F2 (Times-Roman), both WinAnsi-encoded, F3 (a Type 3
// font whose glyphs A and B are squares), the shadings Sh1 and Sh2, the tiling pattern P1 (10 pt cells, red below
// blue) and the optional-content groups oc1, oc2, ... Given a
// ToUnicode map, F4 is a CID TrueType font too (MuPDF's Noto Serif embedded whole, Identity-H; text for it from
// cidText), and four fonts for glyphs that are no text: F5, a Type 3 font whose glyphs at A to E are named g1 to g4
// and A (g1 fills a triangle, g2 strokes a diagonal, g3 a red square in its own colour, g4 a square in the colour of
// the text it is in, which MuPDF paints itself, A a square); F6, Noto Serif as a simple TrueType font flagged
// symbolic, its H and I named icon_home and g12, its ` named degree; F7, Symbol (not embedded); F8, Noto Serif
// embedded as SymbolMT, flagged symbolic, with neither an encoding nor a ToUnicode map. F6 and F7 have a ToUnicode
// map that gives every code itself.

#include "drawing.h"

#include <filesystem>
#include <string>
#include <vector>

namespace unplot::engine::testing {

// An image XObject: its dictionary's entries but /Length (where "@ImN" stands for the page's Nth image, e.g. as its
// /SMask), and its stream's bytes.
struct TestImage {
    std::string dict;
    std::string data;
};

struct TestPage {
    TestPage(std::string content_ = {}, double width_ = 595, double height_ = 842, std::vector<double> cropBox_ = {},
             int rotate_ = 0, std::string filter_ = {}, std::vector<TestImage> images_ = {})
        : content(std::move(content_)), width(width_), height(height_), cropBox(std::move(cropBox_)), rotate(rotate_),
          filter(std::move(filter_)), images(std::move(images_))
    {}
    std::string content; // encoded as `filter` says, if it names one
    double width;        // MediaBox [0 0 width height]
    double height;
    std::vector<double> cropBox; // x0 y0 x1 y1, or empty
    int rotate;
    std::string filter;
    std::vector<TestImage> images; // the XObjects /Im1, /Im2, ...
};

struct TestLayer {
    std::string name;
    bool on = true;
};

// `toUnicode`: the lines of F4's ToUnicode map between its code space and "endcmap" (bfchar and bfrange blocks).
std::string makePdf(const std::vector<TestPage>& pages, const std::vector<TestLayer>& layers = {},
                    const std::string& toUnicode = {});

// Content-stream operators that fill `text` set in MuPDF's Noto Serif as glyph outlines, one path a glyph, as
// printer drivers draw text: baseline start at (x, y), `size` the font size, in points.
std::string outlinedText(const std::u32string& text, double x, double y, double size);

// A PDF string (hexadecimal, two bytes a glyph) that shows `text` in F4.
std::string cidText(const std::u32string& text);

// A copy of a PDF encrypted with AES-256 by qpdf; `userPassword` empty gives a file that opens without one.
std::string encryptPdf(const std::string& pdf, const std::string& userPassword, const std::string& ownerPassword);

// The drawing in words, coordinates in PDF points to three decimals: its images ("image NAME:DEPTH/COLOURTYPE WxH
// lower-left lower-right upper-left", the PNG's bit depth and colour type; "alpha", "fade" and "clip" as they apply),
// then its entities in order ("line 10,20 110,20
// #ff0000 w2 @Walls", "poly", "spline", "circle C r", "arc C r from>to", "fill (loop)(loop)" with "~c1 c2 end" for
// a curve, "text \"...\" at hHEIGHT rDEGREES xWIDTH style"), or "nothing"; then " | WIDTHxHEIGHT" unless the page is
// A4 (595x842), and the text styles, layers and warnings there are.
std::string describe(const Drawing& drawing);

// Whether `text` matches `pattern`, in which '*' stands for any characters.
bool like(const std::string& pattern, const std::string& text);

// A folder of its own under the system's temporary folder, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes `content` to a file in the folder and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

} // namespace unplot::engine::testing
