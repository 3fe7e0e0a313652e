// Procedures of the license and credits dialogs.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/winapi_win32.h"

// License dialog (template IDD_LICENSE, no owner). The creation parameter is
// the address of the NUL-terminated license text. Ends with 1 (Accept) or 2
// (Decline, Escape, the close box).
INT_PTR CALLBACK LicenseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Credits dialog (template IDD_CREDITS, owner the backdrop window). Ends with
// 1 (OK) or 2 (Escape, the close box); nobody looks at which.
INT_PTR CALLBACK CreditsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The license dialog run modally (no owner) over `text`: the platform's
// RunLicenseDialog. Returns the dialog result, -1 when it cannot be created.
std::intptr_t RunLicenseDialogWin32(const char* text);

// The credits dialog run modally over `owner`: the platform's
// RunCreditsDialog.
std::intptr_t RunCreditsDialogWin32(OsWindow owner);
