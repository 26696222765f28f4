// A minimal HTTP server for the transfer benchmark, on 127.0.0.1 at a free port (printed on the first line of
// standard output). It streams in both directions, so it never holds a whole body in memory:
//   POST /upload                       reads a multipart form; replies {"result":"10","fileId":...,"bytes":N}
//                                      with N the size of the part named convertData
//   GET  /download                     the file given on the command line, with Content-Length
//   GET  /download?chunked=1           the same bytes, chunked
// Usage: unplot-transfer-server FILE
#include <httplib.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kChunkBytes = 1 << 20;

// Hands the file to the sink in chunks from `offset`; false when the file cannot be read.
bool sendFrom(std::ifstream& file, size_t offset, size_t length, httplib::DataSink& sink)
{
    std::vector<char> buffer(kChunkBytes);
    file.seekg(static_cast<std::streamoff>(offset));
    const size_t wanted = length < buffer.size() ? length : buffer.size();
    file.read(buffer.data(), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<size_t>(file.gcount());
    return got > 0 && sink.write(buffer.data(), got);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    size_t fileSize = 0;
    {
        std::ifstream probe(path, std::ios::binary | std::ios::ate);
        if (!probe) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        fileSize = static_cast<size_t>(probe.tellg());
    }

    httplib::Server server;
    server.Post("/upload", [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& read) {
        size_t bytes = 0;
        bool inFile = false;
        read(
            [&](const httplib::MultipartFormData& part) {
                inFile = part.name == "convertData";
                return true;
            },
            [&](const char*, size_t length) {
                if (inFile)
                    bytes += length;
                return true;
            });
        res.set_content("{\"result\":\"10\",\"fileId\":\"bench\",\"bytes\":" + std::to_string(bytes) + "}",
                        "application/json");
    });
    server.Get("/download", [&](const httplib::Request& req, httplib::Response& res) {
        auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
        if (req.get_param_value("chunked") == "1") {
            res.set_chunked_content_provider("application/zip",
                                             [file, fileSize](size_t offset, httplib::DataSink& sink) {
                                                 if (offset >= fileSize) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 return sendFrom(*file, offset, fileSize - offset, sink);
                                             });
        } else {
            res.set_content_provider(fileSize, "application/zip",
                                     [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                         return sendFrom(*file, offset, length, sink);
                                     });
        }
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
