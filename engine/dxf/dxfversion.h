#pragma once
// What each DXF version code offered by the service means for the file written.

#include <cstdint>
#include <optional>
#include <string_view>

namespace unplot::engine::dxf {

enum class Release { R14, R2000, R2004, R2007, R2010 };

struct DxfVersion {
    Release release;
    std::string_view acadVer; // $ACADVER
    int maintenanceVersion;   // $ACADMAINTVER, as the reference files of each release carry it

    bool utf8() const { return release >= Release::R2007; }                // else ANSI_1252 with \U+XXXX escapes
    bool lineweights() const { return release >= Release::R2000; }         // group 370, layouts, plot styles
    bool trueColor() const { return release >= Release::R2004; }           // group 420
    bool classInstanceCounts() const { return release >= Release::R2004; } // group 91 in CLASS
    bool extendedNames() const { return release >= Release::R2000; }       // table names beyond A-Z 0-9 $ - _
};

// The version for a protocol code (14, 15, 18, 21, 23), or nothing for any other code.
std::optional<DxfVersion> dxfVersionForCode(std::int64_t code);

} // namespace unplot::engine::dxf
