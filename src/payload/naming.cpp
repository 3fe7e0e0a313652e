#include "payload/naming.h"

#include <cstdio>
#include <cstring>

int AppendPath(char* path, const char* text) {
    std::size_t have = std::strlen(path);
    std::size_t add = std::strlen(text);
    if (have + add >= static_cast<std::size_t>(kPathSize)) return 0;
    std::memcpy(path + have, text, add + 1);
    return 1;
}

int AddBackslash(char* path) {
    std::size_t have = std::strlen(path);
    if (have > 0 && path[have - 1] == '\\') return 1;
    return AppendPath(path, "\\");
}

void StripTrailingBlanks(char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

void FormStem(const char* baseName, char* stem) {
    std::size_t n = std::strlen(baseName);
    if (n >= static_cast<std::size_t>(kPathSize)) n = kPathSize - 1;
    std::memcpy(stem, baseName, n);
    stem[n] = '\0';
    if (char* dot = std::strrchr(stem, '.')) *dot = '\0';
}

const char* MediaPrefix(std::uint8_t kind) {
    if (kind == '_') return "JUK_";
    if (kind == 0) return "JUKE";
    return "FILE";
}

int FormTargetPath(char* out, std::uint32_t index, const FileRecord& record,
                   std::uint16_t numberingBase, const char* windowsFolder,
                   const char* dataFolder, const char* baseName) {
    char path[kPathSize] = {};
    int ok = 1;
    if (RoleOf(index) == kRoleScreenSaver) {
        ok = AppendPath(path, windowsFolder) && AddBackslash(path) && AppendPath(path, baseName);
    } else {
        ok = AppendPath(path, dataFolder);
        if (ok && RoleOf(index) == kRoleData) {
            char stem[kPathSize];
            FormStem(baseName, stem);
            ok = AppendPath(path, stem) && AppendPath(path, ".dat");
        } else if (ok && RoleOf(index) == kRoleUninstaller) {
            ok = AppendPath(path, "UNINSTAL.EXE");
        } else if (ok) {
            char number[16];
            std::snprintf(number, sizeof number, "%04lu",
                          static_cast<unsigned long>(numberingBase + index - 3u));
            char extension[kExtensionSize + 1] = {};
            std::memcpy(extension, record.extension, kExtensionSize);  // stops at a NUL
            ok = AppendPath(path, MediaPrefix(record.kind)) && AppendPath(path, number) &&
                 AppendPath(path, extension);
            if (ok) StripTrailingBlanks(path);
        }
    }
    if (!ok) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, path, std::strlen(path) + 1);
    return 1;
}

int AppendDataFolderLevels(char* folder, const char* stem) {
    return AddBackslash(folder) && AppendPath(folder, "Tarnwell\\Glimmerwick\\") && AppendPath(folder, stem) &&
           AddBackslash(folder);
}

int PackagePathsFit(const char* title, const char* windowsFolder, const char* commonAppData,
                    std::uint16_t numberingBase, const FileRecord* records, std::uint32_t count) {
    char baseName[kPathSize] = {};
    char dataFolder[kPathSize] = {};
    char path[kPathSize] = {};
    if (!AppendPath(baseName, title) || !AppendPath(baseName, ".scr") || !AppendPath(dataFolder, commonAppData) ||
        !AppendDataFolderLevels(dataFolder, title) || !AppendPath(path, dataFolder) ||
        !AppendPath(path, kInstallLogName))
        return 0;
    FileRecord none{};
    if (!FormTargetPath(path, 0, none, 0, windowsFolder, dataFolder, baseName)) return 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if (!FormTargetPath(path, i, records[i], numberingBase, windowsFolder, dataFolder, baseName)) return 0;
    return 1;
}
