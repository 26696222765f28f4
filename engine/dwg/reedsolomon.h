#pragma once
// Reed-Solomon coding of 2007 (AC1021) files: the file header is coded (255,239) and the pages (255,251), each
// interleaved over several code words.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

// Code words are 255 bytes: `dataBytes` of data, then 255 - dataBytes parity bytes. The field is GF(256) over
// x^8+x^4+x^3+x^2+1 for the (255,251) code of data pages, over x^8+x^6+x^5+x^3+1 for every other code; the
// generator's roots are a^1 .. a^(255-dataBytes). Data byte j is the coefficient of x^(parity+j), parity byte j
// that of x^j.
class ReedSolomon {
public:
    static constexpr std::size_t kWordSize = 255;
    static constexpr std::size_t kHeaderData = 239;  // (255,239): the 2007 file header
    static constexpr std::size_t kPageData = 251;    // (255,251): pages

    explicit ReedSolomon(std::size_t dataBytes);

    std::size_t dataBytes() const { return k_; }
    std::size_t parityBytes() const { return kWordSize - k_; }

    // The parity of one code word: `data` holds dataBytes() bytes, `parity` receives parityBytes().
    void parity(const std::uint8_t* data, std::uint8_t* parity) const;

    // Codes `words` code words interleaved as the file stores them: word w takes data bytes
    // [w*dataBytes(), (w+1)*dataBytes()) (missing bytes are zero) and byte i of word w lands at i*words + w.
    std::vector<std::uint8_t> encodeInterleaved(const std::vector<std::uint8_t>& data, std::size_t words) const;

    // Words needed for `size` data bytes.
    std::size_t wordsFor(std::size_t size) const { return (size + k_ - 1) / k_; }

private:
    std::size_t k_;
    const void* field_;  // the Field of reedsolomon.cpp
    std::vector<std::uint8_t> generator_;  // monic generator without its leading 1: coefficients of x^0 .. x^(n-1)
};

}  // namespace unplot::engine::dwg
