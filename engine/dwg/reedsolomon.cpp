#include "reedsolomon.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace unplot::engine::dwg {
namespace {

struct Field {
    std::array<std::uint8_t, 512> exp{};
    std::array<int, 256> log{};

    constexpr explicit Field(unsigned polynomial)
    {
        unsigned x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[std::size_t(i)] = std::uint8_t(x);
            log[x] = i;
            x <<= 1;
            if (x & 0x100u)
                x ^= polynomial;
        }
        for (std::size_t i = 255; i < exp.size(); ++i)
            exp[i] = exp[i - 255];
    }

    constexpr std::uint8_t mul(std::uint8_t a, std::uint8_t b) const
    {
        if (a == 0 || b == 0)
            return 0;
        return exp[std::size_t(log[a] + log[b])];
    }
};

constexpr Field kHeaderField(0x169);  // x^8+x^6+x^5+x^3+1: the file header and the page and section maps
constexpr Field kPageField(0x11d);    // x^8+x^4+x^3+x^2+1: data pages

}  // namespace

ReedSolomon::ReedSolomon(std::size_t dataBytes)
    : k_(dataBytes), field_(dataBytes == kPageData ? &kPageField : &kHeaderField)
{
    if (dataBytes == 0 || dataBytes >= kWordSize)
        throw std::invalid_argument("Reed-Solomon: data bytes must lie in 1..254");
    const Field& kField = *static_cast<const Field*>(field_);
    // g(x) = (x - a^1)(x - a^2)...(x - a^n), built as coefficients of x^0 .. x^n.
    const std::size_t n = parityBytes();
    std::vector<std::uint8_t> g{1};
    for (std::size_t i = 1; i <= n; ++i) {
        const std::uint8_t root = kField.exp[i];
        std::vector<std::uint8_t> next(g.size() + 1, 0);
        for (std::size_t j = 0; j < g.size(); ++j) {
            next[j + 1] ^= g[j];
            next[j] ^= kField.mul(g[j], root);
        }
        g = std::move(next);
    }
    g.pop_back();  // the leading 1
    generator_ = std::move(g);
}

void ReedSolomon::parity(const std::uint8_t* data, std::uint8_t* parity) const
{
    // The remainder of data(x) * x^n divided by g(x), fed from the highest coefficient down.
    const std::size_t n = parityBytes();
    const Field& kField = *static_cast<const Field*>(field_);
    std::vector<std::uint8_t> rem(n, 0);
    for (std::size_t j = k_; j-- > 0;) {
        const std::uint8_t feedback = std::uint8_t(data[j] ^ rem[n - 1]);
        for (std::size_t i = n - 1; i > 0; --i)
            rem[i] = std::uint8_t(rem[i - 1] ^ kField.mul(generator_[i], feedback));
        rem[0] = kField.mul(generator_[0], feedback);
    }
    for (std::size_t i = 0; i < n; ++i)
        parity[i] = rem[i];
}

std::vector<std::uint8_t> ReedSolomon::encodeInterleaved(const std::vector<std::uint8_t>& data,
                                                         std::size_t words) const
{
    std::vector<std::uint8_t> out(words * kWordSize, 0);
    std::vector<std::uint8_t> word(kWordSize, 0);
    for (std::size_t w = 0; w < words; ++w) {
        std::fill(word.begin(), word.end(), std::uint8_t(0));
        const std::size_t begin = w * k_;
        for (std::size_t j = 0; j < k_ && begin + j < data.size(); ++j)
            word[j] = data[begin + j];
        parity(word.data(), word.data() + k_);
        for (std::size_t i = 0; i < kWordSize; ++i)
            out[i * words + w] = word[i];
    }
    return out;
}

}  // namespace unplot::engine::dwg
