#include "headlessview.h"

namespace unplot {

namespace {
constexpr const char* kClearLine = "\r\x1b[K";
}

HeadlessView::HeadlessView(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

void HeadlessView::setPaths(const QString& input, const QString& output)
{
    input_ = input;
    output_ = output;
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
    if (terminal_) {
        write(QString::fromLatin1(kClearLine) + text);
        lineOpen_ = !text.isEmpty();
        lastStatus_ = text;
        return;
    }
    // One line per change; the cleared line of a finished job is not worth one.
    if (text.isEmpty() || text == lastStatus_)
        return;
    lastStatus_ = text;
    write(text + QLatin1Char('\n'));
}

void HeadlessView::stopBusyIndicator()
{
    if (onBusyStopped_)
        onBusyStopped_();
}

void HeadlessView::printMessage(const QString& question, const QString& text)
{
    QString line = question + QLatin1Char(' ') + text;
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
    succeeded_ = question == QLatin1String("Convert") && text == QLatin1String("successful");
    printMessage(question, text);
}

}  // namespace unplot
