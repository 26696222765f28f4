#pragma once
// Runs one MuPDF page through our drawing device.

#include "drawing.h"

#include <mupdf/fitz.h>

#include <vector>

namespace unplot::engine {

// Converts the page's content (annotations included) into `drawing`: its size, entities, text styles and warnings.
// `layers` are the document's optional-content groups; content marked with them goes on their layers, the rest on
// "0". Throws std::runtime_error when MuPDF fails, and passes on any failure of the conversion itself.
void drawPage(fz_context* ctx, fz_page* page, const std::vector<Layer>& layers, Drawing& drawing);

} // namespace unplot::engine
