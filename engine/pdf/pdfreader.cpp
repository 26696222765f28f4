#include "pdfreader.h"

#include "drawingdevice.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
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

// PDF readers accept the header anywhere in the first kilobyte.
bool hasPdfHeader(std::string_view head)
{
    return head.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

bool looksLikePdf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PdfOpenError(PdfOpenError::Reason::NotPdf,
                           "The file cannot be opened: " + std::string(std::strerror(errno)) + ".");
    char head[1024] = {};
    in.read(head, sizeof head);
    return hasPdfHeader(std::string_view(head, std::size_t(in.gcount())));
}

// MuPDF's allocations under a ceiling. Each block carries its size in front of it, so that the total is known.
struct MemoryCap {
    std::size_t limit = 0;
    std::size_t held = 0;
};

constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* capRealloc(void* user, void* old, std::size_t size)
{
    auto* cap = static_cast<MemoryCap*>(user);
    unsigned char* block = old ? static_cast<unsigned char*>(old) - kBlockHeader : nullptr;
    std::size_t oldSize = 0;
    if (block)
        std::memcpy(&oldSize, block, sizeof oldSize);
    if (size > oldSize && size - oldSize > cap->limit - cap->held)
        return nullptr;
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kBlockHeader));
    if (!grown)
        return nullptr;
    std::memcpy(grown, &size, sizeof size);
    cap->held = cap->held - oldSize + size;
    return grown + kBlockHeader;
}

void* capMalloc(void* user, std::size_t size)
{
    return capRealloc(user, nullptr, size);
}

void capFree(void* user, void* pointer)
{
    if (!pointer)
        return;
    unsigned char* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    static_cast<MemoryCap*>(user)->held -= size;
    std::free(block);
}

enum class OpenResult { Ok, Damaged, Encrypted };

// MuPDF's side of opening a file (`bytes` null) or bytes in memory, with only plain data in the frame.
OpenResult openDocument(fz_context* ctx, const char* path, const std::string* bytes, pdf_document** doc, int* pages)
{
    OpenResult result = OpenResult::Ok;
    pdf_document* d = nullptr;
    fz_stream* stream = nullptr;
    fz_var(d);
    fz_var(stream);
    fz_var(result);
    fz_try(ctx)
    {
        if (bytes) {
            stream = fz_open_memory(ctx, reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
            d = pdf_open_document_with_stream(ctx, stream);
        } else {
            d = pdf_open_document(ctx, path);
        }
        if (pdf_needs_password(ctx, d))
            result = OpenResult::Encrypted;
        else
            *pages = fz_count_pages(ctx, &d->super);
    }
    fz_always(ctx)
    {
        fz_drop_stream(ctx, stream);
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
    MemoryCap cap;
    std::string bytes; // the document, when it is read from memory
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

    // Opens the file at `path`, or `bytes` when path is null.
    void open(const char* path, std::size_t memoryLimit)
    {
        cap.limit = memoryLimit;
        fz_alloc_context capped{&cap, capMalloc, capRealloc, capFree};
        ctx = fz_new_context(memoryLimit ? &capped : nullptr, nullptr, FZ_STORE_DEFAULT);
        if (!ctx)
            throw std::runtime_error("MuPDF could not start (out of memory).");
        fz_set_warning_callback(ctx, onMessage, &messages);
        fz_set_error_callback(ctx, onMessage, &messages);

        switch (openDocument(ctx, path, path ? nullptr : &bytes, &doc, &pages)) {
        case OpenResult::Encrypted:
            throw PdfOpenError(PdfOpenError::Reason::Encrypted,
                               "The PDF is protected by a password. Remove the password protection and try again.");
        case OpenResult::Damaged:
            throw PdfOpenError(PdfOpenError::Reason::Damaged, "The PDF is damaged and cannot be read.");
        case OpenResult::Ok:
            break;
        }
        if (pages <= 0)
            throw PdfOpenError(PdfOpenError::Reason::Damaged,
                               "The PDF has no pages that can be read; it may be damaged.");
        layers = readLayers(ctx, doc);
    }
};

PdfReader::PdfReader(const std::string& path) : impl_(std::make_unique<Impl>())
{
    if (!looksLikePdf(path))
        throw PdfOpenError(PdfOpenError::Reason::NotPdf, "The file is not a PDF document.");
    impl_->open(path.c_str(), 0);
}

PdfReader::PdfReader(std::string_view bytes, std::size_t memoryLimit) : impl_(std::make_unique<Impl>())
{
    if (!hasPdfHeader(bytes))
        throw PdfOpenError(PdfOpenError::Reason::NotPdf, "The file is not a PDF document.");
    impl_->bytes.assign(bytes);
    impl_->open(nullptr, memoryLimit);
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
