#include "textgrouper.h"

#include "utf8.h"

#include <cmath>

namespace unplot::engine {
namespace {

// Gaps along the baseline, in ems, beyond the expected position of the next glyph.
constexpr double kSpaceGapEm = 0.15; // more than this without a space character: a space is inserted
constexpr double kBreakGapEm = 1.0;  // more than this: a new Text
constexpr double kObjectGapEm = 0.5; // between text objects, more than this: a new Text
constexpr double kBackGapEm = -0.3;  // overlapping further back than this: a new Text
constexpr double kOffBaselineEm = 0.05;

bool isBlank(int unicode)
{
    return unicode == ' ' || unicode == 0xA0 || unicode == '\t';
}

} // namespace

bool TextGrouper::sameRun(const TextRun& run) const
{
    auto close = [](double a, double b) { return std::abs(a - b) <= 1e-6 * std::max(1.0, std::abs(a)); };
    return haveRun_ && run.style.layer == run_.style.layer && run.style.color == run_.style.color &&
           run.textStyle == run_.textStyle && close(run.rotationDeg, run_.rotationDeg) &&
           close(run.height, run_.height) && close(run.widthFactor, run_.widthFactor);
}

void TextGrouper::startRun(TextRun run)
{
    if (!sameRun(run))
        flush();
    run_ = std::move(run);
    haveRun_ = true;
}

void TextGrouper::addGlyph(Vec2 origin, double advanceMm, int unicode)
{
    const double em = run_.emMm > 0 ? run_.emMm : 1;
    if (open_) {
        const double dx = origin.x - next_.x, dy = origin.y - next_.y;
        const double along = (dx * run_.direction.x + dy * run_.direction.y) / em;
        const double across = (run_.direction.x * dy - run_.direction.y * dx) / em;
        if (std::abs(across) > kOffBaselineEm || along < kBackGapEm ||
            along > (objectStart_ ? kObjectGapEm : kBreakGapEm))
            flush();
        else if (along > kSpaceGapEm && !isBlank(unicode) && !text_.utf8.empty() && text_.utf8.back() != ' ')
            text_.utf8 += ' ';
    }
    objectStart_ = false;
    const Vec2 next{origin.x + advanceMm * run_.direction.x, origin.y + advanceMm * run_.direction.y};
    if (!open_) {
        if (unicode < 0x20 || isBlank(unicode))
            return; // a Text starts at its first visible character
        text_ = Text{};
        text_.insertion = origin;
        text_.height = run_.height;
        text_.rotationDeg = run_.rotationDeg;
        text_.widthFactor = run_.widthFactor;
        text_.style = run_.textStyle;
        open_ = true;
    }
    if (isBlank(unicode))
        text_.utf8 += ' ';
    else if (unicode >= 0x20)
        appendUtf8(text_.utf8, unicode < 0 ? kReplacementCharacter : char32_t(unicode));
    next_ = next;
}

void TextGrouper::addToLastGlyph(int unicode)
{
    if (open_ && unicode >= 0x20)
        appendUtf8(text_.utf8, unicode < 0 ? kReplacementCharacter : char32_t(unicode));
}

void TextGrouper::flush()
{
    if (!open_)
        return;
    open_ = false;
    while (!text_.utf8.empty() && text_.utf8.back() == ' ')
        text_.utf8.pop_back();
    text_.lengthMm = std::hypot(next_.x - text_.insertion.x, next_.y - text_.insertion.y);
    if (!text_.utf8.empty())
        out_.push_back({run_.style, std::move(text_)});
}

} // namespace unplot::engine
