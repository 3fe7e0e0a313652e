// PROVISIONAL: a stand-in that ends the install dialog with 1 as soon as it
// is created, so the stub links and runs from start to end. The real
// procedure, which does the whole extraction, replaces this file.
#include "install/install_dialog_win32.h"

INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    EndDialog(dialog, 1);
    return TRUE;
}
