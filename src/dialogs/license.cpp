#include "dialogs/license.h"

#include "payload/payload.h"
#include "platform/platform.h"

int ShowLicenseStep(const char* installerPath) {
    std::uint32_t length = 0;
    char* text = ReadLicenseText(installerPath, &length);
    if (!text) return 1;  // no license text: the install goes on
    std::intptr_t result = g_platform->RunLicenseDialog(text);
    g_platform->TextFree(text);
    return result == 1 ? 1 : 0;
}
