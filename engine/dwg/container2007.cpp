#include "container2007.h"

#include "reedsolomon.h"

#include <stdexcept>

namespace unplot::engine::dwg {

std::vector<std::uint8_t> codeFileHeader2007(const std::vector<std::uint8_t>& body)
{
    const ReedSolomon rs(ReedSolomon::kHeaderData);
    const std::size_t capacity = kFileHeader2007Words * rs.dataBytes();
    const std::size_t padded = (body.size() + 7) / 8 * 8;
    if (padded == 0 || padded > capacity)
        throw std::length_error("2007 file header: body does not fit");

    std::vector<std::uint8_t> data(capacity, 0);
    for (std::size_t copy = 0; (copy + 1) * padded <= capacity; ++copy)
        for (std::size_t i = 0; i < body.size(); ++i)
            data[copy * padded + i] = body[i];

    std::vector<std::uint8_t> coded = rs.encodeInterleaved(data, kFileHeader2007Words);
    coded.resize(kFileHeader2007Size, 0);
    return coded;
}

}  // namespace unplot::engine::dwg
