// The media check and the activation. A screen saver of this kind plays the
// media files that come with it, so each one is tested with the Windows
// multimedia layer after it has been written, and the new screen saver is
// made the system's screen saver only when every one of them could be opened.
#pragma once

// Stands in the missing-types list for the types that did not fit it.
inline constexpr const char kMissingTypesMore[] = "...\r\n";

// Tests whether the multimedia layer can open the file at `targetPath`
// (its short form, or the path itself when there is none): first by its
// extension, then with the "MPEGVideo" device. When both fail, adds the
// extension to the missing-types list (AddMissingType).
void MediaCheck(const char* targetPath);

// The text under which a failing media file is listed: from the last '.' of
// `targetPath` to its end; for a path without any '.', its last component,
// so that the failure is never lost.
const char* MissingTypeOf(const char* targetPath);

// Appends `type` and "\r\n" to the missing-types list unless `type` already
// occurs anywhere in it (a plain, case-sensitive substring search). The list
// never grows past its 256 bytes; a type that does not fit is represented by
// kMissingTypesMore at the end of the list (whole earlier entries give way
// to it when needed), so the list is never left empty after a failure.
void AddMissingType(const char* type);

// When the missing-types list is empty: writes the short form of
// `screenSaverPath` (or the path itself when there is none) as "SCRNSAVE.EXE"
// in section "boot" of system.ini and switches screen saving on. Otherwise
// does nothing.
void Activate(const char* screenSaverPath);
