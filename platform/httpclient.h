#pragma once
// The HTTP contract the conversion controller relies on. Every callback runs on the main (GUI) thread, after the
// call that started the request has returned; the production implementation is QtHttpClient.

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace unplot {

// One part of a multipart/form-data body. A part with a fileName is a file part; the others are plain fields
// (name and value only, no content type). A file part takes its bytes from `filePath` when that is set (streamed
// from disk), else from `data`.
struct FormPart {
    QString name;
    QString fileName;
    QString contentType;
    QByteArray data;
    QString filePath;
};

// The outcome of a request whose reply is read as JSON. No HTTP status is validated.
struct JsonReply {
    bool transportError = false;   // no HTTP reply at all (refused, host not found, invalid URL, dropped)
    QString errorText;             // the transport error, for messages
    int httpStatus = 0;            // the reply's status, 0 with a transport error
    std::optional<QJsonValue> value;  // the parsed body (top-level fragments allowed); absent when not JSON
};

struct DownloadResult {
    bool transportError = false;
    QString errorText;
    int httpStatus = 0;
    qint64 bytesWritten = 0;  // bytes stored in the destination file
};

class HttpClient {
public:
    virtual ~HttpClient() = default;

    using EncodingFailed = std::function<void(const QString& error)>;
    using JsonHandler = std::function<void(const JsonReply&)>;
    using ProgressHandler = std::function<void(double fractionCompleted)>;
    using DownloadHandler = std::function<void(const DownloadResult&)>;

    // POST a multipart form, parts in the given order. `onEncodingFailed` runs instead of `onReply` when the form
    // cannot be built (for instance a file part whose file cannot be read).
    virtual void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                        JsonHandler onReply) = 0;

    // GET with no body; the reply read as JSON.
    virtual void getJson(const QString& url, JsonHandler onReply) = 0;

    // GET, the body streamed into `destinationFile` as it arrives (a previous file is replaced, missing folders
    // are created). `onProgress` runs zero or more times; `onDone` exactly once.
    virtual void download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                          DownloadHandler onDone) = 0;

    // Gives up every download still running, also one whose body never ends: each ends at once as a transport
    // error (its `onDone` runs before this returns), its destination left as it was.
    virtual void cancelDownloads() = 0;
};

}  // namespace unplot
