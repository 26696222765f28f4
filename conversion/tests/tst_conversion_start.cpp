// Starting a job: the Convert checks, the upload form, the upload reply, the option controls and the choosers.

#include "controllerrig.h"
#include "stdoutcapture.h"

#include <QTest>

using namespace unplot;
using namespace unplot::test;

namespace {

const FormPart* part(const FakeHttpClient::Upload& upload, const QString& name)
{
    for (const FormPart& p : upload.parts)
        if (p.name == name)
            return &p;
    return nullptr;
}

} // namespace

class ConversionStartTest : public QObject {
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<ControllerRig>(); }
    void cleanup() { rig.reset(); }

    void startsUploadingAndSchedulesTheTimer();
    void convertWhileBusyDoesNothing();
    void emptyInputWithChooserCancelledAlerts();
    void emptyInputTakesTheChosenFile();
    void emptyOutputWithChooserCancelledDoesNothing();
    void emptyPageListFallsBackToAllPages();
    void pageListWithTextIsKept();

    void formPartsInOrder();
    void formValues_data();
    void formValues();
    void versionCodes_data();
    void versionCodes();

    void uploadReply_data();
    void uploadReply();
    void unreachableServiceEndsTheJob();
    void unreadableInputEndsTheJobAtOnce_data();
    void unreadableInputEndsTheJobAtOnce();
    void encodingFailureIsPrintedAndTheJobWaits();
    void lateUploadReplyIsIgnored();
    void uploadReplyDeliveredTwiceActsOnce();
    void repliesAfterTheControllerIsGoneDoNothing();

    void optionButtonsStayExclusive();
    void chooserActionsPrintTheField_data();
    void chooserActionsPrintTheField();

private:
    std::unique_ptr<ControllerRig> rig;
};

void ConversionStartTest::startsUploadingAndSchedulesTheTimer()
{
    rig->start();
    QVERIFY(rig->c().conversion());
    QVERIFY(rig->view.busy);
    QCOMPARE(rig->view.status(), QStringLiteral("Uploading..."));
    QCOMPARE(rig->http.uploads.size(), size_t(1));
    QCOMPARE(rig->http.uploads[0].url, QStringLiteral("http://localhost:8040/include/ajax.aspx?op=mac_upload"));
    QCOMPARE(rig->c().uploadFileUrl(), rig->http.uploads[0].url);
    QCOMPARE(rig->timers.scheduled.size(), size_t(1));
    QCOMPARE(rig->timers.scheduled[0]->interval, std::chrono::milliseconds(1000));
    QVERIFY(rig->timers.running());
    QCOMPARE(rig->c().convert_timeout(), qint64(600));
    QVERIFY(rig->c().downloadID().isEmpty());
    QVERIFY(rig->view.alerts.isEmpty());
}

void ConversionStartTest::convertWhileBusyDoesNothing()
{
    rig->start();
    const QStringList before = rig->view.events;
    rig->start();
    QCOMPARE(rig->view.events, before);
    QCOMPARE(rig->http.uploads.size(), size_t(1));
    QCOMPARE(rig->timers.scheduled.size(), size_t(1));
}

void ConversionStartTest::emptyInputWithChooserCancelledAlerts()
{
    rig->view.input.clear();
    rig->view.output.clear();
    rig->start();
    QCOMPARE(rig->view.events,
             QStringList({QStringLiteral("chooser:input"),
                          QStringLiteral("alert:convert|Input file or output file/folder is empty.")}));
    QVERIFY(!rig->c().conversion());
    QVERIFY(rig->http.uploads.empty());
    QVERIFY(rig->timers.scheduled.empty());
}

void ConversionStartTest::emptyInputTakesTheChosenFile()
{
    const QString chosen = rig->view.input;
    rig->view.input.clear();
    rig->view.inputChoice = chosen;
    rig->start();
    QCOMPARE(rig->http.uploads.size(), size_t(1));
    QCOMPARE(rig->http.uploads[0].parts[0].filePath, chosen);
}

void ConversionStartTest::emptyOutputWithChooserCancelledDoesNothing()
{
    rig->view.output.clear();
    rig->start();
    QCOMPARE(rig->view.events, QStringList{QStringLiteral("chooser:output")});
    QVERIFY(!rig->c().conversion());
    QVERIFY(rig->http.uploads.empty());
}

void ConversionStartTest::emptyPageListFallsBackToAllPages()
{
    rig->view.allPages = 0;
    rig->view.pageList = 1;
    rig->start();
    QCOMPARE(rig->view.allPages, 1);
    QCOMPARE(rig->view.pageList, 0);
    QCOMPARE(part(rig->http.uploads[0], QStringLiteral("txt_Page"))->data, QByteArray("-1"));
}

void ConversionStartTest::pageListWithTextIsKept()
{
    rig->view.allPages = 0;
    rig->view.pageList = 1;
    rig->view.pages = QStringLiteral("2");
    rig->start();
    QCOMPARE(rig->view.allPages, 0);
    QCOMPARE(rig->view.pageList, 1);
}

void ConversionStartTest::formPartsInOrder()
{
    rig->start();
    const FakeHttpClient::Upload& upload = rig->http.uploads[0];
    QCOMPARE(upload.parts.size(), size_t(4));
    const FormPart& file = upload.parts[0];
    QCOMPARE(file.name, QStringLiteral("convertData"));
    QCOMPARE(file.fileName, QStringLiteral("convert.pdf"));
    QCOMPARE(file.contentType, QStringLiteral("application/pdf"));
    QCOMPARE(file.filePath, rig->view.input); // streamed by the HTTP layer, not held in memory
    QVERIFY(file.data.isEmpty());
    QCOMPARE(upload.parts[1].name, QStringLiteral("drp_Type"));
    QCOMPARE(upload.parts[2].name, QStringLiteral("txt_Page"));
    QCOMPARE(upload.parts[3].name, QStringLiteral("drp_Version"));
    for (size_t i = 1; i < 4; ++i) {
        QVERIFY(upload.parts[i].fileName.isEmpty());
        QVERIFY(upload.parts[i].contentType.isEmpty());
        QVERIFY(upload.parts[i].filePath.isEmpty());
    }
}

void ConversionStartTest::formValues_data()
{
    QTest::addColumn<int>("dwg");
    QTest::addColumn<int>("allPages");
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("page");

    QTest::newRow("DWG, all pages") << 1 << 1 << QStringLiteral("1-3") << QByteArray("1") << QByteArray("-1");
    QTest::newRow("DXF, all pages") << 0 << 1 << QString() << QByteArray("0") << QByteArray("-1");
    QTest::newRow("list as typed") << 1 << 0 << QStringLiteral(" 1, 3-5 ,x ") << QByteArray("1")
                                   << QByteArray(" 1, 3-5 ,x ");
    QTest::newRow("list in UTF-8") << 0 << 0 << QStringLiteral("Seite 2 \u00e9") << QByteArray("0")
                                   << QByteArray("Seite 2 \xc3\xa9");
}

void ConversionStartTest::formValues()
{
    QFETCH(int, dwg);
    QFETCH(int, allPages);
    QFETCH(QString, pages);
    rig->view.dwg = dwg;
    rig->view.dxf = 1 - dwg;
    rig->view.allPages = allPages;
    rig->view.pageList = 1 - allPages;
    rig->view.pages = pages;
    rig->start();
    QTEST(part(rig->http.uploads[0], QStringLiteral("drp_Type"))->data, "type");
    QTEST(part(rig->http.uploads[0], QStringLiteral("txt_Page"))->data, "page");
}

void ConversionStartTest::versionCodes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("code");
    QTest::newRow("none selected") << -1 << qint64(14);
    QTest::newRow("R14") << 0 << qint64(14);
    QTest::newRow("2000") << 1 << qint64(15);
    QTest::newRow("2004") << 2 << qint64(18);
    QTest::newRow("2007") << 3 << qint64(21);
    QTest::newRow("2010") << 4 << qint64(23);
    QTest::newRow("beyond the list") << 5 << qint64(14);
}

void ConversionStartTest::versionCodes()
{
    QFETCH(int, index);
    QFETCH(qint64, code);
    QCOMPARE(rig->c().selectVersion(), qint64(14));
    rig->c().setSelectVersion(99);
    rig->view.version = index;
    rig->c().selectVersionAction();
    QCOMPARE(rig->c().selectVersion(), code);
    rig->start();
    QCOMPARE(part(rig->http.uploads[0], QStringLiteral("drp_Version"))->data, QByteArray::number(code));
}

void ConversionStartTest::uploadReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("fileId"); // set when accepted
    QTest::addColumn<QString>("alert");  // set when refused

    const QString refused = QStringLiteral("The conversion service did not accept the file.");
    QTest::newRow("accepted") << QByteArray(R"({"result":"10","fileId":"ab12"})") << 200 << "ab12" << QString();
    QTest::newRow("accepted with HTTP 500") << QByteArray(R"({"fileId":"x","result":"10"})") << 500 << "x" << QString();
    QTest::newRow("refused with a message")
        << QByteArray(R"({"result":"3","message":"Not a PDF"})") << 200 << QString() << "Not a PDF";
    QTest::newRow("refused, empty message")
        << QByteArray(R"({"result":"3","message":""})") << 200 << QString() << refused;
    QTest::newRow("refused without message") << QByteArray(R"({"result":"0"})") << 200 << QString() << refused;
    QTest::newRow("empty object") << QByteArray("{}") << 200 << QString() << refused;
    QTest::newRow("no result") << QByteArray(R"({"fileId":"ab"})") << 200 << QString() << refused;
    QTest::newRow("result 10 without fileId") << QByteArray(R"({"result":"10"})") << 200 << QString() << refused;
    QTest::newRow("result 10, empty fileId")
        << QByteArray(R"({"result":"10","fileId":""})") << 200 << QString() << refused;
    QTest::newRow("result is the number 10")
        << QByteArray(R"({"result":10,"fileId":"ab"})") << 200 << QString() << QString();
    QTest::newRow("one value not a string")
        << QByteArray(R"({"result":"10","fileId":"ab","size":3})") << 200 << QString() << QString();
    QTest::newRow("array") << QByteArray(R"([{"result":"10","fileId":"ab"}])") << 200 << QString() << QString();
    QTest::newRow("bare string") << QByteArray(R"("10")") << 200 << QString() << QString();
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << 503 << QString() << QString();
}

void ConversionStartTest::uploadReply()
{
    QFETCH(QByteArray, body);
    QFETCH(int, httpStatus);
    QFETCH(QString, fileId);
    QFETCH(QString, alert);

    rig->start();
    QStringList printed = captureStdout([&] { rig->http.uploads[0].reply(FakeHttpClient::reply(body, httpStatus)); });
    QVERIFY(printed.isEmpty());
    if (!fileId.isEmpty()) {
        QCOMPARE(rig->c().downloadID(), fileId);
        QCOMPARE(rig->view.status(), QStringLiteral("Converting..."));
        QVERIFY(rig->c().conversion());
        QVERIFY(rig->view.alerts.isEmpty());
    } else if (!alert.isEmpty()) {
        QVERIFY(!rig->c().conversion());
        QVERIFY(!rig->timers.running());
        QCOMPARE(rig->view.events.mid(rig->view.events.size() - 3),
                 QStringList({QStringLiteral("status:"), QStringLiteral("busy:stop"),
                              QStringLiteral("alert:convert|") + alert}));
    } else { // ignored: the job stays uploading until its time runs out
        QVERIFY(rig->c().conversion());
        QVERIFY(rig->c().downloadID().isEmpty());
        QCOMPARE(rig->view.status(), QStringLiteral("Uploading..."));
        QVERIFY(rig->view.alerts.isEmpty());
    }
}

void ConversionStartTest::unreachableServiceEndsTheJob()
{
    rig->start();
    rig->http.uploads[0].reply(FakeHttpClient::unreachable(QStringLiteral("Connection refused")));
    QVERIFY(!rig->c().conversion());
    QVERIFY(!rig->timers.running());
    QCOMPARE(rig->view.events.mid(rig->view.events.size() - 3),
             QStringList({QStringLiteral("status:"), QStringLiteral("busy:stop"),
                          QStringLiteral("alert:convert|The conversion service at localhost:8040 cannot be "
                                         "reached.\nConnection refused")}));
}

void ConversionStartTest::unreadableInputEndsTheJobAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing file") << QStringLiteral("gone.pdf");
    QTest::newRow("a folder") << QStringLiteral("out");
}

void ConversionStartTest::unreadableInputEndsTheJobAtOnce()
{
    QFETCH(QString, name);
    const QString unreadable = rig->dir.filePath(name);
    rig->view.input = unreadable;
    rig->start();
    QVERIFY(!rig->c().conversion());
    QVERIFY(!rig->view.busy);
    QCOMPARE(rig->view.status(), QString());
    QVERIFY(rig->http.uploads.empty());
    QVERIFY(rig->timers.scheduled.empty());
    QCOMPARE(rig->view.alerts.size(), 1);
    QCOMPARE(rig->view.alerts[0].question, QStringLiteral("convert"));
    QCOMPARE(rig->view.alerts[0].text, QStringLiteral("Cannot read the input file ") + unreadable + QLatin1Char('.'));

    rig->view.input = rig->dir.filePath(QStringLiteral("drawing.pdf"));
    rig->start();
    QCOMPARE(rig->http.uploads.size(), size_t(1));
}

void ConversionStartTest::encodingFailureIsPrintedAndTheJobWaits()
{
    rig->start();
    const QStringList printed =
        captureStdout([&] { rig->http.uploads[0].encodingFailed(QStringLiteral("disk \"A\"")); });
    QCOMPARE(printed, QStringList{QStringLiteral("disk \"A\"")});
    QVERIFY(rig->c().conversion());
    QCOMPARE(rig->view.status(), QStringLiteral("Uploading..."));
    QVERIFY(rig->view.alerts.isEmpty());
}

void ConversionStartTest::lateUploadReplyIsIgnored()
{
    rig->start();
    rig->tick(601); // the first job times out while its upload is still on its way
    QCOMPARE(rig->view.alerts.size(), 1);
    rig->start();
    const QStringList before = rig->view.events;
    rig->http.uploads[0].reply(FakeHttpClient::reply(R"({"result":"10","fileId":"old"})"));
    rig->http.uploads[0].reply(FakeHttpClient::unreachable());
    QCOMPARE(rig->view.events, before);
    QVERIFY(rig->c().downloadID().isEmpty());
    QVERIFY(rig->c().conversion());

    rig->accept("new");
    QCOMPARE(rig->c().downloadID(), QStringLiteral("new"));
}

void ConversionStartTest::uploadReplyDeliveredTwiceActsOnce()
{
    rig->start();
    rig->accept("f1");
    rig->tick(); // poll in flight
    QCOMPARE(rig->http.gets.size(), size_t(1));
    rig->accept("f1");
    QVERIFY(rig->c().downloadID().isEmpty());
    rig->tick();
    QCOMPARE(rig->http.gets.size(), size_t(1));
}

void ConversionStartTest::repliesAfterTheControllerIsGoneDoNothing()
{
    rig->start();
    rig->accept();
    rig->tick();
    rig->controller.reset();
    const QStringList events = rig->view.events;
    const QStringList printed = captureStdout([&] {
        rig->http.uploads[0].encodingFailed(QStringLiteral("late"));
        rig->http.gets[0].reply(FakeHttpClient::reply(R"({"num":0,"status":100,"result":"/d.zip"})"));
    });
    QVERIFY(printed.isEmpty());
    QCOMPARE(rig->view.events, events);
    QVERIFY(rig->http.downloads.empty());
}

void ConversionStartTest::optionButtonsStayExclusive()
{
    rig->view.dxf = 1;
    rig->c().dwgAction();
    QCOMPARE(rig->view.dxf, 0);
    QCOMPARE(rig->view.dwg, 1);
    rig->c().dxfAction();
    QCOMPARE(rig->view.dwg, 0);
    rig->view.pageList = 1;
    rig->c().AllPageOption();
    QCOMPARE(rig->view.pageList, 0);
    QCOMPARE(rig->view.allPages, 1);
    rig->c().SelectPageOption();
    QCOMPARE(rig->view.allPages, 0);
    QVERIFY(rig->view.events.isEmpty());
}

void ConversionStartTest::chooserActionsPrintTheField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QString>("line");

    QTest::newRow("cancelled, empty field") << QString() << QString() << false << QStringLiteral("\"\"");
    QTest::newRow("cancelled keeps the field")
        << QStringLiteral("/a/b.pdf") << QString() << false << QStringLiteral("\"/a/b.pdf\"");
    QTest::newRow("blanks and accents") << QString() << QStringLiteral("/Zeichnungen/Plan \u00e4 1.pdf") << true
                                        << QStringLiteral("\"/Zeichnungen/Plan \u00e4 1.pdf\"");
    QTest::newRow("quotes and control characters") << QString() << QStringLiteral("/a \"b\"\\'c'\t\x01.pdf") << true
                                                   << QStringLiteral("\"/a \\\"b\\\"\\\\\\'c\\'\\t\\u{1}.pdf\"");
}

void ConversionStartTest::chooserActionsPrintTheField()
{
    QFETCH(QString, field);
    QFETCH(QString, choice);
    QFETCH(bool, chosen);
    QFETCH(QString, line);

    rig->view.input = field;
    rig->view.output = field;
    if (chosen) {
        rig->view.inputChoice = choice;
        rig->view.outputChoice = choice;
    }
    QCOMPARE(captureStdout([&] { rig->c().SelectFileAction(); }), QStringList{line});
    QCOMPARE(captureStdout([&] { rig->c().saveFileAction(); }), QStringList{line});
    QCOMPARE(rig->view.input, chosen ? choice : field);
    QCOMPARE(rig->view.output, chosen ? choice : field);
}

QTEST_GUILESS_MAIN(ConversionStartTest)
#include "tst_conversion_start.moc"
