// The Win32 table of the platform seam, used by the stub.
#pragma once

#include "platform/platform.h"

extern const Platform kWin32Platform;
