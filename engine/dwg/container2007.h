#pragma once
// Pieces of the 2007 (AC1021) file container.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

// The coded file header of a 2007 file, stored at 0x80.
inline constexpr std::size_t kFileHeader2007Offset = 0x80;
inline constexpr std::size_t kFileHeader2007Size = 0x3D8;
// Its three interleaved (255,239) code words: 717 data bytes, 765 coded bytes.
inline constexpr std::size_t kFileHeader2007Words = 3;

// Codes the file header's body (its 0x20-byte prefix of checksums and sizes, then the compressed header data) as a
// 2007 file stores it: the body padded to a multiple of 8, repeated as often as it wholly fits in the 717 data
// bytes, the rest zero, Reed-Solomon (255,239) coded over three interleaved words and padded with zeros to 0x3D8.
// Throws std::length_error when the padded body exceeds 717 bytes.
std::vector<std::uint8_t> codeFileHeader2007(const std::vector<std::uint8_t>& body);

}  // namespace unplot::engine::dwg
