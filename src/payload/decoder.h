// Decoder of packed entries: LZSS with a 4096-byte window, a longest match of
// 30 bytes, literals and lengths coded by an adaptive Huffman code over 284
// symbols, offsets by a fixed prefix code for their upper six bits. A stream
// has no header: both sizes come from the file record.
//
// The caller owns the decoder's state (DecoderState) and passes it to every
// call, so that two decodes, on two threads for instance, never share it by
// mistake; the state is of fixed size and nothing is allocated while
// decoding. A decode lets the user interface run only through the caller's
// PumpControl, after the first symbol and then each time the output passes a
// further kPumpStep bytes, and stops early when the control says so.
#pragma once

#include <cstdint>

#include "payload/pump.h"
#include "platform/platform.h"

// ---- The coding -------------------------------------------------------------
// Shared by this decoder and the encoder (encoder.h), which mirrors the model.

inline constexpr int kWindowSize = 4096;      // text window; offsets are 12-bit
inline constexpr int kLongestMatch = 30;      // bytes
inline constexpr int kShortestMatch = 3;      // bytes
inline constexpr int kSymbolCount = 284;      // 256 literals, 28 match lengths (3..30)
inline constexpr int kNodeCount = 567;        // nodes of the Huffman tree, 2 * 284 - 1
inline constexpr int kRoot = kNodeCount - 1;  // index of the root node
inline constexpr unsigned kRebuildLimit = 0x8000;  // root frequency that forces a rebuild
// At the start of every entry the window holds blanks at 0..4065 and the
// write position is 4066; the last 30 positions are not reset, so a stream
// must never read them before it has written them.
inline constexpr int kWindowStart = kWindowSize - kLongestMatch;

// The adaptive Huffman model. Nodes are kept in non-decreasing order of
// frequency; the two children of an internal node are siblings at i, i + 1.
struct LzhufTree {
    // Count per node, plus a sentinel 0xFFFF at kNodeCount that ends every
    // forward scan, and seven more so that a scan may read eight counts at
    // once up to the sentinel.
    std::uint16_t frequency[kNodeCount + 8];
    // Internal node: index of its first child. Leaf: kNodeCount + symbol.
    std::uint16_t child[kNodeCount];
    // parent[i] is the parent of node i (0 for the root); parent[kNodeCount
    // + s] is the leaf node of symbol s. One spare entry follows, which the
    // decoder may write (see its trade) and nothing reads.
    std::uint16_t parent[kNodeCount + kSymbolCount + 1];
};

// The tree every entry starts from: every symbol has frequency 1.
void InitTree(LzhufTree* tree);
// Counts one more occurrence of `symbol` (0..283) and restores the order,
// rebuilding the tree first when the root has reached kRebuildLimit.
void UpdateTree(LzhufTree* tree, int symbol);
// Halves every leaf's frequency (rounding up) and rebuilds the internal nodes.
void RebuildTree(LzhufTree* tree);

// The fixed offset code, indexed by the first eight bits read: the offset's
// upper six bits and the code's length in bits (3..8). The lower six bits of
// the offset follow the code as they are.
struct OffsetCodeTables {
    std::uint8_t upper[256];
    std::uint8_t length[256];
};
extern const OffsetCodeTables kOffsetCode;

// ---- The decoder's state -------------------------------------------------------

inline constexpr int kDecodeBufferSize = 16384;  // bytes in the read and the write buffer

// The first kLookupBits levels of the tree as a table, so that most of a
// symbol's walk from the root is one look-up on the next kLookupBits bits
// of the stream.
//
// Tree nodes are numbered by count, and an update that moves a node trades
// the subtrees below two node numbers; what stands above them stays. An
// entry depends only on the child entries of the nodes its walk passes at
// depths 0 to kLookupBits - 1 (the "top" nodes), so after a trade at a top
// node only the entries below that node are walked again.
inline constexpr int kLookupBits = 8;
struct LookupTable {
    // By the next kLookupBits bits: the node reached, either a leaf's (its
    // symbol is read from the node, so that a trade of two leaves leaves
    // the table as it is, and the update starts there without looking the
    // symbol's node up), or the node at depth kLookupBits on the way, below
    // which the walk goes on bit by bit.
    std::uint16_t next[1 << kLookupBits];
    std::uint8_t bits[1 << kLookupBits];  // the bits that the look-up takes
    // For every node that stands above depth kLookupBits, its depth and
    // its path from the root (bits, first one highest); 0xFF for the
    // others.
    std::uint8_t depth[kNodeCount];
    std::uint8_t code[kNodeCount];
    // By the next kLookupBits bits: the nodes that the look-up passes, by
    // depth (path[e][0] is the root), so that the walk back up from the
    // node reached knows them without a load of each one's parent first.
    // Entries whose node is a leaf above the last level hold only the
    // depths down to that leaf's.
    std::uint16_t path[1 << kLookupBits][kLookupBits];
};

// Slots of DecoderState::runEnds: enough that the counts trading at one
// time rarely share one.
inline constexpr int kRunEndSlots = 1024;

// Everything one decode touches, about 48 KB. A caller keeps one for a
// sequence of entries (static storage, or value-initialized with {}: it
// must start zeroed) and uses it from one thread at a time. Consecutive
// entries decoded with the same state share the last 30 positions of the
// text window, as the coding has it; nothing else carries over.
struct DecoderState {
    // Adaptive Huffman model of the entry. The decoder keeps the root's
    // count apart, in `rootCount`, and the sentinel at the root itself: no
    // node below ever passes it, and the walk up from a leaf ends at the
    // root's children.
    LzhufTree tree;
    unsigned rootCount;
    LookupTable lookup;
    // Where the run of nodes of one count ended when a node of that count
    // last moved past it, by count modulo kRunEndSlots; a hint, checked
    // before every use, that spares a trade most of its search.
    std::uint16_t runEnds[kRunEndSlots];

    // Text window and buffered writer (WritePtr) in one: `out` holds the
    // last 4096 bytes produced before the open chunk (the window, oldest
    // first), then the chunk being filled. `fill` bytes wait in the chunk,
    // which is `chunk` bytes long (0 once the unpacked size has been
    // written: later bytes are kept for the window but never written);
    // `written` bytes of the entry have reached the target. A match may run
    // past the chunk by up to 29 bytes and a copy may store up to 32 bytes
    // at once, hence the slack.
    OsFile output;
    int checkOnly;  // no output: chunks are counted, never written
    std::int32_t unpackedSize;
    int fill;
    int chunk;
    std::int32_t written;
    int writeFailed;
    std::uint8_t out[kWindowSize + kDecodeBufferSize + 64];

    // The last 30 positions of the ring window (4066..4095). Every entry
    // starts with blanks at 0..4065 and these as they were left; a valid
    // stream never reads them before writing them.
    std::uint8_t windowTail[kLongestMatch];

    // Buffered reader (ReadPtr): unread bytes are readBuffer[readPos ..
    // readEnd). `inputLeft` counts the input bytes of the entry still to be
    // consumed, buffered ones included; never read past, and continued with
    // zero bytes once 0.
    OsFile input;
    std::int32_t inputLeft;
    int readPos;
    int readEnd;
    std::uint8_t readBuffer[kDecodeBufferSize + 8];

    // How the input went: zero bits handed out once the stored bytes were
    // used up, and whether the file ended before the stored size.
    std::uint64_t zeroBits;
    int inputCut;
};

// Results of DecodeEntry.
enum DecodeResult : int {
    kDecodeDone = 1,                  // decoded (to the end, or cut short by a stop)
    kDecodeInstallerUnreadable = -1,  // the installer file cannot be opened
    kDecodeTargetUnwritable = -2,     // the target cannot be created
    kDecodeWriteFailed = -3,          // a chunk could not be written whole
};

// How one decode went.
struct StreamResult {
    // Bytes produced: the unpacked size, or less after a stop or a failed
    // write.
    std::int32_t produced = 0;
    int writeFailed = 0;  // 1: a chunk could not be written whole (decoding stopped there)
    // StreamFault bits the decode itself found (all but kStreamLeftOver,
    // which StreamFaults adds from the sizes).
    int faults = 0;
    // Bits of the stream that codes took, zero bits past its end included.
    std::uint64_t bitsTaken = 0;
};

// Decodes one packed entry of `installerPath` at the absolute `offset` into
// a newly created or truncated `targetPath`, with `state`. When `result` is
// not null it receives how the stream went (zeroed when nothing was
// decoded).
int DecodeEntry(DecoderState* state, const char* installerPath, std::uint32_t offset, std::uint32_t unpackedSize,
                std::uint32_t storedSize, const char* targetPath, const PumpControl* control,
                StreamResult* result = nullptr);

// Decodes from `in` (positioned at the stream) to `out` with `state`. Sizes
// are compared as signed 32-bit values; an unpacked size of 0 or less reads
// and writes nothing.
StreamResult DecodeStream(DecoderState* state, OsFile in, OsFile out, std::int32_t unpackedSize,
                          std::int32_t storedSize, const PumpControl* control);

// Decodes from `in` without any output, only so that StreamFaults can judge
// the stream. It ends early, at a pump, once the stream has run past its
// stored bytes: the answer is known then.
StreamResult CheckStream(DecoderState* state, OsFile in, std::int32_t unpackedSize, std::int32_t storedSize,
                         const PumpControl* control);

// ---- Judging a stream ----------------------------------------------------------
// The decoder accepts any bytes: a damaged stream still yields the unpacked
// size. A stream as an encoder writes it, however, takes every bit it needs
// from its own stored bytes and uses them all but the padding of the last
// one, ends its last symbol exactly at the unpacked size, and never reads a
// window position before it has written it. A forged, cut or corrupted
// stream almost never does all of that.

enum StreamFault : int {
    kStreamSound = 0,
    kStreamPastEnd = 1,        // needed bits beyond its stored bytes
    kStreamOverran = 2,        // the last symbol ended past the unpacked size
    kStreamUnwrittenRead = 4,  // a match read window positions not yet written
    kStreamInputCut = 8,       // the file ended before the stored size
    kStreamLeftOver = 16,      // more whole stored bytes than allowed were never used
    kStreamUnfinished = 32,    // the decode stopped before the unpacked size
};

// Whole stored bytes that a packed entry may leave unused when the
// installer judges it: room for an encoder that pads its streams a little.
inline constexpr std::uint32_t kStreamSlack = 8;

// The faults (a set of StreamFault bits) of a finished decode of an entry of
// `storedSize` bytes; `slack` is how many whole stored bytes may be left
// unused.
int StreamFaults(const StreamResult& result, std::uint32_t storedSize, std::uint32_t slack);
