// Procedure of the install dialog (template IDD_INSTALL), run modally by the
// install sequence with the backdrop window as owner. Ends with the
// extraction's result: 1 when the work ended (finished or cancelled), 2 when
// it may not be done, 3 when a fault stopped it (already reported).
#pragma once

#include "platform/winapi_win32.h"

INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
