#include "engine.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <sstream>
#include <nlohmann/json.hpp>
#include <protocol.h>

#include "jobstore.h"

namespace unplot::server {

namespace status = protocol::status;

namespace {

bool containsIgnoringCase(std::string_view text, std::string_view word)
{
    return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

// Best effort: an allocation failure under RLIMIT_AS shows as a message (bad_alloc, ENOMEM's text, an allocator's
// complaint) followed by an error exit or an abort, or as a peak resident size close to the limit.
bool ranOutOfMemory(const ChildResult& child, std::size_t memoryBytes)
{
    for (std::string_view word : {"bad_alloc", "cannot allocate", "out of memory", "memory exhausted"})
        if (containsIgnoringCase(child.err, word))
            return true;
    return memoryBytes > 0 && static_cast<double>(child.maxResidentKb) * 1024.0 >= 0.9 * static_cast<double>(memoryBytes);
}

std::string lastLines(const std::string& text, std::size_t maxChars = 400)
{
    std::string tail = text.size() > maxChars ? "..." + text.substr(text.size() - maxChars) : text;
    while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back())))
        tail.pop_back();
    return tail;
}

// The engine's "warning: page N: TEXT" lines as "page N: TEXT", at most kMaxLines of them and about kMaxBytes.
std::string pageWarnings(const std::string& err)
{
    constexpr std::size_t kMaxLines = 50, kMaxBytes = 4096;
    std::string message;
    std::size_t lines = 0, left = 0;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("warning: page ", 0) != 0)
            continue;
        if (++lines > kMaxLines || message.size() + line.size() > kMaxBytes)
            ++left;
        else
            message += (message.empty() ? "" : "\n") + line.substr(9);
    }
    if (left)
        message += "\n(and " + std::to_string(left) + " more)";
    return message;
}

// The engine's first "error: TEXT" line, without its prefix.
std::string engineError(const std::string& err)
{
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("error: ", 0) == 0)
            return line.substr(7, 500);
    return {};
}

}  // namespace

Engine::Engine(std::filesystem::path program, ChildLimits conversionLimits, ChildLimits probeLimits,
               std::vector<std::string> options)
    : program_(std::move(program)), conversionLimits_(conversionLimits), probeLimits_(probeLimits),
      options_(std::move(options))
{
}

DocumentInfo Engine::probe(const std::filesystem::path& pdf) const
{
    DocumentInfo info;
    if (::access(program_.c_str(), X_OK) != 0) {
        info.outcome = DocumentInfo::Outcome::EngineUnavailable;
        info.detail = "engine " + program_.string() + " is not an executable file";
        return info;
    }
    ChildResult child = runChild({program_.string(), "--info", pdf.string()}, probeLimits_);
    info.detail = "info probe: " + child.describe() + (child.err.empty() ? "" : ": " + lastLines(child.err));
    if (child.end == ChildResult::End::Exited && child.exitCode == 127 && child.out.empty()) {
        info.outcome = DocumentInfo::Outcome::EngineUnavailable;
        return info;
    }
    nlohmann::json reply = nlohmann::json::parse(child.out, nullptr, false);
    if (child.end == ChildResult::End::Exited && child.exitCode == 0 && reply.is_object() &&
        reply.contains("pages") && reply["pages"].is_number_integer()) {
        auto pages = reply["pages"].get<std::int64_t>();
        if (pages >= 1 && pages <= std::numeric_limits<int>::max()) {
            info.outcome = DocumentInfo::Outcome::Ok;
            info.pages = static_cast<int>(pages);
            return info;
        }
        info.detail += ": no pages";
        return info;  // Damaged
    }
    if (child.end == ChildResult::End::Exited && child.exitCode == 3 && reply.is_object() && reply.contains("error") &&
        reply["error"].is_string()) {
        std::string error = reply["error"].get<std::string>();
        if (error == "not-pdf")
            info.outcome = DocumentInfo::Outcome::NotPdf;
        else if (error == "encrypted")
            info.outcome = DocumentInfo::Outcome::Encrypted;
        if (reply.contains("message") && reply["message"].is_string())
            info.detail += ": " + reply["message"].get<std::string>();
    }
    return info;  // Damaged unless recognised above: a crash or a hang while opening counts as a damaged file
}

ConversionOutcome Engine::convert(const Job& job, const std::filesystem::path& pdf, const std::filesystem::path& zip,
                                  const std::atomic<bool>* cancel) const
{
    std::vector<std::string> argv = {program_.string(), pdf.string(), zip.string(), job.dwg ? "--dwg" : "--dxf",
                                     "--version", std::to_string(job.version), "--pages", job.pages};
    argv.insert(argv.end(), options_.begin(), options_.end());
    ChildResult child = runChild(argv, conversionLimits_, cancel);
    ConversionOutcome outcome;
    if (child.end == ChildResult::End::Cancelled)
        return outcome;
    outcome.status = statusFor(child, conversionLimits_.memoryBytes);
    outcome.note = child.describe();
    if (!child.err.empty())
        outcome.note += ": " + lastLines(child.err);
    if ((outcome.status == status::kDone || outcome.status == status::kDoneWithWarnings) &&
        !std::filesystem::is_regular_file(zip)) {
        outcome.status = status::kFailed;
        outcome.note += " (but wrote no archive)";
    }
    outcome.message = messageFor(outcome.status, child);
    return outcome;
}

std::string Engine::messageFor(std::int64_t end, const ChildResult& child) const
{
    const std::string warnings = pageWarnings(child.err);
    switch (end) {
    case status::kDone: return {};
    case status::kDoneWithWarnings: return warnings;
    case status::kNothingConverted: return warnings.empty() ? "None of the pages gave a drawing." : warnings;
    case status::kCrashed: return "The conversion engine crashed (" + child.describe() + ").";
    case status::kTimedOut:
        return "The conversion took longer than this service allows for one job (" +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(conversionLimits_.time).count()) + " s).";
    case status::kOutOfMemory:
        return "The conversion needed more memory than this service allows for one job (" +
               std::to_string(conversionLimits_.memoryBytes >> 20) + " MB).";
    default: {
        std::string error = engineError(child.err);
        if (!error.empty())
            return error;
        bool claimedSuccess = child.end == ChildResult::End::Exited && (child.exitCode == 0 || child.exitCode == 10);
        return claimedSuccess ? "The conversion engine wrote no archive." : "The conversion engine failed (" + child.describe() + ").";
    }
    }
}

std::int64_t Engine::statusFor(const ChildResult& child, std::size_t memoryBytes)
{
    switch (child.end) {
    case ChildResult::End::TimedOut: return status::kTimedOut;
    case ChildResult::End::Signaled: return ranOutOfMemory(child, memoryBytes) ? status::kOutOfMemory : status::kCrashed;
    case ChildResult::End::Exited:
        switch (child.exitCode) {
        case 0: return status::kDone;
        case 10: return status::kDoneWithWarnings;
        case 4: return status::kNothingConverted;
        default: return ranOutOfMemory(child, memoryBytes) ? status::kOutOfMemory : status::kFailed;
        }
    case ChildResult::End::Cancelled:
    case ChildResult::End::NotStarted: break;
    }
    return status::kFailed;
}

}  // namespace unplot::server
