#include "reader2007.h"

#include "reedsolomon.h"

#include <algorithm>

namespace unplot::engine::dwg::test {

std::optional<std::vector<std::uint8_t>> readCodedWords(const std::vector<std::uint8_t>& file, std::size_t offset,
                                                        std::size_t words, std::size_t dataBytes)
{
    if (file.size() < offset + words * ReedSolomon::kWordSize)
        return std::nullopt;
    const ReedSolomon rs(dataBytes);
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> word(ReedSolomon::kWordSize);
    std::vector<std::uint8_t> parity(rs.parityBytes());
    for (std::size_t w = 0; w < words; ++w) {
        for (std::size_t i = 0; i < ReedSolomon::kWordSize; ++i)
            word[i] = file[offset + i * words + w];
        rs.parity(word.data(), parity.data());
        if (!std::equal(parity.begin(), parity.end(), word.begin() + std::ptrdiff_t(dataBytes)))
            return std::nullopt;
        data.insert(data.end(), word.begin(), word.begin() + std::ptrdiff_t(dataBytes));
    }
    return data;
}

namespace {

std::uint64_t le(const std::vector<std::uint8_t>& d, std::size_t at, std::size_t bytes)
{
    std::uint64_t v = 0;
    for (std::size_t i = bytes; i-- > 0;)
        v = (v << 8) | d.at(at + i);
    return v;
}

}  // namespace

FileHeader2007Prefix readFileHeader2007Prefix(const std::vector<std::uint8_t>& data)
{
    FileHeader2007Prefix p;
    p.crc = le(data, 0, 8);
    p.key = le(data, 8, 8);
    p.dataCrc = le(data, 16, 8);
    p.compressedSize = std::int32_t(std::uint32_t(le(data, 24, 4)));
    p.length2 = std::int32_t(std::uint32_t(le(data, 28, 4)));
    return p;
}

}  // namespace unplot::engine::dwg::test
