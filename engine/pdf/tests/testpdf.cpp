#include "testpdf.h"

#include <mupdf/fitz.h>
#include <mupdf/ucdn.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <fnmatch.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace unplot::engine::testing {
namespace {

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::abs(v) < 0.0005 ? 0.0 : v);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Millimetres in points.
std::string pt(double mm)
{
    return number(mm * 72 / 25.4);
}

std::string pt(Vec2 p)
{
    return pt(p.x) + "," + pt(p.y);
}

std::string points(const std::vector<Vec2>& list)
{
    std::string s;
    for (const Vec2& p : list)
        s += " " + pt(p);
    return s;
}

struct Describe {
    std::string operator()(const Line& l) const { return "line " + pt(l.a) + " " + pt(l.b); }
    std::string operator()(const Polyline& p) const { return "poly" + points(p.points) + (p.closed ? " closed" : ""); }
    std::string operator()(const BezierSpline& s) const
    {
        return "spline" + points(s.points) + (s.closed ? " closed" : "");
    }
    std::string operator()(const Circle& c) const { return "circle " + pt(c.center) + " " + pt(c.radius); }
    std::string operator()(const Arc& a) const
    {
        return "arc " + pt(a.center) + " " + pt(a.radius) + " " + number(a.startAngleDeg) + ">" + number(a.endAngleDeg);
    }
    std::string operator()(const Ellipse& e) const { return "ellipse " + pt(e.center); }
    std::string operator()(const Text& t) const
    {
        return "text \"" + t.utf8 + "\" " + pt(t.insertion) + " h" + pt(t.height) + " r" + number(t.rotationDeg) +
               " x" + number(t.widthFactor) + " " + t.style;
    }
    std::string operator()(const Hatch& h) const
    {
        std::string s = h.evenOdd ? "fill evenodd " : "fill ";
        for (const Loop& loop : h.loops) {
            s += "(" + pt(loop.start);
            for (const PathSegment& seg : loop.segments)
                s += seg.kind == PathSegment::Kind::Cubic ? " ~" + pt(seg.c1) + " " + pt(seg.c2) + " " + pt(seg.end)
                                                          : " " + pt(seg.end);
            s += ")";
        }
        return s;
    }
};

// MuPDF's Noto Serif (Latin, Greek and Cyrillic, TrueType outlines) in a context of its own.
struct NotoSerif {
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    int size = 0, index = 0;
    const unsigned char* data = fz_lookup_noto_font(ctx, UCDN_SCRIPT_CYRILLIC, 0, &size, &index);
    fz_font* font = fz_new_font_from_memory(ctx, "NotoSerif", data, size, index, 0);
    ~NotoSerif()
    {
        fz_drop_font(ctx, font);
        fz_drop_context(ctx);
    }
};

const NotoSerif& notoSerif()
{
    static const NotoSerif noto;
    return noto;
}

} // namespace

std::string cidText(const std::u32string& text)
{
    std::string hex = "<";
    for (const char32_t c : text) {
        char glyph[8];
        std::snprintf(glyph, sizeof glyph, "%04X", fz_encode_character(notoSerif().ctx, notoSerif().font, int(c)));
        hex += glyph;
    }
    return hex + ">";
}

static std::string xy(float x, float y) { return std::to_string(x) + ' ' + std::to_string(y) + ' '; }

std::string outlinedText(const std::u32string& text, double x, double y, double size)
{
    const NotoSerif& noto = notoSerif();
    std::string out;
    fz_path_walker walker = {};
    walker.moveto = [](fz_context*, void* arg, float px, float py) { *static_cast<std::string*>(arg) += xy(px, py) + "m "; };
    walker.lineto = [](fz_context*, void* arg, float px, float py) { *static_cast<std::string*>(arg) += xy(px, py) + "l "; };
    walker.curveto = [](fz_context*, void* arg, float x1, float y1, float x2, float y2, float x3, float y3) {
        *static_cast<std::string*>(arg) += xy(x1, y1) + xy(x2, y2) + xy(x3, y3) + "c ";
    };
    walker.closepath = [](fz_context*, void* arg) { *static_cast<std::string*>(arg) += "h "; };
    double pen = 0;
    for (const char32_t ch : text) {
        const int gid = fz_encode_character(noto.ctx, noto.font, int(ch));
        fz_path* path = fz_outline_glyph(noto.ctx, noto.font, gid, {float(size), 0, 0, float(size), float(x + pen), float(y)});
        if (path) {
            fz_walk_path(noto.ctx, path, &walker, &out);
            fz_drop_path(noto.ctx, path);
            out += "f\n";
        }
        pen += size * fz_advance_glyph(noto.ctx, noto.font, gid, 0);
    }
    return out;
}

std::string makePdf(const std::vector<TestPage>& pages, const std::vector<TestLayer>& layers,
                    const std::string& toUnicode)
{
    std::vector<std::string> objects; // objects[i] is object i + 1
    auto add = [&](std::string body) {
        objects.push_back(std::move(body));
        return std::to_string(objects.size()) + " 0 R";
    };
    auto stream = [&](const std::string& data, const std::string& filter = {}) {
        return add("<< /Length " + std::to_string(data.size()) + (filter.empty() ? "" : " /Filter /" + filter) +
                   " >>\nstream\n" + data + "\nendstream");
    };
    const std::string catalog = add(""), tree = add("");
    auto toUnicodeMap = [&](const std::string& map) {
        return stream("/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Broken def "
                      "1 begincodespacerange <0000> <FFFF> endcodespacerange\n" +
                      map + "\nendcmap CMapName currentdict /CMap defineresource pop end end");
    };
    std::string file; // Noto Serif's font program, once
    auto descriptor = [&](int flags) {
        const NotoSerif& noto = notoSerif();
        if (file.empty())
            file = add("<< /Length " + std::to_string(noto.size) + " /Length1 " + std::to_string(noto.size) +
                       " >>\nstream\n" + std::string(reinterpret_cast<const char*>(noto.data), std::size_t(noto.size)) +
                       "\nendstream");
        return add(
            "<< /Type /FontDescriptor /FontName /NotoSerif /Flags " + std::to_string(flags) +
            " /FontBBox [-600 -300 1500 1100] /ItalicAngle 0 /Ascent 1000 /Descent -300 /CapHeight 714 /StemV 80 "
            "/FontFile2 " +
            file + " >>");
    };
    auto cidFont = [&](const std::string& map) {
        const std::string descendant =
            add("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /NotoSerif /CIDSystemInfo << /Registry (Adobe) "
                "/Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                descriptor(6) + " /DW 600 /CIDToGIDMap /Identity >>");
        return add("<< /Type /Font /Subtype /Type0 /BaseFont /NotoSerif /Encoding /Identity-H /DescendantFonts [" +
                   descendant + "] /ToUnicode " + toUnicodeMap(map) + " >>");
    };
    // The glyph fonts: a Type 3 font whose glyphs nothing names, Noto Serif as a symbolic font naming two letters'
    // codes after icons, Symbol, and Noto Serif as an embedded SymbolMT.
    auto glyphFonts = [&] {
        const std::string codes = toUnicodeMap("1 beginbfrange <20> <FF> <0020> endbfrange");
        auto proc = [&](const std::string& content) { return stream(content); };
        const std::string type3 = add(
            "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.001 0 0 0.001 0 0] /CharProcs "
            "<< /g1 " +
            proc("750 0 0 0 750 750 d1 0 0 m 750 0 l 375 750 l f") + " /g2 " +
            proc("750 0 0 0 750 750 d1 50 w 0 0 m 750 750 l S") + " /g3 " + proc("750 0 d0 1 0 0 rg 0 0 750 750 re f") +
            " /g4 " + proc("750 0 d0 0 0 750 750 re f") + " /A " + proc("750 0 0 0 750 750 d1 0 0 750 750 re f") +
            " >> /Encoding << /Type /Encoding /Differences [65 /g1 /g2 /g3 /g4 /A] >> /FirstChar 65 /LastChar 69 "
            "/Widths [750 750 750 750 750] /Resources << >> >>");
        const std::string symbolic =
            add("<< /Type /Font /Subtype /TrueType /BaseFont /NotoSerif /FirstChar 32 /LastChar 255 /MissingWidth 600 "
                "/FontDescriptor " +
                descriptor(4) + " /Encoding << /Differences [72 /icon_home /g12 96 /degree] >> /ToUnicode " + codes +
                " >>");
        const std::string symbol = add("<< /Type /Font /Subtype /Type1 /BaseFont /Symbol /ToUnicode " + codes + " >>");
        const std::string symbolMT =
            add("<< /Type /Font /Subtype /TrueType /BaseFont /SymbolMT /FontDescriptor " + descriptor(4) + " >>");
        return " /F5 " + type3 + " /F6 " + symbolic + " /F7 " + symbol + " /F8 " + symbolMT;
    };
    const std::string square = stream("750 0 0 0 750 750 d1 0 0 750 750 re f");
    std::string resources =
        "<< /Font << /F1 " + add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>") +
        " /F2 " + add("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>") + " /F3 " +
        add("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.001 0 0 0.001 0 0] /CharProcs << "
            "/A " +
            square + " /B " + square +
            " >> /Encoding << /Type /Encoding /Differences [65 /A /B] >> /FirstChar 65 /LastChar 66 /Widths [750 750] "
            "/Resources << >> >>") +
        (toUnicode.empty() ? "" : " /F4 " + cidFont(toUnicode) + glyphFonts()) + " >> /Shading << /Sh1 " +
        add("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function << /FunctionType 2 /Domain [0 1] "
            "/C0 [1 0 0] /C1 [0 0 1] /N 1 >> >>") +
        " /Sh2 " +
        add("<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [300 400 0 300 400 50] /Function << /FunctionType 2 "
            "/Domain [0 1] /C0 [0] /C1 [1] /N 1 >> >>") +
        " >> /Pattern << /P1 " +
        add("<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 /Resources << >> "
            "/Length 45 >>\nstream\n1 0 0 rg 0 0 10 5 re f 0 0 1 rg 0 5 10 5 re f\nendstream") +
        " >> /Properties << ";
    std::string ocgs, off;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const std::string ocg = add("<< /Type /OCG /Name (" + layers[i].name + ") >>");
        resources += "/oc" + std::to_string(i + 1) + " " + ocg + " ";
        ocgs += ocg + " ";
        if (!layers[i].on)
            off += ocg + " ";
    }
    resources += ">> >>";
    std::string kids;
    for (const auto& page : pages) {
        std::vector<std::string> refs;
        for (std::size_t i = 0; i < page.images.size(); ++i) // objects numbered ahead, so that "@ImN" can name them
            refs.push_back(std::to_string(objects.size() + 1 + i) + " 0 R");
        std::string xobjects = " /XObject << ";
        for (std::size_t i = 0; i < page.images.size(); ++i) {
            std::string dict = page.images[i].dict;
            for (std::size_t n = refs.size(); n >= 1; --n) // @Im12 before @Im1
                for (std::size_t at; (at = dict.find("@Im" + std::to_string(n))) != std::string::npos;)
                    dict.replace(at, 3 + std::to_string(n).size(), refs[n - 1]);
            add("<< /Type /XObject /Subtype /Image " + dict + " /Length " + std::to_string(page.images[i].data.size()) +
                " >>\nstream\n" + page.images[i].data + "\nendstream");
            xobjects += "/Im" + std::to_string(i + 1) + " " + refs[i] + " ";
        }
        std::string dict = "<< /Type /Page /Parent " + tree + " /MediaBox [0 0 " + number(page.width) + " " +
                           number(page.height) + "] /Resources " + resources.substr(0, resources.size() - 2) +
                           xobjects + ">> >> /Contents " + stream(page.content, page.filter);
        if (page.cropBox.size() == 4)
            dict += " /CropBox [" + number(page.cropBox[0]) + " " + number(page.cropBox[1]) + " " +
                    number(page.cropBox[2]) + " " + number(page.cropBox[3]) + "]";
        if (page.rotate != 0)
            dict += " /Rotate " + std::to_string(page.rotate);
        kids += add(dict + " >>") + " ";
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    objects[0] = "<< /Type /Catalog /Pages " + tree;
    if (!layers.empty())
        objects[0] += " /OCProperties << /OCGs [" + ocgs + "] /D << /Order [" + ocgs + "] /OFF [" + off + "] >> >>";
    objects[0] += " >>";

    std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
    std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", pdf.size());
        xref += line;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t start = pdf.size();
    return pdf + xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " + catalog +
           " >>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

std::string encryptPdf(const std::string& pdf, const std::string& userPassword, const std::string& ownerPassword)
{
    QPDF doc;
    doc.processMemoryFile("test", pdf.data(), pdf.size());
    QPDFWriter writer(doc);
    writer.setOutputMemory();
    // Copying text and changing the document are not permitted, as on many plotted drawings.
    writer.setR6EncryptionParameters(userPassword.c_str(), ownerPassword.c_str(), true, false, true, true, true, false,
                                     qpdf_r3p_full, true);
    writer.write();
    const auto buffer = writer.getBufferSharedPointer();
    return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

std::string describe(const Drawing& d)
{
    std::string s;
    for (const Image& image : d.images) {
        const ImageFile& f = d.imageFiles.at(image.file);
        const bool png = f.bytes.size() > 26 && f.bytes.starts_with("\x89PNG");
        const std::string kind =
            png ? ":" + std::to_string(int(f.bytes[24])) + "/" + std::to_string(int(f.bytes[25])) : "";
        auto corner = [&](double x, double y) {
            return pt({image.origin.x + x * image.u.x + y * image.v.x, image.origin.y + x * image.u.y + y * image.v.y});
        };
        s += (s.empty() ? "" : "; ") +
             ("image " + f.name + kind + " " + std::to_string(f.width) + "x" + std::to_string(f.height) + " " +
              corner(0, 0) + " " + corner(f.width, 0) + " " + corner(0, f.height));
        s += (f.transparent ? " alpha" : "") + (image.fade ? " fade" + std::to_string(image.fade) : "");
        if (!image.clip.empty())
            s += " clip" + points(image.clip);
    }
    for (const Entity& e : d.entities) {
        s += (s.empty() ? "" : "; ") + std::visit(Describe{}, e.geometry);
        const Style& st = e.style;
        if (st.color != Rgb{}) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02x%02x%02x", st.color.r, st.color.g, st.color.b);
            s += std::string(" #") + hex;
        }
        if (st.lineWidthMm != 0)
            s += " w" + pt(st.lineWidthMm);
        if (st.layer != "0")
            s += " @" + st.layer;
    }
    s = s.empty() ? "nothing" : s;
    if (pt(d.widthMm) != "595" || pt(d.heightMm) != "842")
        s += " | " + pt(d.widthMm) + "x" + pt(d.heightMm);
    for (const TextStyle& style : d.textStyles)
        s += " style=" + style.name + (style.fontName == style.name ? "" : "(" + style.fontName + ")");
    for (const Layer& layer : d.layers)
        s += " layer=" + layer.name + (layer.visible ? "" : "(off)");
    for (const std::string& warning : d.warnings)
        s += " warning=" + warning;
    return s;
}

bool like(const std::string& pattern, const std::string& text)
{
    return ::fnmatch(pattern.c_str(), text.c_str(), FNM_NOESCAPE) == 0;
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
