#include "shell/globals.h"

#include <cstring>

char g_title[kPathSize];
char g_baseName[kPathSize];
int g_exitCode;

void ResetGlobals() {
    std::memset(g_title, 0, sizeof g_title);
    std::memset(g_baseName, 0, sizeof g_baseName);
    g_exitCode = 0;
    ResetInstallState();
}
