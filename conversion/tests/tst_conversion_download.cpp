// Downloading and saving the result: the progress line, the completion branches, and replies of ended jobs.

#include "controllerrig.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace unplot;
using namespace unplot::test;

namespace {

const QByteArray kArchive = QByteArrayLiteral("PK\x03\x04 the converted drawings");

DownloadResult succeeded(qint64 bytes)
{
    DownloadResult result;
    result.httpStatus = 200;
    result.bytesWritten = bytes;
    return result;
}

// Limits the size of any file this process writes, for as long as it lives; writes beyond it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

class ConversionDownloadTest : public QObject {
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<ControllerRig>(); }
    void cleanup() { rig.reset(); }

    void progressText_data();
    void progressText();
    void downloadGoesToTempZipInANewDocumentsFolder();
    void successReplacesTheOutputAfterTheAlert();
    void largeArchiveIsCopiedWhole();
    void outputPathIsReadAtCompletion();
    void failedDownloadLeavesTheOutput_data();
    void failedDownloadLeavesTheOutput();
    void failedWriteKeepsTheOldOutput_data();
    void failedWriteKeepsTheOldOutput();
    void outcomeAlertHoldsTicksBack();
    void lateDownloadIsIgnored();

private:
    std::unique_ptr<ControllerRig> rig;
};

void ConversionDownloadTest::progressText_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("text");
    QTest::newRow("0.0") << 0.0 << QStringLiteral("Downloading... 0 %");
    QTest::newRow("0.4278") << 0.4278 << QStringLiteral("Downloading... 42 %");
    QTest::newRow("0.999") << 0.999 << QStringLiteral("Downloading... 99 %");
    QTest::newRow("1.0") << 1.0 << QStringLiteral("Downloading... 100 %");
}

void ConversionDownloadTest::progressText()
{
    QFETCH(double, fraction);
    rig->startDownload();
    QCOMPARE(rig->view.status(), QStringLiteral("Converting...")); // unchanged until the first report
    rig->http.downloads[0].progress(fraction);
    QTEST(rig->view.status(), "text");
    rig->http.downloads[0].progress(fraction); // every report rewrites the line
    QCOMPARE(rig->view.statusTexts.count(rig->view.status()), 2);
}

void ConversionDownloadTest::downloadGoesToTempZipInANewDocumentsFolder()
{
    const QString documents = rig->c().config().documentsDir;
    QVERIFY(!QFileInfo::exists(documents));
    rig->startDownload();
    QCOMPARE(rig->c().tempZipPath(), documents + QStringLiteral("/temp.zip"));
    QCOMPARE(rig->http.downloads[0].destination, rig->c().tempZipPath());
    QVERIFY(QFileInfo(documents).isDir());
    QVERIFY(rig->http.downloads[0].finish(kArchive));
    QCOMPARE(readAll(rig->c().tempZipPath()), kArchive); // left in place
}

void ConversionDownloadTest::successReplacesTheOutputAfterTheAlert()
{
    QVERIFY(writeFile(rig->view.output, "an older archive, longer than the new one"));
    rig->startDownload();
    rig->http.downloads[0].progress(1.0);
    QString statusDuringAlert;
    bool busyDuringAlert = false;
    rig->view.whileModal = [&] {
        statusDuringAlert = rig->view.status();
        busyDuringAlert = rig->view.busy;
    };
    QVERIFY(rig->http.downloads[0].finish(kArchive));

    QCOMPARE(readAll(rig->view.output), kArchive);
    QCOMPARE(rig->view.alerts.size(), 1);
    QCOMPARE(rig->view.alerts[0].question, QStringLiteral("Convert"));
    QCOMPARE(rig->view.alerts[0].text, QStringLiteral("successful"));
    QCOMPARE(statusDuringAlert, QStringLiteral("Downloading... 100 %"));
    QVERIFY(busyDuringAlert);
    QVERIFY(!rig->c().conversion());
    QVERIFY(!rig->view.busy);
    QCOMPARE(rig->view.status(), QString());
    QVERIFY(!rig->timers.running());
    QCOMPARE(QDir(QFileInfo(rig->view.output).path()).entryList(QDir::Files), QStringList{"drawing.zip"});
}

void ConversionDownloadTest::largeArchiveIsCopiedWhole()
{
    QByteArray archive(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char& byte : archive)
        byte = char(generator.bounded(256));
    rig->startDownload();
    QVERIFY(rig->http.downloads[0].finish(archive));
    QCOMPARE(rig->view.alerts[0].text, QStringLiteral("successful"));
    QVERIFY(readAll(rig->view.output) == archive);
}

void ConversionDownloadTest::outputPathIsReadAtCompletion()
{
    const QString first = rig->view.output;
    rig->startDownload();
    rig->view.output = rig->dir.filePath(QStringLiteral("out/chosen later.zip"));
    QVERIFY(rig->http.downloads[0].finish(kArchive));
    QCOMPARE(readAll(rig->view.output), kArchive);
    QVERIFY(!QFileInfo::exists(first));
}

void ConversionDownloadTest::failedDownloadLeavesTheOutput_data()
{
    QTest::addColumn<bool>("transportError");
    QTest::addColumn<int>("httpStatus");
    QTest::newRow("connection dropped") << true << 0;
    QTest::newRow("HTTP 404 with a page") << false << 404;
    QTest::newRow("HTTP 500 with a page") << false << 500;
    QTest::newRow("HTTP 304") << false << 304;
}

void ConversionDownloadTest::failedDownloadLeavesTheOutput()
{
    QFETCH(bool, transportError);
    QFETCH(int, httpStatus);
    QVERIFY(writeFile(rig->view.output, "the old archive"));
    rig->startDownload();
    if (transportError)
        rig->http.downloads[0].fail(QStringLiteral("Connection closed"));
    else
        QVERIFY(rig->http.downloads[0].finish("<html>Not here</html>", httpStatus));
    QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
    QCOMPARE(rig->view.alerts.size(), 1);
    QCOMPARE(rig->view.alerts[0].question, QStringLiteral("Convert"));
    QCOMPARE(rig->view.alerts[0].text, QStringLiteral("Faild"));
    QVERIFY(rig->view.indexOf(QStringLiteral("alert:Convert|Faild")) < rig->view.indexOf(QStringLiteral("busy:stop")));
    QVERIFY(!rig->c().conversion());
}

void ConversionDownloadTest::failedWriteKeepsTheOldOutput_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("read-only folder") << QStringLiteral("read-only");
    QTest::newRow("file size limit reached") << QStringLiteral("size limit");
    QTest::newRow("folder missing") << QStringLiteral("missing folder");
    QTest::newRow("output is a folder") << QStringLiteral("folder");
}

void ConversionDownloadTest::failedWriteKeepsTheOldOutput()
{
    QFETCH(QString, fault);
    const QByteArray old("the old archive");
    QByteArray archive(64 * 1024, 'z');
    const QString outDir = QFileInfo(rig->view.output).path();
    if (fault == QLatin1String("missing folder"))
        rig->view.output = rig->dir.filePath(QStringLiteral("nowhere/drawing.zip"));
    else if (fault == QLatin1String("folder"))
        rig->view.output = outDir;
    else
        QVERIFY(writeFile(rig->view.output, old));

    rig->startDownload();
    QVERIFY(writeFile(rig->c().tempZipPath(), archive));
    if (fault == QLatin1String("read-only")) {
        QVERIFY(QFile::setPermissions(outDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (::access(outDir.toLocal8Bit().constData(), W_OK) == 0) {
            QFile::setPermissions(outDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QSKIP("this user may write into read-only folders (root)");
        }
        rig->http.downloads[0].done(succeeded(archive.size()));
        QFile::setPermissions(outDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    } else if (fault == QLatin1String("size limit")) {
        FileSizeLimit limit(4096);
        rig->http.downloads[0].done(succeeded(archive.size()));
    } else {
        rig->http.downloads[0].done(succeeded(archive.size()));
    }

    QCOMPARE(rig->view.alerts.size(), 1);
    QCOMPARE(rig->view.alerts[0].question, QStringLiteral("Convert"));
    const QString text = rig->view.alerts[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("Faild\n")) && text.size() > 6, qPrintable(text));
    QVERIFY(!rig->c().conversion());
    if (fault == QLatin1String("read-only") || fault == QLatin1String("size limit")) {
        QCOMPARE(readAll(rig->view.output), old);
        QCOMPARE(QDir(outDir).entryList(QDir::Files), QStringList{"drawing.zip"}); // no temporary left over
    } else if (fault == QLatin1String("missing folder")) {
        QVERIFY(!QFileInfo::exists(rig->view.output));
    }
}

void ConversionDownloadTest::outcomeAlertHoldsTicksBack()
{
    rig->startDownload();
    rig->tick(9);
    qint64 before = -1;
    qint64 after = -1;
    rig->view.whileModal = [&] {
        before = rig->c().convert_timeout();
        rig->tick(3);
        after = rig->c().convert_timeout();
    };
    QVERIFY(rig->http.downloads[0].finish(kArchive));
    QCOMPARE(before, qint64(590));
    QCOMPARE(after, qint64(590));
    QCOMPARE(rig->view.alerts.size(), 1);
}

void ConversionDownloadTest::lateDownloadIsIgnored()
{
    QVERIFY(writeFile(rig->view.output, "the old archive"));
    rig->startDownload();
    rig->tick(600); // the 601st tick of the job: time-out while downloading
    QCOMPARE(rig->view.alerts.size(), 1);
    rig->start(); // a new job is uploading
    const QStringList events = rig->view.events;

    rig->http.downloads[0].progress(0.5);
    QVERIFY(rig->http.downloads[0].finish(kArchive));
    QCOMPARE(rig->view.events, events);
    QCOMPARE(readAll(rig->view.output), QByteArray("the old archive"));
    QVERIFY(rig->c().conversion());
    QCOMPARE(rig->view.status(), QStringLiteral("Uploading..."));
}

QTEST_GUILESS_MAIN(ConversionDownloadTest)
#include "tst_conversion_download.moc"
