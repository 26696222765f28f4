// Drives one transfer through QtHttpClient, the client's HTTP layer, for bench/transfer.sh:
//   unplot-transfer-bench upload URL FILE      the upload form, FILE as its PDF part (streamed from disk)
//   unplot-transfer-bench download URL DEST    the body stored in DEST
// Prints one line with the outcome and the wall time; exits 1 when the transfer failed.
#include "qthttpclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 || (args[1] != "upload" && args[1] != "download")) {
        std::fprintf(stderr, "usage: unplot-transfer-bench upload URL FILE | download URL DEST\n");
        return 2;
    }
    unplot::QtHttpClient client;
    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    int status = 1;

    if (args[1] == "upload") {
        std::vector<unplot::FormPart> form{{"convertData", "convert.pdf", "application/pdf", {}, args[3]},
                                           {"drp_Type", {}, {}, "1", {}},
                                           {"txt_Page", {}, {}, "-1", {}},
                                           {"drp_Version", {}, {}, "18", {}}};
        client.upload(
            args[2], std::move(form),
            [&](const QString& error) {
                out << "encoding failed: " << error << Qt::endl;
                app.exit(1);
            },
            [&](const unplot::JsonReply& reply) {
                const QByteArray body =
                    reply.value ? QJsonDocument::fromVariant(reply.value->toVariant()).toJson(QJsonDocument::Compact)
                                : QByteArray("(no JSON)");
                out << "upload: HTTP " << reply.httpStatus << " " << body << " " << reply.errorText << " in "
                    << clock.elapsed() << " ms" << Qt::endl;
                status = reply.transportError || reply.httpStatus != 200 ? 1 : 0;
                app.exit(status);
            });
    } else {
        client.download(
            args[2], args[3], [](double) {},
            [&](const unplot::DownloadResult& result) {
                out << "download: HTTP " << result.httpStatus << ", " << result.bytesWritten << " bytes "
                    << result.errorText << " in " << clock.elapsed() << " ms" << Qt::endl;
                status = result.transportError || result.httpStatus != 200 ? 1 : 0;
                app.exit(status);
            });
    }
    app.exec();
    return status;
}
