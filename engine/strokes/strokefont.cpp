#include "strokefont.h"

#include "utf8.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string_view>

namespace unplot::engine::strokes {
namespace {

std::ifstream openFont(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read the stroke font " + path);
    return in;
}

// Moves and scales the glyphs so that "H" stands on y = 0 with its top at y = 1; `flipY` for fonts whose y grows
// downwards. Sets the ink boxes, the x-height and the space.
void normalize(StrokeFont& font, bool flipY, double wordSpace)
{
    auto h = font.glyphs.find(U'H');
    if (h == font.glyphs.end() || h->second.strokes.empty())
        throw std::runtime_error("the stroke font " + font.name + " has no H");
    double bottom = 1e300, top = -1e300;
    for (const auto& s : h->second.strokes)
        for (Vec2 p : s) {
            const double y = flipY ? -p.y : p.y;
            bottom = std::min(bottom, y);
            top = std::max(top, y);
        }
    const double cap = top - bottom;
    if (!(cap > 0))
        throw std::runtime_error("the stroke font " + font.name + " has a flat H");
    for (auto& [code, g] : font.glyphs) {
        g.min = {1e300, 1e300};
        g.max = {-1e300, -1e300};
        for (auto& s : g.strokes)
            for (Vec2& p : s) {
                p = {p.x / cap, ((flipY ? -p.y : p.y) - bottom) / cap};
                g.min = {std::min(g.min.x, p.x), std::min(g.min.y, p.y)};
                g.max = {std::max(g.max.x, p.x), std::max(g.max.y, p.y)};
            }
        g.advance /= cap;
    }
    if (auto x = font.glyphs.find(U'x'); x != font.glyphs.end() && !x->second.strokes.empty())
        font.xHeight = x->second.max.y;
    font.space = wordSpace / cap;
}

std::string baseName(const std::string& path)
{
    return std::filesystem::path(path).stem().string();
}

// The parts of `s` between separators, as std::getline gives them (an empty last part left out).
template <typename F> void eachPart(std::string_view s, char separator, F&& f)
{
    while (!s.empty()) {
        const std::size_t end = s.find(separator);
        f(s.substr(0, end));
        if (end == std::string_view::npos)
            break;
        s.remove_prefix(end + 1);
    }
}

// A number as std::stod reads it (blanks and a plus sign before it, anything after it), without its locale.
double number(std::string_view s)
{
    std::size_t k = 0;
    while (k < s.size() && std::isspace(static_cast<unsigned char>(s[k])))
        ++k;
    if (k + 1 < s.size() && s[k] == '+' && s[k + 1] != '-')
        ++k;
    double value = 0;
    const auto [end, error] = std::from_chars(s.data() + k, s.data() + s.size(), value);
    if (error == std::errc::result_out_of_range)
        throw std::out_of_range("number out of range: " + std::string(s));
    if (error != std::errc())
        throw std::invalid_argument("not a number: " + std::string(s));
    return value;
}

// One LFF polyline "x,y;x,y,A0.5;...": a bulge on a vertex bends the segment that ends there.
std::vector<Vec2> lffPolyline(const std::string& line)
{
    std::vector<Vec2> out;
    eachPart(line, ';', [&](std::string_view vertex) {
        double x = 0, y = 0, bulge = 0;
        int i = 0;
        eachPart(vertex, ',', [&](std::string_view field) {
            if (!field.empty() && field[0] == 'A')
                bulge = number(field.substr(1));
            else if (i == 0)
                x = number(field);
            else
                y = number(field);
            ++i;
        });
        const Vec2 p{x, y};
        if (bulge != 0 && !out.empty()) {
            // The arc from the previous vertex: included angle 4 atan(bulge), flattened into 8 pieces.
            const Vec2 a = out.back();
            const double angle = 4 * std::atan(bulge);
            const double chord = std::hypot(p.x - a.x, p.y - a.y);
            if (chord > 0) {
                const double r = chord / (2 * std::sin(angle / 2));
                const Vec2 mid{(a.x + p.x) / 2, (a.y + p.y) / 2};
                const double d = r * std::cos(angle / 2); // centre's distance from the chord, signed
                const Vec2 n{-(p.y - a.y) / chord, (p.x - a.x) / chord};
                const Vec2 c{mid.x + n.x * d, mid.y + n.y * d};
                const double a0 = std::atan2(a.y - c.y, a.x - c.x);
                const double rr = std::hypot(a.x - c.x, a.y - c.y);
                for (int k = 1; k < 8; ++k) {
                    const double t = a0 + angle * k / 8;
                    out.push_back({c.x + rr * std::cos(t), c.y + rr * std::sin(t)});
                }
            }
        }
        out.push_back(p);
    });
    return out;
}

bool sameGlyph(const StrokeGlyph& a, const StrokeGlyph& b)
{
    if (a.strokes.size() != b.strokes.size())
        return false;
    for (std::size_t i = 0; i < a.strokes.size(); ++i) {
        const auto &sa = a.strokes[i], &sb = b.strokes[i];
        if (sa.size() != sb.size())
            return false;
        for (std::size_t k = 0; k < sa.size(); ++k)
            if (std::abs(sa[k].x - sb[k].x) > 0.01 || std::abs(sa[k].y - sb[k].y) > 0.01)
                return false;
    }
    return true;
}

// Two fonts draw the same shapes when their letters lie on each other (romans and simplex, a Hershey font and its
// LibreCAD copy): recognition needs only one of them, and the glyphs the other draws otherwise.
bool sameShapes(const StrokeFont& a, const StrokeFont& b)
{
    for (char32_t c : std::u32string_view(U"AGRSagk5")) {
        auto ga = a.glyphs.find(c), gb = b.glyphs.find(c);
        if (ga == a.glyphs.end() || gb == b.glyphs.end() || !sameGlyph(ga->second, gb->second))
            return false;
    }
    return true;
}

} // namespace

StrokeFont readLffFont(const std::string& path)
{
    std::ifstream in = openFont(path);
    StrokeFont font;
    font.name = baseName(path);
    double letterSpacing = 3, wordSpacing = 6.75;
    std::map<char32_t, std::vector<std::string>> bodies; // each glyph's lines, references unresolved
    std::vector<std::string>* body = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("# LetterSpacing:", 0) == 0)
            letterSpacing = std::stod(line.substr(16));
        else if (line.rfind("# WordSpacing:", 0) == 0)
            wordSpacing = std::stod(line.substr(14));
        else if (line.size() >= 6 && line[0] == '[' && line[5] == ']')
            body = &bodies[char32_t(std::stoul(line.substr(1, 4), nullptr, 16))];
        else if (line.empty() || line[0] == '#')
            body = line.empty() ? nullptr : body;
        else if (body)
            body->push_back(line);
    }
    // References ("C0041") copy another glyph's strokes; at most a few levels deep.
    std::function<void(char32_t, StrokeGlyph&, int)> build = [&](char32_t code, StrokeGlyph& g, int depth) {
        auto it = bodies.find(code);
        if (it == bodies.end() || depth > 4)
            return;
        for (const auto& l : it->second) {
            if (l[0] == 'C')
                build(char32_t(std::stoul(l.substr(1), nullptr, 16)), g, depth + 1);
            else if (auto p = lffPolyline(l); p.size() >= 2)
                g.strokes.push_back(std::move(p));
        }
    };
    for (const auto& [code, lines] : bodies) {
        StrokeGlyph g;
        build(code, g, 0);
        double right = 0;
        for (const auto& s : g.strokes)
            for (Vec2 p : s)
                right = std::max(right, p.x);
        g.advance = right + letterSpacing;
        font.glyphs.emplace(code, std::move(g));
    }
    normalize(font, false, wordSpacing);
    return font;
}

StrokeFont readJhfFont(const std::string& path)
{
    std::ifstream in = openFont(path);
    StrokeFont font;
    font.name = baseName(path);
    std::string line;
    char32_t code = 32;
    while (std::getline(in, line) && code < 127) {
        if (line.size() < 10)
            continue;
        StrokeGlyph g;
        const int left = line[8] - 'R', right = line[9] - 'R';
        std::vector<Vec2> stroke;
        for (std::size_t i = 10; i + 1 < line.size(); i += 2) {
            if (line[i] == ' ' && line[i + 1] == 'R') {
                if (stroke.size() >= 2)
                    g.strokes.push_back(std::move(stroke));
                stroke.clear();
                continue;
            }
            stroke.push_back({double(line[i] - 'R' - left), double(line[i + 1] - 'R')});
        }
        if (stroke.size() >= 2)
            g.strokes.push_back(std::move(stroke));
        g.advance = right - left;
        font.glyphs.emplace(code++, std::move(g));
    }
    // Hershey's baseline is at y = 9 (down): normalize takes it from the "H".
    normalize(font, true, font.glyphs.count(U' ') ? font.glyphs[U' '].advance : 16);
    return font;
}

std::vector<StrokeFont> loadStrokeFonts(const std::vector<std::string>& folders)
{
    const std::vector<std::string> where =
        folders.empty() ? std::vector<std::string>{"/usr/share/librecad/fonts", "/usr/share/hershey-fonts"} : folders;
    // The file, and the CAD font of that shape.
    const std::pair<const char*, const char*> wanted[] = {
        {"standard.lff", "txt.shx"}, {"romans.lff", "romans.shx"}, {"simplex.lff", "simplex.shx"},
        {"iso3098.lff", "isocp.shx"}, {"lc_opengost-ar.lff", ""}, {"rowmans.jhf", "romans.shx"},
        {"futural.jhf", "simplex.shx"}};
    std::vector<StrokeFont> fonts;
    for (const auto& [file, cad] : wanted)
        for (const auto& folder : where) {
            const std::string path = folder + "/" + file;
            if (!std::filesystem::exists(path))
                continue;
            try {
                StrokeFont font = std::string(file).ends_with(".jhf") ? readJhfFont(path) : readLffFont(path);
                font.cadFont = cad;
                auto same = std::find_if(fonts.begin(), fonts.end(), [&](const StrokeFont& f) { return sameShapes(f, font); });
                if (same == fonts.end())
                    fonts.push_back(std::move(font));
                else
                    for (auto& [code, glyph] : font.glyphs) {
                        auto known = same->glyphs.find(code);
                        if (known != same->glyphs.end() && !sameGlyph(known->second, glyph))
                            same->variants.emplace_back(code, std::move(glyph));
                    }
            } catch (const std::exception&) {
                // a damaged font file is simply not used
            }
            break;
        }
    return fonts;
}

} // namespace unplot::engine::strokes
