#pragma once
// An HTTP client for controller tests: records every request and completes it only when the test says so, so a
// reply can come late, twice, or after its job ended.

#include "httpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

namespace unplot::test {

class FakeHttpClient final : public HttpClient {
public:
    struct Upload {
        QString url;
        std::vector<FormPart> parts;
        EncodingFailed encodingFailed;
        JsonHandler reply;
    };
    struct Get {
        QString url;
        JsonHandler reply;
    };
    struct Download {
        QString url;
        QString destination;
        ProgressHandler progress;
        DownloadHandler done;

        // Stores body in the destination as the Qt client would (the folder must exist), then completes.
        bool finish(const QByteArray& body, int httpStatus = 200) const
        {
            QFile file(destination);
            if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
                return false;
            file.close();
            DownloadResult result;
            result.httpStatus = httpStatus;
            result.bytesWritten = body.size();
            done(result);
            return true;
        }
        void fail(const QString& error) const
        {
            DownloadResult result;
            result.transportError = true;
            result.errorText = error;
            done(result);
        }
    };

    std::vector<Upload> uploads;
    std::vector<Get> gets;
    std::vector<Download> downloads;

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                JsonHandler onReply) override
    {
        uploads.push_back({url, std::move(parts), std::move(onEncodingFailed), std::move(onReply)});
    }
    void getJson(const QString& url, JsonHandler onReply) override { gets.push_back({url, std::move(onReply)}); }
    void download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                  DownloadHandler onDone) override
    {
        downloads.push_back({url, destinationFile, std::move(onProgress), std::move(onDone)});
    }

    // A reply whose body is `body`, read as the Qt client reads it (top-level fragments allowed).
    static JsonReply reply(const QByteArray& body, int httpStatus = 200)
    {
        JsonReply reply;
        reply.httpStatus = httpStatus;
        QJsonParseError error{};
        const QJsonDocument wrapped = QJsonDocument::fromJson("[" + body + "]", &error);
        if (error.error == QJsonParseError::NoError && wrapped.array().size() == 1)
            reply.value = wrapped.array().at(0);
        return reply;
    }
    static JsonReply reply(const QJsonObject& object, int httpStatus = 200)
    {
        JsonReply reply;
        reply.httpStatus = httpStatus;
        reply.value = QJsonValue(object);
        return reply;
    }
    static JsonReply unreachable(const QString& error = QStringLiteral("Connection refused"))
    {
        JsonReply reply;
        reply.transportError = true;
        reply.errorText = error;
        return reply;
    }
};

} // namespace unplot::test
