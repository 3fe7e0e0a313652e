// What the backdrop window paints, as pure computations of the client size
// and the device resolution. The window procedure only turns these numbers
// into brushes, rectangles and text.
//
// The backdrop is a vertical gradient of 256 blue bands (bright at the top,
// nearly black at the bottom), a white frame two pixels wide at the client's
// edge, and the painted text "<title> Screen Saver" in 48-point Arial, drawn
// once in black and once in white 2 pixels up and to the left, so the black
// pass reads as a shadow.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/payload.h"

struct BackdropRect {
    int left;
    int top;
    int right;
    int bottom;
};

// Number of gradient bands.
inline constexpr int kBandCount = 256;

// Band height factor, 1/256, held as a 32-bit float (exact for any screen
// height).
inline constexpr float kBandHeightFactor = 0.00390625f;

// The colour counter falls by this much after every band and is divided by
// kColourDivisor to give the blue value.
inline constexpr int kColourStep = 255;
inline constexpr int kColourDivisor = 256;

// Font size of the painted text, in points.
inline constexpr int kTitlePointSize = 48;

// How far the white text is drawn up and to the left of the black one.
inline constexpr int kShadowOffset = 2;

// Text drawn after the title.
inline constexpr char kPaintedTextSuffix[] = " Screen Saver";

// The painted text holds the longest title (259 characters), the suffix and
// the terminating zero.
inline constexpr std::size_t kPaintedTextSize = (kTitleSize - 1) + sizeof kPaintedTextSuffix;

// Band `k` (1 to kBandCount) of a client area `width` x `height`: the
// rectangle from row floor((k-1)*height/256) down to row floor(k*height/256)
// (exclusive), reaching one column past the client's right edge, and its
// blue value. A band may be empty when height is below 256.
struct GradientBand {
    BackdropRect rect;
    std::uint8_t blue;
};
GradientBand BandOf(int k, int width, int height);

// The blue value of band `k`: 255 - floor(255*(k-1)/256), that is 255, 255,
// 254, ... down to 1 for the last band; never 0.
std::uint8_t BandBlue(int k);

// The two 1-pixel white frames: the client rectangle itself and the client
// rectangle shrunk by one pixel on every side.
BackdropRect OuterFrame(int width, int height);
BackdropRect InnerFrame(int width, int height);

// The rectangles into which the painted text is drawn, from the inner frame
// indented by a third of an inch from the left and a quarter of an inch from
// the top (pixels per inch divided with integer division). `shadow` is the
// black pass, `face` the white one, kShadowOffset up and left of it.
struct TitleRects {
    BackdropRect shadow;
    BackdropRect face;
};
TitleRects TitleRectsFor(int width, int height, int pixelsPerInchX, int pixelsPerInchY);

// The font's height for CreateFontA: -MulDiv(48, pixelsPerInchY, 72), a
// negative value asking for a character height of that many pixels.
int TitleFontHeight(int pixelsPerInchY);

// MulDiv as Windows computes it: a * b / c with a 64-bit product, rounded
// half away from zero; -1 when c is 0.
int MulDivRounded(int a, int b, int c);

// Forms "<title> Screen Saver" in `out` (`size` bytes). The title is read up
// to its terminating zero but never past its kTitleSize-byte buffer. Returns 1 when
// the text fits whole; otherwise `out` holds as much as fits, terminated,
// and 0 is returned.
int FormPaintedText(const char* title, char* out, std::size_t size);
