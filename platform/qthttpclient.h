#pragma once
#include "httpclient.h"

#include <QNetworkRequest>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace unplot {

// The HTTP contract on QNetworkAccessManager, in the thread that creates it.
//
// - Addresses are checked in strict mode before anything is sent: an address that is not a valid URL with a host
//   is a transport error, reported without a request.
// - A reply's HTTP status never counts as a failure: transportError means that no complete reply arrived
//   (refused, dropped, timed out, a body shorter than its Content-Length, a redirect that is not allowed).
// - Uploads stream a file part from disk; downloads stream into a QSaveFile beside the destination, so the
//   destination is replaced only by a complete body and is left as it was after any failure. A destination that
//   cannot be written (no folder, disk full) is reported as a transport error whose text names the file.
// - A transfer on which nothing arrives or leaves for the stall time-out is given up (a transport error). A reply
//   read as JSON that grows past 1 MiB is given up at that size and read as one without a value.
// - Callbacks run from the event loop, never inside the call that starts the request. Destroying the client
//   drops the callbacks of the requests still running; a callback must not destroy the client.
class QtHttpClient final : public HttpClient {
public:
    explicit QtHttpClient(std::chrono::milliseconds stallTimeout = std::chrono::seconds(120));
    ~QtHttpClient() override;
    QtHttpClient(const QtHttpClient&) = delete;
    QtHttpClient& operator=(const QtHttpClient&) = delete;

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                JsonHandler onReply) override;
    void getJson(const QString& url, JsonHandler onReply) override;
    void download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                  DownloadHandler onDone) override;
    void cancelDownloads() override;

private:
    QNetworkRequest makeRequest(const QUrl& url, QNetworkRequest::RedirectPolicy redirects) const;
    // Runs `call` from the event loop, unless the client is destroyed first.
    void later(std::function<void()> call);
    void readJsonReply(QNetworkReply* reply, JsonHandler onReply);

    QNetworkAccessManager* manager_;
    std::chrono::milliseconds stall_;
    std::vector<std::weak_ptr<void>> downloads_; // the state of each download that may still run
};

// A reply's body read as JSON, top-level fragments ("3", "\"text\"", "null") allowed; none when it is not one
// JSON value with optional white space around it.
std::optional<QJsonValue> parseJsonReply(const QByteArray& body);

} // namespace unplot
