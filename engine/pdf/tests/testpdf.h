#pragma once
// PDF files for tests, written as literal PDF text with a correct cross-reference table, from content streams the
// tests spell out. Fonts F1 (Helvetica) and F2 (Times-Roman), both WinAnsi-encoded, F3 (a Type 3 font of
// two square glyphs, A and B),, the shading Sh1 and the optional-content groups
// oc1, oc2, ... are available to every page's content.

#include <filesystem>
#include <string>
#include <vector>

namespace unplot::engine::testing {

struct TestPage {
    TestPage(std::string content_ = {}, double width_ = 595, double height_ = 842, std::vector<double> cropBox_ = {},
             int rotate_ = 0)
        : content(std::move(content_)), width(width_), height(height_), cropBox(std::move(cropBox_)), rotate(rotate_)
    {}
    std::string content;
    double width; // MediaBox [0 0 width height]
    double height;
    std::vector<double> cropBox; // x0 y0 x1 y1, or empty
    int rotate;
};

struct TestLayer {
    std::string name;
    bool on = true;
};

std::string makePdf(const std::vector<TestPage>& pages, const std::vector<TestLayer>& layers = {});

// A copy of a PDF encrypted with AES-256 by MuPDF; `userPassword` empty gives a file that opens without one.
std::string encryptPdf(const std::string& pdf, const std::string& userPassword, const std::string& ownerPassword);

// A folder of its own under the system's temporary folder, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes `content` to a file in the folder and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

// Millimetres for PDF points.
constexpr double mm(double pt)
{
    return pt * 25.4 / 72.0;
}

} // namespace unplot::engine::testing
