#pragma once
// Greedy LZ77 matching for the compressed pages of 2004 and later files, shared by the two encodings (the 2004
// variant of 2004 and 2010 files, the 2007 one): hash chains over three-byte prefixes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unplot::engine::dwg {

struct Match {
    std::size_t literals;  // bytes before the match that no match covers
    std::size_t distance;  // back from the match's start
    std::size_t length;
};

struct MatchRules {
    std::size_t maxDistance;
    std::size_t maxLength;
    std::size_t farDistance = SIZE_MAX;  // matches from further back need one byte more than the three of others
    std::size_t firstMatchAt = 1;        // no match starts before this
};

// The matches of `data` in order; `trailing` receives the number of bytes after the last one.
std::vector<Match> findMatches(const std::uint8_t* data, std::size_t size, const MatchRules& rules,
                               std::size_t& trailing);

}  // namespace unplot::engine::dwg
