// The service under abuse: slow clients, oversized uploads, PDFs that explode, floods of polls.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include "testsupport.h"

namespace unplot::server::test {
namespace {

using namespace std::chrono_literals;

// A raw connection to the server under test, with a receive time-out of 10 s.
struct RawClient {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    explicit RawClient(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~RawClient() { ::close(fd); }
    bool send(const std::string& bytes) { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; }
    std::string receive()  // until the server closes, or the time-out
    {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
};

const std::string kUploadHeaders = "POST /include/ajax.aspx?op=mac_upload HTTP/1.1\r\nHost: x\r\n"
                                   "Content-Type: multipart/form-data; boundary=B\r\n";

TEST_F(ServerTest, SlowClientsBlockNobody)
{
    ServerConfig settings = config(goodEngine());
    settings.connections.threads = 4;
    settings.connections.maxSlow = 2;
    settings.connections.slowAfter = 300ms;
    settings.connections.stallLimit = 2s;
    start(settings);
    // More clients than threads send their upload one byte a second.
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 6; ++i) {
        slow.push_back(std::make_unique<RawClient>(port()));
        slow.back()->send(kUploadHeaders + "Content-Length: 1000\r\n\r\n");
    }
    for (int second = 0; second < 3; ++second) {
        for (auto& client : slow)
            client->send("-");
        if (second == 1) {  // others are served meanwhile
            EXPECT_EQ(waitForEnd(submit())["status"], 100);
        }
        std::this_thread::sleep_for(1s);
    }
    for (auto& client : slow)  // and every slow one was closed by the service, with no reply
        EXPECT_EQ(client->receive(), "");
}

TEST_F(ServerTest, UploadOverTheLimitIsRefusedBeforeItIsRead)
{
    start(config(goodEngine()));
    RawClient client(port());
    client.send(kUploadHeaders + "Content-Length: 10000000000\r\n\r\n--B\r\n");
    std::string reply = client.receive();
    EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply;
    EXPECT_NE(reply.find(R"({"result":"48","message":"The PDF is too large)"), std::string::npos) << reply;
}

// 512 MiB of one string in a content stream, deflated to half a megabyte: one block of a MiB, deflated after a
// full flush, repeated (its checksum at the end is wrong, which readers find only once they have inflated it all).
std::string inflatingPdf()
{
    z_stream z{};
    deflateInit(&z, 9);
    std::string stream, block(1 << 20, 'A');
    auto deflateSome = [&](const std::string& input, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        z.avail_in = static_cast<uInt>(input.size());
        do {
            unsigned char out[65536];
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, flush);
            stream.append(reinterpret_cast<char*>(out), sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    };
    deflateSome("(", Z_NO_FLUSH);
    deflateSome(block, Z_FULL_FLUSH);
    const std::size_t mark = stream.size();
    deflateSome(block, Z_FULL_FLUSH);
    const std::string repeated = stream.substr(mark);
    for (int i = 2; i < 512; ++i)
        stream += repeated;
    deflateSome(") Tj", Z_FINISH);
    deflateEnd(&z);
    std::string pdf = "%PDF-1.7\n";
    std::vector<std::size_t> offsets;
    for (const std::string& object :
         {std::string("<< /Type /Catalog /Pages 2 0 R >>"), std::string("<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
          std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>"),
          "<< /Length " + std::to_string(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream + "\nendstream"}) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + object + "\nendobj\n";
    }
    std::string xref = "xref\n0 5\n0000000000 65535 f \n";
    for (std::size_t offset : offsets)
        xref += std::string(10 - std::to_string(offset).size(), '0') + std::to_string(offset) + " 00000 n \n";
    return pdf + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(pdf.size()) + "\n%%EOF\n";
}

TEST_F(ServerTest, AnExplodingPdfFailsItsJobAndTheServiceAnswers)
{
#ifdef UNPLOT_SANITIZED
    GTEST_SKIP() << "the job's address-space limit leaves AddressSanitizer no room for its shadow memory";
#endif
    start(config(UNPLOT_ENGINE_PATH));
    Form form;
    form.pdf = inflatingPdf();
    std::string id = submit(form);
    EXPECT_TRUE(waitUntil([&] { return client().Get("/healthz") && status(id) != protocol::status::kWaiting; }));
    int end = waitForEnd(id)["status"];
    EXPECT_NE(end, protocol::status::kTimedOut);  // it ends within the limits, whatever the engine makes of it
    EXPECT_NE(end, protocol::status::kCrashed);
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

TEST_F(ServerTest, PollsForUnknownJobsCostNoMemory)
{
#ifdef UNPLOT_SANITIZED
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the resident size says nothing here";
#endif
    start(config(goodEngine()));
    auto flood = [&](int polls) {
        std::vector<std::thread> clients;
        for (int c = 0; c < 4; ++c)
            clients.emplace_back([&, c] {
                httplib::Client client("127.0.0.1", port());
                for (int i = 0; i < polls; ++i) {
                    char id[40];  // well-formed ids and malformed ones
                    std::snprintf(id, sizeof id, i % 2 ? "%032x" : "%x", c * polls + i);
                    auto res = client.Get(std::string(protocol::kQueuePathPrefix) + id);
                    EXPECT_TRUE(res && res->status == 404 && res->body == R"({"num":-2})");
                }
            });
        for (auto& c : clients)
            c.join();
    };
    flood(250);  // warms up the threads and the allocator
    long before = residentKb();
    flood(2500);
    EXPECT_LT(residentKb() - before, 4096) << "kB";
}

}  // namespace
}  // namespace unplot::server::test
