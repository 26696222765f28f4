// The scripted conversion service (ScriptedHttpServer::serveConversions) on its own, for the window's end-to-end
// check: prints "PORT <n>", then serves until it is killed, with one line "REQ METHOD TARGET" per request on
// standard error.
#include "scriptedhttpserver.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    unplot::test::ScriptedHttpServer server;
    if (!server.listen())
        return 1;
    server.setScript([&server](const unplot::test::RecordedRequest& request, QTcpSocket& socket) {
        std::fprintf(stderr, "REQ %s %s\n", request.method.constData(), request.target.constData());
        std::fflush(stderr);
        server.serveConversion(request, socket);
    });
    std::printf("PORT %d\n", server.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
