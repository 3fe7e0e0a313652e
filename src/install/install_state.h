// The state of one installation, shared by the checks, the extraction, the
// media check and the install sequence above them. It lives for the whole
// process and exists once; one thread only, so the flags are plain integers.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Capacity of the missing-types list, terminating zero included.
inline constexpr int kMissingTypesSize = 256;

// Common application data \Tarnwell\Glimmerwick\<stem>\, always ending with
// a backslash once formed by the extraction.
extern char g_dataFolder[kPathSize];

// 1 once the user has confirmed Cancel in the install dialog; never reset.
extern int g_cancel;

// 1 while the uninstaller's record is written: a confirmed Cancel then does
// not cut the current file short.
extern int g_uninstaller;

// 1 once the uninstaller has been written whole in this run, so that a
// failed install can be rolled back by running it.
extern int g_uninstallerReady;

// The install dialog while it exists; the UI pump offers messages to it.
extern OsWindow g_installDialog;

// Extensions of media files that failed to open, each followed by "\r\n".
extern char g_missingTypes[kMissingTypesSize];

// Puts the state back to its start value (tests run many installs in one
// process; the program itself never calls this).
void ResetInstallState();
