// The pieces below the HTTP layer: the command line and the child-process runner.

#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "childprocess.h"
#include "config.h"
#include "jobid.h"
#include "version.h"

namespace unplot::server {
namespace {

using namespace std::chrono_literals;

// Every setting of a configuration in one line, to compare with what the command line should give.
std::string settings(const CommandLine& line)
{
    if (!line.config)
        return line.output;
    const ServerConfig& c = *line.config;
    return c.host + ":" + std::to_string(c.port) + " " + c.dataDir.string() + " workers " +
           std::to_string(c.workers) + "x" + std::to_string(c.threadsPerJob) + " upload " + std::to_string(c.maxUploadBytes >> 20) + " time " +
           std::to_string(c.jobTime.count()) + " memory " + std::to_string(c.jobMemoryBytes >> 20) + " keep " +
           std::to_string(c.keep.count()) + " queue " + std::to_string(c.maxQueue) + " " + c.engine.string() +
           (c.enableDwg ? " dwg" : " dxf only") + (c.keepStrokes ? " strokes" : "");
}

TEST(CommandLineTest, DefaultsAndEveryOption)
{
    ServerConfig defaults = *parseCommandLine({}).config;
    EXPECT_GE(defaults.workers, 1u);  // the cores are shared: workers x threads per job <= cores
    EXPECT_LE(defaults.workers * defaults.threadsPerJob, std::max(2u, std::thread::hardware_concurrency()));
    EXPECT_EQ(parseCommandLine({"--workers", "200"}).config->threadsPerJob, 1u);
    defaults.workers = defaults.threadsPerJob = 1;
    EXPECT_EQ(settings({defaults, "", 0}), "127.0.0.1:8040 " + defaults.dataDir.string() + " workers 1x1 upload 256 time 120 "
                                          "memory 2048 keep 24 queue 100 " + defaults.engine.string() + " dwg");
    EXPECT_EQ(defaults.engine.filename(), "unplot-engine");
    EXPECT_EQ(defaults.dataDir.filename(), "unplot");
    EXPECT_EQ(settings(parseCommandLine({"--listen", "0.0.0.0:0", "--data", "/srv/u", "--workers", "3", "--max-upload-mb=10",
                                         "--threads-per-job", "2",
                                         "--job-seconds", "5", "--job-memory-mb", "512", "--keep-hours", "2", "--engine",
                                         "/opt/e", "--max-queue", "7", "--no-dwg", "--keep-strokes"})),
              "0.0.0.0:0 /srv/u workers 3x2 upload 10 time 5 memory 512 keep 2 queue 7 /opt/e dxf only strokes");
    EXPECT_EQ(settings(parseCommandLine({"--listen", "[::1]:8041"})).substr(0, 8), "::1:8041");
}

TEST(CommandLineTest, HelpAndMistakes)
{
    EXPECT_EQ(parseCommandLine({"--version"}).output, unplot::versionText("unplotd"));
    CommandLine help = parseCommandLine({"--help"});
    EXPECT_FALSE(help.config);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* text : {"--listen ADDR:PORT", "127.0.0.1:8040", "--data DIR", "XDG_DATA_HOME", "--workers N",
                             "half the cores", "--threads-per-job N", "--max-upload-mb N", "256", "--job-seconds N", "120", "--job-memory-mb N",
                             "2048", "--keep-hours N", "24", "--engine PATH", "--no-dwg", "600 s", "standard error"})
        EXPECT_NE(help.output.find(text), std::string::npos) << text;

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--workers", "0"}, {"--workers", "two"}, {"--listen", "localhost"}, {"--listen", ":80"},
             {"--listen", "h:70000"}, {"--max-upload-mb", "-1"}, {"--job-seconds"}, {"--frobnicate"},
             {"--keep-hours", "1.5"}, {"--no-dwg=yes"}, {"--data", ""}}) {
        CommandLine line = parseCommandLine(args);
        EXPECT_FALSE(line.config) << args[0];
        EXPECT_EQ(line.exitCode, 2) << args[0];
        EXPECT_EQ(line.output.rfind("unplotd: ", 0), 0u) << line.output;
    }
}

TEST(JobIdTest, EveryHexDigitTurnsUp)
{
    std::string digits;
    for (int i = 0; i < 20; ++i)
        digits += newJobId();
    for (char c : std::string("0123456789abcdef"))  // 640 digits: each is missing with odds of 1e-9
        EXPECT_NE(digits.find(c), std::string::npos) << c;
}

struct ChildRow {
    const char* name;
    std::vector<std::string> argv;
    ChildLimits limits;
    ChildResult::End end;
    int code;  // exit code or signal
    std::string out;
    const char* errHas;
};

ChildLimits limits(std::chrono::milliseconds time, std::size_t memory = 0, std::size_t cap = 64 * 1024)
{
    return ChildLimits{time, memory, cap};
}

std::vector<std::string> sh(const std::string& script)
{
    return {"/bin/bash", "-c", script};
}

class ChildProcessTest : public ::testing::TestWithParam<ChildRow> {};

TEST_P(ChildProcessTest, Ends)
{
    const ChildRow& row = GetParam();
    auto started = std::chrono::steady_clock::now();
    ChildResult r = runChild(row.argv, row.limits);
    EXPECT_EQ(r.end, row.end) << r.describe();
    EXPECT_EQ(row.end == ChildResult::End::Signaled ? r.signal : r.exitCode, row.code) << r.describe();
    EXPECT_EQ(r.out, row.out);
    EXPECT_NE(r.err.find(row.errHas), std::string::npos) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);  // a hung grandchild does not keep us waiting
}

const ChildRow kChildren[] = {
    {"OutputAndExitCode", sh("echo out; echo err >&2; exit 7"), {}, ChildResult::End::Exited, 7, "out\n", "err\n"},
    {"Signal", sh("kill -SEGV $$"), {}, ChildResult::End::Signaled, SIGSEGV, "", ""},
    {"InputIsEmpty", sh("wc -c"), {}, ChildResult::End::Exited, 0, "0\n", ""},
    {"OutputCappedButDrained", sh("head -c 1000000 /dev/zero | tr '\\0' x; echo done >&2"), limits(120s, 0, 1000),
     ChildResult::End::Exited, 0, std::string(1000, 'x'), "done\n"},
    {"TimeLimitKillsTheGroup", sh("sleep 60 & trap '' TERM; sleep 60"), limits(300ms), ChildResult::End::TimedOut, -1, "", ""},
    {"GrandchildHoldingThePipe", sh("sleep 60 & exit 0"), {}, ChildResult::End::Exited, 0, "", ""},
    {"MemoryLimit", sh("s=0123456789abcdef; while :; do s=\"$s$s\"; done"), limits(60s, 64 << 20),
     ChildResult::End::Exited, 2, "", "cannot allocate"},
    {"MissingProgram", {"/nonexistent/unplot-engine"}, {}, ChildResult::End::Exited, 127, "", ""},
};
INSTANTIATE_TEST_SUITE_P(Run, ChildProcessTest, ::testing::ValuesIn(kChildren),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ChildProcessKillTest, CancelAndTimeLimitKillTheWholeGroup)
{
    std::atomic<bool> cancel{true};
    EXPECT_EQ(runChild({"/bin/sleep", "60"}, {}, &cancel).end, ChildResult::End::Cancelled);
    ChildResult r = runChild(sh("sleep 60 & echo $!; sleep 60"), limits(500ms));
    ASSERT_EQ(r.end, ChildResult::End::TimedOut);
    const pid_t grandchild = std::stoi(r.out);
    for (int i = 0; i < 500 && kill(grandchild, 0) == 0; ++i)  // gone once its new parent has reaped it
        std::this_thread::sleep_for(10ms);
    EXPECT_NE(kill(grandchild, 0), 0);
}

}  // namespace
}  // namespace unplot::server
