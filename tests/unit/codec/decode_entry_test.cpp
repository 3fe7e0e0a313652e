// The decoder as the extraction drives it: output chunks, the pump and its
// stop, failing writes, and DecodeEntry's handling of its files.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "support/fake_platform.h"

namespace {

// One state for every entry of these tests, as the extraction keeps one.
DecoderState g_decoder;

class Decoder : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFakePlatform();
        g_stopDecode = 0;
    }
    void TearDown() override { g_stopDecode = 0; }
};

TEST_F(Decoder, OutputLeavesInChunksOf16384AndARemainder) {
    const struct {
        std::size_t size;
        std::vector<std::string> writes;
    } cases[] = {{1, {"FileWrite 1"}},
                 {16384, {"FileWrite 16384"}},
                 {16385, {"FileWrite 16384", "FileWrite 1"}},
                 {40000, {"FileWrite 16384", "FileWrite 16384", "FileWrite 7232"}}};
    for (const auto& c : cases) {
        std::string data = SampleText(c.size);
        DecodeRun run = RunDecode(Encode(data), static_cast<std::int32_t>(c.size));
        EXPECT_EQ(run.writes, c.writes) << c.size;
        EXPECT_TRUE(run.output == data) << c.size;
    }
}

TEST_F(Decoder, AnUnpackedSizeOfZeroOrLessReadsAndWritesNothing) {
    for (std::int32_t size : {0, -5}) {
        DecodeRun run = RunDecode(std::string("\x15\x22", 2), size);
        EXPECT_EQ(run.produced, 0);
        EXPECT_TRUE(run.reads.empty() && run.writes.empty());
    }
    EXPECT_EQ(g_fake.pumps, 0);
}

TEST_F(Decoder, PumpsAfterTheFirstSymbolAndAfterEvery102400Bytes) {
    std::string data = RandomBytes(250000, 4);
    DecodeRun run = RunDecode(Encode(data), 250000);
    EXPECT_TRUE(run.output == data);
    std::vector<std::string> order, expected = {"Pump"};
    for (const std::string& c : g_fake.calls)
        if (c == "Pump" || c.rfind("FileWrite", 0) == 0) order.push_back(c);
    for (int chunk = 1; chunk <= 16; ++chunk) {
        expected.push_back(chunk == 16 ? "FileWrite 4240" : "FileWrite 16384");
        if (chunk == 6 || chunk == 12) expected.push_back("Pump");  // past 102400 and 204800
    }
    EXPECT_EQ(order, expected);
}

TEST_F(Decoder, AStopTakesEffectAtThePumpAndKeepsOnlyWholeChunks) {
    std::string text = SampleText(400000);
    std::string packed = Encode(text);

    // Asked before the entry: only its first symbol is decoded.
    g_stopDecode = 1;
    DecodeRun before = RunDecode(packed, 400000);
    EXPECT_EQ(g_fake.pumps, 1);
    EXPECT_GE(before.produced, 1);
    EXPECT_LE(before.produced, 30);
    EXPECT_EQ(before.output, "");
    EXPECT_EQ(RunDecode(std::string("\x15", 1), 1).output, "M");  // unless that completes it

    // Asked at the third pump: whole chunks up to that point remain.
    InstallFakePlatform();
    g_stopDecode = 0;
    g_fake.onPump = [](int pump) { g_stopDecode = pump == 3; };
    DecodeRun during = RunDecode(packed, 400000);
    EXPECT_EQ(g_fake.pumps, 3);
    EXPECT_GT(during.produced, 204800);
    EXPECT_LE(during.produced, 204800 + 30);
    EXPECT_EQ(during.output.size(), 12u * 16384);
    EXPECT_TRUE(during.output == text.substr(0, 12 * 16384));
    EXPECT_EQ(during.faults, kStreamUnfinished);
}

TEST_F(Decoder, AWriteThatFailsStopsTheDecodeAndIsReported) {
    std::string packed = Encode(SampleText(100000));
    g_fake.diskBytesLeft = 20000;  // the second chunk is cut short
    DecodeRun full = RunDecode(packed, 100000);
    EXPECT_EQ(full.writeFailed, 1);
    EXPECT_EQ(full.writes, (std::vector<std::string>{"FileWrite 16384", "FileWrite 16384"}));
    EXPECT_LT(full.produced, 2 * 16384 + 30);
    EXPECT_EQ(full.output.size(), 20000u);

    InstallFakePlatform();
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileWrite"; };
    DecodeRun refused = RunDecode(packed, 100000);
    EXPECT_EQ(refused.writeFailed, 1);
    EXPECT_EQ(refused.writes.size(), 1u);
}

// ---- DecodeEntry ------------------------------------------------------------------

class Entry : public Decoder {
  protected:
    // C:\setup.exe: `junk` bytes, the packed entry, more junk.
    void MakeInstaller(const std::string& data, std::size_t junk) {
        packed_ = Encode(data);
        g_fake.WriteFile("C:\\setup.exe", RandomBytes(junk, 1) + packed_ + RandomBytes(500, 2));
    }
    std::uint32_t Stored() const { return static_cast<std::uint32_t>(packed_.size()); }
    std::string packed_;
};

TEST_F(Entry, DecodesFromTheRecordsOffsetIntoANewTarget) {
    std::string data = SampleText(40000);
    MakeInstaller(data, 1234);
    g_fake.WriteFile("C:\\data\\FILE0001.MP3", "old contents that must go");
    StreamResult result;
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 1234, 40000, Stored(), "C:\\data\\FILE0001.MP3", &kFakePump, &result),
              kDecodeDone);
    EXPECT_TRUE(g_fake.ReadFile("C:\\data\\FILE0001.MP3") == data);
    EXPECT_EQ(result.produced, 40000);
    EXPECT_EQ(StreamFaults(result, Stored(), 0), kStreamSound);
    std::vector<std::string> files;
    for (const std::string& c : g_fake.calls)
        if (c.rfind("FileRead", 0) != 0 && c.rfind("FileWrite", 0) != 0 && c != "Pump") files.push_back(c);
    EXPECT_EQ(files, (std::vector<std::string>{"FileOpenRead C:\\setup.exe", "FileSeek 1234",
                                               "FileCreate C:\\data\\FILE0001.MP3", "FileClose", "FileClose"}));

    // An entry of size 0 makes an empty target and reads nothing.
    std::size_t reads = g_fake.CallsStartingWith("FileRead").size();
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 1234, 0, Stored(), "C:\\data\\FILE0001.MP3", &kFakePump), kDecodeDone);
    EXPECT_TRUE(g_fake.Exists("C:\\data\\FILE0001.MP3"));
    EXPECT_EQ(g_fake.ReadFile("C:\\data\\FILE0001.MP3"), "");
    EXPECT_EQ(g_fake.CallsStartingWith("FileRead").size(), reads);
}

TEST_F(Entry, FilesThatCannotBeOpenedOrWrittenAreReported) {
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\missing.exe", 0, 10, 10, "C:\\out.bin", &kFakePump), kDecodeInstallerUnreadable);
    EXPECT_FALSE(g_fake.Exists("C:\\out.bin"));

    MakeInstaller(SampleText(60000), 0);
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileCreate"; };
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 0, 60000, Stored(), "C:\\out.bin", &kFakePump), kDecodeTargetUnwritable);
    EXPECT_EQ(g_fake.CallsStartingWith("FileClose").size(), 1u);  // the installer
    EXPECT_TRUE(g_fake.CallsStartingWith("FileRead").empty());

    InstallFakePlatform();
    MakeInstaller(SampleText(60000), 0);
    g_fake.diskBytesLeft = 30000;
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 0, 60000, Stored(), "C:\\out.bin", &kFakePump), kDecodeWriteFailed);
    EXPECT_EQ(g_fake.CallsStartingWith("FileClose").size(), 2u);
    EXPECT_EQ(g_fake.ReadFile("C:\\out.bin").size(), 30000u);
}

TEST_F(Entry, TwoStatesDecodeAtOnceWithoutTouchingEachOther) {
    // As the package check's thread and the extraction do: here a whole
    // second decode, with a state of its own, runs inside every pump of
    // the first.
    std::string a = SampleText(300000), b = RandomBytes(20000, 78);
    std::string packedA = Encode(a), packedB = Encode(b);
    g_fake.WriteFile("C:\\setup.exe", packedA + packedB);
    static DecoderState other;
    static int nested;
    nested = 0;
    static std::uint32_t sizeA, sizeB;
    sizeA = static_cast<std::uint32_t>(packedA.size());
    sizeB = static_cast<std::uint32_t>(packedB.size());
    g_fake.onPump = [](int) {
        if (nested) return;
        nested = 1;
        EXPECT_EQ(DecodeEntry(&other, "C:\\setup.exe", sizeA, 20000, sizeB, "C:\\b", nullptr), kDecodeDone);
        nested = 0;
    };
    StreamResult result;
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 0, 300000, sizeA, "C:\\a", &kFakePump, &result),
              kDecodeDone);
    g_fake.onPump = nullptr;
    EXPECT_GE(g_fake.pumps, 3);
    EXPECT_EQ(StreamFaults(result, sizeA, 0), kStreamSound);
    EXPECT_TRUE(g_fake.ReadFile("C:\\a") == a);
    EXPECT_TRUE(g_fake.ReadFile("C:\\b") == b);
}

TEST_F(Entry, EveryEntryStartsFromAFreshReaderWriterAndModel) {
    std::string a = SampleText(20000), b = RandomBytes(7000, 77);
    std::string packedA = Encode(a), packedB = Encode(b);
    g_fake.WriteFile("C:\\setup.exe", packedA + packedB);
    auto sizeA = static_cast<std::uint32_t>(packedA.size());
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 0, 20000, sizeA, "C:\\a", &kFakePump), kDecodeDone);
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", sizeA, 7000, static_cast<std::uint32_t>(packedB.size()), "C:\\b", &kFakePump),
              kDecodeDone);
    EXPECT_EQ(DecodeEntry(&g_decoder, "C:\\setup.exe", 0, 20000, sizeA, "C:\\a2", &kFakePump), kDecodeDone);
    EXPECT_TRUE(g_fake.ReadFile("C:\\a") == a && g_fake.ReadFile("C:\\a2") == a);
    EXPECT_TRUE(g_fake.ReadFile("C:\\b") == b);
}

}  // namespace
