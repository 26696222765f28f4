// The pieces below the HTTP layer: the command line and the child-process runner.

#include <gtest/gtest.h>

#include "childprocess.h"
#include "config.h"

namespace unplot::server {
namespace {

using namespace std::chrono_literals;

CommandLine parse(std::vector<std::string> args)
{
    return parseCommandLine(args);
}

TEST(CommandLineTest, Defaults)
{
    CommandLine line = parse({});
    ASSERT_TRUE(line.config);
    const ServerConfig& c = *line.config;
    EXPECT_EQ(c.host, "127.0.0.1");
    EXPECT_EQ(c.port, 8040);
    EXPECT_EQ(c.maxUploadBytes, 256u << 20);
    EXPECT_EQ(c.jobTime, 120s);
    EXPECT_EQ(c.jobMemoryBytes, std::size_t{2048} << 20);
    EXPECT_EQ(c.keep, std::chrono::hours(24));
    EXPECT_GE(c.workers, 1u);
    EXPECT_TRUE(c.enableDwg);
    EXPECT_EQ(c.engine.filename(), "unplot-engine");
    EXPECT_EQ(c.dataDir.filename(), "unplot");
}

TEST(CommandLineTest, EveryOption)
{
    CommandLine line = parse({"--listen", "0.0.0.0:0", "--data", "/srv/unplot", "--workers", "3", "--max-upload-mb=10",
                              "--job-seconds", "5", "--job-memory-mb", "512", "--keep-hours", "2", "--engine",
                              "/opt/e", "--max-queue", "7", "--no-dwg", "--keep-strokes"});
    ASSERT_TRUE(line.config) << line.output;
    const ServerConfig& c = *line.config;
    EXPECT_EQ(c.host, "0.0.0.0");
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.dataDir, "/srv/unplot");
    EXPECT_EQ(c.workers, 3u);
    EXPECT_EQ(c.maxUploadBytes, 10u << 20);
    EXPECT_EQ(c.jobTime, 5s);
    EXPECT_EQ(c.jobMemoryBytes, 512u << 20);
    EXPECT_EQ(c.keep, std::chrono::hours(2));
    EXPECT_EQ(c.engine, "/opt/e");
    EXPECT_EQ(c.maxQueue, 7u);
    EXPECT_FALSE(c.enableDwg);
    EXPECT_TRUE(c.keepStrokes);

    CommandLine v6 = parse({"--listen", "[::1]:8041"});
    ASSERT_TRUE(v6.config);
    EXPECT_EQ(v6.config->host, "::1");
    EXPECT_EQ(v6.config->port, 8041);
}

TEST(CommandLineTest, HelpNamesEveryDefault)
{
    CommandLine line = parse({"--help"});
    EXPECT_FALSE(line.config);
    EXPECT_EQ(line.exitCode, 0);
    for (const char* text : {"--listen ADDR:PORT", "127.0.0.1:8040", "--data DIR", "XDG_DATA_HOME", "--workers N",
                             "one per core", "--max-upload-mb N", "256", "--job-seconds N", "120", "--job-memory-mb N",
                             "2048", "--keep-hours N", "24", "--engine PATH", "--no-dwg"})
        EXPECT_NE(line.output.find(text), std::string::npos) << text;
}

TEST(CommandLineTest, MistakesAreRefused)
{
    const std::vector<std::vector<std::string>> rows = {
        {"--workers", "0"},        {"--workers", "two"},       {"--listen", "localhost"}, {"--listen", ":80"},
        {"--listen", "h:70000"},   {"--max-upload-mb", "-1"},  {"--job-seconds"},         {"--frobnicate"},
        {"--keep-hours", "1.5"},   {"--no-dwg=yes"},       {"--data", ""},
    };
    for (const auto& args : rows) {
        CommandLine line = parse(args);
        EXPECT_FALSE(line.config) << args[0];
        EXPECT_EQ(line.exitCode, 2) << args[0];
        EXPECT_NE(line.output.find("unplotd: "), std::string::npos) << line.output;
    }
}

ChildResult sh(const std::string& script, ChildLimits limits = {})
{
    return runChild({"/bin/sh", "-c", script}, limits);
}

TEST(ChildProcessTest, CollectsOutputAndExitCode)
{
    ChildResult r = sh("echo out; echo err >&2; exit 7");
    EXPECT_EQ(r.end, ChildResult::End::Exited);
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");
}

TEST(ChildProcessTest, ReportsTheSignal)
{
    ChildResult r = sh("kill -SEGV $$");
    EXPECT_EQ(r.end, ChildResult::End::Signaled);
    EXPECT_EQ(r.signal, SIGSEGV);
}

TEST(ChildProcessTest, StandardInputIsEmpty)
{
    EXPECT_EQ(sh("wc -c").out, "0\n");
}

TEST(ChildProcessTest, OutputIsCappedButDrained)
{
    ChildLimits limits;
    limits.outputCap = 1000;
    ChildResult r = sh("head -c 1000000 /dev/zero | tr '\\0' x; echo done >&2", limits);
    EXPECT_EQ(r.end, ChildResult::End::Exited);
    EXPECT_EQ(r.out.size(), 1000u);
    EXPECT_EQ(r.err, "done\n");
}

TEST(ChildProcessTest, TimeLimitKillsTheWholeGroup)
{
    ChildLimits limits;
    limits.time = 300ms;
    // A grandchild that keeps the output pipe open must not keep us waiting.
    auto started = std::chrono::steady_clock::now();
    ChildResult r = sh("sleep 60 & trap '' TERM; sleep 60", limits);
    EXPECT_EQ(r.end, ChildResult::End::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(ChildProcessTest, ChildEndingLeavesNoGrandchildrenHoldingThePipe)
{
    auto started = std::chrono::steady_clock::now();
    ChildResult r = sh("sleep 60 & exit 0");
    EXPECT_EQ(r.end, ChildResult::End::Exited);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(ChildProcessTest, MemoryLimitApplies)
{
    ChildLimits limits;
    limits.memoryBytes = std::size_t{64} << 20;
    ChildResult r = runChild({"/bin/bash", "-c", "s=0123456789abcdef; while :; do s=\"$s$s\"; done"}, limits);
    EXPECT_NE(r.end, ChildResult::End::TimedOut);
    EXPECT_NE(r.err.find("cannot allocate"), std::string::npos) << r.err;
}

TEST(ChildProcessTest, MissingProgramExits127)
{
    ChildResult r = runChild({"/nonexistent/unplot-engine", "--info", "x"}, {});
    EXPECT_EQ(r.end, ChildResult::End::Exited);
    EXPECT_EQ(r.exitCode, 127);
}

TEST(ChildProcessTest, CancelKillsTheChild)
{
    std::atomic<bool> cancel{true};
    ChildResult r = runChild({"/bin/sleep", "60"}, {}, &cancel);
    EXPECT_EQ(r.end, ChildResult::End::Cancelled);
}

}  // namespace
}  // namespace unplot::server
