#include "install/naming.h"

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
    if (index == 0) {
        ok = AppendPath(path, windowsFolder) && AddBackslash(path) && AppendPath(path, baseName);
    } else {
        ok = AppendPath(path, dataFolder);
        if (ok && index == 1) {
            char stem[kPathSize];
            FormStem(baseName, stem);
            ok = AppendPath(path, stem) && AppendPath(path, ".dat");
        } else if (ok && index == 2) {
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
