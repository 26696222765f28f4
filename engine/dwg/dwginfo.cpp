// What a file says about itself beside the drawing: the auxiliary header, the summary (title, dates), the writer
// (AppInfo), the revision history, the free-space record, the template record and the preview.
#include "dwgbuilder.h"

#include "dwgstreams.h"
#include "dwgtext.h"

namespace unplot::engine::dwg {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putRS(Bytes& out, std::uint16_t v) { out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
void putRL(Bytes& out, std::uint32_t v)
{
    putRS(out, std::uint16_t(v));
    putRS(out, std::uint16_t(v >> 16));
}
void putRLL(Bytes& out, std::uint64_t v)
{
    putRL(out, std::uint32_t(v));
    putRL(out, std::uint32_t(v >> 32));
}

// A string with its length in characters (the closing NUL included): 8-bit characters, or UTF-16 ones (`wide`).
void putString(Bytes& out, std::string_view utf8, bool wide)
{
    if (!wide) {
        const std::string text = toDwgText(utf8);
        putRS(out, std::uint16_t(text.size() + 1));
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
        return;
    }
    const std::u16string text = toUtf16(utf8);
    putRS(out, std::uint16_t(text.size() + 1));
    for (char16_t c : text)
        putRS(out, std::uint16_t(c));
    putRS(out, 0);
}

}  // namespace

std::vector<std::uint8_t> DwgBuilder::auxHeader() const
{
    // The fields as real files fill them (the few that differ between 2000 and later as real files of each give
    // them); the dates and the handle seed are this drawing's.
    Bytes a = {0xff, 0x88, 0x01, kWriterVersion[0], 0x00, kWriterVersion[1], 0x00, 0x01, 0x00, 0x00, 0x00, 0xff,
               0xff, 0xff, 0xff, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x16, 0x00, 0x2e, 0x00, 0x16, 0x00,
               0x2e, 0x00, 0x04, 0x00, 0x65, 0x05, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    a.insert(a.end(), paged() ? std::initializer_list<std::uint8_t>{0x02, 0x00, 0x07, 0x00}
                              : std::initializer_list<std::uint8_t>{0x03, 0x00, 0x01, 0x00});
    for (int i = 0; i < 2; ++i) {  // created, updated
        putRL(a, now_.first);
        putRL(a, now_.second);
    }
    putRL(a, std::uint32_t(nextHandle_));
    putRL(a, 0);  // plot stamp
    a.insert(a.end(), {0x00, 0x00, std::uint8_t(paged() ? 0x0d : 0x0e), 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    return a;
}

std::vector<std::uint8_t> DwgBuilder::summaryInfo() const
{
    // Title, subject, author, keywords, comments, last saved by, revision number, hyperlink base; the time spent
    // editing, the dates created and updated; no custom properties.
    Bytes s;
    putString(s, "Page " + std::to_string(drawing_.pageNumber), r2007());
    for (int i = 0; i < 7; ++i)
        putString(s, "", r2007());
    putRLL(s, 0);
    for (int i = 0; i < 2; ++i) {
        putRL(s, now_.first);
        putRL(s, now_.second);
    }
    putRS(s, 0);
    putRLL(s, 0);
    return s;
}

std::vector<std::uint8_t> DwgBuilder::appInfo() const
{
    // The program that wrote the file: its version, a comment, a description; each after an identifier of what it
    // is (the ones real files carry).
    static constexpr std::uint8_t kIds[3][16] = {
        {0x1b, 0xd8, 0x48, 0xf3, 0xcc, 0x0a, 0x3e, 0x4d, 0xba, 0xb1, 0xcf, 0x81, 0xf7, 0xb4, 0x50, 0xb3},
        {0xb8, 0xd0, 0xf0, 0x25, 0xa1, 0xd7, 0x93, 0x49, 0xb2, 0xfa, 0x9b, 0xf9, 0x28, 0x6f, 0xa1, 0xfd},
        {0xe8, 0xe0, 0x96, 0x51, 0xc5, 0xce, 0xb2, 0x44, 0xa8, 0xbf, 0xf6, 0xe8, 0x3b, 0x85, 0x9d, 0x44}};
    const std::string version = UNPLOT_VERSION;
    const std::string strings[3] = {version, "Written by unplot, a converter of PDF drawings.",
                                    "<ProductInformation name=\"unplot\" build_version=\"" + version + "\">"};
    Bytes a;
    putRL(a, 3);
    putString(a, "AppInfoDataList", true);
    putRL(a, 3);
    for (int i = 0; i < 3; ++i) {
        a.insert(a.end(), kIds[i], kIds[i] + 16);
        putString(a, strings[i], true);
    }
    return a;
}

std::vector<std::uint8_t> DwgBuilder::objFreeSpace() const
{
    // The object count and the update date, then four limits (2010: as 128-bit numbers).
    Bytes f;
    if (r2010()) {
        putRLL(f, 0);
        putRLL(f, objects_.size());
    } else {
        putRL(f, 0);
        putRL(f, std::uint32_t(objects_.size()));
    }
    putRL(f, now_.first);
    putRL(f, now_.second);
    if (!r2010())
        putRL(f, 0);  // objects address
    f.push_back(4);
    for (std::uint64_t limit : {0x32u, 0x64u, 0x200u, 0xffffffffu}) {
        putRLL(f, limit);
        if (r2010())
            putRLL(f, 0);
    }
    return f;
}

std::vector<std::uint8_t> DwgBuilder::revHistory() { return {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}; }

std::vector<std::uint8_t> DwgBuilder::templateInfo() const
{
    Bytes t;
    if (r2007())
        putString(t, "", true);  // no description
    else
        putRS(t, 0);
    putRS(t, 1);  // MEASUREMENT: metric
    return t;
}

}  // namespace unplot::engine::dwg
