#pragma once
#include "httpclient.h"

#include <QObject>

class QNetworkAccessManager;

namespace unplot {

// The HTTP contract on QNetworkAccessManager, in the thread that creates it.
class QtHttpClient final : public HttpClient {
public:
    QtHttpClient();
    ~QtHttpClient() override;

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed onEncodingFailed,
                JsonHandler onReply) override;
    void getJson(const QString& url, JsonHandler onReply) override;
    void download(const QString& url, const QString& destinationFile, ProgressHandler onProgress,
                  DownloadHandler onDone) override;

private:
    QNetworkAccessManager* manager_;
};

}  // namespace unplot
