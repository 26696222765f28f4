#pragma once
// The job store of a cluster: any number of unplotd nodes share one PostgreSQL database (libpq). Jobs are rows of
// unplot_jobs; uploads and archives are large objects, streamed in and out a piece at a time (lo_write, lo_read,
// lo_get) so that no node or query holds a whole file in memory, and deleted with their job. A claim is a lease
// that its node renews while it converts; a job whose lease ran out is claimed again by any node.

#include <condition_variable>
#include <vector>

#include "jobstore.h"

typedef struct pg_conn PGconn;

namespace unplot::server {

class PostgresJobStore : public JobStore {
public:
    // Connects to `uri` (a libpq connection URI) and creates or migrates the schema. Throws DatabaseError.
    PostgresJobStore(std::string uri, std::int64_t leaseSeconds);
    ~PostgresJobStore() override;

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

    // A connection from the pool, given back when the handle goes.
    class Connection {
    public:
        Connection(PostgresJobStore& store, PGconn* c) : store_(store), c_(c) {}
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        PGconn* get() const { return c_; }

    private:
        PostgresJobStore& store_;
        PGconn* c_;
    };

private:
    Connection connection();
    void migrate();

    std::string uri_;
    std::int64_t leaseSeconds_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<PGconn*> idle_;
    int open_ = 0;  // connections made, idle or in use
};

}  // namespace unplot::server
