// The sample screen saver's settings and the shape of its picture: plain
// computations, free of Windows, so that they are tested natively.
//
// The settings come from the screen saver's data file (installed as
// <title>.dat in its data folder), an .ini-style text:
//
//   [Aurora]
//   Speed=3                  1 (slow) to 10 (fast)
//   Curtains=4               1 to 8 curtains of light
//   Colours=green,violet     1 to 3 colour names, from the top of a curtain
//
// Unknown keys, other sections and values out of range are ignored: the
// default stays. Names and keys are matched without regard to letter case.
#pragma once

#include <cstdint>
#include <string_view>

namespace aurora {

inline constexpr int kMaxColours = 3;

// A colour as 0x00BBGGRR, the layout of a Windows COLORREF.
using Colour = std::uint32_t;

struct Settings {
    int speed = 3;
    int curtains = 4;
    int colourCount = 2;
    Colour colours[kMaxColours] = {0x0060D040, 0x00C04090, 0};  // green, violet
};

// The settings that `text` (the data file's content) gives.
Settings ParseSettings(std::string_view text);

// The colour of a name ("green", "violet", "blue", "teal", "pink", "red",
// "white"); false when the name is not known.
bool ColourByName(std::string_view name, Colour* colour);

// The picture: every curtain is a band of light hanging from a wavy upper
// edge. For column `x` of a picture `width` pixels wide at animation step
// `step`, the upper edge of curtain `curtain` (0-based) as a fraction of the
// height from the top, within [0.05, 0.6], and the brightness of the
// curtain there, within [0, 1]. Both are periodic in `step`.
struct CurtainColumn {
    double top;
    double brightness;
};
CurtainColumn CurtainAt(const Settings& settings, int curtain, int x, int width, int step);

// The blend of `colour` at `brightness` (0 to 1) over black.
Colour Dim(Colour colour, double brightness);

}  // namespace aurora
