// Hand-made streams, written bit by bit with the reference model and
// independent of the encoder: what the decoder must produce from them, and
// when it reads its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec_support.h"
#include "support/reference_model.h"
#include "support/fake_platform.h"

namespace {

class Stream : public ::testing::Test {
  protected:
    void SetUp() override { InstallFakePlatform(); }
    void TearDown() override { g_stopDecode = 0; }
};

std::string Repeat(const std::string& out, int length, int offset) {
    std::string r = out;
    for (int k = 0; k < length; ++k) r.push_back(r[r.size() - static_cast<std::size_t>(offset) - 1]);
    return r.substr(out.size());
}

TEST_F(Stream, LiteralsAndMatchesOfEveryKind) {
    EXPECT_EQ(RunDecode(std::string("\x15\x22", 2), 2).output, "MZ");
    StreamBuilder mz;
    mz.Literals("MZ");
    EXPECT_EQ(mz.Bytes(), std::string("\x15\x22", 2));

    // Matches at the very start copy the blanks of the fresh window, up to
    // the oldest one.
    StreamBuilder blanks;
    blanks.Match(3, 0);
    blanks.Match(30, 4065);
    EXPECT_EQ(RunDecode(blanks.Bytes(), 33).output, std::string(33, ' '));

    // Offset 0 repeats the last byte; a match may overlap what it produces.
    StreamBuilder overlap;
    overlap.Literals("ab");
    overlap.Match(30, 0);
    overlap.Literals("xyz");
    overlap.Match(10, 2);
    EXPECT_EQ(RunDecode(overlap.Bytes(), 45).output, "ab" + std::string(30, 'b') + "xyzxyzxyzxyzx");

    // One match per length of offset code, each from its own distance.
    std::string expected = RandomBytes(5000, 11);
    StreamBuilder far;
    far.Literals(expected);
    for (int offset : {0, 31, 63, 64, 255, 256, 767, 768, 1535, 1536, 3071, 3072, 4000, 4095}) {
        far.Match(3, offset);
        expected += Repeat(expected, 3, offset);
    }
    EXPECT_TRUE(RunDecode(far.Bytes(), static_cast<std::int32_t>(expected.size())).output == expected);
}

TEST_F(Stream, EntriesEndingAroundMultiplesOfTheWindowCarryItAcrossChunks) {
    // Random literals and matches, most of them reaching almost a whole
    // window back, so that matches read across the output chunks and the
    // ring's wrap; every length within 30 bytes of a multiple of 4096.
    for (std::size_t multiple : {4096u, 16384u, 32768u}) {
        SCOPED_TRACE(multiple);
        std::mt19937 rng(static_cast<std::uint32_t>(multiple));
        StreamBuilder b;
        std::string text(kWindowStart, ' ');  // the fresh window's blanks, then the output
        while (text.size() < kWindowStart + multiple + 30) {
            if (rng() % 4 == 0) {
                std::string literal(1, static_cast<char>(rng()));
                b.Literals(literal);
                text += literal;
                continue;
            }
            // Offset p reads p + 1 bytes back; at most back to the first
            // blank of the fresh window.
            std::size_t reach = std::min<std::size_t>(kWindowSize, text.size());
            int offset = static_cast<int>(rng() % 2 ? reach - 1 - rng() % 40 : rng() % reach);
            int length = 3 + static_cast<int>(rng() % 28);
            b.Match(length, offset);
            text += Repeat(text, length, offset);
        }
        const std::string stream = b.Bytes();
        const std::string expected = text.substr(kWindowStart);
        for (std::size_t size = multiple - 30; size <= multiple + 30; ++size) {
            DecodeRun run = RunDecode(stream, static_cast<std::int32_t>(size));
            ASSERT_TRUE(run.output == expected.substr(0, size)) << size;
        }
    }
}

TEST_F(Stream, DecodingGoesOnSeamlesslyThroughRebuilds) {
    std::string text = RandomBytes(40000, 5) + SampleText(30000);  // two rebuilds
    StreamBuilder b;
    b.Literals(text);
    b.Match(30, 100);
    text += Repeat(text, 30, 100);
    DecodeRun run = RunDecode(b.Bytes(), static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(run.produced, static_cast<std::int32_t>(text.size()));
    EXPECT_TRUE(run.output == text);
}

TEST_F(Stream, PastTheStoredSizeTheStreamGoesOnWithZeroBits) {
    std::string packed = Encode(SampleText(3000));
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, packed.size() / 2, packed.size() - 1}) {
        SCOPED_TRACE(cut);
        // The file holds the whole stream; only `cut` bytes are declared.
        DecodeRun declared = RunDecode(packed, 3000, static_cast<std::int32_t>(cut));
        DecodeRun zeros = RunDecode(packed.substr(0, cut) + std::string(4000, '\0'), 3000);
        EXPECT_EQ(declared.produced, 3000);
        EXPECT_TRUE(declared.output == zeros.output);
        EXPECT_EQ(declared.reads, cut ? std::vector<std::string>{"FileRead " + std::to_string(cut)}
                                      : std::vector<std::string>{});
    }
    EXPECT_NE(RunDecode(packed, 3000, static_cast<std::int32_t>(packed.size() / 2)).output, SampleText(3000));
}

TEST_F(Stream, LeftOverStoredBytesAreNeverRead) {
    std::string data = RandomBytes(20000, 8);
    std::string packed = Encode(data);
    ASSERT_GT(packed.size(), 16384u + 100);
    ASSERT_LT(packed.size(), 2u * 16384);
    std::string file = packed + RandomBytes(60000, 9);
    DecodeRun run = RunDecode(file, 20000, static_cast<std::int32_t>(file.size()));
    EXPECT_TRUE(run.output == data);
    EXPECT_EQ(run.reads, (std::vector<std::string>{"FileRead 16384", "FileRead 16384"}));
    DecodeRun exact = RunDecode(packed, 20000);
    EXPECT_EQ(exact.reads.back(), "FileRead " + std::to_string(packed.size() - 16384));
}

TEST_F(Stream, AnInstallerFileThatEndsEarlyYieldsZerosNotStaleBytes) {
    std::string data = RandomBytes(30000, 21);
    std::string packed = Encode(data);
    ASSERT_GT(packed.size(), 20000u);
    ASSERT_LT(packed.size(), 2u * 16384);
    // The file stops 20000 bytes in: the second read delivers 3616 bytes,
    // the third nothing, and the rest of the stream is zero bits.
    std::string cut = packed.substr(0, 20000);
    DecodeRun run = RunDecode(cut, 30000, static_cast<std::int32_t>(packed.size()));
    EXPECT_EQ(run.output.size(), 30000u);
    EXPECT_TRUE(run.output == RunDecode(cut + std::string(20000, '\0'), 30000).output);
    EXPECT_EQ(run.reads, (std::vector<std::string>{"FileRead 16384", "FileRead " + std::to_string(packed.size() - 16384),
                                                   "FileRead " + std::to_string(packed.size() - 20000)}));
}

TEST_F(Stream, TheLastThirtyWindowPositionsCarryOverFromThePreviousEntry) {
    // Position 4066 + k last held output byte k + 4096 * n of the entry before.
    std::string first = RandomBytes(5000, 3);
    StreamBuilder a, far, c;
    a.Literals(first);
    far.Match(30, 4095);
    c.Literals("0123456789");
    RunDecode(a.Bytes(), 5000);
    EXPECT_TRUE(RunDecode(far.Bytes(), 30).output == first.substr(4096, 30));
    RunDecode(c.Bytes(), 10);  // a short entry replaces only its own bytes
    EXPECT_TRUE(RunDecode(far.Bytes(), 30).output == "0123456789" + first.substr(4106, 20));
}

TEST_F(Stream, TheSecondPumpFollowsTheByteThatPasses102400) {
    std::string text = RandomBytes(110000, 31);
    StreamBuilder b;
    b.Literals(text);  // one byte per symbol
    g_fake.onPump = [](int pump) { g_stopDecode = pump == 2; };
    DecodeRun run = RunDecode(b.Bytes(), 110000);
    EXPECT_EQ(run.produced, 102401);
    EXPECT_TRUE(run.output == text.substr(0, 6 * 16384));
}

// A stream of 16484 output bytes whose 16384th byte, which fills the first
// output chunk, comes with a code that ends inside stream byte `lastByte`:
// literals, behind a few three-byte matches that shift the codes.
std::string StreamWithChunkEndIn(std::size_t lastByte) {
    std::string text = RandomBytes(16484, 5);
    for (int matches = 0; matches < 400; ++matches) {
        StreamBuilder b;
        b.Literals(text.substr(0, 1));
        for (int m = 0; m < matches; ++m) b.Match(3, 0);
        std::size_t out = 1 + 3 * static_cast<std::size_t>(matches);
        b.Literals(text.substr(out, 16384 - out));
        if (b.BitCount() > 8 * lastByte && b.BitCount() <= 8 * (lastByte + 1)) {
            b.Literals(text.substr(16384));
            return b.Bytes();
        }
    }
    return "";
}

TEST_F(Stream, TheNextBlockIsReadWhenACodeReachesTheLastByteOfTheBlock) {
    // The reader stays more than eight bits ahead of the codes, so the
    // second block is read with the code that reaches the first block's
    // last byte, neither before nor only when its bits are needed. The
    // order of that read and the first chunk's write tells.
    for (std::size_t lastByte : {16383u, 16382u}) {
        SCOPED_TRACE(lastByte);
        InstallFakePlatform();
        std::string stream = StreamWithChunkEndIn(lastByte);
        ASSERT_FALSE(stream.empty());
        DecodeRun run = RunDecode(stream, 16484);
        std::vector<std::string> order;
        for (const std::string& c : g_fake.calls)
            if (c.rfind("FileRead", 0) == 0 || c.rfind("FileWrite", 0) == 0) order.push_back(c);
        std::string secondRead = "FileRead " + std::to_string(stream.size() - 16384);
        EXPECT_EQ(order, (lastByte == 16383
                              ? std::vector<std::string>{"FileRead 16384", secondRead, "FileWrite 16384", "FileWrite 100"}
                              : std::vector<std::string>{"FileRead 16384", "FileWrite 16384", secondRead, "FileWrite 100"}));
    }
}

}  // namespace
