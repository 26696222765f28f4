#include "dwgreader.h"

#include "compress2007.h"
#include "container2007.h"
#include "dwgcrc.h"
#include "dwgpaged.h"
#include "reedsolomon.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace unplot::engine::dwg::test {
namespace {

void need(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what);
}

std::uint64_t le(const Bytes& d, std::size_t at, std::size_t bytes)
{
    need(at + bytes <= d.size(), "read past the end");
    std::uint64_t v = 0;
    for (std::size_t i = bytes; i-- > 0;)
        v = (v << 8) | d[at + i];
    return v;
}
std::uint32_t rl(const Bytes& d, std::size_t at) { return std::uint32_t(le(d, at, 4)); }
std::uint64_t rll(const Bytes& d, std::size_t at) { return le(d, at, 8); }
Bytes slice(const Bytes& d, std::size_t at, std::size_t n)
{
    need(at + n <= d.size(), "slice past the end");
    return Bytes(d.begin() + std::ptrdiff_t(at), d.begin() + std::ptrdiff_t(at + n));
}
bool sentinelAt(const Bytes& d, std::size_t at, const Sentinel& s)
{
    return at + s.size() <= d.size() && std::equal(s.begin(), s.end(), d.begin() + std::ptrdiff_t(at));
}
std::size_t round8(std::size_t v) { return (v + 7) / 8 * 8; }

// R13 to R2000: file header locators, framed sections, object map, second header, objects.
void readFlat(const Bytes& f, DwgFile& out)
{
    const std::uint32_t count = rl(f, 0x15);
    need(count == 5 || count == 6, "locator count");
    const std::size_t crcAt = 0x19 + 9 * count;
    need(le(f, crcAt, 2) == (crc16(0, f.data(), crcAt) ^ fileHeaderCrcMask(int(count))), "file header CRC");
    need(sentinelAt(f, crcAt + 2, kFileHeaderEnd), "file header sentinel");
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        need(f.at(0x19 + 9 * i) == i, "locator number");
        at[i] = {rl(f, 0x1a + 9 * i), rl(f, 0x1e + 9 * i)};
    }
    const char* names[] = {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "", "AcDb:Template", "AcDb:AuxHeader"};
    for (std::uint32_t i = 0; i < count; ++i)
        if (at[i].second != 0) {
            out.sections[names[i]] = slice(f, at[i].first, at[i].second);
            out.locators[names[i]] = i;
        }
    const std::pair<Sentinel, Sentinel> framing[] = {{kHeaderVarsBegin, kHeaderVarsEnd}, {kClassesBegin, kClassesEnd}};
    for (int s = 0; s < 2; ++s) {
        const Bytes& d = out.sections.at(names[s]);
        need(sentinelAt(d, 0, framing[s].first), std::string(names[s]) + " begin sentinel");
        const std::uint32_t n = rl(d, 16);
        need(le(d, 20 + n, 2) == crc16(kCrcSeed, d.data() + 16, 4 + n), std::string(names[s]) + " CRC");
        need(sentinelAt(d, 22 + n, framing[s].second) && d.size() == 38 + n, std::string(names[s]) + " end");
    }
    const std::size_t second = at[2].first + at[2].second;
    need(sentinelAt(f, second, kSecondHeaderBegin), "second header sentinel");
    const std::uint32_t n = rl(f, second + 16);
    need(le(f, second + 16 + n - 10, 2) == crc16(kCrcSeed, f.data() + second + 16, n - 10), "second header CRC");
    need(sentinelAt(f, second + 16 + n, kSecondHeaderEnd), "second header end sentinel");
    const std::uint32_t image = rl(f, 0x0d);
    out.sections["AcDb:Preview"] = slice(f, image, 20 + rl(f, image + 16) + 16);
    out.sections["AcDb:AcDbObjects"] = f;
}

// A system page of 2004 files: type, sizes, compression and checksum, then the data.
Bytes systemPage2004(const Bytes& f, std::size_t at, std::uint32_t type)
{
    Bytes header = slice(f, at, 20);
    need(rl(header, 0) == type, "system page type");
    const std::uint32_t size = rl(header, 4), packed = rl(header, 8), sum = rl(header, 16);
    std::fill(header.begin() + 16, header.end(), 0);
    need(f.size() >= at + 20 + packed, "system page past the end");
    need(pageChecksum(pageChecksum(0, header.data(), 20), f.data() + at + 20, packed) == sum, "system page checksum");
    return decompress2004(f.data() + at + 20, packed, size);
}

void readPaged2004(const Bytes& f, DwgFile& out)
{
    Bytes h = slice(f, 0x80, 0x6c);
    scrambleFileHeader(h.data(), h.size());
    need(std::string(h.begin(), h.begin() + 11) == "AcFssFcAJMB", "file header id");
    const std::uint32_t crc = rl(h, 0x68);
    std::fill(h.begin() + 0x68, h.end(), 0);
    need(crc32(0, h.data(), h.size()) == crc, "file header CRC");
    need(slice(f, std::size_t(rll(h, 0x34)), 0x6c) == slice(f, 0x80, 0x6c), "file header copy");

    const Bytes pageMap = systemPage2004(f, std::size_t(rll(h, 0x54) + 0x100), 0x41630e3b);
    std::map<std::int64_t, std::uint64_t> pageAt;
    std::uint64_t address = 0x100;
    for (std::size_t i = 0; i + 8 <= pageMap.size();) {
        const auto id = std::int32_t(rl(pageMap, i));
        pageAt[id] = address;
        address += rl(pageMap, i + 4);
        i += id < 0 ? 24 : 8;  // a gap has four more fields
    }
    const Bytes map = systemPage2004(f, std::size_t(pageAt.at(rl(h, 0x5c))), 0x4163003b);
    std::size_t p = 20;
    for (std::uint32_t s = 0, count = rl(map, 0); s < count; ++s) {
        const std::uint64_t size = rll(map, p);
        const std::uint32_t pages = rl(map, p + 8), maxSize = rl(map, p + 12), compressed = rl(map, p + 20);
        const std::uint32_t number = rl(map, p + 24);
        const std::string name(reinterpret_cast<const char*>(&map.at(p + 32)));
        p += 96;
        Bytes data(std::size_t(std::max<std::uint64_t>(size, std::uint64_t(pages) * maxSize)), 0);
        for (std::uint32_t i = 0; i < pages; ++i, p += 16) {
            const std::uint64_t at = pageAt.at(std::int32_t(rl(map, p)));
            const std::uint64_t start = rll(map, p + 8);
            Bytes header = slice(f, at, 32);
            for (std::size_t k = 0; k < 32; ++k)
                header[k] ^= std::uint8_t((0x4164536bu ^ std::uint32_t(at)) >> (8 * (k % 4)));
            need(rl(header, 0) == 0x4163043b && rl(header, 4) == number, name + ": page header");
            need(rll(header, 16) == start, name + ": page start");
            const std::uint32_t stored = rl(header, 8), headerSum = rl(header, 24), dataSum = rl(header, 28);
            need(stored == rl(map, p + 4), name + ": page size");
            need(f.size() >= at + 32 + stored, name + ": page past the end");
            need(pageChecksum(0, f.data() + at + 32, stored) == dataSum, name + ": page data checksum");
            std::fill(header.begin() + 24, header.begin() + 28, 0);
            need(pageChecksum(dataSum, header.data(), 32) == headerSum, name + ": page header checksum");
            Bytes page = compressed == 2 ? decompress2004(f.data() + at + 32, stored, maxSize) : slice(f, at + 32, stored);
            need(start + page.size() <= data.size(), name + ": page beyond its section");
            std::copy(page.begin(), page.end(), data.begin() + std::ptrdiff_t(start));
            out.pages.push_back({name, std::uint64_t(rl(map, p)), at, stored, std::move(page)});
        }
        data.resize(std::size_t(size));
        if (!name.empty())
            out.sections[name] = std::move(data);
    }
}

// 2007: a page map or section map, (255,239) coded, `correction` copies of the compressed data; both CRCs checked.
Bytes systemPage2007(const Bytes& f, std::size_t at, std::size_t packed, std::size_t size, std::size_t correction,
                     std::uint64_t packedCrc, std::uint64_t crc)
{
    const std::size_t padded = round8(packed);
    const auto data = readCodedWords(f, at, (padded * correction + 238) / 239, 239);
    need(data.has_value(), "2007 system page parity");
    for (std::size_t c = 1; c < correction; ++c)
        need(std::equal(data->begin(), data->begin() + std::ptrdiff_t(packed),
                        data->begin() + std::ptrdiff_t(c * padded)),
             "2007 system page copies differ");
    Bytes plain = packed < size ? decompress2007(data->data(), packed, size) : slice(*data, 0, size);
    need(crc64Mirrored(crc64Seed1(packed), data->data(), packed) == packedCrc, "2007 system page CRC (compressed)");
    need(crc64Mirrored(crc64Seed1(size), plain.data(), size) == crc, "2007 system page CRC");
    return plain;
}

void readFile2007(const Bytes& f, DwgFile& out)
{
    const auto coded = readCodedWords(f, 0x80, 3, 239);
    need(coded.has_value(), "2007 file header parity");
    out.prologue = slice(*coded, 0, 0x20);
    const auto packed = std::int32_t(rl(*coded, 0x18));
    need(packed > 0 && std::size_t(packed) <= coded->size() - 0x20, "2007 file header size");
    need(sequenceCheck2007(rll(*coded, 8)) == rll(*coded, 0), "2007 sequence check");
    need(crc64Normal(crc64Seed2(std::uint64_t(packed)), coded->data() + 0x20, std::size_t(packed)) == rll(*coded, 16),
         "2007 compressed header check");
    Bytes record = decompress2007(coded->data() + 0x20, std::size_t(packed), 0x110);
    for (std::size_t i = 0; i < 34; ++i)
        out.header.push_back(rll(record, i * 8));
    std::fill(record.begin() + 0x108, record.end(), 0);
    need(crc64Normal(crc64Seed2(0x110), record.data(), 0x110) == out.header[33], "2007 header record CRC");
    const std::vector<std::uint64_t>& h = out.header;
    need(h[1] == f.size(), "2007 file size");
    need(slice(f, 0x480 + h[9], 0x400) == slice(f, 0x80, 0x400), "2007 file header copy");

    need(checkData2007(rll(f, 0x468), rll(f, 0x470)) == std::array{rll(f, 0x458), rll(f, 0x460)}, "2007 check data");

    const Bytes pageMap = systemPage2007(f, 0x480 + h[7], h[10], h[11], h[3], h[2], h[16]);
    std::map<std::uint64_t, std::uint64_t> pageAt;
    std::uint64_t at = 0x480;
    for (std::size_t i = 0; i + 16 <= pageMap.size(); i += 16) {
        need(pageAt.emplace(rll(pageMap, i + 8), at).second, "2007 page id twice");
        at += rll(pageMap, i);
    }
    need(pageAt.size() == h[12] && pageAt.rbegin()->first == h[13] && at <= f.size(), "2007 page map");
    const std::size_t mapAt = pageAt.at(h[24]);
    const Bytes map = systemPage2007(f, mapAt, h[22], h[25], h[27], h[26], h[21]);
    // The maps' copies, where the header gives them.
    if (h[6] != 0)
        need(pageAt.at(h[6]) == 0x480 + h[5] && slice(f, 0x480 + h[5], 0x100) == slice(f, 0x480 + h[7], 0x100),
             "2007 page map copy");
    if (h[23] != 0)
        need(slice(f, pageAt.at(h[23]), 0x100) == slice(f, mapAt, 0x100), "2007 section map copy");
    std::size_t sections = 0;
    for (std::size_t i = 0; i < map.size(); ++sections) {
        const std::uint64_t size = rll(map, i), nameBytes = rll(map, i + 32);
        const std::uint64_t encoding = rll(map, i + 48), pages = rll(map, i + 56);
        i += 64;
        std::string name;
        for (std::size_t k = 0; k + 2 < nameBytes; k += 2)
            name.push_back(char(map.at(i + k)));
        i += nameBytes;
        Bytes data(size, 0);
        for (std::uint64_t p = 0; p < pages; ++p, i += 56) {
            const std::uint64_t offset = rll(map, i), id = rll(map, i + 16);
            const std::size_t plain = rll(map, i + 24), stored = rll(map, i + 32);
            need(offset + plain <= size, name + ": page beyond its section");
            const std::uint64_t from = pageAt.at(id);
            Bytes payload;
            if (encoding == 1) {  // stored raw
                need(stored == plain, name + ": raw page sizes");
                payload = slice(f, from, plain);
            } else {  // coded; compressed unless it says otherwise
                const auto words = readCodedWords(f, from, (round8(stored) + 250) / 251, 251);
                need(words.has_value(), name + ": page parity");
                payload = slice(*words, 0, stored);
            }
            need(crc64Mirrored(crc64Seed1(stored), payload.data(), stored) == rll(map, i + 48), name + ": page CRC");
            Bytes bytes = stored < plain ? decompress2007(payload.data(), stored, plain) : payload;
            need(pageChecksum2007(bytes.data(), bytes.size()) == rll(map, i + 40), name + ": page checksum");
            std::copy(bytes.begin(), bytes.end(), data.begin() + std::ptrdiff_t(offset));
            out.pages.push_back({name, id, from, stored, std::move(bytes)});
        }
        if (!name.empty()) {
            out.sections[name] = std::move(data);
            out.encodings[name] = encoding;
        }
    }
    need(sections == h[20], "2007 section count");
}

}  // namespace

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b)
        c = std::uint8_t(rng());
    return b;
}

Bytes sample(const std::string& name)
{
    return readFile((std::filesystem::path(UNPLOT_SHARED_DIR) / "dwg-samples" / name).string());
}

Bytes decompress2004(const std::uint8_t* in, std::size_t size, std::size_t expected)
{
    Bytes out;
    out.reserve(expected);
    std::size_t at = 0;
    auto byte = [&]() -> std::uint8_t {
        need(at < size, "2004 stream: truncated");
        return in[at++];
    };
    auto longCount = [&](std::size_t base) {  // each zero byte adds 0xFF, the first other byte ends the count
        std::size_t n = base;
        for (std::uint8_t b; (b = byte()) == 0;)
            n += 0xff;
        return n + in[at - 1];
    };
    auto literals = [&](std::size_t n) {
        need(at + n <= size && out.size() + n <= expected, "2004 stream: literal run out of range");
        out.insert(out.end(), in + at, in + at + n);
        at += n;
    };
    auto literalRun = [&](std::uint8_t op) { literals(op == 0 ? longCount(0x0f) + 3 : std::size_t(op) + 3); };

    std::uint8_t op = byte();
    if ((op & 0xf0) == 0) {
        literalRun(op);
        op = byte();
    }
    while (op != 0x11) {
        std::size_t count = 0, distance = 0, following = 0;
        if (op >= 0x40) {
            count = std::size_t(op >> 4) - 1;
            distance = (std::size_t(byte()) << 2 | std::size_t(op & 0x0c) >> 2) + 1;
            following = op & 3u;
        } else {
            // 0x18..0x1F are read two ways by readers (as 0x10..0x17 with 0x4000 further back, or with longer
            // counts): a writer must not use them.
            need(op >= 0x20 || op == 0x10 || (op >= 0x12 && op <= 0x17), "2004 stream: opcode");
            if (op >= 0x20)
                count = op == 0x20 ? longCount(0x21) : std::size_t(op) - 0x1e;
            else
                count = op == 0x10 ? longCount(9) : std::size_t(op & 7) + 2;
            const std::uint8_t lo = byte(), hi = byte();
            distance = (std::size_t(lo >> 2) | std::size_t(hi) << 6) + (op >= 0x20 ? 1 : 0x4000);
            following = lo & 3u;
        }
        need(distance <= out.size() && out.size() + count <= expected, "2004 stream: reference out of range");
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(out[out.size() - distance]);
        op = byte();
        if (following != 0) {
            --at;
            literals(following);
            op = byte();
        } else if ((op & 0xf0) == 0) {
            literalRun(op);
            op = byte();
        }
    }
    return out;
}

namespace {

// A literal run of the 2007 variant as stored: in 32-byte blocks and a tail, in an order of their own (the writer's
// table, which reading the real 2007 file checks).
void copyLiterals2007(Bytes& out, const std::uint8_t* src, std::size_t n)
{
    const std::size_t start = out.size();
    out.resize(start + n);
    for (std::size_t i = 0; i < n; ++i)
        out[start + i] = src[literalSlot2007(n, i)];
}

}  // namespace

Bytes decompress2007(const std::uint8_t* in, std::size_t size, std::size_t expected)
{
    Bytes out;
    std::size_t i = 0;
    auto next = [&]() -> std::uint32_t {
        need(i < size, "2007 stream: truncated");
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
        case 0:
            length = (op & 0x0f) + 0x13;
            offset = next();
            op = next();
            length += (op >> 3) & 0x10;
            offset += ((op & 0x78) << 5) + 1;
            break;
        case 1:
            length = (op & 0x0f) + 3;
            offset = next();
            op = next();
            offset += ((op & 0xf8) << 5) + 1;
            break;
        case 2:
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
        default:
            length = op >> 4;
            offset = op & 0x0f;
            op = next();
            offset += ((op & 0xf8) << 1) + 1;
        }
        need(offset != 0 && offset <= out.size() && out.size() + length <= expected,
             "2007 stream: reference out of range");
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
        need(literals != 0, "2007 stream: empty first run");
    }
    while (i < size) {
        if (literals == 0)
            literals = literalLength(op);
        need(i + literals <= size && out.size() + literals <= expected, "2007 stream: literal run out of range");
        copyLiterals2007(out, in + i, literals);
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
    need(out.size() == expected, "2007 stream: " + std::to_string(out.size()) + " bytes, expected " +
                                     std::to_string(expected));
    return out;
}

std::optional<Bytes> readCodedWords(const Bytes& file, std::size_t offset, std::size_t words, std::size_t dataBytes)
{
    if (file.size() < offset + words * ReedSolomon::kWordSize)
        return std::nullopt;
    const ReedSolomon rs(dataBytes);
    Bytes data, word(ReedSolomon::kWordSize), parity(rs.parityBytes());
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

std::map<std::uint64_t, std::int64_t> readObjectMap(const Bytes& map)
{
    std::map<std::uint64_t, std::int64_t> objects;
    for (std::size_t at = 0;;) {
        const auto size = std::size_t(map.at(at) << 8 | map.at(at + 1));
        need(size >= 2 && size <= 2040, "object map page size");
        need(std::uint16_t(map.at(at + size) << 8 | map.at(at + size + 1)) == crc16(kCrcSeed, map.data() + at, size),
             "object map page CRC");
        if (size == 2)
            return objects;
        std::uint64_t handle = 0;
        std::int64_t offset = 0;
        auto mc = [&](std::size_t& q) {
            std::int64_t v = 0;
            int shift = 0;
            for (; map.at(q) & 0x80; shift += 7)
                v |= std::int64_t(map[q++] & 0x7f) << shift;
            const bool negative = (map[q] & 0x40) != 0;
            v |= std::int64_t(map[q++] & 0x3f) << shift;
            return negative ? -v : v;
        };
        for (std::size_t q = at + 2; q < at + size;) {
            handle += std::uint64_t(mc(q));
            offset += mc(q);
            objects[handle] = offset;
        }
        at += size + 2;
    }
}

Bytes objectBytes(const Bytes& objects, std::size_t offset, bool r2010)
{
    std::size_t size = 0, at = offset;
    for (int shift = 0;; shift += 15) {
        const auto word = std::size_t(le(objects, at, 2));
        at += 2;
        size |= (word & 0x7fff) << shift;
        if ((word & 0x8000) == 0)
            break;
    }
    if (r2010)  // the UMC size of the handle stream, not counted in the object's size
        while (le(objects, at++, 1) & 0x80) {
        }
    Bytes o = slice(objects, offset, at + size + 2 - offset);
    need(le(o, o.size() - 2, 2) == crc16(kCrcSeed, o.data(), o.size() - 2), "object CRC");
    return o;
}

DwgFile readDwg(const Bytes& file)
{
    DwgFile out;
    need(file.size() > 0x100, "too short");
    out.magic.assign(file.begin(), file.begin() + 6);
    if (out.magic == "AC1014" || out.magic == "AC1015")
        readFlat(file, out);
    else if (out.magic == "AC1018" || out.magic == "AC1024")
        readPaged2004(file, out);
    else if (out.magic == "AC1021")
        readFile2007(file, out);
    else
        throw std::runtime_error("unknown version " + out.magic);
    if (!out.sections.count("AcDb:Handles"))
        return out;
    out.objectAt = readObjectMap(out.sections.at("AcDb:Handles"));
    const Bytes& objects = out.sections.at("AcDb:AcDbObjects");
    for (const auto& [handle, offset] : out.objectAt)
        objectBytes(objects, std::size_t(offset), out.magic == "AC1024");
    return out;
}

}  // namespace unplot::engine::dwg::test
