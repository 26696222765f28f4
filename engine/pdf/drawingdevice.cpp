#include "drawingdevice.h"

#include "pagestate.h"

#include <stdexcept>
#include <string>

namespace unplot::engine {
namespace {

// The device MuPDF sees: its own part first, then a pointer to the C++ state.
struct DrawingDevice {
    fz_device super;
    PageState* state;
};

// Device callbacks are called from C: each catches whatever the conversion throws and keeps the first failure,
// after which the rest of the page is ignored.
template <typename F> void guarded(fz_device* dev, F&& f)
{
    PageState& s = *reinterpret_cast<DrawingDevice*>(dev)->state;
    if (s.error)
        return;
    try {
        f(s);
    } catch (...) {
        s.error = std::current_exception();
    }
}

PageState& stateOf(fz_device* dev)
{
    return *reinterpret_cast<DrawingDevice*>(dev)->state;
}

// While a pattern fill is rendered, its cells' content goes to the renderer instead; its errors are MuPDF's.
fz_device* cells(fz_device* dev)
{
    return stateOf(dev).patternDevice;
}

void fillPath(fz_context* ctx, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm, fz_colorspace* cs,
              const float* color, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_fill_path(ctx, to, path, evenOdd, ctm, cs, color, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.fillPath(path, evenOdd != 0, ctm, cs, color, alpha);
    });
}

void strokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke, fz_matrix ctm,
                fz_colorspace* cs, const float* color, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_stroke_path(ctx, to, path, stroke, ctm, cs, color, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.strokePath(path, stroke, ctm, cs, color, alpha);
    });
}

void fillText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm, fz_colorspace* cs,
              const float* color, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_fill_text(ctx, to, text, ctm, cs, color, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.text(text, ctm, cs, color, alpha, false);
    });
}

void strokeText(fz_context* ctx, fz_device* dev, const fz_text* text, const fz_stroke_state* stroke, fz_matrix ctm,
                fz_colorspace* cs, const float* color, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_stroke_text(ctx, to, text, stroke, ctm, cs, color, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.text(text, ctm, cs, color, alpha, true);
    });
}

void ignoreText(fz_context*, fz_device* dev, const fz_text* text, fz_matrix ctm)
{
    if (cells(dev))
        return; // invisible in the rendering
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.invisibleText(text, ctm);
    });
}

void fillShade(fz_context* ctx, fz_device* dev, fz_shade* shade, fz_matrix ctm, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_fill_shade(ctx, to, shade, ctm, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.shade(shade, ctm, alpha);
    });
}

void fillImage(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_fill_image(ctx, to, image, ctm, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.image(image, ctm, alpha);
    });
}

void fillImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, fz_colorspace* cs,
                   const float* color, float alpha, fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_fill_image_mask(ctx, to, image, ctm, cs, color, alpha, params);
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.imageMask(image, ctm, cs, color, alpha);
    });
}

void beginMask(fz_context* ctx, fz_device* dev, fz_rect area, int luminosity, fz_colorspace* cs, const float* color,
               fz_color_params params)
{
    if (fz_device* to = cells(dev))
        return fz_begin_mask(ctx, to, area, luminosity, cs, color, params);
    guarded(dev, [&](PageState& s) { ++s.maskDepth; });
}

void endMask(fz_context* ctx, fz_device* dev)
{
    if (fz_device* to = cells(dev))
        return fz_end_mask(ctx, to);
    guarded(dev, [&](PageState& s) {
        --s.maskDepth;
        s.keepClip(); // the mask applies until its pop
    });
}

// Groups (transparency) matter only to the rendering of a pattern's cells.
void beginGroup(fz_context* ctx, fz_device* dev, fz_rect area, fz_colorspace* cs, int isolated, int knockout,
                int blendmode, float alpha)
{
    if (fz_device* to = cells(dev))
        fz_begin_group(ctx, to, area, cs, isolated, knockout, blendmode, alpha);
}

void endGroup(fz_context* ctx, fz_device* dev)
{
    if (fz_device* to = cells(dev))
        fz_end_group(ctx, to);
}

// A pattern fill: the outermost one starts a rendering of the filled area, which MuPDF's renderer tiles with the
// cells (nested patterns included); the cells' content never reaches the drawing as geometry.
int beginTile(fz_context* ctx, fz_device* dev, fz_rect area, fz_rect view, float xstep, float ystep, fz_matrix ctm,
              int id)
{
    if (stateOf(dev).tileDepth == 0)
        guarded(dev, [&](PageState& s) {
            if (!s.skipping())
                s.beginPattern();
        });
    ++stateOf(dev).tileDepth;
    if (fz_device* to = cells(dev))
        return fz_begin_tile_id(ctx, to, area, view, xstep, ystep, ctm, id);
    return 0; // not cached: MuPDF runs the cell's content, which we skip
}

void endTile(fz_context* ctx, fz_device* dev)
{
    const int depth = --stateOf(dev).tileDepth;
    if (fz_device* to = cells(dev)) {
        fz_end_tile(ctx, to);
        if (depth == 0)
            guarded(dev, [](PageState& s) { s.endPattern(); });
    }
}

void clipPath(fz_context* ctx, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm, fz_rect scissor)
{
    if (fz_device* to = cells(dev))
        return fz_clip_path(ctx, to, path, evenOdd, ctm, scissor);
    guarded(dev, [&](PageState& s) {
        if (s.skipping())
            s.keepClip();
        else
            s.clipPath(path, evenOdd != 0, ctm);
    });
}

// Clips we do not cut at (a stroke's outline, text, an image mask): what they hold stays whole.
void clipStrokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    if (fz_device* to = cells(dev))
        return fz_clip_stroke_path(ctx, to, path, stroke, ctm, scissor);
    guarded(dev, [&](PageState& s) { s.keepClip(true); });
}

void clipText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm, fz_rect scissor)
{
    if (fz_device* to = cells(dev))
        return fz_clip_text(ctx, to, text, ctm, scissor);
    guarded(dev, [&](PageState& s) { s.keepClip(true); });
}

void clipStrokeText(fz_context* ctx, fz_device* dev, const fz_text* text, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    if (fz_device* to = cells(dev))
        return fz_clip_stroke_text(ctx, to, text, stroke, ctm, scissor);
    guarded(dev, [&](PageState& s) { s.keepClip(true); });
}

void clipImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, fz_rect scissor)
{
    if (fz_device* to = cells(dev))
        return fz_clip_image_mask(ctx, to, image, ctm, scissor);
    guarded(dev, [&](PageState& s) { s.keepClip(true); });
}

void popClip(fz_context* ctx, fz_device* dev)
{
    if (fz_device* to = cells(dev))
        return fz_pop_clip(ctx, to);
    guarded(dev, [&](PageState& s) { s.popClip(); });
}

void beginLayer(fz_context*, fz_device* dev, const char* name)
{
    guarded(dev, [&](PageState& s) { s.beginLayer(name); });
}

void endLayer(fz_context*, fz_device* dev)
{
    guarded(dev, [&](PageState& s) { s.endLayer(); });
}

fz_device* newDrawingDevice(fz_context* ctx, PageState& state)
{
    auto* dev = fz_new_derived_device(ctx, DrawingDevice);
    dev->state = &state;
    dev->super.fill_path = fillPath;
    dev->super.stroke_path = strokePath;
    dev->super.fill_text = fillText;
    dev->super.stroke_text = strokeText;
    dev->super.ignore_text = ignoreText;
    dev->super.fill_shade = fillShade;
    dev->super.fill_image = fillImage;
    dev->super.fill_image_mask = fillImageMask;
    dev->super.begin_mask = beginMask;
    dev->super.end_mask = endMask;
    dev->super.begin_group = beginGroup;
    dev->super.end_group = endGroup;
    dev->super.begin_tile = beginTile;
    dev->super.end_tile = endTile;
    dev->super.clip_path = clipPath;
    dev->super.clip_stroke_path = clipStrokePath;
    dev->super.clip_text = clipText;
    dev->super.clip_stroke_text = clipStrokeText;
    dev->super.clip_image_mask = clipImageMask;
    dev->super.pop_clip = popClip;
    dev->super.begin_layer = beginLayer;
    dev->super.end_layer = endLayer;
    return &dev->super;
}

// Runs the page with MuPDF's error handling. Only plain data lives in this frame: MuPDF may jump within it.
// Returns false with MuPDF's message in `message` on failure.
bool runPage(fz_context* ctx, fz_page* page, PageState& state, char* message, std::size_t size)
{
    fz_device* dev = nullptr;
    bool ok = true;
    fz_var(dev);
    fz_var(ok);
    fz_try(ctx)
    {
        dev = newDrawingDevice(ctx, state);
        state.device = dev;
        fz_run_page(ctx, page, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx)
    {
        state.device = nullptr;
        fz_drop_device(ctx, dev);
    }
    fz_catch(ctx)
    {
        ok = false;
        fz_strlcpy(message, fz_caught_message(ctx), size);
    }
    return ok;
}

bool boundPage(fz_context* ctx, fz_page* page, fz_rect* bounds)
{
    bool ok = true;
    fz_var(ok);
    fz_try(ctx)
    {
        *bounds = fz_bound_page(ctx, page);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    return ok;
}

} // namespace

void drawPage(fz_context* ctx, fz_page* page, const std::vector<Layer>& layers, Drawing& drawing)
{
    fz_rect bounds;
    if (!boundPage(ctx, page, &bounds) || fz_is_empty_rect(bounds))
        throw std::runtime_error("the page has no size");
    PageState state(ctx, page, drawing, bounds, layers);
    char message[256] = "";
    const bool ok = runPage(ctx, page, state, message, sizeof message);
    if (state.error)
        std::rethrow_exception(state.error);
    if (!ok)
        throw std::runtime_error(std::string("the page could not be read: ") + message);
    state.finish();
}

} // namespace unplot::engine
