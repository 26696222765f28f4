#pragma once
// Stroke fonts (single-line glyphs, as CAD programs and plotters draw text) loaded from the font files of
// librecad-data (.lff) and hershey-fonts-data (.jhf), in units of the font's cap height: baseline at y = 0, the top
// of "H" at y = 1, each glyph's pen origin at x = 0.

#include "drawing.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace unplot::engine::strokes {

struct StrokeGlyph {
    std::vector<std::vector<Vec2>> strokes; // polylines; arcs flattened
    double advance = 0;                     // to the next glyph's origin
    Vec2 min, max;                          // the ink's box
};

struct GlyphTemplates; // what text recognition derives from a font

struct StrokeFont {
    std::string name;      // the file's name without extension ("romans", "futural")
    std::string cadFont;   // the CAD font it corresponds to ("romans.shx"), or empty
    double xHeight = 0.67; // of "x", in cap heights
    double space = 0.6;    // the width of a space
    std::map<char32_t, StrokeGlyph> glyphs;
    // Other drawings of some characters, by fonts of the same shapes otherwise (a period set higher)
    std::vector<std::pair<char32_t, StrokeGlyph>> variants;
    mutable std::shared_ptr<const GlyphTemplates> templates; // made by text recognition when it first needs them
};

// Reads a LibreCAD .lff font. Throws std::runtime_error when the file cannot be read or has no "H".
StrokeFont readLffFont(const std::string& path);
// Reads a Hershey .jhf font (glyphs for ASCII 32..126, one per line). Throws as readLffFont.
StrokeFont readJhfFont(const std::string& path);

// The fonts text recognition compares against, from the folders the Debian packages install them into (or those
// given): the shapes of the common CAD stroke fonts. Fonts whose files are missing are left out.
std::vector<StrokeFont> loadStrokeFonts(const std::vector<std::string>& folders = {});

} // namespace unplot::engine::strokes
