#pragma once
// The conversion workers: N threads that claim waiting jobs from the store, run the engine on each under its
// limits (renewing the claim's lease meanwhile) and record how it ended. One log line per state change.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "datapaths.h"

namespace unplot::server {

class Engine;
class JobStore;

class JobQueue {
public:
    // Idle workers look for jobs every `poll` even when nothing woke them (jobs added by other nodes); a claim's
    // lease is renewed every `renewal` while its job converts.
    JobQueue(JobStore& store, const Engine& engine, DataPaths paths, std::chrono::seconds poll,
             std::chrono::seconds renewal);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    void start(unsigned workers);
    // A job was added: wakes one idle worker.
    void notify();
    // Kills the running conversions, puts their jobs back in the queue (their attempt not counted) and joins the
    // workers. Safe to call twice.
    void stop();

private:
    void work();
    void convert(const struct Job& job);
    // Renews the lease until `done`; sets `cancel` when the lease is lost or the service stops. True when lost.
    bool keepLease(const struct Job& job, const bool& done, std::atomic<bool>& cancel);

    JobStore& store_;
    const Engine& engine_;
    DataPaths paths_;
    std::chrono::seconds poll_, renewal_;
    std::vector<std::thread> workers_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable leaseWake_;
    std::size_t wakeups_ = 0;
};

}  // namespace unplot::server
