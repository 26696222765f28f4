#pragma once
// The characters a page's symbol fonts and Type 3 fonts really draw, where MuPDF's reading of the PDF is not to be
// trusted: icon fonts give their icons the codes of letters, symbol fonts come without a map to Unicode or with one
// that repeats their 8-bit codes, and MuPDF then names their glyphs after the codes (or, for a Type 1 symbol font
// whose glyph names it does not know, after the standard encoding's letters).

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace unplot::engine {

class SymbolFonts {
public:
    // `page`: a PDF page; for any other, no font has corrections.
    SymbolFonts(fz_context* ctx, fz_page* page) : ctx_(ctx), page_(page) {}
    ~SymbolFonts();
    SymbolFonts(const SymbolFonts&) = delete;
    SymbolFonts& operator=(const SymbolFonts&) = delete;

    // Glyph numbers of `font` mapped to the characters they draw: U+FFFD for a glyph that draws none a CAD font has
    // (an icon, a symbol its name does not name), else the character its name in the PDF, the Symbol encoding (in a
    // Symbol font), its name in the font program or the program's Unicode cmap says; a glyph none of them speaks
    // for keeps MuPDF's. Null for
    // the fonts whose characters stand as MuPDF gives them: every font that is neither flagged symbolic, nor named
    // after a symbol or icon font, nor a Type 3 font. `font` must be one MuPDF has loaded for the page.
    const std::unordered_map<int, char32_t>* corrections(fz_font* font);

    // What a simple font's dictionary says: its kind, name, descriptor flags and the glyph names its encoding's
    // Differences give codes (pointing into the document).
    struct FontDict {
        bool type3 = false;
        int flags = 0;
        const char* baseFont = "";
        const char* names[256] = {};
    };

private:
    // Lists the page's fonts (its own, its forms', patterns', Type 3 fonts' and annotations') that may need
    // corrections.
    void findCandidates();

    struct Candidate {
        pdf_obj* ref; // as its resources name it
        std::unique_ptr<FontDict> dict;
    };
    fz_context* ctx_;
    fz_page* page_;
    bool read_ = false;
    fz_store_drop_fn* drop_ = nullptr; // how MuPDF's store knows fonts
    std::vector<Candidate> candidates_;
    std::vector<pdf_font_desc*> held_; // the fonts looked at, held so that their fz_font addresses stay theirs
    std::unordered_map<const fz_font*, std::unordered_map<int, char32_t>> fonts_;
};

// Whether a character is a private-use one; whether no text shows it (U+FFFD, a private-use or a control character,
// blanks aside): a glyph given one is drawn as what it draws.
bool privateUse(int c);
bool noCharacter(int c);

// The character the Symbol font's built-in encoding gives `code`, from MuPDF's own Symbol font; 0 for none.
char32_t symbolEncoding(fz_context* ctx, int code);

// The character a glyph name names: the drawing symbols (degree, plusminus, mu, diameter, ...), an Adobe glyph list
// name (a suffix after '.' aside) or a uniXXXX / uXXXX[XX] name; 0 for any other name.
char32_t namedCharacter(const char* name);

} // namespace unplot::engine
