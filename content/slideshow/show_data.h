// The slideshow's data file: what glimmer-pack writes as <title>.dat for the
// slideshow screen saver, and what the screen saver reads back. It carries
// the settings' defaults, the title and the pictures' bytes, as the author
// gave them (JPEG, PNG, GIF or BMP; the screen saver decodes them itself).
//
//   offset   width         field
//   0        8 bytes       magic "GLIMSHOW"
//   8        u16           version, kShowVersion
//   10       u16           seconds per picture, kMinSeconds..kMaxSeconds
//   12       u8            order: 0 as given, 1 shuffled
//   13       u8            fit: 0 whole picture on black, 1 fill the screen
//   14       u8            music: 0 off, 1 on
//   15       u8            reserved, 0
//   16       u32           number of pictures N, at most kMaxPictures
//   20       u16           title length T, at most kMaxShowTitle
//   22       u16           reserved, 0
//   24       T bytes       title, code page 1252, no NUL
//   24 + T   8 each        N picture rows: u32 offset (from the start of the
//                          file), u32 size in bytes (1 or more)
//   ...                    the pictures' bytes
//
// All integers are little-endian. Every picture lies after the rows and
// inside the file; the file stays below 2^31 bytes, as every installed file.
// A reader refuses a file of another magic or a later version, and a file
// whose header or rows break these rules; a picture whose bytes do not
// decode is a matter for the screen saver (it skips it), not for this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kShowMagic[8] = {'G', 'L', 'I', 'M', 'S', 'H', 'O', 'W'};
inline constexpr std::uint16_t kShowVersion = 1;
inline constexpr std::size_t kShowHeaderSize = 24;
inline constexpr std::size_t kShowRowSize = 8;
inline constexpr std::uint32_t kMaxPictures = 10000;
inline constexpr std::size_t kMaxShowTitle = 259;
inline constexpr unsigned kMinSeconds = 1;
inline constexpr unsigned kMaxSeconds = 3600;
inline constexpr std::uint32_t kShowFileLimit = 0x80000000u;

enum ShowOrder : std::uint8_t { kOrderGiven = 0, kOrderShuffled = 1 };
enum ShowFit : std::uint8_t { kFitWhole = 0, kFitFill = 1 };

// The settings a slideshow starts from. The data file holds the author's
// defaults; each user may change them (the screen saver keeps a user's
// choice in the registry).
struct ShowSettings {
    unsigned seconds = 8;
    ShowOrder order = kOrderGiven;
    ShowFit fit = kFitWhole;
    bool music = true;
};

// Where one picture's bytes lie in the data file.
struct PictureSpan {
    std::uint32_t offset;
    std::uint32_t size;
};

struct ShowIndex {
    ShowSettings defaults;
    std::string title;  // code page 1252
    std::vector<PictureSpan> pictures;
};

enum ShowReadResult {
    kShowOk = 0,
    kShowNotShowFile,   // too short for a header, or another magic
    kShowNewerVersion,  // a version this reader does not know
    kShowDamaged,       // a value out of range, or rows outside the file
};

// The number of bytes the index takes (header, title and rows), from the
// file's first kShowHeaderSize bytes; 0 when `size` is too small or they
// are not a header of a known version. A reader reads that many bytes from
// the start of the file and hands them to ReadShowIndex. It is at most
// kShowHeaderSize + kMaxShowTitle + kMaxPictures * kShowRowSize; a header
// whose counts pass the limits gives kShowHeaderSize, and ReadShowIndex
// then finds the file damaged.
std::size_t ShowIndexSize(const std::uint8_t* bytes, std::size_t size);

// Reads the index of a data file of `fileSize` bytes from its first `size`
// bytes (ShowIndexSize of them, or more). `out` is filled only on kShowOk.
ShowReadResult ReadShowIndex(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize,
                             ShowIndex* out);

// The index for `title` and pictures of the given sizes, whose bytes will
// follow the rows one after another in the order given. False, and `out`
// untouched, when a value breaks the rules above (a title too long or
// holding NUL, too many pictures, an empty picture, seconds out of range,
// a file of 2^31 bytes or more).
bool WriteShowIndex(const ShowSettings& settings, std::string_view title,
                    const std::vector<std::uint32_t>& pictureSizes, std::vector<std::uint8_t>* out);
