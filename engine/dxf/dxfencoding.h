#pragma once
// Strings as each DXF version stores them, and table names a CAD program accepts.

#include "dxfversion.h"

#include <string>
#include <string_view>
#include <unordered_set>

namespace unplot::engine::dxf {

// UTF-8 in, the bytes of the file out: UTF-8 from 2007 on; before, Windows-1252 with \U+XXXX for every other
// character. Control characters (line breaks, tabs) become spaces: a group value is one line. Malformed UTF-8
// becomes U+FFFD. At most `maxBytes` bytes: the string is cut before the first character that does not fit whole.
std::string encodeDxfString(std::string_view utf8, const DxfVersion& version, std::size_t maxBytes = std::string::npos);

// Makes table names (layers, text styles) valid and unique, case-insensitively (Latin, Greek, Cyrillic), among the
// names handed out so far. From 2000 on: the characters < > / \ " : ; ? * | , = ` and control characters become '_',
// surrounding blanks go, at most 255 characters. R14: upper case A-Z, 0-9, $, - and _ only, at most 31 characters.
// Empty names become `fallback`; a taken name gets a suffix _2, _3, ...  Results are UTF-8 (pass them through
// encodeDxfString).
class TableNames {
public:
    explicit TableNames(const DxfVersion& version) : version_(version) {}
    // Marks a name as taken as it is ("0", "Standard").
    void reserve(std::string_view name);
    std::string make(std::string_view wanted, std::string_view fallback);

private:
    std::string sanitize(std::string_view wanted) const;
    DxfVersion version_;
    std::unordered_set<std::string> taken_; // case-folded
};

} // namespace unplot::engine::dxf
