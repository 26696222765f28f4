// The split streams of R2010 and later objects: bytes worked out by hand, and every object of a real 2010 file
// taken apart by the reader's rules and put back together by the writer, bit for bit.
#include "dwgbuilder.h"
#include "dwgclasses.h"
#include "dwgcrc.h"
#include "dwgobject.h"
#include "dwgstreams.h"
#include "dwgreader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <memory>
#include <sstream>

using namespace unplot::engine::dwg;
using unplot::engine::dwg::test::Bytes;

namespace {

// Bits of a byte array, most significant first, read as the codes of the format.
struct BitReader {
    const Bytes& b;
    std::size_t pos = 0;
    unsigned bit(std::size_t at) const { return (b.at(at / 8) >> (7 - at % 8)) & 1u; }
    std::uint64_t bits(int count)
    {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i)
            v = v << 1 | bit(pos++);
        return v;
    }
    std::uint8_t rc() { return std::uint8_t(bits(8)); }
    std::uint16_t rs() { return std::uint16_t(rc() | rc() << 8); }
    std::uint32_t bs()
    {
        const auto code = bits(2);
        return code == 0 ? rs() : code == 1 ? rc() : code == 2 ? 0 : 256;
    }
    std::uint32_t bl()
    {
        const auto code = bits(2);
        return code == 0 ? rs() | std::uint32_t(rs()) << 16 : code == 1 ? rc() : 0;
    }
    double bd()
    {
        const auto code = bits(2);
        std::uint64_t raw = 0;
        for (int i = 0; code == 0 && i < 8; ++i)
            raw |= std::uint64_t(rc()) << (8 * i);
        return code == 0 ? std::bit_cast<double>(raw) : code == 1 ? 1.0 : 0.0;
    }
    std::pair<int, std::uint64_t> h()
    {
        const std::uint8_t code = rc();
        std::uint64_t v = 0;
        for (int i = 0; i < (code & 15); ++i)
            v = v << 8 | rc();
        return {code >> 4, v};
    }
    std::u16string tu()
    {
        std::u16string t(bs(), u'\0');
        for (char16_t& c : t)
            c = char16_t(rs());
        return t;
    }
};

// Copies bits [from, to) of `b` into `w`.
void copyBits(const Bytes& b, std::size_t from, std::size_t to, BitWriter& w)
{
    BitReader r{b, from};
    while (to - r.pos >= 32)
        w.writeBits(r.bits(32), 32);
    w.writeBits(r.bits(int(to - r.pos)), int(to - r.pos));
}

TEST(SplitStreams, StringsFollowTheDataWithTheirSizeAndASetBit)
{
    SplitStreams s;
    s.data().writeB(true);
    s.writeText(u"A");
    // 1 | BS 1: 01 00000001 | 41 00 | RS 26: 00011010 00000000 | 1
    const BitWriter w = s.dataAndStrings();
    EXPECT_EQ(w.bitCount(), 44u);
    EXPECT_EQ(w.bytes(), (Bytes{0xA0, 0x28, 0x20, 0x03, 0x40, 0x10}));
}

TEST(SplitStreams, LongStringStreamsTakeAHighSizeWordFirst)
{
    SplitStreams s;
    for (int i = 0; i < 0x8001; ++i)
        s.strings().writeB(true);
    const BitWriter w = s.dataAndStrings();
    ASSERT_EQ(w.bitCount(), 0x8001u + 32 + 1);
    BitReader r{w.bytes(), 0x8001};
    EXPECT_EQ(r.rs(), 1u);        // 0x8001 >> 15
    EXPECT_EQ(r.rs(), 0x8001u);  // 0x8000 | low 15 bits
    EXPECT_EQ(r.bits(1), 1u);
}

TEST(SplitStreams, ObjectsWorkedOutByHand)
{
    SplitStreams s;
    s.data().writeB(true);
    s.handles().writeH(HandleCode::SoftPointer, 0x1F);
    // 2010: BOT 00 00010011, data 1, no strings 0: 12 bits; handles 0100 0001 0001 1111, then 4 bits of padding.
    // The handle stream is 32 - 12 = 20 bits (UMC 0x14); the size counts the four bytes after the UMC.
    // 2007: BS 01 00010011, RL 44 (0x2C: the 10 + 32 bits of type and size, data 1, no strings 0), the handles,
    // 4 bits of padding: 64 bits, 8 bytes after the MS size. No handle stream size.
    const std::pair<std::vector<std::uint8_t>, Bytes> rows[] = {
        {s.object2010(0x13), {0x04, 0x00, 0x14, 0x04, 0xE4, 0x11, 0xF0}},
        {s.object2007(0x13), {0x08, 0x00, 0x44, 0xCB, 0x00, 0x00, 0x00, 0x24, 0x11, 0xF0}}};
    for (const auto& [o, expect] : rows) {
        ASSERT_EQ(o.size(), expect.size() + 2);
        EXPECT_EQ(Bytes(o.begin(), o.end() - 2), expect);
        EXPECT_EQ(o[expect.size()] | o[expect.size() + 1] << 8, crc16(kCrcSeed, expect.data(), expect.size()));
    }
}

TEST(SplitStreams, Utf16KeepsCharactersBeyondTheBasicPlaneAsPairs)
{
    EXPECT_EQ(toUtf16("A\xC3\xA9\xE2\x82\xAC"), u"A\u00E9\u20AC");
    EXPECT_EQ(toUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(toUtf16("a\xFFz"), u"a\uFFFDz");
}

TEST(ObjectWriter, TextGoesWhereTheVersionWantsIt)
{
    ObjectWriter old(18, type::AppId, 0x12, 0x9);
    const std::size_t before = old.data().bitCount();
    old.text("\xC3\xA9");  // BS 8 then "\U+00E9" and NUL
    EXPECT_EQ(old.data().bitCount() - before, 10u + 8 * 8);
    EXPECT_EQ(old.strings().bitCount(), 0u);

    ObjectWriter w(23, type::AppId, 0x12, 0x9);
    const std::size_t dataBits = w.data().bitCount();
    w.text("\xC3\xA9");
    EXPECT_EQ(w.data().bitCount(), dataBits);
    BitWriter expect;
    expect.writeTU(u"\u00E9");
    EXPECT_EQ(w.strings().bytes(), expect.bytes());
}

// The streams of bits [from, end) of `b` whose handles start at `endBit`: before them, the strings' presence bit,
// their size in bits (RS; with 0x8000 set, a high RS before it) and the strings; before the strings, the data.
SplitStreams split(const Bytes& b, std::size_t from, std::size_t endBit, std::size_t end)
{
    SplitStreams s;
    std::size_t dataEnd = endBit - 1;
    if (BitReader{b}.bit(endBit - 1)) {
        BitReader sizes{b, endBit - 17};
        std::size_t stringBits = sizes.rs();
        dataEnd = endBit - 17;
        if (stringBits & 0x8000) {
            sizes.pos = endBit - 33;
            stringBits = (stringBits & 0x7fff) | std::size_t(sizes.rs()) << 15;
            dataEnd = endBit - 33;
        }
        dataEnd -= stringBits;
        copyBits(b, dataEnd, dataEnd + stringBits, s.strings());
    }
    copyBits(b, from, dataEnd, s.data());
    copyBits(b, endBit, end, s.handles());
    return s;
}

// One object of a real 2010 file taken apart: MS size, UMC size of the handle stream, the type, the streams.
struct RealObject {
    std::uint16_t type = 0;
    SplitStreams streams;
};
RealObject takeApart(const Bytes& o)
{
    BitReader in{o};
    std::size_t size = 0, handleBits = 0;
    for (int shift = 0, more = 1; more; shift += 15) {
        const std::uint16_t word = in.rs();
        size |= std::size_t(word & 0x7fff) << shift;
        more = word & 0x8000;
    }
    for (int shift = 0, more = 1; more; shift += 7) {
        const std::uint8_t b = in.rc();
        handleBits |= std::size_t(b & 0x7f) << shift;
        more = b & 0x80;
    }
    const std::size_t end = in.pos + 8 * size;
    const auto code = in.bits(2);
    RealObject r;
    r.type = code == 0 ? in.rc() : code == 1 ? std::uint16_t(in.rc() + 0x1f0) : in.rs();
    r.streams = split(o, in.pos, end - handleBits, end);
    return r;
}

// A header or classes section taken apart: its bit stream starts with its own size in bits, which counts up to the
// strings' presence bit.
SplitStreams takeApartSection(const Bytes& d)
{
    BitReader in{d, 16 * 8};
    const std::size_t size = in.rs() | std::size_t(in.rs()) << 16;
    in.pos = 24 * 8;
    const std::size_t endBit = in.pos + (in.rs() | std::size_t(in.rs()) << 16);
    return split(d, in.pos, endBit, 24 * 8 + 8 * size);
}

// The header variables of a 2010 file, field by field: B, BS, BL, BD, RC, 2RD, 3BD and CMC in the data stream,
// T in the string stream, H in the handle stream, HD (HANDSEED) a handle in the data stream.
const char* const kHeader2010 =
    "BD BD BD BD T T T T BL BL B B B B B B B B B B B B B B B B B B B B B BS BS BS BS BS BS BS BS BL BL BL "
    "BS BS BS BS BS BS BS BS BS BS BS BS BS BS BS BS BS BS BS BD BD BD BD BD BD BD BD BD BD BD BD BD BD "
    "BD BD BD BD BD BD BD T BL BL BL BL BL BL BL BL BL BL BL CMC HD H H H H H H BD 3BD 3BD 3BD 2RD 2RD BD "
    "3BD 3BD 3BD H H BS H 3BD 3BD 3BD 3BD 3BD 3BD 3BD 3BD 3BD 2RD 2RD BD 3BD 3BD 3BD H H BS H 3BD 3BD 3BD "
    "3BD 3BD 3BD T T BD BD BD BD BD BD BD BD BD BD BD BS CMC B B B B B B BS BS BS BS BD BD BD BD BD BD BD "
    "BD BD B BS B B B B CMC CMC CMC BS BS BS BS BS BS BS BS BS BS BS B B BS BS BS BS B BS B B BD T BD T H "
    "H H H H H H H BS BS H H H H H H H H H H H H BS BS T T H H H H H H BL BS BS T T RC RC RC RC RC RC BS "
    "BS RC RC T H H H H H B BL BL BD BD BD BD BD BD RC RC BD BD BD BD BD BD BS RC BD BD BD BL RC RC RC RC "
    "B CMC H H H RC BD";

struct HeaderWalk {
    std::size_t dataBits = 0, stringBits = 0, handleBits = 0;
    std::vector<std::u16string> strings;
    std::vector<std::uint64_t> handles;
    std::uint64_t handseed = 0;
};

HeaderWalk walkHeader2010(const SplitStreams& s)
{
    BitReader d{s.data().bytes()}, t{s.strings().bytes()}, h{s.handles().bytes()};
    HeaderWalk w;
    std::istringstream fields(kHeader2010);
    for (std::string f; fields >> f;) {
        if (f == "B" || f == "RC" || f == "2RD")
            d.bits(f == "B" ? 1 : f == "RC" ? 8 : 128);
        else if (f == "BS" || f == "BL")
            f == "BS" ? d.bs() : d.bl();
        else if (f == "BD" || f == "3BD")
            for (int i = 0; i < (f == "BD" ? 1 : 3); ++i)
                d.bd();
        else if (f == "CMC") {
            d.bs();
            d.bl();
            const std::uint8_t flags = d.rc();
            for (int i = 0; i < ((flags & 1) != 0) + ((flags & 2) != 0); ++i)
                w.strings.push_back(t.tu());
        } else if (f == "T")
            w.strings.push_back(t.tu());
        else if (f == "H" || f == "HD")
            (f == "H" ? w.handles.emplace_back() : w.handseed) = (f == "H" ? h : d).h().second;
        else
            ADD_FAILURE() << "field type " << f;
    }
    w.dataBits = d.pos;
    w.stringBits = t.pos;
    w.handleBits = h.pos;
    return w;
}

TEST(Header2010, EveryFieldInItsStreamAndNothingElse)
{
    unplot::engine::Drawing drawing;
    drawing.widthMm = 420;
    drawing.heightMm = 297;
    const SplitStreams s = DwgBuilder(drawing, 23).headerStreams();
    const HeaderWalk w = walkHeader2010(s);
    EXPECT_EQ(w.dataBits, s.data().bitCount());
    EXPECT_EQ(w.stringBits, s.strings().bitCount());
    EXPECT_EQ(w.handleBits, s.handles().bitCount());
    ASSERT_EQ(w.strings.size(), 14u);
    EXPECT_EQ(w.strings[4], u"acad");  // MENUNAME
    EXPECT_EQ(w.strings[11].size(), 38u);  // FINGERPRINTGUID
    ASSERT_EQ(w.handles.size(), 46u);
    EXPECT_EQ(w.handles[0], handle::Layer0);                     // CLAYER
    EXPECT_EQ(w.handles[4], handle::DimStandard);                // DIMSTYLE, after CMATERIAL
    EXPECT_EQ(w.handles[20], handle::BlockControl);              // the first table control
    EXPECT_EQ(w.handles[38], handle::PaperBlock);                // *Paper_Space, after the dictionaries
    EXPECT_EQ(w.handles[42], handle::LtypeContinuous);
    // Up to 2004 nothing leaves the data stream.
    const SplitStreams old = DwgBuilder(drawing, 18).headerStreams();
    EXPECT_EQ(old.strings().bitCount() + old.handles().bitCount(), 0u);
}

class Real2010File : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const Bytes file = test::sample("example_2010.dwg");
        if (!file.empty())
            file_ = new test::DwgFile(test::readDwg(file));
    }
    static void TearDownTestSuite()
    {
        delete file_;
        file_ = nullptr;
    }
    void SetUp() override
    {
        if (file_ == nullptr)
            GTEST_SKIP() << "no example_2010.dwg under " << UNPLOT_SHARED_DIR << "/dwg-samples";
    }
    static test::DwgFile* file_;
};
test::DwgFile* Real2010File::file_ = nullptr;

TEST_F(Real2010File, HeaderAndClassSectionsComeBackBitForBit)
{
    const std::pair<const char*, std::pair<Sentinel, Sentinel>> sections[] = {
        {"AcDb:Header", {kHeaderVarsBegin, kHeaderVarsEnd}}, {"AcDb:Classes", {kClassesBegin, kClassesEnd}}};
    for (const auto& [name, sentinels] : sections) {
        const Bytes& d = file_->sections.at(name);
        const SplitStreams s = takeApartSection(d);
        EXPECT_GT(s.strings().bitCount(), 0u) << name;
        const std::vector<std::uint8_t> again = framedSection2010(sentinels.first, s, sentinels.second);
        ASSERT_LE(again.size(), d.size()) << name;
        EXPECT_EQ(Bytes(again.begin(), again.end()), Bytes(d.begin(), d.begin() + std::ptrdiff_t(again.size())))
            << name;
        // What follows is padding.
        EXPECT_EQ(std::count(d.begin() + std::ptrdiff_t(again.size()), d.end(), 0),
                  std::ptrdiff_t(d.size() - again.size()))
            << name;
    }
    // The header's handles have a stream of their own; the classes have none (only the padding bits).
    EXPECT_GT(takeApartSection(file_->sections.at("AcDb:Header")).handles().bitCount(), 100u);
    EXPECT_LT(takeApartSection(file_->sections.at("AcDb:Classes")).handles().bitCount(), 8u);
}

TEST_F(Real2010File, HeaderFieldTableReadsTheRealHeaderExactly)
{
    const SplitStreams s = takeApartSection(file_->sections.at("AcDb:Header"));
    const HeaderWalk w = walkHeader2010(s);
    EXPECT_EQ(w.dataBits, s.data().bitCount());
    EXPECT_EQ(w.stringBits, s.strings().bitCount());
    // The real file has 80 more bits after its handles, which no reader looks at.
    EXPECT_EQ(w.handleBits + 80, s.handles().bitCount());
    EXPECT_EQ(w.strings.size(), 14u);
    EXPECT_EQ(w.handles.size(), 46u);
    EXPECT_GT(w.handseed, file_->objectAt.rbegin()->first);  // beyond every object's handle
}

// The real file's objects that our common fields can say exactly (no extended data, no extension dictionary,
// absolute owner handles; entities in model space with default colour, linetype, material, shadow and visual style
// settings) are written again through ObjectWriter: the common fields by the writer, the rest copied, and the
// result must be the real object, byte for byte.
TEST_F(Real2010File, ObjectWriterWritesTheCommonFieldsAsARealWriter)
{
    const Bytes& objects = file_->sections.at("AcDb:AcDbObjects");
    int entities = 0, others = 0;
    for (const auto& [handle, offset] : file_->objectAt) {
        const Bytes o = test::objectBytes(objects, std::size_t(offset), true);
        const RealObject real = takeApart(o);
        BitReader d{real.streams.data().bytes()}, h{real.streams.handles().bytes()};
        const std::size_t handleBits = real.streams.handles().bitCount();
        if (d.h() != std::pair<int, std::uint64_t>{0, handle} || d.bs() != 0)
            continue;  // extended data
        const bool entity = real.type == 19 || real.type == 17 || real.type == 18 || real.type == 1 ||
                            real.type == 77 || real.type == 35;  // LINE ARC CIRCLE TEXT LWPOLYLINE ELLIPSE
        std::unique_ptr<ObjectWriter> w;
        if (entity) {
            EntityCommon c;
            if (d.bits(1) != 0 || d.bits(2) != 2 || d.bl() != 0 || d.bits(1) != 1)
                continue;  // graphics, not model space, reactors or an extension dictionary
            c.color = std::uint16_t(d.bs());
            if ((c.color & 0xc000) != 0 || d.bd() != 1.0 || d.bits(2) != 0 || d.bits(2) != 0 || d.bits(2) != 0 ||
                d.rc() != 0 || d.bits(3) != 0 || d.bs() != 0)
                continue;
            c.lineweight = d.rc();
            if (handleBits < 8)
                continue;
            const auto layer = h.h();
            if (layer.first != 5 || h.pos + 8 <= handleBits)
                continue;  // linetype, plot style or other handles follow
            c.layer = layer.second;
            w = std::make_unique<ObjectWriter>(23, real.type, handle, c);
            ++entities;
        } else {
            const std::uint32_t reactors = d.bl();
            if (reactors > 1 || d.bits(1) != 1)
                continue;
            const auto owner = h.h();
            if (owner.first != 4 || (reactors == 1 && h.h() != owner))
                continue;
            w = std::make_unique<ObjectWriter>(23, real.type, handle, owner.second, reactors == 1);
            ++others;
        }
        copyBits(real.streams.data().bytes(), d.pos, real.streams.data().bitCount(), w->data());
        copyBits(real.streams.handles().bytes(), h.pos, handleBits, w->refs());
        w->strings().append(real.streams.strings());
        const std::vector<std::uint8_t> again = w->finish();
        ASSERT_EQ(Bytes(again.begin(), again.end()), o) << "handle " << std::hex << handle << " type " << real.type;
    }
    EXPECT_GE(entities, 5);  // 7 in this file
    EXPECT_GE(others, 20);   // 24
}

}  // namespace
