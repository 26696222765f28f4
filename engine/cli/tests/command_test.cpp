// unplot-engine run as the service runs it: --info, conversions, exit codes, the archive's content.

#include "testpdf.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

extern char** environ;

namespace unplot::engine {
namespace {

namespace fs = std::filesystem;
using testing::makePdf;
using testing::TempDir;

struct EngineRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

EngineRun runEngine(const std::vector<std::string>& args)
{
    TempDir dir;
    const fs::path out = dir.path() / "stdout", err = dir.path() / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all = {UNPLOT_ENGINE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EngineRun run;
    if (posix_spawn(&pid, UNPLOT_ENGINE, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

std::vector<std::string> zipNames(const fs::path& zip)
{
    int error = 0;
    zip_t* archive = zip_open(zip.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return {"(not a zip archive)"};
    std::vector<std::string> names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i)
        names.emplace_back(zip_get_name(archive, zip_uint64_t(i), 0));
    zip_discard(archive);
    return names;
}

std::string zipEntry(const fs::path& zip, const std::string& name)
{
    int error = 0;
    zip_t* archive = zip_open(zip.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    std::string content;
    zip_stat_t stat;
    if (zip_stat(archive, name.c_str(), 0, &stat) == 0) {
        if (zip_file_t* file = zip_fopen(archive, name.c_str(), 0)) {
            content.resize(stat.size);
            zip_fread(file, content.data(), stat.size);
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return content;
}

std::string randomBytes(std::size_t n)
{
    std::mt19937 random(7);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(random() & 0xFF);
    return s;
}

const std::string kLine = "10 10 m 100 10 l S";

class EngineCommand : public ::testing::Test {
protected:
    TempDir dir;
    fs::path threePages() const { return dir.write("three.pdf", makePdf({{kLine}, {kLine}, {kLine}})); }
};

TEST_F(EngineCommand, InfoCountsPagesOrSaysWhyNot)
{
    struct Row {
        const char* name;
        std::string bytes;
        int exitCode;
        std::string out; // the reply, or the start of it
    };
    const std::string pdf = makePdf({{kLine}, {kLine}});
    const std::vector<Row> rows = {
        {"good", pdf, 0, "{\"pages\":2}\n"},
        {"owner password only", testing::encryptPdf(pdf, "", "owner"), 0, "{\"pages\":2}\n"},
        {"user password", testing::encryptPdf(pdf, "secret", "owner"), 3, "{\"error\":\"encrypted\",\"message\":\""},
        {"truncated", pdf.substr(0, pdf.find("2 0 obj")), 3, "{\"error\":\"damaged\",\"message\":\""},
        {"random bytes", randomBytes(5000), 3, "{\"error\":\"not-pdf\",\"message\":\""},
        {"empty", "", 3, "{\"error\":\"not-pdf\",\"message\":\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const EngineRun run = runEngine({"--info", dir.write("in.pdf", row.bytes).string()});
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.out.substr(0, row.out.size()), row.out);
        if (row.exitCode != 0) {
            EXPECT_GT(run.out.size(), row.out.size() + 20) << "a message a person understands";
        }
    }
}

TEST_F(EngineCommand, WritesOneDrawingPerChosenPage)
{
    const fs::path zip = dir.path() / "out.zip";
    EngineRun run = runEngine({threePages().string(), zip.string(), "--pages", " 3, 1 "});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(zipNames(zip), (std::vector<std::string>{"page-3.dxf", "page-1.dxf"}));
    EXPECT_NE(zipEntry(zip, "page-1.dxf").find("AC1014"), std::string::npos);

    run = runEngine({threePages().string(), zip.string(), "--dxf", "--version", "15"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(zipNames(zip), (std::vector<std::string>{"page-1.dxf", "page-2.dxf", "page-3.dxf"}));
    EXPECT_NE(zipEntry(zip, "page-2.dxf").find("AC1015"), std::string::npos);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"three.pdf", "out.zip"})) << "no temporary file stays behind";
}

TEST_F(EngineCommand, ReportsWhatItSkippedAsWarnings)
{
    const fs::path pdf = dir.write(
        "image.pdf", makePdf({{kLine}, {kLine + " q 9 0 0 9 0 0 cm BI /W 1 /H 1 /CS /G /BPC 8 ID \xff EI Q"}}));
    const fs::path zip = dir.path() / "out.zip";
    const EngineRun run = runEngine({pdf.string(), zip.string()});
    EXPECT_EQ(run.exitCode, 10);
    EXPECT_EQ(run.err, "warning: page 2: 1 raster image skipped (images are not converted)\n");
    EXPECT_EQ(zipNames(zip).size(), 2u);
}

TEST_F(EngineCommand, ExitCodesForWhatCannotBeDone)
{
    const fs::path zip = dir.path() / "out.zip";
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Row> rows = {
        {"no arguments", {}, 2},
        {"unknown version", {threePages().string(), zip.string(), "--version", "99"}, 2},
        {"page beyond the document", {threePages().string(), zip.string(), "--pages", "2-4"}, 2},
        {"random bytes", {dir.write("noise.pdf", randomBytes(3000)).string(), zip.string()}, 3},
        {"missing input", {(dir.path() / "missing.pdf").string(), zip.string()}, 3},
        {"unwritable output", {threePages().string(), (dir.path() / "no" / "such" / "out.zip").string()}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const EngineRun run = runEngine(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
        EXPECT_FALSE(fs::exists(zip));
    }
    const EngineRun help = runEngine({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--pages LIST"), std::string::npos);
}

TEST_F(EngineCommand, NothingConvertedWhenNoPageCanBe)
{
    // The page tree counts a page it does not hold: the page cannot be loaded. An empty page converts.
    std::string pdf = makePdf({{kLine}});
    const auto kids = pdf.find("/Kids [") + 7;
    pdf.replace(kids, pdf.find(']', kids) - kids, "");
    const fs::path zip = dir.path() / "out.zip";
    EngineRun run = runEngine({dir.write("lost.pdf", pdf).string(), zip.string()});
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_EQ(run.err, "warning: page 1: not converted: the page could not be read; the PDF may be damaged\n"
                       "error: no page could be converted\n");
    EXPECT_FALSE(fs::exists(zip));

    run = runEngine({dir.write("empty.pdf", makePdf({{""}})).string(), zip.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(zipNames(zip), (std::vector<std::string>{"page-1.dxf"}));
}

TEST_F(EngineCommand, DwgWhenItsWriterIsBuilt)
{
    const fs::path zip = dir.path() / "out.zip";
    const EngineRun run = runEngine({threePages().string(), zip.string(), "--dwg", "--pages", "2"});
#ifdef UNPLOT_HAVE_DWG
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(zipNames(zip), (std::vector<std::string>{"page-2.dwg"}));
#else
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("DWG"), std::string::npos);
#endif
}

// Every file of the shared corpus converts, or --info refuses it with a reason.
TEST_F(EngineCommand, CorpusConvertsOrIsRefusedClearly)
{
    const fs::path corpus = UNPLOT_CORPUS_DIR;
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".pdf")
            continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        const EngineRun info = runEngine({"--info", entry.path().string()});
        if (info.exitCode == 3) {
            EXPECT_TRUE(info.out.rfind("{\"error\":\"not-pdf\"", 0) == 0 ||
                        info.out.rfind("{\"error\":\"damaged\"", 0) == 0 ||
                        info.out.rfind("{\"error\":\"encrypted\"", 0) == 0)
                << info.out;
            const EngineRun convert = runEngine({entry.path().string(), (dir.path() / "refused.zip").string()});
            EXPECT_EQ(convert.exitCode, 3) << convert.err;
            continue;
        }
        ASSERT_EQ(info.exitCode, 0) << info.out << info.err;
        const int pages = std::stoi(info.out.substr(info.out.find(':') + 1));
        const fs::path zip = dir.path() / "out.zip";
        const EngineRun convert = runEngine({entry.path().string(), zip.string()});
        EXPECT_TRUE(convert.exitCode == 0 || convert.exitCode == 10) << convert.exitCode << ": " << convert.err;
        const auto names = zipNames(zip);
        ASSERT_EQ(names.size(), std::size_t(pages));
        for (int p = 1; p <= pages; ++p)
            EXPECT_EQ(names[std::size_t(p - 1)], "page-" + std::to_string(p) + ".dxf");
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace unplot::engine
