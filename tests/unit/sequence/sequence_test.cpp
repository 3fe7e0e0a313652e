// The install sequence's decision chain, from the first timer tick to the
// destruction of the backdrop window.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/extraction.h"
#include "shell/sequence.h"
#include "unit/install/install_test_util.h"

namespace {

constexpr OsWindow kBackdrop = 500;
const char kPage[] =
    "https://support.microsoft.com/windows/get-windows-media-player-81718e0d-cfce-25b1-aee3-94596b658287";
const char kCaption[] = "Aurora Installazione Screen Saver";
const char kCodecCaption[] = "Codecd di Supporto Mancanti";

class SequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = MakePackage("Aurora", {Media(".MP3", 1000)});
        package_.license = "Termini d'uso";
        UsePackage(package_);
        g_showPrompts = 2;
    }
    void TearDown() override { g_showPrompts = 2; }

    // The install dialog runs the real extraction.
    static void RealDialog() {
        g_fake.installDialog = [](OsWindow, const InstallRequest& r) -> std::intptr_t { return StartInstall(r); };
    }
    // The install dialog ends with `result` after setting the globals as
    // `effect` says.
    static void ScriptedDialog(std::intptr_t result, void (*effect)() = nullptr) {
        g_fake.installDialog = [result, effect](OsWindow, const InstallRequest&) {
            std::strcpy(g_dataFolder, kAuroraData);
            if (effect) effect();
            return result;
        };
    }
    // The calls from the end of the install dialog on.
    static std::vector<std::string> CallsAfterDialog() {
        auto at = std::find(g_fake.calls.begin(), g_fake.calls.end(), "RunInstallDialog");
        EXPECT_NE(at, g_fake.calls.end());
        at = std::find(at, g_fake.calls.end(), "SetCursorShape arrow");
        return {at, g_fake.calls.end()};
    }
    static void ExpectEnded() {
        EXPECT_TRUE(g_fake.windowDestroyed);
        EXPECT_EQ(g_fake.calls.back(), "DestroyWindow");
    }

    TestPackage package_;
};

TEST_F(SequenceTest, ASuccessfulInstallWithPromptsConfirmsCompletesCreditsAndStarts) {
    RealDialog();
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_EQ(g_fake.calls[0], "KillTimer 1000");
    EXPECT_EQ(g_fake.calls[1], "SetClassArrowCursor");
    EXPECT_EQ(g_exitCode, 0);

    ASSERT_EQ(g_fake.messageBoxes.size(), 2u);
    const FakeMessageBox& confirm = g_fake.messageBoxes[0];
    EXPECT_EQ(confirm.text, "Questo programma installer\xe0 Aurora Screen Saver e C:\\WINDOWS e lo render\xe0 il "
                            "vostro Screen Saver predefinito.  Questa installazione occuper\xe0 11,523 bytes.");
    EXPECT_EQ(confirm.caption, kCaption);
    EXPECT_EQ(confirm.style, kMbOkCancel | kMbIconInformation);
    EXPECT_EQ(confirm.owner, kBackdrop);
    const FakeMessageBox& done = g_fake.messageBoxes[1];
    EXPECT_EQ(done.text, "Installazione Completa!");
    EXPECT_EQ(done.caption, kCaption);
    EXPECT_EQ(done.style, kMbOk | kMbIconExclamation);
    EXPECT_EQ(done.owner, kBackdrop);

    EXPECT_EQ(g_fake.licenseTexts, std::vector<std::string>{"Termini d'uso"});
    std::vector<std::string> tail = {"SetCursorShape arrow", "MessageBox Aurora Installazione Screen Saver",
                                     "RunCreditsDialog", "GetWindowsDirectory",
                                     "GetShortPathName C:\\WINDOWS\\Aurora.scr",
                                     "WinExec C:\\WINDOWS\\~SAurora.scr 5", "DestroyWindow"};
    EXPECT_EQ(CallsAfterDialog(), tail);
    EXPECT_STREQ(g_baseName, "C:\\WINDOWS\\Aurora.scr");
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), package_.entries[0].data);
    // The packed streams were checked on a thread started before the first
    // question; the hourglass is up while the install waits for that check
    // and while the dialog runs.
    auto started = std::find(g_fake.calls.begin(), g_fake.calls.end(), "StartThread");
    auto dialog = std::find(g_fake.calls.begin(), g_fake.calls.end(), "RunInstallDialog");
    EXPECT_LT(started, std::find(g_fake.calls.begin(), g_fake.calls.end(), "MessageBox Aurora Installazione Screen Saver"));
    EXPECT_EQ(std::vector<std::string>(dialog - 2, dialog), (std::vector<std::string>{"SetCursorShape wait", "WaitThread"}));
}

TEST_F(SequenceTest, EachStopEndsWithNothingFurtherShown) {
    ScriptedDialog(1);
    // Overwrite answered No.
    g_fake.WriteFile("C:\\WINDOWS\\Aurora.SCR", "old");
    g_fake.answers = {kIdNo};
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_TRUE(g_fake.CallsStartingWith("RunLicenseDialog").empty());

    // Low space answered Cancel.
    UsePackage(package_);
    ScriptedDialog(1);
    g_fake.freeBytes = 0;
    g_fake.answers = {kIdCancel};
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_EQ(g_fake.messageBoxes[0].caption, "Disco Pieno");

    // Confirmation answered Cancel.
    UsePackage(package_);
    ScriptedDialog(1);
    g_fake.answers = {kIdCancel};
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_TRUE(g_fake.CallsStartingWith("RunLicenseDialog").empty());
    EXPECT_TRUE(g_fake.CallsStartingWith("RunInstallDialog").empty());

    // License declined.
    UsePackage(package_);
    ScriptedDialog(1);
    g_fake.licenseResult = 2;
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_TRUE(g_fake.CallsStartingWith("RunInstallDialog").empty());
    EXPECT_EQ(g_exitCode, 0);
}

TEST_F(SequenceTest, DialogResultTwoEndsSilentlyWithAFailedExitCode) {
    ScriptedDialog(kInstallDenied);
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_EQ(CallsAfterDialog(), (std::vector<std::string>{"SetCursorShape arrow", "DestroyWindow"}));
    EXPECT_NE(g_exitCode, 0);
}

TEST_F(SequenceTest, ACancelStartsOnlyTheSilentUninstaller) {
    ScriptedDialog(kInstallDone, [] { g_cancel = 1; });
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.shellOpens.size(), 1u);
    EXPECT_EQ(g_fake.shellOpens[0].file, std::string(kAuroraData) + "UNINSTAL.EXE");
    EXPECT_EQ(g_fake.shellOpens[0].parameters, "/s");
    EXPECT_EQ(g_fake.shellOpens[0].show, kSwShowNormal);
    EXPECT_EQ(g_fake.messageBoxes.size(), 1u);  // the confirmation only
    EXPECT_EQ(g_fake.creditsShown, 0);
    EXPECT_TRUE(g_fake.winExecs.empty());
    EXPECT_EQ(g_exitCode, 0);
}

TEST_F(SequenceTest, ACancelDuringTheRealInstallRollsBack) {
    RealDialog();
    g_fake.answers = {kIdOk, kIdYes};  // confirmation, then the cancel question
    g_fake.onPump = [](int n) {
        if (n == 1) CancelQuestion();
    };
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.shellOpens.size(), 1u);
    EXPECT_EQ(g_fake.shellOpens[0].parameters, "/s");
    EXPECT_EQ(g_fake.ReadFile(g_fake.shellOpens[0].file), package_.entries[2].data);
    EXPECT_EQ(CountBoxes("Installazione Completa!"), 0);
    EXPECT_EQ(CountBoxes(kCaption), 1);
}

TEST_F(SequenceTest, MissingTypesOfferTheDownloadPageAndNeverStartTheScreenSaver) {
    const std::string codec = std::string("I seguenti tipi di file non sono supportati da Windows Media Player:\r\n\r\n") +
                              ".OGG\r\n.MP3\r\n" +
                              "\r\nQuesti tipi di file devono essere correttamente supportati per essere lanciati.  "
                              "Cliccate su OK per una versione recente di windows media player prelevandola da " +
                              kPage + ".  Se volete scaricarla voi in seguito e prosegure, cliccate su Annulla.";
    auto missing = [] { std::strcpy(g_missingTypes, ".OGG\r\n.MP3\r\n"); };

    // OK: the page opens maximised.
    ScriptedDialog(kInstallDone, missing);
    g_fake.answers = {kIdOk, kIdOk};
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.messageBoxes.size(), 2u);
    EXPECT_EQ(g_fake.messageBoxes[1].text, codec);
    EXPECT_EQ(g_fake.messageBoxes[1].caption, kCodecCaption);
    EXPECT_EQ(g_fake.messageBoxes[1].style, kMbOkCancel);
    EXPECT_EQ(g_fake.messageBoxes[1].owner, kBackdrop);
    ASSERT_EQ(g_fake.shellOpens.size(), 1u);
    EXPECT_EQ(g_fake.shellOpens[0].file, kPage);
    EXPECT_EQ(g_fake.shellOpens[0].parameters, "");
    EXPECT_EQ(g_fake.shellOpens[0].show, kSwShowMaximized);
    EXPECT_EQ(g_fake.creditsShown, 1);
    EXPECT_TRUE(g_fake.winExecs.empty());
    EXPECT_EQ(CountBoxes("Installazione Completa!"), 0);

    // Cancel: no page, still the credits.
    UsePackage(package_);
    ScriptedDialog(kInstallDone, missing);
    g_fake.answers = {kIdOk, kIdCancel};
    InstallSequence(kBackdrop);
    EXPECT_TRUE(g_fake.shellOpens.empty());
    EXPECT_EQ(g_fake.creditsShown, 1);
    EXPECT_TRUE(g_fake.winExecs.empty());

    // The page does not open: the connection failure.
    UsePackage(package_);
    ScriptedDialog(kInstallDone, missing);
    g_fake.shellOpenResult = 0;
    InstallSequence(kBackdrop);
    ASSERT_EQ(g_fake.messageBoxes.size(), 3u);
    EXPECT_EQ(g_fake.messageBoxes[2].text, "Impossibile connettersi al sito.");
    EXPECT_EQ(g_fake.messageBoxes[2].caption, kPage);
    EXPECT_EQ(g_fake.messageBoxes[2].style, kMbOk | kMbIconError);
    EXPECT_EQ(g_fake.messageBoxes[2].owner, kBackdrop);
    EXPECT_EQ(g_fake.creditsShown, 1);
    EXPECT_TRUE(g_fake.winExecs.empty());
}

TEST_F(SequenceTest, AFullMissingTypesListIsQuotedWhole) {
    auto full = [] {
        for (int i = 0; i < 41; ++i) {  // 41 entries of 6 bytes and one of 9: 255 of 255
            char type[16];
            std::snprintf(type, sizeof type, ".X%02d", i);
            std::strcat(g_missingTypes, type);
            std::strcat(g_missingTypes, "\r\n");
        }
        std::strcat(g_missingTypes, ".ZZZZZZ\r\n");
    };
    ScriptedDialog(kInstallDone, full);
    InstallSequence(kBackdrop);
    const std::string& text = g_fake.messageBoxes.at(1).text;
    EXPECT_NE(text.find(std::string(":\r\n\r\n") + g_missingTypes + "\r\nQuesti"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 20), "cliccate su Annulla.");
}

TEST_F(SequenceTest, WithoutPromptsOnlyTheLicenseAndTheCodecMessageAreShown) {
    g_showPrompts = 0;
    RealDialog();
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_TRUE(g_fake.messageBoxes.empty());
    EXPECT_EQ(g_fake.licenseTexts.size(), 1u);
    EXPECT_EQ(g_fake.creditsShown, 0);
    EXPECT_TRUE(g_fake.winExecs.empty());
    EXPECT_EQ(CallsAfterDialog(), (std::vector<std::string>{"SetCursorShape arrow", "DestroyWindow"}));
    EXPECT_TRUE(g_fake.Exists(std::string(kAuroraData) + "FILE0001.MP3"));

    UsePackage(package_);
    g_showPrompts = 1;
    ScriptedDialog(kInstallDone, [] { std::strcpy(g_missingTypes, ".OGG\r\n"); });
    g_fake.answers = {kIdCancel};
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_EQ(g_fake.messageBoxes[0].caption, kCodecCaption);
    EXPECT_EQ(g_fake.creditsShown, 0);
}

TEST_F(SequenceTest, TrailingBlanksLeaveTheTitleBeforeItNamesAnything) {
    package_.title = "Aurora   ";
    UsePackage(package_);
    ScriptedDialog(kInstallDone, [] {
        EXPECT_STREQ(g_title, "Aurora");
        EXPECT_STREQ(g_baseName, "Aurora.scr");
    });
    g_fake.shortPathFails = true;
    InstallSequence(kBackdrop);
    EXPECT_EQ(g_fake.messageBoxes.at(0).caption, kCaption);
    EXPECT_NE(g_fake.messageBoxes[0].text.find("installer\xe0 Aurora Screen Saver e"), std::string::npos);
    // Without a short form the screen saver starts by its long path, quoted.
    EXPECT_EQ(g_fake.winExecs, std::vector<std::string>{"\"C:\\WINDOWS\\Aurora.scr\""});
}

TEST_F(SequenceTest, TheConfirmationUpperCasesTheFolderWhileTheStartUsesItAsReported) {
    g_fake.windowsFolder = "c:\\Windows\\";
    g_fake.WriteFile("c:\\Windows\\Aurora.scr", "saver");
    ScriptedDialog(kInstallDone);
    InstallSequence(kBackdrop);
    EXPECT_NE(g_fake.messageBoxes.at(0).text.find(" e C:\\WINDOWS\\ e lo"), std::string::npos);
    EXPECT_EQ(g_fake.winExecs, std::vector<std::string>{"c:\\Windows\\~SAurora.scr"});
}

TEST_F(SequenceTest, AFailedInstallIsRolledBackOnlyWhenItsUninstallerIsWhole) {
    RealDialog();
    g_installDialog = 77;
    g_fake.failWhen = [](const std::string& op, std::size_t) {
        return op == "FileCreate" && g_fake.calls.back().find("FILE0001.MP3") != std::string::npos;
    };
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_NE(g_exitCode, 0);
    ASSERT_EQ(g_fake.shellOpens.size(), 1u);
    EXPECT_EQ(g_fake.shellOpens[0].parameters, "/s");
    EXPECT_EQ(CountBoxes("Installazione Completa!"), 0);
    EXPECT_EQ(CountBoxes("Errore!!!"), 1);
    EXPECT_EQ(g_fake.creditsShown, 0);
    EXPECT_TRUE(g_fake.winExecs.empty());

    UsePackage(package_);
    RealDialog();
    g_fake.diskBytesLeft = 100;
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_NE(g_exitCode, 0);
    EXPECT_TRUE(g_fake.shellOpens.empty());
    EXPECT_EQ(CountBoxes("Errore!!!"), 1);
    EXPECT_EQ(g_fake.creditsShown, 0);
}

TEST_F(SequenceTest, AnInstallDialogThatCannotBeCreatedIsNoSuccess) {
    g_fake.installDialog = nullptr;  // the fake then answers -1
    InstallSequence(kBackdrop);
    ExpectEnded();
    EXPECT_NE(g_exitCode, 0);
    EXPECT_EQ(CountBoxes("Installazione Completa!"), 0);
    EXPECT_EQ(CountBoxes("Errore!!!"), 1);
    EXPECT_EQ(g_fake.creditsShown, 0);
}

TEST_F(SequenceTest, ARefusedPackageAsksNothingAndWritesNothing) {
    package_.title = "..\\..\\evil";
    UsePackage(package_);
    g_fake.WriteFile("C:\\WINDOWS\\Aurora.SCR", "old");  // no overwrite question either
    RealDialog();
    InstallSequence(kBackdrop);
    ExpectEnded();
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_EQ(g_fake.messageBoxes[0].caption, "Errore!!!");
    EXPECT_EQ(g_fake.messageBoxes[0].owner, kBackdrop);
    EXPECT_NE(g_exitCode, 0);
    EXPECT_TRUE(g_fake.CallsStartingWith("RunInstallDialog").empty());
    EXPECT_TRUE(g_fake.CallsStartingWith("FileCreate").empty());
}

TEST_F(SequenceTest, LongTitleAndFolderFormWholeTexts) {
    // As long as the data folder lets them be: 259 characters for
    // C:\ProgramData\Tarnwell\Glimmerwick\<title>\<title>.dat, and for the
    // Windows folder with <title>.scr.
    std::string title(100, 'T');
    std::string folder = "C:\\" + std::string(150, 'W');
    package_.title = title;
    UsePackage(package_);
    g_fake.windowsFolder = folder;
    ScriptedDialog(kInstallDone);
    g_fake.answers = {kIdCancel};
    InstallSequence(kBackdrop);
    const FakeMessageBox& confirm = g_fake.messageBoxes.at(0);
    EXPECT_EQ(confirm.caption, title + " Installazione Screen Saver");
    EXPECT_NE(confirm.text.find(title + " Screen Saver e " + folder + " e lo"), std::string::npos);
    EXPECT_EQ(confirm.text.substr(confirm.text.size() - 13), "11,523 bytes.");
}

}  // namespace
