// Names and paths of the installed files: rules of the package format.
// Shared by the installer and by glimmer-pack, so a package lists and
// extracts under the very names that the installer gives its files, and a
// package that glimmer-pack builds has paths that the installer can form.
//
// Every path is held in a buffer of kPathSize (260) bytes: 259 characters and
// the terminating zero. A function that would need more leaves its output
// as it was and returns 0; a path that fits returns 1.
#pragma once

#include <cstdint>

#include "payload/catalogue.h"

// Appends `text` to the path in `path` (a kPathSize buffer).
int AppendPath(char* path, const char* text);

// Appends a backslash unless the path already ends with one.
int AddBackslash(char* path);

// Removes blanks (code 32) from the end of `text`, one by one, while its last
// character is a blank. Other white space stays.
void StripTrailingBlanks(char* text);

// The stem: `baseName` cut at its last '.' (the stripped title for a base
// name "<title>.scr"); the whole name when it holds no '.'.
void FormStem(const char* baseName, char* stem);

// The media file name prefix for a kind byte: '_' gives "JUK_", 0 gives
// "JUKE", anything else "FILE".
const char* MediaPrefix(std::uint8_t kind);

// The full target path of record `index` in `out`:
//   0   `windowsFolder`, a backslash unless it ends with one, `baseName`
//   1   `dataFolder` + stem + ".dat"
//   2   `dataFolder` + "UNINSTAL.EXE"
//   3+  `dataFolder` + prefix + number + extension, then trailing blanks of
//       the whole path removed; number = numberingBase + index - 3, in
//       decimal, at least four digits; the extension is the record's 15
//       bytes, ending early at a zero byte.
// `dataFolder` ends with a backslash. Returns 0, with `out` empty, when the
// path would not fit 259 characters.
int FormTargetPath(char* out, std::uint32_t index, const FileRecord& record,
                   std::uint16_t numberingBase, const char* windowsFolder,
                   const char* dataFolder, const char* baseName);

// The log of installed paths in the data folder.
inline constexpr const char kInstallLogName[] = "INSTALL.LOG";

// Appends the levels of a screen saver's data folder to `folder`, the common
// application-data folder: a backslash unless it ends with one, "Tarnwell",
// "Glimmerwick", the stem and a final backslash. 0 when it would not fit
// (`folder` may then hold part of it).
int AppendDataFolderLevels(char* folder, const char* stem);

// 1 when every path the installer forms for a package titled `title` (its
// trailing blanks removed) fits 259 characters, given the Windows folder and
// the common application-data folder: the screen saver, the data folder and
// its INSTALL.LOG, and the target of each of the `count` file records.
int PackagePathsFit(const char* title, const char* windowsFolder, const char* commonAppData,
                    std::uint16_t numberingBase, const FileRecord* records, std::uint32_t count);
