// QtHttpClient against a scripted server on 127.0.0.1: the multipart form as the server received it, replies read
// as JSON whatever their status, downloads stored whole or not at all, and every way a transfer can fail.
#include "qthttpclient.h"
#include "scriptedhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace unplot;
using namespace unplot::test;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray head(const QByteArray& status, const QByteArray& headers = {})
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

// A reply's value as compact JSON text, "" when there is none ("null" is a value).
QByteArray describe(const std::optional<QJsonValue>& value)
{
    return value ? QJsonDocument(QJsonArray{*value}).toJson(QJsonDocument::Compact).chopped(1).mid(1) : "";
}

const QByteArray kPrevious = "the archive of the previous job";

} // namespace

class QtHttpClientTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<QtHttpClient> client;
    QString destination; // Documents/temp.zip, holding kPrevious at the start of each test
    // What the last request delivered.
    int calls = 0;
    std::optional<QString> encodingError;
    JsonReply json;
    DownloadResult downloaded;
    QList<double> progress;

    // Runs one request ("get", "upload" or "download") and waits for its one completion, which must come from the
    // event loop, not from inside the call.
    void run(const QString& op, const QString& url, std::vector<FormPart> parts = {})
    {
        std::tie(calls, encodingError, json, downloaded, progress) =
            std::tuple(0, std::nullopt, JsonReply(), DownloadResult(), QList<double>());
        bool inside = true;
        const auto done = [this, &inside] {
            ++calls;
            QVERIFY(!inside);
        };
        if (op == "get")
            client->getJson(url, [&, done](const JsonReply& reply) { done(), json = reply; });
        else if (op == "upload")
            client->upload(
                url, parts.empty() ? form("%PDF", true, "-1") : std::move(parts),
                [&, done](const QString& error) { done(), encodingError = error; },
                [&, done](const JsonReply& reply) { done(), json = reply; });
        else
            client->download(
                url, destination, [&](double fraction) { progress << (inside ? -1.0 : fraction); },
                [&, done](const DownloadResult& result) { done(), downloaded = result; });
        inside = false;
        QVERIFY(QTest::qWaitFor([this] { return calls > 0; }, 60'000));
        QCOMPARE(calls, 1);
    }

    std::vector<FormPart> form(const QByteArray& pdf, bool fromDisk, const QString& pages)
    {
        FormPart file{"convertData", "convert.pdf", "application/pdf", pdf, {}};
        if (fromDisk) {
            file.filePath = folder->filePath("drawing with spaces.pdf");
            QFile out(file.filePath);
            if (!out.open(QIODevice::WriteOnly) || out.write(pdf) != pdf.size())
                qFatal("cannot write the input file");
            file.data.clear();
        }
        return {file, {"drp_Type", {}, {}, "1", {}}, {"txt_Page", {}, {}, pages.toUtf8(), {}},
                {"drp_Version", {}, {}, "18", {}}};
    }

    void serve(const QByteArray& response)
    {
        server->setScript([response](const RecordedRequest& request, QTcpSocket& socket) {
            if (request.target == "/probe")
                ScriptedHttpServer::reply(socket, 200, "1");
            else
                ScriptedHttpServer::replyRaw(socket, response);
        });
    }

    // A GET sent after a request that should have sent nothing reaches the server first.
    bool nothingWasSent()
    {
        bool answered = false;
        client->getJson(server->url("/probe"), [&answered](const JsonReply&) { answered = true; });
        return QTest::qWaitFor([&answered] { return answered; }) && server->connections() == 1 &&
               server->requests().first().target == "/probe";
    }

    // The download left the previous temp.zip as it was, and nothing beside it.
    void previousFileKept()
    {
        QCOMPARE(readFile(destination), kPrevious);
        QCOMPARE(QDir(folder->filePath("Documents")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.zip"});
    }

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(folder->isValid() && server->listen());
        client = std::make_unique<QtHttpClient>();
        destination = folder->filePath("Documents/temp.zip");
        QDir().mkpath(folder->filePath("Documents"));
        QFile previous(destination);
        QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write(kPrevious) == kPrevious.size());
    }
    void cleanup()
    {
        client.reset();
        server.reset();
        folder.reset();
    }

    void uploadFormAsReceived_data()
    {
        // A PDF that tries to confuse a parser: CR, LF and CRLF, "--", something like Qt's boundary, every byte.
        QByteArray tricky = "%PDF-1.4\r\n%\xE2\xE3\r\n1 0 obj\n<< >>\rendobj\r\n--\r\n-- \r\n\r\n--boundary_.oOo._";
        for (int i = 0; i < 256; ++i)
            tricky.append(char(i));
        tricky += randomBytes(96 * 1024) + "\r\n--\r\n%%EOF\r\n";
        QTest::addColumn<QByteArray>("pdf");
        QTest::addColumn<bool>("fromDisk");
        QTest::addColumn<QString>("pages");
        QTest::newRow("binary PDF streamed from disk") << tricky << true << "-1";
        QTest::newRow("binary PDF from memory") << tricky << false << "1,3-5";
        QTest::newRow("empty file") << QByteArray() << true << "-1";
        QTest::newRow("page list as typed") << QByteArray("%PDF") << true << " 2 ,\"7\"\r\n--x\u00fc\u6f22 ";
    }
    void uploadFormAsReceived()
    {
        QFETCH(QByteArray, pdf);
        QFETCH(bool, fromDisk);
        QFETCH(QString, pages);
        server->setScript([](const RecordedRequest&, QTcpSocket& socket) {
            ScriptedHttpServer::reply(socket, 200, R"({"result":"10","fileId":"F1"})");
        });
        run("upload", server->url("/include/ajax.aspx?op=mac_upload"), form(pdf, fromDisk, pages));

        QCOMPARE(server->requests().size(), 1);
        const RecordedRequest& request = server->requests().first();
        QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /include/ajax.aspx?op=mac_upload"));
        QCOMPARE(request.header("Content-Length").toLongLong(), request.body.size());
        const QSet<QByteArray> qtHeaders{"host",       "content-type",    "content-length",  "mime-version",
                                         "connection", "accept-encoding", "accept-language", "user-agent"};
        for (const auto& header : request.headers)
            QVERIFY2(qtHeaders.contains(header.first.toLower()), header.first);
        const auto parts = readForm(request);
        QVERIFY2(parts && parts->size() == 4, request.body.left(300));
        const QList<QByteArray> names{"convertData", "drp_Type", "txt_Page", "drp_Version"};
        const QList<QByteArray> values{pdf, "1", pages.toUtf8(), "18"};
        for (int i = 0; i < 4; ++i) {
            Headers expected{{"Content-Disposition", "form-data; name=\"" + names[i] + '"'}};
            if (i == 0) // a content type on the file only
                expected = {{"Content-Disposition", R"(form-data; name="convertData"; filename="convert.pdf")"},
                            {"Content-Type", "application/pdf"}};
            QCOMPARE(parts->at(i).headers, expected);
            QVERIFY(parts->at(i).data == values[i]);
        }
        QVERIFY(!json.transportError);
        QCOMPARE(json.httpStatus, 200);
        QCOMPARE(describe(json.value), QByteArray(R"({"fileId":"F1","result":"10"})"));
    }

    void jsonReply_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("value"); // compact JSON, "" for none
        const auto row = [](const char* name, int status, const QByteArray& body, const QByteArray& value,
                            const char* op = "get") { QTest::newRow(name) << op << status << body << value; };
        row("object", 200, R"({"num":3,"status":10})", R"({"num":3,"status":10})");
        row("array", 200, R"([1,"a",null])", R"([1,"a",null])");
        row("bare number", 200, "-1.5e3", "-1500");
        row("bare string", 200, R"("queue")", R"("queue")");
        row("null is a value", 200, "null", "null");
        row("white space around", 200, " \r\n\t{\"a\":1} \n", R"({"a":1})");
        row("status 400 with JSON", 400, "[]", "[]");
        row("status 401 with JSON", 401, "1", "1");
        row("status 404 with JSON", 404, R"("gone")", R"("gone")");
        row("status 503 with JSON", 503, "{}", "{}");
        row("upload reply with status 500", 500, R"({"result":"10"})", R"({"result":"10"})", "upload");
        row("empty body", 200, "", "");
        row("truncated object", 200, R"({"num":)", "");
        row("two values", 200, "1 2", "");
        row("two values with a comma", 200, "1,2", "");
        row("bracket injection", 200, "1],[2", "");
        row("closing bracket", 200, "]", "");
        row("single quotes", 200, "'a'", "");
        row("status 500 with a page", 500, "<html><body>Internal error</body></html>", "");
    }
    void jsonReply()
    {
        QFETCH(QString, op);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        server->setScript([&](const RecordedRequest&, QTcpSocket& socket) {
            ScriptedHttpServer::reply(socket, status, body, "text/html");
        });
        run(op, server->url("/include/ajax.aspx?op=GetConvertQueue&fileId=a%26b"));
        const RecordedRequest& request = server->requests().first();
        if (op == "get") {
            QCOMPARE(request.method + ' ' + request.target, QByteArray("GET /include/ajax.aspx?op=GetConvertQueue&fileId=a%26b"));
            QVERIFY(request.body.isEmpty());
        }
        QVERIFY(!json.transportError);
        QCOMPARE(json.httpStatus, status);
        QTEST(describe(json.value), "value");
    }

    void transportErrors_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("response"); // raw bytes, then the server closes; "" for no server at all
        const QByteArray body = randomBytes(1 << 20);
        const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        for (const char* op : {"get", "upload", "download"}) {
            QTest::addRow("%s: connection refused", op) << op << QByteArray();
            QTest::addRow("%s: closed without a reply", op) << op << QByteArray(" ");
            QTest::addRow("%s: body cut short", op) << op << head("200 OK", length) + body.left(300000);
            QTest::addRow("%s: error status cut short", op) << op << head("500 Oops", length) + body.left(3000);
            // Kept short: Qt 6.4 can stall on a chunked body cut off while it throttles the socket.
            QTest::addRow("%s: chunked without its last chunk", op)
                << op << head("200 OK", "Transfer-Encoding: chunked\r\n") +
                             ScriptedHttpServer::chunked(body.left(200000), 4096).chopped(5);
        }
        QTest::newRow("get: not HTTP") << "get" << QByteArray("SSH-2.0-OpenSSH_9.2\r\n");
    }
    void transportErrors()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, response);
        const QString url = server->url("/result/a.zip");
        if (response.isEmpty())
            server.reset(); // nobody listens on that port any more
        else
            serve(response);
        run(op, url);
        const bool transportError = op == "download" ? downloaded.transportError : json.transportError;
        const QString errorText = op == "download" ? downloaded.errorText : json.errorText;
        QVERIFY(transportError && !errorText.isEmpty());
        QCOMPARE(json.httpStatus + downloaded.httpStatus + downloaded.bytesWritten, qint64(0));
        QVERIFY(!json.value);
        previousFileKept();
        for (double fraction : progress)
            QVERIFY(fraction < 1.0);
    }

    void invalidAddressSendsNothing_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("url"); // %1 is the server's port
        for (const char* op : {"get", "upload", "download"})
            QTest::addRow("%s: space in the path", op) << op << "http://127.0.0.1:%1/queue?fileId=a b";
        QTest::newRow("no host") << "get" << "http:///queue";
        QTest::newRow("host:port without scheme") << "get" << "127.0.0.1:%1/queue";
        QTest::newRow("empty") << "get" << "";
        QTest::newRow("bad percent escape") << "download" << "http://127.0.0.1:%1/queue?fileId=%zz";
    }
    void invalidAddressSendsNothing()
    {
        QFETCH(QString, op);
        QFETCH(QString, url);
        run(op, url.contains("%1") ? url.arg(server->port()) : url);
        QVERIFY(json.transportError || downloaded.transportError);
        QVERIFY(!json.value && !encodingError);
        QVERIFY(nothingWasSent());
        previousFileKept();
    }

    void unreadableFileIsAnEncodingFailure()
    {
        for (const QString& path : {folder->filePath("missing.pdf"), folder->path()}) {
            std::vector<FormPart> parts = form("%PDF", true, "-1");
            parts[0].filePath = path;
            run("upload", server->url("/include/ajax.aspx?op=mac_upload"), std::move(parts));
            QVERIFY2(encodingError && encodingError->contains(path), qPrintable(encodingError.value_or("none")));
        }
        QVERIFY(nothingWasSent());
    }

    void redirects()
    {
        ScriptedHttpServer other;
        QVERIFY(other.listen());
        server->setScript([&other](const RecordedRequest& request, QTcpSocket& socket) {
            const QByteArray location = request.target == "/away" ? other.url("/evil.zip").toUtf8() : "/moved";
            if (request.target == "/moved")
                ScriptedHttpServer::reply(socket, 200, "7");
            else
                ScriptedHttpServer::replyRaw(socket, "HTTP/1.1 302 Found\r\nLocation: " + location +
                                                         "\r\nContent-Length: 13\r\n\r\nredirect page");
        });
        run("get", server->url("/old"));
        QCOMPARE(describe(json.value), QByteArray("7"));
        run("download", server->url("/old"));
        QCOMPARE(readFile(destination), QByteArray("7")); // only the last body is stored
        QCOMPARE(server->requests().size(), 4);
        run("download", server->url("/away")); // another server: refused
        QVERIFY(downloaded.transportError);
        QCOMPARE(other.connections(), 0);
        QCOMPARE(readFile(destination), QByteArray("7"));
    }

    void downloadStoresTheBody_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QByteArray large = randomBytes(3 << 20);
        QTest::newRow("with Content-Length") << withLength("200 OK", large) << large << 200;
        QTest::newRow("without Content-Length") << head("200 OK") + large << large << 200;
        QTest::newRow("chunked") << head("200 OK", "Transfer-Encoding: chunked\r\n") +
                                        ScriptedHttpServer::chunked(large, 70000)
                                 << large << 200;
        QTest::newRow("empty body") << withLength("200 OK", {}) << QByteArray() << 200;
        QTest::newRow("error status: the body is stored all the same")
            << withLength("404 Not Found", "<html>no such file</html>") << QByteArray("<html>no such file</html>") << 404;
    }
    void downloadStoresTheBody()
    {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, body);
        serve(response);
        run("download", server->url("/result/a.zip"));
        QVERIFY2(!downloaded.transportError, qPrintable(downloaded.errorText));
        QTEST(downloaded.httpStatus, "status");
        QCOMPARE(downloaded.bytesWritten, body.size());
        QVERIFY(readFile(destination) == body);
        QCOMPARE(QDir(folder->filePath("Documents")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.zip"});
        QCOMPARE(server->requests().first().method, QByteArray("GET"));
        // Fractions of the total when it is known (else 0), each reported once, and 1.0 once the file is in place.
        const bool totalKnown = response.contains("Content-Length") && !body.isEmpty();
        QVERIFY(!progress.isEmpty() && progress.last() == 1.0);
        for (qsizetype i = 0; i + 1 < progress.size(); ++i) {
            QVERIFY(progress[i] >= 0.0 && progress[i] < progress[i + 1]);
            QVERIFY(totalKnown || progress[i] == 0.0);
        }
    }

    void downloadDestinations()
    {
        serve(withLength("200 OK", "PK\x03\x04"));
        destination = folder->filePath("no/such/folder/temp.zip"); // missing folders are made
        run("download", server->url("/result/a.zip"));
        QCOMPARE(readFile(destination), QByteArray("PK\x03\x04"));
        for (const char* unwritable : {"Documents/temp.zip/inner.zip", "Documents"}) {
            destination = folder->filePath(unwritable);
            run("download", server->url("/result/a.zip"));
            QVERIFY2(downloaded.transportError && downloaded.errorText.contains(folder->filePath("Documents")),
                     qPrintable(downloaded.errorText));
        }
        QCOMPARE(server->requests().size(), 1); // nothing sent for an unwritable destination
    }

    void fullDiskIsAFailure()
    {
        const FileSizeLimit fullAfter(1 << 20);
        serve(withLength("200 OK", randomBytes(4 << 20)));
        run("download", server->url("/result/a.zip"));
        QCOMPARE(downloaded.errorText, QStringLiteral("Cannot write \"%1\": %2").arg(destination, std::strerror(EFBIG)));
        QVERIFY(downloaded.transportError && downloaded.bytesWritten == 0);
        previousFileKept();
    }

    // A reply of 100 MB is given up at 1 MiB, as no JSON value, although it is one.
    void hugeJsonReplyIsGivenUp()
    {
        server->setScript([](const RecordedRequest&, QTcpSocket& socket) {
            const qint64 size = 100 << 20;
            ScriptedHttpServer::stream(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size + 3) +
                                                   "\r\n\r\n\"",
                                       size, 'x', "\"\n");
        });
        run("get", server->url("/queue"));
        QVERIFY(!json.transportError && !json.value);
        QCOMPARE(json.errorText, QStringLiteral("The reply is larger than 1048576 bytes."));
    }

    // A download whose body never ends runs until it is cancelled.
    void endlessDownloadIsCancelled()
    {
        server->setScript([](const RecordedRequest&, QTcpSocket& socket) {
            ScriptedHttpServer::stream(socket, head("200 OK"), std::numeric_limits<qint64>::max());
        });
        QTimer::singleShot(300, [this] { client->cancelDownloads(); });
        run("download", server->url("/result/a.zip"));
        QVERIFY(downloaded.transportError && !progress.isEmpty());
        QCOMPARE(downloaded.errorText, QStringLiteral("The download was cancelled."));
        previousFileKept();
    }

    // A download on which nothing arrives any more is given up after the stall time-out.
    void stalledDownloadIsGivenUp()
    {
        client = std::make_unique<QtHttpClient>(std::chrono::milliseconds(300));
        server->setScript([](const RecordedRequest&, QTcpSocket& socket) {
            ScriptedHttpServer::stream(socket, head("200 OK", "Content-Length: 5000\r\n") + "PK\x03\x04", -1);
        });
        run("download", server->url("/result/a.zip"));
        QVERIFY(downloaded.transportError);
        QCOMPARE(downloaded.errorText, QStringLiteral("Nothing arrived for 0.3 s: the transfer was given up."));
        previousFileKept();
    }
};

QTEST_GUILESS_MAIN(QtHttpClientTest)
#include "tst_qthttpclient.moc"
