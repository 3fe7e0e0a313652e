// The decoder as the extraction drives it: output chunks, the UI pump and
// Cancel, failing writes, and DecodeEntry's handling of its files.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "shell/globals.h"
#include "support/fake_platform.h"

namespace {

class Decoder : public ::testing::Test {
  protected:
    void SetUp() override { InstallFakePlatform(); }
};

std::vector<std::string> WritesOf(const std::vector<std::string>& sizes) {
    std::vector<std::string> out;
    for (const std::string& s : sizes) out.push_back("FileWrite " + s);
    return out;
}

TEST_F(Decoder, OutputLeavesInChunksOf16384AndARemainder) {
    struct Case {
        std::size_t size;
        std::vector<std::string> writes;
    } cases[] = {
        {1, {"1"}},
        {16384, {"16384"}},
        {16385, {"16384", "1"}},
        {40000, {"16384", "16384", "7232"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::string data = SampleText(c.size);
        DecodeRun run = RunDecode(Encode(data), static_cast<std::int32_t>(c.size));
        EXPECT_EQ(run.writes, WritesOf(c.writes));
        EXPECT_TRUE(run.output == data);
    }
}

TEST_F(Decoder, AnUnpackedSizeOfZeroReadsAndWritesNothing) {
    DecodeRun run = RunDecode(std::string("\x15\x22", 2), 0);
    EXPECT_EQ(run.produced, 0);
    EXPECT_TRUE(run.reads.empty());
    EXPECT_TRUE(run.writes.empty());
    EXPECT_EQ(g_fake.pumps, 0);
    EXPECT_EQ(RunDecode(std::string("\x15\x22", 2), -5).produced, 0);
    EXPECT_TRUE(Encode("").empty());
}

TEST_F(Decoder, PumpsAfterTheFirstSymbolAndEvery102400Bytes) {
    std::string data = RandomBytes(250000, 4);  // nearly all literals
    DecodeRun run = RunDecode(Encode(data), 250000);
    EXPECT_TRUE(run.output == data);
    // After the first byte, then after the symbols that pass 102400 and
    // 204800 bytes: six whole chunks lie before the second pump, twelve
    // before the third, and the first pump comes before any write.
    EXPECT_EQ(g_fake.pumps, 3);
    std::vector<std::string> order;
    for (const std::string& c : g_fake.calls)
        if (c == "Pump" || c.rfind("FileWrite", 0) == 0) order.push_back(c);
    std::vector<std::string> expected = {"Pump"};
    for (int chunk = 1; chunk <= 16; ++chunk) {
        expected.push_back(chunk == 16 ? "FileWrite 4240" : "FileWrite 16384");
        if (chunk == 6 || chunk == 12) expected.push_back("Pump");
    }
    EXPECT_EQ(order, expected);
}

TEST_F(Decoder, CancelBeforeAnEntryStopsItAfterItsFirstSymbol) {
    std::string data = SampleText(50000);
    std::string packed = Encode(data);
    g_cancel = 1;
    DecodeRun run = RunDecode(packed, 50000);
    EXPECT_EQ(g_fake.pumps, 1);
    EXPECT_LT(run.produced, 31);
    EXPECT_GE(run.produced, 1);
    EXPECT_TRUE(run.writes.empty());
    EXPECT_EQ(run.output, "");

    // Unless that symbol alone completes the entry.
    DecodeRun one = RunDecode(std::string("\x15", 1), 1);
    EXPECT_EQ(one.output, "M");
}

TEST_F(Decoder, CancelDuringAnEntryLeavesWholeChunksOnly) {
    std::string data = SampleText(400000);
    g_fake.onPump = [](int pump) {
        if (pump == 3) g_cancel = 1;
    };
    DecodeRun run = RunDecode(Encode(data), 400000);
    EXPECT_EQ(g_fake.pumps, 3);
    // The third pump follows the symbol that passes 204800 bytes.
    EXPECT_GT(run.produced, 204800);
    EXPECT_LE(run.produced, 204800 + 30);
    EXPECT_EQ(run.output.size() % 16384, 0u);
    EXPECT_EQ(run.output.size(), 12u * 16384);
    EXPECT_TRUE(run.output == data.substr(0, run.output.size()));
}

TEST_F(Decoder, TheUninstallerIsWrittenWholeDespiteCancel) {
    std::string data = SampleText(300000);
    g_cancel = 1;
    g_uninstaller = 1;
    DecodeRun run = RunDecode(Encode(data), 300000);
    EXPECT_EQ(run.produced, 300000);
    EXPECT_TRUE(run.output == data);
    EXPECT_EQ(g_fake.pumps, 3);
}

TEST_F(Decoder, AShortWriteStopsTheDecodeAndIsReported) {
    std::string data = SampleText(100000);
    g_fake.diskBytesLeft = 20000;
    DecodeRun run = RunDecode(Encode(data), 100000);
    EXPECT_EQ(run.writeFailed, 1);
    // The second chunk was cut short; nothing was tried after it.
    EXPECT_EQ(run.writes, WritesOf({"16384", "16384"}));
    EXPECT_LT(run.produced, 2 * 16384 + 30);
    EXPECT_EQ(run.output.size(), 20000u);
}

TEST_F(Decoder, AFailingWriteCallIsReportedToo) {
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileWrite"; };
    DecodeRun run = RunDecode(Encode(SampleText(5000)), 5000);
    EXPECT_EQ(run.writeFailed, 1);
    EXPECT_EQ(run.writes.size(), 1u);
}

// ---- DecodeEntry ------------------------------------------------------------------

class Entry : public Decoder {
  protected:
    // A file with `junk` bytes, then the packed entry, then more junk.
    std::string MakeInstaller(const std::string& data, std::size_t junk) {
        packed_ = Encode(data);
        g_fake.WriteFile("C:\\setup.exe", RandomBytes(junk, 1) + packed_ + RandomBytes(500, 2));
        return "C:\\setup.exe";
    }
    std::string packed_;
};

TEST_F(Entry, DecodesFromTheRecordsOffsetIntoANewTarget) {
    std::string data = SampleText(40000);
    std::string installer = MakeInstaller(data, 1234);
    g_fake.WriteFile("C:\\data\\FILE0001.MP3", "old contents that must go");
    int result = DecodeEntry(installer.c_str(), 1234, 40000, static_cast<std::uint32_t>(packed_.size()),
                             "C:\\data\\FILE0001.MP3");
    EXPECT_EQ(result, kDecodeDone);
    EXPECT_TRUE(g_fake.ReadFile("C:\\data\\FILE0001.MP3") == data);
    std::vector<std::string> files;
    for (const std::string& c : g_fake.calls)
        if (c.rfind("FileRead", 0) != 0 && c.rfind("FileWrite", 0) != 0 && c != "Pump") files.push_back(c);
    EXPECT_EQ(files, (std::vector<std::string>{"FileOpenRead C:\\setup.exe", "FileSeek 1234",
                                               "FileCreate C:\\data\\FILE0001.MP3", "FileClose", "FileClose"}));
}

TEST_F(Entry, WithoutAPathItReadsItsOwnFile) {
    std::string data = SampleText(1000);
    MakeInstaller(data, 10);
    g_fake.moduleFileName = "C:\\setup.exe";
    EXPECT_EQ(DecodeEntry(nullptr, 10, 1000, static_cast<std::uint32_t>(packed_.size()), "C:\\out.bin"),
              kDecodeDone);
    EXPECT_TRUE(g_fake.ReadFile("C:\\out.bin") == data);
    EXPECT_EQ(g_fake.calls.front(), "GetModuleFileName");
}

TEST_F(Entry, NoOwnFileNameMeansNothingIsOpened) {
    g_fake.moduleFileName = "";
    EXPECT_EQ(DecodeEntry(nullptr, 0, 10, 10, "C:\\out.bin"), kDecodeNoInstaller);
    EXPECT_EQ(g_fake.calls, std::vector<std::string>{"GetModuleFileName"});

    // A name too long for 260 bytes is no name either.
    g_fake.moduleFileName = "C:\\" + std::string(300, 'a');
    EXPECT_EQ(DecodeEntry(nullptr, 0, 10, 10, "C:\\out.bin"), kDecodeNoInstaller);
    EXPECT_FALSE(g_fake.Exists("C:\\out.bin"));
}

TEST_F(Entry, AnUnreadableInstallerIsReportedAndNoTargetMade) {
    EXPECT_EQ(DecodeEntry("C:\\missing.exe", 0, 10, 10, "C:\\out.bin"), kDecodeInstallerUnreadable);
    EXPECT_FALSE(g_fake.Exists("C:\\out.bin"));
    EXPECT_TRUE(g_fake.CallsStartingWith("FileCreate").empty());
}

TEST_F(Entry, ATargetThatCannotBeCreatedIsReportedAndTheInstallerClosed) {
    std::string installer = MakeInstaller(SampleText(100), 0);
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileCreate"; };
    EXPECT_EQ(DecodeEntry(installer.c_str(), 0, 100, static_cast<std::uint32_t>(packed_.size()), "C:\\out.bin"),
              kDecodeTargetUnwritable);
    EXPECT_EQ(g_fake.CallsStartingWith("FileClose").size(), 1u);
    EXPECT_TRUE(g_fake.CallsStartingWith("FileRead").empty());
}

TEST_F(Entry, AFullDiskIsReportedAndBothFilesClosed) {
    std::string installer = MakeInstaller(SampleText(60000), 0);
    g_fake.diskBytesLeft = 30000;
    EXPECT_EQ(DecodeEntry(installer.c_str(), 0, 60000, static_cast<std::uint32_t>(packed_.size()), "C:\\out.bin"),
              kDecodeWriteFailed);
    EXPECT_EQ(g_fake.CallsStartingWith("FileClose").size(), 2u);
    EXPECT_EQ(g_fake.ReadFile("C:\\out.bin").size(), 30000u);
}

TEST_F(Entry, AZeroSizedEntryMakesAnEmptyTarget) {
    std::string installer = MakeInstaller(SampleText(100), 0);
    g_fake.WriteFile("C:\\out.bin", "previous");
    EXPECT_EQ(DecodeEntry(installer.c_str(), 0, 0, 50, "C:\\out.bin"), kDecodeDone);
    EXPECT_TRUE(g_fake.Exists("C:\\out.bin"));
    EXPECT_EQ(g_fake.ReadFile("C:\\out.bin"), "");
    EXPECT_TRUE(g_fake.CallsStartingWith("FileRead").empty());
}

TEST_F(Entry, EveryEntryStartsFromAFreshReaderWriterAndModel) {
    // Two different entries back to back give the same bytes as each alone.
    std::string a = SampleText(20000), b = RandomBytes(7000, 77);
    std::string packedA = Encode(a), packedB = Encode(b);
    g_fake.WriteFile("C:\\setup.exe", packedA + packedB);
    auto sizeA = static_cast<std::uint32_t>(packedA.size());
    auto sizeB = static_cast<std::uint32_t>(packedB.size());
    EXPECT_EQ(DecodeEntry("C:\\setup.exe", 0, 20000, sizeA, "C:\\a"), kDecodeDone);
    EXPECT_EQ(DecodeEntry("C:\\setup.exe", sizeA, 7000, sizeB, "C:\\b"), kDecodeDone);
    EXPECT_EQ(DecodeEntry("C:\\setup.exe", 0, 20000, sizeA, "C:\\a2"), kDecodeDone);
    EXPECT_TRUE(g_fake.ReadFile("C:\\a") == a);
    EXPECT_TRUE(g_fake.ReadFile("C:\\b") == b);
    EXPECT_TRUE(g_fake.ReadFile("C:\\a2") == a);
}

}  // namespace
