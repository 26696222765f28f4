#pragma once
// The LZ77 variant of 2007 (AC1021) files: literal runs stored in a shuffled byte order, back references of four
// instruction forms, and the count of the literals that follow a reference folded into its last byte.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

// `size` bytes (at least one) in that encoding, with greedy matching over the last 64 KiB. The result may be longer
// than the input when the data does not repeat itself.
std::vector<std::uint8_t> compress2007(const std::uint8_t* data, std::size_t size);

// Where byte i of a literal run of `size` bytes is stored, relative to the run's start: runs are stored in 32-byte
// blocks (their four 8-byte quarters in reverse order), then a tail of up to 31 bytes in an order of its own.
std::size_t literalSlot2007(std::size_t size, std::size_t i);

}  // namespace unplot::engine::dwg
