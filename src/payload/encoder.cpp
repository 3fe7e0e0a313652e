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
#include "payload/encoder.h"

#include <algorithm>
#include <cstring>

#include "payload/decoder.h"

namespace {

// The data is seen behind a prefix of kWindowStart blanks, the decoder's
// initial window, so that a match may start inside them.
constexpr std::size_t kPrefix = kWindowStart;

// Hash chains over three-byte prefixes.
constexpr int kHashBits = 14;
constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
constexpr std::size_t kChainMask = kWindowSize - 1;
// Chain steps per search. A match of kLongestMatch ends a search at once.
constexpr int kMaxChain = 256;
// A match at least this long is taken without looking one position ahead.
constexpr int kLazyEnough = 24;

constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// ---- Bit output ---------------------------------------------------------------

struct BitWriter {
    std::vector<std::uint8_t>* out;
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

struct MatchFinder {
    const std::uint8_t* text;  // blanks prefix + data
    std::size_t size;          // bytes in text
    std::vector<std::uint32_t> head;
    std::vector<std::uint32_t> prev;
    std::size_t inserted = 0;  // positions below this are in the chains
};

inline std::uint32_t Hash3(const std::uint8_t* p) {
    std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Adds every position below `upTo` that starts three bytes.
inline void InsertUpTo(MatchFinder& f, std::size_t upTo) {
    std::size_t last = f.size >= 3 ? f.size - 2 : 0;
    if (upTo > last) upTo = last;
    for (std::size_t p = f.inserted; p < upTo; ++p) {
        std::uint32_t h = Hash3(f.text + p);
        f.prev[p & kChainMask] = f.head[h];
        f.head[h] = static_cast<std::uint32_t>(p);
    }
    if (upTo > f.inserted) f.inserted = upTo;
}

// The longest match for the text at `pos` (nearest one among equals), from
// sources at most 4096 bytes back and never before the text's start.
Match FindMatch(MatchFinder& f, std::size_t pos) {
    Match best;
    std::size_t avail = f.size - pos;
    if (avail < static_cast<std::size_t>(kShortestMatch)) return best;
    int limit = static_cast<int>(std::min<std::size_t>(avail, kLongestMatch));
    InsertUpTo(f, pos);
    const std::uint8_t* cur = f.text + pos;
    std::uint32_t candidate = f.head[Hash3(cur)];
    for (int steps = 0; steps < kMaxChain && candidate != kNoPosition; ++steps) {
        std::size_t c = candidate;
        if (c >= pos || pos - c > static_cast<std::size_t>(kWindowSize)) break;
        const std::uint8_t* src = f.text + c;
        if (src[best.length] == cur[best.length] || best.length == 0) {
            int length = 0;
            while (length < limit && src[length] == cur[length]) ++length;
            if (length > best.length && length >= kShortestMatch) {
                best.length = length;
                best.distance = static_cast<int>(pos - c);
                if (length == limit) break;
            }
        }
        std::uint32_t next = f.prev[c & kChainMask];
        if (next == kNoPosition || next >= c) break;  // the slot was reused by a newer position
        candidate = next;
    }
    return best;
}

}  // namespace

std::vector<std::uint8_t> LzhufEncode(const std::uint8_t* data, std::size_t size, LzhufParse parse) {
    std::vector<std::uint8_t> out;
    if (size == 0) return out;
    out.reserve(size / 2 + 64);

    std::vector<std::uint8_t> text(kPrefix + size);
    std::memset(text.data(), ' ', kPrefix);
    std::memcpy(text.data() + kPrefix, data, size);

    MatchFinder finder;
    finder.text = text.data();
    finder.size = text.size();
    finder.head.assign(kHashSize, kNoPosition);
    finder.prev.assign(kWindowSize, kNoPosition);
    // Only the last window's worth of the blank prefix can ever be reached.
    finder.inserted = 0;

    LzhufTree tree;
    InitTree(&tree);
    BitWriter writer{&out};

    auto putLiteral = [&](std::size_t pos) { PutSymbol(writer, tree, text[pos]); };
    auto putMatch = [&](const Match& m) {
        PutSymbol(writer, tree, 253 + m.length);
        PutOffset(writer, m.distance - 1);
    };

    std::size_t pos = kPrefix;
    const std::size_t end = text.size();
    if (parse == LzhufParse::Greedy) {
        while (pos < end) {
            Match m = FindMatch(finder, pos);
            if (m.length >= kShortestMatch) {
                putMatch(m);
                pos += static_cast<std::size_t>(m.length);
            } else {
                putLiteral(pos);
                pos += 1;
            }
        }
    } else {
        // Lazy: a match is held back while the next position offers a
        // longer one, which then replaces it behind a literal.
        Match current = FindMatch(finder, pos);
        while (pos < end) {
            if (current.length < kShortestMatch) {
                putLiteral(pos);
                pos += 1;
                current = FindMatch(finder, pos);
                continue;
            }
            if (current.length < kLazyEnough && pos + 1 < end) {
                Match next = FindMatch(finder, pos + 1);
                if (next.length > current.length) {
                    putLiteral(pos);
                    pos += 1;
                    current = next;
                    continue;
                }
            }
            putMatch(current);
            pos += static_cast<std::size_t>(current.length);
            current = pos < end ? FindMatch(finder, pos) : Match{};
        }
    }
    FlushBits(writer);
    return out;
}
