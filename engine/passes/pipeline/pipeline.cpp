#include "pipeline.h"

#include "arcs.h"
#include "clipping.h"
#include "joins.h"
#include "linetypes.h"
#include "textrecovery.h"

#include <algorithm>

namespace unplot::engine {

namespace {

void recoverText(Drawing& drawing)
{
    static const std::vector<strokes::StrokeFont> fonts = strokes::loadStrokeFonts();
    thread_local strokes::LineReader reader; // Tesseract's state is for one thread
    const strokes::TextRecovery text = strokes::recoverText(drawing, fonts, &reader);
    drawing.notes.push_back("text: " + std::to_string(text.textsRecovered) + " texts recovered, " +
                            std::to_string(text.strokesReplaced) + " strokes replaced");
}

} // namespace

const std::vector<DrawingPass>& drawingPasses()
{
    // Clipping first, so that no pass sees what the page does not show; text before the passes that reshape
    // strokes, so that it finds the glyphs' strokes as drawn.
    static const std::vector<DrawingPass> passes = {
        {"clip", "cut geometry at the PDF's clip regions", passes::clipToRegions},
        {"text", "text drawn as strokes back as text", recoverText},
        {"cleanup", "drop zero-length pieces, duplicates and segments lying on longer ones", passes::cleanUp},
        {"arcs", "recover arcs, circles and ellipses from segment runs and Bezier curves", passes::recoverArcs},
        {"join", "join touching paths of one style into polylines", passes::joinPaths},
        {"linetypes", "linetypes from PDF dash arrays and from dashes drawn one by one", passes::makeLinetypes},
    };
    return passes;
}

void runPasses(Drawing& drawing, const std::vector<std::string>& skipped)
{
    const std::size_t before = drawing.entities.size();
    for (const DrawingPass& pass : drawingPasses())
        if (std::find(skipped.begin(), skipped.end(), pass.name) == skipped.end())
            pass.run(drawing);
    drawing.notes.push_back("entities: " + std::to_string(before) + " read, " +
                            std::to_string(drawing.entities.size()) + " written");
}

} // namespace unplot::engine
