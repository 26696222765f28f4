#pragma once
// Runs a program in a child process of its own process group, under an address-space limit (set in the child)
// and a wall-clock limit (enforced here: the whole group is killed). Standard output and standard error are
// collected, each up to a cap.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace unplot::server {

struct ChildLimits {
    std::chrono::milliseconds time{120000};
    std::size_t memoryBytes = 0;  // 0: no limit
    std::size_t outputCap = 64 * 1024;
};

struct ChildResult {
    enum class End { Exited, Signaled, TimedOut, Cancelled, NotStarted };
    End end = End::NotStarted;
    int exitCode = -1;       // End::Exited
    int signal = 0;          // End::Signaled
    long maxResidentKb = 0;  // peak resident size of the child, from wait4()
    std::string out;
    std::string err;
    std::string describe() const;  // "exit 3", "signal 11", "timed out", ...
};

// argv[0] is the program's path (no PATH search). The child's standard input is /dev/null. `cancel`, when given,
// is checked a few times a second; once it turns true the child's group is killed (End::Cancelled).
// Never throws for a failure of the child; an exec failure shows as exit code 127.
ChildResult runChild(const std::vector<std::string>& argv, const ChildLimits& limits,
                     const std::atomic<bool>* cancel = nullptr);

}  // namespace unplot::server
