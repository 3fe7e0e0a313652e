// The sample screen saver's settings and picture.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "settings.h"

namespace {

using aurora::ParseSettings;

TEST(SampleSettings, DefaultsWithoutAFile) {
    aurora::Settings s = ParseSettings("");
    EXPECT_EQ(s.speed, 3);
    EXPECT_EQ(s.curtains, 4);
    ASSERT_EQ(s.colourCount, 2);
    aurora::Colour green = 0, violet = 0;
    ASSERT_TRUE(aurora::ColourByName("green", &green));
    ASSERT_TRUE(aurora::ColourByName("violet", &violet));
    EXPECT_EQ(s.colours[0], green);
    EXPECT_EQ(s.colours[1], violet);
}

TEST(SampleSettings, ReadsItsSectionInAnyLetterCaseWithWindowsLineEnds) {
    aurora::Settings s =
        ParseSettings("; made by hand\r\n[aurora]\r\n speed = 7 \r\nCURTAINS=2\r\ncolours=Blue, pink ,white\r\n");
    EXPECT_EQ(s.speed, 7);
    EXPECT_EQ(s.curtains, 2);
    ASSERT_EQ(s.colourCount, 3);
    aurora::Colour blue = 0, pink = 0, white = 0;
    aurora::ColourByName("blue", &blue);
    aurora::ColourByName("pink", &pink);
    aurora::ColourByName("white", &white);
    EXPECT_EQ(s.colours[0], blue);
    EXPECT_EQ(s.colours[1], pink);
    EXPECT_EQ(s.colours[2], white);
}

TEST(SampleSettings, OtherSectionsAndBadValuesKeepTheDefaults) {
    aurora::Settings s = ParseSettings(
        "[Other]\nSpeed=9\n[Aurora]\nSpeed=0\nCurtains=9\nColours=plaid\nSpeed=11\nCurtains=-1\n"
        "Speed=3x\nBogus=1\nno equals sign\n");
    EXPECT_EQ(s.speed, 3);
    EXPECT_EQ(s.curtains, 4);
    EXPECT_EQ(s.colourCount, 2);
    // The section ends at the next one.
    EXPECT_EQ(ParseSettings("[Aurora]\n[Later]\nSpeed=9\n").speed, 3);
    // The extremes are allowed.
    EXPECT_EQ(ParseSettings("[Aurora]\nSpeed=10\nCurtains=8").speed, 10);
    EXPECT_EQ(ParseSettings("[Aurora]\nSpeed=1\nCurtains=1").curtains, 1);
}

TEST(SampleSettings, UnknownColourNamesAreSkippedAndAtMostThreeTaken) {
    aurora::Settings s = ParseSettings("[Aurora]\nColours=plaid,red,,teal,green,violet\n");
    ASSERT_EQ(s.colourCount, 3);
    aurora::Colour red = 0, teal = 0, green = 0;
    aurora::ColourByName("red", &red);
    aurora::ColourByName("teal", &teal);
    aurora::ColourByName("GREEN", &green);
    EXPECT_EQ(s.colours[0], red);
    EXPECT_EQ(s.colours[1], teal);
    EXPECT_EQ(s.colours[2], green);
}

TEST(SampleSettings, TheShippedDataFileIsRead) {
    std::ifstream file(AURORA_SAMPLE_DIR "/aurora.dat", std::ios::binary);
    ASSERT_TRUE(file) << AURORA_SAMPLE_DIR "/aurora.dat";
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    aurora::Settings s = ParseSettings(text);
    EXPECT_EQ(s.speed, 4);
    EXPECT_EQ(s.curtains, 5);
    EXPECT_EQ(s.colourCount, 3);
}

TEST(SamplePicture, CurtainsStayInTheirBandsAndRepeat) {
    aurora::Settings s;
    s.speed = 4;
    s.curtains = 8;
    int cycle = 1200 / s.speed;
    double lowest = 1, highest = 0;
    for (int c = 0; c < s.curtains; ++c)
        for (int x = 0; x <= 1000; x += 37)
            for (int step = 0; step < cycle; step += 11) {
                aurora::CurtainColumn at = aurora::CurtainAt(s, c, x, 1000, step);
                ASSERT_GE(at.top, 0.05);
                ASSERT_LE(at.top, 0.6);
                ASSERT_GE(at.brightness, 0.0);
                ASSERT_LE(at.brightness, 1.0);
                lowest = std::min(lowest, at.top);
                highest = std::max(highest, at.top);
                aurora::CurtainColumn later = aurora::CurtainAt(s, c, x, 1000, step + cycle);
                EXPECT_NEAR(later.top, at.top, 1e-9);
                EXPECT_NEAR(later.brightness, at.brightness, 1e-9);
            }
    // The edge moves: the curtains are not flat bars.
    EXPECT_GT(highest - lowest, 0.1);
}

TEST(SamplePicture, DimScalesEveryChannel) {
    EXPECT_EQ(aurora::Dim(0x00FF8040, 1.0), 0x00FF8040u);
    EXPECT_EQ(aurora::Dim(0x00FF8040, 0.0), 0u);
    EXPECT_EQ(aurora::Dim(0x00FF8040, 0.5), 0x00804020u);
    EXPECT_EQ(aurora::Dim(0x00FF8040, 7.0), 0x00FF8040u);
    EXPECT_EQ(aurora::Dim(0x00FF8040, -1.0), 0u);
}

}  // namespace
