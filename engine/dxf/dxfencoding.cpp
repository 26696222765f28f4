#include "dxfencoding.h"

#include "utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace unplot::engine::dxf {
namespace {

// The Windows-1252 byte of a code point, or 0 when the code page has none.
unsigned char cp1252Byte(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<unsigned char>(cp);
    // 0x80..0x9F of Windows-1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D are unassigned).
    static constexpr std::array<char16_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] != 0 && kHigh[i] == cp)
            return static_cast<unsigned char>(0x80 + i);
    return 0;
}

void appendEscape(std::string& out, char32_t cp)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (cp > 0xFFFF) // \U+ has four digits: characters beyond the BMP have no escape
        cp = kReplacementCharacter;
    out += "\\U+";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(cp >> shift) & 0xF];
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Lower case of the scripts table names are most often written in (Latin, Greek, Cyrillic), for comparing names
// the way CAD programs do: without regard to case.
char32_t foldCase(char32_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c == 0x178)
        return 0xFF;
    const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1))
        return c + 1;
    return c;
}

// The key two names share when they differ only in case.
std::string foldKey(std::string_view utf8)
{
    std::string key;
    std::size_t pos = 0;
    while (pos < utf8.size())
        appendUtf8(key, foldCase(nextCodePoint(utf8, pos)));
    return key;
}

// Cuts a UTF-8 string to at most `maxBytes` bytes without splitting a character.
void truncateUtf8(std::string& s, std::size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return;
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    s.resize(cut);
}

} // namespace

std::string encodeDxfString(std::string_view utf8, const DxfVersion& version, std::size_t maxBytes)
{
    std::string out;
    out.reserve(std::min(utf8.size(), maxBytes));
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = nextCodePoint(utf8, pos);
        if (cp < 0x20 || cp == 0x7F)
            cp = ' ';
        const std::size_t before = out.size();
        if (version.utf8()) {
            appendUtf8(out, cp);
        } else if (const unsigned char b = cp1252Byte(cp); b != 0) {
            out += static_cast<char>(b);
        } else {
            appendEscape(out, cp);
        }
        if (out.size() > maxBytes) {
            out.resize(before);
            break;
        }
    }
    return out;
}

void TableNames::reserve(std::string_view name)
{
    taken_.insert(foldKey(name));
}

std::string TableNames::sanitize(std::string_view wanted) const
{
    std::string out;
    std::size_t pos = 0;
    while (pos < wanted.size()) {
        const char32_t cp = nextCodePoint(wanted, pos);
        if (!version_.extendedNames()) {
            const bool allowed = (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9') ||
                                 cp == '$' || cp == '-' || cp == '_';
            out += allowed ? asciiUpper(char(cp)) : '_';
            continue;
        }
        constexpr std::u32string_view kForbidden = U"<>/\\\":;?*|,=`";
        if (cp < 0x20 || cp == 0x7F || cp == kReplacementCharacter || kForbidden.find(cp) != std::u32string_view::npos)
            out += '_';
        else
            appendUtf8(out, cp);
    }
    if (version_.extendedNames()) {
        const auto first = out.find_first_not_of(' ');
        if (first == std::string::npos)
            return {};
        out.erase(0, first);
        out.erase(out.find_last_not_of(' ') + 1);
        truncateUtf8(out, 255);
    } else {
        truncateUtf8(out, 31);
    }
    return out;
}

std::string TableNames::make(std::string_view wanted, std::string_view fallback)
{
    std::string base = sanitize(wanted);
    if (base.empty())
        base = sanitize(fallback);
    std::string name = base;
    const std::size_t limit = version_.extendedNames() ? 255 : 31;
    for (int n = 2; taken_.count(foldKey(name)) != 0; ++n) {
        const std::string suffix = "_" + std::to_string(n);
        std::string stem = base;
        truncateUtf8(stem, limit - suffix.size());
        name = stem + suffix;
    }
    taken_.insert(foldKey(name));
    return name;
}

} // namespace unplot::engine::dxf
