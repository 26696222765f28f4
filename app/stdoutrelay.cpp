#include "stdoutrelay.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace unplot {

StdoutRelay::StdoutRelay(LineHandler onLine) : onLine_(std::move(onLine))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    std::fflush(stdout);
    realStdout_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (realStdout_ < 0 || ::dup2(fds[1], STDOUT_FILENO) < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        if (realStdout_ >= 0)
            ::close(realStdout_);
        realStdout_ = -1;
        return;
    }
    ::close(fds[1]);
    readFd_ = fds[0];
    ::fcntl(readFd_, F_SETFL, ::fcntl(readFd_, F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StdoutRelay::drain);
}

StdoutRelay::~StdoutRelay()
{
    if (!active())
        return;
    std::fflush(stdout);
    drain();
    if (!pending_.isEmpty())
        writeThrough(pending_);
    ::dup2(realStdout_, STDOUT_FILENO);
    ::close(realStdout_);
    ::close(readFd_);
}

void StdoutRelay::drain()
{
    if (!active())
        return;
    std::fflush(stdout);
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(readFd_, buffer, sizeof buffer);
        if (got > 0) {
            pending_.append(buffer, qsizetype(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;  // EAGAIN: nothing more now
    }
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end + 1);
        pending_.remove(0, end + 1);
        onLine_(line);
    }
}

void StdoutRelay::writeThrough(const QByteArray& bytes) const
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(realStdout_, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        done += wrote;
    }
}

}  // namespace unplot
