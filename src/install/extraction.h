// The work of the install dialog: everything that the dialog procedure does
// between its creation and its end, free of any window code. The Win32
// dialog procedure (install_dialog_win32.cpp) calls these; tests call them
// directly.
//
// The whole installation runs inside RunExtraction: the access test on the
// uninstall key, the data folder, INSTALL.LOG, the walk over the catalogue's
// file records (each written to its place, logged, and, for media files,
// tested), then the activation. The user interface runs only inside the UI
// pump (kInstallPump), after the first block of each file and then every
// further kPumpStep bytes; the dialog's Cancel reaches CancelQuestion from
// there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/payload.h"
#include "payload/pump.h"

// Dialog results.
inline constexpr int kInstallDone = 1;    // ran to its end, or cut short by a confirmed Cancel
inline constexpr int kInstallDenied = 2;  // no right to write the uninstall entry; nothing written
inline constexpr int kInstallFailed = 3;  // stopped by a fault, already reported to the user

// Stored entries are copied in blocks of this size.
inline constexpr std::uint32_t kCopyBlockSize = 2048;
// Room for the install caption: a 259-character title and the fixed text.
inline constexpr int kCaptionSize = 320;

// What the install sequence hands the install dialog.
struct InstallRequest {
    const char* title;         // the title, its trailing blanks removed
    const char* baseName;      // the title and ".scr": the screen saver's file name
    std::int32_t showPrompts;  // the show-prompts setting: the dialog is visible only with 2
};

// "%s Installazione Screen Saver" with the title: the caption of the install
// dialog, the confirmation message and the completion message.
void FormInstallCaption(const char* title, char* out /* kCaptionSize */);

// "%s Screen Saver" with the title: the install dialog's label 1001.
void FormScreenSaverLabel(const char* title, char* out /* kCaptionSize */);

// The whole installation; returns the dialog result.
//
// A fault stops it: a target path that does not fit, a media extension that
// is not safe in a file name, a level of the data folder or INSTALL.LOG that
// is a link to another place, INSTALL.LOG that cannot be opened or written, a
// target that cannot be created, a short write (disk full), or the installer
// file that cannot be read (opened, its catalogue walked, an entry's bytes
// read whole, a packed stream read as it was when the package was checked). The user is told which file, no further file is
// written, the screen saver is not activated and the result is
// kInstallFailed. When the uninstaller had already been written whole,
// g_uninstallerReady is 1 and the install sequence rolls the install back by
// running it with "/s", as after a Cancel. A fault before that leaves the
// files written so far in place, each listed in INSTALL.LOG.
int RunExtraction(const InstallRequest& request);

// The dialog's start command (IDOK): runs RunExtraction and returns its
// result. A start command that arrives while the extraction runs (delivered
// by a UI pump) returns 0 and does nothing, so the work never runs twice.
int StartInstall(const InstallRequest& request);

// The dialog's Cancel: unless a Cancel is already confirmed (or the question
// is already on screen), asks "Siete sicuri...?" in a box owned by the
// install dialog and sets g_cancel on Yes.
void CancelQuestion();

// How far an entry was written.
enum EntryResult : int {
    kEntryWritten = 1,       // whole, or as far as a confirmed Cancel let it
    kEntryWriteFailed = 0,   // the target could not be created or written
    kEntryReadFailed = -1,   // the installer file could not be read
};

// The install dialog's UI pump: runs the thread's messages through
// g_platform->PumpMessages with the install dialog, and asks a file to stop
// once a Cancel is confirmed, unless it is the uninstaller's.
extern const PumpControl kInstallPump;

// Copies `storedSize` bytes at the absolute `offset` of `payload` into a new
// `target`, running `control` after the first block and every further
// kPumpStep bytes, and stopping there when it says so.
int CopyStoredEntry(OsFile payload, std::uint32_t offset, std::uint32_t storedSize, const char* target,
                    const PumpControl* control);
