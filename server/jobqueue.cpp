#include "jobqueue.h"

#include <chrono>
#include <ctime>
#include <protocol.h>

#include "engine.h"
#include "jobstore.h"
#include "log.h"

namespace unplot::server {

namespace status = protocol::status;
namespace fs = std::filesystem;

JobQueue::JobQueue(JobStore& store, const Engine& engine, DataPaths paths, std::chrono::seconds poll,
                   std::chrono::seconds renewal)
    : store_(store), engine_(engine), paths_(std::move(paths)), poll_(poll), renewal_(renewal)
{
}

JobQueue::~JobQueue()
{
    stop();
}

void JobQueue::start(unsigned workers)
{
    stopping_ = false;
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([this] { work(); });
}

void JobQueue::notify()
{
    {
        std::lock_guard lock(mutex_);
        ++wakeups_;
    }
    wake_.notify_one();
}

void JobQueue::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    leaseWake_.notify_all();
    for (auto& worker : workers_)
        worker.join();
    workers_.clear();
}

void JobQueue::work()
{
    while (!stopping_) {
        std::optional<Job> job;
        try {
            job = store_.claimNext(std::time(nullptr));
        } catch (const std::exception& e) {
            logLine(std::string("cannot take a job from the queue: ") + e.what());
        }
        if (job) {
            convert(*job);
            continue;
        }
        // Nothing to do: sleep until a job comes (or, as a safety net, for a while; then look again).
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, poll_, [this] { return stopping_ || wakeups_ > 0; });
        if (wakeups_ > 0)
            --wakeups_;
    }
}

bool JobQueue::keepLease(const Job& job, const bool& done, std::atomic<bool>& cancel)
{
    std::unique_lock lock(mutex_);
    while (!done) {
        leaseWake_.wait_for(lock, renewal_, [&] { return done || stopping_; });
        if (stopping_) {
            cancel = true;
            return false;
        }
        if (done)
            break;
        lock.unlock();
        bool kept = true;
        try {
            kept = store_.renew(job, std::time(nullptr));
        } catch (const std::exception& e) {
            logLine("job " + job.id + ": cannot renew its lease: " + e.what());
        }
        lock.lock();
        if (!kept) {
            cancel = true;
            return true;
        }
    }
    return false;
}

void JobQueue::convert(const Job& job)
{
    logLine("job " + job.id + " converting (" + (job.dwg ? "dwg" : "dxf") + " " + std::to_string(job.version) +
            ", pages " + job.pages + ", attempt " + std::to_string(job.attempts) + ")");
    std::error_code ec;
    const fs::path partial = paths_.partialResult(job.id), scratch = paths_.uploads() / (job.id + ".part.pdf");
    fs::remove(partial, ec);
    std::atomic<bool> cancel{false};
    bool done = false, lost = false;
    std::thread keeper([&] { lost = keepLease(job, done, cancel); });
    ConversionOutcome outcome;
    bool fetched = true;
    try {
        outcome = engine_.convert(job, store_.pdfFile(job, scratch), partial, &cancel);
    } catch (const std::exception& e) {
        logLine("job " + job.id + ": cannot fetch its upload: " + e.what() + "; it is tried again once its lease runs out");
        fetched = false;
    }
    {
        std::lock_guard lock(mutex_);
        done = true;
    }
    leaseWake_.notify_all();
    keeper.join();
    fs::remove(scratch, ec);
    try {
        // An upload that could not be fetched is left to its lease: the job is claimed again once that runs out.
        if (lost) {
            logLine("job " + job.id + ": its lease was lost; another node converts it");
        } else if (fetched && outcome.status == 0) {  // the service is stopping
            store_.requeue(job);
            logLine("job " + job.id + " waiting again (the service is stopping)");
        } else if (fetched) {
            bool converted = outcome.status == status::kDone || outcome.status == status::kDoneWithWarnings;
            JobEnd end{outcome.status, outcome.note, outcome.message};
            try {
                if (!store_.finish(job, end, converted ? &partial : nullptr, std::time(nullptr)))
                    logLine("job " + job.id + ": its lease was lost; another node converts it");
            } catch (const std::exception& e) {
                if (!converted)
                    throw;
                end = {status::kFailed, outcome.note + "; cannot store the result: " + e.what(),
                       "The service could not store the result."};
                store_.finish(job, end, nullptr, std::time(nullptr));
            }
            logLine("job " + job.id + (end.status >= status::kDone ? " done" : " failed") + " (status " +
                    std::to_string(end.status) + "): " + end.note);
        }
    } catch (const std::exception& e) {
        logLine("job " + job.id + ": cannot record the end of the conversion: " + e.what());
    }
    fs::remove(partial, ec);
}

}  // namespace unplot::server
