#pragma once
// The dimension variables (metric defaults), shared by the header and the "Standard" dimension style.

#include "bitwriter.h"

#include <cstdint>

namespace unplot::engine::dwg {

// R2000: DIMSCALE to DIMATFIT, in file order. With `r2007`, the fields 2007 added among them (DIMFXL, DIMJOGANG,
// DIMTFILL, DIMTFILLCLR, DIMARCSYM, and DIMFXLON at the end).
void writeDimValues(BitWriter& d, bool r2007 = false);
// R13 and R14: DIMTOL to DIMCLRT; the header carries the DIMTXSTY handle among them (pass it), a style does not (0).
void writeDimValuesR14(BitWriter& d, bool inHeader = false, std::uint64_t textStyle = 0);

}  // namespace unplot::engine::dwg
