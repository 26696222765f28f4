// Bit codes against bytes worked out by hand.
#include "bitwriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace unplot::engine::dwg;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Row {
    const char* name;
    std::function<void(BitWriter&)> write;
    std::size_t bits;
    Bytes bytes;
};

class BitCodes : public testing::TestWithParam<Row> {};

TEST_P(BitCodes, WritesTheBitsWorkedOutByHand)
{
    BitWriter w;
    GetParam().write(w);
    EXPECT_EQ(w.bitCount(), GetParam().bits);
    EXPECT_EQ(w.bytes(), GetParam().bytes);
}

// Each row's bytes: the bits most significant first, the last byte padded with zeros.
const Row kRows[] = {
    {"B", [](BitWriter& w) { w.writeB(true), w.writeB(false), w.writeB(true); }, 3, {0xA0}},
    {"BB", [](BitWriter& w) { w.writeBB(2), w.writeBB(1), w.writeBB(3); }, 6, {0b10011100}},
    {"3B", [](BitWriter& w) { w.write3B(0), w.write3B(1), w.write3B(2), w.write3B(7); }, 9, {0b01011011, 0b10000000}},
    {"RC unaligned", [](BitWriter& w) { w.writeB(true), w.writeRC(0xFF); }, 9, {0xFF, 0x80}},
    {"RS little-endian", [](BitWriter& w) { w.writeRS(0x1234); }, 16, {0x34, 0x12}},
    {"RL", [](BitWriter& w) { w.writeRL(0x01020304); }, 32, {0x04, 0x03, 0x02, 0x01}},
    {"RD 1.0", [](BitWriter& w) { w.writeRD(1.0); }, 64, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"BS 0", [](BitWriter& w) { w.writeBS(0); }, 2, {0x80}},
    {"BS 256", [](BitWriter& w) { w.writeBS(256); }, 2, {0xC0}},
    // 01 then 0x0F: 0100 0011 11..
    {"BS byte", [](BitWriter& w) { w.writeBS(15); }, 10, {0x43, 0xC0}},
    // 00 then 0x34 0x12: 0000 1101 0000 0100 10..
    {"BS short", [](BitWriter& w) { w.writeBS(0x1234); }, 18, {0x0D, 0x04, 0x80}},
    {"BL 0", [](BitWriter& w) { w.writeBL(0); }, 2, {0x80}},
    {"BL byte", [](BitWriter& w) { w.writeBL(255); }, 10, {0x7F, 0xC0}},
    // 00 then 00 01 00 00: 0000 0000 0000 0000 0100 0000 0000 0000 0000 00..
    {"BL long", [](BitWriter& w) { w.writeBL(256); }, 34, {0x00, 0x00, 0x40, 0x00, 0x00}},
    // 3 bits of length (2) then 0x34 0x12: 010 0011 0100 0001 0010 -> 0100 0110 1000 0010 010.
    {"BLL", [](BitWriter& w) { w.writeBLL(0x1234); }, 19, {0x46, 0x82, 0x40}},
    {"BD 0", [](BitWriter& w) { w.writeBD(0.0); }, 2, {0x80}},
    {"BD 1", [](BitWriter& w) { w.writeBD(1.0); }, 2, {0x40}},
    // 00 then 2.0 = 00..00 40: the last byte 0x40 lands after two zero bits.
    {"BD raw", [](BitWriter& w) { w.writeBD(2.0); }, 66, {0, 0, 0, 0, 0, 0, 0, 0x10, 0x00}},
    {"DD default", [](BitWriter& w) { w.writeDD(5.0, 5.0); }, 2, {0x00}},
    // 1.5 = 00 00 00 00 00 00 F8 3F and 1.0 = ... F0 3F: bytes 7 differ -> full RD (11 + 8 bytes).
    {"DD full", [](BitWriter& w) { w.writeDD(1.5, 1.0); }, 66,
     {0xC0, 0, 0, 0, 0, 0, 0x3E, 0x0F, 0xC0}},
    // 1.0 + 2^-52 differs from 1.0 in the low four bytes only: 01 then 01 00 00 00.
    {"DD four bytes", [](BitWriter& w) { w.writeDD(1.0000000000000002, 1.0); }, 34, {0x40, 0x40, 0, 0, 0}},
    // 1.0 + 2^-20 = 00 00 00 00 01 00 F0 3F: 10 then bytes 5,6 (01 00) then 1-4 (00 00 00 00).
    {"DD six bytes", [](BitWriter& w) { w.writeDD(1.00000095367431640625, 1.0); }, 50,
     {0x80, 0x40, 0, 0, 0, 0, 0x00}},
    {"MC small", [](BitWriter& w) { w.writeMC(5); }, 8, {0x05}},
    {"MC negative", [](BitWriter& w) { w.writeMC(-5); }, 8, {0x45}},
    // 64 needs a second byte: its sixth bit would read as the sign.
    {"MC 64", [](BitWriter& w) { w.writeMC(64); }, 16, {0xC0, 0x00}},
    {"MC object-map offset", [](BitWriter& w) { w.writeMC(27675); }, 24, {0x9B, 0xD8, 0x01}},
    {"MC -200", [](BitWriter& w) { w.writeMC(-200); }, 16, {0xC8, 0x41}},
    {"UMC", [](BitWriter& w) { w.writeUMC(200); }, 16, {0xC8, 0x01}},
    {"MS small", [](BitWriter& w) { w.writeMS(0x38); }, 16, {0x38, 0x00}},
    // 0x12345 = 0x2345 | 2 << 15: (0x8000 | 0x2345) then 0x0002.
    {"MS two words", [](BitWriter& w) { w.writeMS(0x12345); }, 32, {0x45, 0xA3, 0x02, 0x00}},
    {"H null", [](BitWriter& w) { w.writeH(HandleCode::HardOwner, 0); }, 8, {0x30}},
    {"H one byte", [](BitWriter& w) { w.writeH(HandleCode::SoftPointer, 0x1F); }, 16, {0x41, 0x1F}},
    {"H big-endian", [](BitWriter& w) { w.writeH(HandleCode::HardPointer, 0x1234); }, 24, {0x52, 0x12, 0x34}},
    // BS 2 (01 00000010) then 'A' 'b'.
    {"T", [](BitWriter& w) { w.writeT("Ab"); }, 26, {0x40, 0x90, 0x58, 0x80}},
    // BS 2 (01 00000010), 'A', NUL; an empty string is BS 0 alone.
    {"TV", [](BitWriter& w) { w.writeTV("A"), w.writeTV(""); }, 28, {0x40, 0x90, 0x40, 0x20}},
    // BS 1 (01 00000001) then 0x20AC as 0xAC 0x20.
    {"TU", [](BitWriter& w) { w.writeTU(u"\u20AC"); }, 26, {0x40, 0x6B, 0x08, 0x00}},
    // 00 then 0x13: 0000 0100 11..
    {"BOT byte", [](BitWriter& w) { w.writeBOT(0x13); }, 10, {0x04, 0xC0}},
    // A class number 0x1F4: 01 then 0x04: 0100 0001 00.
    {"BOT class", [](BitWriter& w) { w.writeBOT(0x1F4); }, 10, {0x41, 0x00}},
    // 10 then RS 0x0300 (00 03): 1000 0000 0000 0000 11..
    {"BOT short", [](BitWriter& w) { w.writeBOT(0x300); }, 18, {0x80, 0x00, 0xC0}},
    // BS 7 (01 00000111).
    {"CMC index", [](BitWriter& w) { w.writeCMC(7); }, 10, {0x41, 0xC0}},
    // BS 0 (10), BL 0xC2FF8000 (00 then 00 80 FF C2), RC 0.
    {"CMC true colour", [](BitWriter& w) { w.writeCMC(0, 0xFF8000); }, 44,
     {0x80, 0x08, 0x0F, 0xFC, 0x20, 0x00}},
    {"BE default", [](BitWriter& w) { w.writeBE(0, 0, 1, true); }, 1, {0x80}},
    // 0 then BD 0, BD 0, BD -1 (00 + RD): 0 10 10 00 then 00 00 00 00 00 00 F0 BF.
    {"BE other", [](BitWriter& w) { w.writeBE(0, 0, -1, true); }, 71,
     {0x50, 0, 0, 0, 0, 0, 0x01, 0xE1, 0x7E}},
    {"BE R14", [](BitWriter& w) { w.writeBE(0, 0, 1, false); }, 6, {0xA4}},
    {"BT zero", [](BitWriter& w) { w.writeBT(0, true); }, 1, {0x80}},
    {"BT one", [](BitWriter& w) { w.writeBT(1, true); }, 3, {0x20}},
    {"BT R14", [](BitWriter& w) { w.writeBT(0, false); }, 2, {0x80}},
};

INSTANTIATE_TEST_SUITE_P(Codes, BitCodes, testing::ValuesIn(kRows), [](const auto& row) {
    std::string name = row.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

TEST(BitWriter, AppendKeepsUnalignedBits)
{
    BitWriter a, b;
    a.writeBits(0b101, 3);
    b.writeBits(0b11001, 5);
    b.writeRC(0xA5);
    a.append(b);
    EXPECT_EQ(a.bitCount(), 16u);
    EXPECT_EQ(a.bytes(), (Bytes{0b10111001, 0xA5}));
}

TEST(BitWriter, PatchRLOverwritesInPlace)
{
    BitWriter w;
    w.writeBits(0b11, 2);
    const std::size_t at = w.bitCount();
    w.writeRL(0);
    w.writeB(true);
    w.patchRL(at, 0xFFFFFFFF);
    EXPECT_EQ(w.bytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xE0}));
    w.patchRL(at, 0);
    EXPECT_EQ(w.bytes(), (Bytes{0xC0, 0, 0, 0, 0x20}));
}

}  // namespace
