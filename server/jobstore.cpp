#include "jobstore.h"

#include <protocol.h>

#include "statement.h"
#include "transaction.h"

namespace unplot::server {

namespace status = protocol::status;

namespace {
constexpr const char* kInterruptedMessage = "The service stopped twice while converting this job.";
}

// The schema's version is SQLite's user_version: 0 for a new database or one of the first version (whose message
// column was the log's note), 2 now.
JobStore::JobStore(const std::filesystem::path& databaseFile) : db_(databaseFile)
{
    Statement version(db_, "PRAGMA user_version");
    version.step();
    const std::int64_t schema = version.integer(0);
    version.reset();
    Transaction transaction(db_);
    if (schema < 2) {
        Statement old(db_, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'jobs'");
        old.step();
        if (old.integer(0) > 0)
            db_.execute("ALTER TABLE jobs RENAME COLUMN message TO note;"
                        "ALTER TABLE jobs ADD COLUMN message TEXT NOT NULL DEFAULT '';");
    }
    db_.execute(R"(
        CREATE TABLE IF NOT EXISTS jobs (
            seq INTEGER PRIMARY KEY AUTOINCREMENT,
            id TEXT NOT NULL UNIQUE,
            status INTEGER NOT NULL,
            dwg INTEGER NOT NULL,
            version INTEGER NOT NULL,
            pages TEXT NOT NULL,
            attempts INTEGER NOT NULL DEFAULT 0,
            created INTEGER NOT NULL,
            started INTEGER,
            finished INTEGER,
            note TEXT NOT NULL DEFAULT '',
            message TEXT NOT NULL DEFAULT ''
        );
        CREATE INDEX IF NOT EXISTS jobs_by_status ON jobs (status, seq);
        CREATE INDEX IF NOT EXISTS jobs_by_finished ON jobs (finished);
        PRAGMA user_version = 2;
    )");
    transaction.commit();
}

bool JobStore::add(const Job& job, std::size_t maxWaiting, std::int64_t now)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement count(db_, "SELECT COUNT(*) FROM jobs WHERE status = ?");
    count.bind(1, status::kWaiting);
    count.step();
    bool full = count.integer(0) >= static_cast<std::int64_t>(maxWaiting);
    count.reset();
    if (full)
        return false;
    Statement insert(db_, "INSERT INTO jobs (id, status, dwg, version, pages, created) VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, job.id).bind(2, status::kWaiting).bind(3, std::int64_t{job.dwg}).bind(4, job.version);
    insert.bind(5, job.pages).bind(6, now).run();
    transaction.commit();
    return true;
}

std::optional<JobState> JobStore::state(const std::string& id)
{
    std::lock_guard lock(mutex_);
    Statement query(db_, R"(
        SELECT status, CASE WHEN status = ?2 THEN
            (SELECT COUNT(*) FROM jobs AS w WHERE w.status = ?2 AND w.seq <= jobs.seq) ELSE 0 END, message
        FROM jobs WHERE id = ?1)");
    query.bind(1, id).bind(2, status::kWaiting);
    if (!query.step())
        return std::nullopt;
    return JobState{query.integer(0), query.integer(1), query.text(2)};
}

std::optional<Job> JobStore::claimNext(std::int64_t now)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement next(db_, "SELECT seq, id, dwg, version, pages, attempts FROM jobs WHERE status = ? ORDER BY seq LIMIT 1");
    next.bind(1, status::kWaiting);
    if (!next.step())
        return std::nullopt;
    Job job{next.text(1), status::kConverting, next.integer(2) != 0, next.integer(3), next.text(4), next.integer(5) + 1};
    std::int64_t seq = next.integer(0);
    next.reset();
    Statement claim(db_, "UPDATE jobs SET status = ?, attempts = attempts + 1, started = ? WHERE seq = ?");
    claim.bind(1, status::kConverting).bind(2, now).bind(3, seq).run();
    transaction.commit();
    return job;
}

void JobStore::finish(const std::string& id, std::int64_t finalStatus, const std::string& note,
                      const std::string& message, std::int64_t now)
{
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE jobs SET status = ?, finished = ?, note = ?, message = ? WHERE id = ?");
    update.bind(1, finalStatus).bind(2, now).bind(3, note).bind(4, message).bind(5, id).run();
}

void JobStore::requeue(const std::string& id)
{
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE jobs SET status = ?, attempts = MAX(attempts - 1, 0) WHERE id = ? AND status = ?");
    update.bind(1, status::kWaiting).bind(2, id).bind(3, status::kConverting).run();
}

Recovery JobStore::recover(std::int64_t now)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Recovery recovery;
    Statement fail(db_, "UPDATE jobs SET status = ?, finished = ?, note = ?, message = ? WHERE status = ? AND attempts >= ?");
    fail.bind(1, status::kInterrupted).bind(2, now).bind(3, "the service stopped twice while converting it");
    fail.bind(4, kInterruptedMessage).bind(5, status::kConverting).bind(6, kMaxAttempts).run();
    recovery.failed = db_.changes();
    Statement again(db_, "UPDATE jobs SET status = ? WHERE status = ?");
    again.bind(1, status::kWaiting).bind(2, status::kConverting).run();
    recovery.requeued = db_.changes();
    transaction.commit();
    return recovery;
}

std::vector<std::string> JobStore::expire(std::int64_t cutoff)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    std::vector<std::string> ids;
    Statement query(db_, "SELECT id FROM jobs WHERE finished IS NOT NULL AND finished < ?");
    query.bind(1, cutoff);
    while (query.step())
        ids.push_back(query.text(0));
    Statement remove(db_, "DELETE FROM jobs WHERE finished IS NOT NULL AND finished < ?");
    remove.bind(1, cutoff).run();
    transaction.commit();
    return ids;
}

std::size_t JobStore::waitingCount()
{
    std::lock_guard lock(mutex_);
    Statement count(db_, "SELECT COUNT(*) FROM jobs WHERE status = ?");
    count.bind(1, status::kWaiting);
    count.step();
    return static_cast<std::size_t>(count.integer(0));
}

}  // namespace unplot::server
