// QtHttpClient::getJson against a scripted server: the body read as one JSON value (fragments allowed) whatever
// the status and content type, and transport errors only when no complete reply arrived.
#include "qthttpclient.h"
#include "scriptedhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

using unplot::JsonReply;
using unplot::QtHttpClient;
using unplot::test::RecordedRequest;
using unplot::test::ScriptedHttpServer;

namespace {

struct Outcome {
    int calls = 0;
    bool calledInsideRequest = false;
    JsonReply reply;
};

// A reply's value as compact JSON text, "(none)" when there is none: "null" and no value differ.
QByteArray describe(const std::optional<QJsonValue>& value)
{
    if (!value)
        return "(none)";
    return QJsonDocument(QJsonArray{*value}).toJson(QJsonDocument::Compact);
}

// The expected value, written as JSON text ("" when the reply has no value).
QByteArray expectedValue(const QByteArray& json)
{
    if (json.isEmpty())
        return "(none)";
    return describe(QJsonDocument::fromJson("[" + json + "]").array().at(0));
}

} // namespace

class HttpGetJsonTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void bodyIsReadAsOneJsonValue_data();
    void bodyIsReadAsOneJsonValue();
    void transportErrors_data();
    void transportErrors();
    void invalidAddressSendsNothing_data();
    void invalidAddressSendsNothing();
    void redirectOnTheSameServerIsFollowed();

private:
    // Starts the GET and waits for its one reply.
    void get(const QString& url);

    std::unique_ptr<ScriptedHttpServer> server_;
    std::unique_ptr<QtHttpClient> client_;
    Outcome outcome_;
};

void HttpGetJsonTest::init()
{
    server_ = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server_->listen());
    client_ = std::make_unique<QtHttpClient>();
    outcome_ = {};
}

void HttpGetJsonTest::cleanup()
{
    client_.reset();
    server_.reset();
}

void HttpGetJsonTest::get(const QString& url)
{
    bool inside = true;
    client_->getJson(url, [this, &inside](const JsonReply& reply) {
        ++outcome_.calls;
        outcome_.calledInsideRequest = outcome_.calledInsideRequest || inside;
        outcome_.reply = reply;
    });
    inside = false;
    QTRY_COMPARE(outcome_.calls, 1);
    QVERIFY(!outcome_.calledInsideRequest);
}

void HttpGetJsonTest::bodyIsReadAsOneJsonValue_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("expected"); // JSON text of the value, "" for no value

    QTest::newRow("object") << 200 << QByteArray("application/json") << QByteArray(R"({"num":3,"status":10})")
                            << QByteArray(R"({"num":3,"status":10})");
    QTest::newRow("array") << 200 << QByteArray("application/json") << QByteArray(R"([1,"a",null])")
                           << QByteArray(R"([1,"a",null])");
    QTest::newRow("bare number") << 200 << QByteArray("application/json") << QByteArray("42") << QByteArray("42");
    QTest::newRow("negative exponent number")
        << 200 << QByteArray("application/json") << QByteArray("-1.5e3") << QByteArray("-1500");
    QTest::newRow("bare string") << 200 << QByteArray("application/json") << QByteArray(R"("queue")")
                                 << QByteArray(R"("queue")");
    QTest::newRow("true") << 200 << QByteArray("application/json") << QByteArray("true") << QByteArray("true");
    QTest::newRow("false") << 200 << QByteArray("application/json") << QByteArray("false") << QByteArray("false");
    QTest::newRow("null is a value") << 200 << QByteArray("application/json") << QByteArray("null")
                                     << QByteArray("null");
    QTest::newRow("white space around") << 200 << QByteArray("application/json") << QByteArray(" \r\n\t{\"a\":1} \n")
                                        << QByteArray(R"({"a":1})");
    QTest::newRow("JSON sent as text/html")
        << 200 << QByteArray("text/html") << QByteArray(R"({"result":"10"})") << QByteArray(R"({"result":"10"})");
    QTest::newRow("JSON without content type") << 200 << QByteArray() << QByteArray("7") << QByteArray("7");
    QTest::newRow("status 500 with JSON")
        << 500 << QByteArray("application/json") << QByteArray(R"({"num":-2})") << QByteArray(R"({"num":-2})");
    QTest::newRow("status 404 with JSON")
        << 404 << QByteArray("application/json") << QByteArray(R"("gone")") << QByteArray(R"("gone")");
    QTest::newRow("status 400 with JSON")
        << 400 << QByteArray("application/json") << QByteArray("[]") << QByteArray("[]");
    QTest::newRow("status 401 with JSON")
        << 401 << QByteArray("application/json") << QByteArray("1") << QByteArray("1");
    QTest::newRow("status 503 with JSON")
        << 503 << QByteArray("application/json") << QByteArray("{}") << QByteArray("{}");

    QTest::newRow("empty body") << 200 << QByteArray("application/json") << QByteArray() << QByteArray();
    QTest::newRow("only white space") << 200 << QByteArray("application/json") << QByteArray(" \n") << QByteArray();
    QTest::newRow("truncated object") << 200 << QByteArray("application/json") << QByteArray(R"({"num":)")
                                      << QByteArray();
    QTest::newRow("two values") << 200 << QByteArray("application/json") << QByteArray("1 2") << QByteArray();
    QTest::newRow("two comma-separated values")
        << 200 << QByteArray("application/json") << QByteArray("1,2") << QByteArray();
    QTest::newRow("bracket injection") << 200 << QByteArray("application/json") << QByteArray("1],[2") << QByteArray();
    QTest::newRow("closing bracket") << 200 << QByteArray("application/json") << QByteArray("]") << QByteArray();
    QTest::newRow("trailing garbage") << 200 << QByteArray("application/json") << QByteArray("{} x") << QByteArray();
    QTest::newRow("single quotes") << 200 << QByteArray("application/json") << QByteArray("'a'") << QByteArray();
    QTest::newRow("html page") << 200 << QByteArray("text/html")
                               << QByteArray("<!DOCTYPE html><html><body>Busy</body></html>") << QByteArray();
    QTest::newRow("status 500 with html")
        << 500 << QByteArray("text/html") << QByteArray("<html><body>Internal error</body></html>") << QByteArray();
}

void HttpGetJsonTest::bodyIsReadAsOneJsonValue()
{
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, expected);
    server_->setScript([&](const RecordedRequest&, QTcpSocket& socket) {
        ScriptedHttpServer::reply(socket, status, body, contentType);
    });

    get(server_->url("/include/ajax.aspx?op=GetConvertQueue&fileId=a%26b"));

    QCOMPARE(server_->requests().size(), 1);
    const RecordedRequest& request = server_->requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/include/ajax.aspx?op=GetConvertQueue&fileId=a%26b"));
    QVERIFY(request.body.isEmpty());
    QVERIFY(!outcome_.reply.transportError);
    QCOMPARE(outcome_.reply.httpStatus, status);
    QCOMPARE(describe(outcome_.reply.value), expectedValue(expected));
}

void HttpGetJsonTest::transportErrors_data()
{
    QTest::addColumn<QByteArray>("response"); // raw bytes, then the server closes; "" for no server at all
    QTest::newRow("connection refused") << QByteArray();
    QTest::newRow("closed without a reply") << QByteArray(" ");
    QTest::newRow("body shorter than Content-Length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 40\r\n\r\n{\"num\":1}");
    QTest::newRow("status 500 cut short") << QByteArray("HTTP/1.1 500 Oops\r\nContent-Length: 40\r\n\r\n{\"num\":1}");
    QTest::newRow("chunked body without its last chunk")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\n{\"num\":1}\r\n");
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n");
}

void HttpGetJsonTest::transportErrors()
{
    QFETCH(QByteArray, response);
    QString url = server_->url("/queue");
    if (response.isEmpty())
        server_.reset(); // nobody listens on that port any more
    else
        server_->setScript(
            [&](const RecordedRequest&, QTcpSocket& socket) { ScriptedHttpServer::replyRaw(socket, response); });

    get(url);

    QVERIFY(outcome_.reply.transportError);
    QVERIFY(!outcome_.reply.errorText.isEmpty());
    QCOMPARE(outcome_.reply.httpStatus, 0);
    QVERIFY(!outcome_.reply.value.has_value());
}

void HttpGetJsonTest::invalidAddressSendsNothing_data()
{
    QTest::addColumn<QString>("url"); // %1 is the server's port
    QTest::newRow("space in the path") << QStringLiteral("http://127.0.0.1:%1/queue?fileId=a b");
    QTest::newRow("no host") << QStringLiteral("http:///queue");
    QTest::newRow("host:port without scheme") << QStringLiteral("127.0.0.1:%1/queue");
    QTest::newRow("empty") << QString();
    QTest::newRow("bad percent escape") << QStringLiteral("http://127.0.0.1:%1/queue?fileId=%zz");
}

void HttpGetJsonTest::invalidAddressSendsNothing()
{
    QFETCH(QString, url);
    get(url.contains(QLatin1String("%1")) ? url.arg(server_->port()) : url);

    QVERIFY(outcome_.reply.transportError);
    QVERIFY(!outcome_.reply.value.has_value());
    // A request sent after it reaches the server first: nothing went out for the invalid address.
    outcome_ = {};
    get(server_->url("/after"));
    QCOMPARE(server_->connections(), 1);
    QCOMPARE(server_->requests().first().target, QByteArray("/after"));
}

void HttpGetJsonTest::redirectOnTheSameServerIsFollowed()
{
    server_->setScript([](const RecordedRequest& request, QTcpSocket& socket) {
        if (request.target == "/old")
            ScriptedHttpServer::replyRaw(socket, "HTTP/1.1 302 Found\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n");
        else
            ScriptedHttpServer::reply(socket, 200, R"({"num":0})");
    });

    get(server_->url("/old"));

    QCOMPARE(server_->requests().size(), 2);
    QCOMPARE(server_->requests().last().target, QByteArray("/new"));
    QCOMPARE(outcome_.reply.httpStatus, 200);
    QCOMPARE(describe(outcome_.reply.value), expectedValue(R"({"num":0})"));
}

QTEST_GUILESS_MAIN(HttpGetJsonTest)
#include "tst_http_getjson.moc"
