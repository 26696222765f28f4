// Polling the queue: the reply decisions, the time budget in every phase, ticks held back while a box is open, and
// the poll and download addresses.

#include "controllerrig.h"
#include "stdoutcapture.h"

#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

#include <utility>

using namespace unplot;
using namespace unplot::test;

class ConversionPollingTest : public QObject {
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<ControllerRig>(); }
    void cleanup() { rig.reset(); }

    void ticksCountDownAndPollOnce();
    void queueReply_data();
    void queueReply();
    void pollIdentifierIsOneQueryValue();
    void resultAddress_data();
    void resultAddress();
    void unusablePollIsRetriedWithinTheBudget();

    void timeOut_data();
    void timeOut();
    void modalBoxesHoldTicksBack();
    void timeOutAlertIsNotRepeated();
    void latePollReplyIsIgnored();

private:
    std::unique_ptr<ControllerRig> rig;
};

void ConversionPollingTest::ticksCountDownAndPollOnce()
{
    rig->start();
    rig->tick(3); // uploading: only the countdown
    QCOMPARE(rig->c().convert_timeout(), qint64(597));
    QVERIFY(rig->http.gets.empty());

    rig->accept("f1");
    rig->tick();
    QCOMPARE(rig->http.gets.size(), size_t(1));
    QCOMPARE(rig->http.gets[0].url,
             QStringLiteral("http://localhost:8040/include/ajax.aspx?op=GetConvertQueue&fileId=f1"));
    QVERIFY(rig->c().downloadID().isEmpty());
    QCOMPARE(rig->c().downloadHolder(), QStringLiteral("f1"));

    rig->tick(5); // poll in flight: no second poll
    QCOMPARE(rig->http.gets.size(), size_t(1));
    QCOMPARE(rig->c().convert_timeout(), qint64(591));
    QCOMPARE(rig->view.status(), QStringLiteral("Converting..."));
}

void ConversionPollingTest::queueReply_data()
{
    QTest::addColumn<QByteArray>("body"); // "" stands for a transport error
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("report");  // the line printed, debug form; "" for none
    QTest::addColumn<QString>("outcome"); // "stopped", "rearmed", "download" or "waits"

    const auto row = [](const char* name, const char* body, const QString& report, const char* outcome,
                        int httpStatus = 200) {
        QTest::newRow(name) << QByteArray(body) << httpStatus << report << QString::fromLatin1(outcome);
    };
    const QString downloadLine = QStringLiteral("\"http://localhost:8040/files/a.zip\"");

    row("transport error", "", QString(), "rearmed");
    row("HTML error page", "<html>oops</html>", QString(), "rearmed", 502);
    row("JSON array", "[1,2]", QString(), "rearmed");
    row("bare number", "3", QString(), "rearmed");
    row("num missing", R"({"status":100,"result":"/files/a.zip"})", QStringLiteral("\"protocol error\""), "stopped");
    row("num is a string", R"({"num":"3"})", QStringLiteral("\"protocol error\""), "stopped");
    row("num is not whole", R"({"num":2.5})", QStringLiteral("\"protocol error\""), "stopped");
    row("num above 0 ignores status", R"({"num":3,"status":999})", QStringLiteral("\"queue:3\""), "rearmed");
    row("num above 0 with HTTP 500", R"({"num":2})", QStringLiteral("\"queue:2\""), "rearmed", 500);
    row("num -2 whatever else", R"({"num":-2,"status":100,"result":"/files/a.zip"})",
        QStringLiteral("\"file dose not exist\""), "stopped");
    row("status missing", R"({"num":0})", QString(), "waits");
    row("status is a string", R"({"num":0,"status":"100","result":"/files/a.zip"})", QString(), "waits");
    row("status 10", R"({"num":0,"status":10})", QStringLiteral("\"file upload success, wait 1s reload\""), "rearmed");
    row("status 20", R"({"num":-1,"status":20})", QStringLiteral("\"file upload success, wait 1s reload\""), "rearmed");
    row("status 100", R"({"num":0,"status":100,"result":"/files/a.zip"})", downloadLine, "download");
    row("status 101", R"({"num":-7,"status":101,"result":"/files/a.zip"})", downloadLine, "download");
    row("result without a slash", R"({"num":0,"status":101,"result":"files/a.zip"})", downloadLine, "download");
    row("result empty", R"({"num":-1,"status":100,"result":""})", QString(), "waits");
    row("result missing", R"({"num":0,"status":100})", QString(), "waits");
    row("result a number", R"({"num":0,"status":100,"result":7})", QString(), "waits");
    row("status 30", R"({"num":0,"status":30})", QStringLiteral("\"convert faild status: 30\""), "stopped");
    row("status -5", R"({"num":0,"status":-5})", QStringLiteral("\"convert faild status: -5\""), "stopped");
}

void ConversionPollingTest::queueReply()
{
    QFETCH(QByteArray, body);
    QFETCH(int, httpStatus);
    QFETCH(QString, report);
    QFETCH(QString, outcome);

    rig->start();
    rig->accept("f1");
    rig->tick();
    const JsonReply reply = body.isEmpty() ? FakeHttpClient::unreachable() : FakeHttpClient::reply(body, httpStatus);
    const QStringList printed = captureStdout([&] { rig->http.gets[0].reply(reply); });
    QCOMPARE(printed, report.isEmpty() ? QStringList() : QStringList{report});
    QVERIFY(rig->view.alerts.isEmpty());

    if (outcome == QLatin1String("stopped")) {
        QVERIFY(!rig->c().conversion());
        QVERIFY(!rig->timers.running());
        QCOMPARE(rig->view.status(), QString());
        QVERIFY(!rig->view.busy);
        QCOMPARE(rig->c().convert_timeout(), qint64(600));
        return;
    }
    QVERIFY(rig->c().conversion());
    QCOMPARE(rig->view.status(), QStringLiteral("Converting..."));
    if (outcome == QLatin1String("rearmed")) {
        QCOMPARE(rig->c().downloadID(), QStringLiteral("f1"));
        rig->tick();
        QCOMPARE(rig->http.gets.size(), size_t(2));
        QCOMPARE(rig->http.gets[1].url, rig->http.gets[0].url);
    } else {
        QVERIFY(rig->c().downloadID().isEmpty());
        rig->tick();
        QCOMPARE(rig->http.gets.size(), size_t(1));
    }
    if (outcome == QLatin1String("download")) {
        QCOMPARE(rig->http.downloads.size(), size_t(1));
        QCOMPARE(rig->http.downloads[0].url, QStringLiteral("http://localhost:8040/files/a.zip"));
        QCOMPARE(rig->http.downloads[0].destination, rig->c().tempZipPath());
    } else {
        QVERIFY(rig->http.downloads.empty());
    }
}

void ConversionPollingTest::pollIdentifierIsOneQueryValue()
{
    const QString fileId = QStringLiteral("a&op=mac_upload&fileId=b #\u00e9/?%");
    rig->start();
    rig->http.uploads[0].reply(FakeHttpClient::reply(
        QJsonObject{{QStringLiteral("result"), QStringLiteral("10")}, {QStringLiteral("fileId"), fileId}}));
    QCOMPARE(rig->c().downloadID(), fileId);
    rig->tick();
    const QUrl url(rig->http.gets[0].url, QUrl::StrictMode);
    QVERIFY2(url.isValid(), qPrintable(url.errorString()));
    QCOMPARE(url.host(), QStringLiteral("localhost"));
    QCOMPARE(url.path(), QStringLiteral("/include/ajax.aspx"));
    const QUrlQuery query(url);
    QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 2);
    QCOMPARE(query.queryItemValue(QStringLiteral("op"), QUrl::FullyDecoded), QStringLiteral("GetConvertQueue"));
    QCOMPARE(query.queryItemValue(QStringLiteral("fileId"), QUrl::FullyDecoded), fileId);
}

void ConversionPollingTest::resultAddress_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("url"); // "" when the job must stop with "protocol error"

    QTest::newRow("path") << QStringLiteral("/download/f1.zip")
                          << QStringLiteral("http://localhost:8040/download/f1.zip");
    QTest::newRow("path with query") << QStringLiteral("/d?id=1&x=2")
                                     << QStringLiteral("http://localhost:8040/d?id=1&x=2");
    QTest::newRow("no leading slash") << QStringLiteral("d/f1.zip") << QStringLiteral("http://localhost:8040/d/f1.zip");
    QTest::newRow("at sign inside the path")
        << QStringLiteral("/x/@evil.example/y") << QStringLiteral("http://localhost:8040/x/@evil.example/y");
    QTest::newRow("user info") << QStringLiteral("@evil.example/x") << QString();
    QTest::newRow("protocol-relative") << QStringLiteral("//evil.example/x") << QString();
    QTest::newRow("another host") << QStringLiteral("http://other/x") << QString();
    QTest::newRow("another scheme") << QStringLiteral("https://localhost:8040/x") << QString();
    QTest::newRow("another port") << QStringLiteral(":9999/x") << QString();
    QTest::newRow("same host spelled in full") << QStringLiteral("http://localhost:8040/x") << QString();
}

void ConversionPollingTest::resultAddress()
{
    QFETCH(QString, result);
    QFETCH(QString, url);

    rig->start();
    rig->accept();
    rig->tick();
    const JsonReply json = FakeHttpClient::reply(
        QJsonObject{{QStringLiteral("num"), 0}, {QStringLiteral("status"), 100}, {QStringLiteral("result"), result}});
    const QStringList printed = captureStdout([&] { rig->http.gets[0].reply(json); });
    if (url.isEmpty()) {
        QCOMPARE(printed, QStringList{QStringLiteral("\"protocol error\"")});
        QVERIFY(!rig->c().conversion());
        QVERIFY(rig->http.downloads.empty());
    } else {
        QCOMPARE(printed, QStringList{QLatin1Char('"') + url + QLatin1Char('"')});
        QCOMPARE(rig->http.downloads.size(), size_t(1));
        QCOMPARE(rig->http.downloads[0].url, url);
    }
}

void ConversionPollingTest::unusablePollIsRetriedWithinTheBudget()
{
    rig->start();
    rig->accept();
    for (int i = 0; i < 600; ++i) {
        rig->tick();
        rig->http.gets.back().reply(FakeHttpClient::unreachable());
    }
    QCOMPARE(rig->http.gets.size(), size_t(600));
    QVERIFY(rig->view.alerts.isEmpty());
    rig->tick();
    QCOMPARE(rig->http.gets.size(), size_t(600));
    QCOMPARE(rig->view.alerts.size(), 1);
    QVERIFY(!rig->c().conversion());
}

void ConversionPollingTest::timeOut_data()
{
    QTest::addColumn<QString>("phase");
    QTest::newRow("uploading") << QStringLiteral("uploading");
    QTest::newRow("poll due") << QStringLiteral("poll due");
    QTest::newRow("poll in flight") << QStringLiteral("poll in flight");
    QTest::newRow("downloading") << QStringLiteral("downloading");
}

void ConversionPollingTest::timeOut()
{
    QFETCH(QString, phase);

    rig->start();
    if (phase == QLatin1String("poll in flight")) {
        rig->accept();
    } else if (phase == QLatin1String("downloading")) {
        rig->accept();
        rig->tick();
        rig->answerPoll(R"({"num":0,"status":100,"result":"/d.zip"})");
        rig->http.downloads[0].progress(0.5);
    }
    const int firstTicks = phase == QLatin1String("downloading") ? 599 : 600;
    rig->tick(firstTicks);
    if (phase == QLatin1String("poll due"))
        rig->accept(); // the identifier arrives just before the budget is used up
    QCOMPARE(rig->c().convert_timeout(), qint64(0));
    QVERIFY(rig->c().conversion());
    QVERIFY(rig->view.alerts.isEmpty());
    const size_t polls = rig->http.gets.size();

    rig->tick(); // the 601st
    QCOMPARE(rig->view.alerts.size(), 1);
    QCOMPARE(rig->view.alerts[0].question, QStringLiteral("Oops, "));
    QCOMPARE(rig->view.alerts[0].text, QStringLiteral("file conversion failed.\nPlease email your PDF file to "
                                                      "help@unplot.example for services."));
    QCOMPARE(rig->http.gets.size(), polls);
    QVERIFY(!rig->c().conversion());
    QVERIFY(!rig->timers.running());
    QCOMPARE(rig->c().convert_timeout(), qint64(600));
    QVERIFY(rig->c().downloadID().isEmpty());
    QCOMPARE(rig->view.status(), QString());
    QVERIFY(!rig->view.busy);
    // The alert came first; the job was stopped once it was dismissed.
    QVERIFY(rig->view.indexOf(QStringLiteral("alert:Oops, |") + rig->view.alerts[0].text) <
            rig->view.indexOf(QStringLiteral("busy:stop")));

    rig->start(); // a new job is accepted
    QCOMPARE(rig->http.uploads.size(), size_t(2));
}

void ConversionPollingTest::modalBoxesHoldTicksBack()
{
    rig->start();
    rig->accept();
    rig->tick(10); // one poll sent, the rest counted
    rig->answerPoll(R"({"num":4})");
    QCOMPARE(rig->c().convert_timeout(), qint64(590));

    // The output chooser is opened while the job polls; its nested loop delivers ticks.
    rig->view.outputChoice = rig->dir.filePath(QStringLiteral("other.zip"));
    rig->view.whileModal = [this] { rig->tick(30); };
    rig->c().saveFileAction();
    QCOMPARE(rig->c().convert_timeout(), qint64(590));
    QCOMPARE(rig->http.gets.size(), size_t(1));
    QCOMPARE(rig->c().downloadID(), QStringLiteral("f1"));

    rig->view.whileModal = nullptr;
    rig->tick();
    QCOMPARE(rig->c().convert_timeout(), qint64(589));
    QCOMPARE(rig->http.gets.size(), size_t(2));
}

void ConversionPollingTest::timeOutAlertIsNotRepeated()
{
    rig->start();
    rig->tick(600);
    bool nested = false;
    rig->view.whileModal = [&] {
        if (std::exchange(nested, true))
            return; // a second box would be a failure already; don't recurse
        rig->tick(5);
    };
    rig->tick();
    QCOMPARE(rig->view.alerts.size(), 1);
    QVERIFY(!rig->c().conversion());
    QCOMPARE(rig->c().convert_timeout(), qint64(600));
}

void ConversionPollingTest::latePollReplyIsIgnored()
{
    rig->start();
    rig->accept("old");
    rig->tick();    // poll for "old" in flight
    rig->tick(600); // time-out
    QVERIFY(!rig->c().conversion());
    rig->start(); // the next job is uploading
    const QStringList events = rig->view.events;
    const QStringList printed = captureStdout([&] { rig->http.gets[0].reply(FakeHttpClient::reply(R"({"num":3})")); });
    QVERIFY(printed.isEmpty());
    QVERIFY(rig->c().downloadID().isEmpty());
    QCOMPARE(rig->view.events, events);
    rig->tick();
    QCOMPARE(rig->http.gets.size(), size_t(1));
}

QTEST_GUILESS_MAIN(ConversionPollingTest)
#include "tst_conversion_polling.moc"
