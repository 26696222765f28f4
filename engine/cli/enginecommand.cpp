#include "enginecommand.h"

#include "dxfwriter.h"
#include "exitcodes.h"
#include "pdfreader.h"
#include "protocol.h"
#include "resultarchive.h"
#include "textrecovery.h"

#ifdef UNPLOT_HAVE_DWG
#include "dwgwriter.h"
#endif

#include <nlohmann/json.hpp>

#include <new>
#include <string>

namespace unplot::engine {
namespace {

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The passes between reading and writing a page; what they did goes to `out`.
void runPasses(Drawing& drawing, const EngineOptions& options, std::ostream& out)
{
    if (options.keepStrokes)
        return;
    static const std::vector<strokes::StrokeFont> fonts = strokes::loadStrokeFonts();
    const strokes::TextRecovery text = strokes::recoverText(drawing, fonts);
    out << "page " << drawing.pageNumber << ": " << text.textsRecovered << " texts recovered, " << text.strokesReplaced
        << " strokes replaced\n";
}

// One page into the archive; returns the page's warnings.
std::vector<std::string> convertPage(PdfReader& reader, int page, const EngineOptions& options, ResultArchive& archive,
                                     std::ostream& out)
{
    Drawing drawing = reader.readPage(page);
    runPasses(drawing, options, out);
    const std::string name = "page-" + std::to_string(page) + (options.dwg ? ".dwg" : ".dxf");
    if (!options.dwg) {
        archive.add(name, dxfToString(drawing, options.version));
        return std::move(drawing.warnings);
    }
#ifdef UNPLOT_HAVE_DWG
    const std::vector<std::uint8_t> bytes = writeDwg(drawing, options.version);
    archive.add(name, std::string(bytes.begin(), bytes.end()));
    return std::move(drawing.warnings);
#else
    throw std::runtime_error("DWG output is not available in this build; choose DXF");
#endif
}

} // namespace

int runInfo(const std::string& pdfPath, std::ostream& out)
{
    try {
        PdfReader reader(pdfPath);
        out << nlohmann::ordered_json{{"pages", reader.pageCount()}}.dump() << '\n';
        return exitcode::kConverted;
    } catch (const PdfOpenError& e) {
        out << nlohmann::ordered_json{{"error", e.code()}, {"message", e.what()}}.dump() << '\n';
        return exitcode::kUnreadableInput;
    } catch (const std::exception& e) {
        out << nlohmann::ordered_json{{"error", "damaged"},
                                      {"message", std::string("The PDF cannot be read: ") + e.what()}}
                   .dump()
            << '\n';
        return exitcode::kUnreadableInput;
    }
}

int runConversion(const EngineOptions& options, std::ostream& out, std::ostream& err)
{
#ifndef UNPLOT_HAVE_DWG
    if (options.dwg) {
        err << "error: DWG output is not available in this build; choose DXF\n";
        return exitcode::kUsage;
    }
#endif
    std::unique_ptr<PdfReader> reader;
    try {
        reader = std::make_unique<PdfReader>(options.input);
    } catch (const PdfOpenError& e) {
        err << "error: " << options.input << ": " << e.what() << '\n';
        return exitcode::kUnreadableInput;
    }
    protocol::PageListError pageError;
    const auto pages = protocol::parsePageList(options.pages, reader->pageCount(), &pageError);
    if (!pages) {
        err << "error: " << pageError.message << '\n';
        return exitcode::kUsage;
    }
    std::vector<int> numbers = pages->pages;
    if (pages->all)
        for (int p = 1; p <= reader->pageCount(); ++p)
            numbers.push_back(p);

    ResultArchive archive;
    int warnings = 0;
    for (int page : numbers) {
        try {
            for (const auto& warning : convertPage(*reader, page, options, archive, out)) {
                err << "warning: page " << page << ": " << oneLine(warning) << '\n';
                ++warnings;
            }
        } catch (const std::bad_alloc&) {
            err << "warning: page " << page << ": not converted: out of memory\n";
            ++warnings;
        } catch (const std::exception& e) {
            err << "warning: page " << page << ": not converted: " << oneLine(e.what()) << '\n';
            ++warnings;
        }
    }
    if (archive.empty()) {
        err << "error: no page could be converted\n";
        return exitcode::kNothingConverted;
    }
    try {
        archive.write(options.output);
    } catch (const std::exception& e) {
        err << "error: " << oneLine(e.what()) << '\n';
        return exitcode::kFailure;
    }
    return warnings > 0 ? exitcode::kConvertedWithWarnings : exitcode::kConverted;
}

int runEngineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    EngineOptions options;
    try {
        options = parseOptions(args);
    } catch (const UsageError& e) {
        err << "error: " << e.what() << " (see unplot-engine --help)\n";
        return exitcode::kUsage;
    }
    try {
        switch (options.mode) {
        case EngineOptions::Mode::Help:
            out << usageText();
            return exitcode::kConverted;
        case EngineOptions::Mode::Info:
            return runInfo(options.input, out);
        case EngineOptions::Mode::Convert:
            return runConversion(options, out, err);
        }
    } catch (const std::exception& e) {
        err << "error: " << oneLine(e.what()) << '\n';
    }
    return exitcode::kFailure;
}

} // namespace unplot::engine
