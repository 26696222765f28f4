#include "dxfwriter.h"

#include "dxfcontext.h"
#include "dxftags.h"

#include <sstream>
#include <stdexcept>

namespace unplot::engine {

void dxf::writeDxfTags(const Drawing& drawing, std::int64_t versionCode, TagSink& sink)
{
    const auto version = dxfVersionForCode(versionCode);
    if (!version)
        throw std::invalid_argument("unknown DXF version code " + std::to_string(versionCode) +
                                    " (expected 14, 15, 18, 21 or 23)");
    DxfContext context(drawing, *version, sink);
    writeHeader(context);
    writeClasses(context);
    writeTables(context);
    writeBlocks(context);
    writeEntities(context);
    writeObjects(context);
    sink.tag(0, "EOF");
}

void writeDxf(const Drawing& drawing, std::int64_t versionCode, std::ostream& out)
{
    dxf::StreamTagSink sink(out);
    dxf::writeDxfTags(drawing, versionCode, sink);
    sink.flush();
}

std::string dxfToString(const Drawing& drawing, std::int64_t versionCode)
{
    std::ostringstream out;
    writeDxf(drawing, versionCode, out);
    return std::move(out).str();
}

} // namespace unplot::engine
