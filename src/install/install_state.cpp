#include "install/install_state.h"

#include <cstring>

char g_dataFolder[kPathSize];
int g_cancel;
int g_uninstaller;
int g_uninstallerReady;
OsWindow g_installDialog;
char g_missingTypes[kMissingTypesSize];

void ResetInstallState() {
    std::memset(g_dataFolder, 0, sizeof g_dataFolder);
    g_cancel = 0;
    g_uninstaller = 0;
    g_uninstallerReady = 0;
    g_installDialog = 0;
    std::memset(g_missingTypes, 0, sizeof g_missingTypes);
}
