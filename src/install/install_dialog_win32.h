// Procedure of the install dialog (template IDD_INSTALL), run modally by the
// install sequence with the backdrop window as owner. Ends with
// RunExtraction's result (kInstallDone and the others, extraction.h).
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/winapi_win32.h"

// The creation parameter is the address of the InstallRequest, which
// outlives the dialog.
INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The install dialog run modally over `owner` for `request` (an
// InstallRequest): the platform's RunInstallDialog.
std::intptr_t RunInstallDialogWin32(OsWindow owner, const void* request);
