#include "scriptedhttpserver.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace unplot::test {

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

ScriptedHttpServer::ScriptedHttpServer(QObject* parent) : QObject(parent)
{
    script_ = [](const RecordedRequest&, QTcpSocket& socket) { reply(socket, 404, {}, "text/plain"); };
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedHttpServer::accept);
}

bool ScriptedHttpServer::listen()
{
    return server_.listen(QHostAddress::LocalHost, 0);
}

QString ScriptedHttpServer::url(const QString& target) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(target);
}

void ScriptedHttpServer::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections_;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

// Bytes are kept on the socket until the request is complete; one request per connection.
void ScriptedHttpServer::read(QTcpSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    if (socket->property("answered").toBool())
        return;
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon), lines[i].mid(colon + 1).trimmed()});
    }
    const qsizetype length = request.header("Content-Length").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    socket->setProperty("answered", true);
    requests_.append(request);
    script_(requests_.last(), *socket);
}

void ScriptedHttpServer::reply(QTcpSocket& socket, int status, const QByteArray& body, const QByteArray& contentType)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    replyRaw(socket, head + body);
}

void ScriptedHttpServer::replyRaw(QTcpSocket& socket, const QByteArray& bytes)
{
    socket.write(bytes);
    socket.disconnectFromHost(); // after the bytes are written
}

QByteArray ScriptedHttpServer::chunked(const QByteArray& body, qsizetype chunkSize)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray chunk = body.mid(at, chunkSize);
        out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace unplot::test
