// Judging packed streams: a stream as the encoder writes it passes; a cut,
// padded, mis-sized or forged one is named by its fault. A check-only decode
// writes nothing and stops early once a stream has run past its bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "payload/decoder.h"
#include "encoder/encoder.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

constexpr char kStream[] = "C:\\stream.bin";

// Decodes `stream` check-only through the fake with the given sizes and
// returns its faults for a slack of `slack` bytes.
int Faults(const std::string& stream, std::int32_t unpacked, std::int32_t stored, std::uint32_t slack = 0,
           std::int32_t* produced = nullptr) {
    InstallFakePlatform();
    g_fake.WriteFile(kStream, stream);
    OsFile in = g_platform->FileOpenRead(kStream);
    const PumpControl pump{[](void*) { g_platform->PumpMessages(0); }, nullptr, nullptr};
    static DecoderState decoder;
    StreamResult result = CheckStream(&decoder, in, unpacked, stored, &pump);
    g_platform->FileClose(in);
    if (produced) *produced = result.produced;
    return StreamFaults(result, static_cast<std::uint32_t>(stored), slack);
}

int Faults(const std::string& stream, std::int32_t unpacked) {
    return Faults(stream, unpacked, static_cast<std::int32_t>(stream.size()));
}

std::string Pack(const std::string& data, LzhufParse parse = LzhufParse::Optimal) {
    std::vector<std::uint8_t> packed =
        LzhufEncode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), parse);
    return std::string(packed.begin(), packed.end());
}

// Bits ('0'/'1') to bytes, the last one padded with zero bits.
std::string Bytes(const std::string& bits) {
    std::string out((bits.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
    return out;
}

// The code of `symbol` in a fresh tree, root first.
std::string FreshCode(int symbol) {
    LzhufTree tree;
    InitTree(&tree);
    std::string code;
    for (int node = tree.parent[kNodeCount + symbol]; node != kRoot; node = tree.parent[node])
        code.insert(code.begin(), (node & 1) ? '1' : '0');
    // The root's children sit at an even index and the next one.
    return code;
}

// The fixed code of a match offset p (0..4095): the upper six bits' prefix
// code, then the lower six bits.
std::string OffsetCode(int p) {
    int upper = p >> 6;
    int first = 0;
    while (kOffsetCode.upper[first] != upper) ++first;
    std::string bits;
    for (int k = 7; k >= 8 - kOffsetCode.length[first]; --k) bits += (first >> k) & 1 ? '1' : '0';
    for (int k = 5; k >= 0; --k) bits += (p >> k) & 1 ? '1' : '0';
    return bits;
}

// A stream that starts with one match of length 3 at offset p.
std::string FirstMatch(int p) { return Bytes(FreshCode(256) + OffsetCode(p)); }

TEST(StreamCheck, StreamsAsTheEncoderWritesThemAreSound) {
    for (LzhufParse parse : {LzhufParse::Greedy, LzhufParse::Lazy, LzhufParse::Optimal}) {
        for (std::size_t size : {1u, 2u, 3u, 29u, 30u, 31u, 4096u, 16385u, 250000u}) {
            SCOPED_TRACE(size);
            const std::string text = SampleText(size, static_cast<unsigned>(size));
            const std::string noise = SampleNoise(size, static_cast<unsigned>(size));
            EXPECT_EQ(Faults(Pack(text, parse), static_cast<std::int32_t>(size)), kStreamSound);
            EXPECT_EQ(Faults(Pack(noise, parse), static_cast<std::int32_t>(size)), kStreamSound);
        }
    }
    // Long runs: matches that copy the bytes they produce, and a stream far
    // past the first tree rebuild.
    EXPECT_EQ(Faults(Pack(std::string(300000, '\0')), 300000), kStreamSound);
    EXPECT_EQ(Faults(Pack(std::string(300000, ' ')), 300000), kStreamSound);
}

TEST(StreamCheck, AHandMadeStreamIsJudgedByItsBits) {
    // 0x15 0x22 decode to "MZ" in a fresh tree: two 8-bit codes, no padding.
    EXPECT_EQ(Faults(std::string("\x15\x22", 2), 2), kStreamSound);
    // A third byte is never needed.
    EXPECT_EQ(Faults(std::string("\x15\x22\x00", 3), 2), kStreamLeftOver);
    EXPECT_EQ(Faults(std::string("\x15\x22\x00", 3), 2, 3, 1), kStreamSound);
    // The second code is missing: its bits would be invented as zeros.
    EXPECT_EQ(Faults(std::string("\x15", 1), 2) & kStreamPastEnd, kStreamPastEnd);
}

TEST(StreamCheck, WrongSizesAreFaults) {
    const std::string data = SampleText(20000, 5);
    const std::string stream = Pack(data);
    const auto size = static_cast<std::int32_t>(data.size());
    const auto stored = static_cast<std::int32_t>(stream.size());
    // Asked for more than the stream holds: it runs on into zero bits.
    EXPECT_NE(Faults(stream, size + 1) & kStreamPastEnd, 0);
    EXPECT_NE(Faults(stream, size + 5000) & kStreamPastEnd, 0);
    // Asked for less: the rest of its bytes is left over, or its last code
    // runs past the end.
    EXPECT_NE(Faults(stream, size - 1000) & (kStreamLeftOver | kStreamOverran), 0);
    // Its bytes cut short, or padded with more.
    EXPECT_NE(Faults(stream, size, stored - 1) & kStreamPastEnd, 0);
    EXPECT_EQ(Faults(stream + std::string(9, 'x'), size), kStreamLeftOver);
    EXPECT_EQ(Faults(stream + std::string(8, 'x'), size, stored + 8, 8), kStreamSound);
    EXPECT_EQ(Faults(stream + std::string(9, 'x'), size, stored + 9, 8), kStreamLeftOver);
}

TEST(StreamCheck, AFileThatEndsBeforeTheStoredSizeIsCut) {
    const std::string stream = Pack(SampleText(5000, 6));
    const auto stored = static_cast<std::int32_t>(stream.size());
    EXPECT_NE(Faults(stream.substr(0, stream.size() / 2), 5000, stored) & kStreamInputCut, 0);
}

TEST(StreamCheck, ReadingTheKeptWindowTailIsAFault) {
    // Offset 0 repeats the last blank of the window: sound.
    EXPECT_EQ(Faults(FirstMatch(0), 3), kStreamSound);
    // Offset 4065 reaches back to window position 0, a blank: sound.
    EXPECT_EQ(Faults(FirstMatch(4065), 3), kStreamSound);
    // Offsets 4066 to 4095 reach the 30 positions kept from the entry
    // before, which this entry has not written yet.
    EXPECT_EQ(Faults(FirstMatch(4066), 3), kStreamUnwrittenRead);
    EXPECT_EQ(Faults(FirstMatch(4095), 3), kStreamUnwrittenRead);
}

TEST(StreamCheck, ACheckWritesNothingAndStopsOnceThePackageIsKnownDamaged) {
    const std::string stream = Pack(SampleText(3000, 7));
    std::int32_t produced = 0;
    // 2 GiB asked of a 3000-byte text: the check ends at the first pump
    // after the stream ran dry, far from the unpacked size.
    int faults = Faults(stream, 0x7FFFFFFF, static_cast<std::int32_t>(stream.size()), 0, &produced);
    EXPECT_EQ(faults & (kStreamPastEnd | kStreamUnfinished), kStreamPastEnd | kStreamUnfinished);
    EXPECT_LE(produced, 3 * 102400);
    EXPECT_TRUE(g_fake.CallsStartingWith("FileWrite").empty());
    EXPECT_LE(g_fake.pumps, 3);
}

TEST(StreamCheck, ForgedStreamsAreFaults) {
    int refused = 0;
    const int tries = 200;
    for (int seed = 1; seed <= tries; ++seed) {
        const std::string noise = SampleNoise(2000, static_cast<unsigned>(seed));
        refused += Faults(noise, 5000) != kStreamSound ? 1 : 0;
    }
    // Random bytes end exactly where a stream would only by chance.
    EXPECT_EQ(refused, tries);
}

}  // namespace
