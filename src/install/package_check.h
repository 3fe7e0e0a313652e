// The checks that a package can be installed safely, run before anything is
// written: the payload is whole, its title can name the installed files and
// folder, every media extension is safe inside a file name, the Windows
// folder is known and every target path fits 259 characters. A package that
// fails any of them is refused with one message and the install stops, so
// nothing is ever written outside the screen-saver path in the Windows folder
// and the data folder.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Caption of every message that ends the install with an error.
inline constexpr const char kErrorCaption[] = "Errore!!!";

// Faults that refuse a package, each with its own message.
enum PackageFault : int {
    kFaultDamaged,    // the payload is missing, incomplete or points past the file
    kFaultTitle,      // the title cannot name a file (detail: the title)
    kFaultExtension,  // a media extension is not safe in a file name (detail: it)
    kFaultNoWindows,  // the Windows folder cannot be had
    kFaultTooLong,    // a target path would not fit 259 characters
};

// Shows the message of `fault` (caption kErrorCaption, MB_OK with the error
// icon, owner `owner`), `detail` filling its placeholder. Returns 0.
int ShowPackageFault(OsWindow owner, PackageFault fault, const char* detail = nullptr);

// Runs every check but the packed streams' on the installer file
// `installerPath` for the stripped title `title`. On the first fault shows
// its message (owner `owner`, caption kErrorCaption, MB_OK with the error
// icon) and returns 0; returns 1 when the package can be installed as far as
// these checks tell.
int PackageCheck(OsWindow owner, const char* installerPath, const char* title);

// Decodes every packed entry once, without writing it anywhere: 1 when each
// stream reads as an encoder writes it; 0 when one needs bits past its stored
// bytes, leaves many of them unused, overruns its unpacked size or reads
// window positions it never wrote (a damaged or forged stream would install
// as garbage, or inflate a tiny package to gigabytes), or the catalogue
// cannot be read. Shows nothing and uses the file operations only, so it may
// run on a thread of its own while the user answers the questions.
int PackedStreamsSound(const char* installerPath);
