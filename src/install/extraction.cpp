#include "install/extraction.h"

#include <cstring>

#include "install/media.h"
#include "payload/naming.h"
#include "install/package_check.h"
#include "install/paths.h"
#include "install/text.h"
#include "payload/decoder.h"
#include "install/install_state.h"

namespace {

constexpr const char kAccessDeniedText[] =
    "Non avete l\x92" "autorizzazione per poter modificare la configurazione di sistema come "
    "richiesto. Reinstallate questo programma entrando sul computer come Amministratori locali.";
constexpr const char kCancelText[] = "Siete sicuri di voler annullare l\x92" "installazione?";
constexpr const char kCancelCaption[] = "Annullare l\x92" "Installazione?";
constexpr const char kPublisher[] = "Fatto con Tarnwell's Glimmerwick";

// Faults met while installing: the file concerned, then what happens next.
constexpr const char kWriteFaultText[] =
    "Impossibile scrivere il file:\r\n\r\n%s\r\n\r\nIl disco potrebbe essere pieno o protetto "
    "da scrittura. %s";
constexpr const char kReadFaultText[] = "Impossibile leggere il file:\r\n\r\n%s\r\n\r\n%s";
constexpr const char kOwnFileUnknown[] = "(programma di installazione)";
constexpr const char kRollbackEnding[] =
    "L\x92" "installazione \xe8 stata interrotta e verr\xe0 annullata.";
constexpr const char kStopEnding[] = "L\x92" "installazione \xe8 stata interrotta.";
constexpr const char kLinkText[] =
    "Il percorso %s rimanda a un\x92" "altra posizione: per sicurezza l\x92" "installazione non pu\xf2 "
    "continuare.";
constexpr const char kNotFolderText[] =
    "Impossibile creare la cartella %s: l\x92" "installazione non pu\xf2 continuare.";

// Tells the user which file stopped the install and what happens next.
// Returns 0, the go/stop result of a stop.
int ShowFault(const char* format, const char* path) {
    char text[768];  // the longest format with a 259-character path, whole
    FormatText(text, sizeof text, format, path, g_uninstallerReady ? kRollbackEnding : kStopEnding);
    g_platform->MessageBox(g_installDialog, text, kErrorCaption, kMbOk | kMbIconError);
    return 0;
}

// The text of the `count` leading bytes of the data folder: one level.
void CopyLevel(char* level, std::size_t count) {
    std::memcpy(level, g_dataFolder, count);
    level[count] = '\0';
}

// Checks every level of the data folder that this installer creates (from
// `ownFrom` on) and INSTALL.LOG before anything is written: a level that is a
// link to another place, or that exists but is not a folder, stops the
// install, and so does a log that is a link.
int CheckDataFolder(int ownFrom, const char* logPath) {
    char level[kPathSize];
    std::size_t length = std::strlen(g_dataFolder);
    for (std::size_t p = static_cast<std::size_t>(ownFrom) + 1; p < length; ++p) {
        if (g_dataFolder[p] != '\\') continue;
        CopyLevel(level, p);
        FolderKind kind = g_platform->QueryFolder(level);
        if (kind == FolderKind::Link) return ShowFault(kLinkText, level);
        if (kind == FolderKind::NotFolder) return ShowFault(kNotFolderText, level);
    }
    if (g_platform->QueryFolder(logPath) == FolderKind::Link) return ShowFault(kLinkText, logPath);
    return 1;
}

// Creates the levels of the data folder from `ownFrom` on. Results are not
// looked at: an existing folder is fine, and a missing one shows when the log
// cannot be opened.
void CreateDataFolder(int ownFrom) {
    char level[kPathSize];
    std::size_t length = std::strlen(g_dataFolder);
    for (std::size_t p = static_cast<std::size_t>(ownFrom) + 1; p < length; ++p) {
        if (g_dataFolder[p] != '\\') continue;
        CopyLevel(level, p);
        g_platform->CreateFolder(level);
    }
}

void SetString(OsKey key, const char* name, std::uint32_t type, const char* text) {
    g_platform->RegSetValue(key, name, type, text, static_cast<std::uint32_t>(std::strlen(text) + 1));
}

void SetDword(OsKey key, const char* name, std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 24)};
    g_platform->RegSetValue(key, name, kRegDword, bytes, 4);
}

// The uninstall entry, written when the uninstaller's record comes up. A key
// that cannot be opened gets no values; single writes are not checked.
void WriteUninstallEntry(const char* keyPath, const char* stem, const char* uninstallerPath,
                         const char* screenSaverPath) {
    OsKey key = 0;
    if (g_platform->RegCreateKey(keyPath, &key) != kErrorSuccess) return;
    char text[kCaptionSize];
    FormatText(text, sizeof text, "%s Screen Saver", stem);
    SetString(key, "DisplayName", kRegSz, text);
    // Quoted when it holds a blank, so that Windows cannot take a leading part
    // of the path for the program to run.
    FormatText(text, sizeof text, std::strchr(uninstallerPath, ' ') ? "\"%s\"" : "%s", uninstallerPath);
    SetString(key, "UninstallString", kRegExpandSz, text);
    FormatText(text, sizeof text, "%s", uninstallerPath);
    char* last = std::strrchr(text, '\\');
    if (last && last != std::strchr(text, '\\')) *last = '\0';
    SetString(key, "InstallLocation", kRegExpandSz, text);
    FormatText(text, sizeof text, "%s,-0", screenSaverPath);
    SetString(key, "DisplayIcon", kRegSz, text);
    SetString(key, "Publisher", kRegSz, kPublisher);
    SetDword(key, "VersionMajor", 7);
    SetDword(key, "VersionMinor", 0);
    g_platform->RegCloseKey(key);
}

// 1 when the line was written whole, or there is no log to write it to.
int WriteLogLine(OsFile log, const char* path) {
    if (log == kNoFile) return 1;
    char line[kPathSize + 2];
    FormatText(line, sizeof line, "%s\r\n", path);
    std::uint32_t size = static_cast<std::uint32_t>(std::strlen(line));
    return g_platform->FileWrite(log, line, size) == static_cast<std::int32_t>(size);
}

// What one installation writes where, formed before anything is written.
struct Plan {
    const char* baseName;             // the screen saver's file name, "<title>.scr"
    char self[kPathSize];             // the installer's own file
    char stem[kPathSize];             // the base name without ".scr"
    char windowsFolder[kPathSize];
    char screenSaverPath[kPathSize];  // record 0's target
    char logPath[kPathSize];          // INSTALL.LOG in the data folder
    char keyPath[kKeyPathSize];       // the uninstall key
    int ownFrom;                      // first data folder level this installer creates
};

// Forms the plan and the data folder (g_dataFolder). 0 after telling the
// user why the package cannot be installed.
int FormPlan(const char* baseName, Plan* plan) {
    GetOwnPath(plan->self);
    plan->baseName = baseName;
    FormStem(baseName, plan->stem);
    if (CheckTitle(plan->stem) != kTitleSound) return ShowPackageFault(g_installDialog, kFaultTitle, plan->stem);
    if (!GetWindowsFolder(plan->windowsFolder))
        return ShowPackageFault(g_installDialog, kFaultNoWindows);
    FileRecord none{};
    if (!FormTargetPath(plan->screenSaverPath, 0, none, 0, plan->windowsFolder, "", baseName) ||
        !FormDataFolder(plan->stem, g_dataFolder, &plan->ownFrom) ||
        !FormatText(plan->logPath, sizeof plan->logPath, "%s%s", g_dataFolder, kInstallLogName) ||
        !FormUninstallKeyPath(plan->stem, plan->keyPath))
        return ShowPackageFault(g_installDialog, kFaultTooLong);
    return 1;
}

// Writes one record's entry to `target`: a packed entry through the decoder
// (the payload is closed meanwhile and opened again), a stored one by copy.
int WriteEntry(const Plan& plan, DecoderState* decoder, OsFile* payload, const FileRecord& record,
               const char* target) {
    if (record.unpackedSize == 0)
        return CopyStoredEntry(*payload, record.offset, record.storedSize, target, &kInstallPump);
    g_platform->FileClose(*payload);
    StreamResult decoded;
    int result = DecodeEntry(decoder, plan.self, record.offset, record.unpackedSize, record.storedSize, target,
                             &kInstallPump, &decoded);
    *payload = OpenPayload(plan.self);
    if (result == kDecodeWriteFailed || result == kDecodeTargetUnwritable) return kEntryWriteFailed;
    if (result != kDecodeDone) return kEntryReadFailed;
    // The package's streams were found sound before the install began, so a
    // stream that now reads otherwise met a fault of the installer file. A
    // decode cut short by a Cancel is judged only on that.
    int faults = StreamFaults(decoded, record.storedSize, kStreamSlack);
    if (g_cancel && !g_uninstaller) faults &= kStreamInputCut;
    return faults == kStreamSound ? kEntryWritten : kEntryReadFailed;
}

// The record walk over a catalogue opened before record 0: every entry to its
// place, its path logged, the uninstall entry with the uninstaller, each media
// file tested. 1 when it ran to its end (or to a Cancel's end); 0 after
// telling the user of a fault. Closes the catalogue.
int WalkRecords(const Plan& plan, CatalogueCursor* cursor, OsFile log) {
    // One decoder state for the whole walk, so that the packed entries share
    // the text window's last positions in record order, as the coding has it.
    DecoderState decoder{};
    int ok = 1;
    while (ok && NextRecord(cursor)) {
        const FileRecord& record = cursor->record;
        RecordRole role = RoleOf(cursor->index);
        g_uninstaller = role == kRoleUninstaller ? 1 : 0;
        char target[kPathSize];
        if (role == kRoleMedia && CheckExtension(record.extension) != kExtensionSound) {
            char extension[kExtensionSize + 1] = {};
            std::memcpy(extension, record.extension, kExtensionSize);
            ok = ShowPackageFault(g_installDialog, kFaultExtension, extension);
            break;
        }
        if (!FormTargetPath(target, cursor->index, record, cursor->numberingBase, plan.windowsFolder,
                            g_dataFolder, plan.baseName)) {
            ok = ShowPackageFault(g_installDialog, kFaultTooLong);
            break;
        }
        if (role == kRoleUninstaller) WriteUninstallEntry(plan.keyPath, plan.stem, target, plan.screenSaverPath);

        std::int64_t next = g_platform->FileTell(cursor->file);
        int written = WriteEntry(plan, &decoder, &cursor->file, record, target);
        // Every target is logged, also one cut short, so that the uninstaller
        // finds it.
        int logged = WriteLogLine(log, target);
        if (written == kEntryWriteFailed) {
            ok = ShowFault(kWriteFaultText, target);
        } else if (written == kEntryReadFailed) {
            ok = ShowFault(kReadFaultText, plan.self);
        } else if (!logged) {
            ok = ShowFault(kWriteFaultText, plan.logPath);
        } else {
            if (role == kRoleUninstaller) g_uninstallerReady = 1;
            if (cursor->file == kNoFile || next < 0 || g_platform->FileSeek(cursor->file, next) != next)
                ok = ShowFault(kReadFaultText, plan.self);
        }
        if (ok && !g_cancel && role == kRoleMedia) MediaCheck(target);
    }
    // The catalogue was found whole before the install began: a walk that
    // ends other than at the terminator met a fault of the installer file.
    if (ok && !cursor->atTerminator) ok = ShowFault(kReadFaultText, plan.self);
    CloseCatalogue(cursor);
    return ok;
}

}  // namespace

void FormInstallCaption(const char* title, char* out) {
    FormatText(out, kCaptionSize, "%s Installazione Screen Saver", title);
}

void FormScreenSaverLabel(const char* title, char* out) {
    FormatText(out, kCaptionSize, "%s Screen Saver", title);
}

void PumpInstallDialog(void*) { g_platform->PumpMessages(g_installDialog); }

int CancelStopsFile(void*) { return g_cancel && !g_uninstaller; }

const PumpControl kInstallPump = {PumpInstallDialog, CancelStopsFile, nullptr};

int CopyStoredEntry(OsFile payload, std::uint32_t offset, std::uint32_t storedSize, const char* target,
                    const PumpControl* control) {
    unsigned char buffer[kCopyBlockSize];
    if (g_platform->FileSeek(payload, offset) != static_cast<std::int64_t>(offset)) return kEntryReadFailed;
    OsFile out = g_platform->FileCreate(target);
    if (out == kNoFile) return kEntryWriteFailed;
    int result = kEntryWritten;
    // Whole blocks are read, also past the entry's end (the bytes beyond it
    // are not written), and the reading goes on while the count has not
    // passed the stored size: an entry of a whole number of blocks is
    // followed by one more read, whose count can reach the next pump mark.
    // In 64 bits, so that a count near 4 GiB cannot wrap.
    std::uint64_t readCount = 0;
    std::uint64_t pumpMark = 0;
    std::int32_t got = 0;
    do {
        got = g_platform->FileRead(payload, buffer, kCopyBlockSize);
        // The installer file ending (or failing) before the entry does is a
        // fault; only the read after its last byte may find nothing.
        if (got <= 0) {
            if (readCount < storedSize) result = kEntryReadFailed;
            break;
        }
        // Only what is left of the entry is written.
        std::uint64_t left = readCount < storedSize ? storedSize - readCount : 0;
        std::uint32_t take = static_cast<std::uint64_t>(got) < left ? static_cast<std::uint32_t>(got)
                                                                    : static_cast<std::uint32_t>(left);
        readCount += static_cast<std::uint32_t>(got);
        if (take != 0 && g_platform->FileWrite(out, buffer, take) != static_cast<std::int32_t>(take)) {
            result = kEntryWriteFailed;
            break;
        }
        if (readCount > pumpMark) {
            if (PumpAndAskStop(control)) break;
            pumpMark += kPumpStep;
        }
    } while (got > 0 && readCount <= storedSize);
    g_platform->FileClose(out);
    return result;
}

void CancelQuestion() {
    static int asking;
    if (g_cancel || asking) return;
    asking = 1;
    int answer = g_platform->MessageBox(g_installDialog, kCancelText, kCancelCaption, kMbYesNo);
    asking = 0;
    if (answer == kIdYes) g_cancel = 1;
}

int RunExtraction(const InstallRequest& request) {
    g_uninstallerReady = 0;
    Plan plan;
    if (!FormPlan(request.baseName, &plan) || !CheckDataFolder(plan.ownFrom, plan.logPath)) return kInstallFailed;

    // The package was found whole before the install began; an installer
    // file that cannot be read now stops the install before anything is
    // written.
    CatalogueCursor cursor;
    if (!plan.self[0] || !OpenCatalogue(plan.self, &cursor)) {
        ShowFault(kReadFaultText, plan.self[0] ? plan.self : kOwnFileUnknown);
        return kInstallFailed;
    }

    // Access test: the key is created now and gets its values with the
    // uninstaller.
    OsKey key = 0;
    std::int32_t access = g_platform->RegCreateKey(plan.keyPath, &key);
    if (access == kErrorAccessDenied) {
        CloseCatalogue(&cursor);
        g_platform->MessageBox(0, kAccessDeniedText, kErrorCaption, kMbOk);
        return kInstallDenied;
    }
    if (access == kErrorSuccess) g_platform->RegCloseKey(key);

    CreateDataFolder(plan.ownFrom);
    // A log that cannot be opened leaves the install without one; the files
    // themselves are what the install must not lose.
    OsFile log = g_platform->FileOpenAppend(plan.logPath);
    int ok = WalkRecords(plan, &cursor, log);
    if (log != kNoFile) g_platform->FileClose(log);
    if (!ok) return kInstallFailed;
    Activate(plan.screenSaverPath);
    return kInstallDone;
}

int StartInstall(const InstallRequest& request) {
    static int running;
    if (running) return 0;
    running = 1;
    int result = RunExtraction(request);
    running = 0;
    return result;
}
