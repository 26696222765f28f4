#pragma once
// When standard output and the rewritten status line share one terminal, a diagnostic line written to standard
// output would land at the end of the status line. The relay routes standard output through a pipe and hands each
// complete line to a callback, which clears the status line, writes the line and draws the status again.

#include <QByteArray>
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace unplot {

class StdoutRelay final : public QObject {
    Q_OBJECT
public:
    using LineHandler = std::function<void(const QByteArray& line)>;

    explicit StdoutRelay(LineHandler onLine);
    ~StdoutRelay() override;  // drains the pipe and gives standard output back
    StdoutRelay(const StdoutRelay&) = delete;
    StdoutRelay& operator=(const StdoutRelay&) = delete;

    bool active() const { return readFd_ >= 0; }

    // Hands over the lines written so far.
    void drain();

    // Writes bytes to the real standard output.
    void writeThrough(const QByteArray& bytes) const;

private:
    LineHandler onLine_;
    int realStdout_ = -1;
    int readFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QByteArray pending_;
};

}  // namespace unplot
