#include "bitwriter.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace unplot::engine::dwg {

void BitWriter::writeB(bool bit)
{
    if (bits_ % 8 == 0)
        data_.push_back(0);
    if (bit)
        data_.back() = std::uint8_t(data_.back() | (0x80u >> (bits_ % 8)));
    ++bits_;
}

void BitWriter::writeBits(std::uint64_t value, int count)
{
    for (; count >= 8; count -= 8)
        writeRC(std::uint8_t(value >> (count - 8)));
    for (int i = count - 1; i >= 0; --i)
        writeB(((value >> i) & 1u) != 0);
}

void BitWriter::writeBB(unsigned value) { writeBits(value & 3u, 2); }

void BitWriter::write3B(unsigned value)
{
    // 0 -> 0, 1 -> 10, 2 -> 110, 3..7 are not representable beyond 111 (value 7 in the format's terms).
    switch (value) {
    case 0: writeB(false); break;
    case 1: writeBits(0b10, 2); break;
    case 2: writeBits(0b110, 3); break;
    default: writeBits(0b111, 3); break;
    }
}

void BitWriter::writeRC(std::uint8_t value)
{
    // The unused low bits of the last byte are always zero.
    const unsigned shift = unsigned(bits_ % 8);
    if (shift == 0) {
        data_.push_back(value);
    } else {
        data_.back() = std::uint8_t(data_.back() | (value >> shift));
        data_.push_back(std::uint8_t(value << (8 - shift)));
    }
    bits_ += 8;
}

void BitWriter::writeRS(std::uint16_t value)
{
    writeRC(std::uint8_t(value & 0xff));
    writeRC(std::uint8_t(value >> 8));
}

void BitWriter::writeRL(std::uint32_t value)
{
    writeRS(std::uint16_t(value & 0xffff));
    writeRS(std::uint16_t(value >> 16));
}

void BitWriter::writeRD(double value)
{
    const auto raw = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        writeRC(std::uint8_t(raw >> (8 * i)));
}

void BitWriter::writeBS(std::uint16_t value)
{
    if (value == 0) {
        writeBB(2);
    } else if (value == 256) {
        writeBB(3);
    } else if (value < 256) {
        writeBB(1);
        writeRC(std::uint8_t(value));
    } else {
        writeBB(0);
        writeRS(value);
    }
}

void BitWriter::writeBL(std::uint32_t value)
{
    if (value == 0) {
        writeBB(2);
    } else if (value < 256) {
        writeBB(1);
        writeRC(std::uint8_t(value));
    } else {
        writeBB(0);
        writeRL(value);
    }
}

void BitWriter::writeBLL(std::uint64_t value)
{
    unsigned count = 0;
    for (std::uint64_t v = value; v != 0; v >>= 8)
        ++count;
    writeBits(count, 3);
    for (unsigned i = 0; i < count; ++i)
        writeRC(std::uint8_t(value >> (8 * i)));
}

void BitWriter::writeBD(double value)
{
    if (value == 0.0 && !std::signbit(value)) {
        writeBB(2);
    } else if (value == 1.0) {
        writeBB(1);
    } else {
        writeBB(0);
        writeRD(value);
    }
}

void BitWriter::writeDD(double value, double defaultValue)
{
    const auto v = std::bit_cast<std::uint64_t>(value);
    const auto d = std::bit_cast<std::uint64_t>(defaultValue);
    if (v == d) {
        writeBB(0);
    } else if ((v >> 32) == (d >> 32)) {
        // Only the low four bytes differ.
        writeBB(1);
        for (int i = 0; i < 4; ++i)
            writeRC(std::uint8_t(v >> (8 * i)));
    } else if ((v >> 48) == (d >> 48)) {
        // Bytes 5 and 6, then bytes 1 to 4.
        writeBB(2);
        writeRC(std::uint8_t(v >> 32));
        writeRC(std::uint8_t(v >> 40));
        for (int i = 0; i < 4; ++i)
            writeRC(std::uint8_t(v >> (8 * i)));
    } else {
        writeBB(3);
        writeRD(value);
    }
}

void BitWriter::writeMC(std::int64_t value)
{
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? std::uint64_t(-(value + 1)) + 1 : std::uint64_t(value);
    // 7 bits a byte, low group first; the last byte keeps 6 bits and the sign in 0x40.
    while (magnitude >= 0x40) {
        writeRC(std::uint8_t(0x80 | (magnitude & 0x7f)));
        magnitude >>= 7;
    }
    writeRC(std::uint8_t(magnitude | (negative ? 0x40 : 0)));
}

void BitWriter::writeUMC(std::uint64_t value)
{
    while (value >= 0x80) {
        writeRC(std::uint8_t(0x80 | (value & 0x7f)));
        value >>= 7;
    }
    writeRC(std::uint8_t(value));
}

void BitWriter::writeMS(std::uint32_t value)
{
    while (value >= 0x8000) {
        writeRS(std::uint16_t(0x8000 | (value & 0x7fff)));
        value >>= 15;
    }
    writeRS(std::uint16_t(value));
}

int handleByteCount(std::uint64_t handle)
{
    int n = 0;
    for (; handle != 0; handle >>= 8)
        ++n;
    return n;
}

void BitWriter::writeH(HandleCode code, std::uint64_t handle)
{
    const int n = handleByteCount(handle);
    writeRC(std::uint8_t((unsigned(code) << 4) | unsigned(n)));
    for (int i = n - 1; i >= 0; --i)
        writeRC(std::uint8_t(handle >> (8 * i)));
}

void BitWriter::writeT(std::string_view bytes)
{
    writeBS(std::uint16_t(bytes.size()));
    for (char c : bytes)
        writeRC(std::uint8_t(c));
}

void BitWriter::writeTV(std::string_view bytes)
{
    if (bytes.empty()) {
        writeBS(0);
        return;
    }
    writeBS(std::uint16_t(bytes.size() + 1));
    for (char c : bytes)
        writeRC(std::uint8_t(c));
    writeRC(0);
}

void BitWriter::writeTU(std::u16string_view text)
{
    writeBS(std::uint16_t(text.size()));
    for (char16_t c : text)
        writeRS(std::uint16_t(c));
}

void BitWriter::writeBOT(std::uint16_t type)
{
    if (type < 0x100) {
        writeBB(0);
        writeRC(std::uint8_t(type));
    } else if (type >= 0x1f0 && type < 0x2f0) {
        writeBB(1);
        writeRC(std::uint8_t(type - 0x1f0));
    } else {
        writeBB(2);
        writeRS(type);
    }
}

void BitWriter::writeCMC(std::uint16_t aci)
{
    writeBS(aci);
    if (!trueColorCmc_)
        return;
    const auto index = std::int16_t(aci);
    const std::uint32_t method = index == 256 ? 0xc0000000u
                                 : index == 0 ? 0xc1000000u
                                              : 0xc3000000u | std::uint32_t(index < 0 ? -index : index);
    writeBL(method);
    writeRC(0);
}

void BitWriter::writeCMC(std::uint16_t aci, std::uint32_t rgb)
{
    writeBS(aci);
    writeBL(0xc2000000u | (rgb & 0xffffffu));
    writeRC(0);  // no colour name, no book name
}

void BitWriter::writeBE(double x, double y, double z, bool r2000)
{
    if (r2000) {
        const bool unit = x == 0.0 && y == 0.0 && z == 1.0;
        writeB(unit);
        if (unit)
            return;
    }
    write3BD(x, y, z);
}

void BitWriter::writeBT(double thickness, bool r2000)
{
    if (r2000) {
        writeB(thickness == 0.0);
        if (thickness == 0.0)
            return;
    }
    writeBD(thickness);
}

void BitWriter::write2RD(double x, double y)
{
    writeRD(x);
    writeRD(y);
}

void BitWriter::write2BD(double x, double y)
{
    writeBD(x);
    writeBD(y);
}

void BitWriter::write3BD(double x, double y, double z)
{
    writeBD(x);
    writeBD(y);
    writeBD(z);
}

void BitWriter::writeBytes(const std::uint8_t* data, std::size_t size)
{
    if (bits_ % 8 == 0) {
        data_.insert(data_.end(), data, data + size);
        bits_ += 8 * size;
        return;
    }
    for (std::size_t i = 0; i < size; ++i)
        writeRC(data[i]);
}

void BitWriter::append(const BitWriter& other)
{
    const std::size_t whole = other.bits_ / 8;
    writeBytes(other.data_.data(), whole);
    const unsigned rest = unsigned(other.bits_ % 8);
    if (rest != 0)
        writeBits(std::uint64_t(other.data_[whole] >> (8 - rest)), int(rest));
}

void BitWriter::patchRL(std::size_t bitPosition, std::uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte) {
        const auto b = std::uint8_t(value >> (8 * byte));
        for (int i = 0; i < 8; ++i) {
            const std::size_t pos = bitPosition + std::size_t(byte * 8 + i);
            const auto mask = std::uint8_t(0x80u >> (pos % 8));
            if ((b >> (7 - i)) & 1u)
                data_[pos / 8] = std::uint8_t(data_[pos / 8] | mask);
            else
                data_[pos / 8] = std::uint8_t(data_[pos / 8] & ~mask);
        }
    }
}

}  // namespace unplot::engine::dwg
