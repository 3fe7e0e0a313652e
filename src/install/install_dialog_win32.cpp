// The install dialog (template IDD_INSTALL): its procedure unpacks the
// window messages and hands the work to the portable extraction.
#include "install/install_dialog_win32.h"

#include "dialogs/resource_ids.h"
#include "install/extraction.h"
#include "install/install_state.h"

namespace {

// The request of the running dialog, from its creation parameter.
const InstallRequest* g_request;

// Shows the dialog when prompts are on (the template is hidden), makes it the
// window the UI pump serves, labels it and posts the start command, so that
// the work begins as soon as the dialog's own message loop runs.
INT_PTR OnInitDialog(HWND dialog, const InstallRequest* request) {
    g_request = request;
    if (request->showPrompts == 2) ShowWindow(dialog, SW_SHOW);
    g_installDialog = reinterpret_cast<OsWindow>(dialog);
    char text[kCaptionSize];
    FormInstallCaption(request->title, text);
    SetWindowTextA(dialog, text);
    FormScreenSaverLabel(request->title, text);
    SetDlgItemTextA(dialog, IDC_INSTALL_TITLE, text);
    PostMessageA(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return TRUE;
}

// The whole installation runs inside this one command. The dialog ends with
// the extraction's result once; a start command that arrives again (during
// a pump, or before the dialog is gone) does nothing.
void OnStart(HWND dialog) {
    static int ended;
    if (ended) return;
    int result = StartInstall(*g_request);
    if (result == 0) return;
    ended = 1;
    EndDialog(dialog, result);
}

}  // namespace

INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<const InstallRequest*>(lParam));
    case WM_COMMAND:
        if (wParam == IDOK) {
            OnStart(dialog);
            return TRUE;
        }
        if (wParam == IDCANCEL) CancelQuestion();
        return FALSE;
    default:
        return FALSE;
    }
}

std::intptr_t RunInstallDialogWin32(OsWindow owner, const void* request) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_INSTALL), reinterpret_cast<HWND>(owner),
                           InstallDialogProc, reinterpret_cast<LPARAM>(request));
}
