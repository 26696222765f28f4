#pragma once
#include "httpclient.h"

#include <QObject>

#include <functional>

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
// - Callbacks run from the event loop, never inside the call that starts the request. Destroying the client
//   drops the callbacks of the requests still running; a callback must not destroy the client.
class QtHttpClient final : public HttpClient {
public:
    QtHttpClient();
    ~QtHttpClient() override;
    QtHttpClient(const QtHttpClient&) = delete;
    QtHttpClient& operator=(const QtHttpClient&) = delete;

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                JsonHandler onReply) override;
    void getJson(const QString& url, JsonHandler onReply) override;
    void download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                  DownloadHandler onDone) override;

private:
    // Runs `call` from the event loop, unless the client is destroyed first.
    void later(std::function<void()> call);
    void readJsonReply(QNetworkReply* reply, JsonHandler onReply);

    QNetworkAccessManager* manager_;
};

} // namespace unplot
