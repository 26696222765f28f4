#include "dwgwriter.h"

#include "dwgbuilder.h"

#include <stdexcept>
#include <string>

namespace unplot::engine {

std::vector<std::uint8_t> writeDwg(const Drawing& drawing, std::int64_t versionCode, std::int64_t unixSeconds)
{
    switch (versionCode) {
    case 14:
    case 15:
    case 18:
    case 21:
    case 23:
        return dwg::DwgBuilder(drawing, int(versionCode), unixSeconds).build();
    default:
        throw std::invalid_argument("unknown DWG version code " + std::to_string(versionCode));
    }
}

}  // namespace unplot::engine
