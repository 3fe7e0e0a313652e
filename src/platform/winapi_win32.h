// <windows.h> for the stub's Win32 code, without the A/W name macros that
// would rename operations of the platform seam (g_platform->MessageBox would
// otherwise become g_platform->MessageBoxA). Code that needs the Windows
// function itself calls its ANSI name, MessageBoxA and so on.
#pragma once

#include <windows.h>

#undef MessageBox
#undef GetModuleFileName
#undef GetWindowsDirectory
#undef GetShortPathName
#undef GetDiskFreeSpaceEx
#undef GetDiskFreeSpace
#undef RegCreateKey
#undef RegSetValue
#undef WriteProfileString
