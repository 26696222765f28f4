#include "pagedreader.h"

#include <stdexcept>

namespace unplot::engine::dwg::test {
namespace {

std::uint32_t rl(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint64_t rll(const std::uint8_t* p) { return rl(p) | std::uint64_t(rl(p + 4)) << 32; }

void need(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(what);
}

// A system page (section map, page map): RL type, RL sizes, compression, checksum, then the data.
Bytes systemPage(const Bytes& file, std::size_t at)
{
    need(at + 20 <= file.size(), "system page out of the file");
    const std::uint32_t decompressed = rl(&file[at + 4]), compressed = rl(&file[at + 8]);
    need(at + 20 + compressed <= file.size(), "system page data out of the file");
    return decompress(&file[at + 20], compressed, decompressed);
}

}  // namespace

Bytes decompress(const std::uint8_t* in, std::size_t size, std::size_t expected)
{
    Bytes out;
    out.reserve(expected);
    std::size_t at = 0;
    auto byte = [&]() -> std::uint8_t {
        need(at < size, "compressed data ends early");
        return in[at++];
    };
    auto longCount = [&](std::size_t base) {  // a zero byte adds 0xFF, the first non-zero one ends
        std::size_t n = base;
        std::uint8_t b;
        while ((b = byte()) == 0)
            n += 0xff;
        return n + b;
    };
    auto literalLength = [&](std::uint8_t first) -> std::size_t {
        return first == 0 ? longCount(0x0f) + 3 : std::size_t(first) + 3;
    };
    auto copyLiterals = [&](std::size_t n) {
        need(at + n <= size, "literal run ends early");
        out.insert(out.end(), in + at, in + at + n);
        at += n;
    };

    std::uint8_t op = byte();
    if ((op & 0xf0) == 0) {
        copyLiterals(literalLength(op));
        op = byte();
    }
    for (;;) {
        if (op == 0x11)
            break;
        std::size_t count = 0, offset = 0, literals = 0;
        if (op >= 0x40) {
            count = std::size_t((op >> 4) - 1);
            const std::uint8_t second = byte();
            offset = std::size_t(second) << 2 | std::size_t((op & 0x0c) >> 2);
            literals = op & 3u;
        } else {
            if (op == 0x10 || (op >= 0x12 && op <= 0x1f)) {
                count = op == 0x10 ? longCount(0) + 9 : std::size_t(op & 0x0f) + 2;
            } else if (op >= 0x20) {
                count = op == 0x20 ? longCount(0) + 0x21 : std::size_t(op) - 0x1e;
            } else {
                throw std::runtime_error("unknown opcode");
            }
            const std::uint8_t lo = byte(), hi = byte();
            offset = std::size_t(lo >> 2) | std::size_t(hi) << 6;
            literals = lo & 3u;
            if (op < 0x20)
                offset += 0x3fff;
        }
        need(offset + 1 <= out.size(), "match before the start");
        const std::size_t from = out.size() - offset - 1;
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(out[from + i]);
        op = byte();
        if (literals == 0 && (op & 0xf0) == 0) {
            copyLiterals(literalLength(op));
            op = byte();
        } else if (literals != 0) {
            at -= 1;
            copyLiterals(literals);
            op = byte();
        }
    }
    return out;
}

PagedFile readPagedFile(const Bytes& file)
{
    need(file.size() > 0x100, "too short");
    Bytes h(file.begin() + 0x80, file.begin() + 0x80 + 0x6c);
    std::uint32_t seed = 1;
    for (auto& b : h) {
        seed = seed * 0x343fd + 0x269ec3;
        b ^= std::uint8_t(seed >> 16);
    }
    need(std::string(h.begin(), h.begin() + 11) == "AcFssFcAJMB", "file header id");
    const std::uint64_t pageMapAt = rll(&h[0x54]) + 0x100;
    const std::uint32_t sectionMapId = rl(&h[0x5c]);

    // Page map: id and size of each page in file order, from 0x100.
    const Bytes pageMap = systemPage(file, std::size_t(pageMapAt));
    std::map<std::int32_t, std::uint64_t> pageAt;
    std::uint64_t address = 0x100;
    for (std::size_t i = 0; i + 8 <= pageMap.size();) {
        const auto id = std::int32_t(rl(&pageMap[i]));
        const std::uint32_t pageSize = rl(&pageMap[i + 4]);
        i += id < 0 ? 24 : 8;  // a gap has four more fields
        pageAt[id] = address;
        address += pageSize;
    }
    need(pageAt.count(std::int32_t(sectionMapId)) == 1, "section map page");
    const Bytes sectionMap = systemPage(file, std::size_t(pageAt[std::int32_t(sectionMapId)]));

    PagedFile result;
    const std::uint32_t count = rl(&sectionMap[0]);
    std::size_t p = 20;
    for (std::uint32_t s = 0; s < count; ++s) {
        need(p + 96 <= sectionMap.size(), "section description");
        const std::uint64_t sectionSize = rll(&sectionMap[p]);
        const std::uint32_t pages = rl(&sectionMap[p + 8]), maxSize = rl(&sectionMap[p + 12]);
        const std::uint32_t compressed = rl(&sectionMap[p + 20]);
        std::string name(reinterpret_cast<const char*>(&sectionMap[p + 32]));
        p += 96;
        Bytes data(std::size_t(std::max<std::uint64_t>(sectionSize, std::uint64_t(pages) * maxSize)), 0);
        for (std::uint32_t i = 0; i < pages; ++i, p += 16) {
            const auto id = std::int32_t(rl(&sectionMap[p]));
            const std::uint64_t start = rll(&sectionMap[p + 8]);
            need(pageAt.count(id) == 1, "data page");
            const std::size_t at = std::size_t(pageAt[id]);
            std::uint8_t header[32];
            for (std::size_t k = 0; k < 32; ++k)
                header[k] = std::uint8_t(file.at(at + k) ^ ((0x4164536bu ^ std::uint32_t(at)) >> (8 * (k % 4))));
            const std::uint32_t stored = rl(&header[8]);
            need(at + 32 + stored <= file.size(), "page data out of the file");
            Bytes page = compressed == 2 ? decompress(&file[at + 32], stored, maxSize)
                                         : Bytes(file.begin() + std::ptrdiff_t(at + 32),
                                                 file.begin() + std::ptrdiff_t(at + 32 + stored));
            need(start + page.size() <= data.size(), "page beyond its section");
            std::copy(page.begin(), page.end(), data.begin() + std::ptrdiff_t(start));
        }
        data.resize(std::size_t(sectionSize));
        if (!name.empty())
            result.sections[name] = std::move(data);
    }

    // The object map: big-endian page sizes, MC pairs of handle and offset deltas, a CRC per page.
    const Bytes& map = result.sections.at("AcDb:Handles");
    for (std::size_t at = 0; at + 2 <= map.size();) {
        const std::size_t pageSize = std::size_t(map[at] << 8 | map[at + 1]);
        if (pageSize <= 2)
            break;
        std::uint64_t handle = 0;
        std::int64_t offset = 0;
        auto mc = [&](std::size_t& q) {
            std::int64_t v = 0;
            int shift = 0;
            while (map.at(q) & 0x80) {
                v |= std::int64_t(map[q++] & 0x7f) << shift;
                shift += 7;
            }
            const bool negative = (map[q] & 0x40) != 0;
            v |= std::int64_t(map[q++] & 0x3f) << shift;
            return negative ? -v : v;
        };
        for (std::size_t q = at + 2; q < at + pageSize;) {
            handle += std::uint64_t(mc(q));
            offset += mc(q);
            result.objectAt[handle] = std::size_t(offset);
        }
        at += pageSize + 2;
    }
    return result;
}

Bytes objectBytes(const Bytes& objects, std::size_t offset, bool r2010)
{
    std::size_t size = 0, at = offset;
    for (int shift = 0;; shift += 15) {
        need(at + 2 <= objects.size(), "object size");
        const std::size_t word = std::size_t(objects[at] | objects[at + 1] << 8);
        at += 2;
        size |= (word & 0x7fff) << shift;
        if ((word & 0x8000) == 0)
            break;
    }
    if (r2010) {  // the UMC size of the handle stream, not counted in the object's size
        do
            need(at < objects.size(), "handle stream size");
        while (objects[at++] & 0x80);
    }
    need(at + size + 2 <= objects.size(), "object beyond its section");
    return Bytes(objects.begin() + std::ptrdiff_t(offset), objects.begin() + std::ptrdiff_t(at + size + 2));
}

}  // namespace unplot::engine::dwg::test
