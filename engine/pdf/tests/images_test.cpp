// Raster images of generated PDFs: where each lands (corners to 0.001 pt), which file it gets and what that holds.

#include "pdfreader.h"
#include "testpdf.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace unplot::engine {
namespace {

using namespace std::string_literals;
using testing::TestImage;
using testing::TestPage;

std::string deflated(const std::string& data)
{
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()));
    out.resize(size);
    return out;
}

// An 8 x 8 grey JPEG, a ramp from black on the left.
const std::string kJpeg(
    "\xff\xd8\xff\xe0\x00\x10\x4a\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xdb\x00\x43\x00\x03\x02\x02"s
    "\x03\x02\x02\x03\x03\x03\x03\x04\x03\x03\x04\x05\x08\x05\x05\x04\x04\x05\x0a\x07\x07\x06\x08\x0c\x0a\x0c\x0c\x0b"
    "\x0a\x0b\x0b\x0d\x0e\x12\x10\x0d\x0e\x11\x0e\x0b\x0b\x10\x16\x10\x11\x13\x14\x15\x15\x15\x0c\x0f\x17\x18\x16\x14"
    "\x18\x12\x14\x15\x14\xff\xc0\x00\x0b\x08\x00\x08\x00\x08\x01\x01\x11\x00\xff\xc4\x00\x14\x00\x01\x00\x00\x00\x00"s
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x06\xff\xc4\x00\x17\x10\x00\x03\x01\x00\x00\x00\x00\x00\x00\x00\x00"s
    "\x00\x00\x00\x00\x00\x00\x09\x45\x82\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00\x28\xb6\xe5\xe4\xff\xd9"s);

const std::string kRgb = "/Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8";
const std::string kPlace = "q 200 0 0 100 50 60 cm ";
const std::string kCorners = "2x1 50,60 250,60 50,160";

struct Row {
    const char* name;
    TestPage page;
    std::string expected; // a pattern for testing::describe
};
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

TestPage withImages(const std::string& content, std::vector<TestImage> images)
{
    return {content, 595, 842, {}, 0, {}, std::move(images)};
}

const Row kRows[] = {
    {"rgb", {kPlace + "BI /W 2 /H 1 /CS /RGB /BPC 8 ID \xff\x00\x00\x00\x00\xff EI Q"s},
     "image page-1-image-1.png:8/2 " + kCorners + ""},
    {"grey", {kPlace + "BI /W 2 /H 1 /CS /G /BPC 8 ID \x10\xf0 EI Q"}, "image page-1-image-1.png:8/0 " + kCorners + ""},
    {"one_bit", {kPlace + "BI /W 2 /H 1 /CS /G /BPC 1 ID \x80 EI Q"}, "image page-1-image-1.png:1/0 " + kCorners + ""},
    {"one_bit_decoded_inverted", {kPlace + "BI /W 2 /H 1 /CS /G /BPC 1 /D [1 0] ID \x80 EI Q"},
     "image page-1-image-1.png:1/0 " + kCorners + ""},
    {"cmyk", {kPlace + "BI /W 2 /H 1 /CS /CMYK /BPC 8 ID \xff\x00\x00\x00\x00\x00\x00\xff EI Q"s},
     "image page-1-image-1.png:8/2 " + kCorners + ""},
    {"indexed", {kPlace + "BI /W 2 /H 1 /CS [/I /RGB 1 <ff000000ff00>] /BPC 8 ID \x00\x01 EI Q"s},
     "image page-1-image-1.png:8/2 " + kCorners + ""},
    {"colour_key", {kPlace + "BI /W 2 /H 1 /CS [/I /RGB 1 <ff000000ff00>] /BPC 8 /Mask [1 1] ID \x00\x01 EI Q"s},
     "image page-1-image-1.png:8/6 " + kCorners + " alpha"},
    {"all_masked_out", {kPlace + "BI /W 2 /H 1 /CS [/I /RGB 1 <ff000000ff00>] /BPC 8 /Mask [0 1] ID \x00\x01 EI Q"s},
     "nothing"},
    {"stencil_in_fill_colour", {"0 0 1 rg " + kPlace + "BI /W 2 /H 1 /IM true ID \x40 EI Q"},
     "image page-1-image-1.png:1/3 " + kCorners + " alpha"},
    {"soft_mask", withImages(kPlace + "/Im1 Do Q", {{kRgb + " /SMask @Im2", "\xff\x00\x00\x00\x00\xff"s},
                                                    {"/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                                     "\xff\x80"}}),
     "image page-1-image-1.png:8/6 " + kCorners + " alpha"},
    {"mask", withImages(kPlace + "/Im1 Do Q", {{kRgb + " /Mask @Im2", "\xff\x00\x00\x00\x00\xff"s},
                                               {"/Width 2 /Height 1 /ImageMask true", "\x40"}}),
     "image page-1-image-1.png:8/6 " + kCorners + " alpha"},
    {"flate", withImages(kPlace + "/Im1 Do Q", {{kRgb + " /Filter /FlateDecode", deflated("\xff\x00\x00\x00\x00\xff"s)}}),
     "image page-1-image-1.png:8/2 " + kCorners + ""},
    {"jpeg_kept", withImages(kPlace + "/Im1 Do Q", {{"/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                                                     "/Filter /DCTDecode",
                                                     kJpeg}}),
     "image page-1-image-1.jpg 8x8 50,60 250,60 50,160"},
    {"rotated", {"q 0 200 -100 0 300 60 cm BI /W 2 /H 1 /CS /G /BPC 8 ID \x10\xf0 EI Q"},
     "image page-1-image-1.png:8/0 2x1 300,60 300,260 200,60"},
    {"mirrored_rows_turned", {"q 200 0 0 -100 50 160 cm BI /W 2 /H 2 /CS /G /BPC 8 ID \x10\xf0\x10\x10 EI Q"},
     "image page-1-image-1.png:8/0 2x2 50,60 250,60 50,160"},
    {"skewed_nearest_rectangle", {"q 200 0 50 100 50 60 cm BI /W 2 /H 1 /CS /G /BPC 8 ID \x10\xf0 EI Q"},
     "image page-1-image-1.png:8/0 2x1 75,60 275,60 75,160 warning=1 skewed raster image placed as the "
     "nearest rectangle *"},
    {"drawn_twice_one_file",
     withImages(kPlace + "/Im1 Do Q q 100 0 0 50 300 300 cm /Im2 Do Q q 10 0 0 10 0 0 cm /Im1 Do Q",
                {{kRgb, "\xff\x00\x00\x00\x00\xff"s}, {kRgb, "\xff\x00\x00\x00\x00\xff"s}}),
     "image page-1-image-1.png:8/2 " + kCorners + "; image page-1-image-1.png:8/2 2x1 300,300 400,300 300,350; "
     "image page-1-image-1.png:8/2 2x1 0,0 10,0 0,10"},
    {"inside_its_clip_unclipped", {"0 0 595 842 re W n " + kPlace + "BI /W 2 /H 1 /CS /G /BPC 8 ID \x10\xf0 EI Q"},
     "image page-1-image-1.png:8/0 " + kCorners},
    {"axial_shading_in_a_triangle", {"50 60 m 250 60 l 50 160 l h W n /Sh1 sh"},
     "image page-1-image-1.png:8/2 69x140 49.68,59.36 99.36,59.36 49.68,160.16 clip 50,60 250,60 50,160"},
    {"radial_shading_its_disc", {"/Sh2 sh"},
     "image page-1-image-1.png:8/6 139x139 249.84,349.52 349.92,349.52 249.84,449.6 alpha"},
    {"pattern_fill_an_image_of_its_area", {"/Pattern cs /P1 scn 50 60 200 100 re f 0 0 m 10 0 l S"},
     "image page-1-image-1.png:8/6 279x140 49.68,59.36 250.56,59.36 49.68,160.16 alpha clip 50,60 250,60 250,160 "
     "50,160; line 0,0 10,0 w1"},
    {"pattern_stroke_skipped", {"/Pattern CS /P1 SCN 50 60 m 250 60 l S"}, "nothing warning=1 pattern fill skipped"},
    {"clipped_by_a_rectangle", {"50 60 100 50 re W n " + kPlace + "BI /W 2 /H 1 /CS /G /BPC 8 ID \x10\xf0 EI Q"},
     "image page-1-image-1.png:8/0 " + kCorners + " clip 50,60 150,60 150,110 50,110"},
    {"corrupt_stream_skipped_rest_kept",
     withImages(kPlace + "/Im1 Do Q 0 0 m 10 0 l S", {{kRgb + " /Filter /FlateDecode", "not deflated data"}}),
     "line 0,0 10,0 w1 warning=1 raster image skipped: its data cannot be decoded *"},
    {"over_200_megapixels_halved",
     withImages(kPlace + "/Im1 Do Q", {{"/Width 16384 /Height 12300 /ColorSpace /DeviceGray /BitsPerComponent 1 "
                                        "/Filter /FlateDecode",
                                        deflated(std::string(16384 / 8 * 12300, '\0'))}}),
     "image page-1-image-1.png:1/0 8192x6150 50,60 250,60 50,160 warning=1 raster image of more than 200 "
     "megapixels converted at a lower resolution"},
};

class PdfImages : public ::testing::TestWithParam<Row> {};

TEST_P(PdfImages, Page)
{
    PdfReader reader(testing::makePdf({GetParam().page}), 0);
    EXPECT_PRED2(testing::like, GetParam().expected, testing::describe(reader.readPage(1)));
}

INSTANTIATE_TEST_SUITE_P(Rows, PdfImages, ::testing::ValuesIn(kRows),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace unplot::engine
