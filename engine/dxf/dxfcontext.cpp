#include "dxfcontext.h"

#include "dxfencoding.h"

namespace unplot::engine::dxf {

DxfContext::DxfContext(const Drawing& d, const DxfVersion& v, TagSink& sink)
    : drawing(d), version(v), out(sink), styleStandard_(v.extendedNames() ? "Standard" : "STANDARD")
{
    std::uint64_t next = handle::kFirstFree;

    TableNames layerNames(version);
    layerNames.reserve("0");
    for (const Layer& layer : drawing.layers) {
        if (layerIndex_.count(layer.name) != 0)
            continue; // the same group twice: one layer
        layerIndex_.emplace(layer.name, layers.size());
        layers.push_back({text(layerNames.make(layer.name, "Layer")), next++, layer.visible, {}});
    }

    TableNames styleNames(version);
    styleNames.reserve("Standard");
    for (const TextStyle& style : drawing.textStyles) {
        if (styleIndex_.count(style.name) != 0)
            continue;
        styleIndex_.emplace(style.name, textStyles.size());
        const std::string wanted = style.name.empty() ? style.fontName : style.name;
        textStyles.push_back({text(styleNames.make(wanted, "Style")), next++, true, text(cadFontFile(style.fontName))});
    }

    TableNames linetypeNames(version);
    for (const char* builtin : {"ByBlock", "ByLayer", "Continuous"})
        linetypeNames.reserve(builtin);
    for (const Linetype& linetype : drawing.linetypes) {
        if (linetype.elements.empty() || linetypeIndex_.count(linetype.name) != 0)
            continue;
        linetypeIndex_.emplace(linetype.name, linetypes.size());
        linetypes.push_back({text(linetypeNames.make(linetype.name, "Linetype")), next++, true, {}, &linetype});
    }

    firstEntityHandle = next;
    handleSeed = firstEntityHandle + drawing.entities.size();
    if (!drawing.images.empty()) {
        firstImageHandle = handleSeed;
        firstImageDefHandle = firstImageHandle + 2 * drawing.images.size();
        imageDictionaryHandle = firstImageDefHandle + drawing.imageFiles.size();
        rasterVariablesHandle = imageDictionaryHandle + 1;
        handleSeed = rasterVariablesHandle + 1;
    }
}

const std::string& DxfContext::layerName(const std::string& modelName) const
{
    const auto it = layerIndex_.find(modelName);
    return it == layerIndex_.end() ? layerZero_ : layers[it->second].name;
}

const std::string& DxfContext::textStyleName(const std::string& modelName) const
{
    const auto it = styleIndex_.find(modelName);
    return it == styleIndex_.end() ? styleStandard_ : textStyles[it->second].name;
}

const std::string* DxfContext::linetypeName(const std::string& modelName) const
{
    if (modelName.empty())
        return nullptr;
    const auto it = linetypeIndex_.find(modelName);
    return it == linetypeIndex_.end() ? nullptr : &linetypes[it->second].name;
}

std::string DxfContext::text(std::string_view utf8, std::size_t maxBytes) const
{
    return encodeDxfString(utf8, version, maxBytes);
}

} // namespace unplot::engine::dxf
