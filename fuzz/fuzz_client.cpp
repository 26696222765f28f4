// The client's reading of the service's replies: the ViewController runs jobs against an HTTP fake, and the input
// supplies every reply. Input: replies separated by NUL bytes. The first answers the upload of a job, each next one
// the poll after one more tick, or a pending download ("!TEXT" fails a request with TEXT as its transport error;
// a download's body is its reply). When a job has ended, the next reply answers the upload of a new one.
// Checked: whatever the service says, the client asks only its own service, with the file id as one query value,
// and never writes anywhere but its temporary archive and the chosen output; the busy indicator and the poll
// timer run exactly while a job does.

#include "fakes.h"
#include "fuzzcheck.h"
#include "viewcontroller.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <cstdint>

using namespace unplot;
using namespace unplot::test;

namespace {

const QString kHost = QStringLiteral("localhost:8040");

bool ownService(const QUrl& url)
{
    return url.isValid() && url.scheme() == QLatin1String("http") && url.host() == QLatin1String("localhost") &&
           url.port() == 8040 && url.userInfo().isEmpty();
}

struct Folder {
    QTemporaryDir dir;
    QString input = dir.filePath(QStringLiteral("drawing.pdf"));
    QString output = dir.filePath(QStringLiteral("drawing.zip"));
    Folder()
    {
        QFile pdf(input);
        FUZZ_CHECK(pdf.open(QIODevice::WriteOnly) && pdf.write("%PDF-1.4\n%%EOF\n") > 0);
    }
};

JsonReply replyOf(const QByteArray& piece)
{
    return piece.startsWith('!') ? JsonReply{true, QString::fromUtf8(piece.mid(1)), 0, std::nullopt}
                                 : FakeHttpClient::reply(piece);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Folder folder;
    FakeView view;
    view.input = folder.input;
    view.output = folder.output;
    FakeHttpClient http;
    FakeTimers timers;
    ServiceConfig config;
    config.host = kHost;
    config.documentsDir = folder.dir.filePath(QStringLiteral("Documents"));
    config.supportEmail = QStringLiteral("help@unplot.example");
    ViewController controller(view, http, timers, config);

    const QList<QByteArray> pieces = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size))
                                         .split('\0');
    std::size_t uploads = 0, gets = 0, downloads = 0;
    for (const QByteArray& piece : pieces) {
        if (!controller.conversion()) {
            controller.convertAction();
            FUZZ_CHECK(controller.conversion() && http.uploads.size() == uploads + 1);
            FUZZ_CHECK(ownService(QUrl(http.uploads.back().url, QUrl::StrictMode)));
        }
        if (http.uploads.size() > uploads) {
            http.uploads[uploads++].reply(replyOf(piece));
        } else if (http.downloads.size() > downloads) {
            const FakeHttpClient::Call& download = http.downloads[downloads++];
            // An address that is not valid in strict mode is never sent (the HTTP contract refuses it).
            const QUrl url(download.url, QUrl::StrictMode);
            FUZZ_CHECK((!url.isValid() || ownService(url)) && download.destination == controller.tempZipPath());
            if (piece.startsWith('!'))
                download.fail(QString::fromUtf8(piece.mid(1)));
            else
                download.finish(piece);
        } else if (http.gets.size() > gets) {
            const QUrl url(http.gets.back().url, QUrl::StrictMode);
            FUZZ_CHECK(ownService(url) &&
                  QUrlQuery(url).queryItemValue(QStringLiteral("fileId"), QUrl::FullyDecoded) ==
                      controller.downloadHolder());
            http.gets[gets++].reply(replyOf(piece));
        }
        if (controller.conversion())
            timers.fire();
        FUZZ_CHECK(view.busy() == controller.conversion() && timers.running() == controller.conversion());
    }
    return 0;
}
