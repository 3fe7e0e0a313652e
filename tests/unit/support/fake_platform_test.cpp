// The fake must map Windows paths, fail on request and record in order, or
// every test built on it proves nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "support/fake_platform.h"
#include "payload/naming.h"

TEST(FakePlatform, MapsWindowsPathsUnderItsRootAndRecordsCalls) {
    InstallFakePlatform();
    OsFile f = g_platform->FileCreate("C:\\WINDOWS\\a.scr");
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(g_platform->FileWrite(f, "abc", 3), 3);
    g_platform->FileClose(f);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\a.scr"), "abc");
    EXPECT_EQ(g_fake.calls.front(), "FileCreate C:\\WINDOWS\\a.scr");
}

TEST(FakePlatform, FailsChosenCallsAndRunsOutOfDisk) {
    InstallFakePlatform();
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileOpenRead"; };
    EXPECT_EQ(g_platform->FileOpenRead("C:\\WINDOWS\\a.scr"), kNoFile);

    g_fake.failWhen = nullptr;
    g_fake.diskBytesLeft = 2;
    OsFile f = g_platform->FileCreate("C:\\x");
    EXPECT_EQ(g_platform->FileWrite(f, "abc", 3), 2);
    EXPECT_EQ(g_platform->FileWrite(f, "abc", 3), 0);
    g_platform->FileClose(f);
}

TEST(Naming, TargetPathsOfEveryRole) {
    FileRecord r{};
    std::memcpy(r.extension, ".MP3           ", 15);
    r.kind = ' ';
    char out[kPathSize];
    ASSERT_TRUE(FormTargetPath(out, 0, r, 14, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "C:\\WINDOWS\\Aurora.scr");
    ASSERT_TRUE(FormTargetPath(out, 0, r, 14, "C:\\", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "C:\\Aurora.scr");
    ASSERT_TRUE(FormTargetPath(out, 1, r, 14, "C:\\WINDOWS", "D:\\data\\", "Mr. X.scr"));
    EXPECT_STREQ(out, "D:\\data\\Mr. X.dat");
    ASSERT_TRUE(FormTargetPath(out, 2, r, 14, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "D:\\data\\UNINSTAL.EXE");
    ASSERT_TRUE(FormTargetPath(out, 3, r, 14, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "D:\\data\\FILE0014.MP3");
    r.kind = '_';
    ASSERT_TRUE(FormTargetPath(out, 5, r, 9998, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "D:\\data\\JUK_10000.MP3");
    r.kind = 0;
    std::memset(r.extension, ' ', 15);
    ASSERT_TRUE(FormTargetPath(out, 3, r, 1, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "D:\\data\\JUKE0001");
    std::memcpy(r.extension, ".ABCDEFGHIJKLMN", 15);
    ASSERT_TRUE(FormTargetPath(out, 3, r, 1, "C:\\WINDOWS", "D:\\data\\", "Aurora.scr"));
    EXPECT_STREQ(out, "D:\\data\\JUKE0001.ABCDEFGHIJKLMN");
}

TEST(Naming, PathsThatWouldNotFitAreRefused) {
    FileRecord r{};
    std::string folder(260 - 12, 'a');  // with "\\0123456.scr": 260 characters
    char out[kPathSize] = "unchanged";
    EXPECT_FALSE(FormTargetPath(out, 0, r, 1, folder.c_str(), "", "0123456.scr"));
    EXPECT_STREQ(out, "");
    std::string fits(259 - 12, 'a');
    EXPECT_TRUE(FormTargetPath(out, 0, r, 1, fits.c_str(), "", "0123456.scr"));
    EXPECT_EQ(std::strlen(out), 259u);
}
