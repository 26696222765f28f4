// QtHttpClient::upload against a scripted server: the multipart body as the server received it, read back by an
// independent parser (werkzeug, through /usr/bin/python3), part by part and byte for byte.
#include "qthttpclient.h"
#include "scriptedhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using unplot::FormPart;
using unplot::JsonReply;
using unplot::QtHttpClient;
using unplot::test::RecordedRequest;
using unplot::test::ScriptedHttpServer;

namespace {

// A PDF-like payload that tries to confuse a parser: CR, LF and CRLF, "--", something that looks like Qt's
// boundary, every byte value, and a CRLF at the very end.
QByteArray trickyPdf()
{
    QByteArray pdf = "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n1 0 obj\n<< >>\rendobj\r\n--\r\n-- \r\n\r\n--boundary_.oOo._";
    for (int i = 0; i < 256; ++i)
        pdf.append(static_cast<char>(i));
    QRandomGenerator random(20260601);
    QByteArray noise(96 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    return pdf + noise + "\r\n--\r\n%%EOF\r\n";
}

struct ParsedPart {
    QString kind; // "file" or "field"
    QString name;
    QString fileName;
    QList<QPair<QString, QString>> headers;
    QByteArray data;
};

// Runs the independent parser on a received body; an empty list and `skip` set when it cannot run here.
QList<ParsedPart> parseForm(const RecordedRequest& request, const QString& folder, QString& failure, bool& skip)
{
    const QString bodyFile = folder + "/body.bin";
    QFile out(bodyFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(request.body) != request.body.size()) {
        failure = "cannot store the body";
        return {};
    }
    out.close();
    if (!QFileInfo::exists(UNPLOT_SYSTEM_PYTHON)) {
        skip = true;
        failure = UNPLOT_SYSTEM_PYTHON " is not installed";
        return {};
    }
    QProcess parser;
    parser.start(UNPLOT_SYSTEM_PYTHON,
                 {PARSE_MULTIPART_SCRIPT, QString::fromLatin1(request.header("Content-Type")), bodyFile});
    if (!parser.waitForFinished(60'000) || parser.exitStatus() != QProcess::NormalExit || parser.exitCode() != 0) {
        skip = parser.exitCode() == 3;
        failure = QString::fromUtf8(parser.readAllStandardError());
        return {};
    }
    QList<ParsedPart> parts;
    for (const QJsonValue& value : QJsonDocument::fromJson(parser.readAllStandardOutput()).array()) {
        const QJsonObject object = value.toObject();
        ParsedPart part{object["kind"].toString(),
                        object["name"].toString(),
                        object["filename"].toString(),
                        {},
                        QByteArray::fromBase64(object["data"].toString().toLatin1())};
        for (const QJsonValue& header : object["headers"].toArray())
            part.headers.append({header[0].toString(), header[1].toString()});
        parts.append(part);
    }
    return parts;
}

} // namespace

class HttpUploadTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formAsReceived_data();
    void formAsReceived();
    void replyIsReadAsJsonWhateverTheStatus();
    void unreadableFileIsAnEncodingFailure_data();
    void unreadableFileIsAnEncodingFailure();
    void invalidAddressSendsNothing();
    void refusedConnectionIsATransportError();

private:
    std::vector<FormPart> form(const QByteArray& pdf, bool fromDisk, const QString& pages);
    // Starts the upload and waits for its one callback (encoding failure or reply).
    void upload(const QString& url, std::vector<FormPart> parts);
    // A GET sent after an upload that should have sent nothing reaches the server first: true if it did.
    bool nothingWasSent();

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<ScriptedHttpServer> server_;
    std::unique_ptr<QtHttpClient> client_;
    int calls_ = 0;
    bool calledInsideRequest_ = false;
    std::optional<QString> encodingError_;
    std::optional<JsonReply> reply_;
};

void HttpUploadTest::init()
{
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    server_ = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server_->listen());
    server_->setScript([](const RecordedRequest&, QTcpSocket& socket) {
        ScriptedHttpServer::reply(socket, 200, R"({"result":"10","fileId":"F1"})");
    });
    client_ = std::make_unique<QtHttpClient>();
    calls_ = 0;
    calledInsideRequest_ = false;
    encodingError_.reset();
    reply_.reset();
}

void HttpUploadTest::cleanup()
{
    client_.reset();
    server_.reset();
    folder_.reset();
}

std::vector<FormPart> HttpUploadTest::form(const QByteArray& pdf, bool fromDisk, const QString& pages)
{
    FormPart file{"convertData", "convert.pdf", "application/pdf", {}, {}};
    if (fromDisk) {
        file.filePath = folder_->filePath("drawing with spaces.pdf");
        QFile out(file.filePath);
        if (!out.open(QIODevice::WriteOnly) || out.write(pdf) != pdf.size())
            qFatal("cannot write the input file");
    } else {
        file.data = pdf;
    }
    return {file,
            {"drp_Type", {}, {}, "1", {}},
            {"txt_Page", {}, {}, pages.toUtf8(), {}},
            {"drp_Version", {}, {}, "18", {}}};
}

void HttpUploadTest::upload(const QString& url, std::vector<FormPart> parts)
{
    bool inside = true;
    client_->upload(
        url, std::move(parts),
        [this, &inside](const QString& error) {
            ++calls_;
            calledInsideRequest_ = calledInsideRequest_ || inside;
            encodingError_ = error;
        },
        [this, &inside](const JsonReply& reply) {
            ++calls_;
            calledInsideRequest_ = calledInsideRequest_ || inside;
            reply_ = reply;
        });
    inside = false;
    QTRY_COMPARE(calls_, 1);
    QVERIFY(!calledInsideRequest_);
}

bool HttpUploadTest::nothingWasSent()
{
    bool answered = false;
    client_->getJson(server_->url("/probe"), [&answered](const JsonReply&) { answered = true; });
    if (!QTest::qWaitFor([&answered] { return answered; }))
        return false;
    return server_->connections() == 1 && server_->requests().first().target == "/probe";
}

void HttpUploadTest::formAsReceived_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<bool>("fromDisk");
    QTest::addColumn<QString>("pages");
    QTest::newRow("binary PDF streamed from disk") << trickyPdf() << true << QStringLiteral("-1");
    QTest::newRow("binary PDF from memory") << trickyPdf() << false << QStringLiteral("1,3-5");
    QTest::newRow("empty file") << QByteArray() << true << QStringLiteral("-1");
    QTest::newRow("page list as typed") << QByteArray("%PDF") << true
                                        << QStringLiteral(" 2 ,\"7\"\r\n--x\u00fc\u6f22 ");
}

void HttpUploadTest::formAsReceived()
{
    QFETCH(QByteArray, pdf);
    QFETCH(bool, fromDisk);
    QFETCH(QString, pages);

    upload(server_->url("/include/ajax.aspx?op=mac_upload"), form(pdf, fromDisk, pages));

    QVERIFY(!encodingError_);
    QCOMPARE(server_->requests().size(), 1);
    const RecordedRequest& request = server_->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/include/ajax.aspx?op=mac_upload"));
    QCOMPARE(request.header("Content-Length").toLongLong(), request.body.size());
    QVERIFY2(request.header("Content-Type").startsWith("multipart/form-data; boundary="),
             request.header("Content-Type"));
    const QSet<QByteArray> qtHeaders{"host",       "content-type",    "content-length",  "mime-version",
                                     "connection", "accept-encoding", "accept-language", "user-agent"};
    for (const auto& header : request.headers)
        QVERIFY2(qtHeaders.contains(header.first.toLower()), header.first);

    QString failure;
    bool skip = false;
    const QList<ParsedPart> parts = parseForm(request, folder_->path(), failure, skip);
    if (skip)
        QSKIP(qPrintable("the multipart parser cannot run: " + failure));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(parts.size(), 4);

    QCOMPARE(parts[0].kind, QStringLiteral("file"));
    QCOMPARE(parts[0].name, QStringLiteral("convertData"));
    QCOMPARE(parts[0].fileName, QStringLiteral("convert.pdf"));
    const QList<QPair<QString, QString>> fileHeaders{
        {"Content-Disposition", R"(form-data; name="convertData"; filename="convert.pdf")"},
        {"Content-Type", "application/pdf"}};
    QCOMPARE(parts[0].headers, fileHeaders);
    QCOMPARE(parts[0].data.size(), pdf.size());
    QVERIFY(parts[0].data == pdf);

    const QStringList names{"drp_Type", "txt_Page", "drp_Version"};
    const QList<QByteArray> values{"1", pages.toUtf8(), "18"};
    for (int i = 1; i < 4; ++i) {
        QCOMPARE(parts[i].kind, QStringLiteral("field"));
        QCOMPARE(parts[i].name, names[i - 1]);
        const QList<QPair<QString, QString>> fieldHeaders{
            {"Content-Disposition", QStringLiteral("form-data; name=\"%1\"").arg(names[i - 1])}};
        QCOMPARE(parts[i].headers, fieldHeaders); // no content type on plain fields
        QCOMPARE(parts[i].data, values[i - 1]);
    }

    QVERIFY(reply_ && !reply_->transportError);
    QCOMPARE(reply_->httpStatus, 200);
    QCOMPARE(reply_->value, std::optional<QJsonValue>(QJsonObject{{"result", "10"}, {"fileId", "F1"}}));
}

void HttpUploadTest::replyIsReadAsJsonWhateverTheStatus()
{
    server_->setScript([](const RecordedRequest&, QTcpSocket& socket) {
        ScriptedHttpServer::reply(socket, 500, R"({"result":"10","fileId":"late"})", "text/html");
    });
    upload(server_->url("/include/ajax.aspx?op=mac_upload"), form("%PDF", true, "-1"));

    QVERIFY(reply_ && !reply_->transportError);
    QCOMPARE(reply_->httpStatus, 500);
    QCOMPARE(reply_->value, std::optional<QJsonValue>(QJsonObject{{"result", "10"}, {"fileId", "late"}}));
}

void HttpUploadTest::unreadableFileIsAnEncodingFailure_data()
{
    QTest::addColumn<QString>("path"); // relative to the test's folder
    QTest::newRow("missing file") << QStringLiteral("missing.pdf");
    QTest::newRow("a folder") << QString();
}

void HttpUploadTest::unreadableFileIsAnEncodingFailure()
{
    QFETCH(QString, path);
    std::vector<FormPart> parts = form("%PDF", true, "-1");
    parts[0].filePath = folder_->filePath(path);

    upload(server_->url("/include/ajax.aspx?op=mac_upload"), std::move(parts));

    QVERIFY(!reply_);
    QVERIFY(encodingError_);
    QVERIFY2(encodingError_->contains(folder_->filePath(path)), qPrintable(*encodingError_));
    QVERIFY(nothingWasSent());
}

void HttpUploadTest::invalidAddressSendsNothing()
{
    upload(QStringLiteral("http://127.0.0.1:%1/include/ajax.aspx?op=mac upload").arg(server_->port()),
           form("%PDF", true, "-1"));

    QVERIFY(!encodingError_);
    QVERIFY(reply_ && reply_->transportError);
    QVERIFY(!reply_->value);
    QVERIFY(nothingWasSent());
}

void HttpUploadTest::refusedConnectionIsATransportError()
{
    const QString url = server_->url("/include/ajax.aspx?op=mac_upload");
    server_.reset();
    upload(url, form(trickyPdf(), true, "-1"));

    QVERIFY(reply_ && reply_->transportError);
    QVERIFY(!reply_->errorText.isEmpty());
    QCOMPARE(reply_->httpStatus, 0);
    QVERIFY(!reply_->value);
}

QTEST_GUILESS_MAIN(HttpUploadTest)
#include "tst_http_upload.moc"
