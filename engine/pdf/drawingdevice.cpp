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

void fillPath(fz_context*, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm, fz_colorspace* cs,
              const float* color, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.fillPath(path, evenOdd != 0, ctm, cs, color, alpha);
    });
}

void strokePath(fz_context*, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke, fz_matrix ctm,
                fz_colorspace* cs, const float* color, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.strokePath(path, stroke, ctm, cs, color, alpha);
    });
}

void fillText(fz_context*, fz_device* dev, const fz_text* text, fz_matrix ctm, fz_colorspace* cs, const float* color,
              float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.text(text, ctm, cs, color, alpha, false);
    });
}

void strokeText(fz_context*, fz_device* dev, const fz_text* text, const fz_stroke_state*, fz_matrix ctm,
                fz_colorspace* cs, const float* color, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.text(text, ctm, cs, color, alpha, true);
    });
}

void ignoreText(fz_context*, fz_device* dev, const fz_text* text, fz_matrix ctm)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.invisibleText(text, ctm);
    });
}

void fillShade(fz_context*, fz_device* dev, fz_shade* shade, fz_matrix ctm, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.shade(shade, ctm, alpha);
    });
}

void fillImage(fz_context*, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.image(image, ctm, alpha);
    });
}

void fillImageMask(fz_context*, fz_device* dev, fz_image* image, fz_matrix ctm, fz_colorspace* cs,
                   const float* color, float alpha, fz_color_params)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            s.imageMask(image, ctm, cs, color, alpha);
    });
}

void beginMask(fz_context*, fz_device* dev, fz_rect, int, fz_colorspace*, const float*, fz_color_params)
{
    guarded(dev, [&](PageState& s) { ++s.maskDepth; });
}

void endMask(fz_context*, fz_device* dev)
{
    guarded(dev, [&](PageState& s) {
        --s.maskDepth;
        s.keepClip(); // the mask applies until its pop
    });
}

int beginTile(fz_context*, fz_device* dev, fz_rect, fz_rect, float, float, fz_matrix, int)
{
    guarded(dev, [&](PageState& s) {
        if (!s.skipping())
            ++s.patterns;
        ++s.tileDepth;
    });
    return 0; // not cached: MuPDF runs the cell's content, which we skip
}

void endTile(fz_context*, fz_device* dev)
{
    guarded(dev, [&](PageState& s) { --s.tileDepth; });
}

void clipPath(fz_context*, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm, fz_rect)
{
    guarded(dev, [&](PageState& s) {
        if (s.skipping())
            s.keepClip();
        else
            s.clipPath(path, evenOdd != 0, ctm);
    });
}

// Clips we do not cut at (a stroke's outline, text, an image mask): what they hold stays whole.
void clipStrokePath(fz_context*, fz_device* dev, const fz_path*, const fz_stroke_state*, fz_matrix, fz_rect)
{
    guarded(dev, [&](PageState& s) { s.keepClip(); });
}

void clipText(fz_context*, fz_device* dev, const fz_text*, fz_matrix, fz_rect)
{
    guarded(dev, [&](PageState& s) { s.keepClip(); });
}

void clipStrokeText(fz_context*, fz_device* dev, const fz_text*, const fz_stroke_state*, fz_matrix, fz_rect)
{
    guarded(dev, [&](PageState& s) { s.keepClip(); });
}

void clipImageMask(fz_context*, fz_device* dev, fz_image*, fz_matrix, fz_rect)
{
    guarded(dev, [&](PageState& s) { s.keepClip(); });
}

void popClip(fz_context*, fz_device* dev)
{
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
        fz_run_page(ctx, page, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx)
    {
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
    PageState state(ctx, drawing, bounds, layers);
    char message[256] = "";
    const bool ok = runPage(ctx, page, state, message, sizeof message);
    if (state.error)
        std::rethrow_exception(state.error);
    if (!ok)
        throw std::runtime_error(std::string("the page could not be read: ") + message);
    state.finish();
}

} // namespace unplot::engine
