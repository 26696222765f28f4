// QtHttpClient::download against a scripted server: the body stored whole or not at all, the progress reports,
// and every way a transfer or the destination file can fail.
#include "qthttpclient.h"
#include "scriptedhttpserver.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using unplot::DownloadResult;
using unplot::JsonReply;
using unplot::QtHttpClient;
using unplot::test::RecordedRequest;
using unplot::test::ScriptedHttpServer;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray head(const QByteArray& status, const QByteArray& headers)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/zip\r\n" + headers + "Connection: close\r\n\r\n";
}

QByteArray withLength(const QByteArray& status, const QByteArray& body)
{
    return head(status, "Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray kPrevious = "the archive of the previous job";

} // namespace

class HttpDownloadTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void bodyIsStored_data();
    void bodyIsStored();
    void failedTransferLeavesThePreviousFile_data();
    void failedTransferLeavesThePreviousFile();
    void redirectToAnotherServerIsRefused();
    void missingFoldersAreCreated();
    void unwritableDestinationSendsNothing_data();
    void unwritableDestinationSendsNothing();
    void fullDiskIsAFailure();
    void invalidAddressSendsNothing();

private:
    // Starts the download and waits for its completion; then checks that it completed once.
    void download(const QString& url, const QString& destination);
    void serve(const QByteArray& response);
    bool nothingWasSent();

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<ScriptedHttpServer> server_;
    std::unique_ptr<QtHttpClient> client_;
    QString destination_;
    QList<double> progress_;
    int calls_ = 0;
    bool calledInsideRequest_ = false;
    DownloadResult result_;
};

void HttpDownloadTest::init()
{
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    server_ = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server_->listen());
    client_ = std::make_unique<QtHttpClient>();
    destination_ = folder_->filePath("Documents/temp.zip");
    QVERIFY(QDir().mkpath(folder_->filePath("Documents")));
    QVERIFY(writeFile(destination_, kPrevious));
    progress_.clear();
    calls_ = 0;
    calledInsideRequest_ = false;
    result_ = {};
}

void HttpDownloadTest::cleanup()
{
    client_.reset();
    server_.reset();
    folder_.reset();
}

void HttpDownloadTest::serve(const QByteArray& response)
{
    server_->setScript([response](const RecordedRequest& request, QTcpSocket& socket) {
        if (request.target == "/probe")
            ScriptedHttpServer::reply(socket, 200, "1");
        else
            ScriptedHttpServer::replyRaw(socket, response);
    });
}

void HttpDownloadTest::download(const QString& url, const QString& destination)
{
    bool inside = true;
    client_->download(
        url, destination,
        [this, &inside](double fraction) {
            calledInsideRequest_ = calledInsideRequest_ || inside;
            progress_.append(fraction);
        },
        [this, &inside](const DownloadResult& result) {
            calledInsideRequest_ = calledInsideRequest_ || inside;
            ++calls_;
            result_ = result;
        });
    inside = false;
    QTRY_COMPARE(calls_, 1);
    QVERIFY(!calledInsideRequest_);
}

// A GET sent after a download that should have sent nothing reaches the server first.
bool HttpDownloadTest::nothingWasSent()
{
    serve({});
    bool answered = false;
    client_->getJson(server_->url("/probe"), [&answered](const JsonReply&) { answered = true; });
    if (!QTest::qWaitFor([&answered] { return answered; }))
        return false;
    return server_->connections() == 1 && server_->requests().first().target == "/probe";
}

void HttpDownloadTest::bodyIsStored_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("totalKnown");

    const QByteArray large = randomBytes(3 << 20);
    QTest::newRow("with Content-Length") << withLength("200 OK", large) << large << 200 << true;
    QTest::newRow("without Content-Length") << head("200 OK", {}) + large << large << 200 << false;
    QTest::newRow("chunked") << head("200 OK", "Transfer-Encoding: chunked\r\n") +
                                    ScriptedHttpServer::chunked(large, 70000)
                             << large << 200 << false;
    QTest::newRow("empty body") << withLength("200 OK", {}) << QByteArray() << 200 << false;
    QTest::newRow("error status: the body is stored all the same")
        << withLength("404 Not Found", "<html>no such file</html>") << QByteArray("<html>no such file</html>") << 404
        << true;
    QTest::newRow("redirect on the same server: only the last body is stored")
        << QByteArray("HTTP/1.1 302 Found\r\nLocation: /moved.zip\r\nContent-Length: 13\r\n\r\nredirect page")
        << QByteArray("moved") << 200 << true;
}

void HttpDownloadTest::bodyIsStored()
{
    QFETCH(QByteArray, response);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, totalKnown);
    server_->setScript([&](const RecordedRequest& request, QTcpSocket& socket) {
        if (request.target == "/moved.zip")
            ScriptedHttpServer::replyRaw(socket, withLength("200 OK", body));
        else
            ScriptedHttpServer::replyRaw(socket, response);
    });

    download(server_->url("/result/a.zip"), destination_);

    QVERIFY2(!result_.transportError, qPrintable(result_.errorText));
    QCOMPARE(result_.httpStatus, status);
    QCOMPARE(result_.bytesWritten, body.size());
    QVERIFY(readFile(destination_) == body);
    QCOMPARE(QDir(folder_->filePath("Documents")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.zip"});
    QCOMPARE(server_->requests().first().method, QByteArray("GET"));
    QCOMPARE(server_->requests().first().target, QByteArray("/result/a.zip"));

    // Progress: fractions of the total, rising, and 1.0 only once the file is in place.
    QVERIFY(!progress_.isEmpty());
    QCOMPARE(progress_.last(), 1.0);
    for (qsizetype i = 0; i + 1 < progress_.size(); ++i) {
        QVERIFY(progress_[i] >= 0.0 && progress_[i] < 1.0);
        QVERIFY(progress_[i] <= progress_[i + 1]);
        if (!totalKnown)
            QCOMPARE(progress_[i], 0.0);
    }
}

void HttpDownloadTest::failedTransferLeavesThePreviousFile_data()
{
    QTest::addColumn<QByteArray>("response"); // "" for no server at all
    const QByteArray body = randomBytes(1 << 20);
    QTest::newRow("connection refused") << QByteArray();
    QTest::newRow("dropped mid-way") << head("200 OK", "Content-Length: " + QByteArray::number(body.size()) + "\r\n") +
                                            body.left(300000);
    QTest::newRow("error status dropped mid-way")
        << head("500 Oops", "Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body.left(3000);
    // Kept short: Qt 6.4 can stall on a chunked body cut off while it throttles the socket (kDownloadBufferBytes).
    QTest::newRow("chunked without its last chunk")
        << head("200 OK", "Transfer-Encoding: chunked\r\n") +
               ScriptedHttpServer::chunked(body.left(200000), 4096).chopped(5);
    QTest::newRow("closed without a reply") << QByteArray(" ");
}

void HttpDownloadTest::failedTransferLeavesThePreviousFile()
{
    QFETCH(QByteArray, response);
    const QString url = server_->url("/result/a.zip");
    if (response.isEmpty())
        server_.reset();
    else
        serve(response);

    download(url, destination_);

    QVERIFY(result_.transportError);
    QVERIFY(!result_.errorText.isEmpty());
    QCOMPARE(result_.httpStatus, 0);
    QCOMPARE(result_.bytesWritten, 0);
    QCOMPARE(readFile(destination_), kPrevious);
    QCOMPARE(QDir(folder_->filePath("Documents")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.zip"});
    for (double fraction : progress_)
        QVERIFY(fraction < 1.0);
}

void HttpDownloadTest::redirectToAnotherServerIsRefused()
{
    ScriptedHttpServer other;
    QVERIFY(other.listen());
    other.setScript([](const RecordedRequest&, QTcpSocket& socket) { ScriptedHttpServer::reply(socket, 200, "x"); });
    serve("HTTP/1.1 302 Found\r\nLocation: " + other.url("/evil.zip").toUtf8() + "\r\nContent-Length: 0\r\n\r\n");

    download(server_->url("/result/a.zip"), destination_);

    QVERIFY(result_.transportError);
    QCOMPARE(readFile(destination_), kPrevious);
    QCOMPARE(other.connections(), 0);
}

void HttpDownloadTest::missingFoldersAreCreated()
{
    serve(withLength("200 OK", "PK\x03\x04"));
    const QString destination = folder_->filePath("no/such/folder/temp.zip");

    download(server_->url("/result/a.zip"), destination);

    QVERIFY2(!result_.transportError, qPrintable(result_.errorText));
    QCOMPARE(readFile(destination), QByteArray("PK\x03\x04"));
}

void HttpDownloadTest::unwritableDestinationSendsNothing_data()
{
    QTest::addColumn<QString>("destination"); // relative to the test's folder
    QTest::newRow("a folder on the way is a file") << QStringLiteral("Documents/temp.zip/inner.zip");
    QTest::newRow("the destination is a folder") << QStringLiteral("Documents");
}

void HttpDownloadTest::unwritableDestinationSendsNothing()
{
    QFETCH(QString, destination);
    serve(withLength("200 OK", "PK"));

    download(server_->url("/result/a.zip"), folder_->filePath(destination));

    QVERIFY(result_.transportError);
    QVERIFY2(result_.errorText.contains(folder_->filePath("Documents")), qPrintable(result_.errorText));
    QCOMPARE(readFile(destination_), kPrevious);
    QVERIFY(nothingWasSent());
}

// The disk fills up after one megabyte: the process may not grow a file beyond that (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so writes fail with EFBIG instead of ending the process).
void HttpDownloadTest::fullDiskIsAFailure()
{
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    });
    serve(withLength("200 OK", randomBytes(4 << 20)));

    download(server_->url("/result/a.zip"), destination_);

    QVERIFY(result_.transportError);
    QVERIFY2(result_.errorText.contains(destination_), qPrintable(result_.errorText));
    QCOMPARE(result_.bytesWritten, 0);
    QCOMPARE(readFile(destination_), kPrevious);
    QCOMPARE(QDir(folder_->filePath("Documents")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.zip"});
}

void HttpDownloadTest::invalidAddressSendsNothing()
{
    download(QStringLiteral("http://127.0.0.1:%1/result/a b.zip").arg(server_->port()), destination_);

    QVERIFY(result_.transportError);
    QCOMPARE(readFile(destination_), kPrevious);
    QVERIFY(nothingWasSent());
}

QTEST_GUILESS_MAIN(HttpDownloadTest)
#include "tst_http_download.moc"
