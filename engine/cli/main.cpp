// unplot-engine: converts a PDF drawing into a zip of DXF or DWG drawings, one per page. See --help.

#include "enginecommand.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = unplot::engine::runEngineCommand(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
