#include "postgresjobstore.h"

#include <libpq-fe.h>
#include <libpq/libpq-fs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <protocol.h>

#include "jobid.h"

namespace unplot::server {

namespace status = protocol::status;
namespace fs = std::filesystem;

namespace {

// Advisory lock keys: one node at a time migrates the schema, counts the queue to add a job, sweeps.
constexpr const char* kSchemaLock = "7263001";
constexpr const char* kQueueLock = "7263002";
constexpr const char* kSweepLock = "7263003";

// The schema, one step per version; unplot_schema holds the version reached.
const char* const kMigrations[] = {
    R"(CREATE TABLE unplot_jobs (
           seq BIGSERIAL PRIMARY KEY,
           id TEXT NOT NULL UNIQUE,
           status INTEGER NOT NULL,
           dwg BOOLEAN NOT NULL,
           version INTEGER NOT NULL,
           pages TEXT NOT NULL,
           attempts INTEGER NOT NULL DEFAULT 0,
           created BIGINT NOT NULL,
           started BIGINT,
           finished BIGINT,
           lease TEXT,
           lease_until BIGINT,
           upload OID,
           result OID,
           result_size BIGINT,
           note TEXT NOT NULL DEFAULT '',
           message TEXT NOT NULL DEFAULT '');
       CREATE INDEX unplot_jobs_by_status ON unplot_jobs (status, seq);
       CREATE INDEX unplot_jobs_by_finished ON unplot_jobs (finished);)",
};

class Result {
public:
    explicit Result(PGresult* r) : r_(r) {}
    Result(Result&& other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result() { PQclear(r_); }
    int rows() const { return PQntuples(r_); }
    std::string text(int row, int column) const
    {
        return std::string(PQgetvalue(r_, row, column), static_cast<std::size_t>(PQgetlength(r_, row, column)));
    }
    std::int64_t integer(int row, int column) const { return std::stoll(text(row, column)); }
    int changed() const { return std::atoi(PQcmdTuples(r_)); }
    PGresult* raw() const { return r_; }

private:
    PGresult* r_;
};

[[noreturn]] void fail(PGconn* c, const std::string& what)
{
    throw DatabaseError("PostgreSQL: " + what + ": " + PQerrorMessage(c));
}

// Runs SQL (one statement with text parameters, or a script without); the rows in text, or in binary when asked.
Result run(PGconn* c, const char* sql, const std::vector<std::string>& params = {}, bool binary = false)
{
    std::vector<const char*> values;
    for (const std::string& p : params)
        values.push_back(p.c_str());
    PGresult* r = params.empty() && !binary ? PQexec(c, sql)
                                            : PQexecParams(c, sql, static_cast<int>(values.size()), nullptr,
                                                           values.data(), nullptr, nullptr, binary ? 1 : 0);
    ExecStatusType state = PQresultStatus(r);
    if (state != PGRES_COMMAND_OK && state != PGRES_TUPLES_OK) {
        std::string error = r ? PQresultErrorMessage(r) : PQerrorMessage(c);
        PQclear(r);
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        throw DatabaseError("PostgreSQL: " + error + " (in " + std::string(sql).substr(0, 60) + "...)");
    }
    return Result(r);
}

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(PGconn* c) : c_(c) { run(c_, "BEGIN"); }
    ~Transaction()
    {
        if (open_)
            PQclear(PQexec(c_, "ROLLBACK"));
    }
    void commit()
    {
        run(c_, "COMMIT");
        open_ = false;
    }

private:
    PGconn* c_;
    bool open_ = true;
};

// A file into a new large object, or a large object into a file, a MiB at a time (libpq's lo_import and
// lo_export go 8 KiB at a time: a round trip each). Within a transaction.
constexpr std::size_t kPiece = 1 << 20;

Oid importFile(PGconn* c, const fs::path& file)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rbe"), std::fclose);
    Oid oid = in ? lo_creat(c, INV_WRITE) : InvalidOid;
    int fd = oid != InvalidOid ? lo_open(c, oid, INV_WRITE) : -1;
    if (fd < 0)
        fail(c, "cannot store " + file.string());
    std::vector<char> piece(kPiece);
    for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), in.get())) > 0;)
        if (lo_write(c, fd, piece.data(), n) != static_cast<int>(n))
            fail(c, "cannot store " + file.string());
    if (std::ferror(in.get()) || lo_close(c, fd) != 0)
        fail(c, "cannot store " + file.string());
    return oid;
}

void exportFile(PGconn* c, Oid oid, const fs::path& file)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(file.c_str(), "wbe"), std::fclose);
    int fd = out ? lo_open(c, oid, INV_READ) : -1;
    if (fd < 0)
        fail(c, "cannot write " + file.string());
    std::vector<char> piece(kPiece);
    int n;
    while ((n = lo_read(c, fd, piece.data(), piece.size())) > 0)
        if (std::fwrite(piece.data(), 1, static_cast<std::size_t>(n), out.get()) != static_cast<std::size_t>(n))
            fail(c, "cannot write " + file.string());
    if (n < 0 || std::fflush(out.get()) != 0)
        fail(c, "cannot write " + file.string());
    lo_close(c, fd);
}

std::string number(std::int64_t n)
{
    return std::to_string(n);
}

}  // namespace

PostgresJobStore::Connection::~Connection()
{
    if (PQstatus(c_) == CONNECTION_OK && PQtransactionStatus(c_) != PQTRANS_IDLE)
        PQclear(PQexec(c_, "ROLLBACK"));
    std::lock_guard lock(store_.mutex_);
    if (PQstatus(c_) == CONNECTION_OK) {
        store_.idle_.push_back(c_);
    } else {
        PQfinish(c_);
        --store_.open_;
    }
    store_.returned_.notify_one();
}

// A node opens at most this many connections; further requests wait for one.
constexpr int kMaxConnections = 16;

PostgresJobStore::Connection PostgresJobStore::connection()
{
    {
        std::unique_lock lock(mutex_);
        returned_.wait(lock, [this] { return !idle_.empty() || open_ < kMaxConnections; });
        if (!idle_.empty()) {
            PGconn* c = idle_.back();
            idle_.pop_back();
            return Connection(*this, c);
        }
        ++open_;
    }
    PGconn* c = PQconnectdb(uri_.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        std::string error = PQerrorMessage(c);
        PQfinish(c);
        std::lock_guard lock(mutex_);
        --open_;
        returned_.notify_one();
        throw DatabaseError("cannot connect to the database: " + error);
    }
    PQclear(PQexec(c, "SET client_min_messages = warning"));
    return Connection(*this, c);
}

PostgresJobStore::PostgresJobStore(std::string uri, std::int64_t leaseSeconds)
    : uri_(std::move(uri)), leaseSeconds_(leaseSeconds)
{
    migrate();
}

PostgresJobStore::~PostgresJobStore()
{
    for (PGconn* c : idle_)
        PQfinish(c);
}

void PostgresJobStore::migrate()
{
    Connection c = connection();
    run(c.get(), "SELECT pg_advisory_lock($1)", {kSchemaLock});
    struct Unlock {
        PGconn* c;
        ~Unlock() { PQclear(PQexecParams(c, "SELECT pg_advisory_unlock($1)", 1, nullptr, &kSchemaLock, nullptr, nullptr, 0)); }
    } unlock{c.get()};
    run(c.get(), "CREATE TABLE IF NOT EXISTS unplot_schema (version INTEGER NOT NULL)");
    std::int64_t version = run(c.get(), "SELECT COALESCE(MAX(version), 0) FROM unplot_schema").integer(0, 0);
    for (auto step = static_cast<std::size_t>(version); step < std::size(kMigrations); ++step) {
        Transaction transaction(c.get());
        run(c.get(), kMigrations[step]);
        run(c.get(), "DELETE FROM unplot_schema");
        run(c.get(), "INSERT INTO unplot_schema VALUES ($1)", {number(static_cast<std::int64_t>(step) + 1)});
        transaction.commit();
    }
}

bool PostgresJobStore::add(const Job& job, const fs::path& pdf, std::size_t maxWaiting, std::int64_t now)
{
    Connection c = connection();
    Transaction transaction(c.get());
    Oid upload = importFile(c.get(), pdf);
    run(c.get(), "SELECT pg_advisory_xact_lock($1)", {kQueueLock});
    if (run(c.get(), "SELECT COUNT(*) FROM unplot_jobs WHERE status = $1", {number(status::kWaiting)}).integer(0, 0) >=
        static_cast<std::int64_t>(maxWaiting))
        return false;
    run(c.get(),
        "INSERT INTO unplot_jobs (id, status, dwg, version, pages, created, upload) VALUES ($1, $2, $3, $4, $5, $6, $7)",
        {job.id, number(status::kWaiting), job.dwg ? "true" : "false", number(job.version), job.pages, number(now),
         std::to_string(upload)});
    transaction.commit();
    std::error_code ec;
    fs::remove(pdf, ec);
    return true;
}

std::optional<JobState> PostgresJobStore::state(const std::string& id)
{
    Connection c = connection();
    Result r = run(c.get(), R"(SELECT status, CASE WHEN status = $2 THEN
                                   (SELECT COUNT(*) FROM unplot_jobs AS w WHERE w.status = $2 AND w.seq <= j.seq)
                                   ELSE 0 END, message FROM unplot_jobs AS j WHERE id = $1)",
                   {id, number(status::kWaiting)});
    if (r.rows() == 0)
        return std::nullopt;
    return JobState{r.integer(0, 0), r.integer(0, 1), r.text(0, 2)};
}

std::optional<Job> PostgresJobStore::claimNext(std::int64_t now)
{
    recover(now);
    Connection c = connection();
    Transaction transaction(c.get());
    Result next = run(c.get(), R"(SELECT seq, id, dwg, version, pages, attempts FROM unplot_jobs
                                  WHERE status = $1 ORDER BY seq LIMIT 1 FOR UPDATE SKIP LOCKED)",
                      {number(status::kWaiting)});
    if (next.rows() == 0)
        return std::nullopt;
    Job job{next.text(0, 1), status::kConverting, next.text(0, 2) == "t", next.integer(0, 3), next.text(0, 4),
            next.integer(0, 5) + 1, newJobId()};
    run(c.get(), R"(UPDATE unplot_jobs SET status = $1, attempts = attempts + 1, started = $2, lease = $3,
                    lease_until = $4 WHERE seq = $5)",
        {number(status::kConverting), number(now), job.lease, number(now + leaseSeconds_), next.text(0, 0)});
    transaction.commit();
    return job;
}

fs::path PostgresJobStore::pdfFile(const Job& job, const fs::path& scratch)
{
    Connection c = connection();
    Transaction transaction(c.get());
    Result r = run(c.get(), "SELECT upload FROM unplot_jobs WHERE id = $1", {job.id});
    if (r.rows() == 0)
        throw DatabaseError("job " + job.id + " is gone");
    exportFile(c.get(), static_cast<Oid>(r.integer(0, 0)), scratch);
    transaction.commit();
    return scratch;
}

bool PostgresJobStore::renew(const Job& job, std::int64_t now)
{
    Connection c = connection();
    return run(c.get(), "UPDATE unplot_jobs SET lease_until = $1 WHERE id = $2 AND lease = $3 AND status = $4",
               {number(now + leaseSeconds_), job.id, job.lease, number(status::kConverting)})
               .changed() == 1;
}

bool PostgresJobStore::finish(const Job& job, const JobEnd& end, const fs::path* archive, std::int64_t now)
{
    Connection c = connection();
    Transaction transaction(c.get());
    if (run(c.get(), "SELECT 1 FROM unplot_jobs WHERE id = $1 AND lease = $2 AND status = $3 FOR UPDATE",
            {job.id, job.lease, number(status::kConverting)})
            .rows() == 0)
        return false;
    std::string result = "", size = "";
    if (archive) {
        result = std::to_string(importFile(c.get(), *archive));
        size = std::to_string(fs::file_size(*archive));
    }
    run(c.get(), R"(UPDATE unplot_jobs SET status = $1, finished = $2, note = $3, message = $4, lease = NULL,
                    result = NULLIF($5, '')::oid, result_size = NULLIF($6, '')::bigint WHERE id = $7)",
        {number(end.status), number(now), end.note, end.message, result, size, job.id});
    transaction.commit();
    if (archive) {
        std::error_code ec;
        fs::remove(*archive, ec);
    }
    return true;
}

void PostgresJobStore::requeue(const Job& job)
{
    Connection c = connection();
    run(c.get(), R"(UPDATE unplot_jobs SET status = $1, attempts = GREATEST(attempts - 1, 0), lease = NULL
                    WHERE id = $2 AND lease = $3 AND status = $4)",
        {number(status::kWaiting), job.id, job.lease, number(status::kConverting)});
}

Recovery PostgresJobStore::recover(std::int64_t now)
{
    Connection c = connection();
    Transaction transaction(c.get());
    Recovery recovery;
    recovery.failed = run(c.get(), R"(UPDATE unplot_jobs SET status = $1, finished = $2, lease = NULL,
                                          note = 'its node stopped renewing its lease twice', message = $3
                                      WHERE status = $4 AND lease_until < $2 AND attempts >= $5)",
                          {number(status::kInterrupted), number(now), kInterruptedMessage,
                           number(status::kConverting), number(kMaxAttempts)})
                          .changed();
    recovery.requeued = run(c.get(), R"(UPDATE unplot_jobs SET status = $1, lease = NULL
                                        WHERE status = $2 AND lease_until < $3)",
                            {number(status::kWaiting), number(status::kConverting), number(now)})
                            .changed();
    transaction.commit();
    return recovery;
}

std::vector<std::string> PostgresJobStore::expire(std::int64_t cutoff)
{
    Connection c = connection();
    Transaction transaction(c.get());
    std::vector<std::string> ids;
    if (run(c.get(), "SELECT pg_try_advisory_xact_lock($1)", {kSweepLock}).text(0, 0) != "t")
        return ids;  // another node sweeps
    Result gone = run(c.get(), R"(WITH gone AS (DELETE FROM unplot_jobs WHERE finished < $1 RETURNING id, upload, result)
                                  SELECT id, CASE WHEN upload IS NOT NULL THEN lo_unlink(upload) END,
                                         CASE WHEN result IS NOT NULL THEN lo_unlink(result) END FROM gone)",
                      {number(cutoff)});
    for (int row = 0; row < gone.rows(); ++row)
        ids.push_back(gone.text(row, 0));
    transaction.commit();
    return ids;
}

std::size_t PostgresJobStore::waitingCount()
{
    Connection c = connection();
    return static_cast<std::size_t>(
        run(c.get(), "SELECT COUNT(*) FROM unplot_jobs WHERE status = $1", {number(status::kWaiting)}).integer(0, 0));
}

std::optional<Archive> PostgresJobStore::archive(const std::string& id)
{
    Result r = [&] {
        Connection c = connection();
        return run(c.get(), "SELECT result, result_size FROM unplot_jobs WHERE id = $1 AND result IS NOT NULL", {id});
    }();
    if (r.rows() == 0)
        return std::nullopt;
    // Read a piece at a time (lo_get), each in a query of its own.
    return Archive{static_cast<std::uint64_t>(r.integer(0, 1)),
                   [this, oid = r.text(0, 0)](std::uint64_t offset, std::size_t length, char* out) -> std::size_t {
                       try {
                           Connection c = connection();
                           Result piece = run(c.get(), "SELECT lo_get($1::oid, $2::bigint, $3::integer)",
                                              {oid, std::to_string(offset), std::to_string(length)}, true);
                           std::size_t n = std::min(length, static_cast<std::size_t>(PQgetlength(piece.raw(), 0, 0)));
                           std::memcpy(out, PQgetvalue(piece.raw(), 0, 0), n);
                           return n;
                       } catch (const DatabaseError&) {
                           return 0;
                       }
                   }};
}

std::unique_ptr<JobStore> openJobStore(const std::string& database, const DataPaths& paths, std::int64_t leaseSeconds)
{
    if (database.empty())
        return std::make_unique<SqliteJobStore>(paths);
    return std::make_unique<PostgresJobStore>(database, leaseSeconds);
}

}  // namespace unplot::server
