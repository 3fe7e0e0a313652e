#include "shell/backdrop_geometry.h"

#include <cstring>

GradientBand BandOf(int k, int width, int height) {
    // The band height is a float; the products with it are formed in double
    // precision and truncated toward zero. Since height/256 is exact in a
    // float, the edges are floor((k-1)*height/256) and floor(k*height/256).
    const float step = static_cast<float>(height) * kBandHeightFactor;
    GradientBand band;
    band.rect.left = 0;
    band.rect.top = static_cast<int>(static_cast<double>(k - 1) * static_cast<double>(step));
    band.rect.right = width + 1;
    band.rect.bottom = static_cast<int>(static_cast<double>(k) * static_cast<double>(step));
    band.blue = BandBlue(k);
    return band;
}

std::uint8_t BandBlue(int k) {
    // The colour counter starts at 0 and falls by kColourStep after every
    // band; the blue value is (counter / 256 - 1) modulo 256, the division
    // truncating toward zero.
    const int counter = -kColourStep * (k - 1);
    const int value = counter / kColourDivisor - 1;
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
}

BackdropRect OuterFrame(int width, int height) { return {0, 0, width, height}; }

BackdropRect InnerFrame(int width, int height) { return {1, 1, width - 1, height - 1}; }

TitleRects TitleRectsFor(int width, int height, int pixelsPerInchX, int pixelsPerInchY) {
    TitleRects rects;
    rects.shadow = InnerFrame(width, height);
    rects.shadow.left += pixelsPerInchX / 3;
    rects.shadow.top += pixelsPerInchY / 4;
    rects.face = {rects.shadow.left - kShadowOffset, rects.shadow.top - kShadowOffset,
                  rects.shadow.right - kShadowOffset, rects.shadow.bottom - kShadowOffset};
    return rects;
}

int MulDivRounded(int a, int b, int c) {
    if (c == 0) return -1;
    std::int64_t product = static_cast<std::int64_t>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    if (product < 0) product = -product;
    const std::int64_t divisor = c < 0 ? -static_cast<std::int64_t>(c) : c;
    const std::int64_t quotient = (product + divisor / 2) / divisor;
    return static_cast<int>(negative ? -quotient : quotient);
}

int TitleFontHeight(int pixelsPerInchY) { return -MulDivRounded(kTitlePointSize, pixelsPerInchY, 72); }

int FormPaintedText(const char* title, char* out, std::size_t size) {
    if (size == 0) return 0;
    const void* end = std::memchr(title, '\0', kTitleSize);
    const std::size_t titleLength =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - title) : kTitleSize;
    const std::size_t suffixLength = sizeof kPaintedTextSuffix - 1;
    const std::size_t whole = titleLength + suffixLength;
    std::size_t used = 0;
    const std::size_t titlePart = titleLength < size - 1 ? titleLength : size - 1;
    std::memcpy(out, title, titlePart);
    used = titlePart;
    const std::size_t room = size - 1 - used;
    const std::size_t suffixPart = suffixLength < room ? suffixLength : room;
    std::memcpy(out + used, kPaintedTextSuffix, suffixPart);
    used += suffixPart;
    out[used] = '\0';
    return used == whole ? 1 : 0;
}
