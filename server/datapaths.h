#pragma once
// Where a job's files live in the data folder. Ids must have passed protocol::isValidJobId before they get here.

#include <filesystem>
#include <string>

namespace unplot::server {

struct DataPaths {
    std::filesystem::path root;

    std::filesystem::path database() const { return root / "jobs.sqlite"; }
    std::filesystem::path uploads() const { return root / "jobs"; }
    std::filesystem::path results() const { return root / "results"; }
    std::filesystem::path upload(const std::string& id) const { return uploads() / (id + ".pdf"); }
    std::filesystem::path partialUpload(const std::string& id) const { return uploads() / (id + ".part"); }
    std::filesystem::path result(const std::string& id) const { return results() / (id + ".zip"); }
    // The engine writes here; renamed to result() once the conversion succeeded.
    std::filesystem::path partialResult(const std::string& id) const { return results() / (id + ".part.zip"); }
};

}  // namespace unplot::server
