#include "pdfreader.h"

#include "drawingdevice.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <unordered_set>

namespace unplot::engine {
namespace {

// MuPDF's own warnings and errors would go to stderr; the reader counts them and keeps the first instead. Font
// substitution notes are left out: a substituted font loses no content of a drawing.
struct Messages {
    std::string first;
    int count = 0;
};

void onMessage(void* user, const char* message)
{
    if (!message || std::strstr(message, "font"))
        return;
    auto* m = static_cast<Messages*>(user);
    if (m->count++ == 0)
        m->first = message;
}

bool looksLikePdf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PdfOpenError(PdfOpenError::Reason::NotPdf,
                           "The file cannot be opened: " + std::string(std::strerror(errno)) + ".");
    char head[1024] = {};
    in.read(head, sizeof head);
    const std::string_view text(head, std::size_t(in.gcount()));
    return text.find("%PDF-") != std::string_view::npos;
}

enum class OpenResult { Ok, Damaged, Encrypted };

// MuPDF's side of opening, with only plain data in the frame.
OpenResult openDocument(fz_context* ctx, const char* path, pdf_document** doc, int* pages)
{
    OpenResult result = OpenResult::Ok;
    pdf_document* d = nullptr;
    fz_var(d);
    fz_var(result);
    fz_try(ctx)
    {
        d = pdf_open_document(ctx, path);
        if (pdf_needs_password(ctx, d))
            result = OpenResult::Encrypted;
        else
            *pages = fz_count_pages(ctx, &d->super);
    }
    fz_catch(ctx)
    {
        result = OpenResult::Damaged;
    }
    *doc = d;
    return result;
}

int countLayers(fz_context* ctx, pdf_document* doc)
{
    int count = 0;
    fz_var(count);
    fz_try(ctx)
    {
        count = pdf_count_layers(ctx, doc);
    }
    fz_catch(ctx)
    {
        count = 0;
    }
    return count;
}

// The layer's name (nullptr when it has none) and whether it is shown by default; it is then switched on, so that
// hidden layers are converted too, onto a layer that is switched off.
bool readLayer(fz_context* ctx, pdf_document* doc, int layer, const char** name, bool* enabled)
{
    bool ok = true;
    fz_var(ok);
    fz_try(ctx)
    {
        *name = pdf_layer_name(ctx, doc, layer);
        *enabled = pdf_layer_is_enabled(ctx, doc, layer) != 0;
        pdf_enable_layer(ctx, doc, layer, 1);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    return ok;
}

std::vector<Layer> readLayers(fz_context* ctx, pdf_document* doc)
{
    std::vector<Layer> layers;
    std::unordered_set<std::string> seen;
    const int count = countLayers(ctx, doc);
    for (int i = 0; i < count; ++i) {
        const char* name = nullptr;
        bool enabled = true;
        // A group called "0" (CAD plots carry the CAD layer "0" over) is the drawing's own layer "0".
        if (readLayer(ctx, doc, i, &name, &enabled) && name && *name && std::string_view(name) != "0" &&
            seen.insert(name).second)
            layers.push_back({name, enabled});
    }
    return layers;
}

fz_page* loadPage(fz_context* ctx, pdf_document* doc, int index)
{
    fz_page* page = nullptr;
    fz_var(page);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, &doc->super, index);
    }
    fz_catch(ctx)
    {
        page = nullptr;
    }
    return page;
}

} // namespace

const char* PdfOpenError::code() const
{
    switch (reason_) {
    case Reason::NotPdf:
        return "not-pdf";
    case Reason::Damaged:
        return "damaged";
    case Reason::Encrypted:
        return "encrypted";
    }
    return "damaged";
}

struct PdfReader::Impl {
    fz_context* ctx = nullptr;
    pdf_document* doc = nullptr;
    int pages = 0;
    std::vector<Layer> layers;
    Messages messages;

    ~Impl()
    {
        if (ctx) {
            pdf_drop_document(ctx, doc);
            fz_drop_context(ctx);
        }
    }
};

PdfReader::PdfReader(const std::string& path) : impl_(std::make_unique<Impl>())
{
    if (!looksLikePdf(path))
        throw PdfOpenError(PdfOpenError::Reason::NotPdf, "The file is not a PDF document.");
    impl_->ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (!impl_->ctx)
        throw std::runtime_error("MuPDF could not start (out of memory).");
    fz_set_warning_callback(impl_->ctx, onMessage, &impl_->messages);
    fz_set_error_callback(impl_->ctx, onMessage, &impl_->messages);

    switch (openDocument(impl_->ctx, path.c_str(), &impl_->doc, &impl_->pages)) {
    case OpenResult::Encrypted:
        throw PdfOpenError(PdfOpenError::Reason::Encrypted,
                           "The PDF is protected by a password. Remove the password protection and try again.");
    case OpenResult::Damaged:
        throw PdfOpenError(PdfOpenError::Reason::Damaged, "The PDF is damaged and cannot be read.");
    case OpenResult::Ok:
        break;
    }
    if (impl_->pages <= 0)
        throw PdfOpenError(PdfOpenError::Reason::Damaged, "The PDF has no pages that can be read; it may be damaged.");
    impl_->layers = readLayers(impl_->ctx, impl_->doc);
}

PdfReader::~PdfReader() = default;

int PdfReader::pageCount() const
{
    return impl_->pages;
}

const std::vector<Layer>& PdfReader::layers() const
{
    return impl_->layers;
}

Drawing PdfReader::readPage(int pageNumber)
{
    if (pageNumber < 1 || pageNumber > impl_->pages)
        throw std::out_of_range("page " + std::to_string(pageNumber) + " does not exist");
    struct PageHandle {
        fz_context* ctx;
        fz_page* page;
        ~PageHandle() { fz_drop_page(ctx, page); }
    } handle{impl_->ctx, loadPage(impl_->ctx, impl_->doc, pageNumber - 1)};
    if (!handle.page)
        throw std::runtime_error("the page could not be read; the PDF may be damaged");
    Drawing drawing;
    drawing.pageNumber = pageNumber;
    impl_->messages = {};
    drawPage(impl_->ctx, handle.page, impl_->layers, drawing);
    if (impl_->messages.count > 0)
        drawing.warnings.push_back("the PDF reader reported " + std::to_string(impl_->messages.count) +
                                   (impl_->messages.count == 1 ? " problem" : " problems") +
                                   " in the page's content (first: " + impl_->messages.first + ")");
    return drawing;
}

} // namespace unplot::engine
