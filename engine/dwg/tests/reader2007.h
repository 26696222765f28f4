#pragma once
// Test reader for the 2007 (AC1021) container: Reed-Solomon coded words and the file header's prefix.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace unplot::engine::dwg::test {

// The data bytes of `words` interleaved (255, dataBytes) code words at `offset`, word after word; nothing when a
// word's parity does not match its data (or the file is too short).
std::optional<std::vector<std::uint8_t>> readCodedWords(const std::vector<std::uint8_t>& file, std::size_t offset,
                                                        std::size_t words, std::size_t dataBytes);

// The first 0x20 bytes of the decoded file header.
struct FileHeader2007Prefix {
    std::uint64_t crc = 0;
    std::uint64_t key = 0;
    std::uint64_t dataCrc = 0;
    std::int32_t compressedSize = 0;  // negative: stored uncompressed, this many bytes
    std::int32_t length2 = 0;
};
FileHeader2007Prefix readFileHeader2007Prefix(const std::vector<std::uint8_t>& data);

// The 2007 LZ77 variant decoded as readers decode it: exactly `expected` bytes out of `size` bytes, or a
// std::runtime_error.
std::vector<std::uint8_t> decompress2007(const std::uint8_t* in, std::size_t size, std::size_t expected);

// A whole 2007 file read as readers read it: the coded file header, the page map, the section map and every
// section's pages, each code word's parity checked. Throws std::runtime_error on anything inconsistent.
struct File2007 {
    std::vector<std::uint64_t> header;                       // the 34 fields of the decoded file header
    std::map<std::string, std::vector<std::uint8_t>> sections;  // by name, decompressed
    std::map<std::string, std::uint64_t> encodings;          // by name: 4 coded and compressed, 1 stored raw
    std::map<std::uint64_t, std::uint64_t> pageAt;           // page id -> file offset
    struct Page {
        std::string section;
        std::uint64_t checksum = 0;      // as the section map gives it
        std::vector<std::uint8_t> data;  // decompressed
    };
    std::vector<Page> pages;  // in section map order
};
File2007 readFile2007(const std::vector<std::uint8_t>& file);

}  // namespace unplot::engine::dwg::test
