// The overwrite and space checks, the free-space query and the thousands
// formatter.
#include <gtest/gtest.h>

#include "payload/catalogue.h"

#include "install/checks.h"
#include "unit/install/install_test_util.h"

namespace {

std::string Grouped(std::uint64_t value) {
    char out[kGroupedSize];
    return FormatThousands(value, out);
}

TEST(ThousandsFormatter, GroupsDigitsFromTheRightAsUnsignedValues) {
    EXPECT_EQ(Grouped(0), "0");
    EXPECT_EQ(Grouped(999), "999");
    EXPECT_EQ(Grouped(1000), "1,000");
    EXPECT_EQ(Grouped(100000), "100,000");
    EXPECT_EQ(Grouped(1234567), "1,234,567");
    EXPECT_EQ(Grouped(2147483648u), "2,147,483,648");
    EXPECT_EQ(Grouped(4294967295u), "4,294,967,295");
    EXPECT_EQ(Grouped(4294967296u), "4,294,967,296");
    EXPECT_EQ(Grouped(~std::uint64_t{0}), "18,446,744,073,709,551,615");
    EXPECT_LT(Grouped(~std::uint64_t{0}).size(), static_cast<std::size_t>(kGroupedSize));
}

TEST(FreeSpaceQuery, MeasuresTheFolderCutAfterItsLastBackslash) {
    InstallFakePlatform();
    g_fake.freeBytes = 5 * 1024 + 1023;
    EXPECT_EQ(FreeKilobytes("D:\\WINDOWS"), 5u);
    EXPECT_EQ(g_fake.calls.back(), "GetDiskFreeSpaceEx D:\\");
    FreeKilobytes("D:\\OS\\WINDOWS");
    EXPECT_EQ(g_fake.calls.back(), "GetDiskFreeSpaceEx D:\\OS\\");
}

TEST(FreeSpaceQuery, FallsBackToClustersAndReportsUnknownWhenBothFail) {
    InstallFakePlatform();
    g_fake.freeSpaceExMissing = true;
    g_fake.sectorsPerCluster = 8;
    g_fake.bytesPerSector = 512;
    g_fake.freeClusters = 3;
    EXPECT_EQ(FreeKilobytes("C:\\WINDOWS"), 12u);
    EXPECT_EQ(g_fake.calls.back(), "GetDiskFreeSpace C:\\");
    g_fake.freeSpaceFails = true;
    EXPECT_EQ(FreeKilobytes("C:\\WINDOWS"), kFreeSpaceUnknown);
}

TEST(FreeSpaceQuery, VolumesOfManyTerabytesDoNotWrap) {
    InstallFakePlatform();
    g_fake.freeBytes = 5ull << 42;  // 20 TiB: its kilobytes need more than 32 bits
    EXPECT_EQ(FreeKilobytes("C:\\WINDOWS"), 5ull << 32);
    g_fake.freeSpaceExMissing = true;
    g_fake.sectorsPerCluster = 128;
    g_fake.bytesPerSector = 4096;
    g_fake.freeClusters = 0xFFFFFFFFu;
    EXPECT_EQ(FreeKilobytes("C:\\WINDOWS"), (std::uint64_t{128} * 4096 * 0xFFFFFFFFu) >> 10);
}

class OverwriteCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        UsePackage(MakePackage("Aurora"), "C:\\Setup\\Sunset.exe");
        g_showPrompts = 2;
    }
    void TearDown() override { g_showPrompts = 2; }
};

TEST_F(OverwriteCheckTest, NoScreenSaverOfTheInstallersNameAsksNothing) {
    g_fake.WriteFile("C:\\WINDOWS\\Aurora.scr", "x");  // the title's name is not tested
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
    EXPECT_EQ(g_fake.CallsStartingWith("FileExists").at(0), "FileExists C:\\WINDOWS\\Sunset.SCR");
}

TEST_F(OverwriteCheckTest, AsksWithTheTestedNameAndStopsOnNo) {
    g_fake.WriteFile("C:\\WINDOWS\\Sunset.SCR", "old");
    g_fake.answers = {kIdNo, kIdYes};
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 0);
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
    ASSERT_EQ(g_fake.messageBoxes.size(), 2u);
    const FakeMessageBox& box = g_fake.messageBoxes[0];
    EXPECT_EQ(box.owner, 0u);
    EXPECT_EQ(box.text,
              "Esiste gi\xe0 uno screen saver con il nome (Sunset.SCR) installato nel vostro sistema. "
              "Volete sovrascriverlo?");
    EXPECT_EQ(box.caption, "Sovrascrivere Screen Saver?");
    EXPECT_EQ(box.style, kMbYesNo | kMbIconQuestion);
}

TEST_F(OverwriteCheckTest, WithoutPromptsReplacesSilently) {
    g_fake.WriteFile("C:\\WINDOWS\\Sunset.SCR", "old");
    g_showPrompts = 0;
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
}

TEST_F(OverwriteCheckTest, OnlyTheLastExtensionIsRemovedAndANameWithoutOneIsKept) {
    g_fake.moduleFileName = "C:\\Setup\\my.saver.exe";
    g_fake.WriteFile("C:\\WINDOWS\\my.saver.SCR", "old");
    g_fake.defaultAnswer = kIdNo;
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 0);
    g_fake.moduleFileName = "C:\\my.dir\\setup";
    OverwriteCheck(g_showPrompts);
    EXPECT_EQ(g_fake.CallsStartingWith("FileExists").back(), "FileExists C:\\WINDOWS\\setup.SCR");
}

TEST_F(OverwriteCheckTest, GoesOnWhenTheSystemCannotAnswer) {
    g_fake.WriteFile("C:\\WINDOWS\\Sunset.SCR", "old");
    g_fake.windowsFolder = "";
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
    g_fake.windowsFolder = "C:\\WINDOWS";
    g_fake.moduleFileName = "";
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
}

TEST_F(OverwriteCheckTest, AnOwnPathCutByTheSystemNamesNoFile) {
    g_fake.WriteFile("C:\\WINDOWS\\Sunset.SCR", "old");
    // 259 characters come whole; at 260 the system hands back "...\\Sunset.ex",
    // which must not be taken for the installer's name.
    for (std::size_t length : {259u, 260u}) {
        g_fake.messageBoxes.clear();
        g_fake.moduleFileName = "C:\\" + std::string(length - 14, 'd') + "\\Sunset.exe";
        EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
        EXPECT_EQ(g_fake.messageBoxes.size(), length == 259 ? 1u : 0u) << length;
    }
    // A file name of 256 characters gives a tested name of 260, one more
    // than its buffer holds (a memory checker sees any byte written past it).
    g_fake.moduleFileName = "C:\\" + std::string(256, 'n');
    EXPECT_EQ(OverwriteCheck(g_showPrompts), 1);
}

// A package whose records need `kilobytes` KB in total (1 KB each for the
// three files, the rest in one media file).
void UsePackageNeeding(std::uint32_t kilobytes) {
    TestPackage p = MakePackage("Aurora");
    for (TestEntry& e : p.entries) e.data = std::string(1024, 'x');
    p.entries.push_back(Media(".MP3", (kilobytes - 3) * 1024));
    UsePackage(p);
}

TEST(SpaceCheck, EqualCountsAskAndOnlyMoreFreeSpacePassesSilently) {
    UsePackageNeeding(10);
    g_fake.freeBytes = 10 * 1024;
    std::uint64_t total = 0;
    EXPECT_EQ(SpaceCheck(&total), 1);
    EXPECT_EQ(total, 10u * 1024);
    EXPECT_EQ(CountBoxes("Disco Pieno"), 1);
    g_fake.freeBytes = 11 * 1024;
    EXPECT_EQ(SpaceCheck(&total), 1);
    EXPECT_EQ(CountBoxes("Disco Pieno"), 1);
}

TEST(SpaceCheck, NamesNeededThenFreeKilobytesAndStopsOnCancel) {
    UsePackageNeeding(1234);
    g_fake.freeBytes = 1000 * 1024;
    g_fake.answers = {kIdCancel};
    g_showPrompts = 0;  // asked whatever the setting
    std::uint64_t total = 0;
    EXPECT_EQ(SpaceCheck(&total), 0);
    g_showPrompts = 2;
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    const FakeMessageBox& box = g_fake.messageBoxes[0];
    EXPECT_EQ(box.owner, 0u);
    EXPECT_EQ(box.text,
              "Avrete bisogno di 1,234 kilobytes di spazio nella cartella Windows per installare questo "
              "screensaver. Sembrerebbe che a disposizione ci siano solo 1,000 kilobytes liberi.  "
              "Continuare con l\x92installazione?");
    EXPECT_EQ(box.style, kMbOkCancel | kMbIconInformation);
}

TEST(SpaceCheck, APayloadThatCannotBeOpenedPassesWithATotalOfZero) {
    InstallFakePlatform();
    g_fake.moduleFileName = "C:\\Setup\\missing.exe";
    g_fake.freeBytes = 0;
    std::uint64_t total = 99;
    EXPECT_EQ(SpaceCheck(&total), 1);
    EXPECT_EQ(total, 0u);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
}

TEST(SpaceCheck, TotalsBeyondFourGigabytesAreSummedWithoutWrapping) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3"), Media(".AVI")});
    UsePackage(p);
    // Claim 2^31 - 1 unpacked bytes for four records: 8 GiB in all.
    std::string bytes = BuildPackageBytes(p);
    for (std::size_t i = 0; i < 4; ++i) PokeU32(bytes, RecordOffsetOf(bytes, i) + 8, 0x7FFFFFFFu);
    g_fake.WriteFile(kInstallerPath, bytes);
    std::uint64_t total = 0;
    ASSERT_TRUE(SumEntrySizes(g_fake.HostPath(kInstallerPath).c_str(), &total));
    EXPECT_EQ(total, 4ull * 0x7FFFFFFFu + p.entries[4].data.size());
    g_fake.freeBytes = 1ull << 30;
    EXPECT_EQ(SpaceCheck(&total), 1);
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    char needed[kGroupedSize];
    FormatThousands(total / 1024, needed);
    EXPECT_NE(g_fake.messageBoxes[0].text.find(std::string("bisogno di ") + needed + " kilobytes"),
              std::string::npos);
    EXPECT_EQ(std::string(needed), "8,388,608");
}

}  // namespace
