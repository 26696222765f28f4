// What every job store promises, checked on both: SQLite in a data folder, and PostgreSQL.

#include <libpq-fe.h>

#include <fstream>
#include <protocol.h>

#include "jobstore.h"
#include "postgres.h"
#include "testsupport.h"

namespace unplot::server::test {
namespace {

using namespace std::chrono_literals;
namespace status = protocol::status;

class StoreTest : public ServerTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        paths_.root = dir() / "data";
        fs::create_directories(paths_.uploads());
        fs::create_directories(paths_.results());
        if (std::string(GetParam()) == "postgres") {
            const Postgres& server = Postgres::instance();
            if (server.uri().empty())
                GTEST_SKIP() << server.why();
            PGconn* c = PQconnectdb(server.uri().c_str());  // each test begins with an empty database
            PQclear(PQexec(c, "SET client_min_messages = warning; DROP TABLE IF EXISTS unplot_jobs, unplot_schema;"
                              "SELECT lo_unlink(oid) FROM pg_largeobject_metadata"));
            PQfinish(c);
            database_ = server.uri();
        }
        store_ = openJobStore(database_, paths_, 30);
    }
    // A job with a PDF holding `text`.
    std::string add(const std::string& text, std::size_t maxWaiting = 10, bool* added = nullptr)
    {
        std::string id = std::string(31, 'a' + static_cast<char>(count_)) + std::to_string(count_ % 10);
        ++count_;
        fs::path pdf = dir() / (id + ".upload");
        std::ofstream(pdf) << text;
        bool ok = store_->add(Job{id, status::kWaiting, false, 14, "1", 0, {}}, pdf, maxWaiting, now_);
        if (added)
            *added = ok;
        return id;
    }
    JobState state(const std::string& id) { return store_->state(id).value_or(JobState{-1, -1, ""}); }
    std::string read(const Archive& archive)
    {
        std::string text(archive.size, '\0');
        for (std::size_t done = 0, n = 1; done < text.size() && n > 0; done += n)
            n = archive.read(done, std::min<std::size_t>(3, text.size() - done), text.data() + done);
        return text;
    }

    DataPaths paths_;
    std::string database_;
    std::unique_ptr<JobStore> store_;
    std::int64_t now_ = 1000000;
    int count_ = 0;
};

TEST_P(StoreTest, PlacesClaimsAndAFullQueue)
{
    std::string a = add("%PDF-a"), b = add("%PDF-b"), c = add("%PDF-c");
    EXPECT_EQ(state(c).place, 3);
    bool added = true;
    add("%PDF-d", 3, &added);
    EXPECT_FALSE(added);
    EXPECT_EQ(store_->waitingCount(), 3u);

    std::optional<Job> first = store_->claimNext(now_);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, a);
    EXPECT_EQ(first->attempts, 1);
    EXPECT_EQ(state(a).status, status::kConverting);
    EXPECT_EQ(state(a).place, 0);
    EXPECT_EQ(state(b).place, 1);
    std::ifstream pdf(store_->pdfFile(*first, dir() / "scratch.pdf"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(pdf), {}), "%PDF-a");
    EXPECT_EQ(state("no such job").status, -1);
}

TEST_P(StoreTest, EndsArchivesAndExpiry)
{
    std::string done = add("%PDF-1"), failed = add("%PDF-2");
    Job one = *store_->claimNext(now_), two = *store_->claimNext(now_);
    fs::path zip = dir() / "out.zip";
    std::ofstream(zip) << "PK archive of one";
    EXPECT_TRUE(store_->finish(one, {status::kDoneWithWarnings, "note", "page 1: image left out"}, &zip, now_));
    EXPECT_TRUE(store_->finish(two, {status::kCrashed, "signal 11", "crashed"}, nullptr, now_ + 100));
    EXPECT_EQ(state(done).status, status::kDoneWithWarnings);
    EXPECT_EQ(state(done).message, "page 1: image left out");
    ASSERT_TRUE(store_->archive(done));
    EXPECT_EQ(read(*store_->archive(done)), "PK archive of one");
    EXPECT_FALSE(store_->archive(failed));
    EXPECT_FALSE(store_->claimNext(now_));

    EXPECT_EQ(store_->expire(now_ + 50), std::vector<std::string>{done});
    EXPECT_EQ(state(done).status, -1);
    EXPECT_FALSE(store_->archive(done));
    EXPECT_EQ(state(failed).status, status::kCrashed);
}

// A job whose service stopped while converting it is converted once more, then fails with 34.
TEST_P(StoreTest, InterruptedJobsAreRetriedOnce)
{
    std::string id = add("%PDF-x");
    Job claim = *store_->claimNext(now_);
    store_->requeue(claim);  // a clean stop: the attempt does not count
    EXPECT_EQ(store_->claimNext(now_)->attempts, 1);
    const std::int64_t later = now_ + 3600;  // past any lease
    EXPECT_EQ(store_->recover(later).requeued, 1);
    claim = *store_->claimNext(later);
    EXPECT_EQ(claim.attempts, 2);
    EXPECT_EQ(store_->recover(later + 3600).failed, 1);
    EXPECT_EQ(state(id).status, status::kInterrupted);
    EXPECT_EQ(state(id).message, JobStore::kInterruptedMessage);
}

// Leases matter with several nodes: a claim whose lease ran out is no longer its node's.
TEST_P(StoreTest, AnExpiredLeaseIsTakenOver)
{
    if (database_.empty())
        GTEST_SKIP() << "one node: SQLite claims have no lease";
    add("%PDF-x");
    Job stale = *store_->claimNext(now_);
    EXPECT_TRUE(store_->renew(stale, now_ + 20));
    EXPECT_FALSE(store_->claimNext(now_ + 40));   // renewed: still its node's
    Job taken = *store_->claimNext(now_ + 60);  // not renewed in time: another node takes it
    EXPECT_EQ(taken.attempts, 2);
    EXPECT_FALSE(store_->renew(stale, now_ + 61));
    EXPECT_FALSE(store_->finish(stale, {status::kDone, "", ""}, nullptr, now_ + 62));
    EXPECT_TRUE(store_->finish(taken, {status::kDone, "", ""}, nullptr, now_ + 62));
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& row) { return std::string(row.param); });

}  // namespace
}  // namespace unplot::server::test
