// The conversion controller with a recording view, a fake HTTP client and a timer fired by hand: starting a job
// and its upload, the queue polling and its time budget, the download and the saving of the result.

#include "fakes.h"
#include "viewcontroller.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace unplot;
using namespace unplot::test;

namespace {

const QByteArray kReady = R"({"num":0,"status":100,"result":"/download/f1.zip"})";
const QString kTimeOutAlert = QStringLiteral(
    "alert:Oops, |file conversion failed.\nPlease email your PDF file to help@unplot.example for services.");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A controller on the fakes, with an input PDF and an output folder in a temporary folder.
struct Rig {
    QTemporaryDir dir;
    FakeView view;
    FakeHttpClient http;
    FakeTimers timers;
    std::unique_ptr<ViewController> c;

    Rig()
    {
        c = std::make_unique<ViewController>(
            view, http, timers,
            ServiceConfig{"localhost:8040", dir.filePath("Documents"), QStringLiteral("help@unplot.example")});
        view.input = dir.filePath("drawing.pdf");
        writeFile(view.input, "%PDF-1.4\n%%EOF\n");
        view.output = dir.filePath("out/drawing.zip");
        QDir().mkpath(dir.filePath("out"));
    }
    void start() { c->convertAction(); }
    void accept(const QByteArray& id = "f1")
    {
        http.uploads.back().reply(FakeHttpClient::reply(R"({"result":"10","fileId":")" + id + R"("})"));
    }
    void tick(int times = 1) { timers.fire(times); }
    void answerPoll(const QByteArray& body) { http.gets.back().reply(FakeHttpClient::reply(body)); }
    void startDownload()
    {
        start();
        accept();
        tick();
        answerPoll(kReady);
    }
    // The job has ended and everything is back as at the start.
    bool stopped() const
    {
        return !c->conversion() && !timers.running() && view.status().isEmpty() && !view.busy() &&
               c->convert_timeout() == 600 && c->downloadID().isEmpty();
    }
};

// Writes beyond `bytes` fail with EFBIG for as long as it lives, as on a full disk.
struct FileSizeLimit {
    rlimit saved{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

} // namespace

class ControllerTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> rig;

private slots:
    void init() { rig = std::make_unique<Rig>(); }
    void cleanup() { rig.reset(); }

    void startsAJobOnce()
    {
        rig->start();
        const QStringList started{"busy:start", "status:Uploading..."};
        QCOMPARE(rig->view.events, started);
        QVERIFY(rig->c->conversion());
        QCOMPARE(rig->http.uploads.size(), size_t(1));
        QCOMPARE(rig->http.uploads[0].url, QStringLiteral("http://localhost:8040/include/ajax.aspx?op=mac_upload"));
        QCOMPARE(rig->timers.scheduled.size(), size_t(1));
        QCOMPARE(rig->timers.scheduled[0]->interval, std::chrono::milliseconds(1000));
        rig->start(); // pressed again while the job runs: nothing happens
        QCOMPARE(rig->view.events, started);
        QCOMPARE(rig->http.uploads.size(), size_t(1));
        QCOMPARE(rig->timers.scheduled.size(), size_t(1));
    }

    void emptyPaths_data()
    {
        QTest::addColumn<QString>("emptied"); // "input" or "output"
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("no input, chooser cancelled")
            << "input" << false
            << QStringList{"chooser:input", "alert:convert|Input file or output file/folder is empty."};
        QTest::newRow("no input, one chosen") << "input" << true
                                              << QStringList{"chooser:input", "busy:start", "status:Uploading..."};
        QTest::newRow("no output, chooser cancelled") << "output" << false << QStringList{"chooser:output"};
        QTest::newRow("no output, one chosen") << "output" << true
                                               << QStringList{"chooser:output", "busy:start", "status:Uploading..."};
    }
    void emptyPaths()
    {
        QFETCH(QString, emptied);
        QFETCH(bool, chosen);
        QString& field = emptied == "input" ? rig->view.input : rig->view.output;
        if (chosen)
            (emptied == "input" ? rig->view.inputChoice : rig->view.outputChoice) = field;
        const QString path = field;
        field.clear();
        rig->start();
        QTEST(rig->view.events, "events");
        QCOMPARE(rig->c->conversion(), chosen);
        QCOMPARE(rig->http.uploads.size(), size_t(chosen));
        if (chosen && emptied == "input")
            QCOMPARE(rig->http.uploads[0].parts[0].filePath, path);
    }

    void form_data()
    {
        QTest::addColumn<int>("dwg");
        QTest::addColumn<int>("pageList");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<int>("versionIndex");
        QTest::addColumn<QByteArrayList>("values"); // drp_Type, txt_Page, drp_Version
        QTest::newRow("DWG, all pages, R14") << 1 << 0 << "1-3" << 0 << QByteArrayList{"1", "-1", "14"};
        QTest::newRow("DXF, 2000") << 0 << 0 << "" << 1 << QByteArrayList{"0", "-1", "15"};
        QTest::newRow("list as typed, 2004") << 1 << 1 << " 1, 3-5 ,x " << 2 << QByteArrayList{"1", " 1, 3-5 ,x ", "18"};
        QTest::newRow("list in UTF-8, 2007") << 0 << 1 << "Seite 2 é" << 3 << QByteArrayList{"0", "Seite 2 é", "21"};
        QTest::newRow("empty list is all pages, 2010") << 1 << 1 << "" << 4 << QByteArrayList{"1", "-1", "23"};
        QTest::newRow("no version selected") << 1 << 0 << "" << -1 << QByteArrayList{"1", "-1", "14"};
        QTest::newRow("version beyond the list") << 1 << 0 << "" << 5 << QByteArrayList{"1", "-1", "14"};
    }
    void form()
    {
        QFETCH(int, dwg);
        QFETCH(int, pageList);
        QFETCH(int, versionIndex);
        QFETCH(QByteArrayList, values);
        FakeView& view = rig->view;
        std::tie(view.dwg, view.dxf, view.pageList, view.allPages) = std::tuple(dwg, 1 - dwg, pageList, 1 - pageList);
        QFETCH(QString, pages);
        view.pages = pages;
        view.version = versionIndex;
        QCOMPARE(rig->c->selectVersion(), qint64(14));
        rig->c->setSelectVersion(99);
        rig->c->selectVersionAction();
        rig->start();

        const std::vector<FormPart>& parts = rig->http.uploads.at(0).parts;
        QCOMPARE(parts.size(), size_t(4));
        QCOMPARE(parts[0].name, QStringLiteral("convertData"));
        QCOMPARE(parts[0].fileName, QStringLiteral("convert.pdf"));
        QCOMPARE(parts[0].contentType, QStringLiteral("application/pdf"));
        QCOMPARE(parts[0].filePath, view.input); // streamed from disk by the HTTP layer
        QVERIFY(parts[0].data.isEmpty());
        const QStringList names{"drp_Type", "txt_Page", "drp_Version"};
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(parts[i].name, names[i - 1]);
            QCOMPARE(parts[i].data, values[i - 1]);
            QVERIFY(parts[i].fileName.isEmpty() && parts[i].contentType.isEmpty() && parts[i].filePath.isEmpty());
        }
        const bool fellBack = pageList && pages.isEmpty();
        QCOMPARE(view.allPages, pageList && !fellBack ? 0 : 1);
        QCOMPARE(view.pageList, pageList && !fellBack ? 1 : 0);
    }

    void uploadReply_data()
    {
        QTest::addColumn<QByteArray>("body"); // "" stands for no connection
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("outcome"); // "id:ID" accepted, "alert:TEXT" ended with an alert, "" ignored
        const QString refused = QStringLiteral("alert:The conversion service did not accept the file.");
        QTest::newRow("accepted") << QByteArray(R"({"result":"10","fileId":"ab12"})") << 200 << "id:ab12";
        QTest::newRow("accepted with HTTP 500") << QByteArray(R"({"fileId":"x","result":"10"})") << 500 << "id:x";
        QTest::newRow("refused with a message") << QByteArray(R"({"result":"3","message":"Not a PDF"})") << 415
                                                << "alert:Not a PDF";
        QTest::newRow("refused, empty message") << QByteArray(R"({"result":"3","message":""})") << 200 << refused;
        QTest::newRow("empty object") << QByteArray("{}") << 200 << refused;
        QTest::newRow("no result") << QByteArray(R"({"fileId":"ab"})") << 200 << refused;
        QTest::newRow("result 10 without fileId") << QByteArray(R"({"result":"10"})") << 200 << refused;
        QTest::newRow("result 10, empty fileId") << QByteArray(R"({"result":"10","fileId":""})") << 200 << refused;
        QTest::newRow("result is the number 10") << QByteArray(R"({"result":10,"fileId":"ab"})") << 200 << "";
        QTest::newRow("one value not a string") << QByteArray(R"({"result":"10","fileId":"ab","n":3})") << 200 << "";
        QTest::newRow("array") << QByteArray(R"([{"result":"10","fileId":"ab"}])") << 200 << "";
        QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << 503 << "";
    }
    void uploadReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, httpStatus);
        QFETCH(QString, outcome);
        rig->start();
        QVERIFY(captureStdout([&] { rig->http.uploads[0].reply(FakeHttpClient::reply(body, httpStatus)); }).isEmpty());
        if (outcome.startsWith("id:")) {
            QCOMPARE(rig->c->downloadID(), outcome.mid(3));
            QCOMPARE(rig->view.status(), QStringLiteral("Converting..."));
        } else if (outcome.startsWith("alert:")) {
            QVERIFY(rig->stopped());
            QCOMPARE(rig->view.events.mid(2),
                     (QStringList{"status:", "busy:stop", "alert:convert|" + outcome.mid(6), "ended:|"}));
        } else { // ignored: the job stays uploading until its time runs out
            QVERIFY(rig->c->conversion() && rig->c->downloadID().isEmpty());
            QCOMPARE(rig->view.events, (QStringList{"busy:start", "status:Uploading..."}));
        }
    }

    void unreachableServiceSaysHowToStartOurs()
    {
        for (const QString host : {"localhost:8040", "127.0.0.2", "conversion.example:8040"}) {
            rig->c = std::make_unique<ViewController>(rig->view, rig->http, rig->timers, ServiceConfig{host, {}, {}});
            rig->start();
            rig->http.uploads.back().reply(FakeHttpClient::reply(std::nullopt));
            QString alert = "alert:convert|The conversion service at " + host + " cannot be reached.\nConnection refused";
            if (!host.startsWith("conversion"))
                alert += "\nStart it with unplotd, or with ./run.sh in unplot's source folder.";
            QCOMPARE(rig->view.alerts().last(), alert);
            QVERIFY(rig->stopped());
        }
    }

    void unreadableInputIsRefusedBeforeTheJobStarts()
    {
        for (const char* name : {"gone.pdf", "out"}) {
            rig->view.input = rig->dir.filePath(name);
            rig->view.events.clear();
            rig->start();
            QVERIFY(rig->stopped());
            QVERIFY(rig->http.uploads.empty() && rig->timers.scheduled.empty());
            QCOMPARE(rig->view.events.size(), 1);
            QVERIFY2(rig->view.events[0].startsWith("alert:convert|Cannot read the input file " + rig->view.input +
                                                    (name[0] == 'g' ? ": No such file or directory." : ": ")),
                     qPrintable(rig->view.events[0]));
        }
        rig->view.input = rig->dir.filePath("drawing.pdf");
        rig->start();
        QCOMPARE(rig->http.uploads.size(), size_t(1));
    }

    // A reply to a request of a job that has ended changes nothing, also when the next job is running.
    void lateReplies_data()
    {
        QTest::addColumn<QString>("pending");
        QTest::newRow("upload reply") << "upload";
        QTest::newRow("poll reply") << "poll";
        QTest::newRow("download") << "download";
    }
    void lateReplies()
    {
        QFETCH(QString, pending);
        writeFile(rig->view.output, "the old archive");
        rig->start();
        if (pending != "upload") {
            rig->accept("old");
            rig->tick();
        }
        if (pending == "download")
            rig->answerPoll(kReady);
        rig->tick(601);
        QCOMPARE(rig->view.alerts(), QStringList{kTimeOutAlert});
        rig->start();
        const QStringList events = rig->view.events;
        const QStringList printed = captureStdout([&] {
            rig->http.uploads[0].reply(FakeHttpClient::reply(R"({"result":"10","fileId":"old"})"));
            rig->http.uploads[0].encodingFailed("late");
            if (pending != "upload")
                rig->http.gets[0].reply(FakeHttpClient::reply(R"({"num":3})"));
            if (pending == "download") {
                rig->http.downloads[0].progress(0.5);
                rig->http.downloads[0].finish("PK new");
            }
        });
        QVERIFY(printed.isEmpty());
        QCOMPARE(rig->view.events, events);
        QVERIFY(rig->c->conversion() && rig->c->downloadID().isEmpty());
        QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
        rig->accept("new");
        QCOMPARE(rig->c->downloadID(), QStringLiteral("new"));
        rig->accept("new"); // a reply delivered twice acts once
        rig->tick();
        rig->tick();
        QCOMPARE(rig->http.gets.size(), size_t(pending == "upload" ? 1 : 2));
        const QStringList before = rig->view.events;
        rig->c.reset(); // and nothing at all once the controller is gone
        rig->http.gets.back().reply(FakeHttpClient::reply(kReady));
        QCOMPARE(rig->view.events, before);
        QCOMPARE(rig->http.downloads.size(), size_t(pending == "download"));
    }

    void chooserActionsPrintTheField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("choice"); // "" cancels
        QTest::addColumn<QString>("line");
        QTest::newRow("cancelled, empty field") << "" << "" << "\"\"";
        QTest::newRow("cancelled keeps the field") << "/a/b ä.pdf" << "" << "\"/a/b ä.pdf\"";
        QTest::newRow("quotes and controls") << "" << "/a \"b\"\\'c'\t\n\r\x01" << "\"/a \\\"b\\\"\\\\\\'c\\'\\t\\n\\r\\u{1}\"";
    }
    void chooserActionsPrintTheField()
    {
        QFETCH(QString, field);
        QFETCH(QString, choice);
        QFETCH(QString, line);
        rig->view.input = rig->view.output = field;
        if (!choice.isEmpty())
            rig->view.inputChoice = rig->view.outputChoice = choice;
        QCOMPARE(captureStdout([&] { rig->c->SelectFileAction(); }), QStringList{line});
        QCOMPARE(captureStdout([&] { rig->c->saveFileAction(); }), QStringList{line});
        QCOMPARE(rig->view.output, choice.isEmpty() ? field : choice);
    }

    // ---- Polling ----

    void queueReply_data()
    {
        QTest::addColumn<QByteArray>("body"); // "" stands for no connection
        QTest::addColumn<QString>("report");  // the line printed, "" for none
        QTest::addColumn<QString>("outcome"); // "stopped", "rearmed", "download" or "waits"
        const auto row = [](const char* name, const char* body, const QString& report, const char* outcome) {
            QTest::newRow(name) << QByteArray(body) << report << QString::fromLatin1(outcome);
        };
        const QString download = QStringLiteral("\"http://localhost:8040/files/a.zip\"");
        const QString waiting = QStringLiteral("\"file upload success, wait 1s reload\"");
        row("no connection", "", "", "rearmed");
        row("HTML error page", "<html>oops</html>", "", "rearmed");
        row("JSON array", "[1,2]", "", "rearmed");
        row("num missing", R"({"status":100,"result":"/files/a.zip"})", "\"protocol error\"", "stopped");
        row("num is a string", R"({"num":"3"})", "\"protocol error\"", "stopped");
        row("num is not whole", R"({"num":2.5})", "\"protocol error\"", "stopped");
        row("num 1 ignores status", R"({"num":1,"status":999})", "\"queue:1\"", "rearmed");
        row("num -2 whatever else", R"({"num":-2,"status":100,"result":"/files/a.zip"})", "\"file dose not exist\"",
            "stopped");
        row("num -1, status missing", R"({"num":-1})", "", "waits");
        row("status is a string", R"({"num":0,"status":"100","result":"/files/a.zip"})", "", "waits");
        row("status 10", R"({"num":0,"status":10})", waiting, "rearmed");
        row("status 20", R"({"num":-1,"status":20})", waiting, "rearmed");
        row("status 100", R"({"num":0,"status":100,"result":"/files/a.zip"})", download, "download");
        row("status 101", R"({"num":-7,"status":101,"result":"/files/a.zip"})", download, "download");
        row("result without a slash", R"({"num":0,"status":101,"result":"files/a.zip"})", download, "download");
        row("result empty", R"({"num":0,"status":100,"result":""})", "", "waits");
        row("result a number", R"({"num":0,"status":100,"result":7})", "", "waits");
        row("status 30", R"({"num":0,"status":30})", "\"convert faild status: 30\"", "stopped");
        row("status -5", R"({"num":0,"status":-5})", "\"convert faild status: -5\"", "stopped");
    }
    void queueReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        rig->start();
        rig->accept("f1");
        rig->tick();
        const auto reply = FakeHttpClient::reply(body.isEmpty() ? std::nullopt : std::optional(body), 500);
        QCOMPARE(rig->http.gets.at(0).url,
                 QStringLiteral("http://localhost:8040/include/ajax.aspx?op=GetConvertQueue&fileId=f1"));
        const QStringList printed = captureStdout([&] { rig->http.gets[0].reply(reply); });
        QTEST(printed.join(QLatin1Char('\n')), "report");
        QVERIFY(rig->view.alerts().isEmpty());
        if (outcome == "stopped") {
            QVERIFY(rig->stopped());
            return;
        }
        QVERIFY(rig->c->conversion());
        QCOMPARE(rig->view.status(), QStringLiteral("Converting..."));
        rig->tick();
        QCOMPARE(rig->http.gets.size(), size_t(outcome == "rearmed" ? 2 : 1));
        QCOMPARE(rig->http.gets.back().url, rig->http.gets[0].url);
        QCOMPARE(rig->http.downloads.size(), size_t(outcome == "download"));
        if (outcome == "download") {
            QCOMPARE(rig->http.downloads[0].url, QStringLiteral("http://localhost:8040/files/a.zip"));
            QCOMPARE(rig->http.downloads[0].destination, rig->dir.filePath("Documents/temp.zip"));
        }
    }

    // What the view hears at the end of a job: the archive saved and the service's warnings, or why it failed.
    void jobEnded_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("downloaded");
        QTest::addColumn<QString>("ended");
        const QByteArray warnings = R"({"num":0,"status":101,"result":"/d.zip","message":"page 2: images\npage 3: text"})";
        QTest::newRow("warnings") << warnings << true << "ended:OUT|page 2: images\npage 3: text";
        QTest::newRow("warnings, download failed") << warnings << false << "ended:|";
        QTest::newRow("message not a string") << QByteArray(R"({"num":0,"status":101,"result":"/d.zip","message":5})")
                                              << true << "ended:OUT|";
        QTest::newRow("failed with a message") << QByteArray(R"({"num":0,"status":33,"message":"Out of memory."})")
                                               << false << "ended:|Out of memory.";
        QTest::newRow("failed") << QByteArray(R"({"num":0,"status":30})") << false
                                << "ended:|The conversion failed (status 30).";
        QTest::newRow("unknown file") << QByteArray(R"({"num":-2})") << false
                                      << "ended:|The service does not know the file.";
        QTest::newRow("not understood") << QByteArray(R"({"status":100})") << false
                                        << "ended:|The service's reply could not be understood.";
    }
    void jobEnded()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, downloaded);
        QFETCH(QString, ended);
        rig->start();
        rig->accept();
        rig->tick();
        rig->answerPoll(reply);
        if (!rig->http.downloads.empty() && downloaded)
            rig->http.downloads[0].finish("PK");
        else if (!rig->http.downloads.empty())
            rig->http.downloads[0].fail("Connection closed");
        QCOMPARE(rig->view.events.last(), ended.replace("OUT", rig->view.output));
        QVERIFY(rig->stopped());
    }

    void pollIdentifierIsOneQueryValue()
    {
        const QString fileId = QStringLiteral("a&op=mac_upload&fileId=b #é/?%");
        rig->start();
        rig->accept(R"(a&op=mac_upload&fileId=b #\u00e9/?%)");
        rig->tick();
        const QUrl url(rig->http.gets[0].url, QUrl::StrictMode);
        QVERIFY2(url.isValid() && url.path() == "/include/ajax.aspx", qPrintable(url.toString()));
        const QUrlQuery query(url);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 2);
        QCOMPARE(query.queryItemValue("op", QUrl::FullyDecoded), QStringLiteral("GetConvertQueue"));
        QCOMPARE(query.queryItemValue("fileId", QUrl::FullyDecoded), fileId);
    }

    void resultAddress_data()
    {
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("url"); // "" when the job must stop with "protocol error"
        QTest::newRow("path with query") << "/d?id=1&x=2" << "http://localhost:8040/d?id=1&x=2";
        QTest::newRow("at sign inside the path") << "/x/@evil.example/y" << "http://localhost:8040/x/@evil.example/y";
        QTest::newRow("user info") << "@evil.example/x" << "";
        QTest::newRow("protocol-relative") << "//evil.example/x" << "";
        QTest::newRow("another host") << "http://other/x" << "";
        QTest::newRow("another scheme") << "https://localhost:8040/x" << "";
        QTest::newRow("another port") << ":9999/x" << "";
        QTest::newRow("same host spelled in full") << "http://localhost:8040/x" << "";
    }
    void resultAddress()
    {
        QFETCH(QString, result);
        QFETCH(QString, url);
        rig->start();
        rig->accept();
        rig->tick();
        const QByteArray body = "{\"num\":0,\"status\":100,\"result\":\"" + result.toUtf8() + "\"}";
        const QStringList printed = captureStdout([&] { rig->answerPoll(body); });
        QCOMPARE(printed, QStringList{url.isEmpty() ? QStringLiteral("\"protocol error\"") : '"' + url + '"'});
        QCOMPARE(rig->c->conversion(), !url.isEmpty());
        QCOMPARE(rig->http.downloads.size(), size_t(!url.isEmpty()));
        if (!url.isEmpty())
            QCOMPARE(rig->http.downloads[0].url, url);
    }

    void timeOut_data()
    {
        QTest::addColumn<QString>("phase");
        for (const char* phase : {"uploading", "poll due", "poll in flight", "downloading"})
            QTest::newRow(phase) << phase;
    }
    void timeOut()
    {
        QFETCH(QString, phase);
        rig->start();
        if (phase == "poll in flight" || phase == "downloading")
            rig->accept();
        if (phase == "downloading") {
            rig->tick();
            rig->answerPoll(kReady);
            rig->http.downloads[0].progress(0.5);
        }
        rig->tick(phase == "downloading" ? 599 : 600);
        if (phase == "poll due")
            rig->accept(); // the identifier arrives just before the budget is used up
        QCOMPARE(rig->c->convert_timeout(), qint64(0));
        QVERIFY(rig->c->conversion() && rig->view.alerts().isEmpty());
        const size_t polls = rig->http.gets.size();
        rig->view.whileModal = [&] { QVERIFY(rig->view.busy()); }; // the job ends once the alert is dismissed
        rig->tick(); // the 601st
        QCOMPARE(rig->view.events.mid(rig->view.events.size() - 4), (QStringList{kTimeOutAlert, "status:", "busy:stop", "ended:|"}));
        QCOMPARE(rig->http.gets.size(), polls);
        QVERIFY(rig->stopped());
        rig->start();
        QCOMPARE(rig->http.uploads.size(), size_t(2));
    }

    // A nested event loop delivers ticks while a chooser or an alert is open: they are held back.
    void modalBoxesHoldTicksBack()
    {
        rig->start();
        rig->accept();
        rig->tick(10);
        rig->answerPoll(R"({"num":4})");
        rig->view.outputChoice = rig->dir.filePath("other.zip");
        rig->view.whileModal = [&] { rig->tick(30); };
        rig->c->saveFileAction();
        QCOMPARE(rig->c->convert_timeout(), qint64(590));
        QCOMPARE(rig->http.gets.size(), size_t(1));
        rig->view.whileModal = nullptr;
        rig->tick(590);
        QCOMPARE(rig->http.gets.size(), size_t(2));
        rig->view.whileModal = [&] { rig->tick(5); }; // the time-out alert left open
        rig->tick();
        QCOMPARE(rig->view.alerts(), QStringList{kTimeOutAlert});
        QVERIFY(rig->stopped());
    }

    // ---- Download and saving ----

    void successReplacesTheOutputAfterTheAlert()
    {
        writeFile(rig->view.output, "an older archive, longer than the new one");
        QVERIFY(!QFileInfo::exists(rig->dir.filePath("Documents")));
        rig->startDownload();
        QCOMPARE(rig->http.downloads[0].destination, rig->dir.filePath("Documents/temp.zip"));
        QVERIFY(QFileInfo(rig->dir.filePath("Documents")).isDir()); // made for temp.zip
        for (double fraction : {0.0, 0.4278, 0.999, 1.0})
            rig->http.downloads[0].progress(fraction);
        QCOMPARE(rig->view.events.mid(rig->view.events.size() - 5),
                 (QStringList{"status:Converting...", "status:Downloading... 0 %", "status:Downloading... 42 %",
                              "status:Downloading... 99 %", "status:Downloading... 100 %"}));
        QByteArray archive(3 * 1024 * 1024 + 17, Qt::Uninitialized); // more than one piece of the copy
        for (char& byte : archive)
            byte = char(QRandomGenerator::global()->bounded(256));
        const QString chosenLater = rig->dir.filePath("out/chosen later.zip");
        rig->view.output = chosenLater; // the output field is read when the download completes
        rig->view.whileModal = [&] {
            QCOMPARE(rig->view.status(), QStringLiteral("Downloading... 100 %"));
            QVERIFY(rig->view.busy() && rig->c->conversion());
            const qint64 budget = rig->c->convert_timeout();
            rig->tick(3); // held back while the alert is open
            QCOMPARE(rig->c->convert_timeout(), budget);
        };
        rig->http.downloads[0].finish(archive);
        QCOMPARE(rig->view.alerts(), QStringList{"alert:Convert|successful"});
        QVERIFY(readAll(chosenLater) == archive);
        QVERIFY(readAll(rig->c->tempZipPath()) == archive); // left in place
        QCOMPARE(readAll(rig->dir.filePath("out/drawing.zip")), QByteArray("an older archive, longer than the new one"));
        QCOMPARE(QDir(rig->dir.filePath("out")).entryList(QDir::Files).size(), 2);
        QVERIFY(rig->stopped());
    }

    void failedDownloadLeavesTheOutput_data()
    {
        QTest::addColumn<int>("httpStatus"); // 0: the connection dropped
        QTest::addColumn<QString>("reason");
        QTest::newRow("dropped") << 0 << "Connection closed";
        for (int status : {404, 500, 304})
            QTest::addRow("%d", status) << status << QStringLiteral("The service answered with HTTP status %1.").arg(status);
    }
    void failedDownloadLeavesTheOutput()
    {
        QFETCH(int, httpStatus);
        writeFile(rig->view.output, "the old archive");
        rig->startDownload();
        rig->view.whileModal = [&] { QVERIFY(rig->view.busy()); };
        if (httpStatus == 0)
            rig->http.downloads[0].fail(QStringLiteral("Connection closed"));
        else
            rig->http.downloads[0].finish("<html>Not here</html>", httpStatus);
        QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
        QFETCH(QString, reason);
        QCOMPARE(rig->view.events.mid(rig->view.events.size() - 4),
                 (QStringList{"alert:Convert|Faild\n" + reason, "status:", "busy:stop", "ended:|"}));
        QVERIFY(rig->stopped());
    }

    void failedWriteKeepsTheOldOutput_data()
    {
        QTest::addColumn<QString>("fault");
        for (const char* fault : {"file size limit", "missing folder", "output is a folder"})
            QTest::newRow(fault) << fault;
    }
    void failedWriteKeepsTheOldOutput()
    {
        QFETCH(QString, fault);
        const QString outDir = rig->dir.filePath("out");
        if (fault == "missing folder")
            rig->view.output = rig->dir.filePath("nowhere/drawing.zip");
        else if (fault == "output is a folder")
            rig->view.output = outDir;
        else
            writeFile(rig->view.output, "the old archive");
        rig->startDownload();
        writeFile(rig->c->tempZipPath(), QByteArray(64 * 1024, 'z'));
        {
            std::optional<FileSizeLimit> limit;
            if (fault == "file size limit")
                limit.emplace(4096);
            rig->http.downloads[0].done({false, {}, 200, 64 * 1024});
        }
        const QStringList alerts = rig->view.alerts();
        QVERIFY2(alerts.size() == 1 && alerts[0].startsWith("alert:Convert|Faild\n") && alerts[0].size() > 20,
                 qPrintable(alerts.join('|')));
        QVERIFY(rig->stopped());
        if (fault == "file size limit") { // the system's reason, as for a full disk
            QCOMPARE(alerts[0], "alert:Convert|Faild\n" + QString::fromLocal8Bit(std::strerror(EFBIG)));
            QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
            QCOMPARE(QDir(outDir).entryList(QDir::Files), QStringList{"drawing.zip"}); // no temporary left over
        }
    }
};

QTEST_GUILESS_MAIN(ControllerTest)
#include "tst_controller.moc"
