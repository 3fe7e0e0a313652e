#include "shell/globals.h"

#include <cstring>

char g_title[kPathSize];
char g_baseName[kPathSize];
char g_dataFolder[kPathSize];
int g_cancel;
int g_uninstaller;
OsWindow g_installDialog;
char g_missingTypes[kMissingTypesSize];
int g_exitCode;

void ResetGlobals() {
    std::memset(g_title, 0, sizeof g_title);
    std::memset(g_baseName, 0, sizeof g_baseName);
    std::memset(g_dataFolder, 0, sizeof g_dataFolder);
    g_cancel = 0;
    g_uninstaller = 0;
    g_installDialog = 0;
    std::memset(g_missingTypes, 0, sizeof g_missingTypes);
    g_exitCode = 0;
}
