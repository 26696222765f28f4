// The unplotd executable as scripts use it: start on port 0, read the address, ask /healthz, stop with SIGTERM;
// a second one on the same address refuses to start; three of them share one PostgreSQL and survive one's death.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <libpq-fe.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>

#include "postgres.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// unplotd started with `args`; its standard error is read as it comes.
struct Unplotd {
    std::string text;  // read so far
    std::mutex mutex;
    std::condition_variable grew;
    FILE* out;
    pid_t pid;
    std::thread reader;

    explicit Unplotd(const std::string& args)
        : out(popen(("echo $$; exec " UNPLOTD_PATH " " + args + " 2>&1").c_str(), "r")), pid(std::stoi(line()))
    {
        reader = std::thread([this] {
            for (std::string l = line(); !l.empty(); l = line())
                grew.notify_all();
            grew.notify_all();
        });
    }
    std::string line()
    {
        char buffer[4096];
        if (!fgets(buffer, sizeof buffer, out))
            return {};
        std::lock_guard lock(mutex);
        text += buffer;
        return buffer;
    }
    // Waits (up to a minute) until a line matches `pattern`; returns the pattern's first group.
    std::string until(const std::regex& pattern)
    {
        std::unique_lock lock(mutex);
        std::smatch match;
        grew.wait_for(lock, 60s, [&] { return std::regex_search(text, match, pattern); });
        return match.size() > 1 ? match[1].str() : std::string();
    }
    std::string address() { return until(std::regex("unplotd listening on http://(127\\.0\\.0\\.1:[0-9]+)")); }
    int exitCode()
    {
        reader.join();
        int status = pclose(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ~Unplotd()
    {
        if (reader.joinable()) {
            kill(pid, SIGKILL);
            exitCode();
        }
    }
};

std::string tempDir()
{
    std::string dir = "/tmp/unplotd-command-XXXXXX";
    return mkdtemp(dir.data()) ? dir : "";
}

TEST(UnplotdCommandTest, StartsOnAnyPortAnswersAndStopsCleanly)
{
    const std::string dir = tempDir();
    Unplotd first("--listen 127.0.0.1:0 --workers 1 --data " + dir + "/a");
    const std::string address = first.address();
    ASSERT_FALSE(address.empty()) << first.text;
    EXPECT_EQ(httplib::Client("http://" + address).Get("/healthz")->body, "ok");

    // A second service on the same address is refused, whatever its data folder.
    Unplotd second("--listen " + address + " --data " + dir + "/b");
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.text.find("unplotd: " + address + " is already in use\n"), std::string::npos) << second.text;

    kill(first.pid, SIGTERM);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_NE(first.text.find("GET /healthz -> 200"), std::string::npos) << first.text;
    EXPECT_TRUE(fs::exists(dir + "/a/jobs.sqlite"));
    fs::remove_all(dir);
}

// Three nodes on one PostgreSQL, 30 jobs uploaded round-robin; one node is killed while it converts. Every job
// ends, every archive comes from every node, and no job is converted twice at once.
TEST(UnplotdCommandTest, ThreeNodesShareTheQueueAndOutliveOne)
{
    const auto& postgres = unplot::server::test::Postgres::instance();
    if (postgres.uri().empty())
        GTEST_SKIP() << postgres.why();
    PGconn* c = PQconnectdb(postgres.uri().c_str());
    PQclear(PQexec(c, "SET client_min_messages = warning; DROP TABLE IF EXISTS unplot_jobs, unplot_schema"));
    PQfinish(c);
    const std::string dir = tempDir();
    // A conversion takes a second; one that finds its job's lock held by a live conversion says so.
    std::ofstream(dir + "/engine") << "#!/bin/bash\nif [ \"$1\" = --info ]; then echo '{\"pages\":3}'; exit 0; fi\n"
                                      "id=$(basename \"$1\" .part.pdf)\nexec 9>'" << dir << "'/lock-$id\n"
                                      "flock -n 9 || echo $id >> '" << dir << "'/twice\nsleep 1\nprintf \"PK $id\" > \"$2\"\n";
    fs::permissions(dir + "/engine", fs::perms::owner_all);
    auto node = [&](int i) {
        return std::make_unique<Unplotd>("--listen 127.0.0.1:0 --workers 2 --lease-seconds 2 --engine " + dir +
                                         "/engine --data " + dir + "/node" + std::to_string(i) + " --database " +
                                         postgres.uri());
    };
    std::vector<std::unique_ptr<Unplotd>> nodes;
    std::vector<std::unique_ptr<httplib::Client>> clients;
    for (int i = 0; i < 3; ++i) {
        nodes.push_back(node(i));
        clients.push_back(std::make_unique<httplib::Client>("http://" + nodes.back()->address()));
    }
    std::vector<std::string> ids;
    for (int i = 0; i < 30; ++i) {
        auto res = clients[i % 3]->Post("/include/ajax.aspx?op=mac_upload",
                                        httplib::MultipartFormDataItems{{"convertData", "%PDF-1.7 job", "a.pdf", ""},
                                                                        {"drp_Type", "0", "", ""},
                                                                        {"txt_Page", "-1", "", ""},
                                                                        {"drp_Version", "14", "", ""}});
        ASSERT_TRUE(res && res->status == 200) << (res ? res->body : "no reply");
        ids.push_back(nlohmann::json::parse(res->body)["fileId"]);
    }
    ASSERT_FALSE(nodes[0]->until(std::regex("job ([0-9a-f]{32}) converting")).empty());
    kill(nodes[0]->pid, SIGKILL);
    nodes[0]->exitCode();

    std::vector<std::string> done;
    for (const std::string& id : ids) {
        int status = 0;
        for (int i = 0; i < 600 && (status == 0 || status == 10 || status == 20); ++i, std::this_thread::sleep_for(100ms))
            if (auto res = clients[1 + i % 2]->Get("/include/ajax.aspx?op=GetConvertQueue&fileId=" + id))
                status = nlohmann::json::parse(res->body).value("status", 0);
        EXPECT_TRUE(status == 100 || status == 34) << id << " ended with " << status;
        if (status == 100)
            done.push_back(id);
    }
    nodes[0] = node(0);  // back again: it serves the archives too
    clients[0] = std::make_unique<httplib::Client>("http://" + nodes[0]->address());
    for (const std::string& id : done)
        for (auto& client : clients)
            if (auto res = client->Get("/download/" + id + ".zip"); !res || res->body != "PK " + id)
                ADD_FAILURE() << "archive of " << id << ": " << (res ? std::to_string(res->status) : "no reply");
    EXPECT_FALSE(fs::exists(dir + "/twice"));
    fs::remove_all(dir);
}

}  // namespace
