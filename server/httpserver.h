#pragma once
// unplotd's HTTP server. cpp-httplib reads the requests and routes them; the connections are ours: the listening
// socket (an address in use is an error, never shared), a fixed pool of connection threads, and a watch on every
// connection that closes clients who keep a thread without making progress.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <httplib.h>
#include <mutex>
#include <string>
#include <string_view>

#include "config.h"

namespace unplot::server {

class HttpServer : public httplib::Server {
public:
    explicit HttpServer(ConnectionLimits limits = {});
    ~HttpServer() override;

    // Binds the listening socket (port 0: any free port). Returns the port, or -1 with `error` set, for instance
    // "127.0.0.1:8040 is already in use".
    int bindTo(const std::string& host, int port, std::string* error);
    // Accepts and serves connections until stop(); false when accepting failed.
    bool serve();
    // Closes the listening socket and every connection; serve() returns once the running requests are done.
    void stop();

    // Handles `bytes` as the requests of one connection, in process, as a connection is served (it stops after a
    // body left unread), and returns what would be sent back (for fuzzing the request handling).
    std::string handle(std::string_view bytes);

    // Called by connections: takes one of the slots for slow connections, or gives it back.
    bool takeSlowSlot();
    void releaseSlowSlot();
    const ConnectionLimits& limits() const { return limits_; }
    int stopFd() const { return stopPipe_[0]; }

private:
    void serveConnection(int fd);
    void connectionThread();

    ConnectionLimits limits_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable waiting_;
    std::deque<int> accepted_;
    bool stopping_ = false;
    unsigned slow_ = 0;
};

}  // namespace unplot::server
