// The job queue behind the protocol: places in the queue, engines that fail in every way, restarts.

#include <fstream>
#include <protocol.h>

#include "database.h"
#include "jobstore.h"
#include "statement.h"
#include "testsupport.h"

namespace unplot::server::test {
namespace {

using nlohmann::json;
namespace status = protocol::status;

// A conversion that runs until it is killed (by the time limit or by the service stopping).
constexpr const char* kHang = "exec sleep 300";

struct FailureRow {
    const char* name;
    const char* convert;
    std::int64_t status;
    const char* message;  // in the queue reply
};

class EngineFailureTest : public ServerTest, public ::testing::WithParamInterface<FailureRow> {};

// Each way an engine can end fails that one job with its status; the service answers throughout and the next
// job converts.
TEST_P(EngineFailureTest, FailsOnlyThatJob)
{
    fs::path failing = engine("failing", GetParam().convert);
    ServerConfig settings = config(failing);
    settings.jobTime = std::chrono::seconds(1);
    settings.jobMemoryBytes = std::size_t{64} << 20;
    start(settings);

    std::string id = submit();
    EXPECT_TRUE(waitUntil([&] { return status(id) != status::kWaiting; }));
    EXPECT_EQ(client().Get("/healthz")->status, 200);  // answering while the engine runs
    json reply = waitForEnd(id);
    EXPECT_EQ(reply["status"], GetParam().status);
    EXPECT_EQ(reply["result"], "");
    EXPECT_NE(reply.value("message", "").find(GetParam().message), std::string::npos) << reply;
    EXPECT_EQ(client().Get("/download/" + id + ".zip")->status, 404);
    EXPECT_FALSE(fs::exists(dir() / "data/results" / (id + ".part.zip")));
    EXPECT_EQ(conversionsOf(id), 1);

    fs::copy_file(goodEngine(), failing, fs::copy_options::overwrite_existing);
    EXPECT_EQ(waitForEnd(submit())["status"], status::kDone);
}

const FailureRow kFailures[] = {
    {"EngineError", "echo 'error: cannot write x.zip' >&2; exit 1", status::kFailed, "cannot write x.zip"},
    {"UnreadableInput", "exit 3", status::kFailed, "engine failed (exit 3)"},
    {"UsageError", "exit 2", status::kFailed, "engine failed (exit 2)"},
    {"NothingConverted", "exit 4", status::kNothingConverted, "None of the pages"},
    {"NoPageConverted", "echo 'warning: page 1: not converted: bad' >&2; exit 4", status::kNothingConverted,
     "page 1: not converted: bad"},
    {"SuccessWithoutArchive", "exit 0", status::kFailed, "wrote no archive"},
    {"Crash", "kill -SEGV $$", status::kCrashed, "crashed (signal 11"},
    {"Abort", "kill -ABRT $$", status::kCrashed, "crashed"},
    {"RunsOutOfTime", kHang, status::kTimedOut, "longer than this service allows for one job (1 s)"},
    {"IgnoresTermAndForks", "trap '' TERM; sleep 300 & sleep 300", status::kTimedOut, "(1 s)"},
    // dd's buffer does not fit under the limit: the allocation fails at once.
    {"BlowsTheMemoryLimit", "exec dd if=/dev/zero of=/dev/null bs=1G count=1", status::kOutOfMemory,
     "more memory than this service allows for one job (64 MB)"},
    {"BadAllocAbort", "echo \"terminate called after throwing an instance of 'std::bad_alloc'\" >&2; kill -ABRT $$",
     status::kOutOfMemory, "(64 MB)"},
};
INSTANTIATE_TEST_SUITE_P(Engine, EngineFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& row) { return std::string(row.param.name); });

// The warnings are told in the queue reply, one "page N: TEXT" line each, up to 50.
TEST_F(ServerTest, WarningsStillGiveTheResult)
{
    start(config(engine("warn", "echo 'note' >&2; for p in $(seq 60); do echo \"warning: page $p: image left out\" >&2; "
                                "done; echo PK > \"$2\"; exit 10")));
    std::string id = submit();
    json reply = waitForEnd(id);
    std::string lines;
    for (int p = 1; p <= 50; ++p)
        lines += "page " + std::to_string(p) + ": image left out\n";
    EXPECT_EQ(reply, (json{{"num", 0}, {"status", status::kDoneWithWarnings}, {"result", "/download/" + id + ".zip"},
                           {"message", lines + "(and 10 more)"}}));
    EXPECT_EQ(client().Get(reply["result"].get<std::string>())->body, "PK\n");
}

TEST_F(ServerTest, PlacesInTheQueueAndAFullQueue)
{
    ServerConfig settings = config(engine("hang", kHang));
    settings.maxQueue = 2;
    start(settings);
    std::string first = submit();
    ASSERT_TRUE(waitUntil([&] { return status(first) == status::kConverting; }));
    EXPECT_EQ(pollJson(first), (json{{"num", 0}, {"status", status::kConverting}, {"result", ""}}));
    std::string second = submit(), third = submit();
    EXPECT_EQ(pollJson(second), (json{{"num", 1}, {"status", status::kWaiting}, {"result", ""}}));
    EXPECT_EQ(pollJson(third), (json{{"num", 2}, {"status", status::kWaiting}, {"result", ""}}));
    auto refused = upload(Form{});
    EXPECT_EQ(refused->status, 429);
    EXPECT_EQ(json::parse(refused->body).value("result", ""), "49");
}

TEST_F(ServerTest, WorkersConvertSideBySide)
{
    // Each conversion waits until both have started: only two workers at once can finish them.
    const std::string started = (dir() / "started").string();
    fs::create_directory(started);
    std::string both = "[ $(ls '" + started + "' | wc -l) -ge 2 ]";
    ServerConfig settings = config(engine("pair", "touch '" + started + "/'$(basename \"$1\"); for i in $(seq 500); do " +
                                                      both + " && break; sleep 0.02; done; " + both + " || exit 1; echo PK > \"$2\""));
    settings.workers = 2;
    start(settings);
    std::string a = submit(), b = submit();
    EXPECT_EQ(waitForEnd(a)["status"], status::kDone);
    EXPECT_EQ(waitForEnd(b)["status"], status::kDone);
}

TEST_F(ServerTest, RestartKeepsWaitingAndConvertingJobs)
{
    fs::path hanging = engine("engine", kHang);
    start(config(hanging));
    EXPECT_THROW(UnplotServer second(config(hanging)), std::runtime_error);  // the data folder is taken
    std::string converting = submit();
    ASSERT_TRUE(waitUntil([&] { return status(converting) == status::kConverting; }));
    std::string waiting1 = submit(), waiting2 = submit();
    stop();  // kills the running conversion; its job waits again, at the front

    fs::copy_file(goodEngine(), hanging, fs::copy_options::overwrite_existing);
    start(config(hanging));
    for (const std::string& id : {converting, waiting1, waiting2})
        EXPECT_EQ(waitForEnd(id)["status"], status::kDone) << id;
    EXPECT_EQ(conversionsOf(converting), 2);
    EXPECT_EQ(conversionsOf(waiting1), 1);
    EXPECT_EQ(client().Get("/download/" + waiting2 + ".zip")->status, 200);
}

// A service that died (no clean stop) leaves jobs marked converting. Built here through the store itself.
TEST_F(ServerTest, JobsInterruptedByACrashAreConvertedOnceMore)
{
    const fs::path data = dir() / "data";
    fs::create_directories(data / "jobs");
    auto pdf = [&](const std::string& id) {
        std::ofstream(dir() / id) << pdfBytes();
        return dir() / id;
    };
    const std::string twice(32, 'a'), once(32, 'b'), queued(32, 'c');
    {
        SqliteJobStore store(DataPaths{data});
        std::int64_t now = std::time(nullptr);
        auto add = [&](const std::string& id) { ASSERT_TRUE(store.add(Job{id, 10, false, 14, "1-3", 0, {}}, pdf(id), 10, now)); };
        add(twice);
        ASSERT_EQ(store.claimNext(now)->id, twice);  // first run: the service died
        store.recover(now);                           // restarted: waits again
        ASSERT_EQ(store.claimNext(now)->attempts, 2); // second run: died again
        add(once);
        ASSERT_EQ(store.claimNext(now)->id, once);    // died during its first run
        add(queued);
    }
    start(config(goodEngine()));
    EXPECT_EQ(pollJson(twice), (json{{"num", 0}, {"status", status::kInterrupted}, {"result", ""},
                                     {"message", "The service stopped twice while converting this job."}}));
    EXPECT_EQ(waitForEnd(once)["status"], status::kDone);
    EXPECT_EQ(waitForEnd(queued)["status"], status::kDone);
    EXPECT_EQ(conversionsOf(twice), 0);
    EXPECT_EQ(conversionsOf(once), 1);

    stop();  // a clean restart changes nothing of the ended jobs
    start(config(goodEngine()));
    EXPECT_EQ(status(twice), status::kInterrupted);
    EXPECT_EQ(status(once), status::kDone);
    EXPECT_EQ(client().Get("/download/" + once + ".zip")->status, 200);
    Database db(data / "jobs.sqlite");
    Statement mode(db, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
}

// A database of the first version (its message column held the log's note) is taken over as it is.
TEST_F(ServerTest, AnOlderDatabaseIsMigrated)
{
    fs::create_directories(dir() / "data");
    const std::string id(32, 'd');
    {
        Database old(dir() / "data/jobs.sqlite");
        old.execute("CREATE TABLE jobs (seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, status INTEGER "
                    "NOT NULL, dwg INTEGER NOT NULL, version INTEGER NOT NULL, pages TEXT NOT NULL, attempts INTEGER NOT "
                    "NULL DEFAULT 0, created INTEGER NOT NULL, started INTEGER, finished INTEGER, message TEXT NOT NULL "
                    "DEFAULT ''); INSERT INTO jobs (id, status, dwg, version, pages, created, finished, message) VALUES ('" +
                    id + "', 101, 0, 14, '1', 0, strftime('%s'), 'exit 10: warning: page 1: x');");
    }
    start(config(goodEngine()));
    EXPECT_EQ(pollJson(id), (json{{"num", 0}, {"status", 101}, {"result", "/download/" + id + ".zip"}}));
    EXPECT_EQ(waitForEnd(submit())["status"], 100);
}

}  // namespace
}  // namespace unplot::server::test
