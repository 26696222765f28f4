// The unplotd executable as scripts use it: start on port 0, read the address, ask /healthz, stop with SIGTERM;
// a second one on the same address refuses to start.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <httplib.h>
#include <regex>
#include <string>

namespace {

// unplotd started with `args`, its standard error read line by line.
struct Unplotd {
    std::string text;  // read so far
    FILE* out;
    pid_t pid;

    explicit Unplotd(const std::string& args)
        : out(popen(("echo $$; exec " UNPLOTD_PATH " " + args + " 2>&1").c_str(), "r")), pid(std::stoi(line()))
    {
    }
    std::string line()
    {
        char buffer[4096];
        return fgets(buffer, sizeof buffer, out) ? text += buffer, std::string(buffer) : std::string();
    }
    // Reads until a line matches `pattern` (or unplotd ends); returns the pattern's first group.
    std::string until(const std::regex& pattern)
    {
        std::smatch match;
        for (std::string l = line(); !l.empty(); l = line())
            if (std::regex_search(l, match, pattern))
                return match[1].str();
        return {};
    }
    int exitCode()
    {
        while (!line().empty()) {
        }
        int status = pclose(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST(UnplotdCommandTest, StartsOnAnyPortAnswersAndStopsCleanly)
{
    std::string dir = "/tmp/unplotd-command-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    Unplotd first("--listen 127.0.0.1:0 --workers 1 --data " + dir + "/a");
    const std::string address = first.until(std::regex("unplotd listening on http://(127\\.0\\.0\\.1:[0-9]+)"));
    ASSERT_FALSE(address.empty()) << first.text;
    EXPECT_EQ(httplib::Client("http://" + address).Get("/healthz")->body, "ok");

    // A second service on the same address is refused, whatever its data folder.
    Unplotd second("--listen " + address + " --data " + dir + "/b");
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.text.find("unplotd: " + address + " is already in use\n"), std::string::npos) << second.text;

    kill(first.pid, SIGTERM);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_NE(first.text.find("GET /healthz -> 200"), std::string::npos) << first.text;
    EXPECT_TRUE(std::filesystem::exists(dir + "/a/jobs.sqlite"));
    std::filesystem::remove_all(dir);
}

}  // namespace
