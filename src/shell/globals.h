// Shared state of the installer. It lives for the whole process and exists
// once; every part of the program reads and writes it directly. One thread
// only, so no locks: the flags are plain integers.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Capacity of the missing-types list, terminating zero included.
inline constexpr int kMissingTypesSize = 256;

// The screen saver's title as read from the catalogue, 259 characters at
// most; zero until the backdrop window reads it. The install sequence strips
// its trailing blanks in place.
extern char g_title[kPathSize];

// Stripped title + ".scr"; at the end of a successful install, the
// screen-saver path.
extern char g_baseName[kPathSize];

// Common application data \Tarnwell\Glimmerwick\<stem>\, always ending with
// a backslash once formed by the extraction.
extern char g_dataFolder[kPathSize];

// 1 once the user has confirmed Cancel in the install dialog; never reset.
extern int g_cancel;

// 1 while record 2, the uninstaller, is written: a confirmed Cancel then does
// not cut the current file short.
extern int g_uninstaller;

// The install dialog while it exists; the UI pump offers messages to it.
extern OsWindow g_installDialog;

// Extensions of media files that failed to open, each followed by "\r\n".
extern char g_missingTypes[kMissingTypesSize];

// The show-prompts setting, fixed when the stub is built (2 in the shipped
// stub); only ever compared with 2. Defined in show_prompts.cpp, which each
// program compiles with its own GLIMMER_SHOW_PROMPTS.
extern std::int32_t g_showPrompts;

// The process's exit code: 0 after a normal run, non-zero after a failed
// install. The backdrop window posts it with its quit message.
extern int g_exitCode;

// Puts every global back to its start value (tests run many installs in one
// process; the program itself never calls this).
void ResetGlobals();
