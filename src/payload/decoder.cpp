// Decoder of packed entries. See decoder.h for the coding and the contract.
//
// Everything a decode touches lives in one global state block of fixed size;
// nothing is allocated. Input comes through a 16384-byte read buffer, output
// leaves through a 16384-byte write buffer in chunks of at most 16384 bytes.
#include "payload/decoder.h"

#include <cstring>

#include "shell/globals.h"

namespace {

constexpr int kBufferSize = 16384;          // bytes in the read and the write buffer
constexpr std::int32_t kPumpStep = 102400;  // output bytes between two UI pumps
constexpr int kWindowMask = kWindowSize - 1;
constexpr std::uint16_t kSentinel = 0xFFFF;

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

// ---- Decoder state -------------------------------------------------------------

struct DecoderState {
    // Model and history.
    LzhufTree tree;                     // adaptive Huffman model of the entry
    std::uint8_t window[kWindowSize];   // text window, a ring indexed with r

    // Bit input. The valid bits stand at the top of `bits`, `count` of them.
    // The bits below them are either zero or already the next bytes of the
    // read buffer at their final places (a refill ORs the same bits again).
    std::uint64_t bits;
    int count;
    // Input bytes of the entry still to be consumed, buffered ones included;
    // never read past, and continued with zero bytes once 0.
    std::int32_t inputLeft;

    // Buffered reader (ReadPtr): unread bytes are readBuffer[readPos ..
    // readEnd).
    OsFile input;
    int readPos;
    int readEnd;
    std::uint8_t readBuffer[kBufferSize + 8];

    // Buffered writer (WritePtr): `fill` bytes wait in writeBuffer. The open
    // chunk is `chunk` bytes long (0 once the unpacked size has been
    // written: further bytes are discarded); `written` bytes of the entry
    // have reached the target. A match may run past the chunk by up to 29
    // bytes, hence the slack.
    OsFile output;
    std::int32_t unpackedSize;
    int fill;
    int chunk;
    std::int32_t written;
    int writeFailed;
    std::uint8_t writeBuffer[kBufferSize + kLongestMatch];
};

DecoderState g_state;

// ---- Buffered reader -----------------------------------------------------------

void ResetReader(OsFile input, std::int32_t storedSize) {
    g_state.input = input;
    g_state.readPos = 0;
    g_state.readEnd = 0;
    g_state.inputLeft = storedSize;
    std::memset(g_state.readBuffer, 0, sizeof g_state.readBuffer);
}

// Takes whole bytes from the read buffer into the bit buffer while they fit,
// without reading the file.
inline void FillFromBuffer(DecoderState& s) {
    int avail = s.readEnd - s.readPos;
    if (avail >= 8) {
        const std::uint8_t* p = s.readBuffer + s.readPos;
        std::uint64_t v = (std::uint64_t{p[0]} << 56) | (std::uint64_t{p[1]} << 48) |
                          (std::uint64_t{p[2]} << 40) | (std::uint64_t{p[3]} << 32) |
                          (std::uint64_t{p[4]} << 24) | (std::uint64_t{p[5]} << 16) |
                          (std::uint64_t{p[6]} << 8) | std::uint64_t{p[7]};
        s.bits |= v >> s.count;
        int n = (63 - s.count) >> 3;
        s.readPos += n;
        s.count += 8 * n;
        s.inputLeft -= n;
    } else {
        while (s.count <= 56 && s.readPos < s.readEnd) {
            s.bits |= std::uint64_t{s.readBuffer[s.readPos++]} << (56 - s.count);
            s.count += 8;
            --s.inputLeft;
        }
    }
}

// ReadPtr: refills the empty read buffer with the next block of the entry,
// min(16384, bytes still to consume), in one read call. Returns 0 when no
// byte can be had: the stored size is used up, or the file ended early (then
// the rest of the entry counts as zero bytes).
[[gnu::noinline]] int ReadPtr(DecoderState& s) {
    if (s.inputLeft <= 0) return 0;
    std::uint32_t want = s.inputLeft < kBufferSize ? static_cast<std::uint32_t>(s.inputLeft) : kBufferSize;
    std::int32_t got = g_platform->FileRead(s.input, s.readBuffer, want);
    if (got <= 0) {
        s.inputLeft = 0;
        s.readPos = s.readEnd = 0;
        return 0;
    }
    s.readPos = 0;
    s.readEnd = got;
    return 1;
}

// Makes at least `need` (1..56) bits valid, reading the file only for bytes
// that are needed now. Past the stored size the stream goes on with zero
// bits.
[[gnu::noinline]] void RefillBits(DecoderState& s, int need) {
    while (s.count < need) {
        if (s.readPos == s.readEnd && !ReadPtr(s)) {
            // Nothing more to read: the bits below `count` may still hold
            // buffered bytes that were never taken, so clear them first.
            s.bits &= s.count ? ~std::uint64_t{0} << (64 - s.count) : 0;
            s.count = 56;
            return;
        }
        FillFromBuffer(s);
    }
}

// Keeps at least eight bits ahead after each symbol, as a reader that tops
// up to more than eight bits before every bit it takes would. The file is
// therefore read at the same symbols, whatever the width of `bits`.
inline void KeepLookahead(DecoderState& s) {
    if (s.count < 8) RefillBits(s, 8);
}

// NextBit: the next bit of the stream.
inline unsigned NextBit(DecoderState& s) {
    if (s.count == 0) RefillBits(s, 1);
    unsigned bit = static_cast<unsigned>(s.bits >> 63);
    s.bits <<= 1;
    --s.count;
    return bit;
}

// The next `n` (1..56) bits of the stream as a number, first bit highest.
inline unsigned TakeBits(DecoderState& s, int n) {
    if (s.count < n) RefillBits(s, n);
    unsigned value = static_cast<unsigned>(s.bits >> (64 - n));
    s.bits <<= n;
    s.count -= n;
    return value;
}

// NextByte: the next eight bits of the stream.
inline unsigned NextByte(DecoderState& s) { return TakeBits(s, 8); }

// ---- Buffered writer -----------------------------------------------------------

void ResetWriter(OsFile output, std::int32_t unpackedSize) {
    g_state.output = output;
    g_state.unpackedSize = unpackedSize;
    g_state.fill = 0;
    g_state.written = 0;
    g_state.chunk = unpackedSize > 0 ? (unpackedSize < kBufferSize ? unpackedSize : kBufferSize) : 0;
    g_state.writeFailed = 0;
}

// WritePtr, completion step: writes every full chunk in one write call each.
// A chunk that is not written whole stops the decode (writeFailed). Bytes
// beyond the unpacked size are discarded.
[[gnu::noinline]] void FlushChunks(DecoderState& s) {
    while (s.fill >= s.chunk) {
        if (s.chunk == 0) {
            s.fill = 0;
            return;
        }
        std::int32_t put = g_platform->FileWrite(s.output, s.writeBuffer, static_cast<std::uint32_t>(s.chunk));
        if (put != s.chunk) {
            s.writeFailed = 1;
            s.fill = 0;
            return;
        }
        s.written += s.chunk;
        s.fill -= s.chunk;
        if (s.fill > 0) std::memmove(s.writeBuffer, s.writeBuffer + s.chunk, static_cast<std::size_t>(s.fill));
        std::int32_t rest = s.unpackedSize - s.written;
        s.chunk = rest < kBufferSize ? rest : kBufferSize;
    }
}

// WritePtr: one output byte.
inline void WritePtr(DecoderState& s, std::uint8_t byte) {
    s.writeBuffer[s.fill++] = byte;
    if (s.fill >= s.chunk) FlushChunks(s);
}

// ---- Huffman model ---------------------------------------------------------------

// Moves the node at n, whose frequency has just grown to k, behind every
// node of lower frequency, and returns its new index. The nodes above n are
// in order and the sentinel stops the search.
inline int PromoteNode(LzhufTree& t, int n, unsigned k) {
    // Largest l > n with frequency[l] < k; usually the very next node.
    int l = n + 1;
    if (k > t.frequency[l + 1]) {
        int hi = kNodeCount;  // frequency[hi] >= k
        ++l;                  // frequency[l] < k
        while (hi - l > 1) {
            int mid = (l + hi) >> 1;
            if (t.frequency[mid] < k)
                l = mid;
            else
                hi = mid;
        }
    }
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

// DecodeSymbol: walks from the root to a leaf, one bit per level.
inline int DecodeSymbol(DecoderState& s) {
    unsigned x = s.tree.child[kRoot];
    while (x < static_cast<unsigned>(kNodeCount)) x = s.tree.child[x + NextBit(s)];
    int symbol = static_cast<int>(x) - kNodeCount;
    UpdateTreeInline(s.tree, symbol);
    return symbol;
}

// DecodeOffset: the fixed code of the upper six bits, then the lower six.
inline int DecodeOffset(DecoderState& s) {
    if (s.count < 8) RefillBits(s, 8);
    unsigned first = static_cast<unsigned>(s.bits >> 56);
    int length = kOffsetTables.length[first];
    unsigned code = TakeBits(s, length + 6);
    return (kOffsetTables.upper[first] << 6) | static_cast<int>(code & 0x3F);
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
    t.frequency[kNodeCount] = kSentinel;
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

std::int32_t DecodeStream(OsFile in, OsFile out, std::int32_t unpackedSize, std::int32_t storedSize,
                          int* writeFailed) {
    DecoderState& s = g_state;
    if (writeFailed) *writeFailed = 0;
    ResetReader(in, storedSize);
    ResetWriter(out, unpackedSize);
    s.bits = 0;
    s.count = 0;
    if (unpackedSize <= 0) return 0;

    InitTree(&s.tree);
    std::memset(s.window, ' ', kWindowStart);
    int r = kWindowStart;
    std::int32_t produced = 0;
    std::int32_t pumpMark = 0;

    while (produced < unpackedSize) {
        int symbol = DecodeSymbol(s);
        if (symbol < 256) {
            KeepLookahead(s);
            auto byte = static_cast<std::uint8_t>(symbol);
            s.window[r] = byte;
            r = (r + 1) & kWindowMask;
            WritePtr(s, byte);
            produced += 1;
        } else {
            int offset = DecodeOffset(s);
            KeepLookahead(s);
            int start = (r - offset - 1) & kWindowMask;
            int length = symbol - 253;
            std::uint8_t* dst = s.writeBuffer + s.fill;
            for (int k = 0; k < length; ++k) {
                std::uint8_t byte = s.window[(start + k) & kWindowMask];
                s.window[r] = byte;
                r = (r + 1) & kWindowMask;
                dst[k] = byte;
            }
            s.fill += length;
            if (s.fill >= s.chunk) FlushChunks(s);
            produced += length;
        }
        if (s.writeFailed) {
            if (writeFailed) *writeFailed = 1;
            return produced;
        }
        if (produced > pumpMark) {
            g_platform->PumpMessages();
            if (g_cancel && !g_uninstaller) return produced;
            pumpMark += kPumpStep;
        }
    }
    return produced < unpackedSize ? produced : unpackedSize;
}

int DecodeEntry(const char* installerPath, std::uint32_t offset, std::uint32_t unpackedSize,
                std::uint32_t storedSize, const char* targetPath) {
    ResetReader(kNoFile, 0);
    ResetWriter(kNoFile, 0);

    char ownPath[260];
    if (!installerPath) {
        std::uint32_t n = g_platform->GetModuleFileName(ownPath, sizeof ownPath);
        if (n == 0 || n >= sizeof ownPath) return kDecodeNoInstaller;
        installerPath = ownPath;
    }

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

    int failed = 0;
    DecodeStream(in, out, static_cast<std::int32_t>(unpackedSize), static_cast<std::int32_t>(storedSize), &failed);
    g_platform->FileClose(out);
    g_platform->FileClose(in);
    return failed ? kDecodeWriteFailed : kDecodeDone;
}
