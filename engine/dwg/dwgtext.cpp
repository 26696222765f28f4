#include "dwgtext.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace unplot::engine::dwg {
namespace {

// Decodes one UTF-8 sequence at `i`; returns 0xFFFD and advances one byte on malformed input.
char32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xe0) == 0xc0) {
        extra = 1, cp = b0 & 0x1f;
    } else if ((b0 & 0xf0) == 0xe0) {
        extra = 2, cp = b0 & 0x0f;
    } else if ((b0 & 0xf8) == 0xf0) {
        extra = 3, cp = b0 & 0x07;
    } else {
        ++i;
        return 0xfffd;
    }
    if (i + std::size_t(extra) >= s.size()) {
        ++i;
        return 0xfffd;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + std::size_t(k)]);
        if ((b & 0xc0) != 0x80) {
            ++i;
            return 0xfffd;
        }
        cp = (cp << 6) | (b & 0x3f);
    }
    i += std::size_t(extra) + 1;
    return cp;
}

void appendEscape(std::string& out, unsigned unit)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "\\U+%04X", unit & 0xffffu);
    out += buf;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

}  // namespace

std::string toDwgText(std::string_view utf8, std::size_t maxBytes)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t before = out.size();
        const char32_t cp = nextCodePoint(utf8, i);
        if (cp == 0xfffd) {
            out += '?';
        } else if (cp < 0x80) {
            out += char(cp);
        } else if (cp > 0xffff) {
            const char32_t v = cp - 0x10000;
            appendEscape(out, unsigned(0xd800 + (v >> 10)));
            appendEscape(out, unsigned(0xdc00 + (v & 0x3ff)));
        } else {
            appendEscape(out, unsigned(cp));
        }
        if (out.size() > maxBytes) {
            out.resize(before);
            break;
        }
    }
    return out;
}

std::vector<std::string> uniqueTableNames(const std::vector<std::string>& wanted, std::vector<std::string> taken,
                                          bool r14Names)
{
    for (auto& t : taken)
        t = lower(t);
    std::vector<std::string> result;
    for (const std::string& w : wanted) {
        std::string name;
        if (r14Names) {
            for (std::size_t i = 0; i < w.size();) {
                const char32_t cp = nextCodePoint(w, i);
                const bool ok = cp < 0x80 && (std::isalnum(int(cp)) || cp == '$' || cp == '-' || cp == '_');
                name += ok ? char(std::toupper(int(cp))) : '_';
            }
        } else {
            for (char c : w) {
                const auto u = static_cast<unsigned char>(c);
                const bool bad = u < 0x20 || std::string_view("<>/\\\":;?*|=`,").find(c) != std::string_view::npos;
                name += bad ? '_' : c;
            }
        }
        if (name.find_first_not_of(' ') == std::string::npos)
            name = "Layer";
        std::string candidate = name;
        for (int n = 2; std::find(taken.begin(), taken.end(), lower(candidate)) != taken.end(); ++n)
            candidate = name + "_" + std::to_string(n);
        taken.push_back(lower(candidate));
        result.push_back(candidate);
    }
    return result;
}

}  // namespace unplot::engine::dwg
