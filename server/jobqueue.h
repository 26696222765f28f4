#pragma once
// The conversion workers: N threads that claim waiting jobs from the store, run the engine on each under its
// limits and record how it ended. One log line per state change.

#include <atomic>
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
    JobQueue(JobStore& store, const Engine& engine, DataPaths paths);
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

    JobStore& store_;
    const Engine& engine_;
    DataPaths paths_;
    std::vector<std::thread> workers_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t wakeups_ = 0;
};

}  // namespace unplot::server
