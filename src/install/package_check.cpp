#include "install/package_check.h"

#include <cstring>

#include "install/naming.h"
#include "install/paths.h"
#include "install/text.h"
#include "payload/decoder.h"
#include "payload/payload.h"
#include "shell/globals.h"

namespace {

constexpr const char kDamagedText[] =
    "Il pacchetto di installazione \xe8 danneggiato o incompleto: l\x92" "installazione non "
    "pu\xf2 continuare.";
constexpr const char kBadTitleText[] =
    "Il titolo di questo screen saver (%s) non pu\xf2 essere usato come nome di file in "
    "Windows: l\x92" "installazione non pu\xf2 continuare.";
constexpr const char kBadExtensionText[] =
    "Il tipo di file (%s) di un file di questo pacchetto non pu\xf2 essere usato in un nome di "
    "file di Windows: l\x92" "installazione non pu\xf2 continuare.";
constexpr const char kNoWindowsText[] =
    "Impossibile trovare la cartella di Windows: l\x92" "installazione non pu\xf2 continuare.";
constexpr const char kTooLongText[] =
    "Il percorso di installazione di questo screen saver supera i 259 caratteri consentiti da "
    "Windows: l\x92" "installazione non pu\xf2 continuare.";

int IsForbidden(unsigned char c) {
    return c < 32 || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows reserves these names for devices, whatever follows a '.', and
// ignores blanks before that '.'.
int IsDeviceName(const char* name) {
    std::size_t n = std::strcspn(name, ".");
    while (n > 0 && name[n - 1] == ' ') --n;
    if (n != 3 && n != 4) return 0;
    char device[5] = {};
    for (std::size_t i = 0; i < n; ++i) device[i] = Upper(name[i]);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* d : kDevices)
        if (std::strcmp(device, d) == 0) return 1;
    if (n == 4 && (std::strncmp(device, "COM", 3) == 0 || std::strncmp(device, "LPT", 3) == 0)) {
        unsigned char digit = static_cast<unsigned char>(device[3]);
        // 1 to 9, and the superscript digits 1, 2 and 3 of code page 1252.
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return 0;
}

// The check lets the user interface run as a decode does; nothing stops it.
void PumpForCheck(void*) { g_platform->PumpMessages(); }

// Decodes a packed entry without writing it anywhere and judges its stream.
// 1 when it reads as an encoder writes: a damaged or forged stream would
// otherwise install as garbage, or inflate a tiny package to gigabytes.
int PackedEntryIsSound(const char* installerPath, const FileRecord& record) {
    OsFile in = g_platform->FileOpenRead(installerPath);
    if (in == kNoFile) return 0;
    int sound = 0;
    if (g_platform->FileSeek(in, record.offset) == static_cast<std::int64_t>(record.offset)) {
        const PumpControl control{PumpForCheck, nullptr, nullptr};
        StreamResult checked = CheckStream(in, static_cast<std::int32_t>(record.unpackedSize),
                                           static_cast<std::int32_t>(record.storedSize), &control);
        sound = StreamFaults(checked, record.storedSize, kStreamSlack) == kStreamSound;
    }
    g_platform->FileClose(in);
    return sound;
}

}  // namespace

int ShowPackageFault(OsWindow owner, PackageFault fault, const char* detail) {
    static const char* const kTexts[] = {kDamagedText, kBadTitleText, kBadExtensionText,
                                         kNoWindowsText, kTooLongText};
    char text[512];  // the longest text with a 259-character detail
    FormatText(text, sizeof text, kTexts[fault], detail);
    g_platform->MessageBox(owner, text, kErrorCaption, kMbOk | kMbIconError);
    return 0;
}

int IsValidTitle(const char* title) {
    std::size_t length = std::strlen(title);
    if (length == 0 || length + 4 >= static_cast<std::size_t>(kPathSize)) return 0;
    int blanksOnly = 1;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsForbidden(static_cast<unsigned char>(title[i]))) return 0;
        if (title[i] != ' ') blanksOnly = 0;
    }
    // A final '.' or blank is dropped by Windows, so the folder would not be
    // the one the installer names (this also refuses "." and "..").
    if (blanksOnly || title[length - 1] == '.' || title[length - 1] == ' ') return 0;
    return !IsDeviceName(title);
}

int IsValidExtension(const char* field) {
    for (std::uint32_t i = 0; i < kExtensionSize && field[i] != '\0'; ++i)
        if (IsForbidden(static_cast<unsigned char>(field[i]))) return 0;
    return 1;
}

int PackageCheck(OsWindow owner, const char* installerPath, const char* title) {
    char fault[128];
    if (installerPath[0] == '\0' || !ValidatePayload(installerPath, fault, sizeof fault))
        return ShowPackageFault(owner, kFaultDamaged);
    if (!IsValidTitle(title)) return ShowPackageFault(owner, kFaultTitle, title);
    char windowsFolder[kPathSize];
    if (!GetWindowsFolder(windowsFolder)) return ShowPackageFault(owner, kFaultNoWindows);

    char baseName[kPathSize];
    FormatText(baseName, sizeof baseName, "%s.scr", title);  // fits: IsValidTitle
    char dataFolder[kPathSize];
    char logPath[kPathSize];
    int ownFrom = 0;
    if (!FormDataFolder(title, dataFolder, &ownFrom) ||
        !FormatText(logPath, sizeof logPath, "%s%s", dataFolder, kInstallLogName))
        return ShowPackageFault(owner, kFaultTooLong);

    OsFile payload = OpenPayload(installerPath);
    std::uint16_t licenseLength = 0;
    std::uint16_t numberingBase = 0;
    if (payload == kNoFile || !ReadCatalogueHead(payload, &licenseLength, &numberingBase)) {
        if (payload != kNoFile) g_platform->FileClose(payload);
        return ShowPackageFault(owner, kFaultDamaged);
    }
    int result = 1;
    FileRecord record;
    for (std::uint32_t index = 0; result && ReadRecord(payload, &record) && record.storedSize != 0;
         ++index) {
        char target[kPathSize];
        if (index >= 3 && !IsValidExtension(record.extension)) {
            char extension[kExtensionSize + 1] = {};
            std::memcpy(extension, record.extension, kExtensionSize);
            StripTrailingBlanks(extension);
            result = ShowPackageFault(owner, kFaultExtension, extension);
        } else if (!FormTargetPath(target, index, record, numberingBase, windowsFolder, dataFolder,
                                   baseName)) {
            result = ShowPackageFault(owner, kFaultTooLong);
        } else if (record.unpackedSize != 0 && !PackedEntryIsSound(installerPath, record)) {
            result = ShowPackageFault(owner, kFaultDamaged);
        }
    }
    g_platform->FileClose(payload);
    return result;
}
