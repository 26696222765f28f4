#include "httpserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "log.h"

namespace unplot::server {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kProgressBytes = 64 * 1024;

std::string numericHost(const sockaddr_storage& address, int& port)
{
    char host[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET6) {
        const auto& a6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &a6.sin6_addr, host, sizeof host);
        port = ntohs(a6.sin6_port);
    } else if (address.ss_family == AF_INET) {
        const auto& a4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &a4.sin_addr, host, sizeof host);
        port = ntohs(a4.sin_port);
    }
    return host;
}

// How much of the current request's body has been read: a connection goes on to its next request only after a
// body read to its end.
class BodyCount {
public:
    // A request is awaited: what is read now are its headers.
    void awaitRequest() { inBody_ = false; }
    // The request's headers are read: its body (if any) comes next.
    void headersRead(const httplib::Request& req)
    {
        inBody_ = true;
        read_ = 0;
        if (req.has_header("Content-Length"))
            length_ = std::strtoll(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        else
            length_ = req.method == "GET" || req.method == "HEAD" ? 0 : -1;  // chunked, or up to the end
    }
    void read(std::size_t bytes)
    {
        if (inBody_)
            read_ += static_cast<std::int64_t>(bytes);
    }
    bool finished() const { return length_ >= 0 && read_ >= length_; }

private:
    bool inBody_ = false;
    std::int64_t read_ = 0, length_ = 0;
};

// One client connection as cpp-httplib reads and writes it: buffered, and every wait on the client counted
// against the connection's limits.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int fd, HttpServer& server) : fd_(fd), server_(server) {}
    ~ConnectionStream() override
    {
        if (slow_)
            server_.releaseSlowSlot();
    }

    // Waits for the next request on a kept-alive connection; false when none comes.
    bool awaitRequest()
    {
        bool ready = pos_ < len_ || poll(POLLIN, server_.limits().idle) > 0;
        body.awaitRequest();
        madeProgress();
        return ready;
    }
    void headersRead(const httplib::Request& req)
    {
        madeProgress();
        body.headersRead(req);
    }

    // Closes the connection. When a request's body was left unread (a refused upload), the rest is read and
    // dropped for a moment after the reply, so that the client sees the reply rather than a reset.
    void close()
    {
        if (!body.finished() && !stopped_ && !dropped_) {
            ::shutdown(fd_, SHUT_WR);
            const auto until = Clock::now() + std::chrono::seconds(1);
            char buffer[16384];
            for (std::size_t dropped = 0; dropped < (64u << 20) && Clock::now() < until;) {
                ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0)
                    dropped += static_cast<std::size_t>(n);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR) ||
                         poll(POLLIN, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())) <= 0)
                    break;
            }
        }
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }

    bool is_readable() const override { return pos_ < len_ || const_cast<ConnectionStream*>(this)->wait(POLLIN); }
    bool is_writable() const override { return const_cast<ConnectionStream*>(this)->wait(POLLOUT); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        while (pos_ == len_) {
            ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, MSG_DONTWAIT);
            if (n > 0) {
                pos_ = 0;
                len_ = static_cast<std::size_t>(n);
            } else if (n == 0) {
                return 0;
            } else if ((errno != EAGAIN && errno != EINTR) || !wait(POLLIN)) {
                return -1;
            }
        }
        std::size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        body.read(n);
        moved(n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
        if (dropped_)
            return -1;  // no reply to a client we gave up on
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::send(fd_, ptr + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                moved(static_cast<std::size_t>(n));
            } else if ((errno != EAGAIN && errno != EINTR) || !wait(POLLOUT)) {
                return -1;
            }
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? numericHost(address, port) : "";
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? numericHost(address, port) : "";
    }
    socket_t socket() const override { return fd_; }

    BodyCount body;

private:
    void moved(std::size_t bytes)
    {
        moved_ += bytes;
        if (moved_ >= kProgressBytes)
            madeProgress();
    }
    void madeProgress()
    {
        moved_ = 0;
        waited_ = Clock::duration::zero();
        if (slow_)
            server_.releaseSlowSlot();
        slow_ = false;
    }
    // Polls the connection (and the server's stop signal) for `events`: > 0 ready, 0 timed out, < 0 stopped.
    int poll(short events, std::chrono::milliseconds timeout)
    {
        pollfd fds[2] = {{fd_, events, 0}, {server_.stopFd(), POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(std::max<std::int64_t>(timeout.count(), 0)));
        if (ready > 0 && fds[1].revents) {
            stopped_ = true;
            return -1;
        }
        return ready < 0 && errno == EINTR ? 0 : ready;
    }
    // Waits until the client is ready for `events`, within the connection's limits; false when it must close.
    bool wait(short events)
    {
        const ConnectionLimits& limits = server_.limits();
        for (;;) {
            if (!slow_ && waited_ >= limits.slowAfter) {
                if (!server_.takeSlowSlot())
                    return drop("too many slow connections");
                slow_ = true;
            }
            auto left = (slow_ ? limits.stallLimit : limits.slowAfter) - waited_;
            if (left <= Clock::duration::zero())
                return drop("no progress for " + std::to_string(limits.stallLimit.count()) + " ms");
            const auto began = Clock::now();
            int ready = poll(events, std::chrono::duration_cast<std::chrono::milliseconds>(left) + std::chrono::milliseconds(1));
            waited_ += Clock::now() - began;
            if (ready != 0)
                return ready > 0;
        }
    }
    bool drop(const std::string& why)
    {
        std::string ip;
        int port = 0;
        get_remote_ip_and_port(ip, port);
        logLine("connection from " + ip + ":" + std::to_string(port) + " closed: " + why);
        dropped_ = true;
        return false;
    }

    int fd_;
    HttpServer& server_;
    char buffer_[16384];
    std::size_t pos_ = 0, len_ = 0;
    bool slow_ = false, stopped_ = false, dropped_ = false;
    std::size_t moved_ = 0;
    Clock::duration waited_{};
};

// Requests given as bytes, the replies collected: a connection without a socket.
class MemoryStream : public httplib::Stream {
public:
    explicit MemoryStream(std::string_view input) : input_(input) {}
    bool is_readable() const override { return !input_.empty(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, std::size_t size) override
    {
        std::size_t n = input_.copy(ptr, size);
        input_.remove_prefix(n);
        body.read(n);
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, std::size_t size) override
    {
        output.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 1; }
    void get_local_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 2; }
    socket_t socket() const override { return -1; }

    std::string_view input_;
    std::string output;
    BodyCount body;
};

}  // namespace

HttpServer::HttpServer(ConnectionLimits limits) : limits_(limits)
{
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    // cpp-httplib cuts streamed replies short once its own listening socket is gone, which it never has here:
    // it stands for ours until stop().
    svr_sock_ = stopPipe_[0];
}

HttpServer::~HttpServer()
{
    for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0)
            ::close(fd);
}

int HttpServer::bindTo(const std::string& host, int port, std::string* error)
{
    const std::string address = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
        *error = "cannot listen on " + address + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    int yes = 1;
    // SO_REUSEADDR lets a restarted service bind while old connections linger; unlike SO_REUSEPORT, it never
    // lets a second service listen on the same address.
    bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                 ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
    int bindError = errno;
    freeaddrinfo(found);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (!bound || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        *error = bindError == EADDRINUSE ? address + " is already in use"
                                         : "cannot listen on " + address + ": " + std::strerror(bindError);
        return -1;
    }
    listenFd_ = fd;
    int boundPort = 0;
    numericHost(local, boundPort);
    return boundPort;
}

bool HttpServer::serve()
{
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < limits_.threads; ++i)
        threads.emplace_back([this] { connectionThread(); });
    bool ok = true;
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        if (fds[1].revents)
            break;
        if (!fds[0].revents)
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            else if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
                ok = false;
                break;
            }
            continue;
        }
        std::lock_guard lock(mutex_);
        if (accepted_.size() >= limits_.maxWaiting) {
            ::close(fd);
            continue;
        }
        accepted_.push_back(fd);
        waiting_.notify_one();
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    waiting_.notify_all();
    for (auto& thread : threads)
        thread.join();
    for (int fd : accepted_)
        ::close(fd);
    accepted_.clear();
    return ok;
}

void HttpServer::stop()
{
    svr_sock_ = INVALID_SOCKET;
    char byte = 1;
    if (::write(stopPipe_[1], &byte, 1) < 0 && errno != EAGAIN)
        logLine(std::string("cannot signal the connections to stop: ") + std::strerror(errno));
}

void HttpServer::connectionThread()
{
    for (;;) {
        int fd = -1;
        {
            std::unique_lock lock(mutex_);
            waiting_.wait(lock, [this] { return stopping_ || !accepted_.empty(); });
            if (accepted_.empty())
                return;
            fd = accepted_.front();
            accepted_.pop_front();
        }
        serveConnection(fd);
    }
}

void HttpServer::serveConnection(int fd)
{
    int yes = 1;
    // Headers and body go out in separate writes: without TCP_NODELAY each small reply on a kept-alive
    // connection waits for the client's delayed ACK (about 40 ms a poll here).
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ConnectionStream stream(fd, *this);
    for (std::size_t served = 1; served <= limits_.requestsPerConnection && stream.awaitRequest(); ++served) {
        bool closed = false;
        bool ok = process_request(stream, served == limits_.requestsPerConnection, closed,
                                  [&stream](httplib::Request& req) { stream.headersRead(req); });
        if (!ok || closed || !stream.body.finished())
            break;
    }
    stream.close();
}

std::string HttpServer::handle(std::string_view bytes)
{
    MemoryStream stream(bytes);
    for (std::size_t served = 1; served <= limits_.requestsPerConnection && stream.is_readable(); ++served) {
        bool closed = false;
        stream.body.awaitRequest();
        bool ok = process_request(stream, served == limits_.requestsPerConnection, closed,
                                  [&stream](httplib::Request& req) { stream.body.headersRead(req); });
        if (!ok || closed || !stream.body.finished())
            break;
    }
    return stream.output;
}

bool HttpServer::takeSlowSlot()
{
    std::lock_guard lock(mutex_);
    if (slow_ >= limits_.maxSlow)
        return false;
    ++slow_;
    return true;
}

void HttpServer::releaseSlowSlot()
{
    std::lock_guard lock(mutex_);
    --slow_;
}

}  // namespace unplot::server
