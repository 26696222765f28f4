#include "dwgwriter.h"

#include "dwgbuilder.h"

#include <stdexcept>
#include <string>

namespace unplot::engine {
namespace {

struct Version {
    std::int64_t code;
    const char* name;
    const char* acadVer;
    bool native;
};

// Oldest first.
constexpr Version kVersions[] = {
    {14, "R14", "AC1014", true},
    {15, "2000", "AC1015", true},
    {18, "2004", "AC1018", true},
    {21, "2007", "AC1021", false},
    {23, "2010", "AC1024", true},
};

const Version* find(std::int64_t code)
{
    for (const Version& v : kVersions)
        if (v.code == code)
            return &v;
    return nullptr;
}

std::string describe(const Version& v) { return std::string("DWG ") + v.name + " (" + v.acadVer + ")"; }

}  // namespace

bool dwgWritesNatively(std::int64_t versionCode)
{
    const Version* v = find(versionCode);
    return v != nullptr && v->native;
}

std::vector<std::uint8_t> writeDwg(const Drawing& drawing, std::int64_t versionCode, DwgWriteInfo* info)
{
    const Version* requested = find(versionCode);
    if (requested == nullptr)
        throw std::invalid_argument("unknown DWG version code " + std::to_string(versionCode));

    const Version* written = requested;
    if (!requested->native) {
        written = nullptr;
        for (const Version& v : kVersions)
            if (v.native && v.code < requested->code)
                written = &v;
        if (written == nullptr)  // nothing older is native: the oldest native one
            for (const Version& v : kVersions)
                if (v.native && written == nullptr)
                    written = &v;
    }

    if (info != nullptr) {
        info->requestedCode = requested->code;
        info->writtenCode = written->code;
        info->note.clear();
        if (written != requested)
            info->note = "Requested " + describe(*requested) + "; this service writes " + describe(*written) +
                         " for it: " + requested->acadVer + " output is not available yet.";
    }
    return dwg::DwgBuilder(drawing, int(written->code)).build();
}

}  // namespace unplot::engine
