#include "headlessview.h"

#include <QStringList>

namespace unplot {

namespace {
constexpr const char* kClearLine = "\r\x1b[K";
}

HeadlessView::HeadlessView(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

void HeadlessView::setPaths(const QString& input, const QString& output, const QString& linePrefix)
{
    input_ = input;
    output_ = output;
    linePrefix_ = linePrefix;
}

void HeadlessView::setOptions(bool dwg, const QString* pages, int versionIndex)
{
    dwg_ = dwg ? 1 : 0;
    allPages_ = pages ? 0 : 1;
    pageList_ = pages ? 1 : 0;
    pages_ = pages ? *pages : QString();
    versionIndex_ = versionIndex;
}

void HeadlessView::resetJob()
{
    alertCount_ = 0;
    succeeded_ = false;
    failure_.clear();
    lastStatus_.clear();
}

void HeadlessView::write(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream_);
    std::fflush(stream_);
}

void HeadlessView::finishStatusLine()
{
    if (lineOpen_) {
        write(QString::fromLatin1(kClearLine));
        lineOpen_ = false;
    }
}

void HeadlessView::redrawStatusLine()
{
    if (!terminal_ || lineOpen_ || lastStatus_.isEmpty())
        return;
    write(QString::fromLatin1(kClearLine) + lastStatus_);
    lineOpen_ = true;
}

void HeadlessView::setStatusText(const QString& text)
{
    if (beforeOutput_)
        beforeOutput_();
    const QString line = text.isEmpty() ? text : linePrefix_ + text;
    if (terminal_) {
        write(QString::fromLatin1(kClearLine) + line);
        lineOpen_ = !text.isEmpty();
        lastStatus_ = line;
        return;
    }
    // One line per change; the cleared line of a finished job is not worth one.
    if (text.isEmpty() || line == lastStatus_)
        return;
    lastStatus_ = line;
    write(line + QLatin1Char('\n'));
}

void HeadlessView::stopBusyIndicator()
{
    if (onBusyStopped_)
        onBusyStopped_();
}

void HeadlessView::printMessage(const QString& question, const QString& text)
{
    QString line = linePrefix_ + question + QLatin1Char(' ') + text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    printLine(line);
}

void HeadlessView::printLine(const QString& line)
{
    if (beforeOutput_)
        beforeOutput_();
    finishStatusLine();
    write(line + QLatin1Char('\n'));
}

void HeadlessView::showAlert(const QString& question, const QString& text)
{
    ++alertCount_;
    // The alert's text in a line, as the reason a job failed if nothing better comes.
    failure_ = question == QLatin1String("Oops, ") ? QStringLiteral("timed out")
                                                  : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(": ");
    printMessage(question, text);
}

void HeadlessView::jobEnded(const JobOutcome& outcome)
{
    succeeded_ = outcome.saved;
    if (!outcome.saved) {
        if (!outcome.notes.isEmpty())
            failure_ = outcome.notes;
        return;
    }
    failure_.clear();
    for (const QString& warning : outcome.notes.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        printLine(linePrefix_ + QStringLiteral("warning: ") + warning);
}

}  // namespace unplot
