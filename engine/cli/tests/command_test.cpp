// unplot-engine as the service runs it: --info, conversions, exit codes, messages and the archive.

#include "enginecommand.h"
#include "testpdf.h"
#include "zipmembers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace unplot::engine {
namespace {

namespace fs = std::filesystem;
using testing::like;
using testing::makePdf;

struct EngineRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

EngineRun runEngine(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int code = runEngineCommand(args, out, err);
    return {code, out.str(), err.str()};
}

// The archive's members as "name VERSION" (the AC10xx code of the drawing) and their mode where it is not 0644, one
// line each, and the text of README.txt; "none" without archive.
std::string describeZip(const fs::path& zip)
{
    const auto members = readZip(zip);
    if (!members)
        return fs::exists(zip) ? "not a zip archive" : "none";
    std::string s;
    for (const ZipMember& m : *members) {
        const auto version = m.content.find("AC10");
        s += m.name + (version == std::string::npos ? "" : " " + m.content.substr(version, 6));
        if (m.system != ZIP_OPSYS_UNIX || m.attributes >> 16 != 0100644)
            s += " mode " + std::to_string(m.system) + ":" + std::to_string(m.attributes >> 16);
        s += (s.ends_with("README.txt") ? ": " + m.content : "\n");
    }
    return s;
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
    testing::TempDir dir;
    // Arguments naming a .pdf or .zip become paths in `dir`.
    EngineRun run(std::vector<std::string> args) const
    {
        for (auto& a : args)
            if (a.ends_with(".pdf") || a.ends_with(".zip"))
                a = (dir.path() / a).string();
        return runEngine(args);
    }
};

TEST_F(EngineCommand, InfoCountsPagesOrSaysWhyNot)
{
    const std::string pdf = makePdf({{kLine}, {kLine}});
    const struct {
        const char* name;
        std::string bytes;
        int exitCode;
        std::string out; // a pattern
    } rows[] = {
        {"good", pdf, 0, "{\"pages\":2}\n"},
        {"owner password only", testing::encryptPdf(pdf, "", "owner"), 0, "{\"pages\":2}\n"},
        {"user password", testing::encryptPdf(pdf, "secret", "owner"), 3,
         "{\"error\":\"encrypted\",\"message\":\"The PDF is protected by a password.*\"}\n"},
        {"pages cut off", pdf.substr(0, pdf.find("3 0 obj")), 3,
         "{\"error\":\"damaged\",\"message\":\"The PDF is damaged: none of its pages is in the file*\"}\n"},
        {"cut before its page tree", pdf.substr(0, pdf.find("2 0 obj")), 3,
         "{\"error\":\"damaged\",\"message\":\"The PDF * damaged*\"}\n"},
        {"header and garbage", "%PDF-1.7\n" + std::string(2000, 'x'), 3, "{\"error\":\"damaged\",*"},
        {"random bytes", randomBytes(5000), 3, "{\"error\":\"not-pdf\",\"message\":\"The file is not a PDF*\"}\n"},
        {"zip archive", "PK\x03\x04 a zip archive", 3, "{\"error\":\"not-pdf\",*"},
        {"empty", "", 3, "{\"error\":\"not-pdf\",*"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const EngineRun r = runEngine({"--info", dir.write("in.pdf", row.bytes).string()});
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_PRED2(like, row.out, r.out);
    }
    EXPECT_PRED2(like, "{\"error\":\"not-pdf\",\"message\":\"The file cannot be opened: No such file*",
                 run({"--info", "missing.pdf"}).out);
}

TEST_F(EngineCommand, ConvertsChosenPagesOrSaysWhyNot)
{
    dir.write("three.pdf", makePdf({{kLine}, {kLine}, {kLine}}));
    dir.write("noise.pdf", randomBytes(3000));
    dir.write("image.pdf",
              makePdf({{kLine},
                       {kLine + " q 9 0 0 9 0 0 cm BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI Q q 9 0 0 9 0 9 cm /Im1 Do Q",
                        595, 842, {}, 0, {},
                        {{"/Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode",
                          "not a JPEG"}}}}));
    dir.write("empty.pdf", makePdf({{""}}));
    const std::string three = makePdf({{kLine}, {kLine}, {kLine}});
    dir.write("cut.pdf", three.substr(0, three.find("12 0 obj"))); // after the first page
    std::string million = makePdf({{kLine}});
    dir.write("million.pdf", million.replace(million.find("/Count 1"), 8, "/Count 1000000"));
    const std::string usage = "error: * (see unplot-engine --help)\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string err; // a pattern
        std::string zip; // as describeZip gives it
    } rows[] = {
        {{"three.pdf", "out.zip"}, 0, "", "page-1.dxf AC1014\npage-2.dxf AC1014\npage-3.dxf AC1014\n"},
        {{"three.pdf", "--pages", " 3, 1 ", "out.zip"}, 0, "", "page-3.dxf AC1014\npage-1.dxf AC1014\n"},
        {{"--dxf", "three.pdf", "out.zip", "--version", "2004", "--pages=2"}, 0, "", "page-2.dxf AC1018\n"},
        {{"three.pdf", "out.zip", "--version=23", "--pages", "-1", "--dxf", "--threads", "2"},
         0,
         "",
         "page-1.dxf AC1024\n*"},
        {{"three.pdf", "out.zip", "--dwg", "--pages", "2", "--version", "15"}, 0, "", "page-2.dwg AC1015\n"},
        {{"three.pdf", "out.zip", "--skip", "arcs,join", "--keep-strokes", "--pages=1"}, 0, "", "page-1.dxf AC1014\n"},
        {{"three.pdf", "out.zip", "--skip=all", "--pages=1"}, 0, "", "page-1.dxf AC1014\n"},
        {{"empty.pdf", "out.zip"}, 0, "", "page-1.dxf AC1014\n"},
        {{"image.pdf", "out.zip"},
         10,
         "warning: page 2: 1 raster image skipped: its data cannot be decoded (*)\n*",
         "page-1.dxf AC1014\npage-2.dxf AC1014\npage-2-image-1.png\nREADME.txt: These drawings were converted from a "
         "PDF by unplot, but not everything in it could be converted.\n*\n\npage 2: 1 raster image skipped: its data "
         "cannot be decoded (*)\n*"},
        {{"image.pdf", "out.zip", "--pages", "1"}, 0, "", "page-1.dxf AC1014\n"},
        {{"cut.pdf", "out.zip"},
         10,
         "warning: page 2: not converted: the page is missing from the file; the PDF may have been cut short\n"
         "warning: page 3: not converted: *\n",
         "page-1.dxf AC1014\nREADME.txt: *\n\npage 2: not converted: the page is missing from the file; *\n"
         "page 3: not converted: *\n"},
        {{"cut.pdf", "out.zip", "--pages", "2-3"},
         4,
         "warning: page 2: not converted: *\nwarning: page 3: not converted: *\nerror: no page could be converted\n",
         "none"},
        {{"million.pdf", "out.zip"},
         1,
         "error: the PDF has 1000000 pages; one conversion takes 10000 at most: *\n",
         "none"},
        {{"million.pdf", "out.zip", "--pages", "1"}, 0, "", "page-1.dxf AC1014\n"},
        {{"noise.pdf", "out.zip"}, 3, "error: *noise.pdf: The file is not a PDF document.\n", "none"},
        {{"missing.pdf", "out.zip"}, 3, "error: *missing.pdf: The file cannot be opened: *\n", "none"},
        {{"three.pdf", "no/such/out.zip"}, 1, "error: cannot * */no/such/out.zip: *\n", "none"},
        {{"three.pdf", "out.zip", "--pages", "2-4"}, 2, "error: *4*\n", "none"},
        {{}, 2, usage, "none"},
        {{"three.pdf"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "extra"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--version", "13"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--version"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--pages", "3-1"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--pages", "one"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--dxf", "--dwg"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--scale", "2"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--threads", "0"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--skip", "arcs,nosuch"}, 2, usage, "none"},
        {{"three.pdf", "out.zip", "--threads", "2x"}, 2, usage, "none"},
        {{"--info"}, 2, usage, "none"},
        {{"--info", "three.pdf", "noise.pdf"}, 2, usage, "none"},
    };
    for (const auto& row : rows) {
        std::string line;
        for (const auto& a : row.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const EngineRun r = run(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_PRED2(like, row.err, r.err);
        EXPECT_PRED2(like, row.zip, describeZip(dir.path() / "out.zip"));
        fs::remove(dir.path() / "out.zip");
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_TRUE(entry.path().extension() == ".pdf") << entry.path() << " stays behind";
    }
    const EngineRun help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_PRED2(like, "Usage: unplot-engine INPUT.pdf OUTPUT.zip *--pages LIST*", help.out);
    EXPECT_PRED2(like, "unplot-engine *", run({"--version"}).out);
}

// Pages converted on several threads give the very archive one thread gives, in DXF and in DWG.
TEST_F(EngineCommand, TheArchiveIsTheSameWhateverTheThreads)
{
    std::vector<testing::TestPage> pages;
    for (int i = 1; i <= 7; ++i)
        pages.push_back({"BT /F1 12 Tf 100 100 Td (Page " + std::to_string(i) + ") Tj ET " + std::to_string(i * 10) +
                         " 10 m 300 400 l S" +
                         (i % 3 ? "" : " q 9 0 0 9 0 0 cm BI /W 1 /H 1 /CS /G /BPC 8 ID \xff EI Q")});
    dir.write("in.pdf", makePdf(pages));
    for (const char* format : {"--dxf", "--dwg"}) {
        std::string archives[2];
        for (const int threads : {1, 3}) {
            const EngineRun r =
                run({"in.pdf", "out.zip", format, "--version", "21", "--threads", std::to_string(threads)});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            std::ifstream in(dir.path() / "out.zip", std::ios::binary);
            archives[threads / 3].assign(std::istreambuf_iterator<char>(in), {});
        }
        EXPECT_GT(archives[0].size(), 7000u) << format;
        EXPECT_TRUE(archives[0] == archives[1]) << format; // a DWG is dated like the PDF, not by the clock
    }
}

// Every file of the shared corpus converts (an owner password alone does not stop it), but the broken one, which
// --info and the conversion refuse with a reason.
TEST_F(EngineCommand, CorpusConvertsOrIsRefusedClearly)
{
    const fs::path corpus = UNPLOT_CORPUS_DIR;
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".pdf")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const EngineRun info = runEngine({"--info", entry.path().string()});
        const fs::path zip = dir.path() / "out.zip";
        const EngineRun convert = runEngine({entry.path().string(), zip.string()});
        if (entry.path().filename().string().starts_with("broken-")) {
            EXPECT_PRED2(like, "{\"error\":\"damaged\",\"message\":\"*\"}\n", info.out);
            EXPECT_EQ(convert.exitCode, 3) << convert.err;
            continue;
        }
        ASSERT_EQ(info.exitCode, 0) << info.out << info.err;
        EXPECT_TRUE(convert.exitCode == 0 || convert.exitCode == 10) << convert.exitCode << ": " << convert.err;
        std::string names; // each drawing, its images after it
        for (int p = 1, pages = std::stoi(info.out.substr(9)); p <= pages; ++p)
            names += "page-" + std::to_string(p) + ".dxf AC1014\n*";
        EXPECT_PRED2(like, names + (convert.exitCode == 10 ? "README.txt: *" : ""), describeZip(zip));
    }
}

} // namespace
} // namespace unplot::engine
