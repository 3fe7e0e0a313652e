// The slideshow screen saver's decisions, free of Windows so that they are
// tested natively: its command line, its title, its user settings, the
// order of its pictures, the place of a picture on a screen, which files
// of its data folder are its music, and when the mouse ends it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "show_data.h"

namespace slideshow {

// ---- Command line ----------------------------------------------------------

// What the screen saver was asked to do. Windows starts screen savers with
// "/s" (full screen), "/p HWND" (inside the preview window HWND), "/c" or
// "/c:HWND" (the settings, owned by HWND) and "/a HWND" (a password, which
// this screen saver has none of); letters in either case, '-' for '/'. No
// argument at all, as the installer starts it, means full screen.
enum class Mode { kFullScreen, kPreview, kSettings, kNothing };

struct Command {
    Mode mode = Mode::kFullScreen;
    std::uintptr_t window = 0;  // the HWND given after /p or /c, 0 when none
};

// The command of a whole command line as GetCommandLineA gives it, the
// program's own (possibly quoted) name first.
Command ParseCommandLine(std::string_view line);

// ---- Title -----------------------------------------------------------------

// The screen saver's title: the last part of its long path, without the
// extension ("C:\\WINDOWS\\Lago di Garda.scr" gives "Lago di Garda"). A name
// that starts with its only '.' keeps it.
std::string TitleFromPath(std::string_view path);

// ---- Settings --------------------------------------------------------------

// A user's settings are kept under HKEY_CURRENT_USER in this key followed by
// the title, one DWORD value per setting, named as below.
inline constexpr char kSettingsKey[] = "Software\\Tarnwell\\Glimmerwick\\";
inline constexpr char kSecondsValue[] = "Seconds";
inline constexpr char kOrderValue[] = "Order";
inline constexpr char kFitValue[] = "Fit";
inline constexpr char kMusicValue[] = "Music";

// Applies one stored value to `settings`. Seconds out of range are brought
// into kMinSeconds..kMaxSeconds; an order, fit or music other than 0 or 1,
// or a name not listed above, leaves the setting as it was (the author's
// default then stands).
void ApplyStoredValue(ShowSettings* settings, std::string_view name, std::uint32_t value);

// The seconds typed in the settings dialog: decimal digits, blanks around
// them allowed, brought into kMinSeconds..kMaxSeconds. False for anything
// else (the dialog then keeps the previous value).
bool ParseSecondsText(std::string_view text, unsigned* seconds);

// ---- Pictures --------------------------------------------------------------

// The largest picture file the screen saver reads into memory, and the
// most pixels it lets a picture decode to (a 48-megapixel photo passes;
// beyond that GDI+ would need hundreds of megabytes). Larger pictures are
// skipped as undecodable ones are.
inline constexpr std::uint32_t kMaxPictureBytes = 64u << 20;
inline constexpr std::uint64_t kMaxPicturePixels = 50000000;

bool PictureSizeAcceptable(std::uint32_t bytes);
bool PictureDimensionsAcceptable(std::uint32_t width, std::uint32_t height);

// The order in which `count` pictures are shown: 0..count-1 as given, or a
// shuffle of them drawn from `seed` (the same seed, the same shuffle).
std::vector<std::uint32_t> PictureOrder(std::uint32_t count, ShowOrder order, std::uint32_t seed);

struct Rect {
    int x, y, width, height;
};

// Where a picture of `pictureWidth` x `pictureHeight` pixels goes in an area
// of `areaWidth` x `areaHeight`, centred and scaled keeping its proportions:
// kFitWhole shows all of it (black bars beside or above it), kFitFill covers
// the whole area (the rest cropped). Empty when either size is 0.
Rect PlacePicture(std::uint32_t pictureWidth, std::uint32_t pictureHeight, int areaWidth, int areaHeight,
                  ShowFit fit);

// How long the cross-fade into the next picture lasts, in milliseconds: at
// most kFadeMs, and never more than a quarter of the time a picture shows.
inline constexpr unsigned kFadeMs = 800;
unsigned FadeMs(unsigned seconds);

// ---- Music -----------------------------------------------------------------

// The music files among the names of the data folder's files, in the order
// they play: the installer names its media files FILE, JUKE or JUK_ (any
// letter case), a number of at least four digits and the package's
// extension, and numbers them in the package's order. They play by number;
// `dataFile` (<title>.dat) is never music, even when the title looks like
// a media file's name.
std::vector<std::string> MusicFiles(const std::vector<std::string>& names, std::string_view dataFile);

// ---- Input -----------------------------------------------------------------

// A mouse that moves this many pixels or fewer from where it was when the
// screen saver started is a shaking desk, not a user; and for the first
// kQuietMs the screen saver ignores the mouse (windows that appear under
// it make it report moves that nobody made).
inline constexpr int kMoveTolerance = 8;
inline constexpr unsigned kQuietMs = 1000;

bool MouseEnds(int startX, int startY, int x, int y);

}  // namespace slideshow
