#include "install/media.h"

#include <cstring>

#include "install/paths.h"
#include "install/install_state.h"

void MediaCheck(const char* targetPath) {
    char shortPath[kPathSize];
    const char* path = ShortPathOrLong(targetPath, shortPath);
    std::uint32_t device = 0;
    if (g_platform->MciOpen(path, 0, &device) == 0 || g_platform->MciOpen(path, 1, &device) == 0) {
        g_platform->MciClose(device);
        return;
    }
    AddMissingType(MissingTypeOf(targetPath));
}

const char* MissingTypeOf(const char* targetPath) {
    if (const char* dot = std::strrchr(targetPath, '.')) return dot;
    const char* slash = std::strrchr(targetPath, '\\');
    return slash ? slash + 1 : targetPath;
}

void AddMissingType(const char* type) {
    if (std::strstr(g_missingTypes, type)) return;
    // The mark, when present, always stays last.
    std::size_t markLength = sizeof kMissingTypesMore - 1;
    std::size_t have = std::strlen(g_missingTypes);
    int marked = have >= markLength &&
                 std::strcmp(g_missingTypes + have - markLength, kMissingTypesMore) == 0;
    if (marked) have -= markLength;
    std::size_t add = std::strlen(type);
    if (have + add + 2 + (marked ? markLength : 0) < sizeof g_missingTypes) {
        std::memcpy(g_missingTypes + have, type, add);
        std::memcpy(g_missingTypes + have + add, "\r\n", 2);
        have += add + 2;
    } else {
        // It does not fit: drop whole entries from the end until the mark fits.
        while (have + markLength >= sizeof g_missingTypes) {
            std::size_t cut = have - 2;  // every entry ends with "\r\n"
            while (cut > 0 && g_missingTypes[cut - 1] != '\n') --cut;
            have = cut;
        }
        marked = 1;
    }
    if (marked) {
        std::memcpy(g_missingTypes + have, kMissingTypesMore, markLength);
        have += markLength;
    }
    g_missingTypes[have] = '\0';
}

void Activate(const char* screenSaverPath) {
    if (g_missingTypes[0] != '\0') return;
    char shortPath[kPathSize];
    const char* path = ShortPathOrLong(screenSaverPath, shortPath);
    g_platform->WriteProfileString("boot", "SCRNSAVE.EXE", path, "system.ini");
    g_platform->SetScreenSaveActive();
}
