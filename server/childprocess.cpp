#include "childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace unplot::server {

namespace {

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// Reads what is available; returns false at end of file or on error.
bool drain(int fd, std::string& into, std::size_t cap)
{
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            std::size_t room = cap > into.size() ? cap - into.size() : 0;
            into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace

std::string ChildResult::describe() const
{
    switch (end) {
    case End::Exited: return "exit " + std::to_string(exitCode);
    case End::Signaled: {
        const char* name = sigabbrev_np(signal);  // thread-safe, unlike strsignal()
        return "signal " + std::to_string(signal) + (name ? std::string(" (SIG") + name + ")" : "");
    }
    case End::TimedOut: return "timed out";
    case End::Cancelled: return "cancelled";
    case End::NotStarted: return "not started";
    }
    return {};
}

ChildResult runChild(const std::vector<std::string>& argv, const ChildLimits& limits, const std::atomic<bool>* cancel)
{
    ChildResult result;
    // Everything the child needs is prepared before fork(): between fork() and exec() only async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (argv.empty())
        return result;

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    Fd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    Fd errRead(errPipe[0]), errWrite(errPipe[1]);
    Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull.fd < 0)
        return result;

    rlimit memory{};
    memory.rlim_cur = memory.rlim_max = limits.memoryBytes ? limits.memoryBytes : RLIM_INFINITY;
    rlimit noCore{};

    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        // A service killed outright takes its conversions with it: another node may convert the job meanwhile.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        setpgid(0, 0);
        if (limits.memoryBytes)
            setrlimit(RLIMIT_AS, &memory);
        setrlimit(RLIMIT_CORE, &noCore);
        dup2(devNull.fd, STDIN_FILENO);
        dup2(outWrite.fd, STDOUT_FILENO);
        dup2(errWrite.fd, STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that the group exists before any kill below
    outWrite.close();
    errWrite.close();
    fcntl(outRead.fd, F_SETFL, O_NONBLOCK);
    fcntl(errRead.fd, F_SETFL, O_NONBLOCK);

    // The pidfd turns readable when the child ends, so that poll() wakes at once; without it, at the next tick.
    Fd processFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    const auto deadline = std::chrono::steady_clock::now() + limits.time;
    bool outOpen = true, errOpen = true;
    for (;;) {
        pollfd fds[3] = {{outOpen ? outRead.fd : -1, POLLIN, 0},
                         {errOpen ? errRead.fd : -1, POLLIN, 0},
                         {processFd.fd, POLLIN, 0}};
        ::poll(fds, 3, 100);
        if (outOpen)
            outOpen = drain(outRead.fd, result.out, limits.outputCap);
        if (errOpen)
            errOpen = drain(errRead.fd, result.err, limits.outputCap);

        // Has the child ended? Look without reaping it, so that its process group id cannot be reused before
        // the group is killed below (a grandchild may still hold it).
        siginfo_t info{};
        int waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        bool ended = waited == 0 && info.si_pid == pid;
        bool timedOut = !ended && std::chrono::steady_clock::now() >= deadline;
        bool cancelled = !ended && cancel && cancel->load();
        if (ended || timedOut || cancelled) {
            kill(-pid, SIGKILL);
            int status = 0;
            rusage usage{};
            while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            result.maxResidentKb = usage.ru_maxrss;
            if (outOpen)
                drain(outRead.fd, result.out, limits.outputCap);
            if (errOpen)
                drain(errRead.fd, result.err, limits.outputCap);
            if (timedOut) {
                result.end = ChildResult::End::TimedOut;
            } else if (cancelled) {
                result.end = ChildResult::End::Cancelled;
            } else if (WIFEXITED(status)) {
                result.end = ChildResult::End::Exited;
                result.exitCode = WEXITSTATUS(status);
            } else {
                result.end = ChildResult::End::Signaled;
                result.signal = WTERMSIG(status);
            }
            return result;
        }
    }
}

}  // namespace unplot::server
