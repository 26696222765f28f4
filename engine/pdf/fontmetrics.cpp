#include "fontmetrics.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cstring>

namespace unplot::engine {
namespace {

constexpr double kDefaultCapHeight = 0.7;

bool plausibleCapHeight(double ratio)
{
    return ratio > 0.3 && ratio < 1.2;
}

// The top of the font's "H" in ems, or 0. Only plain data lives in this frame: MuPDF may jump out of it.
double capFromGlyph(fz_context* ctx, fz_font* font)
{
    double top = 0;
    fz_var(top);
    fz_try(ctx)
    {
        const int gid = fz_encode_character(ctx, font, 'H');
        if (gid > 0)
            top = fz_bound_glyph(ctx, font, gid, fz_identity).y1;
    }
    fz_catch(ctx)
    {
        top = 0;
    }
    return top;
}

double capFromOs2(FT_Face face)
{
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (!os2 || os2->version < 2 || os2->sCapHeight <= 0 || face->units_per_EM == 0)
        return 0;
    return double(os2->sCapHeight) / double(face->units_per_EM);
}

} // namespace

double capHeightRatio(fz_context* ctx, fz_font* font)
{
    // Type 3 fonts have no outline font behind them: their glyph numbers are not characters.
    auto* face = static_cast<FT_Face>(fz_font_ft_face(ctx, font));
    if (!face)
        return kDefaultCapHeight;
    if (const double h = capFromGlyph(ctx, font); plausibleCapHeight(h))
        return h;
    if (const double h = capFromOs2(face); plausibleCapHeight(h))
        return h;
    return kDefaultCapHeight;
}

double glyphAdvance(fz_context* ctx, fz_font* font, int glyph, int wmode)
{
    double advance = 0;
    fz_var(advance);
    fz_try(ctx)
    {
        advance = fz_advance_glyph(ctx, font, glyph, wmode);
    }
    fz_catch(ctx)
    {
        advance = 0;
    }
    return advance;
}

std::unordered_map<int, char32_t> glyphCharacters(fz_context* ctx, fz_font* font)
{
    std::unordered_map<int, char32_t> characters;
    auto* face = static_cast<FT_Face>(fz_font_ft_face(ctx, font));
    if (!face)
        return characters;
    const FT_CharMap chosen = face->charmap; // MuPDF's choice, put back afterwards
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0) {
        FT_UInt glyph = 0;
        for (FT_ULong c = FT_Get_First_Char(face, &glyph); glyph != 0; c = FT_Get_Next_Char(face, c, &glyph))
            characters.emplace(int(glyph), char32_t(c));
    }
    if (chosen)
        FT_Set_Charmap(face, chosen);
    return characters;
}

char32_t drawingSymbol(const char* name)
{
    static constexpr struct {
        const char* name;
        char32_t character;
    } kSymbols[] = {{"degree", 0xB0},    {"uni00B0", 0xB0},    {"plusminus", 0xB1}, {"uni00B1", 0xB1},
                    {"mu", 0xB5},        {"micro", 0xB5},      {"uni00B5", 0xB5},   {"diameter", 0x2300},
                    {"uni2300", 0x2300}, {"emptyset", 0x2205}, {"uni2205", 0x2205}};
    for (const auto& s : kSymbols)
        if (std::strcmp(name, s.name) == 0)
            return s.character;
    return 0;
}

bool glyphName(fz_context* ctx, fz_font* font, int glyph, char* name, int size)
{
    name[0] = 0;
    fz_try(ctx)
    {
        fz_get_glyph_name(ctx, font, glyph, name, size);
    }
    fz_catch(ctx)
    {
        name[0] = 0;
    }
    // MuPDF writes the glyph's number for a font without names.
    return name[0] && name[std::strspn(name, "0123456789")] != 0;
}

char32_t symbolCharacter(fz_context* ctx, fz_font* font, int glyph)
{
    char name[64];
    return glyphName(ctx, font, glyph, name, int(sizeof name)) ? drawingSymbol(name) : 0;
}

fz_path* glyphOutline(fz_context* ctx, fz_font* font, int glyph, fz_matrix trm)
{
    fz_path* path = nullptr;
    fz_var(path);
    fz_try(ctx)
    {
        path = fz_outline_glyph(ctx, font, glyph, trm);
    }
    fz_catch(ctx)
    {
        path = nullptr;
    }
    return path;
}

std::string fontBaseName(fz_context* ctx, fz_font* font)
{
    const char* name = fz_font_name(ctx, font);
    if (!name || !*name)
        return "Font";
    std::string s(name);
    if (s.size() > 7 && s[6] == '+') {
        bool tag = true;
        for (int i = 0; i < 6; ++i)
            tag = tag && s[std::size_t(i)] >= 'A' && s[std::size_t(i)] <= 'Z';
        if (tag)
            s.erase(0, 7);
    }
    return s;
}

std::string textStyleName(const std::string& fontName)
{
    std::string s = fontName;
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80 ||
            std::strchr("<>/\\\":;?*|=`,", c))
            c = '_';
    if (s.empty())
        s = "Font";
    if (s.size() > 200)
        s.resize(200);
    return s;
}

} // namespace unplot::engine
