#include "enginecommand.h"

#include "dxfwriter.h"
#include "exitcodes.h"
#include "pdfreader.h"
#include "pipeline.h"
#include "protocol.h"
#include "resultarchive.h"
#include "version.h"

#ifdef UNPLOT_HAVE_DWG
#include "dwgwriter.h"
#endif

#include <nlohmann/json.hpp>

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

namespace unplot::engine {
namespace {

// More pages than one conversion takes: a document of a million pages fails at once instead of running out of time
// or memory.
constexpr std::size_t kMostPages = 10000;

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// What MuPDF may hold: half the address space this process may use, or half the machine's memory without a limit.
// The rest is for the drawings and their files.
std::size_t mupdfMemoryLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return std::size_t(limit.rlim_cur / 2);
    return std::size_t(sysconf(_SC_PHYS_PAGES)) * std::size_t(sysconf(_SC_PAGE_SIZE)) / 2;
}

int coresAvailable()
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&cpus));
}

struct PageResult {
    std::vector<ResultArchive::Member> members; // the drawing and its image files; none when the page failed
    std::vector<std::string> warnings;
    std::string passes; // what the passes did
};

// The passes between reading and writing a page (pipeline.h); what they did, as a line.
std::string passPage(Drawing& drawing, const EngineOptions& options)
{
    runPasses(drawing, options.skippedPasses);
    std::string line = "page " + std::to_string(drawing.pageNumber) + ": ";
    for (std::size_t i = 0; i < drawing.notes.size(); ++i)
        line += (i > 0 ? "; " : "") + drawing.notes[i];
    return line + "\n";
}

std::time_t modificationTime(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// `dated`: the time the drawings carry (the PDF's own), so that one PDF gives the same bytes every time.
PageResult convertPage(PdfReader& reader, int page, const EngineOptions& options, std::time_t dated)
{
    PageResult result;
    try {
        Drawing drawing = reader.readPage(page);
        result.passes = passPage(drawing, options);
        const std::string name = "page-" + std::to_string(page) + (options.dwg ? ".dwg" : ".dxf");
        std::vector<ResultArchive::Member> members;
#ifdef UNPLOT_HAVE_DWG
        if (options.dwg) {
            const std::vector<std::uint8_t> bytes = writeDwg(drawing, options.version, dated);
            members.push_back(ResultArchive::compress(
                name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
        }
#endif
        if (!options.dwg)
            members.push_back(ResultArchive::compress(name, dxfToString(drawing, options.version)));
        for (ImageFile& file : drawing.imageFiles)
            members.push_back(ResultArchive::store(std::move(file.name), std::move(file.bytes)));
        result.members = std::move(members);
        result.warnings = std::move(drawing.warnings);
    } catch (const std::bad_alloc&) {
        result.warnings = {"not converted: out of memory"};
    } catch (const std::exception& e) {
        result.warnings = {"not converted: " + oneLine(e.what())};
    }
    return result;
}

// Converts the pages on as many threads as there are readers, each thread with its own, and hands the results to
// `take` on this thread in the order of `pages`. A few pages at most are converted ahead of the one awaited.
void convertPages(const std::vector<PdfReader*>& readers, const std::vector<int>& pages, const EngineOptions& options,
                  std::time_t dated, const std::function<void(int page, PageResult&&)>& take)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<PageResult>> results(pages.size());
    std::size_t next = 0, taken = 0;
    bool stop = false;
    const std::size_t ahead = 2 * readers.size();
    auto work = [&](PdfReader* reader) {
        for (;;) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stop || next == pages.size() || next < taken + ahead; });
            if (stop || next == pages.size())
                return;
            const std::size_t i = next++;
            lock.unlock();
            PageResult result = convertPage(*reader, pages[i], options, dated);
            lock.lock();
            results[i] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::jthread> workers;
    auto stopWorkers = [&] {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        workers.clear(); // joins
    };
    try {
        for (PdfReader* reader : readers)
            workers.emplace_back(work, reader);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return results[i].has_value(); });
            PageResult result = std::move(*results[i]);
            results[i].reset();
            ++taken;
            lock.unlock();
            changed.notify_all();
            take(pages[i], std::move(result));
        }
    } catch (...) {
        stopWorkers();
        throw;
    }
    stopWorkers();
}

// What README.txt says when something was left out.
std::string readme(const std::string& lines)
{
    return "These drawings were converted from a PDF by unplot, but not everything in it could be converted.\n"
           "What was left out, page by page (page N is drawing page-N):\n\n" +
           lines;
}

} // namespace

int runInfo(const std::string& pdfPath, std::ostream& out)
{
    try {
        PdfReader reader(PdfSource{pdfPath, nullptr, mupdfMemoryLimit()});
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
        reader = std::make_unique<PdfReader>(PdfSource{options.input, nullptr, mupdfMemoryLimit()});
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
        for (int p = 1; p <= reader->pageCount() && numbers.size() <= kMostPages; ++p)
            numbers.push_back(p);
    if (numbers.size() > kMostPages) {
        err << "error: the PDF has " << reader->pageCount() << " pages; one conversion takes " << kMostPages
            << " at most: choose pages with --pages\n";
        return exitcode::kFailure;
    }

    // One reader a thread; fewer threads when MuPDF cannot open the document again.
    const int threads = std::min(options.threads > 0 ? options.threads : coresAvailable(), int(numbers.size()));
    std::vector<std::unique_ptr<PdfReader>> others;
    std::vector<PdfReader*> readers{reader.get()};
    try {
        while (int(readers.size()) < threads) {
            others.push_back(reader->another());
            readers.push_back(others.back().get());
        }
    } catch (const std::exception&) {
    }

    try {
        const std::time_t dated = modificationTime(options.input); // of the archive's members and the DWG drawings
        ResultArchive archive(options.output, dated);
        std::string leftOut;
        convertPages(readers, numbers, options, dated, [&](int page, PageResult&& result) {
            out << result.passes;
            for (const auto& warning : result.warnings) {
                err << "warning: page " << page << ": " << oneLine(warning) << '\n';
                leftOut += "page " + std::to_string(page) + ": " + oneLine(warning) + "\n";
            }
            for (const auto& member : result.members)
                archive.add(member);
        });
        if (archive.empty()) {
            err << "error: no page could be converted\n";
            return exitcode::kNothingConverted;
        }
        if (!leftOut.empty())
            archive.add(ResultArchive::compress("README.txt", readme(leftOut)));
        archive.commit();
        return leftOut.empty() ? exitcode::kConverted : exitcode::kConvertedWithWarnings;
    } catch (const std::exception& e) {
        err << "error: " << oneLine(e.what()) << '\n';
        return exitcode::kFailure;
    }
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
        case EngineOptions::Mode::Version:
            out << versionText("unplot-engine");
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
