#pragma once
// Checksums of the DWG format and the sentinels that frame its sections.

#include <array>
#include <cstddef>
#include <cstdint>

namespace unplot::engine::dwg {

// The 16-bit checksum of sections and objects (the format calls it CRC-8; it is CRC-16/ARC with a seed).
std::uint16_t crc16(std::uint16_t seed, const std::uint8_t* data, std::size_t size);
// The CRC-32 of R2004 and later (reflected 0xEDB88320), continuing from `seed`.
std::uint32_t crc32(std::uint32_t seed, const std::uint8_t* data, std::size_t size);

// Calls add(byte) for the bytes in the "word order" of the 2007 checks: every aligned 8-byte block as bytes
// 6 7 4 5 2 3 0 1, a 4-byte rest as 2 3 0 1, then what remains in order.
template <typename Add>
void inWordOrder(const std::uint8_t* data, std::size_t size, Add add)
{
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8)
        for (std::size_t i : {6, 7, 4, 5, 2, 3, 0, 1})
            add(data[at + i]);
    if (size - at >= 4) {
        for (std::size_t i : {2, 3, 0, 1})
            add(data[at + i]);
        at += 4;
    }
    for (; at < size; ++at)
        add(data[at]);
}

// The 64-bit checks of 2007 files, each fed the bytes in word order.
// The reflected CRC-64 of polynomial 0xAD93D23594C935A9 from `init`, without a final inversion.
std::uint64_t crc64Mirrored(std::uint64_t init, const std::uint8_t* data, std::size_t size);
// The CRC-64 of polynomial 0x42F0E1EBA9EA3693, most significant bit first, from `init`, inverted at the end.
std::uint64_t crc64Normal(std::uint64_t init, const std::uint8_t* data, std::size_t size);
// Their seeds, derived from a length n through L(x) = 214013 x + 2531011 (mod 2^64):
// seed1 = ~(L(n) | L(L(n)) << 32), seed2 = ~((L(n) << 32) + L(L(n)) + n).
std::uint64_t crc64Seed1(std::uint64_t n);
std::uint64_t crc64Seed2(std::uint64_t n);

// Seed of object, header, class and object-map checksums.
inline constexpr std::uint16_t kCrcSeed = 0xC0C1;

using Sentinel = std::array<std::uint8_t, 16>;
inline constexpr Sentinel kFileHeaderEnd = {0x95, 0xA0, 0x4E, 0x28, 0x99, 0x82, 0x1A, 0xE5,
                                            0x5E, 0x41, 0xE0, 0x5F, 0x9D, 0x3A, 0x4D, 0x00};
inline constexpr Sentinel kHeaderVarsBegin = {0xCF, 0x7B, 0x1F, 0x23, 0xFD, 0xDE, 0x38, 0xA9,
                                              0x5F, 0x7C, 0x68, 0xB8, 0x4E, 0x6D, 0x33, 0x5F};
inline constexpr Sentinel kHeaderVarsEnd = {0x30, 0x84, 0xE0, 0xDC, 0x02, 0x21, 0xC7, 0x56,
                                            0xA0, 0x83, 0x97, 0x47, 0xB1, 0x92, 0xCC, 0xA0};
inline constexpr Sentinel kClassesBegin = {0x8D, 0xA1, 0xC4, 0xB8, 0xC4, 0xA9, 0xF8, 0xC5,
                                           0xC0, 0xDC, 0xF4, 0x5F, 0xE7, 0xCF, 0xB6, 0x8A};
inline constexpr Sentinel kClassesEnd = {0x72, 0x5E, 0x3B, 0x47, 0x3B, 0x56, 0x07, 0x3A,
                                         0x3F, 0x23, 0x0B, 0xA0, 0x18, 0x30, 0x49, 0x75};
inline constexpr Sentinel kSecondHeaderBegin = {0xD4, 0x7B, 0x21, 0xCE, 0x28, 0x93, 0x9F, 0xBF,
                                                0x53, 0x24, 0x40, 0x09, 0x12, 0x3C, 0xAA, 0x01};
inline constexpr Sentinel kSecondHeaderEnd = {0x2B, 0x84, 0xDE, 0x31, 0xD7, 0x6C, 0x60, 0x40,
                                              0xAC, 0xDB, 0xBF, 0xF6, 0xED, 0xC3, 0x55, 0xFE};

// The file header's checksum is xor-ed with a value that depends on the number of section locators.
std::uint16_t fileHeaderCrcMask(int locatorCount);

}  // namespace unplot::engine::dwg
