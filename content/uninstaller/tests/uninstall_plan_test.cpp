// What the standard uninstaller removes, and what it leaves alone.
#include <gtest/gtest.h>

#include "uninstall_plan.h"

namespace {

using uninstaller::PlanUninstall;
using Files = std::vector<std::string>;

constexpr char kFolder[] = "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale";
constexpr char kSelf[] = "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\UNINSTAL.EXE";

const char kLog[] =
    "C:\\WINDOWS\\Aurora Boreale.scr\r\n"
    "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\Aurora Boreale.dat\r\n"
    "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\UNINSTAL.EXE\r\n"
    "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\FILE0001.WAV\r\n";

TEST(UninstallPlan, RemovesEveryInstalledFileButItselfAndTheLog) {
    uninstaller::UninstallPlan plan = PlanUninstall(kLog, kFolder, "C:\\windows", kSelf);
    EXPECT_EQ(plan.files, (Files{"C:\\WINDOWS\\Aurora Boreale.scr",
                                 "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\Aurora Boreale.dat",
                                 "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\FILE0001.WAV"}));
    EXPECT_TRUE(plan.refused.empty());
}

TEST(UninstallPlan, TwoInstallsInOneLogListEachFileOnce) {
    std::string twice = std::string(kLog) + kLog;
    // A later install may have written the same paths in another letter case.
    twice += "c:\\programdata\\tarnwell\\glimmerwick\\aurora boreale\\file0001.wav\r\n";
    uninstaller::UninstallPlan plan = PlanUninstall(twice, kFolder, "C:\\windows\\", kSelf);
    EXPECT_EQ(plan.files.size(), 3u);
}

TEST(UninstallPlan, LinesEndedByLineFeedsOrNothingCount) {
    uninstaller::UninstallPlan plan = PlanUninstall(
        "C:\\windows\\Aurora Boreale.scr\n\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\FILE0002.MP3",
        kFolder, "C:\\windows", kSelf);
    EXPECT_EQ(plan.files, (Files{"C:\\windows\\Aurora Boreale.scr",
                                 "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\FILE0002.MP3"}));
}

TEST(UninstallPlan, NothingOutsideItsFolderAndItsScreenSaverIsTouched) {
    const char hostile[] =
        "C:\\windows\\system32\\kernel32.dll\r\n"
        "C:\\windows\\Other.scr\r\n"
        "C:\\windows\\Aurora Boreale.scr.bak\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\..\\Other\\UNINSTAL.EXE\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\sub\\x.wav\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\..\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Borealex\\FILE0001.WAV\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\a:stream\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\FILE0001.WAV.\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\CON.WAV\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\lpt1\r\n"
        "\\\\server\\share\\Aurora Boreale.scr\r\n";
    uninstaller::UninstallPlan plan = PlanUninstall(hostile, kFolder, "C:\\windows", kSelf);
    EXPECT_TRUE(plan.files.empty()) << plan.files.front();
    EXPECT_EQ(plan.refused.size(), 13u);
}

TEST(UninstallPlan, DeviceLikeNamesThatAreFilesStay) {
    // COM10 and CONSOLE are ordinary names.
    uninstaller::UninstallPlan plan = PlanUninstall(
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\COM10.WAV\r\n"
        "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora Boreale\\CONSOLE.WAV\r\n",
        kFolder, "C:\\windows", kSelf);
    EXPECT_EQ(plan.files.size(), 2u);
}

TEST(UninstallPlan, AFolderThatCannotBeATitleRemovesNothing) {
    // An uninstaller copied to a drive's root has no title to go by.
    uninstaller::UninstallPlan plan = PlanUninstall("C:\\windows\\.scr\r\nC:\\x.wav\r\n", "C:", "C:\\windows",
                                               "C:\\UNINSTAL.EXE");
    EXPECT_TRUE(plan.files.empty());
    plan = PlanUninstall(kLog, kFolder, "", kSelf);
    EXPECT_TRUE(plan.files.empty());
}

TEST(UninstallPlan, ScreenSaverPathKeyAndSystemIniEntry) {
    EXPECT_EQ(uninstaller::ScreenSaverPath(kFolder, "C:\\windows"), "C:\\windows\\Aurora Boreale.scr");
    EXPECT_EQ(uninstaller::ScreenSaverPath(kFolder, "D:\\"), "D:\\Aurora Boreale.scr");
    EXPECT_EQ(uninstaller::UninstallKeyPath(kFolder),
              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Aurora Boreale");
    EXPECT_TRUE(uninstaller::NamesScreenSaver("C:\\WINDOWS\\AURO~EHE.SCR", "C:\\windows\\Aurora Boreale.scr",
                                         "C:\\windows\\AURO~EHE.SCR"));
    EXPECT_TRUE(uninstaller::NamesScreenSaver("c:\\windows\\aurora boreale.scr",
                                         "C:\\windows\\Aurora Boreale.scr", ""));
    EXPECT_FALSE(uninstaller::NamesScreenSaver("C:\\windows\\Other.scr", "C:\\windows\\Aurora Boreale.scr",
                                          "C:\\windows\\AURO~EHE.SCR"));
    EXPECT_FALSE(uninstaller::NamesScreenSaver("", "", ""));
}

TEST(UninstallPlan, FoldersGoOnlyWhereTheInstallerPutsThem) {
    EXPECT_EQ(uninstaller::FoldersToRemove(kFolder),
              (Files{kFolder, "C:\\ProgramData\\Tarnwell\\Glimmerwick", "C:\\ProgramData\\Tarnwell"}));
    EXPECT_EQ(uninstaller::FoldersToRemove("c:\\tarnwell\\glimmerwick\\Aurora").size(), 3u);
    // A copy run from another folder leaves every folder alone.
    EXPECT_TRUE(uninstaller::FoldersToRemove("C:\\Users\\Anna\\Desktop").empty());
    EXPECT_TRUE(uninstaller::FoldersToRemove("C:\\Other\\Glimmerwick\\Aurora").empty());
    EXPECT_TRUE(uninstaller::FoldersToRemove("Glimmerwick\\Aurora").empty());
    EXPECT_TRUE(uninstaller::FoldersToRemove("C:\\Tarnwell\\Glimmerwick\\..").empty());
}

}  // namespace
