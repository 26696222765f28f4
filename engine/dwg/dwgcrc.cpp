#include "dwgcrc.h"

namespace unplot::engine::dwg {
namespace {

constexpr std::array<std::uint16_t, 256> makeCrc16Table()
{
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ 0xA001u : c >> 1;
        t[i] = std::uint16_t(c);
    }
    return t;
}

constexpr std::array<std::uint32_t, 256> makeCrc32Table()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<std::uint64_t, 256> makeCrc64Table(bool reflected)
{
    std::array<std::uint64_t, 256> t{};
    for (std::uint64_t i = 0; i < 256; ++i) {
        std::uint64_t c = reflected ? i : i << 56;
        for (int k = 0; k < 8; ++k) {
            if (reflected)
                c = (c & 1u) ? (c >> 1) ^ 0x95AC9329AC4BC9B5u : c >> 1;
            else
                c = (c >> 63) ? (c << 1) ^ 0x42F0E1EBA9EA3693u : c << 1;
        }
        t[i] = c;
    }
    return t;
}

constexpr auto kCrc16 = makeCrc16Table();
constexpr auto kCrc32 = makeCrc32Table();
constexpr auto kCrc64Mirrored = makeCrc64Table(true);
constexpr auto kCrc64Normal = makeCrc64Table(false);

std::uint64_t lcg(std::uint64_t x) { return 214013u * x + 2531011u; }

}  // namespace

std::uint16_t crc16(std::uint16_t seed, const std::uint8_t* data, std::size_t size)
{
    unsigned crc = seed;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kCrc16[(crc ^ data[i]) & 0xffu];
    return std::uint16_t(crc);
}

std::uint32_t crc32(std::uint32_t seed, const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = ~seed;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kCrc32[(crc ^ data[i]) & 0xffu];
    return ~crc;
}

std::uint64_t crc64Mirrored(std::uint64_t init, const std::uint8_t* data, std::size_t size)
{
    std::uint64_t crc = init;
    inWordOrder(data, size, [&](std::uint8_t b) { crc = kCrc64Mirrored[(crc ^ b) & 0xffu] ^ (crc >> 8); });
    return crc;
}

std::uint64_t crc64Normal(std::uint64_t init, const std::uint8_t* data, std::size_t size)
{
    std::uint64_t crc = init;
    inWordOrder(data, size, [&](std::uint8_t b) { crc = kCrc64Normal[((crc >> 56) ^ b) & 0xffu] ^ (crc << 8); });
    return ~crc;
}

std::uint64_t crc64Seed1(std::uint64_t n) { return ~(lcg(n) | lcg(lcg(n)) << 32); }
std::uint64_t crc64Seed2(std::uint64_t n) { return ~((lcg(n) << 32) + lcg(lcg(n)) + n); }

std::uint16_t fileHeaderCrcMask(int locatorCount)
{
    switch (locatorCount) {
    case 3: return 0xA598;
    case 4: return 0x8101;
    case 5: return 0x3CC4;
    case 6: return 0x8461;
    default: return 0;
    }
}

}  // namespace unplot::engine::dwg
