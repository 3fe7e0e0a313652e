// Encoder for packed entries: LZSS over a 4096-byte window with matches of 3
// to 30 bytes, literals and lengths coded with the adaptive Huffman model of
// decoder.h (the same tree, updated the same way after every symbol), match
// offsets with the fixed offset code.
//
// The stream relies on nothing beyond the published coding with a longest
// match of 30: the window starts with blanks at 0..4065 and the write
// position at 4066, and a match only ever reads those blanks or bytes
// already produced (never the last 30 window positions before they are
// written).
#include "encoder/encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "payload/decoder.h"

namespace {

// The data is seen behind a prefix of kWindowStart blanks, the decoder's
// initial window, so that a match may start inside them.
constexpr std::size_t kPrefix = kWindowStart;

// Match finding tables.
constexpr int kHash3Bits = 14;
constexpr int kHash4Bits = 15;
constexpr std::size_t kChainMask = kWindowSize - 1;
// Chain steps per search in the greedy and lazy parses. A match of
// kLongestMatch ends a search at once.
constexpr int kMaxChain = 256;
// Chain steps per position in the optimal parse, which searches every
// position: fewer, and fewer still inside a match of the longest length,
// where a long match is all but certain to be taken anyway.
constexpr int kOptimalChain = 96;
constexpr int kInsideLongChain = 32;
// A match at least this long is taken without looking one position ahead.
constexpr int kLazyEnough = 24;

constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// ---- Bit output ---------------------------------------------------------------

struct BitWriter {
    std::vector<std::uint8_t>* out = nullptr;
    std::uint64_t bits = 0;  // pending bits, right-aligned
    int count = 0;           // number of pending bits (< 8 between calls)
};

// Appends the low `n` bits of `value`, highest first; n <= 56.
inline void PutBits(BitWriter& w, std::uint64_t value, int n) {
    w.bits = (w.bits << n) | (value & ((std::uint64_t{1} << n) - 1));
    w.count += n;
    while (w.count >= 8) {
        w.count -= 8;
        w.out->push_back(static_cast<std::uint8_t>(w.bits >> w.count));
    }
    w.bits &= (std::uint64_t{1} << w.count) - 1;
}

// Pads the last byte with zero bits.
void FlushBits(BitWriter& w) {
    if (w.count > 0) w.out->push_back(static_cast<std::uint8_t>(w.bits << (8 - w.count)));
    w.bits = 0;
    w.count = 0;
}

// ---- Symbol and offset codes ---------------------------------------------------------

// Writes the current code of `symbol`, then counts it in the model exactly
// as the decoder will after reading it.
void PutSymbol(BitWriter& writer, LzhufTree& tree, int symbol) {
    // Walk from the leaf to the root; a node's bit is its place among the
    // two siblings (the first child always has an even index). The leaf's
    // bit ends the code, so the bits gather from the low end. A tree whose
    // frequencies add up to at most 0x8000 is far less than 64 levels deep.
    std::uint64_t code = 0;
    int length = 0;
    for (int n = tree.parent[kNodeCount + symbol]; n != kRoot; n = tree.parent[n]) {
        code |= std::uint64_t(n & 1) << length;
        ++length;
    }
    if (length > 32) {
        PutBits(writer, code >> 32, length - 32);
        PutBits(writer, code & 0xFFFFFFFFu, 32);
    } else {
        PutBits(writer, code, length);
    }
    UpdateTree(&tree, symbol);
}

struct OffsetEncoding {
    std::uint8_t code[64];    // the code of each upper six-bit value
    std::uint8_t length[64];  // its length in bits
};

OffsetEncoding MakeOffsetEncoding() {
    OffsetEncoding e{};
    for (int first = 255; first >= 0; --first) {
        int upper = kOffsetCode.upper[first];
        int length = kOffsetCode.length[first];
        e.code[upper] = static_cast<std::uint8_t>(first >> (8 - length));
        e.length[upper] = static_cast<std::uint8_t>(length);
    }
    return e;
}

const OffsetEncoding kOffsetEncoding = MakeOffsetEncoding();

void PutOffset(BitWriter& w, int offset) {
    int upper = offset >> 6;
    int length = kOffsetEncoding.length[upper];
    PutBits(w, (std::uint64_t{kOffsetEncoding.code[upper]} << 6) | static_cast<unsigned>(offset & 0x3F), length + 6);
}

// ---- Match finding --------------------------------------------------------------------

struct Match {
    int length = 0;    // 0: none of at least kShortestMatch
    int distance = 0;  // 1..4096; the coded offset is distance - 1
};

// Candidates for a match: the nearest earlier position with the same
// three-byte hash (enough for matches of three bytes), and chains of earlier
// positions with the same four-byte hash for longer ones. Chains live in a
// ring of one window's size: a slot is reused once its position is out of
// reach.
struct MatchFinder {
    // The text is the blanks prefix followed by the data; positions count
    // from its start. Only a stretch of it is held: buffer[0] is the byte
    // at position `base`, and positions below `filled` are loaded.
    std::vector<std::uint8_t> buffer;
    std::size_t base = 0;
    std::size_t filled = 0;
    std::size_t size = 0;  // positions of the whole text
    std::vector<std::uint32_t> head3;
    std::vector<std::uint32_t> head4;
    std::vector<std::uint32_t> prev4;
    std::size_t inserted = 0;  // positions below this are in the tables
};

inline const std::uint8_t* At(const MatchFinder& f, std::size_t pos) { return f.buffer.data() + (pos - f.base); }

inline std::uint32_t Hash3(const std::uint8_t* p) {
    std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHash3Bits);
}

inline std::uint32_t Hash4(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - kHash4Bits);
}

// Bytes in common at `a` and `b`, at most `limit` (<= 30). Reads eight bytes
// at a time while they stay inside the limit.
inline int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int length = 0;
    while (length + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (std::uint64_t diff = x ^ y) {
            if constexpr (std::endian::native == std::endian::little)
                return length + (std::countr_zero(diff) >> 3);
            else
                return length + (std::countl_zero(diff) >> 3);
        }
        length += 8;
    }
    while (length < limit && a[length] == b[length]) ++length;
    return length;
}

// Adds every position below `upTo`: to the three-byte table when three
// bytes start there, to the chains when four do.
inline void InsertUpTo(MatchFinder& f, std::size_t upTo) {
    for (std::size_t p = f.inserted; p < upTo; ++p) {
        if (p + 4 <= f.size) {
            std::uint32_t h = Hash4(At(f, p));
            f.prev4[p & kChainMask] = f.head4[h];
            f.head4[h] = static_cast<std::uint32_t>(p);
        }
        if (p + 3 <= f.size) f.head3[Hash3(At(f, p))] = static_cast<std::uint32_t>(p);
    }
    if (upTo > f.inserted) f.inserted = upTo;
}

inline bool InReach(std::size_t candidate, std::size_t pos) {
    return candidate < pos && pos - candidate <= static_cast<std::size_t>(kWindowSize);
}

// Every useful match for the text at `pos`, at most `limit` bytes long,
// from sources at most 4096 bytes back and never before the text's start:
// distanceOf[m] is the nearest distance that gives a match of m bytes, for
// m from kShortestMatch to the returned longest length (0 when none).
// Looks at no more than `maxChain` chain entries.
int FindMatches(MatchFinder& f, std::size_t pos, int limit, int maxChain, std::uint16_t* distanceOf) {
    if (limit < kShortestMatch) return 0;
    InsertUpTo(f, pos);
    const std::uint8_t* cur = At(f, pos);
    int longest = 0;
    auto consider = [&](std::size_t c) {
        int length = MatchLength(At(f, c), cur, limit);
        if (length > longest && length >= kShortestMatch) {
            for (int m = std::max(longest + 1, kShortestMatch); m <= length; ++m)
                distanceOf[m] = static_cast<std::uint16_t>(pos - c);
            longest = length;
        }
    };

    std::uint32_t near = f.head3[Hash3(cur)];
    if (near != kNoPosition && InReach(near, pos)) consider(near);
    if (limit < 4 || longest == limit) return longest;

    std::uint32_t candidate = f.head4[Hash4(cur)];
    for (int steps = 0; steps < maxChain && candidate != kNoPosition; ++steps) {
        std::size_t c = candidate;
        if (!InReach(c, pos)) break;
        // Only a candidate that also agrees at the current longest length
        // can beat it.
        if (At(f, c)[longest] == cur[longest]) {
            consider(c);
            if (longest == limit) break;
        }
        std::uint32_t next = f.prev4[c & kChainMask];
        if (next >= c) break;  // none, or the slot was reused by a newer position
        candidate = next;
    }
    return longest;
}

// The longest match at `pos` (the nearest one among equals).
Match FindMatch(MatchFinder& f, std::size_t pos) {
    Match best;
    std::uint16_t distanceOf[kLongestMatch + 1];
    int limit = static_cast<int>(std::min<std::size_t>(f.size - pos, kLongestMatch));
    int longest = FindMatches(f, pos, limit, kMaxChain, distanceOf);
    if (longest >= kShortestMatch) {
        best.length = longest;
        best.distance = distanceOf[longest];
    }
    return best;
}

// ---- Parses --------------------------------------------------------------------------------

struct Encoder {
    MatchFinder finder;
    LzhufTree tree;
    BitWriter writer;
    const LzhufRead* read = nullptr;
    const LzhufWrite* write = nullptr;
    std::vector<std::uint8_t> out;  // coded bytes not yet handed to `write`
    bool failed = false;            // a read or a write failed: stop
};

// Output is handed on in pieces of this size or more.
constexpr std::size_t kOutPiece = 1 << 16;
// The held stretch of text: a window behind the earliest position the parse
// still needs, room for an optimal parse's block and its longest match
// ahead, and more, so that sliding (one memmove of a window) is rare.
constexpr std::size_t kHeld = kWindowSize + (1 << 16);
// Bytes past the held stretch that are always there (zero beyond the text's
// end) for reads a little past a match's end.
constexpr std::size_t kSlack = 8;

void Drain(Encoder& e) {
    if (!e.failed && !e.out.empty() && !(*e.write)(e.out.data(), e.out.size())) e.failed = true;
    e.out.clear();
}

// Makes positions from a window before `from` (or the text's start) up to
// `upTo` (or the text's end) available; false once a read or write failed.
// `from` is the earliest position the parse will still read, and no earlier
// than the match finder's own last position.
bool Ensure(Encoder& e, std::size_t from, std::size_t upTo) {
    if (e.out.size() >= kOutPiece) Drain(e);
    if (e.failed) return false;
    MatchFinder& f = e.finder;
    upTo = std::min(upTo, f.size);
    if (upTo <= f.filled) return true;
    from = std::min(from, f.inserted);
    std::size_t keep = from > static_cast<std::size_t>(kWindowSize) ? from - kWindowSize : 0;
    if (upTo - keep > kHeld) {  // a parse asked for more than is held: never so
        e.failed = true;
        return false;
    }
    keep = std::max(keep, f.base);
    if (upTo > f.base + kHeld) {
        std::memmove(f.buffer.data(), At(f, keep), f.filled - keep);
        f.base = keep;
    }
    // Fill the held stretch as far as it goes, not just to `upTo`.
    std::size_t want = std::min(f.size, f.base + kHeld);
    while (f.filled < kPrefix && f.filled < want) f.buffer[f.filled++ - f.base] = ' ';
    while (f.filled < want) {
        std::size_t got = (*e.read)(f.buffer.data() + (f.filled - f.base), want - f.filled);
        if (got == 0 || got > want - f.filled) {
            e.failed = true;
            return false;
        }
        f.filled += got;
    }
    if (f.filled == f.size) std::memset(f.buffer.data() + (f.filled - f.base), 0, kSlack);
    return true;
}

void PutLiteral(Encoder& e, std::size_t pos) { PutSymbol(e.writer, e.tree, *At(e.finder, pos)); }

void PutMatch(Encoder& e, int length, int distance) {
    PutSymbol(e.writer, e.tree, 256 - kShortestMatch + length);
    PutOffset(e.writer, distance - 1);
}

// Bytes past a greedy or lazy parse's position that one turn of its loop
// may read: a match, then the search after it and the one after that.
constexpr std::size_t kLookahead = 2 * kLongestMatch + 2;

void ParseGreedy(Encoder& e) {
    std::size_t pos = kPrefix;
    const std::size_t end = e.finder.size;
    while (pos < end) {
        if (!Ensure(e, pos, pos + kLookahead)) return;
        Match m = FindMatch(e.finder, pos);
        if (m.length >= kShortestMatch) {
            PutMatch(e, m.length, m.distance);
            pos += static_cast<std::size_t>(m.length);
        } else {
            PutLiteral(e, pos);
            pos += 1;
        }
    }
}

// A match is held back while the next position offers a longer one, which
// then replaces it behind a literal.
void ParseLazy(Encoder& e) {
    std::size_t pos = kPrefix;
    const std::size_t end = e.finder.size;
    if (!Ensure(e, pos, pos + kLookahead)) return;
    Match current = FindMatch(e.finder, pos);
    while (pos < end) {
        if (!Ensure(e, pos, pos + kLookahead)) return;
        if (current.length < kShortestMatch) {
            PutLiteral(e, pos);
            pos += 1;
            current = FindMatch(e.finder, pos);
            continue;
        }
        if (current.length < kLazyEnough && pos + 1 < end) {
            Match next = FindMatch(e.finder, pos + 1);
            if (next.length > current.length) {
                PutLiteral(e, pos);
                pos += 1;
                current = next;
                continue;
            }
        }
        PutMatch(e, current.length, current.distance);
        pos += static_cast<std::size_t>(current.length);
        current = pos < end ? FindMatch(e.finder, pos) : Match{};
    }
}

// Bits of each symbol's code in the current tree: the depth of its leaf.
void CodeLengths(const LzhufTree& tree, std::uint32_t* bitsOf) {
    // Parents stand above their children, so one pass from the root down
    // gives every node's depth.
    std::uint32_t depth[kNodeCount];
    depth[kRoot] = 0;
    for (int n = kRoot; n >= 0; --n) {
        int c = tree.child[n];
        if (c >= kNodeCount) {
            bitsOf[c - kNodeCount] = depth[n];
        } else {
            depth[c] = depth[c + 1] = depth[n] + 1;
        }
    }
}

// The cheapest sequence of literals and matches through each block, with
// every symbol costed at its code length in the tree as the block begins
// and every offset at its exact length. The tree changes within a block,
// so the costs are estimates; code lengths change slowly, while a match
// never crosses a block's end, so long blocks pay.
void ParseOptimal(Encoder& e) {
    constexpr std::size_t kBlock = 16384;
    constexpr std::uint32_t kUnreached = 0xFFFFFFFFu;
    struct Step {
        std::uint32_t cost;     // bits from the block's start to here
        std::uint16_t length;   // how this position is reached: 1 literal, else a match
        std::uint16_t distance;
    };
    std::vector<Step> steps(kBlock + 1);
    std::vector<std::uint32_t> path;  // lengths of the chosen steps, last first
    std::uint16_t distanceOf[kLongestMatch + 1] = {};
    std::uint32_t bitsOf[kSymbolCount];
    std::uint32_t offsetBits[kWindowSize];
    for (int d = 1; d <= kWindowSize; ++d) offsetBits[d - 1] = kOffsetEncoding.length[(d - 1) >> 6] + 6u;

    const std::size_t end = e.finder.size;
    for (std::size_t blockStart = kPrefix; blockStart < end;) {
        std::size_t n = std::min(kBlock, end - blockStart);
        if (!Ensure(e, blockStart, blockStart + n)) return;
        CodeLengths(e.tree, bitsOf);
        steps[0] = Step{0, 0, 0};
        for (std::size_t i = 1; i <= n; ++i) steps[i].cost = kUnreached;
        std::size_t skipUntil = 0;

        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t here = steps[i].cost;
            std::size_t pos = blockStart + i;
            std::uint32_t literal = here + bitsOf[*At(e.finder, pos)];
            if (literal < steps[i + 1].cost) steps[i + 1] = Step{literal, 1, 0};
            int limit = static_cast<int>(std::min<std::size_t>(kLongestMatch, n - i));
            int chain = i < skipUntil ? kInsideLongChain : kOptimalChain;
            int longest = FindMatches(e.finder, pos, limit, chain, distanceOf);
            if (longest == kLongestMatch) skipUntil = i + kLongestMatch - 1;
            for (int m = kShortestMatch; m <= longest; ++m) {
                std::uint32_t cost =
                    here + bitsOf[256 - kShortestMatch + m] + offsetBits[distanceOf[m] - 1];
                Step& to = steps[i + static_cast<std::size_t>(m)];
                if (cost < to.cost) to = Step{cost, static_cast<std::uint16_t>(m), distanceOf[m]};
            }
        }

        path.clear();
        for (std::size_t i = n; i > 0; i -= steps[i].length) path.push_back(static_cast<std::uint32_t>(i));
        std::size_t pos = blockStart;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            const Step& step = steps[*it];
            if (step.length == 1) {
                PutLiteral(e, pos);
            } else {
                PutMatch(e, step.length, step.distance);
            }
            pos += step.length;
        }
        blockStart += n;
    }
}

}  // namespace

bool LzhufEncodeStream(std::size_t size, LzhufParse parse, const LzhufRead& read, const LzhufWrite& write) {
    if (size == 0) return true;
    Encoder e;
    e.read = &read;
    e.write = &write;
    e.out.reserve(kOutPiece + 64);
    e.finder.buffer.assign(kHeld + kSlack, 0);
    e.finder.size = kPrefix + size;
    e.finder.head3.assign(std::size_t{1} << kHash3Bits, kNoPosition);
    e.finder.head4.assign(std::size_t{1} << kHash4Bits, kNoPosition);
    e.finder.prev4.assign(kWindowSize, kNoPosition);
    InitTree(&e.tree);
    e.writer.out = &e.out;

    switch (parse) {
        case LzhufParse::Greedy: ParseGreedy(e); break;
        case LzhufParse::Lazy: ParseLazy(e); break;
        case LzhufParse::Optimal: ParseOptimal(e); break;
    }
    if (e.failed) return false;
    FlushBits(e.writer);
    Drain(e);
    return !e.failed;
}

std::vector<std::uint8_t> LzhufEncode(const std::uint8_t* data, std::size_t size, LzhufParse parse) {
    std::vector<std::uint8_t> out;
    out.reserve(size / 2 + 64);
    std::size_t taken = 0;
    LzhufEncodeStream(
        size, parse,
        [&](std::uint8_t* into, std::size_t most) {
            std::size_t n = std::min(most, size - taken);
            std::memcpy(into, data + taken, n);
            taken += n;
            return n;
        },
        [&](const std::uint8_t* bytes, std::size_t n) {
            out.insert(out.end(), bytes, bytes + n);
            return true;
        });
    return out;
}
