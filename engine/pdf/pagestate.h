#pragma once
// What the drawing device knows while a page runs: where device space lies in millimetres, the open layers, the
// path and text being converted, and what had to be skipped.

#include "drawing.h"
#include "pageimages.h"
#include "pathbuilder.h"
#include "symbolfonts.h"
#include "textgrouper.h"

#include <mupdf/fitz.h>

#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace unplot::engine {

class PageState {
public:
    // `bounds`: the page as shown, in device space. `layers`: the document's optional-content groups.
    PageState(fz_context* ctx, fz_page* page, Drawing& drawing, fz_rect bounds, const std::vector<Layer>& layers);
    ~PageState();
    PageState(const PageState&) = delete;
    PageState& operator=(const PageState&) = delete;

    void fillPath(const fz_path* path, bool evenOdd, fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha);
    void strokePath(const fz_path* path, const fz_stroke_state* stroke, fz_matrix ctm, fz_colorspace* cs,
                    const float* color, float alpha);
    void text(const fz_text* text, fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha, bool stroked);
    // Text that the PDF does not draw (render mode 3: a scan's OCR layer, a schematic's search text) is kept, on
    // a layer of its own that is switched off, so that it neither doubles what is drawn nor gets lost.
    void invisibleText(const fz_text* text, fz_matrix ctm);
    // Raster images; a stencil mask shows the colour it is filled with.
    void image(fz_image* image, fz_matrix ctm, float alpha);
    void imageMask(fz_image* image, fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha);
    // A shading, rendered into an image of the area it paints (within the page and the clip) at kShadingDpi, or
    // fewer dots when that would exceed kMostShadingPixels.
    static constexpr double kShadingDpi = 100, kMostShadingPixels = 4e6;
    void shade(fz_shade* shade, fz_matrix ctm, float alpha);
    // A tiling pattern's fill, rendered like a shading: from beginPattern to endPattern the device sends the cells'
    // content to `patternDevice`, which MuPDF's renderer repeats over the filled area inside the clip. Without a
    // `patternDevice` after beginPattern (nothing to fill, a stroke or text to fill, or MuPDF failed) the cells are
    // skipped.
    void beginPattern();
    void endPattern();
    fz_device* patternDevice = nullptr;
    void beginLayer(const char* name);
    void endLayer();
    // Clipping: a path clips what follows until its pop; other clips (text, strokes, image masks, soft masks) are
    // kept as their parent region, so that their pops match.
    void clipPath(const fz_path* path, bool evenOdd, fz_matrix ctm);
    // `outline`: the clip is a stroke's or text's outline or an image mask, which a pattern would paint only inside.
    void keepClip(bool outline = false)
    {
        clipStack_.push_back(currentClip());
        outlineClip_.push_back(outline);
    }
    void popClip()
    {
        if (!clipStack_.empty()) {
            clipStack_.pop_back();
            outlineClip_.pop_back();
        }
    }

    // Writes the warnings for what was skipped.
    void finish();

    // Content inside a soft mask's definition is not drawn, nor a pattern's cells that could not be rendered.
    bool skipping() const { return maskDepth > 0 || tileDepth > 0; }

    int maskDepth = 0;
    int tileDepth = 0;
    int patterns = 0; // pattern fills skipped: of strokes, text or image masks, or that MuPDF could not render
    int transparent = 0;
    int outOfRange = 0;       // paths and glyphs whose coordinates overflowed
    int unreadable = 0;       // characters neither the PDF nor the font could name, and with no outline either
    int outlined = 0;         // glyphs with no usable character (icons, symbols) drawn as their outlines
    std::exception_ptr error; // the first failure inside a callback; raised once the page has run
    // The device the page runs through: Type 3 glyphs drawn as what they paint run through it too.
    fz_device* device = nullptr;
    // Type 3 glyphs drawn within each other at most, and the paints (fills, strokes, images) they may make on a
    // page; past that, a glyph with no character stays U+FFFD: a font's procedures are as large as the PDF likes.
    static constexpr int kDeepestGlyphs = 2, kMostGlyphPaints = 200000;

    // The path walker's target: points of the path being walked, mapped by `walk_` to millimetres.
    PathBuilder path;
    double walk_[6] = {1, 0, 0, 1, 0, 0};

private:
    struct FontInfo {
        double capRatio = 0.7;
        std::string textStyle;
        bool haveCharacters = false; // `characters` read (only once a glyph needs them)
        std::unordered_map<int, char32_t> characters;
        std::unordered_map<int, char32_t> symbols;                      // symbolCharacter of each glyph met so far
        const std::unordered_map<int, char32_t>* corrections = nullptr; // SymbolFonts' for the font, if any
    };
    Style style(fz_colorspace* cs, const float* color, double lineWidthMm);
    Rgb rgb(fz_colorspace* cs, const float* color);
    FontInfo& fontInfo(fz_font* font);
    // The character a glyph draws: what SymbolFonts says for a symbol or Type 3 font's glyph; else the drawing
    // symbol its name says where the PDF gives none, a private one or an 8-bit code (a symbol font's wrong letter);
    // else the PDF's; else the font's own cmap; else U+FFFD. None (0) for .notdef.
    int character(FontInfo& info, fz_font* font, int glyph, int ucs);
    // Draws a glyph as its outline (filled, or stroked for stroked text), a Type 3 glyph as what its procedure
    // paints; false when there is none to draw.
    bool drawGlyph(fz_font* font, int glyph, fz_matrix trm, const Style& style, bool stroked);
    bool drawType3Glyph(fz_font* font, int glyph, fz_matrix trm, const Style& style);
    void walk(const fz_path* p, fz_matrix ctm);
    // Walks a path about to be filled or stroked into `path`; false (and counted) when it is not drawn.
    bool takePath(const fz_path* p, fz_matrix ctm, float alpha);
    Vec2 toMm(fz_point p) const;
    std::uint32_t currentClip() const { return clipStack_.empty() ? 0 : clipStack_.back(); }
    // The clip in effect as one polygon in mm: the innermost clip region's, when that is a single ring; else empty.
    std::vector<Vec2> clipOutline() const;
    // Rendering: the part of `area` (device space) within the page and every clip; the device units a pixel covers
    // there; the painted (non-transparent) part of a rendering, or null; a rendering placed as an image (taken).
    fz_rect paintArea(fz_rect area) const;
    fz_point toDevice(Vec2 p) const;
    static double pixelSize(fz_rect area);
    fz_pixmap* paintedPart(fz_pixmap* whole);
    void placeRendered(fz_pixmap* pixmap, double scale, float alpha);
    void dropPattern();
    // The stroke's dash array as 1 + its index into the drawing's, 0 for a solid stroke.
    std::uint32_t dash(const fz_stroke_state* stroke, double mmPerUnit);

    fz_context* ctx_;
    SymbolFonts symbolFonts_;
    Drawing& drawing_;
    fz_rect bounds_;
    std::unordered_set<std::string> layerNames_;
    std::vector<std::string> layerStack_;  // the layer in effect at each nesting of begin_layer
    std::vector<std::uint32_t> clipStack_; // the clip region (Style::clip) in effect at each nesting of clips
    std::vector<bool> outlineClip_;        // beside it: whether that clip is an outline kept as its parent region
    std::unordered_map<const fz_font*, FontInfo> fonts_;
    std::unordered_set<std::string> textStyles_;
    TextGrouper texts_;
    PageImages images_;
    int unrenderedShadings_ = 0;
    fz_pixmap* patternPixmap_ = nullptr;
    double patternScale_ = 1;
    int patternClips_ = 0;          // clips pushed on patternDevice
    int glyphDepth_ = 0;            // Type 3 glyphs being drawn, one within the other
    std::optional<Rgb> glyphPaint_; // the colour of the text whose glyph is being drawn, unless it has its own
    int glyphPaints_ = 0;           // paints Type 3 glyphs made on the page
    // The text last filled, held so that its address cannot be reused: filled and stroked text arrives twice.
    fz_text* lastFilledText_ = nullptr;
    void keepFilledText(const fz_text* text);

    // The last colour converted, to spare the conversion for runs of one colour.
    fz_colorspace* lastCs_ = nullptr;
    float lastColor_[FZ_MAX_COLORS] = {};
    Rgb lastRgb_;
};

} // namespace unplot::engine
