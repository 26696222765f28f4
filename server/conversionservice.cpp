#include "conversionservice.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <fstream>
#include <protocol.h>

#include "jobid.h"
#include "log.h"

namespace unplot::server {

namespace fs = std::filesystem;
namespace status = protocol::status;

namespace {

ChildLimits conversionLimits(const ServerConfig& config)
{
    ChildLimits limits;
    limits.time = config.jobTime;
    limits.memoryBytes = config.jobMemoryBytes;
    return limits;
}

ChildLimits probeLimits(const ServerConfig& config)
{
    ChildLimits limits;
    limits.time = std::min(config.infoTime, config.jobTime);
    limits.memoryBytes = config.jobMemoryBytes;
    return limits;
}

DataPaths preparedPaths(const ServerConfig& config)
{
    DataPaths paths{config.dataDir};
    fs::create_directories(paths.uploads());
    fs::create_directories(paths.results());
    return paths;
}

std::optional<std::int64_t> strictVersion(const std::string& text)
{
    std::int64_t code = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !protocol::findVersion(code))
        return std::nullopt;
    return code;
}

// The engine's --pages argument: the pages in the order given, runs of consecutive pages as ranges.
std::string enginePages(const protocol::PageList& list, int pageCount)
{
    if (list.all)
        return pageCount == 1 ? "1" : "1-" + std::to_string(pageCount);
    std::string text;
    for (std::size_t i = 0; i < list.pages.size();) {
        std::size_t j = i;
        while (j + 1 < list.pages.size() && list.pages[j + 1] == list.pages[j] + 1)
            ++j;
        if (!text.empty())
            text += ',';
        text += std::to_string(list.pages[i]);
        if (j > i)
            text += '-' + std::to_string(list.pages[j]);
        i = j + 1;
    }
    return text;
}

std::vector<std::string> engineOptions(const ServerConfig& config)
{
    std::vector<std::string> options{"--threads", std::to_string(config.threadsPerJob)};
    if (config.keepStrokes)
        options.push_back("--keep-strokes");
    return options;
}

// Room for the form around the PDF in a request's announced length.
constexpr std::size_t kFormOverhead = 1 << 20;

std::string megabytes(std::size_t bytes)
{
    return std::to_string(bytes >> 20) + " MB";
}

}  // namespace

ConversionService::ConversionService(const ServerConfig& config)
    : config_(config),
      lock_(config.dataDir),
      paths_(preparedPaths(config)),
      store_(openJobStore(config.database, paths_, config.lease.count())),
      engine_(config.engine, conversionLimits(config), probeLimits(config), engineOptions(config)),
      queue_(*store_, engine_, paths_, config.database.empty() ? std::chrono::seconds(30) : std::chrono::seconds(1),
             std::max(std::chrono::seconds(1), config.lease / 3))
{
    Recovery recovery = store_->recover(std::time(nullptr));
    if (recovery.requeued || recovery.failed)
        logLine("recovered after an interruption: " + std::to_string(recovery.requeued) + " job(s) to convert again, " +
                std::to_string(recovery.failed) + " failed (status " + std::to_string(status::kInterrupted) + ")");
    // Half-written files of a service that died mid-upload or mid-conversion.
    for (const fs::path& dir : {paths_.uploads(), paths_.results()})
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".part" || entry.path().stem().extension() == ".part")
                fs::remove(entry.path());
}

ConversionService::~ConversionService()
{
    queue_.stop();
}

void ConversionService::startWorkers()
{
    queue_.start(config_.workers);
}

void ConversionService::stopWorkers()
{
    queue_.stop();
}

Reply ConversionService::refuse(Refusal reason, const std::string& message, const std::string& logNote)
{
    logLine(std::string("upload refused (") + std::string(refusalCode(reason)) + "): " + message +
            (logNote.empty() ? "" : " [" + logNote + "]"));
    return refused(reason, message);
}

std::unique_ptr<UploadReceiver> ConversionService::receiveUpload()
{
    std::string id = newJobId();
    fs::path file = paths_.partialUpload(id);
    return std::make_unique<UploadReceiver>(std::move(id), std::move(file), config_.maxUploadBytes);
}

std::optional<Reply> ConversionService::refuseOversized(std::uint64_t contentLength)
{
    if (contentLength <= config_.maxUploadBytes + kFormOverhead)
        return std::nullopt;
    return refuse(Refusal::TooLarge, tooLargeMessage(), std::to_string(contentLength) + " bytes announced");
}

std::string ConversionService::tooLargeMessage() const
{
    return "The PDF is too large: this service accepts files up to " + megabytes(config_.maxUploadBytes) + ".";
}

Reply ConversionService::upload(UploadReceiver& upload)
{
    static const std::string kFields = "convertData (the PDF), drp_Type, txt_Page and drp_Version";
    const UploadForm& form = upload.finish();
    using Problem = UploadForm::Problem;
    switch (form.problem) {
    case Problem::None: break;
    case Problem::NotMultipart:
        return refuse(Refusal::BadRequest, "The upload must be a multipart form with the fields " + kFields + ".");
    case Problem::TooLarge: return refuse(Refusal::TooLarge, tooLargeMessage());
    case Problem::NotPdf: return refuse(Refusal::NotPdf, "The file is not a PDF document.");
    case Problem::FieldTooLong: return refuse(Refusal::BadRequest, "A form field of the upload is far too long.");
    case Problem::CannotStore:
        return refuse(Refusal::ServiceFailure, "The service could not store the upload; please try again later.",
                      "cannot write " + upload.file().string());
    }
    const std::pair<bool, std::string_view> fields[] = {{form.hasPdf, protocol::kFieldFile},
                                                        {form.type.has_value(), protocol::kFieldType},
                                                        {form.pages.has_value(), protocol::kFieldPages},
                                                        {form.version.has_value(), protocol::kFieldVersion}};
    for (const auto& [present, name] : fields)
        if (!present)
            return refuse(Refusal::BadRequest,
                          "The upload is missing the form field " + std::string(name) + "; it needs " + kFields + ".");

    const std::string& type = *form.type;
    if (type != protocol::kTypeDxf && type != protocol::kTypeDwg)
        return refuse(Refusal::BadType, "The output type \"" + type + "\" is not known: send 0 for DXF or 1 for DWG.");
    const bool dwg = type == protocol::kTypeDwg;
    if (dwg && !config_.enableDwg)
        return refuse(Refusal::DwgUnavailable, "DWG output is switched off on this service; choose DXF.");
    auto version = strictVersion(*form.version);
    if (!version)
        return refuse(Refusal::BadVersion, "The drawing version \"" + *form.version +
                                               "\" is not known: choose 14 (R14), 15 (2000), 18 (2004), 21 (2007) "
                                               "or 23 (2010).");
    protocol::PageListError pageError;
    if (!protocol::parsePageList(*form.pages, 0, &pageError))
        return refuse(Refusal::BadPages, pageError.message);
    if (store_->waitingCount() >= config_.maxQueue)
        return refuse(Refusal::QueueFull, "The conversion queue is full; please try again in a few minutes.");

    DocumentInfo info = engine_.probe(upload.file());
    switch (info.outcome) {
    case DocumentInfo::Outcome::Ok: break;
    case DocumentInfo::Outcome::NotPdf:
        return refuse(Refusal::NotPdf, "The file is not a PDF document.", info.detail);
    case DocumentInfo::Outcome::Damaged:
        return refuse(Refusal::Damaged, "The PDF is damaged and cannot be read.", info.detail);
    case DocumentInfo::Outcome::Encrypted:
        return refuse(Refusal::Encrypted,
                      "The PDF is protected by a password; save it without the password and try again.", info.detail);
    case DocumentInfo::Outcome::EngineUnavailable:
        return refuse(Refusal::ServiceFailure, "The conversion engine of this service is not available.", info.detail);
    }
    auto pages = protocol::parsePageList(*form.pages, info.pages, &pageError);
    if (!pages)
        return refuse(Refusal::BadPages, pageError.message);
    if (pages->all && static_cast<std::size_t>(info.pages) > protocol::kMaxListedPages)
        return refuse(Refusal::BadPages, "The document has " + std::to_string(info.pages) + " pages; this service " +
                                             "converts at most " + std::to_string(protocol::kMaxListedPages) +
                                             " pages in one job: choose the pages to convert.");

    const std::string& id = upload.id;
    Job job{id, status::kWaiting, dwg, *version, enginePages(*pages, info.pages), 0, {}};
    bool added = false;
    try {
        added = store_->add(job, upload.file(), config_.maxQueue, std::time(nullptr));
    } catch (const std::exception& e) {
        return refuse(Refusal::ServiceFailure, "The service could not store the upload; please try again later.",
                      e.what());
    }
    if (!added)
        return refuse(Refusal::QueueFull, "The conversion queue is full; please try again in a few minutes.");
    logLine("job " + id + " waiting (" + (dwg ? "dwg" : "dxf") + " " + std::to_string(*version) + ", pages " +
            job.pages + " of " + std::to_string(info.pages) + ", " + std::to_string(form.pdfSize) + " bytes)");
    queue_.notify();
    return uploadAccepted(id);
}

Reply ConversionService::queueState(std::string_view id)
{
    if (!protocol::isValidJobId(id))
        return unknownFile();
    auto state = store_->state(std::string(id));
    if (!state)
        return unknownFile();
    bool done = state->status == status::kDone || state->status == status::kDoneWithWarnings;
    std::string result = done ? std::string(protocol::kDownloadPrefix) + std::string(id) + ".zip" : "";
    return server::queueState(state->place, state->status, result, state->message);
}

std::optional<Archive> ConversionService::archive(std::string_view fileName)
{
    constexpr std::string_view kSuffix = ".zip";
    if (fileName.size() <= kSuffix.size() || fileName.substr(fileName.size() - kSuffix.size()) != kSuffix)
        return std::nullopt;
    std::string_view id = fileName.substr(0, fileName.size() - kSuffix.size());
    if (!protocol::isValidJobId(id))
        return std::nullopt;
    return store_->archive(std::string(id));
}

void ConversionService::sweep(std::int64_t now)
{
    const std::int64_t cutoff = now - std::chrono::duration_cast<std::chrono::seconds>(config_.keep).count();
    for (const std::string& id : store_->expire(cutoff))
        logLine("job " + id + " expired: upload and result deleted");
    std::error_code ec;
    // Uploads refused or abandoned by a crash in the middle of an upload leave .part files: remove old ones.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const fs::path& dir : {paths_.uploads(), paths_.results()})
        for (const auto& entry : fs::directory_iterator(dir, ec))
            if (entry.path().extension() == ".part" && entry.last_write_time(ec) < old)
                fs::remove(entry.path(), ec);
}

}  // namespace unplot::server
