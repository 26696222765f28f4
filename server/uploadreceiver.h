#pragma once
// An upload form as it arrives: the PDF streamed to a file and checked as it comes (size limit, PDF header),
// the small fields kept in memory. As soon as something is wrong it says so, and the rest is not read.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace unplot::server {

struct UploadForm {
    enum class Problem { None, NotMultipart, TooLarge, NotPdf, FieldTooLong, CannotStore };
    Problem problem = Problem::None;
    std::optional<std::string> type, pages, version;
    bool hasPdf = false;
    std::size_t pdfSize = 0;
};

class UploadReceiver {
public:
    // The upload of job `id`: its PDF goes to `file` (removed again by the destructor unless kept), at most
    // `maxPdfBytes` of it.
    UploadReceiver(std::string id, std::filesystem::path file, std::size_t maxPdfBytes);
    ~UploadReceiver();
    UploadReceiver(const UploadReceiver&) = delete;
    UploadReceiver& operator=(const UploadReceiver&) = delete;

    // A part named `name` begins; its content follows through append(). Both return false once a problem is
    // found (the form's problem says which): the caller stops reading.
    bool beginPart(const std::string& name);
    bool append(const char* data, std::size_t size);
    // After the last part. The form as received.
    const UploadForm& finish();
    // Records a problem found outside the parts (the first one found counts); returns false.
    bool refuse(UploadForm::Problem problem);

    const std::string id;
    const std::filesystem::path& file() const { return file_; }
    void keep() { keep_ = true; }

private:
    bool checkHeader();

    std::filesystem::path file_;
    std::size_t maxPdfBytes_;
    std::FILE* out_ = nullptr;
    UploadForm form_;
    std::string* field_ = nullptr;  // the field being received; nullptr for the PDF or an ignored part
    bool inPdf_ = false;
    bool headerChecked_ = false;
    std::string head_;  // the PDF's first KiB
    std::size_t received_ = 0;
    bool keep_ = false;
};

}  // namespace unplot::server
