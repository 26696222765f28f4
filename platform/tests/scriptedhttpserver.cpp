#include "scriptedhttpserver.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <zip.h>

namespace unplot::test {

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

std::optional<QList<ReceivedPart>> readForm(const RecordedRequest& request)
{
    const QByteArray type = request.header("Content-Type");
    const qsizetype at = type.indexOf("; boundary=");
    if (!type.startsWith("multipart/form-data;") || at < 0)
        return std::nullopt;
    QByteArray boundary = type.mid(at + 11);
    if (boundary.size() > 2 && boundary.startsWith('"') && boundary.endsWith('"'))
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "\r\n--" + boundary;
    const QByteArray body = "\r\n" + request.body;
    QList<ReceivedPart> parts;
    for (qsizetype pos = delimiter.size(); body.mid(pos, 2) == "\r\n";) {
        const qsizetype headEnd = body.indexOf("\r\n\r\n", pos);
        const qsizetype next = body.indexOf(delimiter, headEnd);
        if (headEnd < 0 || next < 0)
            return std::nullopt;
        ReceivedPart part;
        for (const QByteArray& line : body.mid(pos + 2, headEnd - pos - 2).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            part.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        part.data = body.mid(headEnd + 4, next - headEnd - 4);
        parts.append(part);
        pos = next + delimiter.size();
        if (body.mid(pos) == "--\r\n")
            return parts;
    }
    return std::nullopt;
}

QByteArray zipArchive(const QList<QPair<QByteArray, QByteArray>>& members)
{
    const QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("a.zip")));
    zip_t* archive = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    for (const auto& [name, data] : members) {
        zip_source_t* source = zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
        const zip_int64_t index = zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8);
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    QFile file(QFile::decodeName(path));
    return zip_close(archive) == 0 && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (socket->property("answered").toBool() || headerEnd < 0)
        return;
    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
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

void ScriptedHttpServer::stream(QTcpSocket& socket, const QByteArray& head, qint64 size, char fill,
                                const QByteArray& tail)
{
    socket.write(head);
    if (size < 0)
        return;
    static constexpr qint64 kPiece = 1 << 20;
    auto more = [&socket, left = std::make_shared<qint64>(size), fill, tail] {
        if (*left <= 0 || socket.bytesToWrite() > kPiece)
            return;
        const qint64 piece = std::min(*left, kPiece);
        socket.write(QByteArray(piece, fill));
        *left -= piece;
        if (*left == 0) {
            socket.write(tail);
            socket.disconnectFromHost(); // once everything is written
        }
    };
    connect(&socket, &QTcpSocket::bytesWritten, &socket, more);
    more();
}

void ScriptedHttpServer::serveConversions()
{
    setScript([this](const RecordedRequest& request, QTcpSocket& socket) { serveConversion(request, socket); });
}

void ScriptedHttpServer::serveConversion(const RecordedRequest& request, QTcpSocket& socket)
{
    const QString target = QString::fromLatin1(request.target);
    const QUrlQuery query(target.mid(target.indexOf(QLatin1Char('?')) + 1));
    const QString op = query.queryItemValue(QStringLiteral("op"));
    if (request.method == "POST" && op == QLatin1String("mac_upload")) {
        const auto form = readForm(request);
        if (!form)
            return reply(socket, 400, R"({"result":"40","message":"The upload must be a form."})");
        Job job;
        QJsonObject fields;
        for (const ReceivedPart& part : *form) {
            const QByteArray name = part.headers.value(0).second.split('"').value(1);
            if (name == "convertData") {
                for (const auto& match : QRegularExpression(QStringLiteral("SCENARIO:(\\w+)")).globalMatch(part.data))
                    job.scenario.append(match.captured(1).toLatin1());
            } else {
                fields.insert(QString::fromUtf8(name), QString::fromUtf8(part.data));
            }
        }
        QList<QPair<QByteArray, QByteArray>> members{{"form.json", QJsonDocument(fields).toJson(QJsonDocument::Compact)}};
        int pages = 1;
        for (const QByteArray& word : job.scenario) {
            if (word.startsWith("wait"))
                job.waits = word.mid(4).toInt();
            if (word.startsWith("pages"))
                pages = word.mid(5).toInt();
            if (word.startsWith("size"))
                members.append({"padding", QByteArray(word.mid(4).toInt(), ' ')});
            if (word == "image")
                members.append({QByteArray("page-1-image-1.png"), QByteArray("pixels")});
        }
        for (int page = 1; page <= pages; ++page)
            members.append({"page-" + QByteArray::number(page) + ".dxf", "drawing of page " + QByteArray::number(page)});
        job.archive = zipArchive(members);
        if (job.scenario.contains("reject"))
            return reply(socket, 415, R"({"result":"41","message":"The file is not a PDF document."})");
        const QByteArray id = QByteArray::number(jobs_.size() + 1).rightJustified(32, '0');
        jobs_.insert(id, job);
        return reply(socket, 200, R"({"result":"10","fileId":")" + id + "\"}");
    }
    const bool poll = op == QLatin1String("GetConvertQueue");
    static const QRegularExpression download(QStringLiteral("^/download/(\\w+)\\.zip$"));
    const QString id = poll ? query.queryItemValue(QStringLiteral("fileId")) : download.match(target).captured(1);
    const auto job = jobs_.find(id.toLatin1());
    if (job == jobs_.end())
        return reply(socket, 404, R"({"num":-2})");
    if (!poll) {
        if (job->scenario.contains("dlfail"))
            return replyRaw(socket, {});
        return reply(socket, 200, job->archive, "application/zip");
    }
    QJsonObject state{{"num", 0}, {"status", 100}, {"result", "/download/" + id + ".zip"}};
    if (job->scenario.contains("slow") || job->waits > 0)
        state = {{"num", job->scenario.contains("slow") ? 1 : job->waits--}, {"status", 10}, {"result", ""}};
    else if (job->scenario.contains("fail"))
        state = {{"num", 0}, {"status", 30}, {"result", ""}, {"message", "The engine could not read the file."}};
    else if (job->scenario.contains("warn"))
        state = {{"num", 0}, {"status", 101}, {"result", state["result"]},
                 {"message", "page 2: images are not converted yet\npage 3: shadings are not converted yet"}};
    reply(socket, 200, QJsonDocument(state).toJson(QJsonDocument::Compact));
}

} // namespace unplot::test
