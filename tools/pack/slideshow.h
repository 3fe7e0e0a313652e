// A package made from pictures and music: the package file's [slideshow]
// table, and what build does with it.
//
//   [slideshow]
//   pictures = ["photos", "extra/*.jpg", "cover.png"]
//   seconds = 8              # per picture, 1 to 3600
//   order = "given"          # or "shuffled"
//   fit = "fit"              # the whole picture on black; "fill" covers the screen
//   music = ["lago.mp3", "notte.mid"]
//   max_size = "3840x2160"   # larger pictures are scaled down; "off" never
//
// With the table, the screen saver and the uninstaller default to the ones
// shipped beside the installer stub (kShippedSaver, kShippedUninstaller),
// the music files are the package's media files, and the data file is
// written by build from the pictures (see show_data.h). A saver, data file,
// uninstaller or media list named in [files] or on the command line is
// used instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli.h"
#include "pictures.h"
#include "show_data.h"

// The shipped programs' names in the stub's folder.
inline constexpr char kShippedSaver[] = "slideshow.scr";
inline constexpr char kShippedUninstaller[] = "uninstal.exe";

// The shipped program `name` in the folder of the installer stub `stub`.
std::string ShippedBesideStub(const std::string& stub, const char* name);

// A path from the package file and where the file gives it
// ("FILE:LINE:COLUMN"), for messages.
struct PlacedPath {
    std::string path, where;
};

struct SlideshowOptions {
    bool given = false;             // the package file has a [slideshow] table
    std::vector<PlacedPath> pictures;  // files, folders or patterns, in the order given
    std::vector<PlacedPath> music;
    ShowSettings settings;
    PictureLimit limit;
};

// File name extensions (lower case, with the dot) of pictures, which a
// folder in `pictures` and `glimmer-pack new` take, and of the sounds the
// Windows multimedia layer plays on every Windows from XP on.
inline constexpr const char* kPictureExtensions[] = {".jpg", ".jpeg", ".png", ".gif", ".bmp"};
inline constexpr const char* kMusicExtensions[] = {".wav", ".mid", ".midi", ".rmi", ".mp3", ".wma",
                                                   ".aif", ".aiff", ".aifc", ".au", ".snd"};
bool HasPictureExtension(const std::string& name);
bool HasMusicExtension(const std::string& name);

// Whether `name` matches the pattern `pattern`: "*" any run of characters,
// "?" one character, "[abc]", "[a-z]" and "[!abc]" one of a set or not; no
// wildcard matches a leading dot. Letters A to Z match either case, so that
// a pattern finds the same files on every system.
bool MatchesPattern(const std::string& pattern, const std::string& name);

// Orders names as people count: runs of digits by their value ("2" before
// "10"), letters A to Z regardless of case, then byte by byte.
bool NameBefore(const std::string& a, const std::string& b);

// One picture to pack.
struct SlidePicture {
    InputFile file;
    PictureFacts facts;
    int width = 0, height = 0;  // as packed: the picture's own size or a smaller one
};

// Reports a refusal: "glimmer-pack: SUBJECT: PROBLEM".
using FaultReport = std::function<void(const std::string& subject, const std::string& problem)>;

// Expands `pictures` to files: a file is taken as it is, a folder gives its
// pictures (by extension, hidden ones left out), a pattern in the last part
// of a path the matching files; each entry's files in NameBefore order, the
// entries in the order given, a file named twice once. Then checks each file
// (a readable regular file, CheckPicture) and works out the size it is
// packed at. Every refusal goes to `fault`; returns their number.
int ExpandAndCheckPictures(const SlideshowOptions& options, std::vector<SlidePicture>* pictures,
                           const FaultReport& fault);

// Refuses each music file whose extension is not one of kMusicExtensions;
// returns the number of refusals.
int CheckMusic(const SlideshowOptions& options, const FaultReport& fault);

// Writes the data file for `pictures` with the title `title` (code page
// 1252) into the open, empty file `out` named `outName`: each picture byte
// for byte, or scaled to the size worked out before. Returns "" or the
// problem; the file's size in *size.
std::string WriteShowData(const std::vector<SlidePicture>& pictures, const ShowSettings& settings,
                          const std::string& title, ToolFile out, const std::string& outName, std::uint64_t* size);

// The folder part of `path`, with its final separator ("" for a bare name).
std::string FolderOf(const std::string& path);
