#pragma once
// A small reader of R2004 and later paged files for the tests: the sections by name, decompressed, and the objects
// by handle. It follows the format's documentation and knows nothing of our writer.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace unplot::engine::dwg::test {

using Bytes = std::vector<std::uint8_t>;

// The LZ77 encoding of the data pages, fully (matches as well as literal runs).
Bytes decompress(const std::uint8_t* in, std::size_t size, std::size_t expected);

struct PagedFile {
    std::map<std::string, Bytes> sections;  // "AcDb:Header", ...
    std::map<std::uint64_t, std::size_t> objectAt;  // handle -> offset in AcDb:AcDbObjects
};

// Throws std::runtime_error on anything it does not understand.
PagedFile readPagedFile(const Bytes& file);

// The object at `offset` of the objects section: its MS size, (R2010 and later) the UMC size of its handle stream,
// body and CRC.
Bytes objectBytes(const Bytes& objects, std::size_t offset, bool r2010);

}  // namespace unplot::engine::dwg::test
