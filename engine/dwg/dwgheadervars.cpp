// The header variables section.
#include "dwgbuilder.h"
#include "dwgdimvars.h"


namespace unplot::engine::dwg {
namespace {

using HC = HandleCode;

// Paper or model space: insertion base, extents, limits, elevation, UCS (its handles to `refs`).
void writeSpace(BitWriter& d, BitWriter& refs, bool r2000, Extents e, double w, double h)
{
    d.write3BD(0, 0, 0);  // INSBASE
    d.write3BD(e.min.x, e.min.y, 0);
    d.write3BD(e.max.x, e.max.y, 0);
    d.write2RD(0, 0);  // LIMMIN
    d.write2RD(w, h);  // LIMMAX
    d.writeBD(0);      // ELEVATION
    d.write3BD(0, 0, 0);
    d.write3BD(1, 0, 0);
    d.write3BD(0, 1, 0);
    refs.writeH(HC::HardPointer, 0);  // UCSNAME
    if (r2000) {
        refs.writeH(HC::HardPointer, 0);  // UCSORTHOREF
        d.writeBS(0);                  // UCSORTHOVIEW
        refs.writeH(HC::HardPointer, 0);  // UCSBASE
        for (int i = 0; i < 6; ++i)
            d.write3BD(0, 0, 0);  // UCSORG for TOP, BOTTOM, LEFT, RIGHT, FRONT, BACK
    }
}

// The variables 2007 added at the end: camera, walk, solids, lofts, geographic location, lights, interference, shadows.
void write2007Variables(BitWriter& d, BitWriter& refs)
{
    d.writeB(false);  // CAMERADISPLAY
    d.writeBL(0);     // unknown
    d.writeBL(10);    // unknown
    d.writeBD(1.0);   // unknown
    for (double v : {2.0, 6.0, 2.0, 50.0, 0.0})
        d.writeBD(v);  // STEPSPERSEC STEPSIZE 3DDWFPREC LENSLENGTH CAMERAHEIGHT
    d.writeRC(0);      // SOLIDHIST
    d.writeRC(1);      // SHOWHIST
    d.writeBD(0.25);   // PSOLWIDTH
    d.writeBD(4.0);    // PSOLHEIGHT
    for (double v : {1.5707963267948966, 1.5707963267948966, 0.0, 0.0})
        d.writeBD(v);  // LOFTANG1 LOFTANG2 LOFTMAG1 LOFTMAG2
    d.writeBS(7);      // LOFTPARAM
    d.writeRC(1);      // LOFTNORMALS
    d.writeBD(37.795);    // LATITUDE
    d.writeBD(-122.394);  // LONGITUDE
    d.writeBD(0.0);       // NORTHDIRECTION
    d.writeBL(std::uint32_t(-8000));  // TIMEZONE
    d.writeRC(1);  // LIGHTGLYPHDISPLAY
    d.writeRC(1);  // TILEMODELIGHTSYNCH
    d.writeRC(2);  // DWFFRAME
    d.writeRC(0);  // DGNFRAME
    d.writeB(true);  // unknown
    d.writeCMC(1);   // INTERFERECOLOR: red
    for (int i = 0; i < 3; ++i)
        refs.writeH(HandleCode::HardPointer, 0);  // INTERFEREOBJVS INTERFEREVPVS DRAGVS: no visual styles
    d.writeRC(0);    // CSHADOW
    d.writeBD(0.0);  // unknown
}

}  // namespace

BitWriter DwgBuilder::headerVariables() const { return headerStreams().data(); }

SplitStreams DwgBuilder::headerStreams() const
{
    // Up to 2004 everything goes to the data stream, 8-bit strings and handles inline; from 2007 on the strings (as
    // UTF-16) and the handles (all but HANDSEED) have streams of their own.
    const bool r15 = r2000(), split = r2007();
    SplitStreams streams;
    BitWriter& d = streams.data();
    BitWriter& refs = split ? streams.handles() : d;
    auto text = [&](std::string_view ascii) {
        if (split)
            streams.writeText(toUtf16(ascii));
        else
            d.writeTV(ascii);
    };
    d.useTrueColorCmc(paged());
    d.writeBD(412148564080.0);
    d.writeBD(1.0);
    d.writeBD(1.0);
    d.writeBD(1.0);
    for (int i = 0; i < 4; ++i)
        text("");
    d.writeBL(0);
    d.writeBL(0);
    if (!r15)
        d.writeBS(0);
    if (!paged())
        refs.writeH(HC::HardPointer, 0);  // current viewport entity header
    d.writeB(true);                // DIMASO
    d.writeB(false);               // DIMSHO
    if (!r15)
        d.writeB(false);  // DIMSAV
    d.writeB(false);      // PLINEGEN
    d.writeB(false);      // ORTHOMODE
    d.writeB(true);       // REGENMODE
    d.writeB(true);       // FILLMODE
    d.writeB(false);      // QTEXTMODE
    d.writeB(true);       // PSLTSCALE
    d.writeB(false);      // LIMCHECK
    if (!r15)
        d.writeB(false);  // BLIPMODE
    if (paged())
        d.writeB(false);  // (always 0 in real files)
    d.writeB(true);       // USRTIMER
    d.writeB(false);      // SKPOLY
    d.writeB(false);      // ANGDIR
    d.writeB(false);      // SPLFRAME
    if (!r15) {
        d.writeB(true);   // ATTREQ
        d.writeB(false);  // ATTDIA
    }
    d.writeB(false);  // MIRRTEXT
    d.writeB(true);   // WORLDVIEW
    if (!r15)
        d.writeB(false);  // WIREFRAME
    d.writeB(true);       // TILEMODE
    d.writeB(false);      // PLIMCHECK
    d.writeB(false);      // VISRETAIN
    if (!r15)
        d.writeB(true);  // DELOBJ
    d.writeB(false);     // DISPSILH
    d.writeB(false);     // PELLIPSE
    d.writeBS(1);        // PROXYGRAPHICS
    if (!r15)
        d.writeBS(2);  // DRAGMODE
    d.writeBS(3020);   // TREEDEPTH
    d.writeBS(2);      // LUNITS
    d.writeBS(4);      // LUPREC
    d.writeBS(0);      // AUNITS
    d.writeBS(0);      // AUPREC
    if (!r15)
        d.writeBS(0);  // OSMODE
    d.writeBS(1);      // ATTMODE
    if (!r15)
        d.writeBS(1);  // COORDS
    d.writeBS(0);      // PDMODE
    if (!r15)
        d.writeBS(0);  // PICKSTYLE
    if (paged()) {
        for (int i = 0; i < 3; ++i)
            d.writeBL(0);  // unknown
    }
    for (int i = 0; i < 5; ++i)
        d.writeBS(0);  // USERI1-5
    for (int v : {8, 6, 6, 6, 6, 6, 2, 3, 70, 0, 64, 4, 0, 50})
        d.writeBS(std::uint16_t(v));  // SPLINESEGS SURFU SURFV SURFTYPE SURFTAB1 SURFTAB2 SPLINETYPE SHADEDGE SHADEDIF UNITMODE
                       // MAXACTVP ISOLINES CMLJUST TEXTQLTY
    for (double v : {1.0, 2.5, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0})
        d.writeBD(v);  // LTSCALE TEXTSIZE TRACEWID SKETCHINC FILLETRAD THICKNESS ANGBASE PDSIZE PLINEWID
    for (int i = 0; i < 5; ++i)
        d.writeBD(0);  // USERR1-5
    for (double v : {10.0, 10.0, 20.0, 0.0, 0.5, 20.0, 1.0})
        d.writeBD(v);  // CHAMFERA CHAMFERB CHAMFERC CHAMFERD FACETRES CMLSCALE CELTSCALE
    text("acad");  // MENUNAME
    for (int i = 0; i < 2; ++i) {  // TDCREATE, TDUPDATE
        d.writeBL(now_.first);
        d.writeBL(now_.second);
    }
    if (paged()) {
        for (int i = 0; i < 3; ++i)
            d.writeBL(0);  // unknown
    }
    d.writeBL(0);  // TDINDWG
    d.writeBL(0);
    d.writeBL(0);  // TDUSRTIMER
    d.writeBL(0);
    d.writeCMC(256);  // CECOLOR by layer
    d.writeH(HC::Plain, nextHandle_);  // HANDSEED, in the data stream in every version
    refs.writeH(HC::HardPointer, handle::Layer0);         // CLAYER
    refs.writeH(HC::HardPointer, handle::StyleStandard);  // TEXTSTYLE
    refs.writeH(HC::HardPointer, handle::LtypeByLayer);   // CELTYPE
    if (split)
        refs.writeH(HC::HardPointer, 0);  // CMATERIAL: none
    refs.writeH(HC::HardPointer, handle::DimStandard);    // DIMSTYLE
    refs.writeH(HC::HardPointer, handle::MlineStandard);  // CMLSTYLE
    if (r15)
        d.writeBD(0);  // PSVPSCALE
    const double w = drawing_.widthMm, h = drawing_.heightMm;
    writeSpace(d, refs, r15, Extents{{0, 0}, {0, 0}, false}, w, h);  // paper space
    writeSpace(d, refs, r15, extents_, w, h);                         // model space
    if (r15) {
        text("");  // DIMPOST
        text("");  // DIMAPOST
        writeDimValues(d, split);
        if (r2010()) {
            d.writeB(false);  // DIMTXTDIRECTION
            d.writeBD(100);   // DIMALTMZF
            text("");         // DIMALTMZS
            d.writeBD(100);   // DIMMZF
            text("");         // DIMMZS
        }
        refs.writeH(HC::HardPointer, handle::StyleStandard);  // DIMTXSTY
        for (int i = 0; i < 4; ++i)
            refs.writeH(HC::HardPointer, 0);  // DIMLDRBLK DIMBLK DIMBLK1 DIMBLK2
        if (split) {
            for (int i = 0; i < 3; ++i)
                refs.writeH(HC::HardPointer, 0);  // DIMLTYPE DIMLTEX1 DIMLTEX2
        }
        d.writeBS(std::uint16_t(-2));      // DIMLWD
        d.writeBS(std::uint16_t(-2));      // DIMLWE
    } else {
        writeDimValuesR14(d, true, handle::StyleStandard);
    }
    for (std::uint64_t c : {handle::BlockControl, handle::LayerControl, handle::StyleControl, handle::LtypeControl,
                            handle::ViewControl, handle::UcsControl, handle::VportControl, handle::AppIdControl,
                            handle::DimStyleControl})
        refs.writeH(HC::HardOwner, c);
    if (!paged())
        refs.writeH(HC::HardOwner, handle::VxControl);
    refs.writeH(HC::HardPointer, handle::GroupDict);
    refs.writeH(HC::HardPointer, handle::MlineStyleDict);
    refs.writeH(HC::HardOwner, handle::NamedObjects);
    if (r15) {
        d.writeBS(1);   // TSTACKALIGN
        d.writeBS(70);  // TSTACKSIZE
        text("");   // HYPERLINKBASE
        text("");   // STYLESHEET
        refs.writeH(HC::HardPointer, handle::LayoutDict);
        refs.writeH(HC::HardPointer, handle::PlotSettingsDict);
        refs.writeH(HC::HardPointer, handle::PlotStyleDict);
        if (paged()) {
            refs.writeH(HC::HardPointer, materialDict_);
            refs.writeH(HC::HardPointer, colorDict_);
        }
        if (split)
            refs.writeH(HC::HardPointer, 0);  // the visual style dictionary: none
        // CELWEIGHT by layer (29), LWDISPLAY off, XEDIT on, EXTNAMES on, named plot styles.
        d.writeBL(29u | 0x0200u | 0x0800u | 0x2000u);
        d.writeBS(4);  // INSUNITS: millimetres
        d.writeBS(0);  // CEPSNTYPE by layer
        text("{0E1D8C4F-6C57-4C46-9E40-2F1A0D4A5C31}");  // FINGERPRINTGUID
        text("{1B0F3A52-2B7E-4F1C-8D7A-6E5C4B3A2910}");  // VERSIONGUID
    }
    if (paged()) {
        d.writeRC(127);  // SORTENTS
        d.writeRC(0);    // INDEXCTL
        d.writeRC(1);    // HIDETEXT
        d.writeRC(0);    // XCLIPFRAME
        d.writeRC(2);    // DIMASSOC
        d.writeRC(0);    // HALOGAP
        d.writeBS(257);  // OBSCUREDCOLOR
        d.writeBS(257);  // INTERSECTIONCOLOR
        d.writeRC(0);    // OBSCUREDLTYPE
        d.writeRC(0);    // INTERSECTIONDISPLAY
        text("");   // PROJECTNAME
    }
    refs.writeH(HC::HardPointer, handle::PaperBlock);
    refs.writeH(HC::HardPointer, handle::ModelBlock);
    refs.writeH(HC::HardPointer, handle::LtypeByLayer);
    refs.writeH(HC::HardPointer, handle::LtypeByBlock);
    refs.writeH(HC::HardPointer, handle::LtypeContinuous);
    if (split) {
        write2007Variables(d, refs);
        return streams;
    }
    for (int i = 0; i < 4; ++i)
        d.writeBS(0);
    return streams;
}

}  // namespace unplot::engine::dwg
