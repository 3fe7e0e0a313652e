// Fuzz target: the catalogue behind a sound stub. The file is the test stub
// cut at its payload anchor followed by the input, so every input reaches
// the catalogue: license length and text, title, numbering base, records.
//
// Besides the comparisons of payload_oracle.h, the packed entries of a
// catalogue that passes validation (those of up to 20000 bytes, 40000 bytes
// in all per input) are decoded with DecodeEntry, which must
// read only inside the entry's stored bytes, write exactly its unpacked
// size, close both files, and report a target that refuses bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_platform.h"
#include "payload/decoder.h"
#include "payload_oracle.h"
#include "support/package_builder.h"

namespace {

// Entries larger than this are not decoded, to keep each input quick; the
// limit still lets an entry span two write chunks.
constexpr std::uint32_t kLargestDecoded = 20000;
constexpr std::uint64_t kDecodeBudget = 40000;

std::vector<std::uint8_t> g_file;
std::size_t g_prefix = 0;
std::vector<std::uint8_t> g_sink;

void Pump(void*) { g_platform->PumpMessages(0); }
const PumpControl kPump{Pump, nullptr, nullptr};

// Decodes one entry into the sink; `refuseAfter` > 0 makes the target
// refuse bytes past that many.
int DecodeInto(const FileRecord& r, std::uint64_t refuseAfter) {
    MemoryFilesReset(g_file.data(), g_file.size());
    MemoryFileStats& s = g_memoryStats;
    s.sink = g_sink.data();
    s.sinkCapacity = g_sink.size();
    s.readFrom = r.offset;
    s.readLimit = r.storedSize;
    s.sinkRefuseAfter = refuseAfter;
    static DecoderState decoder;
    int result = DecodeEntry(&decoder, kMemoryInstallerPath, r.offset, r.unpackedSize, r.storedSize, kMemorySinkPath, &kPump);
    FUZZ_CHECK(MemoryFilesOpen() == 0, "DecodeEntry left a file open");
    FUZZ_CHECK(s.opens == 2, "DecodeEntry did not open the installer and the target once each");
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MemoryFilesInstall();
    const std::string stub = MakeTestStub();
    g_prefix = PayloadStartOf(stub);
    g_file.assign(stub.begin(), stub.begin() + static_cast<std::ptrdiff_t>(g_prefix));
    g_sink.resize(kLargestDecoded);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_file.resize(g_prefix);
    g_file.insert(g_file.end(), data, data + size);
    const ExpectedPayload e = CheckPayloadOperations(g_file.data(), g_file.size(), size % 211);
    FUZZ_CHECK(e.found, "the stub's payload anchor was not found");
    if (!e.sound) return 0;

    std::uint64_t budget = kDecodeBudget;
    bool refusalTried = false;
    for (std::size_t i = 0; i + 1 < e.records.size(); ++i) {
        const FileRecord& r = e.records[i];
        if (r.unpackedSize == 0 || r.unpackedSize > kLargestDecoded || r.unpackedSize > budget) continue;
        budget -= r.unpackedSize;
        FUZZ_CHECK(DecodeInto(r, 0) == kDecodeDone, "DecodeEntry failed on a readable entry");
        FUZZ_CHECK(g_memoryStats.sinkTotal == r.unpackedSize, "DecodeEntry wrote another size than the unpacked size");
        if (!refusalTried && r.unpackedSize > 1) {
            // The same entry into a target that takes one byte less.
            refusalTried = true;
            FUZZ_CHECK(DecodeInto(r, r.unpackedSize - 1) == kDecodeWriteFailed,
                       "a target that refused bytes was not reported");
        }
    }
    return 0;
}
