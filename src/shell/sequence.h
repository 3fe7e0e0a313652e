// The install sequence: the whole conversation with the user, run once from
// the backdrop window's first timer tick. It always ends by destroying the
// backdrop window, which ends the program.
#pragma once

#include "platform/platform.h"

// The start timer of the backdrop window.
inline constexpr unsigned kStartTimerId = 1000;

void InstallSequence(OsWindow backdrop);
