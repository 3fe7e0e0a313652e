#include "dialogs/dialogs_win32.h"

#include "dialogs/resource_ids.h"
#include "dialogs/screen_centring.h"

namespace {

// Moves the dialog to the middle of the whole screen (not the work area),
// keeping its size, without a repaint.
void CentreDialogOnScreen(HWND dialog) {
    RECT rect;
    if (!GetWindowRect(dialog, &rect)) return;
    const ScreenPlacement place =
        CentreOnScreen(rect.left, rect.top, rect.right, rect.bottom, GetSystemMetrics(SM_CXSCREEN),
                       GetSystemMetrics(SM_CYSCREEN));
    MoveWindow(dialog, place.x, place.y, place.width, place.height, FALSE);
}

// Both dialogs end on the whole wParam being IDOK or IDCANCEL, that is a
// button click (notification 0), Enter on the default button, Escape or the
// close box; the result is that command.
bool EndsDialog(WPARAM wParam) { return wParam == IDOK || wParam == IDCANCEL; }

INT_PTR OnLicenseInit(HWND dialog, const char* text) {
    SetDlgItemTextA(dialog, IDC_LICENSE_TEXT, text);
    CentreDialogOnScreen(dialog);
    HWND edit = GetDlgItem(dialog, IDC_LICENSE_TEXT);
    SetFocus(edit);
    // Giving an edit control the focus selects all its text. The posted
    // (not sent) EM_SETSEL -1, 0 runs once the dialog is on screen and
    // clears that selection.
    PostMessageA(edit, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    return FALSE;  // the focus has been set here
}

}  // namespace

INT_PTR CALLBACK LicenseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnLicenseInit(dialog, reinterpret_cast<const char*>(lParam));
    case WM_COMMAND:
        if (!EndsDialog(wParam)) return FALSE;
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CreditsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreDialogOnScreen(dialog);
        return TRUE;  // the dialog manager focuses the OK button
    case WM_COMMAND:
        if (!EndsDialog(wParam)) return FALSE;
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

std::intptr_t RunLicenseDialogWin32(const char* text) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LICENSE), nullptr, LicenseDialogProc,
                           reinterpret_cast<LPARAM>(text));
}

std::intptr_t RunCreditsDialogWin32(OsWindow owner) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CREDITS), reinterpret_cast<HWND>(owner),
                           CreditsDialogProc, 0);
}
