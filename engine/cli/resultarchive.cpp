#include "resultarchive.h"

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace unplot::engine {
namespace {

std::string zipMessage(zip_t* archive)
{
    const char* text = zip_strerror(archive);
    return text ? text : "unknown error";
}

// DXF text compresses well already at the fastest level; the higher ones cost time for little.
constexpr zip_uint32_t kCompressionLevel = 1;

} // namespace

void ResultArchive::add(std::string name, std::string content)
{
    files_.push_back({std::move(name), std::move(content)});
}

void ResultArchive::write(const std::string& path) const
{
    const std::string temp = path + ".partial-" + std::to_string(::getpid());
    int error = 0;
    zip_t* archive = zip_open(temp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const std::string message = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw std::runtime_error("cannot create " + path + ": " + message);
    }
    auto fail = [&](const std::string& what) {
        const std::string message = what + ": " + zipMessage(archive);
        zip_discard(archive);
        std::remove(temp.c_str());
        throw std::runtime_error(message);
    };
    for (const auto& file : files_) {
        zip_source_t* source = zip_source_buffer(archive, file.content.data(), file.content.size(), 0);
        if (!source)
            fail("cannot add " + file.name);
        const zip_int64_t index = zip_file_add(archive, file.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail("cannot add " + file.name);
        }
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, kCompressionLevel);
    }
    if (zip_close(archive) != 0)
        fail("cannot write " + path);
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw std::runtime_error("cannot write " + path + ": " + ec.message());
    }
}

} // namespace unplot::engine
