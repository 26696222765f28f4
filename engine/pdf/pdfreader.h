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

class PdfReader {
public:
    // Opens the document. Throws PdfOpenError when the file is not a PDF, is damaged beyond repair or needs a
    // password (a PDF that opens with an empty user password is not "encrypted" for us).
    explicit PdfReader(const std::string& path);
    // The same for a document held in memory (the bytes are copied). A `memoryLimit` other than 0 caps the bytes
    // MuPDF holds at any time: an allocation past it fails inside MuPDF, which then frees what it caches and, if
    // that is not enough, reports the page or the document as unreadable.
    PdfReader(std::string_view bytes, std::size_t memoryLimit);
    ~PdfReader();
    PdfReader(const PdfReader&) = delete;
    PdfReader& operator=(const PdfReader&) = delete;

    int pageCount() const;
    // The document's optional-content groups, in document order; the ones hidden by default have visible = false.
    // Their content is converted all the same.
    const std::vector<Layer>& layers() const;

    // Converts a page (1-based). Throws std::out_of_range for a page that does not exist and std::runtime_error
    // when the page cannot be read.
    Drawing readPage(int pageNumber);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace unplot::engine
