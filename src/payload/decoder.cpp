// Decoder of packed entries. See decoder.h for the coding and the contract.
//
// Everything a decode touches lives in the caller's state block of fixed
// size; nothing is allocated. Input comes through a 16384-byte read buffer; output
// leaves in chunks of at most 16384 bytes from a buffer that also holds the
// text window in front of the chunk, so a match copies within one array.
#include "payload/decoder.h"

#include <bit>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int kBufferSize = kDecodeBufferSize;
constexpr std::uint16_t kSentinel = 0xFFFF;
constexpr std::uint8_t kBelowTable = 0xFF;  // LookupTable::depth of a node below the table
// 32-bit x86: few registers, and machine words of four bytes.
constexpr bool kFewRegisters = sizeof(void*) < 8;

// ---- Offset code tables --------------------------------------------------------

// Code lengths by upper six bits: 0 -> 3 bits, 1..3 -> 4, 4..11 -> 5,
// 12..23 -> 6, 24..47 -> 7, 48..63 -> 8. The codes are canonical in order
// of the upper value, so each value owns 2^(8 - length) consecutive values
// of the first byte read.
constexpr int OffsetCodeLength(int upper) {
    return upper < 1 ? 3 : upper < 4 ? 4 : upper < 12 ? 5 : upper < 24 ? 6 : upper < 48 ? 7 : 8;
}

constexpr OffsetCodeTables MakeOffsetTables() {
    OffsetCodeTables t{};
    int first = 0;
    for (int upper = 0; upper < 64; ++upper) {
        int length = OffsetCodeLength(upper);
        for (int k = 0; k < (1 << (8 - length)); ++k) {
            t.upper[first] = static_cast<std::uint8_t>(upper);
            t.length[first] = static_cast<std::uint8_t>(length);
            ++first;
        }
    }
    return t;
}

constexpr OffsetCodeTables kOffsetTables = MakeOffsetTables();

// ---- Bit input -------------------------------------------------------------------

// The bit cursor of the running decode, kept in registers by the decoding
// loop: one machine word, so that a 32-bit build shifts single registers.
// The valid bits stand at the top of `bits`, `count` of them. The bits
// below them are either zero or already the next bytes of the read buffer at
// their final places (a refill ORs the same bits again).
using BitWord = std::uintptr_t;
constexpr int kWordBits = 8 * sizeof(BitWord);
// A refill from the buffer leaves more than kWordBits - 8 bits valid; the
// largest number of bits any caller asks for at once is 8.
constexpr int kMostBitsNeeded = 8;
static_assert(kMostBitsNeeded <= kWordBits - 8);

struct BitCursor {
    BitWord bits;
    int count;
};

void ResetReader(DecoderState& s, OsFile input, std::int32_t storedSize) {
    s.input = input;
    s.readPos = 0;
    s.readEnd = 0;
    s.inputLeft = storedSize;
    std::memset(s.readBuffer, 0, sizeof s.readBuffer);
    s.zeroBits = 0;
    s.inputCut = 0;
}

// Takes whole bytes from the read buffer into the bit cursor while they
// fit, without reading the file.
inline void FillFromBuffer(DecoderState& s, BitCursor& b) {
    int avail = s.readEnd - s.readPos;
    if (avail >= static_cast<int>(sizeof(BitWord))) {
        // The next word's bytes, first one highest: one load, one swap.
        BitWord v;
        std::memcpy(&v, s.readBuffer + s.readPos, sizeof v);
        if constexpr (std::endian::native == std::endian::little) {
            if constexpr (sizeof v == 8)
                v = __builtin_bswap64(v);
            else
                v = __builtin_bswap32(v);
        }
        b.bits |= v >> b.count;
        int n = (kWordBits - 1 - b.count) >> 3;
        s.readPos += n;
        b.count += 8 * n;
        s.inputLeft -= n;
    } else {
        while (b.count <= kWordBits - 8 && s.readPos < s.readEnd) {
            b.bits |= BitWord{s.readBuffer[s.readPos++]} << (kWordBits - 8 - b.count);
            b.count += 8;
            --s.inputLeft;
        }
    }
}

// ReadPtr: refills the empty read buffer with the next block of the entry,
// min(16384, bytes still to consume), in one read call. Returns 0 when no
// byte can be had: the stored size is used up, or the file ended early (then
// the rest of the entry counts as zero bytes, never as stale buffer bytes).
int ReadPtr(DecoderState& s) {
    if (s.inputLeft <= 0) return 0;
    std::uint32_t want = s.inputLeft < kBufferSize ? static_cast<std::uint32_t>(s.inputLeft) : kBufferSize;
    std::int32_t got = g_platform->FileRead(s.input, s.readBuffer, want);
    if (got <= 0) {
        s.inputCut = 1;
        s.inputLeft = 0;
        s.readPos = s.readEnd = 0;
        return 0;
    }
    s.readPos = 0;
    s.readEnd = got;
    return 1;
}

// Makes at least `need` (1..kMostBitsNeeded) bits valid, reading the file
// only for bytes that are needed now. Past the stored size the stream goes
// on with zero bits.
[[gnu::noinline]] BitCursor RefillBits(DecoderState& s, BitCursor b, int need) {
    while (b.count < need) {
        if (s.readPos == s.readEnd && !ReadPtr(s)) {
            // Nothing more to read: clear what lies below the valid bits
            // and go on with zeros.
            b.bits &= b.count ? ~BitWord{0} << (kWordBits - b.count) : 0;
            s.zeroBits += static_cast<std::uint64_t>(kWordBits - 8 - b.count);
            b.count = kWordBits - 8;
            break;
        }
        FillFromBuffer(s, b);
    }
    return b;
}

// Makes at least `need` bits valid: from the buffer in line when a whole
// word waits there, else through RefillBits.
inline void NeedBits(DecoderState& s, BitCursor& b, int need) {
    if (b.count < need) {
        if (s.readEnd - s.readPos >= static_cast<int>(sizeof(BitWord)))
            FillFromBuffer(s, b);
        else
            b = RefillBits(s, b, need);
    }
}

// Keeps at least eight bits ahead after each symbol, as a reader that tops
// up to more than eight bits before every bit it takes would. The file is
// therefore read at the same symbols, whatever the width of the cursor.
inline void KeepLookahead(DecoderState& s, BitCursor& b) { NeedBits(s, b, 8); }

// KeepLookahead after a match, which took many bits: tops the cursor up
// from the buffer whenever a word waits there, whatever its count, so the
// branch goes the same way nearly every time. Worth it on 32-bit x86, where
// the 32-bit cursor runs low after most matches.
inline void KeepLookaheadAfterMatch(DecoderState& s, BitCursor& b) {
    if constexpr (kFewRegisters) {
        if (s.readEnd - s.readPos >= static_cast<int>(sizeof(BitWord)))
            FillFromBuffer(s, b);
        else if (b.count < 8)
            b = RefillBits(s, b, 8);
    } else {
        KeepLookahead(s, b);
    }
}

// NextBit: the next bit of the stream.
inline unsigned NextBit(DecoderState& s, BitCursor& b) {
    if (b.count == 0) b = RefillBits(s, b, 1);
    unsigned bit = static_cast<unsigned>(b.bits >> (kWordBits - 1));
    b.bits <<= 1;
    --b.count;
    return bit;
}

// The next `n` (1..kMostBitsNeeded) bits of the stream as a number, first
// bit highest.
inline unsigned TakeBits(DecoderState& s, BitCursor& b, int n) {
    if (b.count < n) b = RefillBits(s, b, n);
    unsigned value = static_cast<unsigned>(b.bits >> (kWordBits - n));
    b.bits <<= n;
    b.count -= n;
    return value;
}

// NextByte: the next eight bits of the stream.
inline unsigned NextByte(DecoderState& s, BitCursor& b) { return TakeBits(s, b, 8); }

// ---- Buffered writer -----------------------------------------------------------

// Starts an entry's output: empty chunk, and the window as the entry sees
// it, oldest byte first: the kept last 30 positions, then 4066 blanks.
void ResetWriter(DecoderState& s, OsFile output, std::int32_t unpackedSize) {
    s.output = output;
    s.checkOnly = output == kNoFile;
    s.unpackedSize = unpackedSize;
    s.fill = 0;
    s.written = 0;
    s.chunk = unpackedSize > 0 ? (unpackedSize < kBufferSize ? unpackedSize : kBufferSize) : 0;
    s.writeFailed = 0;
}

void StartWindow(DecoderState& s) {
    std::memcpy(s.out, s.windowTail, kLongestMatch);
    std::memset(s.out + kLongestMatch, ' ', kWindowStart);
}

// Keeps the ring window's last 30 positions for the next entry: position
// 4066 + k last received the output byte whose index is k modulo 4096.
void SaveWindowTail(DecoderState& s, std::uint32_t produced) {
    const std::uint8_t* end = s.out + kWindowSize + s.fill;
    for (std::uint32_t k = 0; k < kLongestMatch && k < produced; ++k) {
        // Output byte `index` is (produced - index) bytes behind the end.
        std::uint32_t index = k + ((produced - 1 - k) / kWindowSize) * kWindowSize;
        s.windowTail[k] = *(end - (produced - index));
    }
}

// WritePtr, completion step: writes every full chunk in one write call
// each, then keeps the last 4096 bytes as the window in front of the next
// chunk. A chunk that is not written whole stops the decode (writeFailed).
[[gnu::noinline]] void FlushChunks(DecoderState& s) {
    while (s.chunk > 0 && s.fill >= s.chunk) {
        std::int32_t put = s.checkOnly ? s.chunk : g_platform->FileWrite(s.output, s.out + kWindowSize, static_cast<std::uint32_t>(s.chunk));
        if (put != s.chunk) {
            s.writeFailed = 1;
            return;
        }
        s.written += s.chunk;
        s.fill -= s.chunk;
        std::memmove(s.out, s.out + s.chunk, static_cast<std::size_t>(kWindowSize + s.fill));
        std::int32_t rest = s.unpackedSize - s.written;
        s.chunk = rest < kBufferSize ? rest : kBufferSize;
    }
}

// ---- Huffman model ---------------------------------------------------------------

// The last node of frequency k - 1 above n, whose frequency has just grown
// from k - 1 to k. The nodes above n are in order and the sentinel stops
// the search.
inline int FindRunEnd(const LzhufTree& t, int n, unsigned k) {
    // Largest l > n with frequency[l] < k. The frequencies above n are k - 1
    // or more and in order, so l ends the run of k - 1 that starts at n + 1:
    // it is the first place from n + 1 on whose count differs from the next
    // one. Neighbouring counts are compared two machine words at a time
    // (which needs no k, so the search does not wait for it); the sentinel
    // ends the run. Words of the machine's width keep a 32-bit build off
    // split 64-bit arithmetic and library calls.
    int l = n + 1;
    if constexpr (std::endian::native == std::endian::little) {
        using Word = std::uintptr_t;
        constexpr int kPerWord = sizeof(Word) / sizeof t.frequency[0];
        for (;;) {
            // The count at l in the low sixteen bits of `here`, the count
            // at l + 1 in those of `next`.
            Word here, next, hereHigh, nextHigh;
            std::memcpy(&here, &t.frequency[l], sizeof here);
            std::memcpy(&next, &t.frequency[l + 1], sizeof next);
            std::memcpy(&hereHigh, &t.frequency[l + kPerWord], sizeof hereHigh);
            std::memcpy(&nextHigh, &t.frequency[l + kPerWord + 1], sizeof nextHigh);
            const Word changeLow = here ^ next, changeHigh = hereHigh ^ nextHigh;
            if (changeLow | changeHigh) {
                // Both places found without a branch (the top bit keeps
                // the counts defined), then the one that applies.
                constexpr Word kGuard = Word{1} << (8 * sizeof(Word) - 1);
                const int inLow = std::countr_zero(changeLow | kGuard) >> 4;
                const int inHigh = kPerWord + (std::countr_zero(changeHigh | kGuard) >> 4);
                const int highApplies = -static_cast<int>(changeLow == 0);
                l += inLow + ((inHigh - inLow) & highApplies);
                break;
            }
            l += 2 * kPerWord;
        }
    } else {
        while (t.frequency[l + 1] < k) ++l;
    }
    return l;
}

// Trades node n, whose frequency has just grown to k, with node l, the
// last of the nodes of frequency k - 1 above it.
inline void SwapNodes(LzhufTree& t, int n, int l, unsigned k) {
    t.frequency[n] = t.frequency[l];
    t.frequency[l] = static_cast<std::uint16_t>(k);

    int i = t.child[n];
    t.parent[i] = static_cast<std::uint16_t>(l);
    if (i < kNodeCount) t.parent[i + 1] = static_cast<std::uint16_t>(l);
    int j = t.child[l];
    t.child[l] = static_cast<std::uint16_t>(i);
    t.parent[j] = static_cast<std::uint16_t>(n);
    if (j < kNodeCount) t.parent[j + 1] = static_cast<std::uint16_t>(n);
    t.child[n] = static_cast<std::uint16_t>(j);
}

// SwapNodes for the decoder, without its two tests for a leaf, which the
// processor often guesses wrong. A leaf's child entry is kNodeCount + its
// symbol, so the store meant for an internal node's second child lands in
// the next symbol's entry of `parent` (or in the spare entry past the
// last). The decoder never reads those entries but right after
// RebuildTree, which sets every one again: it finds a symbol's leaf by
// walking down the tree.
inline void SwapNodesUnchecked(LzhufTree& t, unsigned n, unsigned l, unsigned k) {
    t.frequency[n] = t.frequency[l];
    t.frequency[l] = static_cast<std::uint16_t>(k);
    const unsigned i = t.child[n], j = t.child[l];
    t.parent[i] = t.parent[i + 1] = static_cast<std::uint16_t>(l);
    t.parent[j] = t.parent[j + 1] = static_cast<std::uint16_t>(n);
    t.child[l] = static_cast<std::uint16_t>(i);
    t.child[n] = static_cast<std::uint16_t>(j);
}

// Moves the node at n, whose frequency has just grown to k, behind every
// node of lower frequency, and returns its new index. The nodes above n are
// in order and the sentinel stops the search.
inline int PromoteNode(LzhufTree& t, int n, unsigned k) {
    const int l = FindRunEnd(t, n, k);
    SwapNodes(t, n, l, k);
    return l;
}

inline void UpdateTreeInline(LzhufTree& t, int symbol) {
    if (t.frequency[kRoot] == kRebuildLimit) RebuildTree(&t);
    int n = t.parent[kNodeCount + symbol];
    do {
        unsigned k = ++t.frequency[n];
        if (k > t.frequency[n + 1]) n = PromoteNode(t, n, k);
        n = t.parent[n];
    } while (n != 0);
}

// ---- Look-up table of the top levels -----------------------------------------------

// Walks the tree below `node`, which stands at `depth` (< kLookupBits) on
// the path `code` (its bits, first one highest), and writes the entries
// that begin with that path and the places of the nodes it passes.
void FillLookup(const LzhufTree& t, LookupTable& w, unsigned node, int depth, unsigned code) {
    w.depth[node] = static_cast<std::uint8_t>(depth);
    w.code[node] = static_cast<std::uint8_t>(code);
    // Only the 32-bit walk up reads the paths.
    if constexpr (kFewRegisters) {
        for (unsigned e = code << (kLookupBits - depth), end = (code + 1) << (kLookupBits - depth); e < end; ++e)
            w.path[e][depth] = static_cast<std::uint16_t>(node);
    }
    const unsigned c = t.child[node];
    if (c >= static_cast<unsigned>(kNodeCount)) {
        const int spare = kLookupBits - depth;
        for (unsigned e = code << spare, end = (code + 1) << spare; e < end; ++e) {
            w.next[e] = static_cast<std::uint16_t>(node);
            w.bits[e] = static_cast<std::uint8_t>(depth);
        }
        return;
    }
    for (unsigned bit = 0; bit < 2; ++bit) {
        if (depth + 1 < kLookupBits) {
            FillLookup(t, w, c + bit, depth + 1, code << 1 | bit);
        } else {
            w.next[code << 1 | bit] = static_cast<std::uint16_t>(c + bit);
            w.bits[code << 1 | bit] = static_cast<std::uint8_t>(kLookupBits);
        }
    }
}

void BuildLookup(const LzhufTree& t, LookupTable& w) {
    std::memset(w.depth, kBelowTable, sizeof w.depth);
    FillLookup(t, w, kRoot, 0, 0);
}

// Forgets the places of the nodes below `node` that stood above depth
// kLookupBits: they were just moved.
void ForgetBelow(const LzhufTree& t, LookupTable& w, unsigned node) {
    const unsigned c = t.child[node];
    if (c >= static_cast<unsigned>(kNodeCount)) return;
    for (unsigned x = c; x < c + 2; ++x) {
        if (w.depth[x] == kBelowTable) continue;
        w.depth[x] = kBelowTable;
        ForgetBelow(t, w, x);
    }
}

// After the subtrees below nodes n and l were traded, where one of them
// stands above depth kLookupBits: the nodes below both have new places,
// and the entries below each that stands above depth kLookupBits change.
[[gnu::noinline]] void RefreshLookup(const LzhufTree& t, LookupTable& w, unsigned n, unsigned l) {
    if (w.depth[n] == kLookupBits - 1 && w.depth[l] == kLookupBits - 1) {
        // Both on the table's last level, the usual case: nothing below
        // them has a place, and each names two entries, its own (a leaf)
        // or its children's.
        for (unsigned node : {n, l}) {
            const unsigned e = 2u * w.code[node], c = t.child[node];
            const bool leaf = c >= static_cast<unsigned>(kNodeCount);
            w.next[e] = static_cast<std::uint16_t>(leaf ? node : c);
            w.next[e + 1] = static_cast<std::uint16_t>(leaf ? node : c + 1);
            w.bits[e] = w.bits[e + 1] = static_cast<std::uint8_t>(leaf ? kLookupBits - 1 : kLookupBits);
        }
        return;
    }
    if (w.depth[n] == w.depth[l]) {
        // Two nodes at one depth: what lies below each lay below the other
        // at the same depths, so every node keeps its depth, and writing
        // the entries and paths below both again is all there is to do.
        FillLookup(t, w, n, w.depth[n], w.code[n]);
        FillLookup(t, w, l, w.depth[l], w.code[l]);
        return;
    }
    ForgetBelow(t, w, n);
    ForgetBelow(t, w, l);
    for (unsigned node : {n, l})
        if (w.depth[node] != kBelowTable) FillLookup(t, w, node, w.depth[node], w.code[node]);
}

// After InitTree or RebuildTree: the root's count taken out, and the
// table built.
[[gnu::noinline]] void StartModel(DecoderState& s) {
    s.rootCount = s.tree.frequency[kRoot];
    s.tree.frequency[kRoot] = kSentinel;
    s.tree.parent[kRoot] = kRoot;
    BuildLookup(s.tree, s.lookup);
}

// One step of the walk up: counts one more at node n, trades it past the
// nodes it now outnumbers (keeping the table in step), and moves n to the
// parent.
inline unsigned TradeNode(LzhufTree& t, LookupTable& w, std::uint16_t* runEnds, unsigned n, unsigned k) {
    // The remembered end of the run of k - 1, if it still is that: above
    // n, of count k - 1, and followed by a greater count (the counts are in
    // order, so that is the one run of k - 1 above n). Else the search.
    // The three are tested at once: a remembered end is always some node's
    // index, so both counts can be read whatever it is.
    // Only where registers are few: a 64-bit build searches fast enough
    // that the check costs more than it saves.
    unsigned l;
    if constexpr (kFewRegisters) {
        const unsigned before = k - 1;
        std::uint16_t& remembered = runEnds[before & (kRunEndSlots - 1)];
        l = remembered;
        if ((l - n - 1 >= static_cast<unsigned>(kRoot - 1 - n)) | (t.frequency[l] != before) |
            (t.frequency[l + 1] == before))
            l = static_cast<unsigned>(FindRunEnd(t, static_cast<int>(n), k));
        // The run of k - 1 now ends one place lower (at n itself when l was
        // next to it: n took l's count).
        remembered = static_cast<std::uint16_t>(l - 1);
    } else {
        l = static_cast<unsigned>(FindRunEnd(t, static_cast<int>(n), k));
    }
    SwapNodesUnchecked(t, n, l, k);
    // The table names nodes, not symbols: a leaf traded for a leaf
    // leaves it as it is.
    const bool inTable = w.depth[n] != kBelowTable || w.depth[l] != kBelowTable;
    if (inTable && (t.child[n] < kNodeCount || t.child[l] < kNodeCount))
        RefreshLookup(t, w, n, l);
    return l;
}

// The trade out of line: where registers are few (32-bit x86), the walk
// up then keeps its node and step count in registers instead of on the
// stack, which lengthened every step of it.
[[gnu::noinline, maybe_unused]] unsigned TradeNodeOutOfLine(DecoderState& s, unsigned n, unsigned k) {
    return TradeNode(s.tree, s.lookup, s.runEnds, n, k);
}

inline void CountAndClimb(DecoderState& s, unsigned& n) {
    LzhufTree& t = s.tree;
    const unsigned k = ++t.frequency[n];
    if (k > t.frequency[n + 1]) {
        if constexpr (kFewRegisters)
            n = TradeNodeOutOfLine(s, n, k);
        else
            n = TradeNode(t, s.lookup, s.runEnds, n, k);
    }
    n = t.parent[n];
}

// UpdateTree for the decoder, with the look-up table kept in step: counts
// one more at the leaf of `symbol`, node `leaf` at `depth`, and at every
// node above it but the root.
inline void UpdateModel(DecoderState& s, int symbol, unsigned leaf, int depth, unsigned index, int tableDepth) {
    LzhufTree& t = s.tree;
    unsigned n = leaf;
    if constexpr (kFewRegisters) {
        if (s.rootCount == kRebuildLimit) {
            // RebuildTree reads the leaves' counts only. The table's paths
            // no longer lead to the leaf: the walk up goes by the parents.
            RebuildTree(&t);
            StartModel(s);
            ++s.rootCount;
            n = t.parent[kNodeCount + symbol];
            while (n != static_cast<unsigned>(kRoot)) CountAndClimb(s, n);
            return;
        }
        ++s.rootCount;
        // Below the table's last level the walk goes by the parents; from
        // the node the look-up named, by the path the table keeps for it,
        // whose nodes are known at once rather than one load after another.
        // A trade moves the walk off that path, and the rest of it goes by
        // the parents. Where registers are few, a test for the root costs
        // less than a step count kept on the stack.
        int below = depth - tableDepth;
        for (; below > 0; --below) {
            if (++t.frequency[n] > t.frequency[n + 1]) break;
            n = t.parent[n];
        }
        if (below == 0) {
            const std::uint16_t* path = s.lookup.path[index];
            for (int j = tableDepth;;) {  // j: the depth of n
                if (++t.frequency[n] > t.frequency[n + 1]) break;
                if (--j == 0) return;
                n = path[j];
            }
        }
        n = t.parent[TradeNodeOutOfLine(s, n, t.frequency[n])];
        while (n != static_cast<unsigned>(kRoot)) CountAndClimb(s, n);
        return;
    }
    if (s.rootCount == kRebuildLimit) {
        // RebuildTree reads the leaves' counts only.
        RebuildTree(&t);
        StartModel(s);
        n = t.parent[kNodeCount + symbol];
    }
    ++s.rootCount;
    // `depth` nodes from the leaf up to a child of the root, as long as no
    // trade takes the walk to another depth. Counting the steps lets the
    // processor run ahead of the parent loads instead of waiting for each
    // to see whether it reached the root.
    int steps = depth;
    do CountAndClimb(s, n);
    while (--steps);
    // After a trade to a deeper node, the rest of the way; after one to a
    // shallower node, the walk has counted at the root, and the sentinel
    // goes back there.
    while (n != static_cast<unsigned>(kRoot)) CountAndClimb(s, n);
    t.frequency[kRoot] = kSentinel;
}

// DecodeSymbol: the first kLookupBits levels by one look-up, then one bit
// per level down to the leaf.
inline int DecodeSymbol(DecoderState& s, BitCursor& b) {
    // At least eight bits are kept ahead after every symbol; only the
    // first symbol of an entry reads here.
    if (b.count < kLookupBits) b = RefillBits(s, b, kLookupBits);
    const unsigned index = static_cast<unsigned>(b.bits >> (kWordBits - kLookupBits));
    unsigned x = s.lookup.next[index];
    const int taken = s.lookup.bits[index];
    b.bits <<= taken;
    b.count -= taken;
    int depth = taken;
    unsigned c = s.tree.child[x];
    while (c < static_cast<unsigned>(kNodeCount)) {
        x = c + NextBit(s, b);
        c = s.tree.child[x];
        ++depth;
    }
    const int symbol = static_cast<int>(c) - kNodeCount;
    UpdateModel(s, symbol, x, depth, index, taken);
    return symbol;
}

// DecodeOffset: eight bits give the upper six bits and the code's length;
// the code's remaining bits and then the lower six follow, so after the
// first eight another length - 2 bits complete the lower six.
inline int DecodeOffset(DecoderState& s, BitCursor& b) {
    unsigned first = NextByte(s, b);
    int length = kOffsetTables.length[first];
    unsigned code = (first << (length - 2)) | TakeBits(s, b, length - 2);
    return (kOffsetTables.upper[first] << 6) | static_cast<int>(code & 0x3F);
}

// Copies a match of `length` bytes from `distance` (1..4096) bytes back to
// `dst`, as a byte-by-byte copy would: a source that overlaps the bytes
// being produced repeats them. May store up to 32 bytes.
inline void CopyMatch(std::uint8_t* dst, int distance, int length) {
    const std::uint8_t* src = dst - distance;
    if (distance >= 16) {
        // Each 16-byte step reads only bytes that are already final.
        std::memcpy(dst, src, 16);
        if (length > 16) std::memcpy(dst + 16, src + 16, 16);
    } else if (distance >= 8) {
        // Eight bytes at a time, each step reading only final bytes.
        for (int k = 0; k < length; k += 8) std::memcpy(dst + k, src + k, 8);
    } else if (distance == 1) {
        std::memset(dst, src[0], 32);
    } else {
        for (int k = 0; k < length; ++k) dst[k] = src[k];
    }
}

}  // namespace

const OffsetCodeTables kOffsetCode = kOffsetTables;

// ---- Tree maintenance (also used by the encoder) ----------------------------------

void InitTree(LzhufTree* tree) {
    LzhufTree& t = *tree;
    for (int s = 0; s < kSymbolCount; ++s) {
        t.frequency[s] = 1;
        t.child[s] = static_cast<std::uint16_t>(kNodeCount + s);
        t.parent[kNodeCount + s] = static_cast<std::uint16_t>(s);
    }
    for (int i = 0, j = kSymbolCount; j < kNodeCount; i += 2, ++j) {
        t.frequency[j] = static_cast<std::uint16_t>(t.frequency[i] + t.frequency[i + 1]);
        t.child[j] = static_cast<std::uint16_t>(i);
        t.parent[i] = t.parent[i + 1] = static_cast<std::uint16_t>(j);
    }
    for (int i = kNodeCount; i < kNodeCount + 8; ++i) t.frequency[i] = kSentinel;
    t.parent[kRoot] = 0;
}

void UpdateTree(LzhufTree* tree, int symbol) { UpdateTreeInline(*tree, symbol); }

void RebuildTree(LzhufTree* tree) {
    LzhufTree& t = *tree;
    // Leaves to the front, in order, with halved frequencies.
    int m = 0;
    for (int i = 0; i < kNodeCount; ++i) {
        if (t.child[i] >= kNodeCount) {
            t.frequency[m] = static_cast<std::uint16_t>((t.frequency[i] + 1) / 2);
            t.child[m] = t.child[i];
            ++m;
        }
    }
    // Internal nodes, each inserted behind the nodes of equal frequency.
    for (int i = 0, j = kSymbolCount; j < kNodeCount; i += 2, ++j) {
        unsigned f = static_cast<unsigned>(t.frequency[i]) + t.frequency[i + 1];
        t.frequency[j] = static_cast<std::uint16_t>(f);
        int k = j - 1;
        while (f < t.frequency[k]) --k;
        ++k;
        int moved = j - k;
        std::memmove(&t.frequency[k + 1], &t.frequency[k], sizeof t.frequency[0] * static_cast<std::size_t>(moved));
        std::memmove(&t.child[k + 1], &t.child[k], sizeof t.child[0] * static_cast<std::size_t>(moved));
        t.frequency[k] = static_cast<std::uint16_t>(f);
        t.child[k] = static_cast<std::uint16_t>(i);
    }
    // Parents from the children.
    for (int i = 0; i < kNodeCount; ++i) {
        int k = t.child[i];
        t.parent[k] = static_cast<std::uint16_t>(i);
        if (k < kNodeCount) t.parent[k + 1] = static_cast<std::uint16_t>(i);
    }
}

// ---- Decoding ------------------------------------------------------------------------

namespace {

// The decode behind DecodeStream and CheckStream; `out` kNoFile: no output.
StreamResult RunDecode(DecoderState& s, OsFile in, OsFile out, std::int32_t unpackedSize, std::int32_t storedSize,
                       const PumpControl* control) {
    StreamResult result;
    ResetReader(s, in, storedSize);
    ResetWriter(s, out, unpackedSize);
    if (unpackedSize <= 0) return result;

    InitTree(&s.tree);
    StartModel(s);
    StartWindow(s);
    BitCursor b{0, 0};
    // The output position and the end of the open chunk, in registers; the
    // state's `fill` is brought up to date before every flush and at the end.
    std::uint8_t* const chunkStart = s.out + kWindowSize;
    std::uint8_t* dst = chunkStart;
    std::uint8_t* chunkEnd = chunkStart + s.chunk;
    // Unsigned: a last match may carry the count up to 29 bytes past an
    // unpacked size of up to 2^31 - 1, and the pump mark 102400 beyond.
    const auto target = static_cast<std::uint32_t>(unpackedSize);
    std::uint32_t produced = 0;
    std::uint32_t pumpMark = 0;
    int unwrittenRead = 0;

    // The count of produced bytes at which the loop next looks up from
    // decoding: the end of the entry, of the open chunk, or the next pump.
    std::uint32_t stop = 1;
    for (;;) {
        int symbol = DecodeSymbol(s, b);
        if (symbol < 256) {
            KeepLookahead(s, b);
            *dst++ = static_cast<std::uint8_t>(symbol);
            produced += 1;
        } else {
            int distance = DecodeOffset(s, b) + 1;
            KeepLookaheadAfterMatch(s, b);
            // Before the first flush the window lies in `out` oldest first:
            // the 30 kept positions, the 4066 blanks, then this entry's
            // output, so reaching further back than this reads a kept one.
            if (static_cast<std::uint32_t>(distance) > produced + kWindowStart) unwrittenRead = 1;
            int length = symbol - (256 - kShortestMatch);
            CopyMatch(dst, distance, length);
            dst += length;
            produced += length;
        }
        if (produced < stop) continue;
        if (dst >= chunkEnd && s.chunk > 0) {
            s.fill = static_cast<int>(dst - chunkStart);
            FlushChunks(s);
            dst = chunkStart + s.fill;
            if (s.writeFailed) break;
            chunkEnd = chunkStart + s.chunk;
        }
        if (produced > pumpMark) {
            if (PumpAndAskStop(control)) break;
            // Zero bits taken: a check has its answer, whatever follows.
            if (s.checkOnly && s.zeroBits > static_cast<std::uint64_t>(b.count)) break;
            pumpMark += kPumpStep;
        }
        if (produced >= target) break;
        stop = pumpMark + 1 < target ? pumpMark + 1 : target;
        if (s.chunk > 0) {
            const std::uint32_t chunkStop = produced + static_cast<std::uint32_t>(chunkEnd - dst);
            if (chunkStop < stop) stop = chunkStop;
        }
    }

    s.fill = static_cast<int>(dst - chunkStart);
    SaveWindowTail(s, produced);
    result.produced = static_cast<std::int32_t>(produced < target ? produced : target);
    result.writeFailed = s.writeFailed;
    result.bitsTaken = 8 * static_cast<std::uint64_t>(storedSize - s.inputLeft) + s.zeroBits -
                       static_cast<std::uint64_t>(b.count);
    // Zero bits were taken when more were handed out than are left over.
    if (s.zeroBits > static_cast<std::uint64_t>(b.count)) result.faults |= kStreamPastEnd;
    if (produced > target) result.faults |= kStreamOverran;
    if (unwrittenRead) result.faults |= kStreamUnwrittenRead;
    if (s.inputCut) result.faults |= kStreamInputCut;
    if (produced < target) result.faults |= kStreamUnfinished;
    return result;
}

}  // namespace

StreamResult DecodeStream(DecoderState* state, OsFile in, OsFile out, std::int32_t unpackedSize,
                          std::int32_t storedSize, const PumpControl* control) {
    return RunDecode(*state, in, out, unpackedSize, storedSize, control);
}

StreamResult CheckStream(DecoderState* state, OsFile in, std::int32_t unpackedSize, std::int32_t storedSize,
                         const PumpControl* control) {
    return RunDecode(*state, in, kNoFile, unpackedSize, storedSize, control);
}

int StreamFaults(const StreamResult& result, std::uint32_t storedSize, std::uint32_t slack) {
    int faults = result.faults;
    const std::uint64_t used = (result.bitsTaken + 7) / 8;
    if (used + slack < storedSize) faults |= kStreamLeftOver;
    return faults;
}

int DecodeEntry(DecoderState* state, const char* installerPath, std::uint32_t offset, std::uint32_t unpackedSize,
                std::uint32_t storedSize, const char* targetPath, const PumpControl* control,
                StreamResult* result) {
    if (result) *result = StreamResult{};
    ResetReader(*state, kNoFile, 0);
    ResetWriter(*state, kNoFile, 0);

    OsFile in = g_platform->FileOpenRead(installerPath);
    if (in == kNoFile) return kDecodeInstallerUnreadable;
    if (g_platform->FileSeek(in, offset) != static_cast<std::int64_t>(offset)) {
        g_platform->FileClose(in);
        return kDecodeInstallerUnreadable;
    }
    OsFile out = g_platform->FileCreate(targetPath);
    if (out == kNoFile) {
        g_platform->FileClose(in);
        return kDecodeTargetUnwritable;
    }

    StreamResult decoded = DecodeStream(state, in, out, static_cast<std::int32_t>(unpackedSize),
                                        static_cast<std::int32_t>(storedSize), control);
    g_platform->FileClose(out);
    g_platform->FileClose(in);
    if (result) *result = decoded;
    return decoded.writeFailed ? kDecodeWriteFailed : kDecodeDone;
}
