#pragma once
// Runs an action with standard output redirected into a temporary file and returns the lines it printed.

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace unplot::test {

inline QStringList captureStdout(const std::function<void()>& action)
{
    QTemporaryFile file;
    if (!file.open())
        return {QStringLiteral("<cannot capture standard output>")};
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file.handle(), STDOUT_FILENO);
    action();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    QFile written(file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return {QStringLiteral("<cannot read captured output>")};
    QStringList lines = QString::fromUtf8(written.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace unplot::test
