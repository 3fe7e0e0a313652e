// The slideshow screen saver's decisions: how it reads its command line and
// its title, which user settings it takes, where a picture goes on a
// screen, in which order pictures and music come, and when the mouse ends
// it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "slideshow_logic.h"

namespace slideshow {
namespace {

TEST(SaverCommand, WindowsArgumentsAndTheInstallersBareStart) {
    const struct {
        const char* line;
        Mode mode;
        std::uintptr_t window;
    } kRows[] = {
        {"C:\\WINDOWS\\LAGO~1.SCR", Mode::kFullScreen, 0},  // as the installer starts it
        {"\"C:\\WINDOWS\\Lago di Garda.scr\"", Mode::kFullScreen, 0},
        {"\"C:\\WINDOWS\\Lago di Garda.scr\" /s", Mode::kFullScreen, 0},
        {"lago.scr /S", Mode::kFullScreen, 0},
        {"lago.scr -s", Mode::kFullScreen, 0},
        {"\"C:\\a b\\lago.scr\" /p 1234", Mode::kPreview, 1234},
        {"lago.scr /P:65538", Mode::kPreview, 65538},
        {"lago.scr /p", Mode::kNothing, 0},  // a preview needs its window
        {"lago.scr /p 99999999999999999999999", Mode::kNothing, 0},
        {"lago.scr /c", Mode::kSettings, 0},
        {"lago.scr /c:4242", Mode::kSettings, 4242},
        {"\"lago.scr\" \"/c\"", Mode::kSettings, 0},
        {"\"lago.scr\" \"/p\" \"88\"", Mode::kPreview, 88},
        {"lago.scr /C 77", Mode::kSettings, 77},
        {"lago.scr /a 5", Mode::kNothing, 5},
        {"lago.scr /", Mode::kFullScreen, 0},
        {"\"unterminated /c", Mode::kFullScreen, 0},
    };
    for (const auto& row : kRows) {
        const Command c = ParseCommandLine(row.line);
        EXPECT_EQ(c.mode, row.mode) << row.line;
        EXPECT_EQ(c.window, row.window) << row.line;
    }
}

TEST(SaverTitle, TheLongFileNameWithoutItsExtension) {
    EXPECT_EQ(TitleFromPath("C:\\WINDOWS\\Lago di Garda.scr"), "Lago di Garda");
    EXPECT_EQ(TitleFromPath("C:\\WINDOWS\\Mr. X.scr"), "Mr. X");
    EXPECT_EQ(TitleFromPath("C:\\Win.dows\\Citt\xe0"), "Citt\xe0");
    EXPECT_EQ(TitleFromPath("C:\\WINDOWS\\.scr"), ".scr");
    EXPECT_EQ(TitleFromPath("C:lago.scr"), "lago");
}

TEST(SaverSettings, StoredValuesInRangeWinAndOthersLeaveTheDefault) {
    const ShowSettings defaults{30, kOrderGiven, kFitWhole, true};
    const struct {
        const char* name;
        std::uint32_t value;
        ShowSettings expected;
    } kRows[] = {
        {kSecondsValue, 2, {2, kOrderGiven, kFitWhole, true}},
        {kSecondsValue, 0, {kMinSeconds, kOrderGiven, kFitWhole, true}},
        {kSecondsValue, 0xffffffffu, {kMaxSeconds, kOrderGiven, kFitWhole, true}},
        {kOrderValue, 1, {30, kOrderShuffled, kFitWhole, true}},
        {kOrderValue, 2, defaults},
        {kFitValue, 1, {30, kOrderGiven, kFitFill, true}},
        {kFitValue, 7, defaults},
        {kMusicValue, 0, {30, kOrderGiven, kFitWhole, false}},
        {kMusicValue, 2, defaults},
        {"Speed", 1, defaults},
    };
    for (const auto& row : kRows) {
        ShowSettings s = defaults;
        ApplyStoredValue(&s, row.name, row.value);
        EXPECT_EQ(s.seconds, row.expected.seconds) << row.name << "=" << row.value;
        EXPECT_EQ(s.order, row.expected.order) << row.name << "=" << row.value;
        EXPECT_EQ(s.fit, row.expected.fit) << row.name << "=" << row.value;
        EXPECT_EQ(s.music, row.expected.music) << row.name << "=" << row.value;
    }

    const struct {
        const char* text;
        bool taken;
        unsigned seconds;
    } kTexts[] = {
        {"8", true, 8},         {" 12 ", true, 12},     {"0", true, kMinSeconds},
        {"3600", true, 3600},   {"3601", true, 3600},   {"99999999999999999999", true, 3600},
        {"", false, 5},         {"  ", false, 5},       {"1 2", false, 5},
        {"-3", false, 5},       {"4s", false, 5},
    };
    for (const auto& row : kTexts) {
        unsigned seconds = 5;
        EXPECT_EQ(ParseSecondsText(row.text, &seconds), row.taken) << '"' << row.text << '"';
        EXPECT_EQ(seconds, row.seconds) << '"' << row.text << '"';
    }
}

TEST(PicturePlace, WholeShowsAllOfItFillCoversTheScreen) {
    const struct {
        std::uint32_t pw, ph;
        int aw, ah;
        ShowFit fit;
        Rect expected;
    } kRows[] = {
        {320, 240, 1024, 768, kFitWhole, {0, 0, 1024, 768}},      // same shape, scaled up
        {320, 240, 1024, 768, kFitFill, {0, 0, 1024, 768}},
        {400, 100, 1000, 500, kFitWhole, {0, 125, 1000, 250}},    // wide: bars above and below
        {400, 100, 1000, 500, kFitFill, {-500, 0, 2000, 500}},    // wide: sides cropped
        {100, 400, 1000, 500, kFitWhole, {437, 0, 125, 500}},     // tall: bars beside
        {100, 400, 1000, 500, kFitFill, {0, -1750, 1000, 4000}},  // tall: top and bottom cropped
        {6000, 4000, 152, 112, kFitWhole, {0, 5, 152, 101}},      // a photo in the preview
        {1, 1000000, 1024, 768, kFitWhole, {511, 0, 1, 768}},     // never thinner than a pixel
        {0, 240, 1024, 768, kFitWhole, {0, 0, 0, 0}},
        {320, 240, 0, 768, kFitFill, {0, 0, 0, 0}},
    };
    for (const auto& row : kRows) {
        const Rect r = PlacePicture(row.pw, row.ph, row.aw, row.ah, row.fit);
        EXPECT_EQ(r.x, row.expected.x) << row.pw << "x" << row.ph << " fit " << row.fit;
        EXPECT_EQ(r.y, row.expected.y) << row.pw << "x" << row.ph << " fit " << row.fit;
        EXPECT_EQ(r.width, row.expected.width) << row.pw << "x" << row.ph << " fit " << row.fit;
        EXPECT_EQ(r.height, row.expected.height) << row.pw << "x" << row.ph << " fit " << row.fit;
    }
    // The largest values stay inside int.
    const Rect huge = PlacePicture(1, 0xffffffffu, 0x7fffffff, 0x7fffffff, kFitFill);
    EXPECT_GT(huge.width, 0);
    EXPECT_GT(huge.height, 0);
}

TEST(PictureLimits, SizesAndDimensions) {
    EXPECT_FALSE(PictureSizeAcceptable(0));
    EXPECT_TRUE(PictureSizeAcceptable(kMaxPictureBytes));
    EXPECT_FALSE(PictureSizeAcceptable(kMaxPictureBytes + 1));
    EXPECT_TRUE(PictureDimensionsAcceptable(6000, 4000));  // a 24-megapixel photo
    EXPECT_FALSE(PictureDimensionsAcceptable(0, 4000));
    EXPECT_FALSE(PictureDimensionsAcceptable(65535, 65535));
    EXPECT_FALSE(PictureDimensionsAcceptable(0xffffffffu, 0xffffffffu));  // no wrap in the product
}

TEST(PictureOrder, AsGivenOrAShuffleOfEveryPictureOnce) {
    EXPECT_EQ(PictureOrder(4, kOrderGiven, 99), (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(PictureOrder(0, kOrderShuffled, 5).empty());
    EXPECT_EQ(PictureOrder(1, kOrderShuffled, 5), (std::vector<std::uint32_t>{0}));

    bool differs = false;
    for (std::uint32_t seed : {0u, 1u, 12345u, 0xffffffffu}) {
        std::vector<std::uint32_t> order = PictureOrder(50, kOrderShuffled, seed);
        EXPECT_EQ(order, PictureOrder(50, kOrderShuffled, seed)) << seed;
        std::vector<std::uint32_t> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, PictureOrder(50, kOrderGiven, 0)) << seed;
        differs = differs || order != sorted;
    }
    EXPECT_TRUE(differs);
    EXPECT_NE(PictureOrder(50, kOrderShuffled, 1), PictureOrder(50, kOrderShuffled, 2));
}

TEST(PictureFade, NeverMoreThanAQuarterOfThePicturesTime) {
    EXPECT_EQ(FadeMs(1), 250u);
    EXPECT_EQ(FadeMs(2), 500u);
    EXPECT_EQ(FadeMs(8), kFadeMs);
    EXPECT_EQ(FadeMs(kMaxSeconds), kFadeMs);
}

TEST(Music, TheInstallersMediaNamesInNumberOrder) {
    const std::vector<std::string> names = {
        "Lago.dat",      "INSTALL.LOG",    "UNINSTAL.EXE", "FILE0010.MP3", "FILE0009.WAV",
        "JUKE0001.MID",  "juk_0002.wma",   "FILE12345",    "FILE001.MP3",  "FILEX001.MP3",
        "FILE.MP3",      "JUKEBOX.TXT",    "file0009.mp3", "AFILE0001.MP3", "FILE99999999999999999999999.MP3",
    };
    EXPECT_EQ(MusicFiles(names, "Lago.dat"),
              (std::vector<std::string>{"JUKE0001.MID", "juk_0002.wma", "FILE0009.WAV", "file0009.mp3",
                                        "FILE0010.MP3", "FILE12345", "FILE99999999999999999999999.MP3"}));
    // A title that looks like a media name: its data file is no music.
    EXPECT_EQ(MusicFiles({"FILE0001.dat", "FILE0002.WAV"}, "file0001.DAT"),
              (std::vector<std::string>{"FILE0002.WAV"}));
}

TEST(Mouse, MovesWithinTheToleranceDoNotEndIt) {
    EXPECT_FALSE(MouseEnds(100, 100, 100 + kMoveTolerance, 100 - kMoveTolerance));
    EXPECT_TRUE(MouseEnds(100, 100, 100 + kMoveTolerance + 1, 100));
    EXPECT_TRUE(MouseEnds(100, 100, 100, 100 - kMoveTolerance - 1));
    EXPECT_TRUE(MouseEnds(-2147483647 - 1, 0, 2147483647, 0));
}

}  // namespace
}  // namespace slideshow
