// Control objects, table entries, block headers, dictionaries and layouts: what every drawing file carries.
#include "dwgbuilder.h"
#include "dwgdimvars.h"
#include "dwgtext.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

namespace unplot::engine::dwg {
namespace {

using HC = HandleCode;

// R14 names are upper case.
std::string versioned(std::string name, bool r2000)
{
    if (!r2000)
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return name;
}

// Name, 64-flag, xref index and xref-dependence of a table entry. 2007 and later files have two bits there, "10"
// in real files for entries in use: the 64-flag set and no xref dependence (or, read as one BS, xref index 0).
void tableEntryName(ObjectWriter& w, const std::string& name)
{
    w.text(name);
    BitWriter& d = w.data();
    if (w.r2007()) {
        d.writeB(true);
        d.writeB(false);
        return;
    }
    d.writeB(false);
    d.writeBS(0);
    d.writeB(false);
}

// 2007 and later viewports: default lighting on, one distant light, no brightness or contrast, ambient colour.
void writeDefaultLighting(BitWriter& d)
{
    d.writeB(true);
    d.writeRC(1);
    d.writeBD(0);
    d.writeBD(0);
    d.writeCMC(0, 0x333333);
}

}  // namespace

void DwgBuilder::writeControls()
{
    auto control = [&](std::uint64_t h, std::uint16_t objectType, const std::vector<std::uint64_t>& entries) {
        ObjectWriter w(version_, objectType, h, 0);
        w.data().writeBS(std::uint16_t(entries.size()));
        if (objectType == type::DimStyleControl && r2000())
            w.data().writeRC(0);  // no further hard-owned entries
        for (std::uint64_t e : entries)
            w.refs().writeH(HC::SoftOwner, e);
        if (objectType == type::BlockControl) {
            w.refs().writeH(HC::HardOwner, handle::ModelBlock);
            w.refs().writeH(HC::HardOwner, handle::PaperBlock);
        } else if (objectType == type::LtypeControl) {
            w.refs().writeH(HC::HardOwner, handle::LtypeByLayer);
            w.refs().writeH(HC::HardOwner, handle::LtypeByBlock);
        }
        add(h, w.finish());
    };
    std::vector<std::uint64_t> layers{handle::Layer0};
    layers.insert(layers.end(), layerHandles_.begin(), layerHandles_.end());
    std::vector<std::uint64_t> styles{handle::StyleStandard};
    styles.insert(styles.end(), styleHandles_.begin(), styleHandles_.end());

    control(handle::BlockControl, type::BlockControl, {});
    control(handle::LayerControl, type::LayerControl, layers);
    control(handle::StyleControl, type::StyleControl, styles);
    std::vector<std::uint64_t> linetypes{handle::LtypeContinuous};
    linetypes.insert(linetypes.end(), linetypeHandles_.begin(), linetypeHandles_.end());
    control(handle::LtypeControl, type::LtypeControl, linetypes);
    control(handle::ViewControl, type::ViewControl, {});
    control(handle::UcsControl, type::UcsControl, {});
    control(handle::VportControl, type::VportControl, {handle::VportActive});
    control(handle::AppIdControl, type::AppIdControl, {handle::AppIdAcad});
    control(handle::DimStyleControl, type::DimStyleControl, {handle::DimStandard});
    control(handle::VxControl, type::VxControl, {});
}

void DwgBuilder::writeTableEntries()
{
    // Layers: "0" and the drawing's.
    auto layer = [&](std::uint64_t h, const std::string& name, bool visible) {
        ObjectWriter w(version_, type::Layer, h, handle::LayerControl);
        BitWriter& d = w.data();
        tableEntryName(w, name);
        if (r2000()) {
            d.writeBS(std::uint16_t(0x10 | (31 << 5)));  // plotted, default lineweight
        } else {
            d.writeB(false);  // frozen
            d.writeB(false);  // (always 0 in real files)
            d.writeB(false);  // frozen in new viewports
            d.writeB(false);  // locked
        }
        d.writeCMC(std::uint16_t(visible ? 7 : -7));  // a negative colour switches the layer off
        w.refs().writeH(HC::HardPointer, 0);  // not from an external reference
        if (r2000())
            w.refs().writeH(HC::HardPointer, handle::PlotStyleNormal);
        if (r2007())
            w.refs().writeH(HC::HardPointer, 0);  // material: none
        w.refs().writeH(HC::HardPointer, handle::LtypeContinuous);
        add(h, w.finish());
    };
    layer(handle::Layer0, "0", true);
    for (std::size_t i = 0; i < layerNames_.size(); ++i)
        layer(layerHandles_[i], layerNames_[i], drawing_.layers[i].visible);

    auto style = [&](std::uint64_t h, const std::string& name, const std::string& font) {
        ObjectWriter w(version_, type::Style, h, handle::StyleControl);
        BitWriter& d = w.data();
        tableEntryName(w, name);
        d.writeB(false);  // vertical
        d.writeB(false);  // shape file
        d.writeBD(0.0);   // fixed height: none
        d.writeBD(1.0);   // width factor
        d.writeBD(0.0);   // oblique angle
        d.writeRC(0);     // generation
        d.writeBD(2.5);   // last height used
        w.text(font);
        w.text("");
        w.refs().writeH(HC::HardPointer, 0);
        add(h, w.finish());
    };
    style(handle::StyleStandard, versioned("Standard", r2000()), "txt");
    for (std::size_t i = 0; i < styleNames_.size(); ++i) {
        style(styleHandles_[i], styleNames_[i], cadFontFile(drawing_.textStyles[i].fontName));
    }

    auto ltype = [&](std::uint64_t h, const std::string& name, const std::string& description,
                     const std::vector<double>& elements) {
        ObjectWriter w(version_, type::Ltype, h, handle::LtypeControl);
        BitWriter& d = w.data();
        tableEntryName(w, name);
        w.text(description);
        double length = 0;
        for (double e : elements)
            length += std::abs(e);
        d.writeBD(length);  // pattern length
        d.writeRC('A');     // alignment
        d.writeRC(std::uint8_t(elements.size()));
        for (double e : elements) {  // plain dashes, gaps and dots: no shape, no text
            d.writeBD(e);
            d.writeBS(0);  // shape number
            d.writeRD(0);  // offset
            d.writeRD(0);
            d.writeBD(1);  // scale
            d.writeBD(0);  // rotation
            d.writeBS(0);  // flags
        }
        if (!r2007()) {  // from 2007 on the text area is there only for dashes with text
            const std::uint8_t strings[256] = {};
            d.writeBytes(strings, sizeof strings);
        }
        w.refs().writeH(HC::HardPointer, 0);
        for (std::size_t i = 0; i < elements.size(); ++i)
            w.refs().writeH(HC::HardPointer, 0);  // no shape file
        add(h, w.finish());
    };
    ltype(handle::LtypeByBlock, versioned("ByBlock", r2000()), "", {});
    ltype(handle::LtypeByLayer, versioned("ByLayer", r2000()), "", {});
    ltype(handle::LtypeContinuous, versioned("Continuous", r2000()), "Solid line", {});
    for (std::size_t i = 0; i < linetypes_.size(); ++i) {
        // At most 255 elements fit (linetypes from PDF dash arrays have a few).
        const std::vector<double>& e = linetypes_[i]->elements;
        ltype(linetypeHandles_[i], linetypeNames_[i], linetypes_[i]->description,
              {e.begin(), e.begin() + std::ptrdiff_t(std::min<std::size_t>(e.size(), 255))});
    }

    ObjectWriter app(version_, type::AppId, handle::AppIdAcad, handle::AppIdControl);
    tableEntryName(app, "ACAD");
    app.data().writeRC(0);
    app.refs().writeH(HC::HardPointer, 0);
    add(handle::AppIdAcad, app.finish());
}

void DwgBuilder::writeDimStyle()
{
    ObjectWriter w(version_, type::DimStyle, handle::DimStandard, handle::DimStyleControl);
    BitWriter& d = w.data();
    tableEntryName(w, versioned("Standard", r2000()));
    if (r2000()) {
        w.text("");  // DIMPOST
        w.text("");  // DIMAPOST
        writeDimValues(d, r2007());
        if (r2010()) {
            d.writeB(false);  // DIMTXTDIRECTION
            d.writeBD(100);   // DIMALTMZF
            w.text("");       // DIMALTMZS
            d.writeBD(100);   // DIMMZF
            w.text("");       // DIMMZS
        }
        d.writeBS(std::uint16_t(-2));  // DIMLWD by block
        d.writeBS(std::uint16_t(-2));  // DIMLWE by block
        d.writeB(false);
    } else {
        writeDimValuesR14(d);
    }
    w.refs().writeH(HC::HardPointer, 0);
    w.refs().writeH(HC::HardPointer, handle::StyleStandard);  // DIMTXSTY
    if (r2000()) {
        for (int i = 0; i < 4; ++i)
            w.refs().writeH(HC::HardPointer, 0);  // DIMLDRBLK, DIMBLK, DIMBLK1, DIMBLK2: the default arrows
        if (r2007()) {
            for (int i = 0; i < 3; ++i)
                w.refs().writeH(HC::HardPointer, 0);  // DIMLTYPE, DIMLTEX1, DIMLTEX2: by block
        }
    }
    add(handle::DimStandard, w.finish());
}

void DwgBuilder::writeVport()
{
    ObjectWriter w(version_, type::Vport, handle::VportActive, handle::VportControl);
    BitWriter& d = w.data();
    tableEntryName(w, "*Active");
    const double width = std::max(extents_.max.x - extents_.min.x, 1.0);
    const double height = std::max(extents_.max.y - extents_.min.y, 1.0);
    const double viewHeight = std::max(height, width * 0.75) * 1.05;
    d.writeBD(viewHeight);
    d.writeBD(viewHeight * 4.0 / 3.0);  // view width
    d.write2RD((extents_.min.x + extents_.max.x) / 2, (extents_.min.y + extents_.max.y) / 2);
    d.write3BD(0, 0, 0);  // target
    d.write3BD(0, 0, 1);  // direction
    d.writeBD(0);         // twist
    d.writeBD(50);        // lens length
    d.writeBD(0);         // front clip
    d.writeBD(0);         // back clip
    d.writeBits(0, 4);    // view mode
    if (r2000())
        d.writeRC(0);  // render mode
    if (r2007())
        writeDefaultLighting(d);
    d.write2RD(0, 0);  // lower left
    d.write2RD(1, 1);  // upper right
    d.writeB(false);   // UCS follow
    d.writeBS(1000);   // circle zoom
    d.writeB(true);    // fast zoom
    d.writeBB(3);      // UCS icon on, at origin
    d.writeB(false);   // grid off
    d.write2RD(10, 10);
    d.writeB(false);  // snap off
    d.writeB(false);  // snap style
    d.writeBS(0);     // isometric pair
    d.writeBD(0);     // snap rotation
    d.write2RD(0, 0);
    d.write2RD(10, 10);
    if (r2000()) {
        d.writeB(false);
        d.writeB(true);  // UCS per viewport
        d.write3BD(0, 0, 0);
        d.write3BD(1, 0, 0);
        d.write3BD(0, 1, 0);
        d.writeBD(0);
        d.writeBS(0);
    }
    if (r2007()) {
        d.writeBS(3);  // grid flags: adaptive, subdivision
        d.writeBS(5);  // major grid lines every 5
    }
    w.refs().writeH(HC::HardPointer, 0);
    if (r2007()) {
        w.refs().writeH(HC::SoftPointer, 0);  // background
        w.refs().writeH(HC::HardPointer, 0);  // visual style
        w.refs().writeH(HC::HardOwner, 0);    // sun
    }
    if (r2000()) {
        w.refs().writeH(HC::HardPointer, 0);  // named UCS
        w.refs().writeH(HC::HardPointer, 0);  // base UCS
    }
    add(handle::VportActive, w.finish());
}

void DwgBuilder::writeBlocks()
{
    struct Space {
        std::uint64_t header, begin, end, layout;
        const char* name;
        std::uint64_t first, last;
    };
    const Space spaces[] = {
        {handle::ModelBlock, handle::ModelBlockBegin, handle::ModelBlockEnd, handle::ModelLayout, "*Model_Space",
         firstEntity_, lastEntity_},
        {handle::PaperBlock, handle::PaperBlockBegin, handle::PaperBlockEnd, handle::PaperLayout, "*Paper_Space",
         r2000() ? handle::PaperViewport : 0, r2000() ? handle::PaperViewport : 0},
    };
    for (const Space& s : spaces) {
        const std::string name = versioned(s.name, r2000());
        ObjectWriter w(version_, type::BlockHeader, s.header, handle::BlockControl);
        BitWriter& d = w.data();
        tableEntryName(w, name);
        d.writeB(false);  // anonymous
        d.writeB(false);  // has attribute definitions
        d.writeB(false);  // external reference
        d.writeB(false);  // overlaid
        if (r2000())
            d.writeB(false);  // loaded
        const std::uint64_t owned = s.first != 0 ? s.last - s.first + 1 : 0;
        if (paged())
            d.writeBL(std::uint32_t(owned));
        d.write3BD(0, 0, 0);
        w.text("");  // xref path
        if (r2000()) {
            d.writeRC(0);  // no inserts
            w.text("");  // description
            d.writeBL(0);  // no preview
        }
        if (r2007()) {
            d.writeBS(0);     // insert units: none
            d.writeB(true);   // explodable
            d.writeRC(0);     // any scaling
        }
        w.refs().writeH(HC::HardPointer, 0);
        w.refs().writeH(HC::HardOwner, s.begin);
        if (paged()) {  // every entity of the block
            for (std::uint64_t i = 0; i < owned; ++i)
                w.refs().writeH(HC::HardOwner, s.first + i);
        } else {
            w.refs().writeH(HC::SoftPointer, s.first);
            w.refs().writeH(HC::SoftPointer, s.last);
        }
        w.refs().writeH(HC::HardOwner, s.end);
        if (r2000())
            w.refs().writeH(HC::HardPointer, s.layout);
        add(s.header, w.finish());

        // The space's own block and end-of-block entities sit in that space, as in real files.
        EntityCommon c;
        c.space = s.header == handle::ModelBlock ? 2 : 1;
        c.layer = handle::Layer0;
        ObjectWriter b(version_, type::Block, s.begin, c);
        b.text(name);
        add(s.begin, b.finish());
        ObjectWriter e(version_, type::EndBlk, s.end, c);
        add(s.end, e.finish());
    }
}

void DwgBuilder::writeDictionary(std::uint64_t h, std::uint64_t owner, const DictionaryEntries& entries,
                                 std::uint16_t objectType, std::uint64_t defaultEntry)
{
    ObjectWriter w(version_, objectType, h, owner, owner != 0);
    BitWriter& d = w.data();
    d.writeBL(std::uint32_t(entries.size()));
    if (r2000()) {
        d.writeBS(1);  // cloning: keep existing
        d.writeRC(0);  // not hard owner
    } else {
        d.writeRC(0);
    }
    for (const auto& e : entries)
        w.text(e.first);
    for (const auto& e : entries)
        w.refs().writeH(HC::SoftOwner, e.second);
    if (objectType == type::DictionaryWithDefault)
        w.refs().writeH(HC::HardPointer, defaultEntry);
    add(h, w.finish());
}

void DwgBuilder::writeDictionaries()
{
    DictionaryEntries named;
    if (paged())
        named.push_back({"ACAD_COLOR", colorDict_});
    named.push_back({"ACAD_GROUP", handle::GroupDict});
    if (imageDict_ != 0) {
        named.push_back({"ACAD_IMAGE_DICT", imageDict_});
        named.push_back({"ACAD_IMAGE_VARS", rasterVariables_});
    }
    if (r2000())
        named.push_back({"ACAD_LAYOUT", handle::LayoutDict});
    if (paged())
        named.push_back({"ACAD_MATERIAL", materialDict_});
    named.push_back({"ACAD_MLINESTYLE", handle::MlineStyleDict});
    if (r2000()) {
        named.push_back({"ACAD_PLOTSETTINGS", handle::PlotSettingsDict});
        named.push_back({"ACAD_PLOTSTYLENAME", handle::PlotStyleDict});
    }
    writeDictionary(handle::NamedObjects, 0, named);
    writeDictionary(handle::GroupDict, handle::NamedObjects, {});
    if (paged()) {
        writeDictionary(colorDict_, handle::NamedObjects, {});
        writeDictionary(materialDict_, handle::NamedObjects, {});
    }
    writeDictionary(handle::MlineStyleDict, handle::NamedObjects,
                    {{versioned("Standard", r2000()), handle::MlineStandard}});
    if (r2000()) {
        writeDictionary(handle::LayoutDict, handle::NamedObjects,
                        {{"Layout1", handle::PaperLayout}, {"Model", handle::ModelLayout}});
        writeDictionary(handle::PlotSettingsDict, handle::NamedObjects, {});
        writeDictionary(handle::PlotStyleDict, handle::NamedObjects, {{"Normal", handle::PlotStyleNormal}},
                        type::DictionaryWithDefault, handle::PlotStyleNormal);
        ObjectWriter normal(version_, type::PlaceHolder, handle::PlotStyleNormal, handle::PlotStyleDict, true);
        add(handle::PlotStyleNormal, normal.finish());
    }

    ObjectWriter m(version_, type::MlineStyle, handle::MlineStandard, handle::MlineStyleDict, true);
    BitWriter& d = m.data();
    m.text(versioned("Standard", r2000()));
    m.text("");
    d.writeBS(0);    // flags
    d.writeCMC(256);  // fill colour by layer
    d.writeBD(std::numbers::pi / 2);
    d.writeBD(std::numbers::pi / 2);
    d.writeRC(2);
    for (double offset : {0.5, -0.5}) {
        d.writeBD(offset);
        d.writeCMC(256);
        d.writeBS(0x7fff);  // linetype by layer
    }
    add(handle::MlineStandard, m.finish());
}

void DwgBuilder::writeLayouts()
{
    auto layout = [&](std::uint64_t h, const char* name, std::uint16_t tab, std::uint16_t plotFlags,
                      std::uint64_t block) {
        ObjectWriter w(version_, type::Layout, h, handle::LayoutDict, true);
        BitWriter& d = w.data();
        // Plot settings.
        w.text("");  // page setup name
        w.text("none_device");
        d.writeBS(plotFlags);
        for (int i = 0; i < 4; ++i)
            d.writeBD(0);  // margins
        d.writeBD(drawing_.widthMm > 0 ? drawing_.widthMm : 210);
        d.writeBD(drawing_.heightMm > 0 ? drawing_.heightMm : 297);
        w.text("");  // paper size name
        d.write2BD(0, 0);  // plot origin
        d.writeBS(1);      // millimetres
        d.writeBS(0);      // no rotation
        d.writeBS(5);      // plot the layout
        d.write2BD(0, 0);  // window
        d.write2BD(0, 0);
        if (!paged())
            w.text("");  // plot view name (a handle from R2004 on)
        d.writeBD(1);      // real world units
        d.writeBD(1);      // drawing units
        w.text("");      // style sheet
        d.writeBS(0);      // scale type
        d.writeBD(1);      // scale factor
        d.write2BD(0, 0);  // paper image origin
        if (paged()) {
            d.writeBS(0);    // shade plot: as displayed
            d.writeBS(2);    // shade plot resolution: normal
            d.writeBS(300);  // shade plot DPI
        }
        // Layout.
        w.text(name);
        d.writeBS(tab);
        d.writeBS(1);  // flags
        d.write3BD(0, 0, 0);  // UCS origin
        d.write2RD(0, 0);     // limits
        d.write2RD(drawing_.widthMm, drawing_.heightMm);
        d.write3BD(0, 0, 0);  // insertion base
        d.write3BD(1, 0, 0);
        d.write3BD(0, 1, 0);
        d.writeBD(0);
        d.writeBS(0);
        d.write3BD(extents_.min.x, extents_.min.y, 0);
        d.write3BD(extents_.max.x, extents_.max.y, 0);
        const bool paper = block == handle::PaperBlock;
        if (paged()) {
            d.writeBL(paper ? 1 : 0);             // viewports
            w.refs().writeH(HC::HardPointer, 0);  // plot view
        }
        if (r2007())
            w.refs().writeH(HC::SoftPointer, 0);  // visual style: none
        w.refs().writeH(HC::SoftPointer, block);
        w.refs().writeH(HC::SoftPointer, paper ? handle::PaperViewport : handle::VportActive);  // last active
        w.refs().writeH(HC::HardPointer, 0);  // base UCS
        w.refs().writeH(HC::HardPointer, 0);  // named UCS
        if (paged() && paper)
            w.refs().writeH(HC::SoftPointer, handle::PaperViewport);
        add(h, w.finish());
    };
    layout(handle::ModelLayout, "Model", 0, 1712, handle::ModelBlock);
    layout(handle::PaperLayout, "Layout1", 1, 688, handle::PaperBlock);
    writePaperViewport();
}

// The sheet of the paper layout: the paper space's own viewport, which every layout of a real file holds (on it, the
// layout would show a view of the model; this one shows the page).
void DwgBuilder::writePaperViewport()
{
    EntityCommon c;
    c.space = 0;  // as real files give this one viewport: its block named, not the space implied
    c.owner = handle::PaperBlock;
    c.layer = handle::Layer0;
    ObjectWriter w(version_, type::Viewport, handle::PaperViewport, c);
    BitWriter& d = w.data();
    const double width = drawing_.widthMm > 0 ? drawing_.widthMm : 210;
    const double height = drawing_.heightMm > 0 ? drawing_.heightMm : 297;
    d.write3BD(width / 2, height / 2, 0);  // centre
    d.writeBD(width * 1.1);                // the view shown, with a margin
    d.writeBD(height * 1.1);
    d.write3BD(0, 0, 0);  // target
    d.write3BD(0, 0, 1);  // direction
    d.writeBD(0);         // twist
    d.writeBD(height * 1.1);
    d.writeBD(50);  // lens length
    d.writeBD(0);   // front clip
    d.writeBD(0);   // back clip
    d.writeBD(0);   // snap angle
    d.write2RD(width / 2, height / 2);
    d.write2RD(0, 0);    // snap base
    d.write2RD(10, 10);  // snap spacing
    d.write2RD(10, 10);  // grid spacing
    d.writeBS(1000);     // circle zoom
    if (r2007())
        d.writeBS(5);  // major grid lines every 5
    d.writeBL(0);      // no frozen layers
    d.writeBL(0x8020);  // status, as real files have it
    w.text("");         // style sheet
    d.writeRC(0);       // render mode
    d.writeB(false);    // UCS at origin
    d.writeB(true);     // UCS per viewport
    d.write3BD(0, 0, 0);
    d.write3BD(1, 0, 0);
    d.write3BD(0, 1, 0);
    d.writeBD(0);  // elevation
    d.writeBS(0);  // orthographic view: none
    if (paged())
        d.writeBS(0);  // shade plot: as displayed
    if (r2007())
        writeDefaultLighting(d);
    w.refs().writeH(HC::HardPointer, 0);  // clip boundary
    if (!paged())
        w.refs().writeH(HC::HardPointer, 0);  // viewport entity header
    w.refs().writeH(HC::HardPointer, 0);      // named UCS
    w.refs().writeH(HC::HardPointer, 0);      // base UCS
    if (r2007()) {
        w.refs().writeH(HC::SoftPointer, 0);  // background
        w.refs().writeH(HC::HardPointer, 0);  // visual style
        w.refs().writeH(HC::SoftPointer, 0);  // shade plot
        w.refs().writeH(HC::HardOwner, 0);    // sun
    }
    add(handle::PaperViewport, w.finish());
}

}  // namespace unplot::engine::dwg
