#pragma once
// A PDF document opened for conversion: its pages as drawings, read with MuPDF.

#include "drawing.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace unplot::engine {

// Why a file cannot be used at all.
class PdfOpenError : public std::runtime_error {
public:
    enum class Reason { NotPdf, Damaged, Encrypted };
    PdfOpenError(Reason reason, const std::string& message) : std::runtime_error(message), reason_(reason) {}
    Reason reason() const { return reason_; }
    // "not-pdf", "damaged" or "encrypted".
    const char* code() const;

private:
    Reason reason_;
};

// Where a document comes from, and how much MuPDF may hold for it.
struct PdfSource {
    std::string path;                         // the file, unless `bytes` holds the document
    std::shared_ptr<const std::string> bytes; // shared, not copied, by the readers of one document
    // A limit other than 0 caps the bytes MuPDF holds at any time for all readers of the document: an allocation
    // past it fails inside MuPDF, which then frees what it caches and, if that is not enough, reports the page or the
    // document as unreadable.
    std::size_t memoryLimit = 0;
};

class PdfReader {
public:
    // Opens the document. Throws PdfOpenError when the file is not a PDF, is damaged beyond repair (none of its pages
    // is in the file) or needs a password. A PDF that opens with an empty user password is not "encrypted" for us:
    // when MuPDF does not open it so, qpdf decrypts it into memory first.
    explicit PdfReader(PdfSource source);
    explicit PdfReader(const std::string& path);
    PdfReader(std::string_view bytes, std::size_t memoryLimit); // the bytes are copied
    ~PdfReader();

    // Another reader of the same document, for another thread: it shares this one's source (decrypted bytes
    // included) and memory limit, nothing else. Throws std::runtime_error when MuPDF cannot open it again.
    std::unique_ptr<PdfReader> another() const;
    PdfReader(const PdfReader&) = delete;
    PdfReader& operator=(const PdfReader&) = delete;

    int pageCount() const;
    // The document's optional-content groups, in document order; the ones hidden by default have visible = false.
    // Their content is converted all the same.
    const std::vector<Layer>& layers() const;

    // Converts a page (1-based). Throws std::out_of_range for a page that does not exist and std::runtime_error
    // when the page cannot be read or is missing from the file.
    Drawing readPage(int pageNumber);

private:
    struct Impl;
    explicit PdfReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace unplot::engine
