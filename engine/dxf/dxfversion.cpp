#include "dxfversion.h"

namespace unplot::engine::dxf {

std::optional<DxfVersion> dxfVersionForCode(std::int64_t code)
{
    switch (code) {
    case 14:
        return DxfVersion{Release::R14, "AC1014", 9};
    case 15:
        return DxfVersion{Release::R2000, "AC1015", 20};
    case 18:
        return DxfVersion{Release::R2004, "AC1018", 104};
    case 21:
        return DxfVersion{Release::R2007, "AC1021", 50};
    case 23:
        return DxfVersion{Release::R2010, "AC1024", 226};
    default:
        return std::nullopt;
    }
}

} // namespace unplot::engine::dxf
