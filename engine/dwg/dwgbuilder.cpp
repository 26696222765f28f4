#include "dwgbuilder.h"

#include "container2007.h"
#include "dwgclasses.h"
#include "dwgcrc.h"
#include "dwgpaged.h"
#include "dwgpreview.h"
#include "dwgshapes.h"
#include "dwgtext.h"
#include "objectmap.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace unplot::engine::dwg {
namespace {

constexpr std::uint8_t kImageBegin[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                          0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
constexpr std::uint8_t kImageEnd[16] = {0xE0, 0xDA, 0x92, 0xF8, 0x2B, 0xC9, 0xD7, 0xD7,
                                        0x62, 0xA8, 0x35, 0xC0, 0x62, 0xBB, 0xEF, 0xD4};
// R14 files locate five sections (header, classes, object map, one unused, the measurement); 2000 files also the
// auxiliary header.
constexpr int kMaxLocators = 6;

void put(std::vector<std::uint8_t>& out, const std::uint8_t* p, std::size_t n) { out.insert(out.end(), p, p + n); }
void putRL(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void putRS(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v & 0xff));
    out.push_back(std::uint8_t(v >> 8));
}

// A section framed by sentinels: RL size, data, RS checksum of size and data.
void putSection(std::vector<std::uint8_t>& out, const Sentinel& begin, const BitWriter& body, const Sentinel& end)
{
    put(out, begin.data(), begin.size());
    const std::size_t start = out.size();
    putRL(out, std::uint32_t(body.bytes().size()));
    put(out, body.bytes().data(), body.bytes().size());
    putRS(out, crc16(kCrcSeed, out.data() + start, out.size() - start));
    put(out, end.data(), end.size());
}

}  // namespace

DwgBuilder::DwgBuilder(const Drawing& drawing, int version, std::int64_t unixSeconds)
    : drawing_(drawing), version_(version)
{
    const std::int64_t ms = unixSeconds >= 0 ? unixSeconds * 1000
                                             : std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::system_clock::now().time_since_epoch())
                                                   .count();
    now_ = {std::uint32_t(ms / 86'400'000 + 2'440'588), std::uint32_t(ms % 86'400'000)};  // 1970-01-01: 2440587.5
    extents_ = drawing.extents();

    std::vector<std::string> wanted;
    for (const Layer& l : drawing.layers)
        wanted.push_back(l.name);
    layerNames_ = uniqueTableNames(wanted, {"0"}, version < 15);
    for (std::size_t i = 0; i < layerNames_.size(); ++i) {
        layerHandles_.push_back(nextHandle_++);
        layerByName_.emplace(drawing.layers[i].name, layerHandles_.back());
    }
    layerByName_["0"] = handle::Layer0;

    wanted.clear();
    for (const TextStyle& s : drawing.textStyles)
        wanted.push_back(s.name);
    styleNames_ = uniqueTableNames(wanted, {"STANDARD"}, version < 15);
    for (std::size_t i = 0; i < styleNames_.size(); ++i) {
        styleHandles_.push_back(nextHandle_++);
        styleByName_.emplace(drawing.textStyles[i].name, styleHandles_.back());
    }
    styleByName_["Standard"] = handle::StyleStandard;

    wanted.clear();
    for (const Linetype& t : drawing.linetypes) {
        const bool known = std::any_of(linetypes_.begin(), linetypes_.end(), [&](auto* k) { return k->name == t.name; });
        if (!t.elements.empty() && !t.name.empty() && !known) {
            linetypes_.push_back(&t);
            wanted.push_back(t.name);
        }
    }
    linetypeNames_ = uniqueTableNames(wanted, {"BYBLOCK", "BYLAYER", "CONTINUOUS"}, version < 15);
    for (std::size_t i = 0; i < linetypeNames_.size(); ++i) {
        linetypeHandles_.push_back(nextHandle_++);
        linetypeByName_.emplace(linetypes_[i]->name, linetypeHandles_.back());
    }
    if (paged()) {
        materialDict_ = nextHandle_++;
        colorDict_ = nextHandle_++;
    }

    kept_.reserve(drawing.entities.size());
    for (const Entity& e : drawing.entities)
        if (auto g = normalized(e.geometry))
            kept_.push_back({&e, std::move(*g)});
    // The images first (beneath the rest), then the entities; then each image's reactor, the image files'
    // definitions, the image dictionary and the raster variables.
    const std::size_t entities = drawing.images.size() + kept_.size();
    if (entities > 0) {
        firstEntity_ = nextHandle_;
        lastEntity_ = nextHandle_ + entities - 1;
        nextHandle_ += entities;
    }
    if (!drawing.images.empty()) {
        firstImageObject_ = nextHandle_;
        imageDict_ = firstImageObject_ + drawing.images.size() + drawing.imageFiles.size();
        rasterVariables_ = imageDict_ + 1;
        nextHandle_ = rasterVariables_ + 1;
    }
}

SplitStreams DwgBuilder::classes() const
{
    return classStreams(version_, std::uint32_t(drawing_.images.size()), std::uint32_t(drawing_.imageFiles.size()));
}

void DwgBuilder::putSecondHeader(std::vector<std::uint8_t>& out, const std::uint32_t (*locators)[2],
                                 int count) const
{
    BitWriter d;
    d.writeBL(std::uint32_t(out.size()));  // where this section starts
    const char* magic = version_ >= 15 ? "AC1015" : "AC1014";
    d.writeBytes(reinterpret_cast<const std::uint8_t*>(magic), 6);
    for (int i = 0; i < 5; ++i)
        d.writeRC(0);
    d.writeRC(0);  // maintenance release
    d.writeRC(1);
    d.writeBits(0, 2);
    d.writeRC(kWriterVersion[0]);
    d.writeRC(kWriterVersion[1]);
    d.writeRS(kCodePage1252);
    d.writeBS(std::uint16_t(count));
    for (int i = 0; i < count; ++i) {
        d.writeRC(std::uint8_t(i));
        d.writeBL(locators[i][0]);
        d.writeBL(locators[i][1]);
    }
    const std::uint64_t roots[] = {nextHandle_,           handle::BlockControl,  handle::LayerControl,
                                   handle::StyleControl,  handle::LtypeControl,  handle::ViewControl,
                                   handle::UcsControl,    handle::VportControl,  handle::AppIdControl,
                                   handle::DimStyleControl, handle::VxControl,   handle::NamedObjects,
                                   handle::MlineStyleDict, handle::GroupDict};
    d.writeBS(std::uint16_t(std::size(roots)));
    for (std::size_t i = 0; i < std::size(roots); ++i) {
        const int n = handleByteCount(roots[i]);
        d.writeRC(std::uint8_t(n));
        d.writeRC(std::uint8_t(i));
        for (int k = n - 1; k >= 0; --k)
            d.writeRC(std::uint8_t(roots[i] >> (8 * k)));
    }

    put(out, kSecondHeaderBegin.data(), kSecondHeaderBegin.size());
    const std::size_t start = out.size();
    putRL(out, std::uint32_t(4 + d.bytes().size() + 2 + 8));  // as real files count it: up to the end sentinel
    put(out, d.bytes().data(), d.bytes().size());
    putRS(out, crc16(kCrcSeed, out.data() + start, out.size() - start));
    out.insert(out.end(), 8, 0);
    put(out, kSecondHeaderEnd.data(), kSecondHeaderEnd.size());
}

std::vector<std::uint8_t> DwgBuilder::buildPaged() const
{
    std::vector<PagedSection> sections(4);
    sections[0] = {"AcDb:Header", 1, {}};
    sections[1] = {"AcDb:Classes", 3, {}};
    if (r2007()) {  // 2010 files add the high part of the section size
        sections[0].data = framedSection2010(kHeaderVarsBegin, headerStreams(), kHeaderVarsEnd, r2010());
        sections[1].data = framedSection2010(kClassesBegin, classes(), kClassesEnd, r2010());
    } else {
        putSection(sections[0].data, kHeaderVarsBegin, headerVariables(), kHeaderVarsEnd);
        putSection(sections[1].data, kClassesBegin, classes().data(), kClassesEnd);
    }
    sections[1].data.insert(sections[1].data.end(), 8, 0);  // as real files end it (some readers read that far)

    // Objects at offsets from the start of their section, which begins with the same marker as in older files.
    sections[3] = {"AcDb:AcDbObjects", 7, {}};
    std::vector<std::uint8_t>& objects = sections[3].data;
    putRL(objects, 0x0dca);
    std::vector<MapEntry> map;
    map.reserve(objects_.size());
    const bool gaps = r2007() && !r2010();
    for (const auto& [h, bytes] : objects_) {
        // 2007: an object that would reach into the last bytes of a page starts the next page instead, so that every
        // page ends in zeros and compresses (readers find objects through the map, never by walking the section).
        const std::size_t used = objects.size() % kPageData2007;
        if (gaps && used > 0 && used + bytes.size() > kPageData2007 - kPageGap2007)
            objects.resize(objects.size() + (kPageData2007 - used), 0);
        map.push_back({h, std::int64_t(objects.size())});
        put(objects, bytes.data(), bytes.size());
    }
    sections[2] = {"AcDb:Handles", 4, writeObjectMap(map)};
    sections.push_back({"AcDb:Template", 5, templateInfo()});
    sections.push_back({"AcDb:AuxHeader", 2, auxHeader()});
    sections.push_back({"AcDb:ObjFreeSpace", 6, objFreeSpace()});
    sections.push_back({"AcDb:RevHistory", 8, revHistory()});
    // Stored raw, where the plain header points: the summary, the preview and the writer.
    sections.push_back({"AcDb:SummaryInfo", 9, summaryInfo(), false, 0x80, 0x20});
    std::vector<std::uint8_t> preview = previewImage(previewShapes(), drawing_.widthMm, drawing_.heightMm, 0);
    const auto previewPage = std::uint32_t((preview.size() + 0x1f) & ~std::size_t(0x1f));
    sections.push_back({"AcDb:Preview", 10, std::move(preview), false, previewPage, 0x0d,
                        {std::begin(kPreviewAddresses), std::end(kPreviewAddresses)}});
    sections.push_back({"AcDb:AppInfo", 11, appInfo(), false, 0x300, 0x2c});

    PagedFileInfo info;
    info.magic = r2010() ? "AC1024" : r2007() ? "AC1021" : "AC1018";
    if (r2010())
        info.maintenance = 6;  // above 3: the header and class sections carry the high word of their size
    else if (r2007())
        info.maintenance = 50;  // as 2007 files have it
    info.writerVersion = kWriterVersion[0];
    info.writerMaintenance = kWriterVersion[1];
    info.codePage = kCodePage1252;
    if (r2007() && !r2010())
        return writeFile2007(sections, info);
    return writePagedFile(sections, info);
}

void DwgBuilder::add(std::uint64_t h, std::vector<std::uint8_t> bytes) { objects_[h] = std::move(bytes); }

std::vector<std::pair<const Geometry*, Rgb>> DwgBuilder::previewShapes() const
{
    std::vector<std::pair<const Geometry*, Rgb>> shapes;
    shapes.reserve(kept_.size());
    for (const Kept& k : kept_)
        shapes.emplace_back(&k.geometry, k.entity->style.color);
    return shapes;
}

std::vector<std::uint8_t> DwgBuilder::build()
{
    writeControls();
    writeTableEntries();
    writeDimStyle();
    writeVport();
    writeBlocks();
    writeDictionaries();
    if (r2000())
        writeLayouts();
    writeImages();
    writeEntities();
    nextHandle_ = std::max(nextHandle_, objects_.rbegin()->first + 1);
    if (paged())
        return buildPaged();

    const int count = r2000() ? 6 : 5;
    std::vector<std::uint8_t> out(0x15 + 4 + std::size_t(count) * 9 + 2 + 16, 0);  // the file header, below
    // 2000: the auxiliary header right after it.
    const auto auxAt = std::uint32_t(out.size());
    if (r2000()) {
        const std::vector<std::uint8_t> aux = auxHeader();
        put(out, aux.data(), aux.size());
    }

    // The preview (R14: an empty one).
    const auto imageAt = std::uint32_t(out.size());
    if (r2000()) {
        const std::vector<std::uint8_t> preview =
            previewImage(previewShapes(), drawing_.widthMm, drawing_.heightMm, imageAt);
        put(out, preview.data(), preview.size());
    } else {
        put(out, kImageBegin, 16);
        putRL(out, 1);
        out.push_back(0);
        put(out, kImageEnd, 16);
    }

    const auto headerAt = std::uint32_t(out.size());
    putSection(out, kHeaderVarsBegin, headerVariables(), kHeaderVarsEnd);
    const auto classesAt = std::uint32_t(out.size());
    putSection(out, kClassesBegin, classes().data(), kClassesEnd);
    const auto classesEnd = std::uint32_t(out.size());
    putRL(out, 0x0dca);  // what real files carry between the classes and the objects

    std::vector<MapEntry> map;
    map.reserve(objects_.size());
    for (const auto& [h, bytes] : objects_) {
        map.push_back({h, std::int64_t(out.size())});
        put(out, bytes.data(), bytes.size());
    }
    const auto mapAt = std::uint32_t(out.size());
    const std::vector<std::uint8_t> mapBytes = writeObjectMap(map);
    put(out, mapBytes.data(), mapBytes.size());
    const auto mapEnd = std::uint32_t(out.size());

    // The second header, right after the map: where the sections are, and the handles of the root objects.
    const std::uint32_t locators[kMaxLocators][2] = {{headerAt, classesAt - headerAt},
                                                     {classesAt, classesEnd - classesAt},
                                                     {mapAt, mapEnd - mapAt},
                                                     {0, 0},
                                                     {0, 0},
                                                     {auxAt, imageAt - auxAt}};
    putSecondHeader(out, locators, count);

    // MEASUREMENT: metric.
    const auto measurementAt = std::uint32_t(out.size());
    putRL(out, 0x00010000);

    // The file header.
    std::vector<std::uint8_t> fh;
    const char* magic = version_ >= 15 ? "AC1015" : "AC1014";
    put(fh, reinterpret_cast<const std::uint8_t*>(magic), 6);
    fh.insert(fh.end(), {0, 0, 0, 0, 0});
    fh.push_back(0);  // maintenance release
    fh.push_back(1);
    putRL(fh, imageAt);
    fh.push_back(kWriterVersion[0]);
    fh.push_back(kWriterVersion[1]);
    putRS(fh, kCodePage1252);
    putRL(fh, std::uint32_t(count));
    for (int i = 0; i < count; ++i) {
        fh.push_back(std::uint8_t(i));
        putRL(fh, i == 4 ? measurementAt : locators[i][0]);
        putRL(fh, i == 4 ? 4 : locators[i][1]);
    }
    putRS(fh, std::uint16_t(crc16(0, fh.data(), fh.size()) ^ fileHeaderCrcMask(count)));
    put(fh, kFileHeaderEnd.data(), kFileHeaderEnd.size());
    std::memcpy(out.data(), fh.data(), fh.size());
    return out;
}

}  // namespace unplot::engine::dwg
