#include "protocol.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <unordered_set>

namespace unplot::protocol {

std::optional<VersionCode> findVersion(std::int64_t code)
{
    for (const auto& v : kVersions)
        if (v.code == code)
            return v;
    return std::nullopt;
}

static bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<VersionCode> parseVersion(std::string_view text)
{
    for (const auto& v : kVersions) {
        if (equalsIgnoringCase(text, v.name))
            return v;
        std::int64_t code = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
        if (ec == std::errc() && end == text.data() + text.size() && code == v.code)
            return v;
    }
    return std::nullopt;
}

static std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

static std::optional<int> parsePage(std::string_view s)
{
    s = trim(s);
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int value = 0;
    std::from_chars(s.data(), s.data() + s.size(), value);
    if (value < 1)
        return std::nullopt;
    return value;
}

std::optional<PageList> parsePageList(std::string_view text, int pageCount, PageListError* error)
{
    auto fail = [&](std::string message) -> std::optional<PageList> {
        if (error)
            error->message = std::move(message);
        return std::nullopt;
    };
    if (trim(text) == kAllPages)
        return PageList{true, {}};
    if (trim(text).empty())
        return fail("The page list is empty.");

    PageList list;
    std::unordered_set<int> seen;
    std::size_t named = 0; // pages named so far, repeats included: bounds the work whatever the text
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string_view item = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        std::size_t dash = item.find('-');
        std::optional<int> first, last;
        if (dash == std::string_view::npos) {
            first = last = parsePage(item);
        } else {
            first = parsePage(item.substr(0, dash));
            last = parsePage(item.substr(dash + 1));
        }
        if (!first || !last)
            return fail("The page list \"" + std::string(text) +
                        "\" is not valid: write page numbers from 1 and ranges such as 1,3,5-7.");
        if (*first > *last)
            return fail("The page range " + std::to_string(*first) + "-" + std::to_string(*last) + " runs backwards.");
        if (pageCount > 0 && *last > pageCount)
            return fail("The page list names page " + std::to_string(*last) + ", but the document has " +
                        std::to_string(pageCount) + (pageCount == 1 ? " page." : " pages."));
        const std::size_t span = std::size_t(*last - *first) + 1;
        if (span > kMaxListedPages)
            return fail("The page range " + std::to_string(*first) + "-" + std::to_string(*last) + " is too long.");
        named += span;
        if (named > kMaxListedPages)
            return fail("The page list names more than " + std::to_string(kMaxListedPages) + " pages.");
        for (int p = *first; p <= *last; ++p)
            if (seen.insert(p).second)
                list.pages.push_back(p);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return list;
}

bool isValidJobId(std::string_view id)
{
    return id.size() == 32 &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace unplot::protocol
