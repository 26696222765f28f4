#include "options.h"

#include "pipeline.h"
#include "protocol.h"

#include <algorithm>

namespace unplot::engine {
namespace {
constexpr int kMostThreads = 256;
} // namespace

std::string usageText()
{
    std::string passes;
    for (const DrawingPass& pass : drawingPasses())
        passes += "                   " + std::string(pass.name) + ": " + pass.summary + "\n";
    return "Usage: unplot-engine INPUT.pdf OUTPUT.zip [--dxf|--dwg] [--version CODE] [--pages LIST] [--threads N]\n"
           "                    [--skip PASS,...] [--keep-strokes]\n"
           "       unplot-engine --info INPUT.pdf\n"
           "       unplot-engine --version\n"
           "\n"
           "Converts the pages of a vector PDF drawing into CAD drawings, one per page (page-N.dxf or page-N.dwg,\n"
           "N the PDF page number), collected in a zip archive.\n"
           "\n"
           "  --dxf            write DXF drawings (the default)\n"
           "  --dwg            write DWG drawings\n"
           "  --version CODE   drawing version: 14 (R14, the default), 15 (2000), 18 (2004), 21 (2007), 23 (2010)\n"
           "  --pages LIST     pages to convert, such as 1,3,5-7; -1 (the default) for all pages, 10000 at most\n"
           "  --threads N      pages converted at once (default: one for each core this process may use);\n"
           "                   the archive is the same whatever N is\n"
           "  --skip PASSES    leave out passes over the drawing (a comma-separated list, or all), in the order\n"
           "                   they run:\n" +
           passes +
           "  --keep-strokes   leave text drawn as strokes as it is drawn: the same as --skip text\n"
           "  --info           print {\"pages\":N} for a usable PDF, else {\"error\":CODE,\"message\":TEXT}\n"
           "                   with CODE not-pdf, damaged or encrypted\n"
           "  --version        alone: print the program's version\n"
           "  --help           show this text\n"
           "\n"
           "Drawings are in millimetres at 1:1 with the origin at the lower left of the page as shown. What could\n"
           "not be converted (images, shadings, ...) is left out and listed in README.txt in the archive.\n"
           "MuPDF may hold half the memory limit (ulimit -v) at most, or half the machine's memory without one.\n"
           "\n"
           "Exit status: 0 converted; 10 converted with warnings (one \"warning: page N: ...\" line each on\n"
           "stderr); 2 usage error; 3 the PDF cannot be read (not a PDF, damaged, password-protected);\n"
           "4 no page could be converted; 1 any other failure.\n";
}

EngineOptions parseOptions(const std::vector<std::string>& args)
{
    EngineOptions options;
    if (args == std::vector<std::string>{"--version"}) {
        options.mode = EngineOptions::Mode::Version;
        return options;
    }
    std::vector<std::string> positional;
    bool typeGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        }
        auto takeValue = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= args.size())
                throw UsageError("the option " + arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.mode = EngineOptions::Mode::Help;
            return options;
        } else if (arg == "--info") {
            options.mode = EngineOptions::Mode::Info;
        } else if (arg == "--dxf" || arg == "--dwg") {
            if (typeGiven && options.dwg != (arg == "--dwg"))
                throw UsageError("choose either --dxf or --dwg, not both");
            options.dwg = arg == "--dwg";
            typeGiven = true;
        } else if (arg == "--version") {
            const std::string text = takeValue();
            const auto version = protocol::parseVersion(text);
            if (!version)
                throw UsageError("unknown drawing version \"" + text + "\" (use 14, 15, 18, 21 or 23)");
            options.version = version->code;
        } else if (arg == "--keep-strokes") {
            options.skippedPasses.push_back("text");
        } else if (arg == "--pages") {
            options.pages = takeValue();
        } else if (arg == "--threads") {
            const std::string text = takeValue();
            std::size_t used = 0;
            try {
                options.threads = std::stoi(text, &used);
            } catch (const std::exception&) {
            }
            if (used != text.size() || options.threads < 1 || options.threads > kMostThreads)
                throw UsageError("--threads takes a number from 1 to " + std::to_string(kMostThreads));
        } else if (arg == "--skip") {
            const std::string list = takeValue() + ",";
            for (std::size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1) {
                const std::string name = list.substr(from, comma - from);
                const auto& all = drawingPasses();
                const bool known = std::any_of(all.begin(), all.end(), [&](auto& p) { return name == p.name; });
                if (name == "all")
                    for (const DrawingPass& pass : all)
                        options.skippedPasses.push_back(pass.name);
                else if (known)
                    options.skippedPasses.push_back(name);
                else
                    throw UsageError("unknown pass \"" + name + "\" for --skip");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (options.mode == EngineOptions::Mode::Info) {
        if (positional.size() != 1)
            throw UsageError("--info takes exactly one PDF file");
        options.input = positional[0];
        return options;
    }
    if (positional.size() != 2)
        throw UsageError("give the input PDF and the output zip archive");
    options.input = positional[0];
    options.output = positional[1];
    if (!protocol::parsePageList(options.pages, 0))
        throw UsageError("the page list \"" + options.pages + "\" is not valid: write pages such as 1,3,5-7");
    return options;
}

} // namespace unplot::engine
