// The unplotd executable as scripts use it: start on port 0, read the address, ask /healthz, stop with SIGTERM.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <httplib.h>
#include <regex>
#include <string>

namespace {

TEST(UnplotdCommandTest, StartsOnAnyPortAnswersAndStopsCleanly)
{
    std::string pattern = "/tmp/unplotd-command-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;

    int errPipe[2];
    ASSERT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
    std::string data = (dir / "data").string();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(errPipe[1], STDERR_FILENO);
        execl(UNPLOTD_PATH, UNPLOTD_PATH, "--listen", "127.0.0.1:0", "--data", data.c_str(), "--workers", "1",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errPipe[1]);

    // Read standard error until the address shows (or unplotd ends).
    std::string err;
    std::smatch match;
    const std::regex listening("unplotd listening on http://127\\.0\\.0\\.1:([0-9]+)\n");
    char buffer[512];
    while (!std::regex_search(err, match, listening)) {
        ssize_t n = read(errPipe[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        err.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_FALSE(match.empty()) << err;
    int port = std::stoi(match[1].str());
    EXPECT_GT(port, 0);

    httplib::Client client("127.0.0.1", port);
    auto health = client.Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->body, "ok");

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    while (true) {
        ssize_t n = read(errPipe[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        err.append(buffer, static_cast<std::size_t>(n));
    }
    close(errPipe[0]);
    EXPECT_NE(err.find("GET /healthz -> 200"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(dir / "data" / "jobs.sqlite"));
    std::filesystem::remove_all(dir);
}

}  // namespace
