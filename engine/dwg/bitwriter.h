#pragma once
// A DWG bit stream: the bit-coded values of the R13 and later formats, most significant bit first.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace unplot::engine::dwg {

// Handle reference codes.
enum class HandleCode : std::uint8_t {
    Plain = 0,      // an object's own handle
    SoftOwner = 2,
    HardOwner = 3,
    SoftPointer = 4,
    HardPointer = 5,
};

class BitWriter {
public:
    // Raw values, not aligned to bytes.
    void writeB(bool bit);
    void writeBB(unsigned value);  // 2 bits
    void write3B(unsigned value);  // 0..7 as 1 to 3 bits: 0, 10, 110, 111
    void writeBits(std::uint64_t value, int count);  // the low `count` bits, most significant first
    void writeRC(std::uint8_t value);
    void writeRS(std::uint16_t value);  // little-endian
    void writeRL(std::uint32_t value);
    void writeRD(double value);

    // Compressed values.
    void writeBS(std::uint16_t value);
    void writeBL(std::uint32_t value);
    void writeBLL(std::uint64_t value);
    void writeBD(double value);
    void writeDD(double value, double defaultValue);
    void writeMC(std::int64_t value);    // modular char, signed
    void writeUMC(std::uint64_t value);  // modular char, unsigned
    void writeMS(std::uint32_t value);   // modular short
    void writeH(HandleCode code, std::uint64_t handle);
    void writeT(std::string_view bytes);    // BS length, then 8-bit characters (R13 to R2004)
    // Text as real R13 to R2004 files store it: a non-empty string carries a terminating NUL, counted in its length.
    void writeTV(std::string_view bytes);
    void writeTU(std::u16string_view text);  // BS length, then UTF-16LE (R2007 and later)
    // R2010 and later object type: 00 and a byte below 0x100, 01 and a byte for 0x1F0 to 0x2EF, else 10 and RS.
    void writeBOT(std::uint16_t type);
    // Indexed colour: up to R2000 the index alone; with useTrueColorCmc (R2004 and later) the index, its colour
    // method (0xC0 by layer, 0xC1 by block, 0xC3 an index) and no name.
    void writeCMC(std::uint16_t aci);
    void useTrueColorCmc(bool on) { trueColorCmc_ = on; }
    void writeCMC(std::uint16_t aci, std::uint32_t rgb);  // R2004 and later: index, 0xC2RRGGBB, no name
    void writeBE(double x, double y, double z, bool r2000);  // extrusion
    void writeBT(double thickness, bool r2000);
    void write2RD(double x, double y);
    void write3BD(double x, double y, double z);
    void write2BD(double x, double y);

    // Appends whole bytes (aligned or not).
    void writeBytes(const std::uint8_t* data, std::size_t size);
    void append(const BitWriter& other);  // the other stream's bits, exactly
    // Overwrites 32 bits at a bit position already written, as RL.
    void patchRL(std::size_t bitPosition, std::uint32_t value);

    std::size_t bitCount() const { return bits_; }
    // The bytes so far, the last one padded with zero bits.
    const std::vector<std::uint8_t>& bytes() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
    std::size_t bits_ = 0;
    bool trueColorCmc_ = false;
};

// Size of a handle value in bytes (0 for the null handle).
int handleByteCount(std::uint64_t handle);

}  // namespace unplot::engine::dwg
