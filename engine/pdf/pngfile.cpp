#include "pngfile.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace unplot::engine {
namespace {

void put32(std::string& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xFF);
}

void chunk(std::string& out, const char* type, const char* data, std::size_t size)
{
    put32(out, std::uint32_t(size));
    const std::size_t start = out.size();
    out.append(type, 4);
    out.append(data, size);
    put32(out, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(out.data() + start), uInt(size + 4))));
}

// Deflates rows as they are made, into IDAT chunks of at most 1 MiB.
class Idat {
public:
    explicit Idat(std::string& out) : out_(out)
    {
        if (deflateInit(&z_, 6) != Z_OK)
            throw std::runtime_error("PNG: zlib could not start");
    }
    ~Idat() { deflateEnd(&z_); }
    Idat(const Idat&) = delete;
    Idat& operator=(const Idat&) = delete;

    void add(const std::uint8_t* data, std::size_t size) { run(data, size, Z_NO_FLUSH); }
    void finish()
    {
        run(nullptr, 0, Z_FINISH);
        if (!pending_.empty())
            chunk(out_, "IDAT", pending_.data(), pending_.size());
    }

private:
    void run(const std::uint8_t* data, std::size_t size, int flush)
    {
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = uInt(size);
        int result = Z_OK;
        do {
            std::array<char, 65536> buffer;
            z_.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z_.avail_out = uInt(buffer.size());
            result = deflate(&z_, flush);
            if (result == Z_STREAM_ERROR)
                throw std::runtime_error("PNG: zlib failed");
            pending_.append(buffer.data(), buffer.size() - z_.avail_out);
            if (pending_.size() >= (1u << 20)) {
                chunk(out_, "IDAT", pending_.data(), pending_.size());
                pending_.clear();
            }
        } while (z_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    }

    std::string& out_;
    std::string pending_;
    z_stream z_{};
};

std::string header(int width, int height, int depth, int colourType)
{
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("PNG: an image without pixels");
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put32(ihdr, std::uint32_t(width));
    put32(ihdr, std::uint32_t(height));
    ihdr += char(depth);
    ihdr += char(colourType);
    ihdr += std::string(3, '\0'); // deflate, adaptive filtering, no interlace
    chunk(out, "IHDR", ihdr.data(), ihdr.size());
    return out;
}

std::uint8_t paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

} // namespace

std::string encodePng(const PngPixels& px)
{
    static constexpr int kColourType[] = {0, 0, 4, 2, 6};
    if (px.channels < 1 || px.channels > 4)
        throw std::invalid_argument("PNG: 1 to 4 channels");
    std::string out = header(px.width, px.height, 8, kColourType[px.channels]);
    const std::size_t bpp = std::size_t(px.channels), length = std::size_t(px.width) * bpp;
    // Each row with the filter whose bytes, taken as signed, add up to the least: the usual adaptive choice.
    std::vector<std::uint8_t> row(length), up(length, 0), best(length + 1), trial(length + 1);
    Idat idat(out);
    for (int y = 0; y < px.height; ++y) {
        px.row(y, row.data());
        long bestCost = -1;
        for (int filter = 0; filter < 5; ++filter) {
            trial[0] = std::uint8_t(filter);
            long cost = 0;
            for (std::size_t i = 0; i < length; ++i) {
                const int a = i >= bpp ? row[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
                const int predicted = filter == 0   ? 0
                                      : filter == 1 ? a
                                      : filter == 2 ? b
                                      : filter == 3 ? (a + b) / 2
                                                    : paeth(a, b, c);
                const auto v = std::uint8_t(row[i] - predicted);
                trial[i + 1] = v;
                cost += v < 128 ? v : 256 - v;
            }
            if (bestCost < 0 || cost < bestCost) {
                bestCost = cost;
                best.swap(trial);
            }
        }
        idat.add(best.data(), best.size());
        up.swap(row);
    }
    idat.finish();
    chunk(out, "IEND", "", 0);
    return out;
}

std::string encodeBilevelPng(const PngPixels& px, const std::uint32_t* paint)
{
    std::string out = header(px.width, px.height, 1, paint ? 3 : 0);
    if (paint) { // palette: 0 transparent, 1 the colour
        const char palette[6] = {0, 0, 0, char(*paint >> 16), char(*paint >> 8), char(*paint)};
        chunk(out, "PLTE", palette, sizeof palette);
        chunk(out, "tRNS", "\0", 1);
    }
    std::vector<std::uint8_t> row(std::size_t(px.width)), line(1 + (std::size_t(px.width) + 7) / 8);
    Idat idat(out);
    for (int y = 0; y < px.height; ++y) {
        px.row(y, row.data());
        std::fill(line.begin(), line.end(), 0);
        for (std::size_t x = 0; x < row.size(); ++x)
            if (row[x])
                line[1 + x / 8] |= std::uint8_t(0x80 >> (x % 8));
        idat.add(line.data(), line.size());
    }
    idat.finish();
    chunk(out, "IEND", "", 0);
    return out;
}

} // namespace unplot::engine
