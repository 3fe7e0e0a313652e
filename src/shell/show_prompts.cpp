// Compiled into each program on its own (not part of the core library), so
// that a test variant of the stub can be built with another value.
#include "shell/globals.h"

#ifndef GLIMMER_SHOW_PROMPTS
#define GLIMMER_SHOW_PROMPTS 2
#endif

std::int32_t g_showPrompts = GLIMMER_SHOW_PROMPTS;
