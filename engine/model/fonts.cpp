#include "drawing.h"

namespace unplot::engine {

std::string cadFontFile(const std::string& fontName)
{
    if (fontName.ends_with(".shx"))
        return fontName;
    std::string lower;
    for (char ch : fontName)
        lower += (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
    if (lower.find("courier") != std::string::npos || lower.find("mono") != std::string::npos)
        return "cour.ttf";
    if (lower.find("times") != std::string::npos || lower.find("serif") != std::string::npos)
        if (lower.find("sans") == std::string::npos)
            return "times.ttf";
    if (lower.find("symbol") != std::string::npos)
        return "symbol.ttf";
    return "arial.ttf";
}

} // namespace unplot::engine
