#pragma once
// UTF-8, as the drawing model stores text.

#include <cstddef>
#include <string>
#include <string_view>

namespace unplot::engine {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `pos` and advances past it; a malformed sequence gives U+FFFD and skips one byte.
char32_t nextCodePoint(std::string_view utf8, std::size_t& pos);

// Appends the UTF-8 encoding of a code point; one that is not a Unicode scalar value is appended as U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace unplot::engine
