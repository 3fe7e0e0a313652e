#include "install/checks.h"

#include <cstring>

#include "payload/naming.h"
#include "install/paths.h"
#include "install/text.h"
#include "payload/payload.h"

namespace {

// Overwrite question: the tested name (not the whole path) fills %s.
constexpr const char kOverwriteText[] =
    "Esiste gi\xe0 uno screen saver con il nome (%s) installato nel vostro sistema. "
    "Volete sovrascriverlo?";
constexpr const char kOverwriteCaption[] = "Sovrascrivere Screen Saver?";

// Low-space question: needed, then free kilobytes, both grouped.
constexpr const char kLowSpaceText[] =
    "Avrete bisogno di %s kilobytes di spazio nella cartella Windows per installare questo "
    "screensaver. Sembrerebbe che a disposizione ci siano solo %s kilobytes liberi.  "
    "Continuare con l\x92" "installazione?";
constexpr const char kLowSpaceCaption[] = "Disco Pieno";

// The name tested by the overwrite check: the last component of the
// installer's path, cut at its last '.', then ".SCR". 0 when it does not fit.
int FormTestedName(const char* installerPath, char* name) {
    const char* start = std::strrchr(installerPath, '\\');
    start = start ? start + 1 : installerPath;
    std::size_t length = std::strlen(start);
    if (const char* dot = std::strrchr(start, '.')) length = static_cast<std::size_t>(dot - start);
    if (length + 4 >= static_cast<std::size_t>(kPathSize)) return 0;
    std::memcpy(name, start, length);
    std::memcpy(name + length, ".SCR", 5);
    return 1;
}

}  // namespace

int OverwriteCheck(std::int32_t showPrompts) {
    char self[kPathSize];
    char folder[kPathSize];
    if (!GetOwnPath(self) || !GetWindowsFolder(folder)) return 1;
    char name[kPathSize];
    char tested[kPathSize];
    tested[0] = '\0';
    // A path that cannot be formed names no file that Windows could hold.
    if (!FormTestedName(self, name) || !AppendPath(tested, folder) || !AddBackslash(tested) ||
        !AppendPath(tested, name))
        return 1;
    if (!g_platform->FileExists(tested)) return 1;
    if (showPrompts != 2) return 1;
    char text[sizeof kOverwriteText + kPathSize];
    FormatText(text, sizeof text, kOverwriteText, name);
    int answer = g_platform->MessageBox(0, text, kOverwriteCaption, kMbYesNo | kMbIconQuestion);
    return answer == kIdNo ? 0 : 1;
}

int SpaceCheck(std::uint64_t* byteTotal) {
    *byteTotal = 0;
    char self[kPathSize];
    if (!GetOwnPath(self) || !SumEntrySizes(self, byteTotal)) return 1;
    char folder[kPathSize];
    if (!GetWindowsFolder(folder)) return 1;
    std::uint64_t needed = *byteTotal / 1024;
    std::uint64_t free = FreeKilobytes(folder);
    if (free > needed) return 1;
    char neededText[kGroupedSize];
    char freeText[kGroupedSize];
    char text[sizeof kLowSpaceText + 2 * kGroupedSize];
    FormatText(text, sizeof text, kLowSpaceText, FormatThousands(needed, neededText),
               FormatThousands(free, freeText));
    int answer = g_platform->MessageBox(0, text, kLowSpaceCaption, kMbOkCancel | kMbIconInformation);
    return answer == kIdCancel ? 0 : 1;
}

std::uint64_t FreeKilobytes(const char* path) {
    char query[kPathSize];
    std::size_t length = std::strlen(path);
    if (length >= sizeof query) length = sizeof query - 1;
    std::memcpy(query, path, length);
    query[length] = '\0';
    if (char* slash = std::strrchr(query, '\\')) slash[1] = '\0';

    std::uint64_t freeBytes = 0;
    if (g_platform->GetDiskFreeSpaceEx(query, &freeBytes)) return freeBytes >> 10;
    std::uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0;
    if (!g_platform->GetDiskFreeSpace(query, &sectorsPerCluster, &bytesPerSector, &freeClusters))
        return kFreeSpaceUnknown;
    return (std::uint64_t{sectorsPerCluster} * bytesPerSector * freeClusters) >> 10;
}

char* FormatThousands(std::uint64_t value, char* out) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    // digits[] holds the number backwards; copy it forwards, with a ',' before
    // every group of three that still has digits in front of it.
    int n = 0;
    for (int i = count - 1; i >= 0; --i) {
        out[n++] = digits[i];
        if (i > 0 && i % 3 == 0) out[n++] = ',';
    }
    out[n] = '\0';
    return out;
}
