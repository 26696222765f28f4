#include "qthttpclient.h"

#include "filefailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace unplot {
namespace {

// The most a reply read as JSON may hold: the service's replies are a few hundred bytes.
constexpr qint64 kMaxJsonReplyBytes = 1 << 20;
// The most a download keeps in memory between the socket and the file. Qt 6.4 throttles the socket with it, and
// a chunked body cut off while that throttle holds can stall until the transfer time-out; the stall was seen often
// with 1 MB and 2 MB, and not in any trial with 4 MB.
constexpr qint64 kDownloadBufferBytes = 4 << 20;

// The address in strict mode; an invalid URL, or one without a host, is returned empty. A tolerant QUrl would
// go out as a request with an empty target.
QUrl strictUrl(const QString& text)
{
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url;
}

QString invalidUrlText(const QString& text)
{
    return QStringLiteral("Invalid URL: \"%1\"").arg(text);
}

// QNetworkReply reports 4xx and 5xx replies as errors too; these are the codes it maps HTTP statuses to.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ProtocolInvalidOperationError: // 400, 418
    case QNetworkReply::AuthenticationRequiredError:   // 401
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return true;
    default:
        return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
               (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    }
}

struct ReplyOutcome {
    bool transportError = false;
    QString errorText;
    int httpStatus = 0;
};

// Whether a finished reply is a complete HTTP exchange, whatever its status. `stall` is the transfer time-out,
// which Qt reports as a cancelled operation.
ReplyOutcome outcomeOf(const QNetworkReply& reply, std::chrono::milliseconds stall)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply.error();
    if (status.isValid() && (error == QNetworkReply::NoError || isHttpStatusError(error)))
        return {false, {}, status.toInt()};
    if (error == QNetworkReply::OperationCanceledError)
        return {true, QStringLiteral("Nothing arrived for %1 s: the transfer was given up.").arg(std::chrono::duration<double>(stall).count()),
                0};
    return {true, reply.errorString(), 0};
}

} // namespace

// QJsonDocument reads only arrays and objects, so the body is read as the one element of an array: "[" + body + "]"
// holds exactly one element exactly when the body is one JSON value with optional white space around it.
std::optional<QJsonValue> parseJsonReply(const QByteArray& body)
{
    QByteArray wrapped;
    wrapped.reserve(body.size() + 2);
    wrapped.append('[').append(body).append(']');
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0);
}

namespace {

// A name or file name inside the quotes of Content-Disposition, escaped the way browsers do.
QByteArray dispositionValue(const QString& text)
{
    QByteArray value = text.toUtf8();
    value.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return '"' + value + '"';
}

// Builds the form; on failure returns nullptr and the reason in `error`.
QHttpMultiPart* buildForm(const std::vector<FormPart>& parts, QString& error)
{
    auto form = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
    for (const FormPart& part : parts) {
        QHttpPart httpPart;
        QByteArray disposition = "form-data; name=" + dispositionValue(part.name);
        const bool isFile = !part.fileName.isEmpty();
        if (isFile)
            disposition += "; filename=" + dispositionValue(part.fileName);
        httpPart.setRawHeader("Content-Disposition", disposition);
        if (isFile && !part.contentType.isEmpty())
            httpPart.setRawHeader("Content-Type", part.contentType.toUtf8());
        if (isFile && !part.filePath.isEmpty()) {
            auto* file = new QFile(part.filePath, form.get());
            if (!file->open(QIODevice::ReadOnly)) {
                error = QStringLiteral("Cannot read \"%1\": %2").arg(part.filePath, file->errorString());
                return nullptr;
            }
            httpPart.setBodyDevice(file);
        } else {
            httpPart.setBody(part.data);
        }
        form->append(httpPart);
    }
    return form.release();
}

// The state of one download, owned by its reply's connections.
struct Download {
    QNetworkReply* reply = nullptr;
    QSaveFile* file = nullptr; // a child of the reply
    HttpClient::ProgressHandler onProgress;
    HttpClient::DownloadHandler onDone;
    std::chrono::milliseconds stall;
    qint64 written = 0;
    double reported = -1.0;
    bool done = false;

    void progress(double fraction)
    {
        if (fraction == reported)
            return;
        reported = fraction;
        if (onProgress)
            onProgress(fraction);
    }

    // Moves what has arrived into the file; false when the file cannot take it.
    bool drain()
    {
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(kDownloadBufferBytes);
            if (file->write(chunk) != chunk.size())
                return false;
            written += chunk.size();
        }
        return true;
    }

    QString writeErrorText() const
    {
        return QStringLiteral("Cannot write \"%1\": %2").arg(file->fileName(), failureOf(*file));
    }

    void finish(DownloadResult result)
    {
        if (done)
            return;
        done = true;
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        if (!result.transportError)
            progress(1.0);
        reply->deleteLater(); // also discards the file's temporary copy when it was not committed
        if (onDone)
            onDone(result);
    }

    // Ends the transfer as a transport error, the destination as it was.
    void giveUp(const QString& why)
    {
        file->cancelWriting();
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
        finish({true, why, 0, 0});
    }

    void finished()
    {
        if (done)
            return;
        if (!drain()) {
            giveUp(writeErrorText());
            return;
        }
        const ReplyOutcome outcome = outcomeOf(*reply, stall);
        if (outcome.transportError) {
            file->cancelWriting();
            finish({true, outcome.errorText, 0, 0});
            return;
        }
        if (!file->commit()) {
            finish({true, writeErrorText(), 0, 0});
            return;
        }
        finish({false, {}, outcome.httpStatus, written});
    }
};

} // namespace

QtHttpClient::QtHttpClient(std::chrono::milliseconds stallTimeout)
    : manager_(new QNetworkAccessManager), stall_(stallTimeout)
{}

QtHttpClient::~QtHttpClient()
{
    delete manager_;
}

void QtHttpClient::cancelDownloads()
{
    for (const std::weak_ptr<void>& running : std::exchange(downloads_, {})) {
        if (const auto download = std::static_pointer_cast<Download>(running.lock()); download && !download->done)
            download->giveUp(QStringLiteral("The download was cancelled."));
    }
}

QNetworkRequest QtHttpClient::makeRequest(const QUrl& url, QNetworkRequest::RedirectPolicy redirects) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, redirects);
    request.setTransferTimeout(int(stall_.count()));
    return request;
}

void QtHttpClient::later(std::function<void()> call)
{
    QTimer::singleShot(0, manager_, std::move(call));
}

void QtHttpClient::readJsonReply(QNetworkReply* reply, JsonHandler onReply)
{
    // A reply too large to be one of the service's is given up as soon as it is, and read as no JSON value.
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::readyRead, manager_, [reply, tooLarge] {
        if (reply->bytesAvailable() > kMaxJsonReplyBytes && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, manager_,
                     [reply, tooLarge, stall = stall_, onReply = std::move(onReply)] {
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->deleteLater();
        JsonReply result;
        if (*tooLarge) {
            result.errorText = QStringLiteral("The reply is larger than %1 bytes.").arg(kMaxJsonReplyBytes);
            result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        } else {
            const ReplyOutcome outcome = outcomeOf(*reply, stall);
            result.transportError = outcome.transportError;
            result.errorText = outcome.errorText;
            result.httpStatus = outcome.httpStatus;
            if (!outcome.transportError)
                result.value = parseJsonReply(reply->readAll());
        }
        if (onReply)
            onReply(result);
    });
}

void QtHttpClient::upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                          JsonHandler onReply)
{
    QString error;
    QHttpMultiPart* form = buildForm(parts, error);
    if (!form) {
        later([onEncodingFailed = std::move(onEncodingFailed), error] {
            if (onEncodingFailed)
                onEncodingFailed(error);
        });
        return;
    }
    const QUrl address = strictUrl(url);
    if (address.isEmpty()) {
        delete form;
        later([onReply = std::move(onReply), text = invalidUrlText(url)] {
            if (onReply)
                onReply({true, text, 0, std::nullopt});
        });
        return;
    }
    QNetworkReply* reply = manager_->post(makeRequest(address, QNetworkRequest::NoLessSafeRedirectPolicy), form);
    form->setParent(reply);
    readJsonReply(reply, std::move(onReply));
}

void QtHttpClient::getJson(const QString& url, JsonHandler onReply)
{
    const QUrl address = strictUrl(url);
    if (address.isEmpty()) {
        later([onReply = std::move(onReply), text = invalidUrlText(url)] {
            if (onReply)
                onReply({true, text, 0, std::nullopt});
        });
        return;
    }
    readJsonReply(manager_->get(makeRequest(address, QNetworkRequest::NoLessSafeRedirectPolicy)), std::move(onReply));
}

void QtHttpClient::download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                            DownloadHandler onDone)
{
    auto fail = [this, &onDone](const QString& text) {
        later([onDone = std::move(onDone), text] {
            if (onDone)
                onDone({true, text, 0, 0});
        });
    };
    const QUrl address = strictUrl(url);
    if (address.isEmpty())
        return fail(invalidUrlText(url));
    const QString folder = QFileInfo(destinationFile).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot create the folder \"%1\"").arg(folder));
    auto file = std::make_unique<QSaveFile>(destinationFile);
    if (!file->open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write \"%1\": %2").arg(destinationFile, file->errorString()));

    // Only the same scheme, host and port: a redirect must not carry the download to another server.
    QNetworkReply* reply = manager_->get(makeRequest(address, QNetworkRequest::SameOriginRedirectPolicy));
    reply->setReadBufferSize(kDownloadBufferBytes);
    file->setParent(reply);
    auto state = std::make_shared<Download>();
    state->reply = reply;
    state->file = file.release();
    state->onProgress = std::move(onProgress);
    state->onDone = std::move(onDone);
    state->stall = stall_;
    std::erase_if(downloads_, [](const std::weak_ptr<void>& download) { return download.expired(); });
    downloads_.push_back(state);

    QObject::connect(reply, &QNetworkReply::readyRead, manager_, [state] {
        if (!state->done && !state->drain())
            state->giveUp(state->writeErrorText());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, manager_, [state](qint64 received, qint64 total) {
        // 1.0 is kept for the end, when the file is in place.
        if (!state->done && total > 0 && received < total)
            state->progress(static_cast<double>(received) / static_cast<double>(total));
        else if (!state->done && total <= 0)
            state->progress(0.0);
    });
    QObject::connect(reply, &QNetworkReply::finished, manager_, [state] { state->finished(); });
}

} // namespace unplot
