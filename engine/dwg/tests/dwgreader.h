#pragma once
// A reader of whole DWG files for the tests, written from the format and knowing nothing of our writer: R14 and
// 2000 (sections found through the file header's locators), 2004 and 2010 (encrypted header, page and section maps,
// pages in the 2004 LZ77 variant) and 2007 (Reed-Solomon coded header, maps and pages in the 2007 LZ77 variant).
// It checks every checksum, CRC, sentinel and copy it passes, and throws std::runtime_error at the first fault.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace unplot::engine::dwg::test {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path);  // empty when the file cannot be read
Bytes noise(std::size_t n, unsigned seed);  // bytes that never repeat themselves: data that does not compress
// A reference drawing of ../shared/dwg-samples (example_r14.dwg, example_2000.dwg ...), empty when absent.
Bytes sample(const std::string& name);

// The two LZ77 variants decoded as readers decode them: exactly `expected` bytes (2004: at most) out of `size`.
Bytes decompress2004(const std::uint8_t* in, std::size_t size, std::size_t expected);
Bytes decompress2007(const std::uint8_t* in, std::size_t size, std::size_t expected);

// The data bytes of `words` interleaved (255, dataBytes) code words at `offset`; nothing when a parity does not
// match.
std::optional<Bytes> readCodedWords(const Bytes& file, std::size_t offset, std::size_t words, std::size_t dataBytes);

// The object map: handle -> offset (in the file up to 2000, in AcDb:AcDbObjects from 2004 on).
std::map<std::uint64_t, std::int64_t> readObjectMap(const Bytes& map);
// The object at `offset`: MS size, (2010) the UMC size of its handle stream, body and CRC, the CRC checked.
Bytes objectBytes(const Bytes& objects, std::size_t offset, bool r2010);

struct DwgFile {
    std::string magic;
    std::map<std::string, Bytes> sections;  // "AcDb:Header", ... (up to 2000 "AcDb:AcDbObjects" is the whole file)
    std::map<std::string, std::size_t> locators;  // up to 2000: section -> locator number
    std::map<std::uint64_t, std::int64_t> objectAt;
    std::vector<std::uint64_t> header;  // 2007: the 34 fields of the file header record
    Bytes prologue;                      // 2007: the decoded file header's first 0x20 bytes
    std::map<std::string, std::uint64_t> encodings;  // 2007: 4 coded and compressed, 1 stored
    struct Page {
        std::string section;
        std::uint64_t id = 0, at = 0;  // file offset
        std::size_t stored = 0;        // bytes of payload in the file (compressed or not)
        Bytes data;                    // decompressed
    };
    std::vector<Page> pages;  // 2004 and later, in section map order
};
DwgFile readDwg(const Bytes& file);

}  // namespace unplot::engine::dwg::test
