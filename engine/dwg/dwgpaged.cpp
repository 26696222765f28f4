#include "dwgpaged.h"

#include "dwgcrc.h"
#include "lz77.h"

#include <algorithm>
#include <cstring>

namespace unplot::engine::dwg {
namespace {

constexpr std::uint32_t kDataPageType = 0x4163043b;
constexpr std::uint32_t kSectionMapType = 0x4163003b;
constexpr std::uint32_t kPageMapType = 0x41630e3b;
constexpr std::uint32_t kPageMask = 0x4164536b;
constexpr std::size_t kFileHeaderSize = 0x100;
constexpr std::size_t kEncryptedSize = 0x6c;

void putRL(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void putRLL(std::vector<std::uint8_t>& out, std::uint64_t v)
{
    putRL(out, std::uint32_t(v));
    putRL(out, std::uint32_t(v >> 32));
}
void setRL(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
std::uint32_t readRL(const std::vector<std::uint8_t>& in, std::size_t at)
{
    return std::uint32_t(in[at]) | std::uint32_t(in[at + 1]) << 8 | std::uint32_t(in[at + 2]) << 16 |
           std::uint32_t(in[at + 3]) << 24;
}
void padTo32(std::vector<std::uint8_t>& out, std::size_t pageStart)
{
    while ((out.size() - pageStart) % 0x20 != 0)
        out.push_back(0);
}

struct PageRecord {
    std::uint32_t id;
    std::uint32_t size;  // on disk, header included
};

// A system page (section map or page map): 20-byte plain header, compressed data.
void putSystemPage(std::vector<std::uint8_t>& out, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    const std::vector<std::uint8_t> packed = compress2004(data.data(), data.size());
    const std::size_t start = out.size();
    putRL(out, type);
    putRL(out, std::uint32_t(data.size()));
    putRL(out, std::uint32_t(packed.size()));
    putRL(out, 2);  // compression type
    putRL(out, 0);  // checksum, below
    const std::uint32_t headerSum = pageChecksum(0, out.data() + start, 20);
    setRL(out, start + 16, pageChecksum(headerSum, packed.data(), packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    padTo32(out, start);
}

}  // namespace

void putPlainHeader(std::vector<std::uint8_t>& out, const PagedFileInfo& info)
{
    std::memcpy(out.data(), info.magic.data(), 6);
    out[0x0b] = info.maintenance;
    out[0x0c] = 3;
    out[0x11] = info.writerVersion;
    out[0x12] = info.writerMaintenance;
    out[0x13] = std::uint8_t(info.codePage & 0xff);
    out[0x14] = std::uint8_t(info.codePage >> 8);
    out[0x16] = info.writerVersion;
    out[0x17] = info.writerMaintenance;
    setRL(out, 0x28, 0x80);
}

std::uint32_t pageChecksum(std::uint32_t seed, const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum1 = seed & 0xffff, sum2 = seed >> 16;
    while (size != 0) {
        const std::size_t chunk = std::min<std::size_t>(0x15b0, size);
        size -= chunk;
        for (std::size_t i = 0; i < chunk; ++i) {
            sum1 += *data++;
            sum2 += sum1;
        }
        sum1 %= 0xfff1;
        sum2 %= 0xfff1;
    }
    return (sum2 << 16) | (sum1 & 0xffff);
}

namespace {

// The count of a long form: zero bytes of 0xFF each, then a last byte that is not zero.
void putLongCount(std::vector<std::uint8_t>& out, std::size_t v)
{
    const std::size_t zeros = (v - 1) / 0xff;
    out.insert(out.end(), zeros, 0);
    out.push_back(std::uint8_t(v - zeros * 0xff));
}

// A run of 4 or more literals: its opcode (0x01..0x0F, or 0x00 and a long count), then the bytes.
void putLiteralRun(std::vector<std::uint8_t>& out, const std::uint8_t* p, std::size_t n)
{
    if (n <= 0x12) {
        out.push_back(std::uint8_t(n - 3));
    } else {
        out.push_back(0);
        putLongCount(out, n - 0x12);
    }
    out.insert(out.end(), p, p + n);
}

// A back reference; up to 3 literals that follow it ride in the low bits of its last offset byte (`low`). Of the
// forms for distances beyond 0x4000 only 0x10..0x17 are used: readers disagree on 0x18..0x1F.
void putMatch(std::vector<std::uint8_t>& out, const Match& m, std::uint8_t low)
{
    if (m.distance <= 0x400 && m.length <= 14) {
        const std::size_t v = m.distance - 1;
        out.push_back(std::uint8_t((m.length + 1) << 4 | (v & 3) << 2 | low));
        out.push_back(std::uint8_t(v >> 2));
        return;
    }
    const bool near = m.distance <= 0x4000;
    const std::size_t longest = near ? 0x21 : 9;  // the longest count the opcode itself holds
    if (m.length <= longest) {
        out.push_back(std::uint8_t(near ? m.length + 0x1e : 0x10 | (m.length - 2)));
    } else {
        out.push_back(near ? 0x20 : 0x10);
        putLongCount(out, m.length - longest);
    }
    const std::size_t v = near ? m.distance - 1 : m.distance - 0x4000;
    out.push_back(std::uint8_t((v & 0x3f) << 2 | low));
    out.push_back(std::uint8_t(v >> 6));
}

}  // namespace

std::vector<std::uint8_t> compress2004(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> padded;
    if (size < 4) {  // a stream starts with a literal run of at least 4 bytes
        padded.assign(data, data + size);
        padded.resize(4, 0);
        data = padded.data();
        size = 4;
    }
    std::size_t trailing = 0;
    const std::vector<Match> matches = findMatches(data, size, {0x7fff, SIZE_MAX, 0x400, 4}, trailing);
    std::vector<std::uint8_t> out;
    out.reserve(size / 2 + 16);
    std::size_t at = 0;
    for (std::size_t k = 0; k <= matches.size(); ++k) {
        const std::size_t literals = k < matches.size() ? matches[k].literals : trailing;
        if (k == 0 || literals > 3)
            putLiteralRun(out, data + at, literals);
        else
            out.insert(out.end(), data + at, data + at + literals);  // announced by the match before
        at += literals;
        if (k == matches.size())
            break;
        const std::size_t following = k + 1 < matches.size() ? matches[k + 1].literals : trailing;
        putMatch(out, matches[k], std::uint8_t(following <= 3 ? following : 0));
        at += matches[k].length;
    }
    out.insert(out.end(), {0x11, 0, 0});  // the end, and two bytes readers skip
    return out;
}

void scrambleFileHeader(std::uint8_t* data, std::size_t size)
{
    std::uint32_t seed = 1;
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 0x343fd + 0x269ec3;
        data[i] ^= std::uint8_t(seed >> 16);
    }
}

std::vector<std::uint8_t> writePagedFile(const std::vector<PagedSection>& sections, const PagedFileInfo& info)
{
    std::vector<std::uint8_t> out(kFileHeaderSize, 0);
    std::vector<PageRecord> pages;
    std::vector<std::uint8_t> sectionMap;

    // The section map: a header, an empty first description (as real files have), then one per section.
    putRL(sectionMap, std::uint32_t(sections.size() + 1));
    putRL(sectionMap, 2);
    putRL(sectionMap, 0x7400);
    putRL(sectionMap, 0);
    putRL(sectionMap, std::uint32_t(sections.size() + 1));
    auto describe = [&](std::uint64_t size, std::uint32_t pageCount, std::uint32_t maxSize, bool compressed,
                        std::uint32_t type, const std::string& name) {
        putRLL(sectionMap, size);
        putRL(sectionMap, pageCount);
        putRL(sectionMap, maxSize);
        putRL(sectionMap, 1);
        putRL(sectionMap, compressed ? 2 : 1);
        putRL(sectionMap, type);
        putRL(sectionMap, 0);  // not encrypted
        char padded[64] = {};
        std::memcpy(padded, name.data(), std::min<std::size_t>(name.size(), 63));
        sectionMap.insert(sectionMap.end(), padded, padded + 64);
    };
    describe(0, 0, 0x7400, true, 0, "");

    for (const PagedSection& s : sections) {
        const std::size_t pageCount = std::max<std::size_t>(1, (s.data.size() + s.pageSize - 1) / s.pageSize);
        describe(s.data.size(), std::uint32_t(pageCount), s.pageSize, s.compressed, s.type, s.name);
        for (std::size_t p = 0; p < pageCount; ++p) {
            const std::size_t from = p * s.pageSize;
            const std::size_t length = std::min<std::size_t>(s.pageSize, s.data.size() - std::min(from, s.data.size()));
            std::vector<std::uint8_t> stored;
            if (s.compressed) {
                stored = compress2004(s.data.data() + from, length);
            } else {
                stored.assign(s.data.begin() + std::ptrdiff_t(from), s.data.begin() + std::ptrdiff_t(from + length));
                stored.resize(s.pageSize, 0);
            }
            const std::size_t start = out.size();
            if (s.addressField != 0 && p == 0)
                setRL(out, s.addressField, std::uint32_t(start + 32));
            for (std::size_t field : s.relocations)  // raw sections have one page
                setRL(stored, field, std::uint32_t(start + 32 + readRL(stored, field)));
            const auto id = std::uint32_t(pages.size() + 1);
            std::vector<std::uint8_t> header;
            putRL(header, kDataPageType);
            putRL(header, s.type);
            putRL(header, std::uint32_t(stored.size()));
            putRL(header, std::uint32_t((32 + stored.size() + 0x1f) & ~std::size_t(0x1f)));
            putRLL(header, from);
            putRL(header, 0);
            const std::uint32_t dataSum = pageChecksum(0, stored.data(), stored.size());
            putRL(header, dataSum);
            setRL(header, 24, pageChecksum(dataSum, header.data(), header.size()));
            const std::uint32_t mask = kPageMask ^ std::uint32_t(start);
            for (std::size_t i = 0; i < header.size(); ++i)
                header[i] ^= std::uint8_t(mask >> (8 * (i % 4)));
            out.insert(out.end(), header.begin(), header.end());
            out.insert(out.end(), stored.begin(), stored.end());
            padTo32(out, start);
            pages.push_back({id, std::uint32_t(out.size() - start)});

            putRL(sectionMap, id);
            putRL(sectionMap, std::uint32_t(stored.size()));
            putRLL(sectionMap, from);
        }
    }

    const auto sectionMapId = std::uint32_t(pages.size() + 1);
    const std::size_t sectionMapAt = out.size();
    putSystemPage(out, kSectionMapType, sectionMap);
    pages.push_back({sectionMapId, std::uint32_t(out.size() - sectionMapAt)});

    // The page map lists itself: its own page size is known only once it is written, and the values it holds change
    // what the map compresses to: grow the size it gives itself until the page fits in it.
    const auto pageMapId = std::uint32_t(pages.size() + 1);
    const std::size_t pageMapAt = out.size();
    std::vector<std::uint8_t> pageMap;
    auto fillPageMap = [&](std::uint32_t ownSize) {
        pageMap.clear();
        for (const PageRecord& p : pages) {
            putRL(pageMap, p.id);
            putRL(pageMap, p.size);
        }
        putRL(pageMap, pageMapId);
        putRL(pageMap, ownSize);
    };
    for (std::uint32_t ownSize = 0x20;;) {  // pad the page to the size it gives itself
        fillPageMap(ownSize);
        putSystemPage(out, kPageMapType, pageMap);
        if (out.size() - pageMapAt <= ownSize) {
            out.resize(pageMapAt + ownSize, 0);
            break;
        }
        ownSize = std::uint32_t(out.size() - pageMapAt);
        out.resize(pageMapAt);
    }
    const auto pageMapSize = std::uint32_t(out.size() - pageMapAt);

    // The encrypted header, at 0x80 and again at the end of the file.
    std::vector<std::uint8_t> h;
    const char id[12] = "AcFssFcAJMB";
    h.insert(h.end(), id, id + 12);
    putRL(h, 0);
    putRL(h, kEncryptedSize);
    putRL(h, 4);
    putRL(h, 0);  // gaps: none
    putRL(h, 0);
    putRL(h, 0);
    putRL(h, 1);
    putRL(h, pageMapId);  // the last page
    putRLL(h, pageMapAt - kFileHeaderSize + pageMapSize);
    putRLL(h, out.size());  // where the copy of this header goes
    putRL(h, 0);  // gap count
    putRL(h, std::uint32_t(pages.size() + 1));
    putRL(h, 0x20);
    putRL(h, 0x80);
    putRL(h, 0x40);
    putRL(h, pageMapId);
    putRLL(h, pageMapAt - kFileHeaderSize);
    putRL(h, sectionMapId);
    putRL(h, pageMapId);  // page array size
    putRL(h, 0);          // gap array size
    putRL(h, 0);
    setRL(h, 0x68, crc32(0, h.data(), h.size()));
    scrambleFileHeader(h.data(), h.size());
    out.insert(out.end(), h.begin(), h.end());

    putPlainHeader(out, info);
    std::copy(h.begin(), h.end(), out.begin() + 0x80);
    return out;
}

}  // namespace unplot::engine::dwg
