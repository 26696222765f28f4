#include "unplotserver.h"

#include <ctime>
#include <httplib.h>

#include "conversionservice.h"
#include "httpserver.h"
#include "log.h"
#include "routes.h"

namespace unplot::server {

void configureHttp(httplib::Server& http, ConversionService& service, const ServerConfig& config)
{
    // Request bodies are read by the upload route, which checks their size itself; this bounds any other.
    http.set_payload_max_length(config.maxUploadBytes + (1 << 20));
    http.set_keep_alive_max_count(config.connections.requestsPerConnection);
    registerRoutes(http, service);
}

UnplotServer::UnplotServer(const ServerConfig& config)
    : config_(config), service_(std::make_unique<ConversionService>(config)), http_(std::make_unique<HttpServer>(config.connections))
{
    configureHttp(*http_, *service_, config_);
}

UnplotServer::~UnplotServer()
{
    stop();
}

int UnplotServer::bind(std::string* error)
{
    std::string ignored;
    int port = http_->bindTo(config_.host, config_.port, error ? error : &ignored);
    if (port < 0)
        return -1;
    service_->startWorkers();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    sweeper_ = std::thread([this] { sweepLoop(); });
    return port;
}

bool UnplotServer::listen()
{
    return http_->serve();
}

void UnplotServer::stop()
{
    http_->stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopSweep_.notify_all();
    if (sweeper_.joinable())
        sweeper_.join();
    service_->stopWorkers();
}

void UnplotServer::sweepLoop()
{
    std::unique_lock lock(mutex_);
    do {
        lock.unlock();
        try {
            service_->sweep(std::time(nullptr));
        } catch (const std::exception& e) {
            logLine(std::string("sweep of expired jobs failed: ") + e.what());
        }
        lock.lock();
    } while (!stopSweep_.wait_for(lock, config_.sweepInterval, [this] { return stopping_; }));
}

}  // namespace unplot::server
