#include "qthttpclient.h"

#include <QNetworkAccessManager>

// Placeholder bodies: the transfers land in the next commit.
namespace unplot {
QtHttpClient::QtHttpClient() : manager_(new QNetworkAccessManager) {}
QtHttpClient::~QtHttpClient() { delete manager_; }
void QtHttpClient::upload(const QString&, std::vector<FormPart>, EncodingFailed, JsonHandler) {}
void QtHttpClient::getJson(const QString&, JsonHandler) {}
void QtHttpClient::download(const QString&, const QString&, ProgressHandler, DownloadHandler) {}
}  // namespace unplot
