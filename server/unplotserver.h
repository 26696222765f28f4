#pragma once
// unplotd as an object: the conversion service behind its HTTP endpoints, its workers and the periodic sweep of
// expired jobs. main() and the tests drive it the same way: bind(), then listen() on some thread, then stop().

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "config.h"

namespace httplib {
class Server;
}

namespace unplot::server {

class ConversionService;
class HttpServer;

// Sets `http` up as unplotd serves: request size limit, connection options and the endpoints of `service`.
void configureHttp(httplib::Server& http, ConversionService& service, const ServerConfig& config);

class UnplotServer {
public:
    // Opens the data folder and the job store (recovering interrupted jobs). Throws when they cannot be used.
    explicit UnplotServer(const ServerConfig& config);
    ~UnplotServer();
    UnplotServer(const UnplotServer&) = delete;
    UnplotServer& operator=(const UnplotServer&) = delete;

    // Binds the listening socket (port 0: any free port) and starts the workers and the sweep.
    // Returns the bound port, or -1 with `error` set when the address cannot be bound ("... is already in use").
    int bind(std::string* error = nullptr);
    // Serves requests until stop(); returns false when it could not serve at all.
    bool listen();
    // Stops serving, kills running conversions (their jobs wait again) and joins every thread. Idempotent.
    void stop();

    ConversionService& service() { return *service_; }
    HttpServer& http() { return *http_; }

private:
    void sweepLoop();

    ServerConfig config_;
    std::unique_ptr<ConversionService> service_;
    std::unique_ptr<HttpServer> http_;
    std::thread sweeper_;
    std::mutex mutex_;
    std::condition_variable stopSweep_;
    bool stopping_ = false;
};

}  // namespace unplot::server
