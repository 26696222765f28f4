#include "resultarchive.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <unistd.h>

namespace unplot::engine {
namespace {

// Drawing text compresses well already at the fastest level; the higher ones cost time for little.
constexpr int kCompressionLevel = 1;
constexpr std::uint64_t kZipLimit = std::numeric_limits<std::uint32_t>::max(); // sizes and offsets without Zip64

// Little-endian fields, as zip stores them.
struct Fields {
    std::string bytes;
    Fields& u16(std::uint32_t v)
    {
        bytes += char(v & 0xFF);
        bytes += char((v >> 8) & 0xFF);
        return *this;
    }
    Fields& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
};

constexpr std::uint32_t kUtf8Names = 1u << 11;
constexpr std::uint32_t kDeflate = 8, kStored = 0;
constexpr std::uint32_t kVersionNeeded = 20;          // 2.0: deflate
constexpr std::uint32_t kMadeByUnix = (3u << 8) | 20; // so that the mode below counts
constexpr std::uint32_t kRegularFile0644 = 0100644u << 16;

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

ResultArchive::Member ResultArchive::compress(std::string name, std::string_view content)
{
    if (content.size() >= kZipLimit)
        throw std::runtime_error(name + " would be larger than 4 GB");
    Member m{std::move(name), {}, 0, std::uint32_t(content.size())};
    m.crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
    z_stream z{};
    if (deflateInit2(&z, kCompressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    m.deflated.resize(deflateBound(&z, uLong(content.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = uInt(content.size());
    z.next_out = reinterpret_cast<Bytef*>(m.deflated.data());
    z.avail_out = uInt(m.deflated.size());
    const int result = deflate(&z, Z_FINISH);
    m.deflated.resize(z.total_out);
    m.deflated.shrink_to_fit(); // it waits its turn in memory: a tenth of the drawing, not the whole
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw std::runtime_error("cannot compress " + m.name);
    return m;
}

ResultArchive::Member ResultArchive::store(std::string name, std::string content)
{
    if (content.size() >= kZipLimit)
        throw std::runtime_error(name + " would be larger than 4 GB");
    const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
    const auto size = std::uint32_t(content.size());
    return {std::move(name), std::move(content), crc, size, true};
}

ResultArchive::ResultArchive(std::string path, std::time_t time)
    : path_(std::move(path)), temp_(path_ + ".partial-" + std::to_string(::getpid()))
{
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_)
        throw std::runtime_error(systemError("cannot create " + path_));
    std::tm t{};
    localtime_r(&time, &t);
    if (t.tm_year < 80) // before 1980, which zip cannot date
        t = std::tm{0, 0, 0, 1, 0, 80, 0, 0, 0, 0, nullptr};
    dosTime_ = std::uint16_t((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    dosDate_ = std::uint16_t(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
}

ResultArchive::~ResultArchive()
{
    if (file_) {
        std::fclose(file_);
        std::remove(temp_.c_str());
    }
}

void ResultArchive::write(const std::string& bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        throw std::runtime_error(systemError("cannot write " + path_));
    offset_ += bytes.size();
}

void ResultArchive::add(const Member& m)
{
    const std::uint64_t end = offset_ + 30 + m.name.size() + m.deflated.size();
    if (end + directory_.size() + 46 + m.name.size() + 22 > kZipLimit || count_ == 0xFFFF)
        throw std::runtime_error("the archive would be larger than 4 GB or hold more than 65535 drawings; "
                                 "convert fewer pages at a time");
    Fields common; // what the local header and the directory entry share, from "version needed" on
    common.u16(kVersionNeeded).u16(kUtf8Names).u16(m.stored ? kStored : kDeflate).u16(dosTime_).u16(dosDate_).u32(m.crc);
    common.u32(std::uint32_t(m.deflated.size())).u32(m.size).u16(std::uint32_t(m.name.size()));
    Fields entry;
    entry.u32(0x02014b50).u16(kMadeByUnix).bytes += common.bytes;
    entry.u16(0).u16(0).u16(0).u16(0).u32(kRegularFile0644).u32(std::uint32_t(offset_));
    directory_ += entry.bytes + m.name;
    write(Fields{}.u32(0x04034b50).bytes + common.bytes + Fields{}.u16(0).bytes + m.name);
    write(m.deflated);
    ++count_;
}

void ResultArchive::commit()
{
    const std::uint64_t start = offset_;
    write(directory_);
    Fields end;
    end.u32(0x06054b50).u16(0).u16(0).u16(count_).u16(count_).u32(std::uint32_t(directory_.size()));
    write(end.u32(std::uint32_t(start)).u16(0).bytes);
    const bool flushed = std::fflush(file_) == 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    if (!flushed || closed != 0)
        ec.assign(errno, std::generic_category());
    else
        std::filesystem::rename(temp_, path_, ec);
    if (ec) {
        std::remove(temp_.c_str());
        throw std::runtime_error("cannot write " + path_ + ": " + ec.message());
    }
}

} // namespace unplot::engine
