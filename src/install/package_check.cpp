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

// Decodes a packed entry from `in` without writing it anywhere and judges
// its stream. 1 when it reads as an encoder writes: a damaged or forged
// stream would otherwise install as garbage, or inflate a tiny package to
// gigabytes.
int PackedEntryIsSound(DecoderState* decoder, OsFile in, const FileRecord& record) {
    if (g_platform->FileSeek(in, record.offset) != static_cast<std::int64_t>(record.offset)) return 0;
    // Nothing to pump: the check runs on threads of its own.
    StreamResult checked = CheckStream(decoder, in, static_cast<std::int32_t>(record.unpackedSize),
                                       static_cast<std::int32_t>(record.storedSize), nullptr);
    return StreamFaults(checked, record.storedSize, kStreamSlack) == kStreamSound;
}

// Decodes the packed entries that `plan` deals to `worker`, with a decoder
// state of its own on this thread's stack and a handle of its own on the
// file. 1 when each of them is sound.
int ShareIsSound(const char* installerPath, const SharePlan& plan, int worker) {
    CatalogueCursor cursor;
    if (!OpenCatalogue(installerPath, &cursor)) return 0;
    OsFile in = g_platform->FileOpenRead(installerPath);
    if (in == kNoFile) {
        CloseCatalogue(&cursor);
        return 0;
    }
    SharePlan walk = plan;
    DecoderState decoder{};
    int sound = 1;
    while (sound && NextRecord(&cursor)) {
        const FileRecord& record = cursor.record;
        if (record.unpackedSize != 0 && WorkerOf(&walk, cursor.index, record.unpackedSize) == worker)
            sound = PackedEntryIsSound(&decoder, in, record);
    }
    g_platform->FileClose(in);
    CloseCatalogue(&cursor);
    return sound;
}

// The second worker's share, as a thread's work.
struct ShareWork {
    const char* installerPath;
    const SharePlan* plan;
};

int SecondShareIsSound(void* context) {
    const ShareWork* work = static_cast<const ShareWork*>(context);
    return ShareIsSound(work->installerPath, *work->plan, 1);
}

// The worker with less dealt so far; worker 0 on a tie.
int LessLoaded(const SharePlan& plan) { return plan.load[1] < plan.load[0] ? 1 : 0; }

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

void StartSharePlan(SharePlan* plan) { *plan = SharePlan{}; }

void PlanPackedEntry(SharePlan* plan, std::uint32_t index, std::uint32_t unpackedSize) {
    ++plan->packed;
    // Behind every kept entry at least as large: the largest first, and in
    // catalogue order among equals.
    int at = plan->count;
    while (at > 0 && plan->size[at - 1] < unpackedSize) --at;
    if (at == kPlannedEntries) return;
    int last = plan->count < kPlannedEntries ? plan->count : kPlannedEntries - 1;
    for (int i = last; i > at; --i) {
        plan->index[i] = plan->index[i - 1];
        plan->size[i] = plan->size[i - 1];
    }
    plan->index[at] = index;
    plan->size[at] = unpackedSize;
    if (plan->count < kPlannedEntries) ++plan->count;
}

void FinishSharePlan(SharePlan* plan) {
    plan->load[0] = plan->load[1] = 0;
    for (int i = 0; i < plan->count; ++i) {
        int worker = LessLoaded(*plan);
        plan->worker[i] = static_cast<std::uint8_t>(worker);
        plan->load[worker] += plan->size[i];
    }
}

int WorkerOf(SharePlan* walk, std::uint32_t index, std::uint32_t unpackedSize) {
    for (int i = 0; i < walk->count; ++i)
        if (walk->index[i] == index) return walk->worker[i];
    int worker = LessLoaded(*walk);
    walk->load[worker] += unpackedSize;
    return worker;
}

int PackedStreamsSound(const char* installerPath) {
    CatalogueCursor cursor;
    if (!OpenCatalogue(installerPath, &cursor)) return 0;
    SharePlan plan;
    StartSharePlan(&plan);
    while (NextRecord(&cursor))
        if (cursor.record.unpackedSize != 0) PlanPackedEntry(&plan, cursor.index, cursor.record.unpackedSize);
    CloseCatalogue(&cursor);
    FinishSharePlan(&plan);
    if (plan.packed < 2) return ShareIsSound(installerPath, plan, 0);

    // The second share on a thread of its own while this one decodes the
    // first; without that thread, this one decodes both in turn. The plan
    // lives on this stack, so the second thread is always waited for.
    ShareWork second{installerPath, &plan};
    OsThread thread = g_platform->StartThread(SecondShareIsSound, &second);
    int sound = ShareIsSound(installerPath, plan, 0);
    if (thread == kNoThread) return sound && ShareIsSound(installerPath, plan, 1);
    int secondSound = g_platform->WaitThread(thread);
    return sound && secondSound;
}
