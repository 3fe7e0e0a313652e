// PROVISIONAL: the part of the install sequence that exists so far (stop the
// start timer, arrow cursor, license, credits, end). The full decision chain
// replaces this file when the install dialog's work is in place.
#include "shell/sequence.h"

#include "dialogs/license.h"
#include "shell/globals.h"

void InstallSequence(OsWindow backdrop) {
    g_platform->KillTimer(backdrop, kStartTimerId);
    g_platform->SetClassArrowCursor(backdrop);
    char self[kPathSize] = {};
    std::uint32_t n = g_platform->GetModuleFileName(self, sizeof self);
    if (n > 0 && n < sizeof self && ShowLicenseStep(self) && g_showPrompts == 2)
        g_platform->RunCreditsDialog(backdrop);
    g_platform->DestroyWindow(backdrop);
}
