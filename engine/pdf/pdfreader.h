#pragma once
// A PDF document opened for conversion: its pages as drawings, read with MuPDF.

#include "drawing.h"

#include <memory>
#include <stdexcept>
#include <string>
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
