// unplotd's request handling on raw bytes: one or more HTTP requests (keep-alive) read in process by the same
// HTTP layer and endpoints the service runs, against a job store that knows one finished and one waiting job.
// The engine is missing, so an upload that passes every check of its form stops at the page count probe.
// Checked: no request makes the service fail inside a handler (an escaped exception answers "failed to handle").

#include "config.h"
#include "conversionservice.h"
#include "fuzzcheck.h"
#include "jobstore.h"
#include "unplotserver.h"

#include <httplib.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace unplot::server;

namespace {

constexpr const char* kDoneId = "0123456789abcdef0123456789abcdef";
constexpr const char* kWaitingId = "fedcba9876543210fedcba9876543210";

// The request bytes in, the reply bytes out.
class BufferStream final : public httplib::Stream {
public:
    BufferStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, std::size_t size) override
    {
        const std::size_t n = std::min(size, size_ - offset_);
        std::memcpy(ptr, data_ + offset_, n);
        offset_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, std::size_t size) override
    {
        written.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 8040;
    }
    socket_t socket() const override { return INVALID_SOCKET; }
    bool exhausted() const { return offset_ == size_; }

    std::string written;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

class InProcessServer final : public httplib::Server {
public:
    // Handles requests until the input ends or a request closes the connection; returns the replies.
    std::string handle(const std::uint8_t* data, std::size_t size)
    {
        BufferStream stream(data, size);
        bool closed = false;
        for (int requests = 0; requests < 16 && !closed && !stream.exhausted(); ++requests)
            if (!process_request(stream, false, closed, nullptr))
                break;
        return std::move(stream.written);
    }
};

struct Service {
    fs::path dir;
    ServerConfig config;
    std::unique_ptr<ConversionService> service;
    InProcessServer http;

    Service()
    {
        char name[] = "/tmp/unplot-fuzz-service-XXXXXX";
        FUZZ_CHECK(::mkdtemp(name));
        dir = name;
        config.dataDir = dir / "data";
        config.engine = dir / "no-engine";
        config.maxUploadBytes = 1 << 10; // "too large" within reach of small inputs
        config.port = 0;
        fs::create_directories(config.dataDir);
        {
            JobStore store(config.dataDir / "jobs.sqlite");
            const std::int64_t now = std::time(nullptr);
            store.add({kDoneId, 10, false, 14, "1", 0}, 100, now);
            store.claimNext(now);
            store.finish(kDoneId, 100, "", now);
            store.add({kWaitingId, 10, true, 23, "1-2", 0}, 100, now);
        }
        service = std::make_unique<ConversionService>(config);
        std::ofstream(service->paths().result(kDoneId), std::ios::binary) << std::string(3000, 'z');
        configureHttp(http, *service, config);
    }
    ~Service()
    {
        service.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Service service;
    const std::string replies = service.http.handle(data, size);
    FUZZ_CHECK(replies.find("failed to handle the request") == std::string::npos);
    return 0;
}
