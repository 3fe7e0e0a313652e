// The missing-types list, the media check and the activation.
#include <gtest/gtest.h>

#include "install/media.h"
#include "unit/install/install_test_util.h"

namespace {

TEST(MissingTypes, EachTypeOnceWithItsLineEndInFailureOrder) {
    InstallFakePlatform();
    AddMissingType(".MP3");
    AddMissingType(".AVI");
    AddMissingType(".MP3");
    AddMissingType(".MP");   // part of ".MP3": a substring search leaves it out
    AddMissingType(".mp3");  // letter case counts
    EXPECT_STREQ(g_missingTypes, ".MP3\r\n.AVI\r\n.mp3\r\n");
}

TEST(MissingTypes, ATypeOfAPathWithoutADotIsItsName) {
    EXPECT_STREQ(MissingTypeOf("C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora\\FILE0001"), "FILE0001");
    EXPECT_STREQ(MissingTypeOf("C:\\ProgramData\\Tarnwell\\Glimmerwick\\Mr. X\\FILE0001"),
                 ". X\\FILE0001");
    EXPECT_STREQ(MissingTypeOf("C:\\Data\\FILE0001.Mp3"), ".Mp3");
}

TEST(MissingTypes, AFullListNeverOverflowsAndKeepsAMarkForWhatDidNotFit) {
    InstallFakePlatform();
    // 25 entries of ".T00".."T24" take 6 bytes each: 150 bytes.
    for (int i = 0; i < 25; ++i) {
        char type[16];
        std::snprintf(type, sizeof type, ".T%02d", i);
        AddMissingType(type);
    }
    std::string longType = "." + std::string(120, 'L');
    AddMissingType(longType.c_str());  // does not fit: 150 + 123 > 255
    std::string list = g_missingTypes;
    ASSERT_LT(list.size(), static_cast<std::size_t>(kMissingTypesSize));
    EXPECT_EQ(list.substr(list.size() - 5), kMissingTypesMore);
    EXPECT_EQ(list.find(longType), std::string::npos);
    EXPECT_EQ(list.substr(0, 6), ".T00\r\n");

    // A short type still fits in front of the mark, which stays last.
    AddMissingType(".OGG");
    list = g_missingTypes;
    EXPECT_EQ(list.substr(list.size() - 11), ".OGG\r\n...\r\n");

    // Filling the list to the brim drops whole entries for the mark.
    for (int i = 0; i < 40; ++i) {
        char type[16];
        std::snprintf(type, sizeof type, ".U%02d", i);
        AddMissingType(type);
    }
    list = g_missingTypes;
    EXPECT_LE(list.size(), static_cast<std::size_t>(kMissingTypesSize - 1));
    EXPECT_EQ(list.substr(list.size() - 5), kMissingTypesMore);
    EXPECT_EQ(list.find("...\r\n"), list.size() - 5);  // one mark only
    for (std::size_t at = 0; at + 5 < list.size();) {  // whole entries only
        std::size_t end = list.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(end - at, 4u) << list;
        at = end + 2;
    }
}

TEST(MissingTypes, AnEntryThatFillsTheListExactlyIsKeptWhole) {
    for (std::size_t length : {7u, 8u}) {  // 41 entries of 6, then 7 + 2: 255 characters
        InstallFakePlatform();
        for (int i = 0; i < 41; ++i) {
            char type[16];
            std::snprintf(type, sizeof type, ".T%02d", i);
            AddMissingType(type);
        }
        std::string type(length, 'Z');
        type[0] = '.';
        AddMissingType(type.c_str());
        const std::string list = g_missingTypes;
        EXPECT_EQ(list.substr(246), length == 7 ? type + "\r\n" : kMissingTypesMore) << length;
    }
}

TEST(MissingTypes, ATypeTooLongForAnEmptyListStillMarksTheFailure) {
    InstallFakePlatform();
    std::string huge = "." + std::string(258, 'x');
    AddMissingType(huge.c_str());
    EXPECT_STREQ(g_missingTypes, kMissingTypesMore);
}

TEST(MediaCheck, OpensByExtensionThenWithTheMpegDeviceAndClosesWhatOpened) {
    InstallFakePlatform();
    g_fake.WriteFile("C:\\Data\\FILE0001.MP3", "x");
    g_fake.mciFailsByExtension = {".MP3"};
    MediaCheck("C:\\Data\\FILE0001.MP3");
    EXPECT_STREQ(g_missingTypes, "");
    std::vector<std::string> expected = {
        "GetShortPathName C:\\Data\\FILE0001.MP3", "MciOpen C:\\Data\\~SFILE0001.MP3",
        "MciOpen C:\\Data\\~SFILE0001.MP3 MPEGVideo", "MciClose 7"};
    EXPECT_EQ(g_fake.calls, expected);
}

TEST(MediaCheck, ListsTheLongPathsExtensionWhenBothOpensFail) {
    InstallFakePlatform();
    g_fake.WriteFile("C:\\Data\\FILE0001.Ogg", "x");
    g_fake.mciFailsByExtension = {".Ogg"};
    g_fake.mciFailsWithType = {".Ogg"};
    MediaCheck("C:\\Data\\FILE0001.Ogg");
    EXPECT_STREQ(g_missingTypes, ".Ogg\r\n");
    EXPECT_TRUE(g_fake.CallsStartingWith("MciClose").empty());
}

TEST(MediaCheck, WithoutAShortPathTheLongPathIsOpened) {
    InstallFakePlatform();
    g_fake.shortPathFails = true;
    MediaCheck("C:\\Data\\FILE0001.MP3");
    EXPECT_EQ(g_fake.CallsStartingWith("MciOpen").at(0), "MciOpen C:\\Data\\FILE0001.MP3");
}

TEST(Activation, SetsTheScreenSaverOnlyWhenNothingIsMissing) {
    InstallFakePlatform();
    g_fake.WriteFile("C:\\WINDOWS\\Aurora.scr", "x");
    Activate("C:\\WINDOWS\\Aurora.scr");
    ASSERT_EQ(g_fake.profileWrites.size(), 1u);
    EXPECT_EQ(g_fake.profileWrites[0], "boot|SCRNSAVE.EXE|C:\\WINDOWS\\~SAurora.scr|system.ini");
    EXPECT_EQ(g_fake.screenSaveActivations, 1);

    AddMissingType(".MP3");
    Activate("C:\\WINDOWS\\Aurora.scr");
    EXPECT_EQ(g_fake.profileWrites.size(), 1u);
    EXPECT_EQ(g_fake.screenSaveActivations, 1);
}

TEST(Activation, WithoutAShortPathTheLongPathIsWritten) {
    InstallFakePlatform();
    g_fake.shortPathFails = true;
    Activate("C:\\WINDOWS\\Aurora Borealis.scr");
    ASSERT_EQ(g_fake.profileWrites.size(), 1u);
    EXPECT_EQ(g_fake.profileWrites[0], "boot|SCRNSAVE.EXE|C:\\WINDOWS\\Aurora Borealis.scr|system.ini");
}

}  // namespace
