// unplotd's request handling on raw bytes: one or more HTTP requests (keep-alive) read in process by the same
// HTTP layer and endpoints the service runs, against a job store that knows one finished and one waiting job.
// The engine is missing, so an upload that passes every check of its form stops at the page count probe.
// Checked: no request makes the service fail inside a handler (an escaped exception answers "failed to handle").

#include "config.h"
#include "conversionservice.h"
#include "fuzzcheck.h"
#include "httpserver.h"
#include "jobstore.h"
#include "unplotserver.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace unplot::server;

namespace {

constexpr const char* kDoneId = "0123456789abcdef0123456789abcdef";
constexpr const char* kWaitingId = "fedcba9876543210fedcba9876543210";

struct Service {
    fs::path dir;
    ServerConfig config;
    std::unique_ptr<ConversionService> service;
    HttpServer http;

    Service()
    {
        char name[] = "/tmp/unplot-fuzz-service-XXXXXX";
        FUZZ_CHECK(::mkdtemp(name));
        dir = name;
        config.dataDir = dir / "data";
        config.engine = dir / "no-engine";
        config.maxUploadBytes = 1 << 10; // "too large" within reach of small inputs
        config.port = 0;
        fs::create_directories(config.dataDir / "jobs");
        fs::create_directories(config.dataDir / "results");
        {
            SqliteJobStore store(DataPaths{config.dataDir});
            const std::int64_t now = std::time(nullptr);
            auto file = [&](const char* name, const std::string& content) {
                std::ofstream(dir / name, std::ios::binary) << content;
                return dir / name;
            };
            store.add({kDoneId, 10, false, 14, "1", 0, {}}, file(kDoneId, "%PDF-1.7"), 100, now);
            const fs::path archive = file("done.zip", std::string(3000, 'z'));
            store.finish(*store.claimNext(now), {100, "", ""}, &archive, now);
            store.add({kWaitingId, 10, true, 23, "1-2", 0, {}}, file(kWaitingId, "%PDF-1.7"), 100, now);
        }
        service = std::make_unique<ConversionService>(config);
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
    const std::string replies = service.http.handle(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(replies.find("failed to handle the request") == std::string::npos);
    return 0;
}
