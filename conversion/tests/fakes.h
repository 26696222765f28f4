#pragma once
// Fakes for the controller and window tests: a view that records what the controller shows, an HTTP client that
// completes a request only when the test says so (late, twice, or after its job ended), a timer fired by hand,
// and standard output captured around an action.

#include "conversionview.h"
#include "httpclient.h"
#include "timer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace unplot::test {

class FakeView final : public ConversionView {
public:
    // What the controller did, in order: "status:TEXT", "busy:start", "busy:stop", "alert:QUESTION|TEXT",
    // "chooser:input", "chooser:output", "ended:SAVED PATH|NOTES".
    QStringList events;
    QString input, output, pages;
    int dwg = 1, dxf = 0, allPages = 1, pageList = 0, version = 0;
    std::optional<QString> inputChoice, outputChoice; // what the choosers pick; none is a cancel
    std::function<void()> whileModal;                 // runs inside every alert and chooser, as a nested loop would

    QString status() const { return lastAfter(QStringLiteral("status:")); }
    bool busy() const { return events.lastIndexOf(QStringLiteral("busy:start")) > events.lastIndexOf("busy:stop"); }
    QStringList alerts() const { return events.filter(QRegularExpression(QStringLiteral("^alert:"))); }
    QString lastAfter(const QString& prefix) const
    {
        const QStringList found = events.filter(QRegularExpression(QLatin1Char('^') + prefix));
        return found.isEmpty() ? QString() : found.last().mid(prefix.size());
    }

    void setStatusText(const QString& text) override { events << QStringLiteral("status:") + text; }
    void startBusyIndicator() override { events << QStringLiteral("busy:start"); }
    void stopBusyIndicator() override { events << QStringLiteral("busy:stop"); }
    void showAlert(const QString& question, const QString& text) override
    {
        events << QStringLiteral("alert:") + question + QLatin1Char('|') + text;
        modal();
    }
    void jobEnded(const JobOutcome& outcome) override
    {
        events << QStringLiteral("ended:") + (outcome.saved ? outcome.output : QString()) + '|' + outcome.notes;
    }
    QString runInputChooser() override { return choose(QStringLiteral("input"), input, inputChoice); }
    QString runOutputChooser() override { return choose(QStringLiteral("output"), output, outputChoice); }
    QString inputPath() const override { return input; }
    QString outputPath() const override { return output; }
    QString pagesText() const override { return pages; }
    int dwgState() const override { return dwg; }
    int allPagesState() const override { return allPages; }
    int pageListState() const override { return pageList; }
    int versionIndex() const override { return version; }
    void setDwgState(int state) override { dwg = state; }
    void setDxfState(int state) override { dxf = state; }
    void setAllPagesState(int state) override { allPages = state; }
    void setPageListState(int state) override { pageList = state; }

private:
    void modal()
    {
        if (whileModal)
            whileModal();
    }
    QString choose(const QString& which, QString& field, const std::optional<QString>& choice)
    {
        events << QStringLiteral("chooser:") + which;
        modal();
        if (choice)
            field = *choice;
        return field;
    }
};

class FakeHttpClient final : public HttpClient {
public:
    struct Call {
        QString url;
        std::vector<FormPart> parts; // uploads
        QString destination;         // downloads
        EncodingFailed encodingFailed;
        JsonHandler reply;
        ProgressHandler progress;
        DownloadHandler done;

        // Stores the body in the destination as the Qt client would, then completes the download.
        void finish(const QByteArray& body, int httpStatus = 200) const
        {
            QFile file(destination);
            if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
                qFatal("cannot write %s", qPrintable(destination));
            file.close();
            done({false, {}, httpStatus, body.size()});
        }
        void fail(const QString& error) const { done({true, error, 0, 0}); }
    };
    std::vector<Call> uploads, gets, downloads;
    QStringList* log = nullptr; // when set, each request is written there: "POST URL", "GET URL", "GET URL > FILE"

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed failed, JsonHandler onReply) override
    {
        note("POST " + url);
        uploads.push_back({url, std::move(parts), {}, std::move(failed), std::move(onReply), {}, {}});
    }
    void getJson(const QString& url, JsonHandler onReply) override
    {
        note("GET " + url);
        gets.push_back({url, {}, {}, {}, std::move(onReply), {}, {}});
    }
    void download(const QString& url, const QString& file, ProgressHandler progress, DownloadHandler done) override
    {
        note("GET " + url + " > " + file);
        downloads.push_back({url, {}, file, {}, {}, std::move(progress), std::move(done)});
    }
    void cancelDownloads() override { note(QStringLiteral("cancel downloads")); }

    // The reply the Qt client makes of a body (top-level fragments allowed); no body is a transport error.
    static JsonReply reply(const std::optional<QByteArray>& body, int httpStatus = 200)
    {
        if (!body)
            return {true, QStringLiteral("Connection refused"), 0, std::nullopt};
        JsonReply reply{false, {}, httpStatus, std::nullopt};
        QJsonParseError error{};
        const QJsonDocument wrapped = QJsonDocument::fromJson("[" + *body + "]", &error);
        if (error.error == QJsonParseError::NoError && wrapped.array().size() == 1)
            reply.value = wrapped.array().at(0);
        return reply;
    }

private:
    void note(const QString& line)
    {
        if (log)
            *log << line;
    }
};

// Nothing ticks by itself: fire() runs the latest timer's tick, unless it was invalidated.
class FakeTimers final : public TimerScheduler {
public:
    struct State {
        std::chrono::milliseconds interval;
        std::function<void()> tick;
        bool valid = true;
    };
    std::vector<std::shared_ptr<State>> scheduled;
    QStringList* log = nullptr; // when set, "timer:MS" is written there for each timer scheduled

    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds interval,
                                                      std::function<void()> tick) override
    {
        if (log)
            *log << QStringLiteral("timer:%1").arg(interval.count());
        scheduled.push_back(std::make_shared<State>(State{interval, std::move(tick)}));
        return std::make_unique<Timer>(scheduled.back());
    }
    void fire(int times = 1)
    {
        for (int i = 0; i < times && running(); ++i)
            scheduled.back()->tick();
    }
    bool running() const { return !scheduled.empty() && scheduled.back()->valid; }

private:
    struct Timer final : RepeatingTimer {
        explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
        ~Timer() override { state_->valid = false; }
        void invalidate() override { state_->valid = false; }
        bool isValid() const override { return state_->valid; }
        std::shared_ptr<State> state_;
    };
};

// The lines an action writes to standard output.
inline QStringList captureStdout(const std::function<void()>& action)
{
    QTemporaryFile file;
    if (!file.open())
        qFatal("cannot capture standard output");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file.handle(), STDOUT_FILENO);
    action();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    file.seek(0);
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace unplot::test
