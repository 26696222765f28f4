// The page-list parser on arbitrary text. Input: "COUNT|LIST" checks LIST against a document of COUNT pages;
// without a '|' the whole input is the list and no page count is known (nor is one of 0 or less).
// Checked: an accepted list names each page once, from 1 and within the document; it reads back the same when
// written out again; a refused list says why.

#include "fuzzcheck.h"
#include "protocol.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

using namespace unplot::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    int pageCount = 0;
    if (const std::size_t bar = input.find('|'); bar != std::string_view::npos && bar <= 7) {
        std::from_chars(input.data(), input.data() + bar, pageCount);
        input.remove_prefix(bar + 1);
    }

    PageListError error;
    const std::optional<PageList> list = parsePageList(input, pageCount, &error);
    if (!list) {
        FUZZ_CHECK(!error.message.empty());
        return 0;
    }
    FUZZ_CHECK(list->all == list->pages.empty());
    std::unordered_set<int> seen;
    std::string written;
    for (int page : list->pages) {
        FUZZ_CHECK(page >= 1 && (pageCount <= 0 || page <= pageCount) && seen.insert(page).second);
        written += (written.empty() ? "" : ",") + std::to_string(page);
    }
    if (!list->all) {
        const std::optional<PageList> again = parsePageList(written, pageCount);
        FUZZ_CHECK(again && !again->all && again->pages == list->pages);
    }
    return 0;
}
