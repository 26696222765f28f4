// The conversion controller with a recording view, a fake HTTP client and a timer fired by hand: starting a job
// and its upload, the queue polling and its time budget, the download and the saving of the result. Most cases
// are flows: steps (Convert pressed, a reply, ticks, ...) and everything the controller did in answer, in order.

#include "fakes.h"
#include "scriptedhttpserver.h"
#include "viewcontroller.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <cstring>

using namespace unplot;
using namespace unplot::test;

namespace {

const QString kPost = QStringLiteral("POST http://localhost:8040/include/ajax.aspx?op=mac_upload");
const QString kPoll = QStringLiteral("GET http://localhost:8040/include/ajax.aspx?op=GetConvertQueue&fileId=f1");
const QString kAccept = QStringLiteral(R"(upload {"result":"10","fileId":"f1"})");
const QString kReady = QStringLiteral(R"(poll {"num":0,"status":100,"result":"/files/a.zip"})");
const QString kDownload = QStringLiteral("GET http://localhost:8040/files/a.zip > DIR/Documents/temp.zip");
const QString kTimeOut = QStringLiteral(
    "alert:Oops, |file conversion failed.\nPlease email your PDF file to help@unplot.example for services.");
const QStringList kStop{"status:", "busy:stop"}; // what stopConvertTask shows
const QStringList kStarted{"busy:start", "status:Uploading...", kPost, "timer:1000"};
const QStringList kPolling{"convert", kAccept, "tick"};
const QStringList kDownloading = kPolling + QStringList{kReady};

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

// A controller on the fakes, with an input PDF and an output folder in a temporary folder ("DIR" in steps and logs).
struct Rig {
    QTemporaryDir dir;
    FakeView view;
    FakeHttpClient http;
    FakeTimers timers;
    std::unique_ptr<ViewController> c;

    explicit Rig(const QString& host = QStringLiteral("localhost:8040"))
    {
        http.log = timers.log = &view.events;
        c = std::make_unique<ViewController>(view, http, timers,
                                             ServiceConfig{host, dir.filePath("Documents"), "help@unplot.example"});
        view.input = dir.filePath("drawing.pdf");
        writeFile(view.input, "%PDF-1.4\n%%EOF\n");
        view.output = dir.filePath("out/drawing.zip");
        QDir().mkpath(dir.filePath("out"));
    }

    // Runs steps, each "VERB ARGUMENT"; what a step prints on standard output is logged after what else it did, as
    // "> LINE". A verb may name
    // an earlier request of its kind ("upload#0"); else it answers the latest.
    //   convert, tick [N], selectAction, saveAction, input PATH, output PATH, chooseInput PATH, chooseOutput PATH,
    //   upload BODY, encfail TEXT, poll BODY (a BODY "-" is no connection), progress FRACTION,
    //   finish STATUS BODY (status 0: the transfer failed, BODY is why), whileModal STEP (run inside each alert
    //   and chooser; none when empty)
    void run(const QStringList& steps)
    {
        for (const QString& step : steps) {
            const QString verb = step.section(' ', 0, 0).section('#', 0, 0);
            const QString arg = step.section(' ', 1).replace("DIR", dir.path());
            const auto pick = [&](std::vector<FakeHttpClient::Call>& calls) -> FakeHttpClient::Call& {
                return step.section(' ', 0, 0).contains('#') ? calls.at(step.section('#', 1).toUInt()) : calls.back();
            };
            const auto reply = [&] { return FakeHttpClient::reply(arg == "-" ? std::nullopt : std::optional(arg.toUtf8())); };
            const QStringList printed = captureStdout([&] {
                if (verb == "convert")
                    c->convertAction();
                else if (verb == "tick")
                    timers.fire(arg.isEmpty() ? 1 : arg.toInt());
                else if (verb == "selectAction")
                    c->SelectFileAction();
                else if (verb == "saveAction")
                    c->saveFileAction();
                else if (verb == "input" || verb == "output")
                    (verb == "input" ? view.input : view.output) = arg;
                else if (verb == "chooseInput" || verb == "chooseOutput")
                    (verb == "chooseInput" ? view.inputChoice : view.outputChoice) = arg;
                else if (verb == "upload")
                    pick(http.uploads).reply(reply());
                else if (verb == "encfail")
                    pick(http.uploads).encodingFailed(arg);
                else if (verb == "poll")
                    pick(http.gets).reply(reply());
                else if (verb == "progress")
                    pick(http.downloads).progress(arg.toDouble());
                else if (verb == "finish" && arg.startsWith("0 "))
                    pick(http.downloads).fail(arg.mid(2));
                else if (verb == "finish")
                    pick(http.downloads).finish(arg.section(' ', 1).toUtf8(), arg.section(' ', 0, 0).toInt());
                else if (verb == "whileModal")
                    view.whileModal = arg.isEmpty() ? std::function<void()>() : [this, arg] { run({arg}); };
                else
                    qFatal("unknown step %s", qPrintable(step));
            });
            for (const QString& line : printed)
                view.events << "> " + line;
        }
    }
};

} // namespace

class ControllerTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> rig;

    static void row(const char* name, const QStringList& setup, const QStringList& steps, const QStringList& log)
    {
        QTest::newRow(name) << setup << steps << log;
    }

private slots:
    void init() { rig = std::make_unique<Rig>(); }
    void cleanup() { rig.reset(); }

    void flows_data()
    {
        QTest::addColumn<QStringList>("setup"); // steps whose log is not compared
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("log"); // what the steps did, in order
        const auto poll = [](const char* body) { return QStringList{QStringLiteral("poll ") + body, "tick"}; };
        const auto ended = [](const QString& notes, const QString& printed = {}) {
            return kStop + QStringList{"ended:|" + notes} + (printed.isEmpty() ? QStringList() : QStringList{printed});
        };
        const auto saved = [](const QString& notes) {
            return QStringList{"alert:Convert|successful"} + kStop + QStringList{"ended:DIR/out/drawing.zip|" + notes};
        };
        const QString waiting = "> \"file upload success, wait 1s reload\"";
        const QString notUnderstood = "The service's reply could not be understood.";
        const QString protocolError = "> \"protocol error\"";
        const QStringList timedOut = QStringList{"cancel downloads", kTimeOut} + ended("");

        // Starting a job.
        row("Convert twice", {}, {"convert", "convert"}, kStarted);
        row("no input, chooser cancelled", {}, {"input", "convert"},
            {"chooser:input", "alert:convert|Input file or output file/folder is empty."});
        row("no input, one chosen", {}, {"input", "chooseInput DIR/drawing.pdf", "convert"},
            QStringList{"chooser:input"} + kStarted);
        row("no output, chooser cancelled", {}, {"output", "convert"}, {"chooser:output"});
        row("no output, one chosen", {}, {"output", "chooseOutput DIR/a.zip", "convert"},
            QStringList{"chooser:output"} + kStarted);
        row("input missing", {}, {"input DIR/gone.pdf", "convert"},
            {"alert:convert|Cannot read the input file DIR/gone.pdf: No such file or directory."});
        row("input is a folder", {}, {"input DIR/out", "convert"},
            {"alert:convert|Cannot read the input file DIR/out: file to open is a directory."});
        row("chooser actions print the field", {}, {"input /a/b ä.pdf", "selectAction", "saveAction"},
            {"chooser:input", "> \"/a/b ä.pdf\"", "chooser:output", "> \"DIR/out/drawing.zip\""});
        row("quotes and controls in a path", {}, {"chooseOutput /a \"b\"\\'c'\t\n\r\x01", "saveAction"},
            {"chooser:output", "> \"/a \\\"b\\\"\\\\\\'c\\'\\t\\n\\r\\u{1}\""});

        // The upload's reply.
        const QString refused = "alert:convert|The conversion service did not accept the file.";
        row("accepted", {"convert"}, {kAccept}, {"status:Converting..."});
        row("refused with a message", {"convert"}, {R"(upload {"result":"3","message":"Not a PDF"})"},
            kStop + QStringList{"alert:convert|Not a PDF", "ended:|"});
        row("refused, empty message", {"convert"}, {R"(upload {"result":"3","message":""})"},
            kStop + QStringList{refused, "ended:|"});
        row("empty object", {"convert"}, {"upload {}"}, kStop + QStringList{refused, "ended:|"});
        row("result 10 without fileId", {"convert"}, {R"(upload {"result":"10"})"}, kStop + QStringList{refused, "ended:|"});
        row("result 10, empty fileId", {"convert"}, {R"(upload {"result":"10","fileId":""})"},
            kStop + QStringList{refused, "ended:|"});
        row("result is the number 10", {"convert"}, {R"(upload {"result":10,"fileId":"ab"})", "tick"}, {});
        row("one value not a string", {"convert"}, {R"(upload {"result":"10","fileId":"ab","n":3})", "tick"}, {});
        row("array", {"convert"}, {R"(upload [{"result":"10","fileId":"ab"}])", "tick"}, {});
        row("not JSON", {"convert"}, {"upload <html>busy</html>", "tick"}, {});
        row("encoding failure", {"convert"}, {"encfail disk \"A\"", "tick"}, {"> disk \"A\""});
        row("no connection to this machine", {"convert"}, {"upload -"},
            kStop + QStringList{"alert:convert|The conversion service at localhost:8040 cannot be reached.\n"
                                "Connection refused\nStart it with unplotd, or with ./run.sh in unplot's source folder.",
                                "ended:|"});

        // The queue's replies.
        row("uploading: ticks only count down", {"convert"}, {"tick 3"}, {});
        row("one poll at a time", kPolling, {"tick 5"}, {});
        row("no connection", kPolling, poll("-"), {kPoll});
        row("HTML error page", kPolling, poll("<html>oops</html>"), {kPoll});
        row("JSON array", kPolling, poll("[1,2]"), {kPoll});
        row("num missing", kPolling, poll(R"({"status":100,"result":"/files/a.zip"})"), ended(notUnderstood, protocolError));
        row("num is a string", kPolling, poll(R"({"num":"3"})"), ended(notUnderstood, protocolError));
        row("num is not whole", kPolling, poll(R"({"num":2.5})"), ended(notUnderstood, protocolError));
        row("num 1 ignores status", kPolling, poll(R"({"num":1,"status":999})"), {"> \"queue:1\"", kPoll});
        row("num -2 whatever else", kPolling, poll(R"({"num":-2,"status":100,"result":"/a.zip"})"),
            ended("The service does not know the file.", "> \"file dose not exist\""));
        row("num -1, status missing", kPolling, poll(R"({"num":-1})"), {});
        row("status is a string", kPolling, poll(R"({"num":0,"status":"100","result":"/files/a.zip"})"), {});
        row("status 10", kPolling, poll(R"({"num":0,"status":10})"), {waiting, kPoll});
        row("status 20", kPolling, poll(R"({"num":-1,"status":20})"), {waiting, kPoll});
        row("status 100", kPolling, poll(R"({"num":0,"status":100,"result":"/files/a.zip"})"),
            {kDownload, "> \"http://localhost:8040/files/a.zip\""});
        row("status 101", kPolling, poll(R"({"num":-7,"status":101,"result":"/files/a.zip"})"),
            {kDownload, "> \"http://localhost:8040/files/a.zip\""});
        row("result without a slash", kPolling, poll(R"({"num":0,"status":101,"result":"files/a.zip"})"),
            {kDownload, "> \"http://localhost:8040/files/a.zip\""});
        row("result empty", kPolling, poll(R"({"num":0,"status":100,"result":""})"), {});
        row("result a number", kPolling, poll(R"({"num":0,"status":100,"result":7})"), {});
        row("status 30", kPolling, poll(R"({"num":0,"status":30})"),
            ended("The conversion failed (status 30).", "> \"convert faild status: 30\""));
        row("status -5 with a message", kPolling, poll(R"({"num":0,"status":-5,"message":"Out of memory."})"),
            ended("Out of memory.", "> \"convert faild status: -5\""));
        for (const char* result : {"@evil.example/x", "//evil.example/x", "http://other/x", "https://localhost:8040/x",
                                   ":9999/x", "http://localhost:8040/x"})
            QTest::addRow("result %s", result) << kPolling << poll(qPrintable(QStringLiteral(
                                                        R"({"num":0,"status":100,"result":"%1"})").arg(result)))
                                              << ended(notUnderstood, protocolError);
        row("result with @ and a query", kPolling, {R"(poll {"num":0,"status":100,"result":"/x/@e.example/y?a=1&b"})"},
            {"GET http://localhost:8040/x/@e.example/y?a=1&b > DIR/Documents/temp.zip",
             "> \"http://localhost:8040/x/@e.example/y?a=1&b\""});

        // The time budget: the 601st tick ends the job, whatever it is doing.
        row("600 ticks", {"convert"}, {"tick 600"}, {});
        row("time-out while uploading", {"convert", "tick 600"}, {"tick"}, timedOut);
        row("time-out with a poll due", {"convert", "tick 600", kAccept}, {"tick"}, timedOut);
        row("time-out with a poll in flight", {"convert", kAccept, "tick 600"}, {"tick"},
            timedOut);
        row("time-out while downloading", kDownloading + QStringList{"progress 0.5", "tick 599"}, {"tick"},
            timedOut);
        row("the time-out alert left open", {"convert", "tick 600"}, {"whileModal tick 5", "tick"},
            timedOut);
        row("ticks held back while a chooser is open", kPolling + QStringList{R"(poll {"num":4})"},
            {"whileModal tick 30", "chooseOutput DIR/other.zip", "saveAction", "whileModal", "tick 599", "tick"},
            QStringList{"chooser:output", "> \"DIR/other.zip\"", kPoll} + timedOut);

        // The download.
        for (const double fraction : {0.0, 0.4278, 0.999, 1.0})
            QTest::addRow("progress %g", fraction) << kDownloading << QStringList{QStringLiteral("progress %1").arg(fraction)}
                                                  << QStringList{QStringLiteral("status:Downloading... %1 %").arg(int(fraction * 100))};
        row("saved, ticks held back while the alert is open", kDownloading + QStringList{"tick 598"},
            {"whileModal tick 3", "finish 200 PK"}, saved(""));
        row("saved with warnings",
            kPolling + QStringList{R"(poll {"num":0,"status":101,"result":"/d.zip","message":"page 2: images\npage 3: text"})"},
            {"finish 200 PK"}, saved("page 2: images\npage 3: text"));
        row("warning not a string", kPolling + QStringList{R"(poll {"num":0,"status":101,"result":"/d.zip","message":5})"},
            {"finish 200 PK"}, saved(""));
        row("download failed", kDownloading, {"finish 0 Connection closed"},
            QStringList{"alert:Convert|Faild\nConnection closed"} + ended(""));
        for (int status : {404, 500, 304})
            QTest::addRow("download answered %d", status)
                << kDownloading << QStringList{QStringLiteral("finish %1 <html>Not here</html>").arg(status)}
                << QStringList{QStringLiteral("alert:Convert|Faild\nThe service answered with HTTP status %1.").arg(status)} +
                       ended("");

        // Replies to the requests of a job that has ended change nothing, also while the next one runs.
        const QStringList afterTimeOut{"tick 601", "convert"};
        row("late upload reply", QStringList{"convert"} + afterTimeOut, {"upload#0 " + kAccept.mid(7), "encfail#0 x", "tick"}, {});
        row("late poll reply", kPolling + afterTimeOut, {R"(poll#0 {"num":3})", "tick"}, {});
        row("late download", kDownloading + afterTimeOut, {"progress#0 0.5", "finish#0 200 PK", "tick"}, {});
        row("a reply twice", kPolling, {"upload#0 " + kAccept.mid(7), "tick"}, {});
    }
    void flows()
    {
        QFETCH(QStringList, setup);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, log);
        rig->run(setup);
        const qsizetype before = rig->view.events.size();
        rig->run(steps);
        QCOMPARE(rig->view.events.mid(before), log.replaceInStrings("DIR", rig->dir.path()));
        // Whatever happened: the timer and the busy indicator run exactly while a job does, and an idle
        // controller has its whole budget and no identifier.
        QCOMPARE(rig->timers.running(), rig->c->conversion());
        QCOMPARE(rig->view.busy(), rig->c->conversion());
        QVERIFY(rig->c->conversion() || (rig->c->convert_timeout() == 600 && rig->c->downloadID().isEmpty()));
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
        QFETCH(QString, pages);
        QFETCH(int, versionIndex);
        QFETCH(QByteArrayList, values);
        FakeView& view = rig->view;
        std::tie(view.dwg, view.dxf, view.pageList, view.allPages) = std::tuple(dwg, 1 - dwg, pageList, 1 - pageList);
        view.pages = pages;
        view.version = versionIndex;
        QCOMPARE(rig->c->selectVersion(), qint64(14));
        rig->c->setSelectVersion(99);
        rig->c->selectVersionAction();
        rig->run({"convert"});
        const std::vector<FormPart>& parts = rig->http.uploads.at(0).parts;
        QCOMPARE(parts.size(), size_t(4));
        QCOMPARE(parts[0].name + '|' + parts[0].fileName + '|' + parts[0].contentType + '|' + parts[0].filePath,
                 "convertData|convert.pdf|application/pdf|" + view.input); // streamed from disk by the HTTP layer
        QVERIFY(parts[0].data.isEmpty());
        const QStringList names{"drp_Type", "txt_Page", "drp_Version"};
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(parts[i].name, names[i - 1]);
            QCOMPARE(parts[i].data, values[i - 1]);
            QVERIFY(parts[i].fileName.isEmpty() && parts[i].contentType.isEmpty() && parts[i].filePath.isEmpty());
        }
        const bool listKept = pageList && !pages.isEmpty();
        QCOMPARE(std::tuple(view.allPages, view.pageList), std::tuple(listKept ? 0 : 1, listKept ? 1 : 0));
    }

    void unreachableServiceElsewhere()
    {
        rig = std::make_unique<Rig>("conversion.example:8040");
        rig->run({"convert", "upload -"});
        QCOMPARE(rig->view.alerts(), QStringList{"alert:convert|The conversion service at conversion.example:8040 "
                                                 "cannot be reached.\nConnection refused"});
    }

    void pollIdentifierIsOneQueryValue()
    {
        rig->run({"convert", "upload {\"result\":\"10\",\"fileId\":\"a&op=mac_upload&fileId=b #\\u00e9/?%\"}", "tick"});
        const QUrl url(rig->http.gets[0].url, QUrl::StrictMode);
        QVERIFY2(url.isValid() && url.path() == "/include/ajax.aspx", qPrintable(url.toString()));
        const QUrlQuery query(url);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 2);
        QCOMPARE(query.queryItemValue("op", QUrl::FullyDecoded), QStringLiteral("GetConvertQueue"));
        QCOMPARE(query.queryItemValue("fileId", QUrl::FullyDecoded), QStringLiteral("a&op=mac_upload&fileId=b #é/?%"));
    }

    void repliesAfterTheControllerIsGoneDoNothing()
    {
        rig->run(kPolling);
        rig->c.reset();
        const QStringList events = rig->view.events;
        rig->run({"encfail x", kReady});
        QCOMPARE(rig->view.events, events);
    }

    void savedArchiveReplacesTheOutput()
    {
        writeFile(rig->view.output, "an older archive, longer than the new one");
        QVERIFY(!QFileInfo::exists(rig->dir.filePath("Documents")));
        rig->run(kDownloading);
        QVERIFY(QFileInfo(rig->dir.filePath("Documents")).isDir()); // made for temp.zip
        QByteArray archive(3 * 1024 * 1024 + 17, Qt::Uninitialized); // more than one piece of the copy
        for (char& byte : archive)
            byte = char(QRandomGenerator::global()->bounded(256));
        const QString chosenLater = rig->dir.filePath("out/chosen later.zip");
        rig->view.output = chosenLater; // the output field is read when the download completes
        rig->http.downloads[0].finish(archive);
        QCOMPARE(rig->view.alerts(), QStringList{"alert:Convert|successful"});
        QVERIFY(readAll(chosenLater) == archive);
        QVERIFY(readAll(rig->c->tempZipPath()) == archive); // left in place
        QCOMPARE(readAll(rig->dir.filePath("out/drawing.zip")), QByteArray("an older archive, longer than the new one"));
        QCOMPARE(QDir(rig->dir.filePath("out")).entryList(QDir::Files).size(), 2);
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
        rig->run(kDownloading);
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
        if (fault == "file size limit") { // the system's reason, as for a full disk; no temporary left over
            QCOMPARE(alerts[0], "alert:Convert|Faild\n" + QString::fromLocal8Bit(std::strerror(EFBIG)));
            QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
            QCOMPARE(QDir(outDir).entryList(QDir::Files), QStringList{"drawing.zip"});
        }
    }
};

QTEST_GUILESS_MAIN(ControllerTest)
#include "tst_controller.moc"
