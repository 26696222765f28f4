#include "reader2007.h"

#include "reedsolomon.h"

#include <algorithm>
#include <stdexcept>
#include <string>

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

namespace unplot::engine::dwg::test {
namespace {

// A literal run as stored: 32-byte blocks with their quarters reversed, then a tail laid out per its length.
void copyLiterals(std::vector<std::uint8_t>& out, const std::uint8_t* src, std::size_t n)
{
    while (n >= 32) {
        for (int q = 3; q >= 0; --q)
            out.insert(out.end(), src + q * 8, src + q * 8 + 8);
        src += 32;
        n -= 32;
    }
    // Each tail as pieces (length, offset); 2 and 3 reverse, 16 swaps its halves.
    static const std::vector<std::vector<std::pair<int, int>>> tails = {
        {}, {{1, 0}}, {{2, 0}}, {{3, 0}}, {{4, 0}}, {{1, 4}, {4, 0}}, {{1, 5}, {4, 1}, {1, 0}},
        {{2, 5}, {4, 1}, {1, 0}}, {{8, 0}}, {{1, 8}, {8, 0}}, {{1, 9}, {8, 1}, {1, 0}}, {{2, 9}, {8, 1}, {1, 0}},
        {{4, 8}, {8, 0}}, {{1, 12}, {4, 8}, {8, 0}}, {{1, 13}, {4, 9}, {8, 1}, {1, 0}},
        {{2, 13}, {4, 9}, {8, 1}, {1, 0}}, {{16, 0}}, {{8, 9}, {1, 8}, {8, 0}}, {{1, 17}, {16, 1}, {1, 0}},
        {{3, 16}, {16, 0}}, {{4, 16}, {16, 0}}, {{1, 20}, {4, 16}, {16, 0}}, {{2, 20}, {4, 16}, {16, 0}},
        {{3, 20}, {4, 16}, {16, 0}}, {{8, 16}, {16, 0}}, {{8, 17}, {1, 16}, {16, 0}},
        {{1, 25}, {8, 17}, {1, 16}, {16, 0}}, {{2, 25}, {8, 17}, {1, 16}, {16, 0}}, {{4, 24}, {8, 16}, {16, 0}},
        {{1, 28}, {4, 24}, {8, 16}, {16, 0}}, {{2, 28}, {4, 24}, {8, 16}, {16, 0}},
        {{1, 30}, {4, 26}, {8, 18}, {16, 2}, {2, 0}}};
    for (auto [len, at] : tails[n]) {
        const std::uint8_t* p = src + at;
        if (len == 2 || len == 3) {
            for (int k = len - 1; k >= 0; --k)
                out.push_back(p[k]);
        } else if (len == 16) {
            out.insert(out.end(), p + 8, p + 16);
            out.insert(out.end(), p, p + 8);
        } else {
            out.insert(out.end(), p, p + len);
        }
    }
}

}  // namespace

std::vector<std::uint8_t> decompress2007(const std::uint8_t* in, std::size_t size, std::size_t expected)
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    auto next = [&]() -> std::uint32_t {
        if (i >= size)
            throw std::runtime_error("2007 stream: truncated");
        return in[i++];
    };
    auto literalLength = [&](std::uint32_t op) {
        std::size_t n = op + 8;
        if (n == 0x17) {
            std::size_t b = next();
            n += b;
            if (b == 0xff) {
                do {
                    b = next();
                    b |= next() << 8;
                    n += b;
                } while (b == 0xffff);
            }
        }
        return n;
    };
    // One back reference from opcode `op`; returns the opcode's successor (whose low bits count literals).
    auto reference = [&](std::uint32_t op) {
        std::size_t length = 0, offset = 0;
        switch (op >> 4) {
        case 0: {
            length = (op & 0x0f) + 0x13;
            offset = next();
            op = next();
            length += (op >> 3) & 0x10;
            offset += ((op & 0x78) << 5) + 1;
            break;
        }
        case 1: {
            length = (op & 0x0f) + 3;
            offset = next();
            op = next();
            offset += ((op & 0xf8) << 5) + 1;
            break;
        }
        case 2: {
            offset = next();
            offset |= next() << 8;
            length = op & 7;
            if ((op & 8) == 0) {
                op = next();
                length += op & 0xf8;
            } else {
                ++offset;
                length += next() << 3;
                op = next();
                length += ((op & 0xf8) << 8) + 0x100;
            }
            break;
        }
        default: {
            length = op >> 4;
            offset = op & 0x0f;
            op = next();
            offset += ((op & 0xf8) << 1) + 1;
        }
        }
        if (offset == 0 || offset > out.size() || out.size() + length > expected)
            throw std::runtime_error("2007 stream: reference out of range");
        for (std::size_t k = 0; k < length; ++k)
            out.push_back(out[out.size() - offset]);
        return op;
    };

    std::uint32_t op = next();
    std::size_t literals = 0;
    if ((op & 0xf0) == 0x20) {
        next();
        next();
        literals = next() & 7;
        if (literals == 0)
            throw std::runtime_error("2007 stream: empty first run");
    }
    while (i < size) {
        if (literals == 0)
            literals = literalLength(op);
        if (i + literals > size || out.size() + literals > expected)
            throw std::runtime_error("2007 stream: literal run out of range");
        copyLiterals(out, in + i, literals);
        i += literals;
        if (i >= size)
            break;
        op = reference(next());
        for (;;) {
            literals = op & 7;
            if (literals != 0 || i >= size)
                break;
            op = next();
            if ((op >> 4) == 0)
                break;
            if ((op >> 4) == 0x0f)
                op &= 0x0f;
            op = reference(op);
        }
    }
    if (out.size() != expected)
        throw std::runtime_error("2007 stream: " + std::to_string(out.size()) + " bytes, expected " +
                                 std::to_string(expected));
    return out;
}

}  // namespace unplot::engine::dwg::test

namespace unplot::engine::dwg::test {
namespace {

std::uint64_t rll(const std::vector<std::uint8_t>& d, std::size_t at)
{
    if (at + 8 > d.size())
        throw std::runtime_error("2007 file: read past the end of a map");
    return le(d, at, 8);
}

std::size_t round8(std::size_t v) { return (v + 7) / 8 * 8; }

// A page map or section map: (255,239) words holding the compressed data `correction` times over.
std::vector<std::uint8_t> systemPage(const std::vector<std::uint8_t>& file, std::size_t offset, std::size_t compressed,
                                     std::size_t size, std::size_t correction)
{
    const std::size_t padded = round8(compressed);
    const std::size_t words = (padded * correction + 238) / 239;
    const auto data = readCodedWords(file, offset, words, 239);
    if (!data)
        throw std::runtime_error("2007 file: a system page's parity does not check");
    for (std::size_t c = 1; c < correction; ++c)
        if (!std::equal(data->begin(), data->begin() + std::ptrdiff_t(compressed),
                        data->begin() + std::ptrdiff_t(c * padded)))
            throw std::runtime_error("2007 file: a system page's copies differ");
    if (compressed < size)
        return decompress2007(data->data(), compressed, size);
    return {data->begin(), data->begin() + std::ptrdiff_t(size)};
}

}  // namespace

File2007 readFile2007(const std::vector<std::uint8_t>& file)
{
    File2007 out;
    const auto coded = readCodedWords(file, 0x80, 3, 239);
    if (!coded)
        throw std::runtime_error("2007 file: the file header's parity does not check");
    const FileHeader2007Prefix prefix = readFileHeader2007Prefix(*coded);
    if (prefix.compressedSize <= 0 || std::size_t(prefix.compressedSize) > coded->size() - 0x20)
        throw std::runtime_error("2007 file: bad file header size");
    const auto header = decompress2007(coded->data() + 0x20, std::size_t(prefix.compressedSize), 0x110);
    for (std::size_t i = 0; i < 34; ++i)
        out.header.push_back(rll(header, i * 8));
    const std::vector<std::uint64_t>& h = out.header;
    if (h[1] != file.size())
        throw std::runtime_error("2007 file: the header gives another file size");

    const auto pageMap = systemPage(file, 0x480 + h[7], h[10], h[11], h[3]);
    std::uint64_t at = 0x480;
    std::size_t entries = 0;
    for (std::size_t i = 0; i + 16 <= pageMap.size(); i += 16, ++entries) {
        const std::uint64_t size = rll(pageMap, i), id = rll(pageMap, i + 8);
        if (!out.pageAt.emplace(id, at).second)
            throw std::runtime_error("2007 file: page id " + std::to_string(id) + " twice");
        at += size;
    }
    if (entries != h[12] || out.pageAt.rbegin()->first != h[13] || at > file.size())
        throw std::runtime_error("2007 file: the page map does not match the header");
    if (!std::equal(file.begin() + 0x80, file.begin() + 0x480, file.begin() + std::ptrdiff_t(0x480 + h[9])))
        throw std::runtime_error("2007 file: the header's copy differs");

    const auto sectionMap = systemPage(file, out.pageAt.at(h[24]), h[22], h[25], h[27]);
    std::size_t sections = 0;
    for (std::size_t i = 0; i < sectionMap.size(); ++sections) {
        const std::uint64_t size = rll(sectionMap, i), nameBytes = rll(sectionMap, i + 32);
        const std::uint64_t encoding = rll(sectionMap, i + 48), pages = rll(sectionMap, i + 56);
        i += 64;
        std::string name;
        for (std::size_t k = 0; k + 2 < nameBytes; k += 2)
            name.push_back(char(sectionMap.at(i + k)));
        i += nameBytes;
        std::vector<std::uint8_t> data(size, 0);
        for (std::uint64_t p = 0; p < pages; ++p, i += 56) {
            const std::uint64_t offset = rll(sectionMap, i), id = rll(sectionMap, i + 16);
            const std::uint64_t checksum = rll(sectionMap, i + 40);
            const std::size_t plain = rll(sectionMap, i + 24), packed = rll(sectionMap, i + 32);
            if (offset + plain > size)
                throw std::runtime_error("2007 file: a page of " + name + " overruns its section");
            const std::size_t from = out.pageAt.at(id);
            std::vector<std::uint8_t> bytes;
            if (encoding == 1) {  // stored raw
                if (packed != plain || from + plain > file.size())
                    throw std::runtime_error("2007 file: a raw page of " + name + " is inconsistent");
                bytes.assign(file.begin() + std::ptrdiff_t(from), file.begin() + std::ptrdiff_t(from + plain));
            } else {  // coded; compressed unless it says otherwise
                const auto words = readCodedWords(file, from, (round8(packed) + 250) / 251, 251);
                if (!words)
                    throw std::runtime_error("2007 file: a page of " + name + " fails its parity");
                if (packed < plain)
                    bytes = decompress2007(words->data(), packed, plain);
                else
                    bytes.assign(words->begin(), words->begin() + std::ptrdiff_t(plain));
            }
            std::copy(bytes.begin(), bytes.end(), data.begin() + std::ptrdiff_t(offset));
            out.pages.push_back({name, checksum, std::move(bytes)});
        }
        if (!name.empty()) {
            out.sections[name] = std::move(data);
            out.encodings[name] = encoding;
        }
    }
    if (sections != h[20])
        throw std::runtime_error("2007 file: the section map does not match the header");
    return out;
}

}  // namespace unplot::engine::dwg::test
