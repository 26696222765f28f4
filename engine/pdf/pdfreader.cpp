#include "pdfreader.h"

#include "drawingdevice.h"
#include "pdfdecrypt.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <unordered_set>

namespace unplot::engine {
namespace {

// MuPDF's own warnings and errors would go to stderr; the reader counts them and keeps the first instead. Notes on
// fonts and their character maps are left out: a substituted font loses no content of a drawing, and characters
// that cannot be read are counted by the page (see PageState::finish).
struct Messages {
    std::string first;
    int count = 0;
};

bool aboutFontsOrCharacterMaps(std::string message)
{
    for (char& c : message)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"font", "cmap", "unicode", "bfrange", "bfchar", "cidrange", "codespace"})
        if (message.find(word) != std::string::npos)
            return true;
    return false;
}

void onMessage(void* user, const char* message)
{
    if (!message || aboutFontsOrCharacterMaps(message))
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

// MuPDF's allocations under a ceiling. Each block carries its size in front of it, so that the total is known. The
// readers of one document, each on its own thread with a MuPDF context of its own, keep one count.
struct MemoryCap {
    std::size_t limit = 0;
    std::atomic<std::size_t> held = 0;
};

// What the readers of one document share: where it comes from and the memory ceiling.
struct Shared {
    PdfSource source;
    MemoryCap cap;
};

constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* capRealloc(void* user, void* old, std::size_t size)
{
    auto* cap = static_cast<MemoryCap*>(user);
    unsigned char* block = old ? static_cast<unsigned char*>(old) - kBlockHeader : nullptr;
    std::size_t oldSize = 0;
    if (block)
        std::memcpy(&oldSize, block, sizeof oldSize);
    const std::size_t growth = size > oldSize ? size - oldSize : 0;
    for (std::size_t held = cap->held; growth > 0;) // the growth is taken from the ceiling before it is allocated
        if (growth > cap->limit - held)
            return nullptr;
        else if (cap->held.compare_exchange_weak(held, held + growth))
            break;
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kBlockHeader));
    if (!grown) {
        cap->held -= growth;
        return nullptr;
    }
    std::memcpy(grown, &size, sizeof size);
    if (size < oldSize)
        cap->held -= oldSize - size;
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

// Whether the page's object is in the file: a file cut short keeps its page tree but loses the pages themselves.
bool pageInFile(fz_context* ctx, pdf_document* doc, int index)
{
    bool found = false;
    fz_var(found);
    fz_try(ctx)
    {
        found = pdf_is_dict(ctx, pdf_lookup_page_obj(ctx, doc, index)) != 0;
    }
    fz_catch(ctx)
    {
        found = false;
    }
    return found;
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
    std::shared_ptr<Shared> shared;
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

    OpenResult openSource()
    {
        pdf_drop_document(ctx, doc);
        doc = nullptr;
        const PdfSource& source = shared->source;
        return openDocument(ctx, source.path.c_str(), source.bytes.get(), &doc, &pages);
    }

    // A MuPDF context of the reader's own: nothing in it is shared with another thread, so that no thread waits for
    // another (reading PDFs uses no state of MuPDF's beyond its context).
    void startMuPdf()
    {
        fz_alloc_context capped{&shared->cap, capMalloc, capRealloc, capFree};
        ctx = fz_new_context(shared->source.memoryLimit ? &capped : nullptr, nullptr, FZ_STORE_DEFAULT);
        if (!ctx)
            throw std::runtime_error("MuPDF could not start (out of memory).");
        fz_set_warning_callback(ctx, onMessage, &messages);
        fz_set_error_callback(ctx, onMessage, &messages);
    }

    // The first reader of a document.
    void open()
    {
        const PdfSource& source = shared->source;
        if (source.bytes ? !hasPdfHeader(*source.bytes) : !looksLikePdf(source.path))
            throw PdfOpenError(PdfOpenError::Reason::NotPdf, "The file is not a PDF document.");
        shared->cap.limit = source.memoryLimit;
        startMuPdf();

        OpenResult result = openSource();
        if (result == OpenResult::Encrypted) {
            if (auto plain = decryptWithEmptyPassword(source.path, source.bytes.get())) {
                shared->source.bytes = std::move(plain);
                result = openSource();
            }
        }
        switch (result) {
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
        int page = 0;
        while (page < pages && !pageInFile(ctx, doc, page))
            ++page;
        if (page == pages)
            throw PdfOpenError(PdfOpenError::Reason::Damaged,
                               "The PDF is damaged: none of its pages is in the file (it may have been cut short).");
        layers = readLayers(ctx, doc);
    }
};

PdfReader::PdfReader(PdfSource source) : impl_(std::make_unique<Impl>())
{
    impl_->shared = std::make_shared<Shared>();
    impl_->shared->source = std::move(source);
    impl_->open();
}

PdfReader::PdfReader(const std::string& path) : PdfReader(PdfSource{path, nullptr, 0}) {}

PdfReader::PdfReader(std::string_view bytes, std::size_t memoryLimit)
    : PdfReader(PdfSource{{}, std::make_shared<const std::string>(bytes), memoryLimit})
{}

PdfReader::PdfReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<PdfReader> PdfReader::another() const
{
    auto impl = std::make_unique<Impl>();
    impl->shared = impl_->shared;
    impl->startMuPdf();
    if (impl->openSource() != OpenResult::Ok || impl->pages != impl_->pages)
        throw std::runtime_error("the PDF could not be opened again (out of memory?)");
    impl->layers = readLayers(impl->ctx, impl->doc);
    return std::unique_ptr<PdfReader>(new PdfReader(std::move(impl)));
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
    if (!pageInFile(impl_->ctx, impl_->doc, pageNumber - 1))
        throw std::runtime_error("the page is missing from the file; the PDF may have been cut short");
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
        drawing.warnings.push_back(
            std::to_string(impl_->messages.count) + (impl_->messages.count == 1 ? " problem was" : " problems were") +
            " found in the page's content, so parts of it may be missing (first: " + impl_->messages.first + ")");
    return drawing;
}

} // namespace unplot::engine
