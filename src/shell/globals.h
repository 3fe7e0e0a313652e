// Shared state of the installer shell: the title, the base name, the
// prompts setting and the exit code. It lives for the whole process and
// exists once; the installation's own state is in install/install_state.h.
#pragma once

#include <cstdint>

#include "install/install_state.h"
#include "platform/platform.h"

// The screen saver's title as read from the catalogue, 259 characters at
// most; zero until the backdrop window reads it. The install sequence strips
// its trailing blanks in place.
extern char g_title[kPathSize];

// Stripped title + ".scr"; at the end of a successful install, the
// screen-saver path.
extern char g_baseName[kPathSize];

// The show-prompts setting, fixed when the stub is built (2 in the shipped
// stub); only ever compared with 2. Defined in show_prompts.cpp, which each
// program compiles with its own GLIMMER_SHOW_PROMPTS.
extern std::int32_t g_showPrompts;

// The process's exit code: 0 after a normal run, non-zero after a failed
// install. The backdrop window posts it with its quit message.
extern int g_exitCode;

// Puts every global, the installation's too, back to its start value (tests run many installs in one
// process; the program itself never calls this).
void ResetGlobals();
