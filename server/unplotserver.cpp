#include "unplotserver.h"

#include <ctime>
#include <httplib.h>

#include "conversionservice.h"
#include "log.h"
#include "routes.h"

namespace unplot::server {

// Room for the form around the PDF: an upload a little over the limit is refused by the service with a clear
// message; a much larger one is cut off by the HTTP layer (413) without being kept in memory.
static constexpr std::size_t kFormOverhead = 1 << 20;

void configureHttp(httplib::Server& http, ConversionService& service, const ServerConfig& config)
{
    http.set_payload_max_length(config.maxUploadBytes + kFormOverhead);
    // Headers and body go out in separate writes: without TCP_NODELAY each small reply on a kept-alive
    // connection waits for the client's delayed ACK (about 40 ms a poll here).
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(100);
    registerRoutes(http, service);
}

UnplotServer::UnplotServer(const ServerConfig& config)
    : config_(config), service_(std::make_unique<ConversionService>(config)), http_(std::make_unique<httplib::Server>())
{
    configureHttp(*http_, *service_, config_);
}

UnplotServer::~UnplotServer()
{
    stop();
}

int UnplotServer::bind()
{
    int port = config_.port;
    if (config_.port == 0)
        port = http_->bind_to_any_port(config_.host);
    else if (!http_->bind_to_port(config_.host, config_.port))
        port = -1;
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
    return http_->listen_after_bind();
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
