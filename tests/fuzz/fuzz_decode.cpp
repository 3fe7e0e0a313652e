// Fuzz target: DecodeStream on arbitrary streams, compared byte for byte with
// the literal reference decoder, and LzhufEncode -> DecodeStream round trips.
//
// Input layout:
//   byte 0      flags: bit 0 the entry is the uninstaller; bits 1-3 the UI
//               pump (1..7) in which the user confirms Cancel, 0 never;
//               bit 4 a large unpacked size (up to 1 MB, else up to 65535);
//               bits 5-6 the encoder's parse for the round trip; bit 7 the
//               stored size is taken raw (else it is the stream's length
//               plus a small signed difference)
//   bytes 1-3   unpacked size (little-endian; bytes 1-2 only when small)
//   bytes 4-7   stored size (raw, signed) or byte 4 as the difference
//   bytes 8...  the stream, and the data of the round trip
//
// The unpacked size is cut to 32 bytes per stream byte plus 4096, a little
// more than the densest stream gives (a 30-byte match in about 10 bits): a
// short input cannot ask for a megabyte of output, so the runs stay fast,
// and large outputs (a Cancel at the 7th pump needs more than 614,400
// bytes, so about 19,000 stream bytes) come from long inputs.
//
// Checked for every input: the result, the bytes that reach the target, the
// sizes of the write calls (whole 16384-byte chunks and a remainder), the
// number of UI pumps, input never read past the stored size, no allocation
// during the decode, and the window positions an entry leaves for the next.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "memory_platform.h"
#include "payload/decoder.h"
#include "encoder/encoder.h"
#include "reference_decoder.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::int32_t kLargestUnpacked = 1 << 20;
constexpr std::int32_t kUnpackedPerStreamByte = 32;
constexpr std::int32_t kUnpackedBase = 4096;
constexpr std::uint32_t kChunk = 16384;

// Allocations are counted only while a decode runs, and only on the thread
// that decodes: libFuzzer's own threads (the memory watcher) allocate when
// they please.
thread_local bool t_countAllocations = false;
thread_local int t_allocations = 0;

void OnMalloc(const volatile void*, std::size_t) {
    if (t_countAllocations) ++t_allocations;
}
void OnFree(const volatile void*) {}

// The decoder's pump: the table's PumpMessages counts pumps; a stop is
// asked from pump g_stopAtPump (1-based) on, 0: never.
int g_stopAtPump = 0;
void Pump(void*) { g_platform->PumpMessages(0); }
int Stop(void*) { return g_stopAtPump != 0 && g_memoryStats.pumps >= g_stopAtPump; }
const PumpControl kPump{Pump, Stop, nullptr};

// A stream of 30 distinct literals, decoded before every input so that the
// window positions 4066..4095 hold known bytes.
std::vector<std::uint8_t> g_primer;
std::uint8_t g_primerBytes[30];
std::vector<std::uint8_t> g_probe;

// The sink of every decode, allocated once: room for the largest entry.
std::uint8_t g_sink[kLargestUnpacked];

struct Decoded {
    std::int32_t produced = 0;
    int writeFailed = 0;
    const std::uint8_t* sink = nullptr;  // bytes written, in order
    std::size_t sinkSize = 0;
};

// Runs DecodeStream on `stream` through the in-memory file table and checks
// what holds for every decode, whatever its stream.
Decoded Decode(const std::uint8_t* stream, std::size_t streamBytes, std::int32_t unpacked, std::int32_t stored,
               int cancelAtPump, bool uninstaller) {
    Decoded d;
    const std::size_t capacity = unpacked > 0 ? static_cast<std::size_t>(unpacked) : 0;
    MemoryFilesReset(stream, streamBytes);
    MemoryFileStats& s = g_memoryStats;
    s.sink = g_sink;
    s.sinkCapacity = capacity;
    s.readFrom = 0;
    s.readLimit = stored > 0 ? static_cast<std::uint64_t>(stored) : 0;
    // The user confirms Cancel in pump `cancelAtPump`; the uninstaller is
    // never cut short, so its decode is never asked to stop.
    g_stopAtPump = uninstaller ? 0 : cancelAtPump;
    OsFile in = MemoryOpenInstaller();
    OsFile out = MemoryOpenSink();

    t_allocations = 0;
    t_countAllocations = true;
    static DecoderState decoder;
    const StreamResult result = DecodeStream(&decoder, in, out, unpacked, stored, &kPump);
    t_countAllocations = false;
    d.produced = result.produced;
    d.writeFailed = result.writeFailed;

    g_platform->FileClose(out);
    g_platform->FileClose(in);
    FUZZ_CHECK(t_allocations == 0, "the decoder allocated memory during a decode");
    FUZZ_CHECK(d.writeFailed == 0, "a decode reported a write failure on a sink that never refuses");
    if (stored <= 0) FUZZ_CHECK(s.bytesRead == 0, "input read although the stored size is not positive");
    FUZZ_CHECK(s.sinkTotal <= capacity, "more bytes written than the unpacked size");
    // Every write call is one whole chunk: 16384 bytes, or the remainder of
    // the entry.
    std::uint64_t before = 0;
    for (int i = 0; i < s.writes && i < MemoryFileStats::kMaxWrites; ++i) {
        std::uint64_t rest = static_cast<std::uint64_t>(unpacked) - before;
        FUZZ_CHECK(s.writeSizes[i] == (rest < kChunk ? rest : kChunk), "a write call of another size than a chunk");
        before += s.writeSizes[i];
    }
    d.sink = g_sink;
    d.sinkSize = s.sinkSize;
    return d;
}

// Checks that the window positions 4066..4095, as the decoder under test
// holds them now, are `expected`.
void CheckWindowTail(const std::uint8_t* expected) {
    Decoded d = Decode(g_probe.data(), g_probe.size(), 30, static_cast<std::int32_t>(g_probe.size()), 0, false);
    FUZZ_CHECK(d.produced == 30 && d.sinkSize == 30, "the window probe did not decode");
    FUZZ_CHECK(std::memcmp(d.sink, expected, 30) == 0,
               "the window positions left for the next entry differ from the reference decoder's");
}

void PrimeWindowTail() {
    Decoded d = Decode(g_primer.data(), g_primer.size(), 30, static_cast<std::int32_t>(g_primer.size()), 0, false);
    FUZZ_CHECK(d.sinkSize == 30 && std::memcmp(d.sink, g_primerBytes, 30) == 0,
               "the primer stream did not decode to its 30 bytes");
}

std::int32_t LoadI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MemoryFilesInstall();
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    for (int k = 0; k < 30; ++k) g_primerBytes[k] = static_cast<std::uint8_t>(0x80 + 3 * k);
    g_primer = LzhufEncode(g_primerBytes, sizeof g_primerBytes);
    g_probe = TailProbeStream();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderSize) return 0;
    const std::uint8_t flags = data[0];
    const bool uninstaller = flags & 1;
    const int cancelAtPump = (flags >> 1) & 7;
    std::int32_t unpacked = (flags & 0x10) ? static_cast<std::int32_t>((data[1] | data[2] << 8 | data[3] << 16) %
                                                                       (kLargestUnpacked + 1))
                                           : static_cast<std::int32_t>(data[1] | data[2] << 8);
    const std::uint8_t* stream = data + kHeaderSize;
    const std::size_t streamBytes = size - kHeaderSize;
    const auto longest = static_cast<std::int32_t>(
        std::min<std::size_t>(kLargestUnpacked, kUnpackedBase + kUnpackedPerStreamByte * streamBytes));
    if (unpacked > longest) unpacked = longest;
    std::int32_t stored = (flags & 0x80) ? LoadI32(data + 4)
                                         : static_cast<std::int32_t>(streamBytes) + static_cast<std::int8_t>(data[4]);

    // An arbitrary stream against the reference.
    PrimeWindowTail();
    ReferenceDecodeInput ref;
    ref.stream = stream;
    ref.streamBytes = streamBytes;
    ref.unpackedSize = unpacked;
    ref.storedSize = stored;
    std::memcpy(ref.windowTail, g_primerBytes, 30);
    ref.cancelAtPump = cancelAtPump;
    ref.uninstaller = uninstaller;
    static ReferenceDecodeResult expected;  // its buffer is kept from run to run
    ReferenceDecode(ref, &expected);

    Decoded d = Decode(stream, streamBytes, unpacked, stored, cancelAtPump, uninstaller);
    FUZZ_CHECK(d.produced == expected.produced, "DecodeStream's result differs from the reference decoder's");
    FUZZ_CHECK(g_memoryStats.pumps == expected.pumps, "another number of UI pumps than the reference decoder's");
    FUZZ_CHECK(d.sinkSize == expected.written.size() &&
                   (d.sinkSize == 0 || std::memcmp(d.sink, expected.written.data(), d.sinkSize) == 0),
               "the bytes written differ from the reference decoder's");
    if (cancelAtPump == 0 || uninstaller)
        FUZZ_CHECK(d.produced == (unpacked > 0 ? unpacked : 0), "a decode without Cancel fell short of the unpacked size");
    CheckWindowTail(expected.windowTail);

    // A round trip through the encoder, with the input's bytes as the data.
    static const LzhufParse kParses[] = {LzhufParse::Greedy, LzhufParse::Lazy, LzhufParse::Optimal,
                                         LzhufParse::Optimal};
    std::vector<std::uint8_t> packed = LzhufEncode(stream, streamBytes, kParses[(flags >> 5) & 3]);
    Decoded back = Decode(packed.data(), packed.size(), static_cast<std::int32_t>(streamBytes),
                          static_cast<std::int32_t>(packed.size()), 0, false);
    FUZZ_CHECK(back.produced == static_cast<std::int32_t>(streamBytes), "the round trip gave another size");
    FUZZ_CHECK(back.sinkSize == streamBytes && (streamBytes == 0 || std::memcmp(back.sink, stream, streamBytes) == 0),
               "the round trip did not give the data back byte for byte");
    return 0;
}
