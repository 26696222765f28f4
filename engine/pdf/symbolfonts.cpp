#include "symbolfonts.h"

#include "fontmetrics.h"
#include "utf8.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace unplot::engine {
namespace {

// Bounds on what a page may make us look at (forms within forms, fonts by the thousand).
constexpr int kMostFonts = 512, kMostResources = 512, kDeepest = 12;

// What the walk of a page's resources found. Plain data: MuPDF may jump out of the functions that fill it.
struct Found {
    pdf_obj* fonts[kMostFonts];    // resolved
    pdf_obj* fontRefs[kMostFonts]; // as named (MuPDF keeps the fonts it loaded by their references)
    int fontCount = 0;
    pdf_obj* resources[kMostResources];
    int resourceCount = 0;
};

bool listed(pdf_obj* const* list, int count, pdf_obj* obj)
{
    for (int i = 0; i < count; ++i)
        if (list[i] == obj)
            return true;
    return false;
}

enum class Family { Other, Symbol, Icons };

// The kind of font a name says it is. Icon fonts hold nothing but icons, whatever their codes.
Family family(const char* baseFont)
{
    char name[64] = "";
    const char* plus = std::strchr(baseFont, '+');
    fz_strlcpy(name, plus && plus - baseFont == 6 ? plus + 1 : baseFont, sizeof name);
    for (char* p = name; *p; ++p)
        *p = char(std::tolower(static_cast<unsigned char>(*p)));
    for (const char* icons :
         {"dingbat", "wingding", "webding", "marlett", "fontawesome", "glyphicons", "icomoon", "icons", "esri", "gdt"})
        if (std::strstr(name, icons))
            return Family::Icons;
    if (std::strncmp(name, "symbol", 6) == 0 && std::strchr(",- m", name[6] ? name[6] : ' '))
        return Family::Symbol;
    return std::strncmp(name, "standardsym", 11) == 0 ? Family::Symbol : Family::Other;
}

void addResources(fz_context* ctx, pdf_obj* resources, Found& found, int depth);

// The resources of each stream in `dict` (forms, tiling patterns, appearance streams).
void addEach(fz_context* ctx, pdf_obj* dict, Found& found, int depth)
{
    const int n = pdf_dict_len(ctx, dict);
    for (int i = 0; i < n; ++i)
        addResources(ctx, pdf_dict_get(ctx, pdf_dict_get_val(ctx, dict, i), PDF_NAME(Resources)), found, depth + 1);
}

void addResources(fz_context* ctx, pdf_obj* resources, Found& found, int depth)
{
    resources = pdf_resolve_indirect_chain(ctx, resources);
    if (!pdf_is_dict(ctx, resources) || depth > kDeepest || found.resourceCount == kMostResources ||
        listed(found.resources, found.resourceCount, resources))
        return;
    found.resources[found.resourceCount++] = resources;
    pdf_obj* fonts = pdf_dict_get(ctx, resources, PDF_NAME(Font));
    for (int i = 0, n = pdf_dict_len(ctx, fonts); i < n && found.fontCount < kMostFonts; ++i) {
        pdf_obj* ref = pdf_dict_get_val(ctx, fonts, i);
        pdf_obj* font = pdf_resolve_indirect_chain(ctx, ref);
        if (!pdf_is_dict(ctx, font) || listed(found.fonts, found.fontCount, font))
            continue;
        found.fontRefs[found.fontCount] = ref;
        found.fonts[found.fontCount++] = font;
        addResources(ctx, pdf_dict_get(ctx, font, PDF_NAME(Resources)), found, depth + 1); // a Type 3 font's
    }
    addEach(ctx, pdf_dict_get(ctx, resources, PDF_NAME(XObject)), found, depth);
    addEach(ctx, pdf_dict_get(ctx, resources, PDF_NAME(Pattern)), found, depth);
    pdf_obj* states = pdf_dict_get(ctx, resources, PDF_NAME(ExtGState));
    for (int i = 0, n = pdf_dict_len(ctx, states); i < n; ++i) {
        pdf_obj* mask = pdf_dict_get(ctx, pdf_dict_get_val(ctx, states, i), PDF_NAME(SMask));
        addResources(ctx, pdf_dict_getp(ctx, mask, "G/Resources"), found, depth + 1);
    }
}

// The fonts of the page, its forms, patterns, Type 3 fonts and annotations' appearances.
bool findFonts(fz_context* ctx, pdf_page* page, Found& found)
{
    bool ok = true;
    fz_var(ok);
    fz_try(ctx)
    {
        addResources(ctx, pdf_page_resources(ctx, page), found, 0);
        pdf_obj* annots = pdf_dict_get(ctx, page->obj, PDF_NAME(Annots));
        for (int i = 0, n = pdf_array_len(ctx, annots); i < n; ++i) {
            pdf_obj* normal = pdf_dict_getp(ctx, pdf_array_get(ctx, annots, i), "AP/N");
            if (pdf_is_stream(ctx, normal))
                addResources(ctx, pdf_dict_get(ctx, normal, PDF_NAME(Resources)), found, 1);
            else
                addEach(ctx, normal, found, 0);
        }
    }
    fz_catch(ctx)
    {
        ok = false; // what was found so far stands
    }
    return ok;
}

// Reads what the font's dictionary says; false when it is not a simple font.
bool readFontDict(fz_context* ctx, pdf_obj* dict, SymbolFonts::FontDict& out)
{
    bool simple = false;
    fz_var(simple);
    fz_try(ctx)
    {
        pdf_obj* subtype = pdf_dict_get(ctx, dict, PDF_NAME(Subtype));
        out.type3 = pdf_name_eq(ctx, subtype, PDF_NAME(Type3));
        simple = out.type3 || pdf_name_eq(ctx, subtype, PDF_NAME(Type1)) ||
                 pdf_name_eq(ctx, subtype, PDF_NAME(MMType1)) || pdf_name_eq(ctx, subtype, PDF_NAME(TrueType));
        out.flags = pdf_dict_get_int(ctx, pdf_dict_get(ctx, dict, PDF_NAME(FontDescriptor)), PDF_NAME(Flags));
        out.baseFont = pdf_dict_get_name(ctx, dict, PDF_NAME(BaseFont));
        pdf_obj* differences = pdf_dict_getp(ctx, dict, "Encoding/Differences");
        for (int i = 0, code = 0, n = pdf_array_len(ctx, differences); i < n; ++i) {
            pdf_obj* item = pdf_array_get(ctx, differences, i);
            if (pdf_is_int(ctx, item))
                code = pdf_to_int(ctx, item);
            else if (pdf_is_name(ctx, item) && code >= 0 && code < 256)
                out.names[code++] = pdf_to_name(ctx, item);
        }
    }
    fz_catch(ctx)
    {
        simple = false;
    }
    return simple;
}

// How MuPDF's store knows its fonts: the function that drops them. Null when MuPDF failed.
fz_store_drop_fn* fontDropper(fz_context* ctx)
{
    fz_store_drop_fn* drop = nullptr;
    fz_var(drop);
    fz_try(ctx)
    {
        pdf_font_desc* probe = pdf_new_font_desc(ctx);
        drop = probe->storable.drop;
        pdf_drop_font(ctx, probe);
    }
    fz_catch(ctx)
    {
        drop = nullptr;
    }
    return drop;
}

// The font MuPDF loaded for `ref`, kept, or null when it has not (yet) loaded it.
pdf_font_desc* loadedFont(fz_context* ctx, fz_store_drop_fn* drop, pdf_obj* ref)
{
    pdf_font_desc* desc = nullptr;
    fz_var(desc);
    fz_try(ctx)
    {
        desc = static_cast<pdf_font_desc*>(pdf_find_item(ctx, drop, ref));
    }
    fz_catch(ctx)
    {
        desc = nullptr;
    }
    return desc;
}

// Whether a ToUnicode map gives the codes themselves (or their private-use twins, U+F0xx): it says nothing then.
bool mapsCodes(pdf_cmap* toUnicode)
{
    int same = 0, other = 0;
    for (int code = 0; code < 256; ++code) {
        int out[8];
        const int n = pdf_lookup_cmap_full(toUnicode, unsigned(code), out);
        if (n == 1 && (out[0] == code || out[0] == 0xF000 + code))
            ++same;
        else if (n > 0)
            ++other;
    }
    return same > 0 && other == 0;
}

// A Type 3 font's "a65": MuPDF reads the number as the character, as TeX's bitmap fonts mean it.
bool codeName(const char* name)
{
    if (name[0] != 'a' || !name[1])
        return false;
    for (const char* p = name + 1; *p; ++p)
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

std::unordered_map<int, char32_t> correctionsOf(fz_context* ctx, const pdf_font_desc& desc,
                                                const SymbolFonts::FontDict& dict)
{
    std::unordered_map<int, char32_t> out;
    const Family kind = family(dict.baseFont);
    fz_buffer** procs = fz_font_t3_procs(ctx, desc.font);
    const bool trusted = desc.to_unicode && !mapsCodes(desc.to_unicode);
    if (kind != Family::Icons && trusted)
        return out;
    std::optional<std::unordered_map<int, char32_t>> cmap; // read when a glyph needs it
    auto ownCharacters = [&] {
        if (!cmap)
            cmap = glyphCharacters(ctx, desc.font);
        return &*cmap;
    };
    for (int code = 0; code < 256; ++code) {
        const int glyph = dict.type3 ? (procs && procs[code] ? code : 0)
                                     : (std::size_t(code) < desc.cid_to_gid_len ? desc.cid_to_gid[code] : 0);
        if (glyph == 0 || out.count(glyph))
            continue;
        // The PDF's glyph name, else (a Symbol font) the Symbol encoding, else the font program's glyph name, else
        // its Unicode cmap: subsetting renames a program's glyphs more often than it moves a Symbol font's codes.
        const char* name = dict.names[code];
        char own[64] = "";
        char32_t c;
        if (kind == Family::Icons)
            c = kReplacementCharacter;
        else if (name && dict.type3 && codeName(name))
            continue;
        else if (name)
            c = namedCharacter(name);
        else if (kind == Family::Symbol)
            c = symbolEncoding(ctx, code);
        else if (!dict.type3 && glyphName(ctx, desc.font, glyph, own, int(sizeof own)))
            c = namedCharacter(own);
        else if (const auto* cmapped = ownCharacters(); cmapped->count(glyph))
            c = cmapped->at(glyph);
        else
            continue; // nothing says otherwise: MuPDF's reading of the code stands
        out.emplace(glyph, c == 0 || noCharacter(int(c)) ? kReplacementCharacter : c);
    }
    return out;
}

std::array<char32_t, 256> readSymbolEncoding(fz_context* ctx)
{
    fz_font* font = nullptr;
    fz_var(font);
    fz_try(ctx)
    {
        // A font of our own, not MuPDF's shared one: its FreeType face is ours to switch to the built-in encoding.
        int size = 0;
        const unsigned char* data = fz_lookup_base14_font(ctx, "Symbol", &size);
        font = data ? fz_new_font_from_memory(ctx, "Symbol", data, size, 0, 0) : nullptr;
    }
    fz_catch(ctx)
    {
        font = nullptr;
    }
    auto* face = font ? static_cast<FT_Face>(fz_font_ft_face(ctx, font)) : nullptr;
    if (!face) {
        fz_drop_font(ctx, font);
        throw std::runtime_error("MuPDF has no Symbol font");
    }
    std::array<char32_t, 256> table{};
    for (int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->encoding == FT_ENCODING_ADOBE_CUSTOM) // the font's built-in encoding
            FT_Set_Charmap(face, face->charmaps[i]);
    for (unsigned code = 0; code < 256; ++code) {
        char name[64] = "";
        if (const FT_UInt glyph = FT_Get_Char_Index(face, code);
            glyph != 0 && FT_Get_Glyph_Name(face, glyph, name, sizeof name) == 0)
            table[code] = namedCharacter(name);
    }
    fz_drop_font(ctx, font);
    return table;
}

} // namespace

SymbolFonts::~SymbolFonts()
{
    for (pdf_font_desc* desc : held_)
        pdf_drop_font(ctx_, desc); // does not throw
}

void SymbolFonts::findCandidates()
{
    read_ = true;
    pdf_page* page = pdf_page_from_fz_page(ctx_, page_);
    drop_ = fontDropper(ctx_);
    if (!page || !drop_)
        return;
    auto found = std::make_unique<Found>();
    findFonts(ctx_, page, *found);
    for (int i = 0; i < found->fontCount; ++i) {
        Candidate c{found->fontRefs[i], std::make_unique<FontDict>()};
        if (!readFontDict(ctx_, found->fonts[i], *c.dict))
            continue;
        const bool symbolic = (c.dict->flags & 4) && !(c.dict->flags & 32); // as MuPDF reads the flags
        if (c.dict->type3 || symbolic || family(c.dict->baseFont) != Family::Other)
            candidates_.push_back(std::move(c));
    }
}

const std::unordered_map<int, char32_t>* SymbolFonts::corrections(fz_font* font)
{
    if (!read_)
        findCandidates();
    // The candidates MuPDF has loaded by now (without loading any more ourselves).
    for (auto c = candidates_.begin(); c != candidates_.end() && !fonts_.count(font);) {
        pdf_font_desc* desc = loadedFont(ctx_, drop_, c->ref);
        if (!desc) {
            ++c;
            continue;
        }
        held_.push_back(desc);
        fonts_.emplace(desc->font, correctionsOf(ctx_, *desc, *c->dict));
        c = candidates_.erase(c);
    }
    const auto it = fonts_.find(font);
    return it == fonts_.end() ? nullptr : &it->second;
}

bool privateUse(int c)
{
    return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
}

bool noCharacter(int c)
{
    return c == int(kReplacementCharacter) || privateUse(c) || (c > 0 && c < 0x20 && !std::strchr("\t\n\r", c)) ||
           (c >= 0x7F && c < 0xA0);
}

char32_t symbolEncoding(fz_context* ctx, int code)
{
    try {
        static const std::array<char32_t, 256> table = readSymbolEncoding(ctx); // read again after a failure
        return code >= 0 && code < 256 ? table[std::size_t(code)] : 0;
    } catch (const std::runtime_error&) {
        return 0;
    }
}

char32_t namedCharacter(const char* name)
{
    if (const char32_t symbol = drawingSymbol(name))
        return symbol;
    char base[64];
    fz_strlcpy(base, name, sizeof base);
    if (char* dot = std::strchr(base, '.'); dot && dot != base)
        *dot = 0;
    if (const int c = fz_unicode_from_glyph_name_strict(base))
        return char32_t(c);
    const std::size_t n = std::strlen(base);
    const bool uni = std::strncmp(base, "uni", 3) == 0 && n == 7;
    const bool u = !uni && base[0] == 'u' && n >= 5 && n <= 7;
    if (!uni && !u)
        return 0;
    char* end = nullptr;
    const long c = std::strtol(base + (uni ? 3 : 1), &end, 16);
    return *end == 0 && std::isxdigit(static_cast<unsigned char>(base[uni ? 3 : 1])) && c > 0 && c <= 0x10FFFF
               ? char32_t(c)
               : 0;
}

} // namespace unplot::engine
