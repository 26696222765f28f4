#include "dwgdimvars.h"

namespace unplot::engine::dwg {

void writeDimValues(BitWriter& d, bool r2007)
{
    for (double v : {1.0, 2.5, 0.625, 3.75, 1.25, 0.0, 0.0, 0.0, 0.0})  // DIMSCALE ASZ EXO DLI EXE RND DLE TP TM
        d.writeBD(v);
    if (r2007) {
        d.writeBD(1.0);                 // DIMFXL
        d.writeBD(0.7853981633974483);  // DIMJOGANG: 45 degrees
        d.writeBS(0);                   // DIMTFILL: none
        d.writeCMC(0);                  // DIMTFILLCLR by block
    }
    for (bool b : {false, false, false, false, false, false})  // DIMTOL LIM TIH TOH SE1 SE2
        d.writeB(b);
    d.writeBS(1);  // DIMTAD
    d.writeBS(8);  // DIMZIN
    d.writeBS(0);  // DIMAZIN
    if (r2007)
        d.writeBS(0);  // DIMARCSYM: before the text
    for (double v : {2.5, 2.5, 0.0, 0.0393700787401575, 1.0, 0.0, 1.0, 0.625, 0.0})  // DIMTXT CEN TSZ ALTF LFAC
        d.writeBD(v);                                                              // TVP TFAC GAP ALTRND
    d.writeB(false);  // DIMALT
    d.writeBS(3);     // DIMALTD
    d.writeB(true);   // DIMTOFL
    d.writeB(false);  // DIMSAH
    d.writeB(false);  // DIMTIX
    d.writeB(false);  // DIMSOXD
    for (int i = 0; i < 3; ++i)
        d.writeCMC(0);  // DIMCLRD CLRE CLRT by block
    for (int v : {0, 2, 2, 2, 3, 0, 0, 2, int(','), 0, 0})  // DIMADEC DEC TDEC ALTU ALTTD AUNIT FRAC LUNIT
        d.writeBS(std::uint16_t(v));                                             // DSEP TMOVE JUST
    d.writeB(false);  // DIMSD1
    d.writeB(false);  // DIMSD2
    for (int v : {0, 8, 0, 0})  // DIMTOLJ TZIN ALTZ ALTTZ
        d.writeBS(std::uint16_t(v));
    d.writeB(false);  // DIMUPT
    d.writeBS(3);     // DIMATFIT
    if (r2007)
        d.writeB(false);  // DIMFXLON
}

void writeDimValuesR14(BitWriter& d, bool inHeader, std::uint64_t textStyle)
{
    for (bool b : {false, false, false, false, false, false, false, true, false, false, false})
        d.writeB(b);  // DIMTOL LIM TIH TOH SE1 SE2 ALT TOFL SAH TIX SOXD
    d.writeRC(3);     // DIMALTD
    d.writeRC(8);     // DIMZIN
    d.writeB(false);  // DIMSD1
    d.writeB(false);  // DIMSD2
    d.writeRC(0);     // DIMTOLJ
    d.writeRC(0);     // DIMJUST
    d.writeRC(3);     // DIMFIT
    d.writeB(false);  // DIMUPT
    d.writeRC(8);     // DIMTZIN
    d.writeRC(0);     // DIMALTZ
    d.writeRC(0);     // DIMALTTZ
    d.writeRC(1);     // DIMTAD
    for (int v : {2, 0, 2, 2, 2, 3})  // DIMUNIT AUNIT DEC TDEC ALTU ALTTD
        d.writeBS(std::uint16_t(v));
    if (inHeader)
        d.writeH(HandleCode::HardPointer, textStyle);
    for (double v : {1.0, 2.5, 0.625, 3.75, 1.25, 0.0, 0.0, 0.0, 0.0, 2.5, 2.5, 0.0, 0.0393700787401575, 1.0, 0.0, 1.0,
                     0.625})  // DIMSCALE ASZ EXO DLI EXE RND DLE TP TM TXT CEN TSZ ALTF LFAC TVP TFAC GAP
        d.writeBD(v);
    for (int i = 0; i < 5; ++i)
        d.writeTV("");  // DIMPOST APOST BLK BLK1 BLK2
    for (int i = 0; i < 3; ++i)
        d.writeCMC(0);  // DIMCLRD CLRE CLRT
}

}  // namespace unplot::engine::dwg
