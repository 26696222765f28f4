#pragma once
// The job queue's durable state: the jobs, their uploads and their archives. Two stores keep it: SQLite and files in
// the data folder (one node, the default), or PostgreSQL (any number of nodes, uploads and archives in the
// database). Both are thread-safe and throw on a database error, leaving the database as it was.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "database.h"
#include "datapaths.h"

namespace unplot::server {

struct Job {
    std::string id;
    std::int64_t status = 0;
    bool dwg = false;
    std::int64_t version = 0;
    std::string pages;  // the engine's --pages argument, already checked against the document
    std::int64_t attempts = 0;
    std::string lease;  // set by claimNext: what proves the claim when it is renewed or finished
};

struct JobState {
    std::int64_t status = 0;
    std::int64_t place = 0;  // 1 = next to convert; 0 unless waiting
    std::string message;     // for the queue reply: the warnings, or why the job failed
};

struct JobEnd {
    std::int64_t status = 0;
    std::string note;     // for the log
    std::string message;  // for the queue reply
};

struct Recovery {
    int requeued = 0;  // were converting when their service stopped; will be converted again
    int failed = 0;    // had already been converted once before; now failed (status::kInterrupted)
};

// A job's archive for a download.
struct Archive {
    std::uint64_t size = 0;
    // Copies up to `length` bytes from `offset` into `out`; returns how many (0: the end, or an error).
    std::function<std::size_t(std::uint64_t offset, std::size_t length, char* out)> read;
};

class JobStore {
public:
    // A job whose conversion was interrupted is claimed again while its attempts stay below this.
    static constexpr std::int64_t kMaxAttempts = 2;
    static constexpr const char* kInterruptedMessage = "The service stopped twice while converting this job.";

    virtual ~JobStore() = default;

    // Adds a waiting job whose PDF is `pdf` (taken into the store), unless `maxWaiting` jobs already wait; returns
    // false then, and adds nothing.
    virtual bool add(const Job& job, const std::filesystem::path& pdf, std::size_t maxWaiting, std::int64_t now) = 0;
    // The job's status and its place among the waiting jobs; nullopt for an unknown id.
    virtual std::optional<JobState> state(const std::string& id) = 0;
    // Takes the oldest waiting job, marks it converting under a fresh lease and counts the attempt: no two workers
    // take the same job. nullopt when nothing waits.
    virtual std::optional<Job> claimNext(std::int64_t now) = 0;
    // The claimed job's PDF as a local file: where the store keeps it, or a copy made in `scratch`.
    virtual std::filesystem::path pdfFile(const Job& job, const std::filesystem::path& scratch) = 0;
    // Extends the claimed job's lease; false when the job is no longer this claim's.
    virtual bool renew(const Job& job, std::int64_t now) = 0;
    // Records how a claimed job ended, with its archive when it has one (taken into the store). False, and nothing
    // recorded, when the job is no longer this claim's.
    virtual bool finish(const Job& job, const JobEnd& end, const std::filesystem::path* archive, std::int64_t now) = 0;
    // Puts a claimed job back in front of the queue without counting its attempt (the service is stopping).
    virtual void requeue(const Job& job) = 0;
    // Jobs whose service stopped while converting them (SQLite: at start-up, all jobs left converting; PostgreSQL:
    // the jobs whose lease ran out) are queued again, or fail after kMaxAttempts.
    virtual Recovery recover(std::int64_t now) = 0;
    // Removes the jobs that ended before `cutoff`, with their uploads and archives, and returns their ids.
    virtual std::vector<std::string> expire(std::int64_t cutoff) = 0;
    virtual std::size_t waitingCount() = 0;
    // The archive of a job that has one; nullopt otherwise.
    virtual std::optional<Archive> archive(const std::string& id) = 0;
};

// SQLite in the data folder, uploads and archives as files beside it.
class SqliteJobStore : public JobStore {
public:
    explicit SqliteJobStore(DataPaths paths);

    bool add(const Job& job, const std::filesystem::path& pdf, std::size_t maxWaiting, std::int64_t now) override;
    std::optional<JobState> state(const std::string& id) override;
    std::optional<Job> claimNext(std::int64_t now) override;
    std::filesystem::path pdfFile(const Job& job, const std::filesystem::path& scratch) override;
    bool renew(const Job& job, std::int64_t now) override;
    bool finish(const Job& job, const JobEnd& end, const std::filesystem::path* archive, std::int64_t now) override;
    void requeue(const Job& job) override;
    Recovery recover(std::int64_t now) override;
    std::vector<std::string> expire(std::int64_t cutoff) override;
    std::size_t waitingCount() override;
    std::optional<Archive> archive(const std::string& id) override;

private:
    DataPaths paths_;
    std::mutex mutex_;
    Database db_;
};

// Opens the store the configuration names: PostgreSQL for a postgresql:// URI, else SQLite in the data folder.
std::unique_ptr<JobStore> openJobStore(const std::string& database, const DataPaths& paths, std::int64_t leaseSeconds);

}  // namespace unplot::server
