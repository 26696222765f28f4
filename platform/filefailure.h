#pragma once
#include <QFileDevice>

#include <cerrno>

namespace unplot {

// Why an operation on `file` failed just now. For a write that fails inside Qt's buffer (a full disk, a file grown
// past its size limit) Qt 6.4 says only "Unknown error", while errno still holds the system's reason ("No space
// left on device"). Call it right after the failing call, before anything else can change errno.
inline QString failureOf(const QFileDevice& file)
{
    const int code = errno;
    const QString said = file.errorString();
    return code != 0 && (said.isEmpty() || said == QLatin1String("Unknown error")) ? qt_error_string(code) : said;
}

} // namespace unplot
