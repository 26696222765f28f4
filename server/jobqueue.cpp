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

JobQueue::JobQueue(JobStore& store, const Engine& engine, DataPaths paths)
    : store_(store), engine_(engine), paths_(std::move(paths))
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
        wake_.wait_for(lock, std::chrono::seconds(30), [this] { return stopping_ || wakeups_ > 0; });
        if (wakeups_ > 0)
            --wakeups_;
    }
}

void JobQueue::convert(const Job& job)
{
    logLine("job " + job.id + " converting (" + (job.dwg ? "dwg" : "dxf") + " " + std::to_string(job.version) +
            ", pages " + job.pages + ", attempt " + std::to_string(job.attempts) + ")");
    std::error_code ec;
    fs::path partial = paths_.partialResult(job.id);
    fs::remove(partial, ec);
    ConversionOutcome outcome = engine_.convert(job, paths_.upload(job.id), partial, &stopping_);
    try {
        if (outcome.status == 0) {  // the service is stopping
            fs::remove(partial, ec);
            store_.requeue(job.id);
            logLine("job " + job.id + " waiting again (the service is stopping)");
            return;
        }
        if (outcome.status == status::kDone || outcome.status == status::kDoneWithWarnings) {
            fs::rename(partial, paths_.result(job.id), ec);
            if (ec) {
                outcome.status = status::kFailed;
                outcome.note += "; cannot store the result: " + ec.message();
                outcome.message = "The service could not store the result.";
            }
        }
        fs::remove(partial, ec);
        store_.finish(job.id, outcome.status, outcome.note, outcome.message, std::time(nullptr));
        logLine("job " + job.id + (outcome.status >= status::kDone ? " done" : " failed") + " (status " +
                std::to_string(outcome.status) + "): " + outcome.note);
    } catch (const std::exception& e) {
        logLine("job " + job.id + ": cannot record the end of the conversion: " + e.what());
    }
}

}  // namespace unplot::server
