#include "container2007.h"

#include "compress2007.h"
#include "dwgcrc.h"
#include "reedsolomon.h"

#include <algorithm>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>

namespace unplot::engine::dwg {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxPageData = kPageData2007;
constexpr std::size_t kFiller = kPageGap2007;  // zeros that make an unrepeating last page compressible

std::size_t roundUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }

// `v` rotated left by (k AND 31) bits, as the 2007 checks rotate.
std::uint64_t rotl(std::uint64_t v, std::uint64_t k)
{
    k &= 31;
    return k == 0 ? v : (v << k) | (v >> (64 - k));
}

void putRLL(Bytes& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
std::uint32_t getRL(const Bytes& in, std::size_t at)
{
    return std::uint32_t(in[at]) | std::uint32_t(in[at + 1]) << 8 | std::uint32_t(in[at + 2]) << 16 |
           std::uint32_t(in[at + 3]) << 24;
}
void setRL(Bytes& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// The section names' hash codes, as every 2007 file carries them.
std::uint64_t sectionHash(const std::string& name)
{
    static const std::map<std::string, std::uint64_t> hashes = {
        {"AcDb:Header", 0x32b803d9},     {"AcDb:AuxHeader", 0x54f0050a},     {"AcDb:Classes", 0x3f54045f},
        {"AcDb:Handles", 0x3f6e0450},    {"AcDb:Template", 0x4a1404ce},      {"AcDb:ObjFreeSpace", 0x77e2061f},
        {"AcDb:AcDbObjects", 0x674c05a9}, {"AcDb:RevHistory", 0x60a205b3},   {"AcDb:SummaryInfo", 0x717a060f},
        {"AcDb:Preview", 0x40aa0473},    {"AcDb:AppInfo", 0x3fa0043e},       {"AcDb:AppInfoHistory", 0x96de0737},
    };
    const auto it = hashes.find(name);
    if (it == hashes.end())
        throw std::invalid_argument("2007 file: no hash code for section " + name);
    return it->second;
}

constexpr std::uint32_t kChecksumModulus = 0xfff1;
constexpr std::size_t kChecksumChunk = 0x15b0;  // bytes summed before the sums are reduced (they cannot overflow)

// `data` coded in `words` interleaved (255, k) words, padded with zeros to a multiple of 0x20 bytes.
Bytes code(const Bytes& data, std::size_t k, std::size_t words)
{
    Bytes coded = ReedSolomon(k).encodeInterleaved(data, words);
    coded.resize(roundUp(coded.size(), 0x20), 0);
    return coded;
}

struct SystemPage {
    Bytes bytes;  // as stored
    std::size_t compressed = 0, uncompressed = 0, correction = 1;
    std::uint64_t crc = 0, compressedCrc = 0;
};

// A page map or section map: compressed (stored as is when that does not help), padded to 8 bytes and repeated as
// often as it fits the (255,239) words one copy needs; readers take the word count from size and repeat count.
SystemPage systemPage(const Bytes& data)
{
    SystemPage p;
    Bytes stream = compress2007(data.data(), data.size());
    if (stream.size() >= data.size())
        stream = data;
    p.compressed = stream.size();
    p.uncompressed = data.size();
    p.crc = crc64Mirrored(crc64Seed1(data.size()), data.data(), data.size());
    p.compressedCrc = crc64Mirrored(crc64Seed1(stream.size()), stream.data(), stream.size());
    const std::size_t padded = roundUp(stream.size(), 8);
    const std::size_t k = ReedSolomon::kHeaderData;
    p.correction = std::max<std::size_t>(1, roundUp(padded, k) / padded);
    const std::size_t words = (padded * p.correction + k - 1) / k;
    Bytes pre(words * k, 0);
    for (std::size_t c = 0; c < p.correction; ++c)
        std::copy(stream.begin(), stream.end(), pre.begin() + std::ptrdiff_t(c * padded));
    p.bytes = code(pre, k, words);
    return p;
}

struct DataPage {
    Bytes bytes;  // as stored
    std::size_t offset = 0, uncompressed = 0, compressed = 0;
    std::uint64_t id = 0;
    std::uint32_t checksum = 0;  // of the decompressed data
    std::uint64_t crc = 0;       // of the compressed data, before its coding
};

std::uint64_t pageCrc(const std::uint8_t* data, std::size_t size)
{
    return crc64Mirrored(crc64Seed1(size), data, size);
}

struct SectionPages {
    const PagedSection* section;
    std::size_t size = 0;  // decompressed, filler included
    std::vector<DataPage> pages;
};

SectionPages pagesOf(const PagedSection& s)
{
    SectionPages out{&s, s.data.size(), {}};
    if (!s.compressed) {  // raw: one page as the data stands, padded to the section's page size
        DataPage p;
        p.uncompressed = p.compressed = s.data.size();
        p.checksum = pageChecksum2007(s.data.data(), s.data.size());
        p.crc = pageCrc(s.data.data(), s.data.size());
        p.bytes = s.data;
        p.bytes.resize(roundUp(std::max<std::size_t>(s.data.size(), s.pageSize), 0x20), 0);
        out.pages.push_back(std::move(p));
        return out;
    }
    Bytes data = s.data;
    if (data.empty())
        data.resize(kFiller, 0);
    for (std::size_t from = 0; from < data.size();) {
        const std::size_t n = std::min(kMaxPageData, data.size() - from);
        Bytes stream = compress2007(data.data() + from, n);
        if (stream.size() >= n) {
            if (from + n == data.size()) {
                data.resize(data.size() + kFiller, 0);  // readers ignore zeros after the data; retry with them
                continue;
            }
            // Stored: one code word per page, whose data bytes read the same whether a reader decodes the word
            // or takes the page's bytes as they are. Readers count the words from the size rounded up to 8 bytes,
            // so a page holds at most 248.
            constexpr std::size_t kStored = ReedSolomon::kPageData / 8 * 8;
            for (std::size_t at = from; at < from + n; at += kStored) {
                DataPage p;
                p.offset = at;
                p.uncompressed = p.compressed = std::min(kStored, from + n - at);
                p.checksum = pageChecksum2007(data.data() + at, p.uncompressed);
                p.crc = pageCrc(data.data() + at, p.uncompressed);
                p.bytes = code(Bytes(data.begin() + std::ptrdiff_t(at),
                                     data.begin() + std::ptrdiff_t(at + p.uncompressed)),
                               ReedSolomon::kPageData, 1);
                out.pages.push_back(std::move(p));
            }
            from += n;
            continue;
        }
        DataPage p;
        p.offset = from;
        p.uncompressed = n;
        p.compressed = stream.size();
        p.checksum = pageChecksum2007(data.data() + from, n);
        p.crc = pageCrc(stream.data(), stream.size());
        const std::size_t words = (roundUp(stream.size(), 8) + ReedSolomon::kPageData - 1) / ReedSolomon::kPageData;
        stream.resize(words * ReedSolomon::kPageData, 0);
        p.bytes = code(stream, ReedSolomon::kPageData, words);
        out.pages.push_back(std::move(p));
        from += n;
    }
    out.size = data.size();
    return out;
}

Bytes sectionMap(const std::vector<SectionPages>& all)
{
    Bytes m;
    for (const SectionPages& sp : all) {
        const PagedSection& s = *sp.section;
        putRLL(m, sp.size);
        putRLL(m, s.compressed ? kMaxPageData : sp.pages.front().bytes.size());
        putRLL(m, 0);  // not encrypted
        putRLL(m, sectionHash(s.name));
        putRLL(m, (s.name.size() + 1) * 2);
        putRLL(m, 0);
        putRLL(m, s.compressed ? 4 : 1);  // coded and compressed, or stored raw
        putRLL(m, sp.pages.size());
        for (char c : s.name) {
            m.push_back(std::uint8_t(c));
            m.push_back(0);
        }
        m.insert(m.end(), 2, 0);
        for (const DataPage& p : sp.pages) {
            putRLL(m, p.offset);
            putRLL(m, p.bytes.size());
            putRLL(m, p.id);
            putRLL(m, p.uncompressed);
            putRLL(m, p.compressed);
            putRLL(m, p.checksum);
            putRLL(m, p.crc);
        }
    }
    // Real files end the map with an empty entry.
    putRLL(m, 0);
    putRLL(m, kMaxPageData);
    putRLL(m, 0);
    putRLL(m, 0);
    putRLL(m, 0);
    putRLL(m, 0);
    putRLL(m, 4);
    putRLL(m, 0);
    return m;
}

}  // namespace

std::uint32_t pageChecksum2007(const std::uint8_t* data, std::size_t size)
{
    const std::uint64_t seed = std::uint64_t(size) * 0x343fd + 0x269ec3;
    std::uint32_t sum1 = std::uint32_t(seed & 0xffff), sum2 = std::uint32_t((seed >> 16) & 0xffff);
    std::size_t pending = 0;
    auto add = [&](std::uint8_t b) {
        sum1 += b;
        sum2 += sum1;
        if (++pending == kChecksumChunk) {
            sum1 %= kChecksumModulus;
            sum2 %= kChecksumModulus;
            pending = 0;
        }
    };
    inWordOrder(data, size, add);
    sum1 %= kChecksumModulus;
    sum2 %= kChecksumModulus;
    return (sum2 << 16) | sum1;
}

std::uint64_t sequenceCheck2007(std::uint64_t key)
{
    Bytes b;
    putRLL(b, key);
    putRLL(b, rotl(key, key));
    return crc64Normal(crc64Seed1(16), b.data(), b.size());
}

std::array<std::uint64_t, 2> checkData2007(std::uint64_t r1, std::uint64_t r2)
{
    auto chain = [](std::initializer_list<std::uint64_t> v) {
        Bytes b;
        for (std::uint64_t x : v)
            putRLL(b, x);
        return b;
    };
    const std::uint64_t a0 = rotl(r1, r2), a1 = rotl(a0, a0), a2 = rotl(r2, a1), a3 = rotl(a2, a2), a4 = rotl(r1, a3),
                        a5 = rotl(a4, a4), a6 = rotl(a5, a5), a7 = rotl(a6, a6);
    const Bytes a = chain({a0, a1, a2, a3, a4, a5, a6, a7});
    const std::uint64_t n = crc64Normal(~r2, a.data(), a.size());
    const std::uint64_t b0 = rotl(r1, r2), b1 = rotl(n, b0), b2 = rotl(r2, b1), b3 = rotl(n, b2), b4 = rotl(r1, b3),
                        b5 = rotl(n, b4), b6 = rotl(r2, b5), b7 = rotl(b6, b6);
    const Bytes b = chain({b0, b1, b2, b3, b4, b5, b6, b7});
    return {n, crc64Mirrored(~r1, b.data(), b.size())};
}

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

std::vector<std::uint8_t> writeFile2007(const std::vector<PagedSection>& sections, const PagedFileInfo& info)
{
    // Page ids: 1 the page map, 2 its copy, then the data pages, then the section map and its copy. Raw sections
    // whose data names its own place in the file (the preview) come first in the file, where their place is known
    // before anything else is; then the page map and its copy, the other data pages, the section maps.
    std::deque<PagedSection> placed;  // those sections, their places filled in
    std::vector<SectionPages> all;
    std::uint64_t nextId = 3;
    std::size_t frontSize = 0;
    for (const PagedSection& s : sections) {
        const PagedSection* section = &s;
        if (!s.relocations.empty()) {
            section = &placed.emplace_back(s);
            for (std::size_t field : s.relocations)
                setRL(placed.back().data, field, std::uint32_t(kPages2007Offset + frontSize + getRL(s.data, field)));
        }
        all.push_back(pagesOf(*section));
        for (DataPage& p : all.back().pages) {
            p.id = nextId++;
            if (!s.relocations.empty())
                frontSize += p.bytes.size();
        }
    }
    const std::uint64_t sectionMapId = nextId;
    const SystemPage smap = systemPage(sectionMap(all));
    auto forPages = [&](bool front, auto each) {  // the data pages before the page maps, or those after them
        for (const SectionPages& sp : all)
            if (sp.section->relocations.empty() != front)
                for (std::size_t i = 0; i < sp.pages.size(); ++i)
                    each(sp, i);
    };

    // The page map lists every page in file order: iterate until its own size settles.
    std::size_t pageMapSize = 0x100;
    SystemPage pmap;
    for (;;) {
        Bytes m;
        auto entry = [&](std::uint64_t size, std::uint64_t id) {
            putRLL(m, size);
            putRLL(m, id);
        };
        auto list = [&](const SectionPages& sp, std::size_t i) { entry(sp.pages[i].bytes.size(), sp.pages[i].id); };
        forPages(true, list);
        entry(pageMapSize, 1);
        entry(pageMapSize, 2);
        forPages(false, list);
        entry(smap.bytes.size(), sectionMapId);
        entry(smap.bytes.size(), sectionMapId + 1);
        pmap = systemPage(m);
        if (pmap.bytes.size() <= pageMapSize) {
            pmap.bytes.resize(pageMapSize, 0);
            break;
        }
        pageMapSize = pmap.bytes.size();
    }

    std::size_t total = kPages2007Offset + 2 * pmap.bytes.size() + 2 * smap.bytes.size() + kPages2007Offset;
    for (const SectionPages& sp : all)
        for (const DataPage& p : sp.pages)
            total += p.bytes.size();
    Bytes out;
    out.reserve(total);
    out.resize(kPages2007Offset, 0);
    std::map<std::size_t, std::uint32_t> addresses;  // plain-header field -> where a raw section's page starts
    auto place = [&](const SectionPages& sp, std::size_t i) {
        if (sp.section->addressField != 0 && i == 0)
            addresses[sp.section->addressField] = std::uint32_t(out.size());
        out.insert(out.end(), sp.pages[i].bytes.begin(), sp.pages[i].bytes.end());
    };
    forPages(true, place);
    for (int copy = 0; copy < 2; ++copy)
        out.insert(out.end(), pmap.bytes.begin(), pmap.bytes.end());
    forPages(false, place);
    for (int copy = 0; copy < 2; ++copy)
        out.insert(out.end(), smap.bytes.begin(), smap.bytes.end());
    const std::size_t headerCopyAt = out.size();
    const std::size_t fileSize = headerCopyAt + (kPages2007Offset - kFileHeader2007Offset);

    Bytes h;
    for (std::uint64_t v : std::initializer_list<std::uint64_t>{
             0x70, fileSize, pmap.compressedCrc, pmap.correction, 0 /* CRC seed */, frontSize + pageMapSize /* copy */,
             2 /* its id */, frontSize /* page map offset */, 1 /* page map id */, headerCopyAt - kPages2007Offset,
             pmap.compressed, pmap.uncompressed, sectionMapId + 1 /* pages */, sectionMapId + 1 /* highest id */, 0x20,
             0x40, pmap.crc, kMaxPageData, 4, 1, all.size() + 1 /* sections, the empty entry included */, smap.crc,
             smap.compressed, sectionMapId + 1 /* copy */, sectionMapId, smap.uncompressed, smap.compressedCrc,
             smap.correction, 0 /* CRC seed */, 0x60100 /* stream version */, 0, 0, 0, 0 /* record CRC, below */})
        putRLL(h, v);
    const std::uint64_t recordCrc = crc64Normal(crc64Seed2(h.size()), h.data(), h.size());
    for (int i = 0; i < 8; ++i)
        h[0x108 + std::size_t(i)] = std::uint8_t(recordCrc >> (8 * i));
    const Bytes packed = compress2007(h.data(), h.size());
    // The prologue: the sequence check of a key (any key will do), the key, the compressed record's check, sizes.
    constexpr std::uint64_t kKey = 0;
    Bytes body;
    putRLL(body, sequenceCheck2007(kKey));
    putRLL(body, kKey);
    putRLL(body, crc64Normal(crc64Seed2(packed.size()), packed.data(), packed.size()));
    const auto packedSize = std::uint32_t(packed.size());
    for (int i = 0; i < 4; ++i)
        body.push_back(std::uint8_t(packedSize >> (8 * i)));
    body.insert(body.end(), 4, 0);
    body.insert(body.end(), packed.begin(), packed.end());
    const Bytes coded = codeFileHeader2007(body);
    std::copy(coded.begin(), coded.end(), out.begin() + std::ptrdiff_t(kFileHeader2007Offset));
    Bytes checks;  // N, M, then r1, r2 and the word after them, all 0
    for (std::uint64_t v : checkData2007(0, 0))
        putRLL(checks, v);
    std::copy(checks.begin(), checks.end(), out.begin() + std::ptrdiff_t(kFileHeader2007Offset + kFileHeader2007Size));
    // The copy at the end: the coded header and the check data after it.
    const Bytes copy(out.begin() + std::ptrdiff_t(kFileHeader2007Offset),
                     out.begin() + std::ptrdiff_t(kPages2007Offset));
    out.insert(out.end(), copy.begin(), copy.end());

    putPlainHeader(out, info);
    for (const auto& [field, at] : addresses)
        setRL(out, field, at);
    return out;
}

}  // namespace unplot::engine::dwg
