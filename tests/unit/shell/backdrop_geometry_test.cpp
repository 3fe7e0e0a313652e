// The backdrop's painting is computed here; a wrong edge leaves unpainted
// rows, a wrong colour a black band, a wrong indent misplaces the title.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialogs/screen_centring.h"
#include "shell/backdrop_geometry.h"

namespace {

// Every row of the client area must be covered by exactly one band.
void ExpectBandsTile(int width, int height) {
    std::vector<int> cover(static_cast<std::size_t>(height), 0);
    int previousBottom = 0;
    for (int k = 1; k <= kBandCount; ++k) {
        GradientBand band = BandOf(k, width, height);
        EXPECT_EQ(band.rect.left, 0) << "band " << k;
        EXPECT_EQ(band.rect.right, width + 1) << "band " << k;
        EXPECT_EQ(band.rect.top, previousBottom) << "band " << k;
        EXPECT_LE(band.rect.top, band.rect.bottom) << "band " << k;
        for (int row = band.rect.top; row < band.rect.bottom; ++row) {
            ASSERT_GE(row, 0);
            ASSERT_LT(row, height);
            ++cover[static_cast<std::size_t>(row)];
        }
        previousBottom = band.rect.bottom;
    }
    EXPECT_EQ(previousBottom, height);
    for (int row = 0; row < height; ++row) EXPECT_EQ(cover[static_cast<std::size_t>(row)], 1) << "row " << row;
}

}  // namespace

TEST(Gradient, BandsTileEveryClientHeight) {
    for (int height : {1, 100, 255, 256, 257, 600, 740, 768, 1080, 1200, 2160}) {
        SCOPED_TRACE(height);
        ExpectBandsTile(1024, height);
    }
}

TEST(Gradient, EdgesAtCommonHeights) {
    // 768 rows: every band exactly 3 rows high.
    for (int k = 1; k <= kBandCount; ++k) {
        GradientBand band = BandOf(k, 1024, 768);
        EXPECT_EQ(band.rect.top, 3 * (k - 1));
        EXPECT_EQ(band.rect.bottom, 3 * k);
    }
    // 740 rows: edges at floor(k*740/256), bands of 2 or 3 rows.
    int twos = 0, threes = 0;
    for (int k = 1; k <= kBandCount; ++k) {
        GradientBand band = BandOf(k, 1280, 740);
        EXPECT_EQ(band.rect.bottom, k * 740 / 256);
        int rows = band.rect.bottom - band.rect.top;
        if (rows == 2) ++twos;
        else if (rows == 3) ++threes;
        else ADD_FAILURE() << "band " << k << " has " << rows << " rows";
    }
    EXPECT_EQ(2 * twos + 3 * threes, 740);
    EXPECT_GT(twos, 0);
    EXPECT_GT(threes, 0);
}

TEST(Gradient, ShortClientLeavesEmptyBands) {
    int nonEmpty = 0;
    for (int k = 1; k <= kBandCount; ++k) {
        GradientBand band = BandOf(k, 640, 100);
        int rows = band.rect.bottom - band.rect.top;
        EXPECT_TRUE(rows == 0 || rows == 1) << "band " << k;
        nonEmpty += rows;
    }
    EXPECT_EQ(nonEmpty, 100);
}

TEST(Gradient, ColoursRunFromFullBlueToOneWithoutBlack) {
    EXPECT_EQ(BandBlue(1), 255);
    EXPECT_EQ(BandBlue(2), 255);
    EXPECT_EQ(BandBlue(3), 254);
    EXPECT_EQ(BandBlue(4), 253);
    EXPECT_EQ(BandBlue(kBandCount), 1);
    int previous = 256;
    for (int k = 1; k <= kBandCount; ++k) {
        int blue = BandBlue(k);
        EXPECT_EQ(blue, 255 - 255 * (k - 1) / 256) << "band " << k;
        EXPECT_NE(blue, 0) << "band " << k;
        EXPECT_LE(blue, previous) << "band " << k;
        EXPECT_EQ(BandOf(k, 10, 768).blue, blue);
        previous = blue;
    }
}

TEST(Frame, TwoPixelsWideAtTheClientEdge) {
    BackdropRect outer = OuterFrame(800, 560);
    BackdropRect inner = InnerFrame(800, 560);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(outer.right, 800);
    EXPECT_EQ(outer.bottom, 560);
    EXPECT_EQ(inner.left, 1);
    EXPECT_EQ(inner.top, 1);
    EXPECT_EQ(inner.right, 799);
    EXPECT_EQ(inner.bottom, 559);
}

TEST(TitleText, PlacedFromTheDeviceResolution) {
    struct Case {
        int dpiX, dpiY, shadowLeft, shadowTop, fontHeight;
    } cases[] = {
        {96, 96, 33, 25, -64},
        {120, 120, 41, 31, -80},
        {144, 144, 49, 37, -96},
        {96, 120, 33, 31, -80},  // resolutions taken per axis
        {100, 100, 34, 26, -67},  // 48*100/72 = 66.67 rounds to 67
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpiX * 1000 + c.dpiY);
        TitleRects rects = TitleRectsFor(1024, 738, c.dpiX, c.dpiY);
        EXPECT_EQ(rects.shadow.left, c.shadowLeft);
        EXPECT_EQ(rects.shadow.top, c.shadowTop);
        EXPECT_EQ(rects.shadow.right, 1023);
        EXPECT_EQ(rects.shadow.bottom, 737);
        EXPECT_EQ(rects.face.left, c.shadowLeft - 2);
        EXPECT_EQ(rects.face.top, c.shadowTop - 2);
        EXPECT_EQ(rects.face.right, 1021);
        EXPECT_EQ(rects.face.bottom, 735);
        EXPECT_EQ(TitleFontHeight(c.dpiY), c.fontHeight);
    }
}

TEST(TitleText, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDivRounded(1, 3, 2), 2);
    EXPECT_EQ(MulDivRounded(-1, 3, 2), -2);
    EXPECT_EQ(MulDivRounded(1, -3, -2), 2);
    EXPECT_EQ(MulDivRounded(5, 1, 3), 2);
    EXPECT_EQ(MulDivRounded(4, 1, 3), 1);
    EXPECT_EQ(MulDivRounded(7, 9, 0), -1);
    // The 64-bit product does not overflow.
    EXPECT_EQ(MulDivRounded(2000000000, 3, 4), 1500000000);
}

TEST(TitleText, PaintedTextHoldsTheLongestTitleWhole) {
    char title[kTitleSize] = {};
    std::memset(title, 'W', 259);
    char out[kPaintedTextSize + 8];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(FormPaintedText(title, out, kPaintedTextSize), 1);
    EXPECT_EQ(std::strlen(out), 272u);
    EXPECT_EQ(std::string(out), std::string(259, 'W') + " Screen Saver");
    for (std::size_t i = kPaintedTextSize; i < sizeof out; ++i) EXPECT_EQ(out[i], '#');
}

TEST(TitleText, PaintedTextOfOrdinaryAndEmptyTitles) {
    char out[kPaintedTextSize];
    char aurora[kTitleSize] = "Aurora & Co";
    ASSERT_EQ(FormPaintedText(aurora, out, sizeof out), 1);
    EXPECT_STREQ(out, "Aurora & Co Screen Saver");  // '&' kept as it stands
    char empty[kTitleSize] = {};
    ASSERT_EQ(FormPaintedText(empty, out, sizeof out), 1);
    EXPECT_STREQ(out, " Screen Saver");
}

TEST(TitleText, TitleWithoutTerminatorIsNotReadPastItsField) {
    // A damaged catalogue may fill all 260 title bytes; the bytes after the
    // field must never be read or copied.
    char field[kTitleSize + 16];
    std::memset(field, 'T', kTitleSize);
    std::memset(field + kTitleSize, 'X', 16);
    char out[kPaintedTextSize + 4];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(FormPaintedText(field, out, kPaintedTextSize), 0);
    EXPECT_EQ(std::strlen(out), kPaintedTextSize - 1);
    EXPECT_EQ(std::string(out).find('X'), std::string::npos);
    EXPECT_EQ(out[kPaintedTextSize], '#');

    char small[8];
    char title[kTitleSize] = "Aurora";
    EXPECT_EQ(FormPaintedText(title, small, sizeof small), 0);
    EXPECT_STREQ(small, "Aurora ");
}

TEST(DialogCentring, CentresOnTheWholeScreen) {
    // 300 x 200 dialog created at (10, 20) on a 1024 x 768 screen.
    ScreenPlacement p = CentreOnScreen(10, 20, 310, 220, 1024, 768);
    EXPECT_EQ(p.x, 362);
    EXPECT_EQ(p.y, 284);
    EXPECT_EQ(p.width, 300);
    EXPECT_EQ(p.height, 200);
    // Odd sizes: each half truncated on its own.
    p = CentreOnScreen(0, 0, 301, 201, 1025, 769);
    EXPECT_EQ(p.x, 512 - 150);
    EXPECT_EQ(p.y, 384 - 100);
}

TEST(DialogCentring, DialogLargerThanTheScreenGetsANegativePosition) {
    ScreenPlacement p = CentreOnScreen(0, 0, 1001, 901, 800, 600);
    EXPECT_EQ(p.x, 400 - 500);
    EXPECT_EQ(p.y, 300 - 450);
    EXPECT_EQ(p.width, 1001);
    EXPECT_EQ(p.height, 901);
    // Still centred: the middle of the dialog is the middle of the screen.
    EXPECT_EQ(p.x + p.width / 2, 400);
    EXPECT_EQ(p.y + p.height / 2, 300);
}
