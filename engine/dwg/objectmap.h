#pragma once
// The object map of R13 to R2000 files: where each handle's object starts in the file.

#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

struct MapEntry {
    std::uint64_t handle = 0;
    std::int64_t offset = 0;  // file offset of the object's size field
};

// Largest object-map page, its two size bytes included (the checksum follows it).
inline constexpr std::size_t kMaxMapPage = 2032;

// The map's bytes: pages of (big-endian RS size, MC handle delta, MC offset delta...) each followed by its big-endian
// checksum, deltas restarting from zero on every page, then an empty page. Entries must be sorted by handle.
std::vector<std::uint8_t> writeObjectMap(const std::vector<MapEntry>& entries);

}  // namespace unplot::engine::dwg
