#include "pagestate.h"

#include "fontmetrics.h"
#include "utf8.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace unplot::engine {
namespace {

constexpr double kMmPerPt = 25.4 / 72.0;

// The glyph's matrix in device space, at its origin.
fz_matrix glyphMatrix(const fz_text_span* span, const fz_text_item& item, fz_matrix ctm)
{
    fz_matrix trm = span->trm;
    trm.e = item.x;
    trm.f = item.y;
    return fz_concat(trm, ctm);
}

// Runs a Type 3 glyph's display list through `dev`; false when MuPDF failed on the way.
bool runType3Glyph(fz_context* ctx, fz_font* font, int glyph, fz_matrix trm, fz_device* dev)
{
    bool ok = true;
    fz_var(ok);
    fz_try(ctx)
    {
        fz_run_t3_glyph(ctx, font, glyph, trm, dev);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    return ok;
}

PageState* stateOf(void* arg)
{
    return static_cast<PageState*>(arg);
}

// Path walker callbacks: MuPDF calls them from C, so nothing may be thrown out of them.
template <typename F> void guarded(void* arg, F&& f)
{
    PageState* s = stateOf(arg);
    if (s->error)
        return;
    try {
        f(*s);
    } catch (...) {
        s->error = std::current_exception();
    }
}

Vec2 mapped(const PageState& s, float x, float y)
{
    const double* m = s.walk_;
    return {m[0] * x + m[2] * y + m[4], m[1] * x + m[3] * y + m[5]};
}

void walkMove(fz_context*, void* arg, float x, float y)
{
    guarded(arg, [&](PageState& s) { s.path.moveTo(mapped(s, x, y)); });
}
void walkLine(fz_context*, void* arg, float x, float y)
{
    guarded(arg, [&](PageState& s) { s.path.lineTo(mapped(s, x, y)); });
}
void walkCurve(fz_context*, void* arg, float x1, float y1, float x2, float y2, float x3, float y3)
{
    guarded(arg, [&](PageState& s) { s.path.curveTo(mapped(s, x1, y1), mapped(s, x2, y2), mapped(s, x3, y3)); });
}
void walkClose(fz_context*, void* arg)
{
    guarded(arg, [&](PageState& s) { s.path.closePath(); });
}

// Quadratic curves and the other shorthands reach us as cubics and rectangles as four lines: MuPDF's walker expands
// what a walker leaves out.
constexpr fz_path_walker kWalker = {walkMove, walkLine, walkCurve, walkClose, nullptr, nullptr, nullptr, nullptr};

// Colour conversion with only plain data in the frame: MuPDF may jump out of it.
bool convertToRgb(fz_context* ctx, fz_colorspace* cs, const float* color, float* rgb)
{
    bool ok = true;
    fz_var(ok);
    fz_try(ctx)
    {
        fz_convert_color(ctx, cs, color, fz_device_rgb(ctx), rgb, nullptr, fz_default_color_params);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    return ok;
}

std::uint8_t channel(float v)
{
    const float c = v < 0 ? 0 : v > 1 ? 1 : v;
    return static_cast<std::uint8_t>(std::lround(c * 255.0f));
}

double normalizedDegrees(double deg)
{
    if (std::abs(deg - std::round(deg)) < 1e-7)
        deg = std::round(deg);
    if (deg < 0)
        deg += 360;
    return deg >= 360 ? deg - 360 : deg + 0.0; // + 0.0 turns -0 into 0
}

} // namespace

PageState::PageState(fz_context* ctx, fz_page* page, Drawing& drawing, fz_rect bounds, const std::vector<Layer>& layers)
    : ctx_(ctx), symbolFonts_(ctx, page), drawing_(drawing), bounds_(bounds), texts_(drawing.entities),
      images_(ctx, drawing,
              {float(kMmPerPt), 0, 0, float(-kMmPerPt), float(-bounds.x0 * kMmPerPt), float(bounds.y1 * kMmPerPt)})
{
    drawing_.widthMm = double(bounds.x1 - bounds.x0) * kMmPerPt;
    drawing_.heightMm = double(bounds.y1 - bounds.y0) * kMmPerPt;
    drawing_.layers = layers;
    layerNames_.insert("0");
    for (const auto& layer : layers)
        layerNames_.insert(layer.name);
}

PageState::~PageState()
{
    keepFilledText(nullptr);
    dropPattern();
}

void PageState::keepFilledText(const fz_text* text)
{
    if (glyphDepth_ > 0) { // every paint passes here: one of a Type 3 glyph's, and part of the text being drawn
        ++glyphPaints_;
        return;
    }
    fz_drop_text(ctx_, lastFilledText_); // neither call throws
    lastFilledText_ = text ? fz_keep_text(ctx_, text) : nullptr;
}

Vec2 PageState::toMm(fz_point p) const
{
    return {(double(p.x) - bounds_.x0) * kMmPerPt, (double(bounds_.y1) - p.y) * kMmPerPt};
}

Rgb PageState::rgb(fz_colorspace* cs, const float* color)
{
    if (!cs || !color)
        return {};
    const int n = fz_colorspace_n(ctx_, cs);
    if (n <= 0 || n > FZ_MAX_COLORS)
        return {};
    if (cs == lastCs_ && std::memcmp(color, lastColor_, sizeof(float) * std::size_t(n)) == 0)
        return lastRgb_;
    float out[3] = {0, 0, 0};
    if (!convertToRgb(ctx_, cs, color, out))
        return {};
    lastCs_ = cs;
    std::memcpy(lastColor_, color, sizeof(float) * std::size_t(n));
    lastRgb_ = {channel(out[0]), channel(out[1]), channel(out[2])};
    return lastRgb_;
}

Style PageState::style(fz_colorspace* cs, const float* color, double lineWidthMm)
{
    Style s;
    if (!layerStack_.empty())
        s.layer = layerStack_.back();
    s.color = glyphPaint_ ? *glyphPaint_ : rgb(cs, color);
    s.lineWidthMm = lineWidthMm;
    s.clip = currentClip();
    return s;
}

std::uint32_t PageState::dash(const fz_stroke_state* stroke, double mmPerUnit)
{
    if (!stroke || stroke->dash_len <= 0)
        return 0;
    DashArray d;
    double total = 0;
    for (int i = 0; i < stroke->dash_len && i < int(std::size(stroke->dash_list)); ++i) {
        d.lengths.push_back(std::max(0.0, double(stroke->dash_list[i]) * mmPerUnit));
        total += d.lengths.back();
    }
    if (!(total > 0) || !std::isfinite(total))
        return 0; // no pattern to repeat: a solid stroke
    d.phase = std::isfinite(stroke->dash_phase) ? double(stroke->dash_phase) * mmPerUnit : 0;
    auto& dashes = drawing_.dashes;
    const auto known = std::find(dashes.begin(), dashes.end(), d);
    if (known != dashes.end())
        return std::uint32_t(known - dashes.begin()) + 1;
    dashes.push_back(std::move(d));
    return std::uint32_t(dashes.size());
}

void PageState::clipPath(const fz_path* p, bool evenOdd, fz_matrix ctm)
{
    walk(p, ctm);
    if (!path.finite()) {
        keepClip();
        return;
    }
    drawing_.clips.push_back({path.rings(0.005), evenOdd, currentClip()});
    clipStack_.push_back(std::uint32_t(drawing_.clips.size()));
    outlineClip_.push_back(false);
}

void PageState::walk(const fz_path* p, fz_matrix ctm)
{
    const double k = kMmPerPt;
    walk_[0] = k * ctm.a;
    walk_[1] = -k * ctm.b;
    walk_[2] = k * ctm.c;
    walk_[3] = -k * ctm.d;
    walk_[4] = k * (double(ctm.e) - bounds_.x0);
    walk_[5] = k * (double(bounds_.y1) - ctm.f);
    path.clear();
    // The walker callbacks neither throw nor let MuPDF throw: nothing unwinds through this frame.
    fz_walk_path(ctx_, p, &kWalker, this);
    if (error)
        std::rethrow_exception(error);
}

bool PageState::takePath(const fz_path* p, fz_matrix ctm, float alpha)
{
    keepFilledText(nullptr);
    if (alpha <= 0) {
        ++transparent;
        return false;
    }
    walk(p, ctm);
    if (!path.finite()) {
        ++outOfRange;
        return false;
    }
    return true;
}

void PageState::fillPath(const fz_path* p, bool evenOdd, fz_matrix ctm, fz_colorspace* cs, const float* color,
                         float alpha)
{
    if (!takePath(p, ctm, alpha))
        return;
    path.emitFill(style(cs, color, 0), evenOdd, drawing_.entities);
}

void PageState::strokePath(const fz_path* p, const fz_stroke_state* stroke, fz_matrix ctm, fz_colorspace* cs,
                           const float* color, float alpha)
{
    if (!takePath(p, ctm, alpha))
        return;
    const double mmPerUnit = double(fz_matrix_expansion(ctm)) * kMmPerPt;
    const double width = stroke ? double(stroke->linewidth) * mmPerUnit : 0;
    // A subpath drawn on the spot shows as a dot with round caps, as nothing with the others.
    const bool round = stroke && stroke->start_cap == FZ_LINECAP_ROUND;
    Style s = style(cs, color, width);
    s.dash = dash(stroke, mmPerUnit);
    path.emitStroke(s, round ? width : 0, drawing_.entities);
}

PageState::FontInfo& PageState::fontInfo(fz_font* font)
{
    auto it = fonts_.find(font);
    if (it != fonts_.end())
        return it->second;
    FontInfo info;
    info.capRatio = capHeightRatio(ctx_, font);
    info.corrections = symbolFonts_.corrections(font);
    const std::string name = fontBaseName(ctx_, font);
    info.textStyle = textStyleName(name);
    if (textStyles_.insert(info.textStyle).second)
        drawing_.textStyles.push_back({info.textStyle, name});
    return fonts_.emplace(font, std::move(info)).first->second;
}

int PageState::character(FontInfo& info, fz_font* font, int glyph, int ucs)
{
    if (glyph == 0)
        return 0; // .notdef: the font has no glyph for the code, and nothing is shown
    if (info.corrections)
        if (const auto it = info.corrections->find(glyph); it != info.corrections->end())
            return int(it->second);
    const bool unnamed = ucs == int(kReplacementCharacter) || privateUse(ucs);
    if (unnamed || (ucs >= 0 && ucs < 0x100)) {
        auto symbol = info.symbols.find(glyph);
        if (symbol == info.symbols.end())
            symbol = info.symbols.emplace(glyph, symbolCharacter(ctx_, font, glyph)).first;
        if (symbol->second != 0)
            return int(symbol->second);
    }
    if (ucs != int(kReplacementCharacter))
        return ucs;
    if (!info.haveCharacters) {
        info.characters = glyphCharacters(ctx_, font);
        info.haveCharacters = true;
    }
    const auto it = info.characters.find(glyph);
    return it != info.characters.end() ? int(it->second) : int(kReplacementCharacter);
}

bool PageState::drawGlyph(fz_font* font, int glyph, fz_matrix trm, const Style& style, bool stroked)
{
    if (fz_font_t3_procs(ctx_, font))
        return drawType3Glyph(font, glyph, trm, style);
    fz_path* outline = glyphOutline(ctx_, font, glyph, trm);
    if (!outline)
        return false;
    try {
        walk(outline, fz_identity);
    } catch (...) {
        fz_drop_path(ctx_, outline);
        throw;
    }
    fz_drop_path(ctx_, outline);
    const std::size_t before = drawing_.entities.size();
    if (!path.finite())
        ++outOfRange;
    else if (stroked)
        path.emitStroke(style, 0, drawing_.entities);
    else
        path.emitFill(style, false, drawing_.entities);
    if (drawing_.entities.size() > before)
        ++outlined;
    return true;
}

bool PageState::drawType3Glyph(fz_font* font, int glyph, fz_matrix trm, const Style& style)
{
    if (!device || glyph < 0 || glyph >= 256 || glyphDepth_ >= kDeepestGlyphs || glyphPaints_ >= kMostGlyphPaints)
        return false;
    // A glyph that sets its own colours (d0) keeps them; the others (d1) are shapes in the text's colour.
    const unsigned flags = font->t3flags ? font->t3flags[glyph] : 0;
    const bool ownColours = (flags & FZ_DEVFLAG_COLOR) && !(flags & FZ_DEVFLAG_MASK);
    const std::optional<Rgb> paint = glyphPaint_;
    if (!ownColours)
        glyphPaint_ = style.color;
    const std::size_t before = drawing_.entities.size() + drawing_.images.size();
    ++glyphDepth_;
    runType3Glyph(ctx_, font, glyph, trm, device); // what it painted before a failure stays
    --glyphDepth_;
    glyphPaint_ = paint;
    if (error)
        std::rethrow_exception(error);
    if (drawing_.entities.size() + drawing_.images.size() > before && glyphDepth_ == 0)
        ++outlined;
    return true;
}

void PageState::text(const fz_text* t, fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha, bool stroked)
{
    if (stroked && t == lastFilledText_) {
        keepFilledText(nullptr);
        return; // filled and stroked text: one Text is enough
    }
    keepFilledText(stroked ? nullptr : t);
    if (alpha <= 0) {
        ++transparent;
        return;
    }
    const double k = kMmPerPt;
    const Style textStyle = style(cs, color, 0);
    if (glyphDepth_ > 0) {
        // Text inside a Type 3 glyph is part of its drawing.
        for (const fz_text_span* span = t->head; span; span = span->next)
            for (int i = 0; i < span->len; ++i)
                if (span->items[i].gid > 0)
                    drawGlyph(span->font, span->items[i].gid, glyphMatrix(span, span->items[i], ctm), textStyle,
                              stroked);
        return;
    }
    const bool invisible = !layerStack_.empty() && layerStack_.back() == kInvisibleTextLayer;
    texts_.startObject();
    for (const fz_text_span* span = t->head; span; span = span->next) {
        FontInfo& font = fontInfo(span->font);
        const fz_matrix m = fz_concat(span->trm, ctm);
        // The glyph matrix in millimetres, y up: (a, b) along the baseline, (c, d) up the glyph.
        const double a = k * m.a, b = -k * m.b, c = k * m.c, d = -k * m.d;
        const double along = std::hypot(a, b);
        const double up = along > 0 ? std::abs(a * d - b * c) / along : 0;
        if (!std::isfinite(along) || !std::isfinite(up)) {
            ++outOfRange;
            continue;
        }
        if (along < 1e-9 || up < 1e-9)
            continue; // text squeezed to nothing
        TextRun run;
        run.style = textStyle;
        run.textStyle = font.textStyle;
        run.rotationDeg = normalizedDegrees(std::atan2(b, a) * 180 / std::numbers::pi);
        run.height = font.capRatio * up;
        run.widthFactor = along / up;
        run.direction = {a / along, b / along};
        run.emMm = along;
        texts_.startRun(std::move(run));
        for (int i = 0; i < span->len; ++i) {
            const fz_text_item& item = span->items[i];
            if (item.gid < 0) {
                texts_.addToLastGlyph(item.ucs);
                continue;
            }
            const Vec2 origin = toMm(fz_transform_point(fz_make_point(item.x, item.y), ctm));
            if (!std::isfinite(origin.x) || !std::isfinite(origin.y)) {
                ++outOfRange;
                continue;
            }
            const int unicode = character(font, span->font, item.gid, item.ucs);
            if (noCharacter(unicode) && invisible && fz_font_t3_procs(ctx_, span->font))
                continue; // MuPDF drew the glyph already (its procedure uses the page's colours), then hid it
            if (noCharacter(unicode) && !invisible) {
                // An icon or a symbol no CAD font has: its outline, in the text's place and colour.
                if (drawGlyph(span->font, item.gid, glyphMatrix(span, item, ctm), textStyle, stroked))
                    continue;
            }
            if (unicode == int(kReplacementCharacter))
                ++unreadable;
            const double advance = glyphAdvance(ctx_, span->font, item.gid, int(span->wmode)) * along;
            texts_.addGlyph(origin, advance, unicode);
        }
    }
}

void PageState::image(fz_image* image, fz_matrix ctm, float alpha)
{
    keepFilledText(nullptr);
    if (alpha <= 0) {
        ++transparent;
        return;
    }
    images_.draw(image, ctm, alpha, style(nullptr, nullptr, 0), clipOutline());
}

void PageState::imageMask(fz_image* image, fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha)
{
    keepFilledText(nullptr);
    if (alpha <= 0) {
        ++transparent;
        return;
    }
    const Rgb paint = rgb(cs, color);
    images_.draw(image, ctm, alpha, style(nullptr, nullptr, 0), clipOutline(), &paint);
}

std::vector<Vec2> PageState::clipOutline() const
{
    const std::uint32_t clip = currentClip();
    if (clip == 0 || drawing_.clips[clip - 1].rings.size() != 1)
        return {};
    return drawing_.clips[clip - 1].rings.front();
}

fz_rect PageState::paintArea(fz_rect area) const
{
    area = fz_intersect_rect(area, bounds_);
    for (std::uint32_t clip = currentClip(); clip != 0; clip = drawing_.clips[clip - 1].parent) {
        fz_rect box = fz_empty_rect;
        for (const auto& ring : drawing_.clips[clip - 1].rings)
            for (const Vec2& p : ring)
                box = fz_include_point_in_rect(box, toDevice(p));
        area = fz_intersect_rect(area, box);
    }
    return area;
}

fz_point PageState::toDevice(Vec2 p) const
{
    return {float(bounds_.x0 + p.x / kMmPerPt), float(bounds_.y1 - p.y / kMmPerPt)};
}

double PageState::pixelSize(fz_rect area)
{
    const double scale = 72 / kShadingDpi;
    const double pixels = double(area.x1 - area.x0) * (area.y1 - area.y0) / (scale * scale);
    return pixels > kMostShadingPixels ? scale * std::sqrt(pixels / kMostShadingPixels) : scale;
}

fz_pixmap* PageState::paintedPart(fz_pixmap* whole)
{
    const fz_irect box = fz_pixmap_bbox(ctx_, whole);
    fz_irect painted = {box.x1, box.y1, box.x0, box.y0};
    for (int y = 0; y < whole->h; ++y)
        for (int x = 0; x < whole->w; ++x)
            if (whole->samples[std::ptrdiff_t(y) * whole->stride + std::ptrdiff_t(x) * whole->n + whole->n - 1])
                painted = {std::min(painted.x0, box.x0 + x), std::min(painted.y0, box.y0 + y),
                           std::max(painted.x1, box.x0 + x + 1), std::max(painted.y1, box.y0 + y + 1)};
    if (fz_is_empty_irect(painted))
        return nullptr;
    // Copied: MuPDF's view of a part misplaces parts that start right of 0.
    fz_pixmap* part = fz_new_pixmap_with_bbox(ctx_, fz_device_rgb(ctx_), painted, nullptr, 1);
    for (int y = 0; y < part->h; ++y)
        std::memcpy(part->samples + std::ptrdiff_t(y) * part->stride,
                    whole->samples + std::ptrdiff_t(painted.y0 - box.y0 + y) * whole->stride +
                        std::ptrdiff_t(painted.x0 - box.x0) * whole->n,
                    std::size_t(part->w) * std::size_t(part->n));
    return part;
}

void PageState::placeRendered(fz_pixmap* pixmap, double scale, float alpha)
{
    if (!pixmap)
        return; // it painted nothing
    try {
        images_.drawPixmap(pixmap, float(scale), alpha, style(nullptr, nullptr, 0), clipOutline());
    } catch (...) {
        fz_drop_pixmap(ctx_, pixmap);
        throw;
    }
    fz_drop_pixmap(ctx_, pixmap);
}

void PageState::shade(fz_shade* shade, fz_matrix ctm, float alpha)
{
    keepFilledText(nullptr);
    if (alpha <= 0) {
        ++transparent;
        return;
    }
    const fz_rect area = paintArea(fz_bound_shade(ctx_, shade, ctm));
    if (fz_is_empty_rect(area))
        return;
    const double scale = pixelSize(area);
    const fz_matrix toPixels = fz_scale(float(1 / scale), float(1 / scale));
    const fz_irect box = fz_round_rect(fz_transform_rect(area, toPixels));
    fz_pixmap* whole = nullptr;
    fz_pixmap* pixmap = nullptr;
    fz_var(whole);
    fz_var(pixmap);
    fz_try(ctx_)
    {
        whole = fz_new_pixmap_with_bbox(ctx_, fz_device_rgb(ctx_), box, nullptr, 1);
        fz_clear_pixmap(ctx_, whole);
        fz_paint_shade(ctx_, shade, nullptr, fz_concat(ctm, toPixels), whole, fz_default_color_params, box, nullptr,
                       nullptr);
        // Only the part it painted: a shading that does not extend leaves the rest of the area transparent.
        pixmap = paintedPart(whole);
    }
    fz_always(ctx_)
    {
        fz_drop_pixmap(ctx_, whole);
    }
    fz_catch(ctx_)
    {
        ++unrenderedShadings_;
        return;
    }
    placeRendered(pixmap, scale, alpha);
}

void PageState::beginPattern()
{
    keepFilledText(nullptr);
    if (!outlineClip_.empty() && outlineClip_.back()) {
        ++patterns; // the stroke or the glyphs it paints are not known here
        return;
    }
    const fz_rect area = paintArea(fz_infinite_rect);
    if (fz_is_empty_rect(area))
        return;
    patternScale_ = pixelSize(area);
    const fz_matrix toPixels = fz_scale(float(1 / patternScale_), float(1 / patternScale_));
    const fz_irect box = fz_round_rect(fz_transform_rect(area, toPixels));
    fz_path* outline = nullptr;
    fz_var(outline);
    fz_try(ctx_)
    {
        patternPixmap_ = fz_new_pixmap_with_bbox(ctx_, fz_device_rgb(ctx_), box, nullptr, 1);
        fz_clear_pixmap(ctx_, patternPixmap_);
        patternDevice = fz_new_draw_device(ctx_, toPixels, patternPixmap_);
        // The cells paint only inside the filled path and the clips around it.
        for (std::uint32_t clip = currentClip(); clip != 0; clip = drawing_.clips[clip - 1].parent) {
            outline = fz_new_path(ctx_);
            for (const auto& ring : drawing_.clips[clip - 1].rings) {
                for (std::size_t i = 0; i < ring.size(); ++i) {
                    const fz_point p = toDevice(ring[i]);
                    i == 0 ? fz_moveto(ctx_, outline, p.x, p.y) : fz_lineto(ctx_, outline, p.x, p.y);
                }
                fz_closepath(ctx_, outline);
            }
            fz_clip_path(ctx_, patternDevice, outline, drawing_.clips[clip - 1].evenOdd, fz_identity, fz_infinite_rect);
            ++patternClips_;
            fz_drop_path(ctx_, outline);
            outline = nullptr;
        }
    }
    fz_catch(ctx_)
    {
        fz_drop_path(ctx_, outline);
        dropPattern();
        ++patterns;
    }
}

void PageState::endPattern()
{
    fz_pixmap* pixmap = nullptr;
    fz_var(pixmap);
    fz_try(ctx_)
    {
        for (; patternClips_ > 0; --patternClips_)
            fz_pop_clip(ctx_, patternDevice);
        fz_close_device(ctx_, patternDevice);
        pixmap = paintedPart(patternPixmap_);
    }
    fz_always(ctx_)
    {
        dropPattern();
    }
    fz_catch(ctx_)
    {
        ++patterns;
        return;
    }
    placeRendered(pixmap, patternScale_, 1);
}

void PageState::dropPattern()
{
    fz_drop_device(ctx_, patternDevice); // neither call throws
    fz_drop_pixmap(ctx_, patternPixmap_);
    patternDevice = nullptr;
    patternPixmap_ = nullptr;
    patternClips_ = 0;
}

void PageState::beginLayer(const char* name)
{
    const std::string parent = layerStack_.empty() ? std::string("0") : layerStack_.back();
    // Marked content that is not an optional-content group ("Span" and the like) stays on its parent's layer.
    layerStack_.push_back(name && layerNames_.count(name) ? std::string(name) : parent);
}

void PageState::endLayer()
{
    if (!layerStack_.empty())
        layerStack_.pop_back();
}

void PageState::invisibleText(const fz_text* t, fz_matrix ctm)
{
    if (glyphDepth_ > 0)
        return; // hidden text inside a Type 3 glyph: nothing to draw
    layerStack_.push_back(kInvisibleTextLayer);
    try {
        text(t, ctm, nullptr, nullptr, 1.0f, false);
    } catch (...) {
        layerStack_.pop_back();
        throw;
    }
    layerStack_.pop_back();
}

void PageState::finish()
{
    texts_.flush();
    // The layer of hidden text, when some is left (not when the hidden glyphs were Type 3 glyphs MuPDF drew itself).
    if (!layerNames_.count(kInvisibleTextLayer) &&
        std::any_of(drawing_.entities.begin(), drawing_.entities.end(),
                    [](const Entity& e) { return e.style.layer == kInvisibleTextLayer; }))
        drawing_.layers.push_back({kInvisibleTextLayer, false});
    auto warn = [&](int count, const char* one, const char* many) {
        if (count > 0)
            drawing_.warnings.push_back(std::to_string(count) + (count == 1 ? one : many));
    };
    images_.finish(drawing_.warnings);
    warn(unrenderedShadings_, " shading (colour gradient) skipped: MuPDF cannot render it",
         " shadings (colour gradients) skipped: MuPDF cannot render them");
    warn(patterns, " pattern fill skipped", " pattern fills skipped");
    warn(transparent, " fully transparent object skipped", " fully transparent objects skipped");
    warn(outOfRange, " object skipped: its coordinates are out of range",
         " objects skipped: their coordinates are out of range");
    warn(outlined, " font glyph with no character (a symbol or an icon) drawn as its outline",
         " font glyphs with no character (symbols or icons) drawn as their outlines");
    warn(unreadable,
         " text character could not be recognised and shows as \"\xEF\xBF\xBD\" (neither the PDF nor its font "
         "says which character it is)",
         " text characters could not be recognised and show as \"\xEF\xBF\xBD\" (neither the PDF nor its font says "
         "which characters they are)");
}

} // namespace unplot::engine
