#pragma once
// The paged container of R2004 and later files: sections split into pages, each page compressed and framed by an
// encrypted header, a page map and a section map, and the encrypted file header that finds them.

#include <cstdint>
#include <string>
#include <vector>

namespace unplot::engine::dwg {

struct PagedSection {
    std::string name;  // "AcDb:Header", ...
    std::uint32_t type = 0;  // the section's number in the section map
    std::vector<std::uint8_t> data;
    bool compressed = true;  // stored through the LZ77 encoding (else raw pages of pageSize bytes)
    std::uint32_t pageSize = 0x7400;  // largest decompressed page
    std::size_t addressField = 0;     // if not 0: where the file header gives the address of the section's data
    // Raw sections: RL fields of the data that count from its start; the container adds the data's file address.
    std::vector<std::size_t> relocations = {};
};

struct PagedFileInfo {
    std::string magic = "AC1018";
    std::uint8_t maintenance = 0;
    std::uint8_t writerVersion = 0x21, writerMaintenance = 0x1d;
    std::uint16_t codePage = 30;
};

// The 32-bit checksum of pages and their headers (two 16-bit sums modulo 0xFFF1), continuing from `seed`.
std::uint32_t pageChecksum(std::uint32_t seed, const std::uint8_t* data, std::size_t size);

// Data in the LZ77 variant of 2004 and 2010 files, with greedy matching over the data (at most one page). Data of
// fewer than 4 bytes is padded with zeros to the shortest literal run.
std::vector<std::uint8_t> compress2004(const std::uint8_t* data, std::size_t size);

// The plain fields at the start of a 2004 and later file (its first 0x80 bytes are there): version, maintenance
// release, writer, code page.
void putPlainHeader(std::vector<std::uint8_t>& out, const PagedFileInfo& info);

// XORs `size` bytes with the pseudo-random sequence that hides the file header (seeded with 1).
void scrambleFileHeader(std::uint8_t* data, std::size_t size);

// The whole file: the 0x100-byte file header, the data pages in section order, the section map, the page map and
// a copy of the encrypted header at the end.
std::vector<std::uint8_t> writePagedFile(const std::vector<PagedSection>& sections, const PagedFileInfo& info);

}  // namespace unplot::engine::dwg
