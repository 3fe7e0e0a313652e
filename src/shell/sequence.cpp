// The install sequence: a fixed decision chain over the answers of message
// boxes and dialogs, the results of the checks and the shared globals. It
// reaches the user and the system only through g_platform.
#include "shell/sequence.h"

#include <cstring>

#include "dialogs/license.h"
#include "install/checks.h"
#include "install/extraction.h"
#include "payload/naming.h"
#include "install/package_check.h"
#include "install/paths.h"
#include "install/text.h"
#include "shell/globals.h"

namespace {

// The media player's official download page: the target of the download
// request, part of the codec text and the caption of the connection failure.
constexpr const char kMediaPlayerPage[] =
    "https://support.microsoft.com/windows/get-windows-media-player-81718e0d-cfce-25b1-aee3-"
    "94596b658287";

// Title, Windows folder text, grouped byte total.
constexpr const char kConfirmationText[] =
    "Questo programma installer\xe0 %s Screen Saver e %s e lo render\xe0 il vostro Screen Saver "
    "predefinito.  Questa installazione occuper\xe0 %s bytes.";

constexpr const char kCodecHead[] =
    "I seguenti tipi di file non sono supportati da Windows Media Player:\r\n\r\n";
constexpr const char kCodecTail[] =
    "\r\nQuesti tipi di file devono essere correttamente supportati per essere lanciati.  "
    "Cliccate su OK per una versione recente di windows media player prelevandola da %s.  Se "
    "volete scaricarla voi in seguito e prosegure, cliccate su Annulla.";
constexpr const char kCodecCaption[] = "Codecd di Supporto Mancanti";

constexpr const char kConnectionFailedText[] = "Impossibile connettersi al sito.";
constexpr const char kCompletionText[] = "Installazione Completa!";
constexpr const char kNoDialogText[] =
    "Impossibile aprire la finestra di installazione: l\x92" "installazione non pu\xf2 continuare.";

// Text sizes for the longest case: a 259-character title and Windows folder,
// a 20-digit byte total, a full missing-types list.
constexpr std::size_t kConfirmationSize = sizeof kConfirmationText + 2 * kPathSize + kGroupedSize;
constexpr std::size_t kCodecSize =
    sizeof kCodecHead + kMissingTypesSize + sizeof kCodecTail + sizeof kMediaPlayerPage;

// The exit code of an install that failed.
constexpr int kExitFailed = 1;

void End(OsWindow backdrop) { g_platform->DestroyWindow(backdrop); }

// The installer file whose packed streams the check thread decodes. It
// outlives the sequence: a run that ends early leaves the thread to the end
// of the process.
char g_checkedPath[kPathSize];

int CheckStreams(void* path) { return PackedStreamsSound(static_cast<const char*>(path)); }

void UpperCase(char* text) {
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

void StartUninstaller() {
    char uninstaller[kPathSize] = {};
    if (AppendPath(uninstaller, g_dataFolder) && AppendPath(uninstaller, "UNINSTAL.EXE"))
        g_platform->ShellOpen(uninstaller, "/s", kSwShowNormal);
}

// The screen-saver path becomes the base name, and the screen saver is
// started by its short path, or by its long path, quoted, when the system
// has no short form for it.
void StartScreenSaver() {
    char folder[kPathSize];
    char path[kPathSize] = {};
    if (GetWindowsFolder(folder) && AppendPath(path, folder) && AddBackslash(path) &&
        AppendPath(path, g_baseName))
        std::memcpy(g_baseName, path, std::strlen(path) + 1);
    char shortPath[kPathSize];
    std::uint32_t n = g_platform->GetShortPathName(g_baseName, shortPath, sizeof shortPath);
    if (n > 0 && n < sizeof shortPath) {
        g_platform->WinExec(shortPath, kSwShow);
        return;
    }
    char quoted[kPathSize + 2];
    FormatText(quoted, sizeof quoted, "\"%s\"", g_baseName);
    g_platform->WinExec(quoted, kSwShow);
}

// The codec message, naming the missing media types, and the offer of the
// download page.
void OfferMediaPlayer(OsWindow backdrop) {
    char text[kCodecSize];
    FormatText(text, sizeof text, kCodecHead);
    AppendText(text, sizeof text, g_missingTypes);
    char tail[sizeof kCodecTail + sizeof kMediaPlayerPage];
    FormatText(tail, sizeof tail, kCodecTail, kMediaPlayerPage);
    AppendText(text, sizeof text, tail);
    if (g_platform->MessageBox(backdrop, text, kCodecCaption, kMbOkCancel) == kIdOk &&
        !g_platform->ShellOpen(kMediaPlayerPage, nullptr, kSwShowMaximized))
        g_platform->MessageBox(backdrop, kConnectionFailedText, kMediaPlayerPage, kMbOk | kMbIconError);
}

}  // namespace

void InstallSequence(OsWindow backdrop) {
    g_platform->KillTimer(backdrop, kStartTimerId);
    g_platform->SetClassArrowCursor(backdrop);

    // A package that cannot be installed safely is refused before any
    // question is asked and before anything is written.
    char self[kPathSize];
    GetOwnPath(self);
    char stripped[kPathSize];
    FormatText(stripped, sizeof stripped, "%s", g_title);
    StripTrailingBlanks(stripped);
    if (!PackageCheck(backdrop, self, stripped)) {
        g_exitCode = kExitFailed;
        return End(backdrop);
    }
    // Decoding every packed stream takes a while for a large package: it
    // runs on a thread of its own while the questions are asked, and the
    // install waits for it only if it has not ended by then.
    FormatText(g_checkedPath, sizeof g_checkedPath, "%s", self);
    OsThread checking = g_platform->StartThread(CheckStreams, g_checkedPath);

    if (!OverwriteCheck(g_showPrompts)) return End(backdrop);
    std::uint64_t byteTotal = 0;
    if (!SpaceCheck(&byteTotal)) return End(backdrop);

    StripTrailingBlanks(g_title);
    char caption[kCaptionSize];
    FormInstallCaption(g_title, caption);
    FormatText(g_baseName, kPathSize, "%s.scr", g_title);

    if (g_showPrompts == 2) {
        char folder[kPathSize];
        if (GetWindowsFolder(folder))
            UpperCase(folder);
        else
            FormatText(folder, sizeof folder, "Windows");
        char grouped[kGroupedSize];
        char text[kConfirmationSize];
        FormatText(text, sizeof text, kConfirmationText, g_title, folder,
                   FormatThousands(byteTotal, grouped));
        if (g_platform->MessageBox(backdrop, text, caption, kMbOkCancel | kMbIconInformation) != kIdOk)
            return End(backdrop);
    }
    if (!ShowLicenseStep(self)) return End(backdrop);

    g_platform->SetCursorShape(1);
    int sound = checking != kNoThread ? g_platform->WaitThread(checking) : PackedStreamsSound(g_checkedPath);
    if (!sound) {
        g_platform->SetCursorShape(0);
        ShowPackageFault(backdrop, kFaultDamaged);
        g_exitCode = kExitFailed;
        return End(backdrop);
    }
    const InstallRequest request = {g_title, g_baseName, g_showPrompts};
    std::intptr_t result = g_platform->RunInstallDialog(backdrop, &request);
    g_platform->SetCursorShape(0);

    if (result == kInstallDenied) {
        g_exitCode = kExitFailed;
        return End(backdrop);
    }
    if (result == kInstallFailed) {
        // Already reported by the dialog; undone when the uninstaller exists.
        g_exitCode = kExitFailed;
        if (g_uninstallerReady) StartUninstaller();
        return End(backdrop);
    }
    if (result != kInstallDone) {
        // The dialog could not be created: nothing was installed.
        g_platform->MessageBox(backdrop, kNoDialogText, kErrorCaption, kMbOk | kMbIconError);
        g_exitCode = kExitFailed;
        return End(backdrop);
    }
    if (g_cancel) {
        StartUninstaller();
        return End(backdrop);
    }
    if (g_missingTypes[0] != '\0') {
        OfferMediaPlayer(backdrop);
        if (g_showPrompts == 2) g_platform->RunCreditsDialog(backdrop);
        return End(backdrop);
    }
    if (g_showPrompts != 2) return End(backdrop);
    g_platform->MessageBox(backdrop, kCompletionText, caption, kMbOk | kMbIconExclamation);
    g_platform->RunCreditsDialog(backdrop);
    StartScreenSaver();
    End(backdrop);
}
