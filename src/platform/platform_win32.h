// The Win32 table of the platform seam, used by the stub.
#pragma once

#include "platform/platform.h"

extern const Platform kWin32Platform;

// Run first thing at start. The installer runs with administrator rights
// from wherever it was downloaded, a folder that anyone may have put files
// into. Every library that Windows loads on its behalf from then on (for the
// shell, the common controls, themes, the multimedia layer, and what they
// need in turn) is searched for in the system folder only, never in the
// installer's folder or the current one (SetDefaultDllDirectories, looked up
// at run time: Windows 7 without the loader update and older lack it, and
// the current folder is then taken out of the search with SetDllDirectoryA).
// The libraries that a GUI program is known to load later without their
// being KnownDLLs are loaded now from the system folder by full path, so
// that a later load by name finds them already in the process, also where
// neither call exists.
void HardenLibraryLoading();
