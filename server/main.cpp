// unplotd: the unplot conversion service.

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <thread>

#include "config.h"
#include "unplotserver.h"

using namespace unplot::server;

int main(int argc, char** argv)
{
    CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.config) {
        (line.exitCode == 0 ? std::cout : std::cerr) << line.output;
        return line.exitCode;
    }
    const ServerConfig& config = *line.config;

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the server cleanly; every other thread
    // (the HTTP pool, the workers) inherits the blocked mask. A peer that hangs up mid-reply must not kill us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        if (access(config.engine.c_str(), X_OK) != 0)
            std::cerr << "unplotd: warning: the engine " << config.engine
                      << " is not an executable file; uploads will be refused until it is (see --engine)\n";
        UnplotServer server(config);
        std::string error;
        int port = server.bind(&error);
        if (port < 0) {
            std::cerr << "unplotd: " << error << "\n";
            return 1;
        }
        std::string host = config.host.find(':') != std::string::npos ? "[" + config.host + "]" : config.host;
        std::cerr << "unplotd: data in " << config.dataDir.string() << ", " << config.workers
                  << " worker(s), engine " << config.engine.string() << "\n"
                  << "unplotd listening on http://" << host << ":" << port << std::endl;

        std::thread signalWaiter([&server, stopSignals] {
            int received = 0;
            sigwait(&stopSignals, &received);
            std::cerr << "unplotd: stopping (signal " << received << ")" << std::endl;
            server.stop();
        });
        bool served = server.listen();
        if (!served) {
            std::cerr << "unplotd: the HTTP server stopped with an error\n";
            pthread_kill(signalWaiter.native_handle(), SIGTERM);
        }
        signalWaiter.join();
        server.stop();
        return served ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "unplotd: " << e.what() << "\n";
        return 1;
    }
}
