#include "dxftestsupport.h"

#include <algorithm>

namespace unplot::engine::dxf::test {

std::string DxfObject::value(int code) const
{
    for (const auto& [c, v] : tags)
        if (c == code)
            return v;
    return {};
}

std::vector<std::string> DxfObject::values(int code) const
{
    std::vector<std::string> result;
    for (const auto& [c, v] : tags)
        if (c == code)
            result.push_back(v);
    return result;
}

bool DxfObject::has(int code) const
{
    return std::any_of(tags.begin(), tags.end(), [code](const auto& t) { return t.first == code; });
}

Tags collectTags(const Drawing& drawing, int version)
{
    CollectingTagSink sink;
    writeDxfTags(drawing, version, sink);
    return std::move(sink.tags);
}

std::vector<DxfObject> splitObjects(const Tags& tags)
{
    std::vector<DxfObject> objects;
    std::string section;
    bool sectionName = false;
    for (const auto& tag : tags) {
        if (tag.first == 0) {
            if (tag.second == "SECTION")
                sectionName = true;
            objects.push_back({section, tag.second, {}});
        } else if (sectionName && tag.first == 2) {
            section = tag.second;
            objects.back().section = section;
            sectionName = false;
        }
        if (!objects.empty())
            objects.back().tags.push_back(tag);
    }
    return objects;
}

std::map<std::string, Tags> headerVariables(const Tags& tags)
{
    std::map<std::string, Tags> result;
    Tags* current = nullptr;
    for (const auto& tag : tags) {
        if (tag.first == 0 && tag.second == "ENDSEC")
            break;
        if (tag.first == 9)
            current = &result[tag.second];
        else if (current)
            current->push_back(tag);
    }
    return result;
}

} // namespace unplot::engine::dxf::test
