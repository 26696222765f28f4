#pragma once
// A controller wired to the fakes, with an input PDF and an output folder in a temporary directory, and the steps
// that move a job from one phase to the next.

#include "fakehttpclient.h"
#include "faketimer.h"
#include "fakeview.h"
#include "viewcontroller.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace unplot::test {

inline const QString kHost = QStringLiteral("localhost:8040");
inline const QString kSupportEmail = QStringLiteral("help@unplot.example");

struct ControllerRig {
    QTemporaryDir dir;
    FakeView view;
    FakeHttpClient http;
    FakeTimerScheduler timers;
    std::unique_ptr<ViewController> controller;

    ControllerRig()
    {
        ServiceConfig config;
        config.host = kHost;
        config.documentsDir = dir.filePath(QStringLiteral("Documents"));
        config.supportEmail = kSupportEmail;
        controller = std::make_unique<ViewController>(view, http, timers, config);

        view.input = dir.filePath(QStringLiteral("drawing.pdf"));
        QFile pdf(view.input);
        if (pdf.open(QIODevice::WriteOnly))
            pdf.write("%PDF-1.4\n%%EOF\n");
        view.output = dir.filePath(QStringLiteral("out/drawing.zip"));
        QDir().mkpath(dir.filePath(QStringLiteral("out")));
    }

    ViewController& c() { return *controller; }

    // Convert pressed: the job is uploading.
    void start() { controller->convertAction(); }
    // The upload reply accepts the file: the job's poll is due.
    void accept(const QByteArray& fileId = "f1")
    {
        http.uploads.back().reply(FakeHttpClient::reply(R"({"result":"10","fileId":")" + fileId + R"("})"));
    }
    void tick(int times = 1) { timers.fire(times); }
    // Answers the latest poll.
    void answerPoll(const QByteArray& body, int httpStatus = 200)
    {
        http.gets.back().reply(FakeHttpClient::reply(body, httpStatus));
    }
    // Start, accept, one tick, a ready reply: the job is downloading.
    void startDownload(const QByteArray& result = "/download/f1.zip")
    {
        start();
        accept();
        tick();
        answerPoll(R"({"num":0,"status":100,"result":")" + result + R"("})");
    }
    QString url(const QString& path) const { return QStringLiteral("http://") + kHost + path; }
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace unplot::test
