#pragma once
// Pieces of the 2007 (AC1021) file container.

#include "dwgpaged.h"

#include <array>
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

// Where the pages of a 2007 file begin; the page map's offsets count from here.
inline constexpr std::size_t kPages2007Offset = 0x480;
// The decompressed size of a full page of a compressed section, and the zeros that writers of object data leave at
// the end of each page so that every page compresses (object data alone often does not: its bit-packed
// coordinates hardly repeat byte for byte).
inline constexpr std::size_t kPageData2007 = 0xf800;
inline constexpr std::size_t kPageGap2007 = 32;

// The 32-bit checksum of a page's (decompressed) data: the two sums of the 2004 checksum, modulo 65521, seeded
// from the data's size (size * 0x343FD + 0x269EC3, low 16 bits and the 16 above them), over the bytes taken in
// 8-byte blocks in the order 6 7 4 5 2 3 0 1 (a shorter tail of 4 or more: 2 3 0 1, then the rest in order).
std::uint32_t pageChecksum2007(const std::uint8_t* data, std::size_t size);

// The prologue's sequence check for `key` (the prologue holds both): the normal CRC-64 seeded with crc64Seed1(16)
// over le64(key) and le64(key rotated left by key & 31).
std::uint64_t sequenceCheck2007(std::uint64_t key);

// The check data after the coded file header (0x458..0x47F: N, M, r1, r2 and a free word): N and M, which follow
// from r1 and r2 through a chain of rotations and the two CRC-64 kernels.
std::array<std::uint64_t, 2> checkData2007(std::uint64_t r1, std::uint64_t r2);

// The whole 2007 file: the plain 0x80-byte header, the coded file header, from 0x480 the pages of raw sections with
// relocations (whose place must be known first), the page map, the other data pages (compressed sections in
// (255,251)-coded pages, raw ones stored as they are), the section map, each map followed by its copy as real files
// keep them, and a copy of the coded file header and its check data at the end. Every 64-bit
// check is written (the file header record's, the compressed record's, the sequence check, the check data, both
// maps' and every data page's). Sections are named as in 2004 files ("AcDb:Header", ...); `type` is unused.
// A compressed section's last page that does not compress gets zeros appended; any other such page is stored
// uncompressed in pages of one code word each (the one form that every reader reads alike).
std::vector<std::uint8_t> writeFile2007(const std::vector<PagedSection>& sections, const PagedFileInfo& info);

}  // namespace unplot::engine::dwg
