#include "compress2007.h"

#include "lz77.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace unplot::engine::dwg {
namespace {

// How a reader lays out a literal tail of n bytes (1 to 31): pieces taken in turn, each `kind` bytes from `at` in
// the stored run. Kinds 1, 4 and 8 copy in order, 2 and 3 reversed, 16 as its two halves swapped.
struct Piece {
    std::uint8_t kind, at;
};
constexpr std::array<std::array<Piece, 5>, 32> kTail = {{
    {},
    {{{1, 0}}},
    {{{2, 0}}},
    {{{3, 0}}},
    {{{4, 0}}},
    {{{1, 4}, {4, 0}}},
    {{{1, 5}, {4, 1}, {1, 0}}},
    {{{2, 5}, {4, 1}, {1, 0}}},
    {{{8, 0}}},
    {{{1, 8}, {8, 0}}},
    {{{1, 9}, {8, 1}, {1, 0}}},
    {{{2, 9}, {8, 1}, {1, 0}}},
    {{{4, 8}, {8, 0}}},
    {{{1, 12}, {4, 8}, {8, 0}}},
    {{{1, 13}, {4, 9}, {8, 1}, {1, 0}}},
    {{{2, 13}, {4, 9}, {8, 1}, {1, 0}}},
    {{{16, 0}}},
    {{{8, 9}, {1, 8}, {8, 0}}},
    {{{1, 17}, {16, 1}, {1, 0}}},
    {{{3, 16}, {16, 0}}},
    {{{4, 16}, {16, 0}}},
    {{{1, 20}, {4, 16}, {16, 0}}},
    {{{2, 20}, {4, 16}, {16, 0}}},
    {{{3, 20}, {4, 16}, {16, 0}}},
    {{{8, 16}, {16, 0}}},
    {{{8, 17}, {1, 16}, {16, 0}}},
    {{{1, 25}, {8, 17}, {1, 16}, {16, 0}}},
    {{{2, 25}, {8, 17}, {1, 16}, {16, 0}}},
    {{{4, 24}, {8, 16}, {16, 0}}},
    {{{1, 28}, {4, 24}, {8, 16}, {16, 0}}},
    {{{2, 28}, {4, 24}, {8, 16}, {16, 0}}},
    {{{1, 30}, {4, 26}, {8, 18}, {16, 2}, {2, 0}}},
}};

// slot[n][i]: where byte i of an n-byte tail is stored.
std::array<std::array<std::uint8_t, 32>, 32> makeTailSlots()
{
    std::array<std::array<std::uint8_t, 32>, 32> slots{};
    for (std::size_t n = 1; n < 32; ++n) {
        std::size_t i = 0;
        for (const Piece& p : kTail[n]) {
            for (std::size_t k = 0; k < p.kind; ++k) {
                std::size_t from = k;
                if (p.kind == 2 || p.kind == 3)
                    from = p.kind - 1 - k;
                else if (p.kind == 16)
                    from = k < 8 ? k + 8 : k - 8;
                slots[n][i++] = std::uint8_t(p.at + from);
            }
        }
        if (i != n)
            throw std::logic_error("2007 literal order table");
    }
    return slots;
}

const std::array<std::array<std::uint8_t, 32>, 32>& tailSlots()
{
    static const auto slots = makeTailSlots();
    return slots;
}

constexpr std::size_t kMaxDistance = 0xffff;
constexpr std::size_t kMaxLength = 0x100 + 0xffff;

class Encoder {
public:
    explicit Encoder(std::vector<std::uint8_t>& out) : out_(out) {}

    void literalRun(const std::uint8_t* p, std::size_t n)
    {
        const std::size_t start = out_.size();
        out_.resize(start + n);
        for (std::size_t i = 0; i < n; ++i)
            out_[start + literalSlot2007(n, i)] = p[i];
    }

    // A run of 8 or more literals announced by its own opcode (0x00 to 0x0F, then extension bytes).
    void literalLength(std::size_t n)
    {
        if (n - 8 < 0x0f) {
            out_.push_back(std::uint8_t(n - 8));
            return;
        }
        out_.push_back(0x0f);
        std::size_t rest = n - 0x17;
        if (rest < 0xff) {
            out_.push_back(std::uint8_t(rest));
            return;
        }
        out_.push_back(0xff);
        rest -= 0xff;
        for (;;) {
            const std::size_t piece = std::min<std::size_t>(rest, 0xffff);
            out_.push_back(std::uint8_t(piece & 0xff));
            out_.push_back(std::uint8_t(piece >> 8));
            rest -= piece;
            if (piece != 0xffff)
                break;
        }
    }

    // A back reference; `following` literals (1 to 7) ride in the low bits of its last byte. Right after a match,
    // an opcode 0x0? would start a literal run, so the long form uses 0xF? there (readers map it to 0x0?).
    void match(std::size_t distance, std::size_t length, std::size_t following, bool afterLiterals)
    {
        const auto low = std::uint8_t(following >= 1 && following <= 7 ? following : 0);
        const std::size_t v = distance - 1;
        if (length <= 14 && distance <= 0x200) {
            out_.push_back(std::uint8_t((length << 4) | (v & 0x0f)));
            out_.push_back(std::uint8_t(((v >> 4) << 3) | low));
        } else if (length <= 18 && distance <= 0x2000) {
            out_.push_back(std::uint8_t(0x10 | (length - 3)));
            out_.push_back(std::uint8_t(v & 0xff));
            out_.push_back(std::uint8_t(((v >> 8) << 3) | low));
        } else if (length >= 19 && length <= 50 && distance <= 0x1000) {
            const std::size_t extra = length - 19;
            out_.push_back(std::uint8_t((afterLiterals ? 0x00 : 0xf0) | (extra & 0x0f)));
            out_.push_back(std::uint8_t(v & 0xff));
            out_.push_back(std::uint8_t((extra >= 16 ? 0x80 : 0) | ((v >> 8) << 3) | low));
        } else if (length < 0x100) {
            out_.push_back(std::uint8_t(0x20 | (length & 7)));
            out_.push_back(std::uint8_t(distance & 0xff));
            out_.push_back(std::uint8_t(distance >> 8));
            out_.push_back(std::uint8_t((length & 0xf8) | low));
        } else {
            const std::size_t rest = length - 0x100;
            out_.push_back(std::uint8_t(0x28 | (rest & 7)));
            out_.push_back(std::uint8_t(v & 0xff));
            out_.push_back(std::uint8_t(v >> 8));
            out_.push_back(std::uint8_t((rest >> 3) & 0xff));
            out_.push_back(std::uint8_t(((rest >> 11) << 3) | low));
        }
    }

private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace

std::size_t literalSlot2007(std::size_t size, std::size_t i)
{
    const std::size_t blocks = size / 32;
    if (i < blocks * 32) {
        const std::size_t quarter = (i % 32) / 8;
        return i / 32 * 32 + (3 - quarter) * 8 + i % 8;
    }
    return blocks * 32 + tailSlots()[size % 32][i - blocks * 32];
}

std::vector<std::uint8_t> compress2007(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        throw std::invalid_argument("2007 compression: nothing to compress");
    std::size_t trailing = 0;
    const std::vector<Match> tokens = findMatches(data, size, {kMaxDistance, kMaxLength}, trailing);

    std::vector<std::uint8_t> out;
    out.reserve(size / 2 + 16);
    Encoder e(out);
    const std::size_t first = tokens.empty() ? trailing : tokens.front().literals;  // at least 1: nothing to refer to
    if (first < 8) {
        out.insert(out.end(), {0x20, 0, 0, std::uint8_t(first)});
    } else {
        e.literalLength(first);
    }
    e.literalRun(data, first);

    std::size_t at = first;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const Match& t = tokens[k];
        const std::size_t following = k + 1 < tokens.size() ? tokens[k + 1].literals : trailing;
        e.match(t.distance, t.length, following, t.literals > 0);
        at += t.length;
        if (following >= 8)
            e.literalLength(following);
        e.literalRun(data + at, following);
        at += following;
    }
    return out;
}

}  // namespace unplot::engine::dwg
