#include "testpdf.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace unplot::engine::testing {
namespace {

std::string number(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

} // namespace

std::string makePdf(const std::vector<TestPage>& pages, const std::vector<TestLayer>& layers)
{
    std::vector<std::string> objects; // objects[i] is object i + 1
    auto reserve = [&] {
        objects.emplace_back();
        return int(objects.size());
    };
    const int catalog = reserve();
    const int pageTree = reserve();
    const int helvetica = reserve();
    objects[std::size_t(helvetica - 1)] =
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    const int times = reserve();
    objects[std::size_t(times - 1)] =
        "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>";
    // A Type 3 font whose glyphs A and B are squares, 0.75 em wide.
    const int square = reserve();
    const std::string squareProc = "750 0 0 0 750 750 d1 0 0 750 750 re f";
    objects[std::size_t(square - 1)] =
        "<< /Length " + std::to_string(squareProc.size()) + " >>\nstream\n" + squareProc + "\nendstream";
    const int type3 = reserve();
    objects[std::size_t(type3 - 1)] =
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.001 0 0 0.001 0 0] /CharProcs << /A " +
        std::to_string(square) + " 0 R /B " + std::to_string(square) +
        " 0 R >> /Encoding << /Type /Encoding /Differences [65 /A /B] >> /FirstChar 65 /LastChar 66 "
        "/Widths [750 750] /Resources << >> >>";
    const int shading = reserve();
    objects[std::size_t(shading - 1)] =
        "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function << /FunctionType 2 "
        "/Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> >>";
    std::vector<int> ocgs;
    std::string properties, ocgList, offList;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const int ocg = reserve();
        objects[std::size_t(ocg - 1)] = "<< /Type /OCG /Name (" + layers[i].name + ") >>";
        properties += "/oc" + std::to_string(i + 1) + " " + std::to_string(ocg) + " 0 R ";
        ocgList += std::to_string(ocg) + " 0 R ";
        if (!layers[i].on)
            offList += std::to_string(ocg) + " 0 R ";
    }
    const std::string resources = "<< /Font << /F1 " + std::to_string(helvetica) + " 0 R /F2 " + std::to_string(times) +
                                  " 0 R /F3 " + std::to_string(type3) + " 0 R >> /Shading << /Sh1 " +
                                  std::to_string(shading) + " 0 R >> /Properties << " + properties + ">> >>";
    std::string kids;
    for (const auto& page : pages) {
        const int contents = reserve();
        objects[std::size_t(contents - 1)] =
            "<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" + page.content + "\nendstream";
        const int pageObject = reserve();
        std::string dict = "<< /Type /Page /Parent " + std::to_string(pageTree) + " 0 R /MediaBox [0 0 " +
                           number(page.width) + " " + number(page.height) + "] /Resources " + resources +
                           " /Contents " + std::to_string(contents) + " 0 R";
        if (page.cropBox.size() == 4)
            dict += " /CropBox [" + number(page.cropBox[0]) + " " + number(page.cropBox[1]) + " " +
                    number(page.cropBox[2]) + " " + number(page.cropBox[3]) + "]";
        if (page.rotate != 0)
            dict += " /Rotate " + std::to_string(page.rotate);
        objects[std::size_t(pageObject - 1)] = dict + " >>";
        kids += std::to_string(pageObject) + " 0 R ";
    }
    objects[std::size_t(pageTree - 1)] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    std::string root = "<< /Type /Catalog /Pages " + std::to_string(pageTree) + " 0 R";
    if (!layers.empty())
        root += " /OCProperties << /OCGs [" + ocgList + "] /D << /Order [" + ocgList + "] /OFF [" + offList + "] >> >>";
    objects[std::size_t(catalog - 1)] = root + " >>";

    std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " + std::to_string(catalog) +
           " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string encryptPdf(const std::string& pdf, const std::string& userPassword, const std::string& ownerPassword)
{
    TempDir dir;
    const auto in = dir.write("plain.pdf", pdf);
    const auto out = dir.path() / "encrypted.pdf";
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (!ctx)
        throw std::runtime_error("no MuPDF context");
    pdf_document* doc = nullptr;
    bool ok = true;
    fz_var(doc);
    fz_var(ok);
    fz_try(ctx)
    {
        doc = pdf_open_document(ctx, in.c_str());
        pdf_write_options options{};
        options.do_encrypt = PDF_ENCRYPT_AES_256;
        options.permissions = -4;
        fz_strlcpy(options.upwd_utf8, userPassword.c_str(), sizeof options.upwd_utf8);
        fz_strlcpy(options.opwd_utf8, ownerPassword.c_str(), sizeof options.opwd_utf8);
        pdf_save_document(ctx, doc, out.c_str(), &options);
    }
    fz_always(ctx)
    {
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    fz_drop_context(ctx);
    if (!ok)
        throw std::runtime_error("MuPDF could not encrypt the test PDF");
    std::ifstream file(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "unplot-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& content) const
{
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
    return file;
}

} // namespace unplot::engine::testing
