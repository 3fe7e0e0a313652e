#include "install/package_check.h"

#include <cstring>

#include "payload/naming.h"
#include "install/paths.h"
#include "install/text.h"
#include "payload/decoder.h"
#include "payload/payload.h"

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

// Decodes a packed entry without writing it anywhere and judges its stream.
// 1 when it reads as an encoder writes: a damaged or forged stream would
// otherwise install as garbage, or inflate a tiny package to gigabytes.
int PackedEntryIsSound(DecoderState* decoder, const char* installerPath, const FileRecord& record) {
    OsFile in = g_platform->FileOpenRead(installerPath);
    if (in == kNoFile) return 0;
    int sound = 0;
    if (g_platform->FileSeek(in, record.offset) == static_cast<std::int64_t>(record.offset)) {
        // Nothing to pump: the check runs on a thread of its own.
        StreamResult checked = CheckStream(decoder, in, static_cast<std::int32_t>(record.unpackedSize),
                                           static_cast<std::int32_t>(record.storedSize), nullptr);
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

int PackageCheck(OsWindow owner, const char* installerPath, const char* title) {
    char fault[128];
    if (installerPath[0] == '\0' || !ValidatePayload(installerPath, fault, sizeof fault))
        return ShowPackageFault(owner, kFaultDamaged);
    if (CheckTitle(title) != kTitleSound) return ShowPackageFault(owner, kFaultTitle, title);
    char windowsFolder[kPathSize];
    if (!GetWindowsFolder(windowsFolder)) return ShowPackageFault(owner, kFaultNoWindows);

    char baseName[kPathSize];
    FormatText(baseName, sizeof baseName, "%s.scr", title);  // fits: CheckTitle
    char dataFolder[kPathSize];
    char logPath[kPathSize];
    int ownFrom = 0;
    if (!FormDataFolder(title, dataFolder, &ownFrom) ||
        !FormatText(logPath, sizeof logPath, "%s%s", dataFolder, kInstallLogName))
        return ShowPackageFault(owner, kFaultTooLong);

    CatalogueCursor cursor;
    if (!OpenCatalogue(installerPath, &cursor)) return ShowPackageFault(owner, kFaultDamaged);
    int result = 1;
    while (result && NextRecord(&cursor)) {
        const FileRecord& record = cursor.record;
        char target[kPathSize];
        if (RoleOf(cursor.index) == kRoleMedia && CheckExtension(record.extension) != kExtensionSound) {
            char extension[kExtensionSize + 1] = {};
            std::memcpy(extension, record.extension, kExtensionSize);
            StripTrailingBlanks(extension);
            result = ShowPackageFault(owner, kFaultExtension, extension);
        } else if (!FormTargetPath(target, cursor.index, record, cursor.numberingBase, windowsFolder,
                                   dataFolder, baseName)) {
            result = ShowPackageFault(owner, kFaultTooLong);
        }
    }
    CloseCatalogue(&cursor);
    return result;
}

int PackedStreamsSound(const char* installerPath) {
    CatalogueCursor cursor;
    if (!OpenCatalogue(installerPath, &cursor)) return 0;
    // The check's own decoder state, on the thread that runs it: the
    // extraction decodes with another.
    DecoderState decoder{};
    int sound = 1;
    while (sound && NextRecord(&cursor))
        if (cursor.record.unpackedSize != 0) sound = PackedEntryIsSound(&decoder, installerPath, cursor.record);
    CloseCatalogue(&cursor);
    return sound;
}
