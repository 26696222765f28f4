#include "uploadreceiver.h"

#include <protocol.h>

namespace unplot::server {

namespace {
constexpr std::size_t kMaxFieldBytes = 4096;
constexpr std::size_t kMaxOtherBytes = 1 << 20;  // all parts but the PDF
constexpr std::size_t kHeaderWindow = 1024;  // PDF readers accept the header anywhere in the first kilobyte
}  // namespace

UploadReceiver::UploadReceiver(std::string jobId, std::filesystem::path file, std::size_t maxPdfBytes)
    : id(std::move(jobId)), file_(std::move(file)), maxPdfBytes_(maxPdfBytes)
{
}

UploadReceiver::~UploadReceiver()
{
    if (out_)
        std::fclose(out_);
    std::error_code ec;
    if (!keep_)
        std::filesystem::remove(file_, ec);
}

bool UploadReceiver::refuse(UploadForm::Problem problem)
{
    if (form_.problem == UploadForm::Problem::None)
        form_.problem = problem;
    return false;
}

bool UploadReceiver::beginPart(const std::string& name)
{
    if (form_.problem != UploadForm::Problem::None)
        return false;
    inPdf_ = false;
    field_ = nullptr;
    std::optional<std::string>* fields[] = {&form_.type, &form_.pages, &form_.version};
    const std::string_view names[] = {protocol::kFieldType, protocol::kFieldPages, protocol::kFieldVersion};
    for (int i = 0; i < 3; ++i)
        if (name == names[i] && !*fields[i])  // the first of repeated fields counts
            field_ = &fields[i]->emplace();
    if (name == protocol::kFieldFile && !form_.hasPdf) {
        form_.hasPdf = inPdf_ = true;
        out_ = std::fopen(file_.c_str(), "wbe");
        if (!out_)
            return refuse(UploadForm::Problem::CannotStore);
    }
    return true;
}

bool UploadReceiver::append(const char* data, std::size_t size)
{
    if (form_.problem != UploadForm::Problem::None)
        return false;
    received_ += size;  // the other parts too: a form is the PDF and a few short fields
    if (received_ > maxPdfBytes_ + kMaxOtherBytes)
        return refuse(UploadForm::Problem::TooLarge);
    if (field_) {
        if (field_->size() + size > kMaxFieldBytes)
            return refuse(UploadForm::Problem::FieldTooLong);
        field_->append(data, size);
    }
    if (!inPdf_)
        return true;
    form_.pdfSize += size;
    if (form_.pdfSize > maxPdfBytes_)
        return refuse(UploadForm::Problem::TooLarge);
    if (head_.size() < kHeaderWindow)
        head_.append(data, std::min(size, kHeaderWindow - head_.size()));
    if (!checkHeader())
        return false;
    if (std::fwrite(data, 1, size, out_) != size)
        return refuse(UploadForm::Problem::CannotStore);
    return true;
}

bool UploadReceiver::checkHeader()
{
    if (headerChecked_ || head_.size() < kHeaderWindow)
        return true;
    headerChecked_ = true;
    return head_.find("%PDF-") != std::string::npos || refuse(UploadForm::Problem::NotPdf);
}

const UploadForm& UploadReceiver::finish()
{
    if (form_.hasPdf && form_.problem == UploadForm::Problem::None) {
        head_.resize(std::max(head_.size(), kHeaderWindow), '\0');  // a file shorter than the window
        checkHeader();
        if (out_ && std::fclose(out_) != 0)
            refuse(UploadForm::Problem::CannotStore);
        out_ = nullptr;
    }
    return form_;
}

}  // namespace unplot::server
