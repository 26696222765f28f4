#include "lz77.h"

#include <algorithm>

namespace unplot::engine::dwg {
namespace {

constexpr std::size_t kMinMatch = 3;
constexpr unsigned kHashBits = 15;
constexpr int kMaxChain = 16;
constexpr std::size_t kGoodEnough = 64;  // a match this long ends the search: a longer one saves next to nothing

std::uint32_t hash3(const std::uint8_t* p)
{
    const std::uint32_t v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

std::vector<Match> findMatches(const std::uint8_t* data, std::size_t size, const MatchRules& rules,
                               std::size_t& trailing)
{
    std::vector<Match> matches;
    std::vector<std::int32_t> head(std::size_t(1) << kHashBits, -1);
    std::vector<std::int32_t> prev(size, -1);
    auto insert = [&](std::size_t at) {
        if (at + kMinMatch > size)
            return;
        const std::uint32_t h = hash3(data + at);
        prev[at] = head[h];
        head[h] = std::int32_t(at);
    };

    std::size_t literalStart = 0;
    std::size_t i = 0;
    while (i < size) {
        std::size_t bestLength = 0, bestDistance = 0;
        if (i + kMinMatch <= size && i >= rules.firstMatchAt) {
            const std::size_t limit = std::min(size - i, rules.maxLength);
            std::int32_t candidate = head[hash3(data + i)];
            for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
                const auto c = std::size_t(candidate);
                const std::size_t distance = i - c;
                if (distance > rules.maxDistance)
                    break;
                if (bestLength != 0 && data[c + bestLength] != data[i + bestLength]) {
                    candidate = prev[c];  // cannot be longer than the best so far
                    continue;
                }
                std::size_t n = 0;
                while (n < limit && data[c + n] == data[i + n])
                    ++n;
                if (n > bestLength && n >= kMinMatch + (distance > rules.farDistance ? 1 : 0)) {
                    bestLength = n;
                    bestDistance = distance;
                    if (n == limit || n >= kGoodEnough)
                        break;
                }
                candidate = prev[c];
            }
        }
        if (bestLength != 0) {
            matches.push_back({i - literalStart, bestDistance, bestLength});
            for (std::size_t k = 0; k < bestLength; ++k)
                insert(i + k);
            i += bestLength;
            literalStart = i;
        } else {
            insert(i);
            ++i;
        }
    }
    trailing = size - literalStart;
    return matches;
}

}  // namespace unplot::engine::dwg
