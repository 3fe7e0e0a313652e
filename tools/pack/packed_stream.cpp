#include "packed_stream.h"

#include "payload/decoder.h"

PackedStreamOutcome DecodePackedEntry(OsFile package, const FileRecord& record, OsFile out,
                                      const PumpControl* pump) {
    PackedStreamOutcome outcome;
    if (g_platform->FileSeek(package, record.offset) != static_cast<std::int64_t>(record.offset)) {
        outcome.unreadable = true;
        return outcome;
    }
    const std::int32_t unpacked = static_cast<std::int32_t>(record.unpackedSize);
    const std::int32_t stored = static_cast<std::int32_t>(record.storedSize);
    DecoderState decoder{};
    StreamResult result = out == kNoFile ? CheckStream(&decoder, package, unpacked, stored, pump)
                                         : DecodeStream(&decoder, package, out, unpacked, stored, pump);
    // No stored byte may be left over: glimmer-pack writes streams without
    // padding beyond the last byte's bits.
    outcome.faults = StreamFaults(result, record.storedSize, 0);
    outcome.writeFailed = result.writeFailed != 0;
    return outcome;
}

std::string DescribeOutcome(const PackedStreamOutcome& outcome) {
    if (outcome.unreadable) return "its data cannot be read";
    static const struct {
        int bit;
        const char* text;
    } kFaults[] = {
        {kStreamInputCut, "the package ends inside its data"},
        {kStreamUnfinished, "it stops before its unpacked size"},
        {kStreamPastEnd, "its stream needs more bytes than are stored"},
        {kStreamOverran, "its last code runs past the unpacked size"},
        {kStreamUnwrittenRead, "it reads window bytes it never wrote"},
        {kStreamLeftOver, "stored bytes are left over after the unpacked size"},
    };
    std::string text;
    for (const auto& f : kFaults)
        if (outcome.faults & f.bit) text += (text.empty() ? "" : ", ") + std::string(f.text);
    if (outcome.writeFailed) text += (text.empty() ? "" : ", ") + std::string("the output refused bytes");
    return text;
}
