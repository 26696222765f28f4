#pragma once
// The job queue's durable state: one SQLite table of jobs in the data folder. Thread-safe (one connection behind
// a mutex). Every function throws DatabaseError when SQLite fails; the database is then left as it was.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace unplot::server {

struct Job {
    std::string id;
    std::int64_t status = 0;
    bool dwg = false;
    std::int64_t version = 0;
    std::string pages;  // the engine's --pages argument, already checked against the document
    std::int64_t attempts = 0;
};

struct JobState {
    std::int64_t status = 0;
    std::int64_t place = 0;  // 1 = next to convert; 0 unless waiting
    std::string message;     // for the queue reply: the warnings, or why the job failed
};

struct Recovery {
    int requeued = 0;  // were converting when the service stopped; will be converted again
    int failed = 0;    // had already been converted once before; now failed (status::kInterrupted)
};

class JobStore {
public:
    // A job converting when the service died is claimed again while its attempts stay below this.
    static constexpr std::int64_t kMaxAttempts = 2;

    explicit JobStore(const std::filesystem::path& databaseFile);

    // Adds a waiting job unless `maxWaiting` jobs already wait; returns false then (and adds nothing).
    bool add(const Job& job, std::size_t maxWaiting, std::int64_t now);
    // The job's status and its place among the waiting jobs; nullopt for an unknown id.
    std::optional<JobState> state(const std::string& id);
    // Takes the oldest waiting job, marks it converting and counts the attempt (BEGIN IMMEDIATE, so two workers
    // never take the same job). nullopt when nothing waits.
    std::optional<Job> claimNext(std::int64_t now);
    // Records the end of a conversion: a final status, a note for the log and a message for the queue reply.
    void finish(const std::string& id, std::int64_t status, const std::string& note, const std::string& message,
                std::int64_t now);
    // Puts a converting job back in front of the queue without counting its attempt (the service is stopping).
    void requeue(const std::string& id);
    // At start-up: jobs left converting by a service that died are queued again, or failed after kMaxAttempts.
    Recovery recover(std::int64_t now);
    // Removes the jobs that ended before `cutoff` and returns their ids, so that their files can go too.
    std::vector<std::string> expire(std::int64_t cutoff);
    std::size_t waitingCount();

private:
    std::mutex mutex_;
    Database db_;
};

}  // namespace unplot::server
