#include "install/paths.h"

#include <cstring>

#include "payload/naming.h"
#include "install/text.h"
#include "platform/platform.h"

int GetOwnPath(char* path) {
    path[0] = '\0';
    std::uint32_t n = g_platform->GetModuleFileName(path, kPathSize);
    if (n == 0 || n >= static_cast<std::uint32_t>(kPathSize)) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}

int GetWindowsFolder(char* folder) {
    folder[0] = '\0';
    std::uint32_t n = g_platform->GetWindowsDirectory(folder, kPathSize);
    if (n == 0 || n >= static_cast<std::uint32_t>(kPathSize)) {
        folder[0] = '\0';
        return 0;
    }
    return 1;
}

const char* ShortPathOrLong(const char* path, char* buffer) {
    std::uint32_t n = g_platform->GetShortPathName(path, buffer, kPathSize);
    if (n == 0 || n >= static_cast<std::uint32_t>(kPathSize)) return path;
    return buffer;
}

int FormDataFolder(const char* stem, char* out, int* ownFrom) {
    out[0] = '\0';
    char folder[kPathSize] = {};
    if (!g_platform->GetCommonAppData(folder)) folder[0] = '\0';
    folder[kPathSize - 1] = '\0';
    int from = 0;  // with no folder from the system: the root of the current drive
    int fits = 1;
    if (folder[0] != '\0') {
        from = static_cast<int>(std::strlen(folder));
    } else if (GetWindowsFolder(folder)) {
        fits = AddBackslash(folder);
        from = static_cast<int>(std::strlen(folder));
        fits = fits && AppendPath(folder, "All Users\\Application Data");
    }
    fits = fits && AppendDataFolderLevels(folder, stem);
    if (!fits) return 0;
    std::memcpy(out, folder, std::strlen(folder) + 1);
    *ownFrom = from;
    return 1;
}

int FormUninstallKeyPath(const char* stem, char* out) {
    out[0] = '\0';
    if (stem[0] == '\0') return 0;
    if (!FormatText(out, kKeyPathSize, "%s\\%s", kUninstallRoot, stem)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}
