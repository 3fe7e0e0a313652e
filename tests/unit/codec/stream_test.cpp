// Hand-made streams, written bit by bit with the reference model and
// independent of the encoder: what the decoder must produce from them, and
// how it reads its input.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "reference_model.h"
#include "shell/globals.h"
#include "support/fake_platform.h"

namespace {

class Stream : public ::testing::Test {
  protected:
    void SetUp() override { InstallFakePlatform(); }
};

TEST_F(Stream, TheFirstTwoCodesOfAnExecutableSpellMZ) {
    DecodeRun run = RunDecode(std::string("\x15\x22", 2), 2);
    EXPECT_EQ(run.output, "MZ");
    EXPECT_EQ(run.produced, 2);

    StreamBuilder b;
    b.Literals("MZ");
    EXPECT_EQ(b.Bytes(), std::string("\x15\x22", 2));
}

TEST_F(Stream, AMatchAtTheStartCopiesBlanksFromTheFreshWindow) {
    StreamBuilder b;
    b.Match(3, 0);
    EXPECT_EQ(RunDecode(b.Bytes(), 3).output, "   ");

    StreamBuilder far;
    far.Match(30, 4065);  // the oldest blank
    far.Literals("x");
    EXPECT_EQ(RunDecode(far.Bytes(), 31).output, std::string(30, ' ') + "x");
}

TEST_F(Stream, OffsetZeroRepeatsTheLastByte) {
    StreamBuilder b;
    b.Literals("ab");
    b.Match(30, 0);
    b.Literals("c");
    EXPECT_EQ(RunDecode(b.Bytes(), 33).output, "ab" + std::string(30, 'b') + "c");

    // An overlapping match with a period of three.
    StreamBuilder p;
    p.Literals("xyz");
    p.Match(10, 2);
    EXPECT_EQ(RunDecode(p.Bytes(), 13).output, "xyzxyzxyzxyzx");
}

TEST_F(Stream, OffsetsOfEveryCodeLengthReachTheRightBytes) {
    // 5000 distinct-enough literals, then one match per offset, each copying
    // three bytes from offset + 1 bytes back.
    std::string text = RandomBytes(5000, 11);
    StreamBuilder b;
    b.Literals(text);
    std::string expected = text;
    for (int offset : {0, 31, 63, 64, 255, 256, 767, 768, 1535, 1536, 3071, 3072, 4000, 4095}) {
        b.Match(3, offset);
        for (int k = 0; k < 3; ++k) expected.push_back(expected[expected.size() - static_cast<std::size_t>(offset) - 1]);
    }
    DecodeRun run = RunDecode(b.Bytes(), static_cast<std::int32_t>(expected.size()));
    EXPECT_TRUE(run.output == expected);
}

TEST_F(Stream, MoreSymbolsThanTheFirstRebuildDecodeSeamlessly) {
    // 70000 literals: two rebuilds of the model.
    std::string text = RandomBytes(40000, 5) + SampleText(30000);
    StreamBuilder b;
    b.Literals(text);
    b.Match(30, 100);
    text += text.substr(text.size() - 101, 30);
    DecodeRun run = RunDecode(b.Bytes(), static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(run.produced, static_cast<std::int32_t>(text.size()));
    EXPECT_TRUE(run.output == text);
}

TEST_F(Stream, WhenTheStoredSizeRunsOutTheStreamGoesOnWithZeroBits) {
    std::string data = SampleText(3000);
    std::string packed = Encode(data);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, packed.size() / 2, packed.size() - 1}) {
        SCOPED_TRACE(cut);
        // The file holds the whole stream; only `cut` bytes are declared.
        DecodeRun shortRun = RunDecode(packed, 3000, static_cast<std::int32_t>(cut));
        DecodeRun zeros = RunDecode(packed.substr(0, cut) + std::string(4000, '\0'), 3000);
        EXPECT_EQ(shortRun.produced, 3000);
        EXPECT_EQ(shortRun.output.size(), 3000u);
        EXPECT_TRUE(shortRun.output == zeros.output);
        if (cut == 0) {
            EXPECT_TRUE(shortRun.reads.empty());
        } else {
            ASSERT_EQ(shortRun.reads.size(), 1u);
            EXPECT_EQ(shortRun.reads[0], "FileRead " + std::to_string(cut));
        }
    }
    // A cut stream decodes differently, so the comparison above has teeth.
    EXPECT_NE(RunDecode(packed, 3000, static_cast<std::int32_t>(packed.size() / 2)).output, data);
}

TEST_F(Stream, LeftOverStoredBytesAreNeverRead) {
    // About 20000 bytes of stream in a file with 60000 bytes of junk behind.
    std::string data = RandomBytes(20000, 8);
    std::string packed = Encode(data);
    ASSERT_GT(packed.size(), 16384u + 100);
    ASSERT_LT(packed.size(), 2u * 16384);
    std::string file = packed + RandomBytes(60000, 9);
    DecodeRun run = RunDecode(file, 20000, static_cast<std::int32_t>(file.size()));
    EXPECT_TRUE(run.output == data);
    EXPECT_EQ(run.reads, (std::vector<std::string>{"FileRead 16384", "FileRead 16384"}));

    // With the exact stored size the second block is the rest of the stream.
    DecodeRun exact = RunDecode(file, 20000, static_cast<std::int32_t>(packed.size()));
    EXPECT_TRUE(exact.output == data);
    EXPECT_EQ(exact.reads,
              (std::vector<std::string>{"FileRead 16384", "FileRead " + std::to_string(packed.size() - 16384)}));
}

TEST_F(Stream, AnInstallerFileThatEndsEarlyYieldsZerosNotStaleBytes) {
    std::string data = RandomBytes(30000, 21);
    std::string packed = Encode(data);
    ASSERT_GT(packed.size(), 20000u);
    // The file stops 20000 bytes in, while the stored size says more: the
    // second read delivers 3616 bytes, the next one nothing.
    std::string truncated = packed.substr(0, 20000);
    DecodeRun run = RunDecode(truncated, 30000, static_cast<std::int32_t>(packed.size()));
    DecodeRun zeros = RunDecode(truncated + std::string(20000, '\0'), 30000);
    EXPECT_EQ(run.output.size(), 30000u);
    EXPECT_TRUE(run.output == zeros.output);
    EXPECT_EQ(run.reads, (std::vector<std::string>{"FileRead 16384",
                                                  "FileRead " + std::to_string(packed.size() - 16384),
                                                  "FileRead " + std::to_string(packed.size() - 20000)}));
}

TEST_F(Stream, TheLastThirtyWindowPositionsCarryOverFromThePreviousEntry) {
    // The window is not reset behind 4066: a stream that reads those
    // positions first sees what the previous entry left there. Position
    // 4066 + k last held output byte k + 4096 * n of that entry.
    std::string first = RandomBytes(5000, 3);
    StreamBuilder a;
    a.Literals(first);
    ASSERT_TRUE(RunDecode(a.Bytes(), 5000).output == first);

    StreamBuilder b;
    b.Match(30, 4095);
    EXPECT_TRUE(RunDecode(b.Bytes(), 30).output == first.substr(4096, 30));

    // A short entry leaves only its own bytes there.
    StreamBuilder c;
    c.Literals("0123456789");
    RunDecode(c.Bytes(), 10);
    std::string after = RunDecode(b.Bytes(), 30).output;
    EXPECT_EQ(after.substr(0, 10), "0123456789");
    EXPECT_TRUE(after.substr(10) == first.substr(4096 + 10, 20));
}

}  // namespace

namespace {

class Reading : public ::testing::Test {
  protected:
    void SetUp() override { InstallFakePlatform(); }
};

TEST_F(Reading, TheSecondPumpFollowsTheByteThatPasses102400) {
    // Literals only, so every symbol is one byte: Cancel at the second pump
    // stops right after byte 102401.
    std::string text = RandomBytes(110000, 31);
    StreamBuilder b;
    b.Literals(text);
    g_fake.onPump = [](int pump) {
        if (pump == 2) g_cancel = 1;
    };
    DecodeRun run = RunDecode(b.Bytes(), 110000);
    EXPECT_EQ(run.produced, 102401);
    EXPECT_TRUE(run.output == text.substr(0, 6 * 16384));
}

// A literal-only stream of 16484 bytes, with a few three-byte matches at
// the start to shift the code positions, whose 16384th output byte (the
// end of the first output chunk) comes with a code ending inside stream
// byte `lastByte`; empty when none is found.
std::string StreamWithChunkEndIn(std::size_t lastByte) {
    std::string text = RandomBytes(16484, 5);
    for (int matches = 0; matches < 400; ++matches) {
        StreamBuilder b;
        b.Literal(static_cast<std::uint8_t>(text[0]));
        std::size_t out = 1;
        for (int m = 0; m < matches; ++m) {  // each repeats the previous byte three times
            b.Match(3, 0);
            out += 3;
        }
        for (; out < 16384; ++out) b.Literal(static_cast<std::uint8_t>(text[out]));
        std::size_t bits = b.Bits().size();
        if (bits > 8 * lastByte && bits <= 8 * (lastByte + 1)) {
            for (; out < 16484; ++out) b.Literal(static_cast<std::uint8_t>(text[out]));
            return b.Bytes();
        }
    }
    return "";
}

std::vector<std::string> ReadsAndWrites() {
    std::vector<std::string> order;
    for (const std::string& c : g_fake.calls)
        if (c.rfind("FileRead", 0) == 0 || c.rfind("FileWrite", 0) == 0) order.push_back(c);
    return order;
}

TEST_F(Reading, TheNextBlockIsReadWhenACodeReachesTheLastByteOfTheBlock) {
    // The reader stays more than eight bits ahead of the codes: the first
    // byte of the second block is taken as soon as a code reaches the last
    // byte of the first one, not before and not only when its bits are
    // needed. The first output chunk is written after the code that ends
    // it, so the order of that write and the second read tells.
    std::string reaches = StreamWithChunkEndIn(16383);
    ASSERT_FALSE(reaches.empty());
    RunDecode(reaches, 16484);
    EXPECT_EQ(ReadsAndWrites(), (std::vector<std::string>{"FileRead 16384",
                                                          "FileRead " + std::to_string(reaches.size() - 16384),
                                                          "FileWrite 16384", "FileWrite 100"}));

    InstallFakePlatform();
    std::string stopsShort = StreamWithChunkEndIn(16382);
    ASSERT_FALSE(stopsShort.empty());
    RunDecode(stopsShort, 16484);
    EXPECT_EQ(ReadsAndWrites(), (std::vector<std::string>{"FileRead 16384", "FileWrite 16384",
                                                          "FileRead " + std::to_string(stopsShort.size() - 16384),
                                                          "FileWrite 100"}));
}

}  // namespace
