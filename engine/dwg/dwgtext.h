#pragma once
// Text as the 8-bit string fields of R13 to R2004 files store it, and table names.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace unplot::engine::dwg {

// ANSI_1252, the code page these files declare.
inline constexpr std::uint16_t kCodePage1252 = 30;

// UTF-8 to the 8-bit form: ASCII as is, every other character as \U+XXXX (a surrogate pair for characters beyond
// U+FFFF), which readers turn back into the character. Malformed UTF-8 bytes become '?'. The result is cut at a
// character boundary to at most maxBytes (string lengths are 16-bit).
std::string toDwgText(std::string_view utf8, std::size_t maxBytes = 32000);

// Valid, unique table names for `wanted` (in order), given names already taken (compared without case). R14 names
// (`r14Names`) are upper case, of letters, digits, '$', '-' and '_' only: every other character becomes '_'.
std::vector<std::string> uniqueTableNames(const std::vector<std::string>& wanted, std::vector<std::string> taken,
                                          bool r14Names = false);

}  // namespace unplot::engine::dwg
