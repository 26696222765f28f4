#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (a free port) for the adapter tests. It reads each request whole (headers
// and a Content-Length body), records it byte for byte, and hands it to a script that writes whatever reply the
// test wants: a complete one, one without Content-Length, a chunked one, or one that stops half-way.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace unplot::test {

struct RecordedRequest {
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers; // as received, in order
    QByteArray body;

    QByteArray header(const QByteArray& name) const; // the first header of that name, any case; empty if none
};

class ScriptedHttpServer : public QObject {
    Q_OBJECT
public:
    using Script = std::function<void(const RecordedRequest&, QTcpSocket&)>;

    explicit ScriptedHttpServer(QObject* parent = nullptr);

    bool listen();
    quint16 port() const { return server_.serverPort(); }
    QString url(const QString& target) const;

    // The reply to every following request; by default a 404 with an empty body.
    void setScript(Script script) { script_ = std::move(script); }
    const QList<RecordedRequest>& requests() const { return requests_; }
    int connections() const { return connections_; }

    // A complete reply (Content-Length, Connection: close), written and the connection closed.
    static void reply(QTcpSocket& socket, int status, const QByteArray& body,
                      const QByteArray& contentType = "application/json");
    // Writes raw bytes, then closes the connection once they are sent.
    static void replyRaw(QTcpSocket& socket, const QByteArray& bytes);
    static QByteArray chunked(const QByteArray& body, qsizetype chunkSize);

private:
    void accept();
    void read(QTcpSocket* socket);

    QTcpServer server_;
    Script script_;
    QList<RecordedRequest> requests_;
    int connections_ = 0;
};

} // namespace unplot::test
