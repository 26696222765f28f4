#include "jobstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <protocol.h>

#include "statement.h"
#include "transaction.h"

namespace unplot::server {

namespace status = protocol::status;

// The schema's version is SQLite's user_version: 0 for a new database or one of the first version (whose message
// column was the log's note), 2 now.
SqliteJobStore::SqliteJobStore(DataPaths paths) : paths_(std::move(paths)), db_(paths_.database())
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

bool SqliteJobStore::add(const Job& job, const std::filesystem::path& pdf, std::size_t maxWaiting, std::int64_t now)
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
    std::filesystem::rename(pdf, paths_.upload(job.id));  // throws, and the transaction rolls back
    transaction.commit();
    return true;
}

std::optional<JobState> SqliteJobStore::state(const std::string& id)
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

std::optional<Job> SqliteJobStore::claimNext(std::int64_t now)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement next(db_, "SELECT seq, id, dwg, version, pages, attempts FROM jobs WHERE status = ? ORDER BY seq LIMIT 1");
    next.bind(1, status::kWaiting);
    if (!next.step())
        return std::nullopt;
    Job job{next.text(1), status::kConverting, next.integer(2) != 0, next.integer(3), next.text(4), next.integer(5) + 1, {}};
    std::int64_t seq = next.integer(0);
    next.reset();
    Statement claim(db_, "UPDATE jobs SET status = ?, attempts = attempts + 1, started = ? WHERE seq = ?");
    claim.bind(1, status::kConverting).bind(2, now).bind(3, seq).run();
    transaction.commit();
    return job;
}

std::filesystem::path SqliteJobStore::pdfFile(const Job& job, const std::filesystem::path&)
{
    return paths_.upload(job.id);
}

bool SqliteJobStore::renew(const Job&, std::int64_t)
{
    return true;  // one node: a claim lasts until the job ends or the service stops
}

bool SqliteJobStore::finish(const Job& job, const JobEnd& end, const std::filesystem::path* archive, std::int64_t now)
{
    if (archive)
        std::filesystem::rename(*archive, paths_.result(job.id));
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE jobs SET status = ?, finished = ?, note = ?, message = ? WHERE id = ?");
    update.bind(1, end.status).bind(2, now).bind(3, end.note).bind(4, end.message).bind(5, job.id).run();
    return true;
}

void SqliteJobStore::requeue(const Job& job)
{
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE jobs SET status = ?, attempts = MAX(attempts - 1, 0) WHERE id = ? AND status = ?");
    update.bind(1, status::kWaiting).bind(2, job.id).bind(3, status::kConverting).run();
}

Recovery SqliteJobStore::recover(std::int64_t now)
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

std::vector<std::string> SqliteJobStore::expire(std::int64_t cutoff)
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
    std::error_code ec;
    for (const std::string& id : ids) {
        std::filesystem::remove(paths_.upload(id), ec);
        std::filesystem::remove(paths_.result(id), ec);
    }
    return ids;
}

std::size_t SqliteJobStore::waitingCount()
{
    std::lock_guard lock(mutex_);
    Statement count(db_, "SELECT COUNT(*) FROM jobs WHERE status = ?");
    count.bind(1, status::kWaiting);
    count.step();
    return static_cast<std::size_t>(count.integer(0));
}

std::optional<Archive> SqliteJobStore::archive(const std::string& id)
{
    // Read from an open descriptor: a sweep that deletes the file meanwhile does not cut the download short.
    int fd = ::open(paths_.result(id).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* f) {
        ::close(*f);
        delete f;
    });
    return Archive{static_cast<std::uint64_t>(info.st_size), [file](std::uint64_t offset, std::size_t length, char* out) {
                       ssize_t n = ::pread(*file, out, length, static_cast<off_t>(offset));
                       return n > 0 ? static_cast<std::size_t>(n) : 0;
                   }};
}

}  // namespace unplot::server
