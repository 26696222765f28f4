// A page of images converted in every version, unpacked and read back: ezdxf audits the DXF and finds each IMAGE's
// file beside it, the files hold the pixels MuPDF decodes, the page drawn again looks like MuPDF's drawing of the PDF,
// and LibreDWG reads each DWG with the images of the DXF.

#include "enginecommand.h"
#include "readback.h"
#include "testpdf.h"
#include "zipmembers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace unplot::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// The members of a zip archive written into `folder`; their names in order.
std::vector<std::string> unzip(const fs::path& zip, const fs::path& folder)
{
    std::vector<std::string> names;
    for (const ZipMember& m : readZip(zip).value_or(std::vector<ZipMember>{})) {
        names.push_back(m.name);
        std::ofstream(folder / m.name, std::ios::binary) << m.content;
    }
    return names;
}

// replot.py's JSON answer.
nlohmann::json replot(const std::vector<std::string>& arguments)
{
    std::string command = UNPLOT_SYSTEM_PYTHON " " UNPLOT_REPLOT;
    for (const auto& a : arguments)
        command += " '" + a + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
            out.append(buffer.data(), n);
        ::pclose(pipe);
    }
    return nlohmann::json::parse(out, nullptr, false);
}

const std::string kRgb = "/Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8";
const std::string kRgbPixels = "\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\x00"s;

// Images of each kind on a page, one of them drawn twice, one turned, one clipped to a triangle; a pattern fill.
std::string imagesPdf()
{
    std::string grey;
    for (int i = 0; i < 64; ++i)
        grey += char(i * 4);
    const std::vector<testing::TestImage> images = {
        {kRgb, kRgbPixels},
        {"/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8", grey},
        {"/Width 16 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 1", "\xf0\x0f"},
        {"/Width 2 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8", "\x00\xff\x00\x00\x00\x00\x80\x00"s},
        {"/Width 2 /Height 2 /ColorSpace [/Indexed /DeviceRGB 1 <ffff0000ffff>] /BitsPerComponent 8",
         "\x00\x01\x01\x00"s},
        {kRgb + " /SMask @Im7", kRgbPixels},
        {"/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", "\xff\x40\x80\x00"s},
    };
    std::string content;
    for (int i = 1; i <= 6; ++i)
        content += "q 100 0 0 80 " + std::to_string(40 + (i - 1) % 3 * 180) + " " + std::to_string(500 + (i - 1) / 3 * 160) +
                   " cm /Im" + std::to_string(i) + " Do Q ";
    content += "q 0 120 -90 0 200 100 cm /Im1 Do Q "; // turned, and drawn a second time
    content += "q 300 100 m 400 100 l 300 200 l h W n 100 0 0 100 300 100 cm /Im2 Do Q "; // clipped to a triangle
    content += "/Pattern cs /P1 scn 450 100 100 50 re f";
    return testing::makePdf({{content, 595, 842, {}, 0, {}, images}});
}

TEST(EngineImages, EveryVersionReadsBackWithItsImages)
{
    if (const std::string missing = test::readerMissing("ezdxf"); !missing.empty())
        GTEST_SKIP() << missing;
    test::TempDir dir;
    const fs::path pdf = dir.save("images.pdf", imagesPdf());
    for (const std::string version : {"14", "15", "18", "21", "23"}) {
        SCOPED_TRACE("version " + version);
        const fs::path folder = dir.path() / ("dxf" + version), zip = dir.path() / "out.zip";
        fs::create_directory(folder);
        std::ostringstream out, err;
        EXPECT_EQ(runEngineCommand({pdf.string(), zip.string(), "--dxf", "--version", version}, out, err), 0)
            << err.str();
        const std::vector<std::string> names = unzip(zip, folder);
        std::string listing;
        for (const auto& name : names)
            listing += name + " ";
        EXPECT_EQ(listing, "page-1.dxf page-1-image-1.png page-1-image-2.png page-1-image-3.png page-1-image-4.png "
                           "page-1-image-5.png page-1-image-6.png page-1-image-7.png ");
        const nlohmann::json report = test::auditDxf({folder / "page-1.dxf"});
        const nlohmann::json& audit = report[(folder / "page-1.dxf").string()];
        EXPECT_EQ(audit["problems"], nlohmann::json::array());
        ASSERT_EQ(audit["images"].size(), 9u);
        for (const auto& image : audit["images"]) {
            EXPECT_TRUE(fs::exists(folder / image["file"].get<std::string>())) << image;
            EXPECT_EQ(image["size"], image["imageSize"]);
        }
        // The turned image's corners (the unit square through its matrix, in mm), to 0.01 mm.
        const auto corners = audit["images"][6]["corners"];
        const double mm = 25.4 / 72;
        const double expected[4][2] = {{110 * mm, 100 * mm}, {200 * mm, 100 * mm}, {200 * mm, 220 * mm}, {110 * mm, 220 * mm}};
        for (int i = 0; i < 4; ++i) // the boundary runs from the upper left; in any order of the four corners
            EXPECT_TRUE(std::any_of(corners.begin(), corners.end(), [&](const auto& c) {
                return std::abs(c[0].template get<double>() - expected[i][0]) < 0.01 &&
                       std::abs(c[1].template get<double>() - expected[i][1]) < 0.01;
            })) << corners;
        // The DWG holds the same images: LibreDWG's DXF of it matches ours, the files' paths included.
        if (!test::readerMissing("libredwg").empty())
            continue;
        const fs::path dwgFolder = dir.path() / ("dwg" + version), theirs = dwgFolder / "theirs.dxf";
        fs::create_directory(dwgFolder);
        EXPECT_EQ(runEngineCommand({pdf.string(), zip.string(), "--dwg", "--version", version}, out, err), 0)
            << err.str();
        EXPECT_EQ(unzip(zip, dwgFolder).size(), names.size());
        const nlohmann::json dwg = test::readDwg(dwgFolder / "page-1.dwg", "libredwg", theirs);
        EXPECT_LT(dwg["error"].get<int>(), 0x80) << dwg;
        EXPECT_EQ(dwg["modelSpace"], nlohmann::json({{"IMAGE", 9}})) << dwg;
        EXPECT_EQ(test::compareDxf(folder / "page-1.dxf", theirs), "");
    }
    const fs::path dxf = dir.path() / "dxf23" / "page-1.dxf";
    const nlohmann::json pixels = replot({"pixels", pdf.string(), dxf.string()});
    EXPECT_EQ(pixels.size(), 7u) << pixels;
    for (const auto& [file, verdict] : pixels.items()) // image 7, the pattern fill's rendering, is none of the PDF's
        EXPECT_TRUE(verdict == "same" || file.find("image-7") != std::string::npos) << file << ": " << verdict;
    // The page drawn again from the DXF and its files, against MuPDF's drawing of the PDF, at 50 dpi.
    const nlohmann::json render = replot({"compare", pdf.string(), "1", dxf.string()});
    std::cout << "render check at 50 dpi: " << render << "\n";
    EXPECT_LE(render["mean"].get<double>(), 2.0) << render;
    EXPECT_LE(render["far"].get<double>(), 0.01) << render;
}

} // namespace
} // namespace unplot::engine
