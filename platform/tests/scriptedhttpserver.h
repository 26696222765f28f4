#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (a free port) for the client's tests. It reads each request whole (headers
// and a Content-Length body), records it, and hands it to a script that writes whatever reply the test wants: a
// complete one, a chunked one, one cut short, one that never ends. serveConversions() turns it into a conversion
// service whose behaviour each uploaded PDF chooses; the scripted_service program runs that on its own.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>

#include <csignal>
#include <functional>
#include <optional>
#include <sys/resource.h>

class QTcpSocket;

namespace unplot::test {

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct RecordedRequest {
    QByteArray method;
    QByteArray target;
    Headers headers; // as received, in order
    QByteArray body;

    QByteArray header(const QByteArray& name) const; // the first header of that name, any case; empty if none
};

struct ReceivedPart {
    Headers headers;
    QByteArray data;
};

// The parts of a multipart/form-data body, read strictly (the boundary of the Content-Type, CRLF line ends, the
// closing delimiter); none when the body is not such a form.
std::optional<QList<ReceivedPart>> readForm(const RecordedRequest& request);

// For as long as it lives, this process cannot grow a file beyond `bytes`: writes fail with EFBIG, as they fail
// with ENOSPC on a full disk.
struct FileSizeLimit {
    rlimit saved{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limit{bytes, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

// A zip archive of (name, data) members, stored uncompressed.
QByteArray zipArchive(const QList<QPair<QByteArray, QByteArray>>& members);

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
    // Writes `head`, then `size` bytes of `fill` as fast as the client takes them (never all in memory), then
    // `tail`; with a negative size nothing follows `head` and the connection stays open: a transfer that stalls.
    static void stream(QTcpSocket& socket, const QByteArray& head, qint64 size, char fill = ' ',
                       const QByteArray& tail = {});

    // A conversion service. Each uploaded PDF says what happens to it with words "SCENARIO:NAME" in its bytes:
    //   wait<N>  N polls report the file waiting before the result is ready (default: ready at the first poll)
    //   slow     every poll reports the file waiting
    //   reject   the upload is refused: "The file is not a PDF document."
    //   fail     the first poll reports status 30 with the message "The engine could not read the file."
    //   warn     the result comes with status 101 and two warnings in `message`
    //   dlfail   the download is closed without a reply
    //   pages<N> the archive holds N drawings, page-1.dxf to page-N.dxf (default one)
    //   size<N>  the archive holds N more bytes
    // The archive holds form.json too: the form's plain fields, as the service received them.
    void serveConversions();
    void serveConversion(const RecordedRequest& request, QTcpSocket& socket);

private:
    struct Job {
        QList<QByteArray> scenario;
        int waits = 0;
        QByteArray archive;
    };
    void accept();
    void read(QTcpSocket* socket);

    QTcpServer server_;
    Script script_;
    QList<RecordedRequest> requests_;
    int connections_ = 0;
    QHash<QByteArray, Job> jobs_;
};

} // namespace unplot::test
