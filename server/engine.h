#pragma once
// The conversion engine, run as a child process (unplot-engine). The service never links the engine: a crash,
// a hang or a memory blow-up in it ends that child and nothing else.
//
//   unplot-engine --info IN.pdf      -> {"pages":N} exit 0, or {"error":"not-pdf"|"damaged"|"encrypted",...} exit 3
//   unplot-engine IN.pdf OUT.zip --dxf|--dwg --version CODE --pages LIST
//                                    -> exit 0 done, 10 done with warnings (on stderr), 3 unreadable input,
//                                       4 nothing converted, 1 other failure, 2 usage

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "childprocess.h"

namespace unplot::server {

struct Job;

struct DocumentInfo {
    enum class Outcome { Ok, NotPdf, Damaged, Encrypted, EngineUnavailable };
    Outcome outcome = Outcome::Damaged;
    int pages = 0;
    std::string detail;  // for the log
};

struct ConversionOutcome {
    std::int64_t status = 0;  // a final status of protocol::status; 0 when cancelled
    std::string note;         // for the log: how the child ended, its warnings or error text
    std::string message;      // for the person who converts: the warnings ("page N: TEXT" lines), or why it failed
};

class Engine {
public:
    // `options`: further arguments of every conversion (such as --keep-strokes).
    Engine(std::filesystem::path program, ChildLimits conversionLimits, ChildLimits probeLimits,
           std::vector<std::string> options = {});

    // Opens the document and counts its pages (the --info probe, under the probe limits).
    DocumentInfo probe(const std::filesystem::path& pdf) const;
    // Converts the job's document into `zip`. `cancel` kills the child when it turns true.
    ConversionOutcome convert(const Job& job, const std::filesystem::path& pdf, const std::filesystem::path& zip,
                              const std::atomic<bool>* cancel) const;
    // How a conversion child's end maps to a status (memory limit given for the out-of-memory guess).
    static std::int64_t statusFor(const ChildResult& child, std::size_t memoryBytes);
    // What the queue reply says about a conversion that ended with `status`.
    std::string messageFor(std::int64_t status, const ChildResult& child) const;

    const std::filesystem::path& program() const { return program_; }

private:
    std::filesystem::path program_;
    ChildLimits conversionLimits_;
    ChildLimits probeLimits_;
    std::vector<std::string> options_;
};

}  // namespace unplot::server
