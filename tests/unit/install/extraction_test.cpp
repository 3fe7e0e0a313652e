// The install dialog's work: every file to its place, the log, the uninstall
// entry, the cancel rules, and the faults that stop an install.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "install/extraction.h"
#include "unit/install/install_test_util.h"

namespace {

const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Aurora";
const char kCancelCaption[] = "Annullare l\x92Installazione?";

std::string Data(const std::string& name) { return kAuroraData + name; }

// What must not happen when nothing may be written.
void ExpectNothingWritten() {
    for (const std::string& call : g_fake.calls) {
        EXPECT_NE(call.rfind("FileCreate", 0), 0u) << call;
        EXPECT_NE(call.rfind("CreateFolder", 0), 0u) << call;
        EXPECT_NE(call.rfind("FileOpenAppend", 0), 0u) << call;
        EXPECT_NE(call.rfind("RegSetValue", 0), 0u) << call;
        EXPECT_NE(call.rfind("WriteProfileString", 0), 0u) << call;
    }
    EXPECT_EQ(g_fake.openHandles, 0);
}

TEST(Extraction, PutsEveryRecordInItsPlaceUnderItsName) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 4000), Media(".AVI", 3000, '_', true),
                                           Media("", 100, 0), Media(".ABCDEFGHIJKLMN", 10)});
    p.base = 14;
    p.entries[1].pack = true;
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data);
    EXPECT_EQ(g_fake.ReadFile(Data("Aurora.dat")), p.entries[1].data);
    EXPECT_EQ(g_fake.ReadFile(Data("UNINSTAL.EXE")), p.entries[2].data);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0014.MP3")), p.entries[3].data);
    EXPECT_EQ(g_fake.ReadFile(Data("JUK_0015.AVI")), p.entries[4].data);
    EXPECT_EQ(g_fake.ReadFile(Data("JUKE0016")), p.entries[5].data);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0017.ABCDEFGHIJKLMN")), p.entries[6].data);
    EXPECT_STREQ(g_dataFolder, kAuroraData);
    // Every media file was tested; none failed, so the screen saver is active.
    EXPECT_EQ(g_fake.CallsStartingWith("MciOpen").size(), 4u);
    ASSERT_EQ(g_fake.profileWrites.size(), 1u);
    EXPECT_EQ(g_fake.profileWrites[0], "boot|SCRNSAVE.EXE|C:\\WINDOWS\\~SAurora.scr|system.ini");
    EXPECT_EQ(g_fake.screenSaveActivations, 1);
    EXPECT_EQ(g_fake.openHandles, 0);
}

TEST(Extraction, NumbersGrowPastFourDigits) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3"), Media(".MP3"), Media(".MP3")});
    p.base = 9998;
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_TRUE(g_fake.Exists(Data("FILE9998.MP3")));
    EXPECT_TRUE(g_fake.Exists(Data("FILE9999.MP3")));
    EXPECT_EQ(g_fake.ReadFile(Data("FILE10000.MP3")), p.entries[5].data);
}

TEST(Extraction, TheLogListsEveryTargetAndKeepsEarlierRuns) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3")});
    PrepareInstall(p);
    g_fake.windowsFolder = "C:\\";  // a drive root gets no second backslash
    g_fake.commonAppData = "";       // the data folder then lies in the Windows folder
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    const std::string data = "C:\\All Users\\Application Data\\Tarnwell\\Glimmerwick\\Aurora\\";
    const std::string run = "C:\\Aurora.scr\r\n" + data + "Aurora.dat\r\n" + data + "UNINSTAL.EXE\r\n" + data +
                            "FILE0001.MP3\r\n";
    EXPECT_EQ(g_fake.ReadFile(data + "INSTALL.LOG"), run);
    std::vector<std::string> folders = {"CreateFolder C:\\All Users", "CreateFolder C:\\All Users\\Application Data",
                                        "CreateFolder C:\\All Users\\Application Data\\Tarnwell",
                                        "CreateFolder C:\\All Users\\Application Data\\Tarnwell\\Glimmerwick",
                                        "CreateFolder " + data.substr(0, data.size() - 1)};
    EXPECT_EQ(g_fake.CallsStartingWith("CreateFolder"), folders);

    g_cancel = 0;
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_fake.ReadFile(data + "INSTALL.LOG"), run + run);
}

TEST(Extraction, WritesTheSevenUninstallValuesBeforeTheUninstaller) {
    PrepareInstall(MakePackage("Aurora"));
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    ASSERT_EQ(g_fake.registry.count(kKey), 1u);
    const auto& values = g_fake.registry[kKey];
    ASSERT_EQ(values.size(), 7u);
    auto expect = [&](const char* name, std::uint32_t type, const std::string& data) {
        ASSERT_EQ(values.count(name), 1u) << name;
        EXPECT_EQ(values.at(name).type, type) << name;
        EXPECT_EQ(values.at(name).data, data) << name;
    };
    expect("DisplayName", kRegSz, std::string("Aurora Screen Saver\0", 20));
    expect("UninstallString", kRegExpandSz, Data("UNINSTAL.EXE") + '\0');
    expect("InstallLocation", kRegExpandSz,
           std::string("C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora") + '\0');
    expect("DisplayIcon", kRegSz, std::string("C:\\WINDOWS\\Aurora.scr,-0") + '\0');
    expect("Publisher", kRegSz, std::string("Fatto con Tarnwell's Glimmerwick") + '\0');
    expect("VersionMajor", kRegDword, std::string("\x07\0\0\0", 4));
    expect("VersionMinor", kRegDword, std::string("\0\0\0\0", 4));

    // In this order, after the uninstaller's target is known and before it
    // is created.
    std::vector<std::string> order;
    for (const std::string& c : g_fake.calls)
        if (c.rfind("RegSetValue", 0) == 0 || c.rfind("FileCreate", 0) == 0) order.push_back(c);
    std::vector<std::string> expected = {
        "FileCreate C:\\WINDOWS\\Aurora.scr", "FileCreate " + Data("Aurora.dat"),
        "RegSetValue DisplayName", "RegSetValue UninstallString", "RegSetValue InstallLocation",
        "RegSetValue DisplayIcon", "RegSetValue Publisher", "RegSetValue VersionMajor",
        "RegSetValue VersionMinor", "FileCreate " + Data("UNINSTAL.EXE")};
    EXPECT_EQ(order, expected);
}

TEST(Extraction, AnUninstallerPathWithBlanksIsQuoted) {
    PrepareInstall(MakePackage("Mr. X Borealis"));
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    const auto& values = g_fake.registry["Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mr. X Borealis"];
    const std::string folder = "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Mr. X Borealis";
    EXPECT_EQ(values.at("UninstallString").data, "\"" + folder + "\\UNINSTAL.EXE\"" + '\0');
    EXPECT_EQ(values.at("InstallLocation").data, folder + '\0');
    EXPECT_EQ(values.at("DisplayName").data, std::string("Mr. X Borealis Screen Saver") + '\0');
    EXPECT_TRUE(g_fake.Exists(folder + "\\Mr. X Borealis.dat"));
}

TEST(Extraction, CatalogueWithoutFilesOrUninstaller) {
    TestPackage empty;
    empty.title = "Aurora";
    PrepareInstall(empty);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_TRUE(g_fake.Exists(Data("INSTALL.LOG")));
    EXPECT_EQ(g_fake.ReadFile(Data("INSTALL.LOG")), "");
    EXPECT_EQ(g_fake.registry.count(kKey), 1u);
    EXPECT_TRUE(g_fake.registry[kKey].empty());
    EXPECT_EQ(g_fake.screenSaveActivations, 1);

    TestPackage two = MakePackage("Aurora");
    two.entries.pop_back();
    PrepareInstall(two);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_FALSE(g_fake.Exists(Data("UNINSTAL.EXE")));
    EXPECT_TRUE(g_fake.registry[kKey].empty());
}

TEST(Extraction, StoredCopiesPumpAfterTheFirstBlockAndEveryFurther100KB) {
    TestPackage p;
    p.title = "Aurora";
    p.entries.push_back({std::string(2048, 's')});
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_fake.pumps, 1);
    EXPECT_EQ(g_fake.CallsStartingWith("FileWrite 2048").size(), 1u);

    p.entries[0].data = SampleNoise(300000);
    PrepareInstall(p);
    std::vector<std::int64_t> pumpedAt;
    g_fake.onPump = [&](int) { pumpedAt.push_back(static_cast<std::int64_t>(
                                   std::filesystem::file_size(g_fake.HostPath("C:\\WINDOWS\\Aurora.scr")))); };
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(pumpedAt, (std::vector<std::int64_t>{2048, 104448, 206848}));
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data);
}

// The calls made while the stored entry of `target` was copied: from its
// creation to the creation of the next target.
std::vector<std::string> CallsWhileCopying(const std::string& target) {
    auto from = std::find(g_fake.calls.begin(), g_fake.calls.end(), "FileCreate " + target);
    EXPECT_NE(from, g_fake.calls.end());
    auto to = std::find_if(from + 1, g_fake.calls.end(),
                           [](const std::string& c) { return c.rfind("FileCreate ", 0) == 0; });
    return {from, to};
}

TEST(Extraction, StoredCopiesReadWholeBlocksUntilTheCountPassesTheStoredSize) {
    // An entry of 50 whole blocks: the read after its last byte takes the
    // count past the first 100 KB mark, so the pump runs a second time; the
    // bytes read beyond the entry are not written.
    TestPackage p = MakePackage("Aurora");
    p.entries[0].data = SampleNoise(kPumpStep, 5);
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    std::vector<std::string> copy = CallsWhileCopying("C:\\WINDOWS\\Aurora.scr");
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "Pump"), 2);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "FileRead 2048"), 51);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "FileWrite 2048"), 50);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data);
    EXPECT_EQ(g_fake.ReadFile(Data("Aurora.dat")), p.entries[1].data);

    // One byte less: the 50th read passes the stored size and ends the copy,
    // with the count below the mark; only its first 2047 bytes are written.
    p.entries[0].data.pop_back();
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    copy = CallsWhileCopying("C:\\WINDOWS\\Aurora.scr");
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "Pump"), 1);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "FileRead 2048"), 50);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "FileWrite 2047"), 1);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data);

    // The last entry of the file: the read after it finds nothing, which is
    // no fault.
    p = MakePackage("Aurora", {Media(".MP3", 4096)});
    PrepareInstall(p);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    copy = CallsWhileCopying(Data("FILE0001.MP3"));
    EXPECT_EQ(std::count(copy.begin(), copy.end(), "FileRead 2048"), 3);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0001.MP3")), p.entries[3].data);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
}

class CancelTest : public ::testing::Test {
protected:
    // Presses Cancel at pump `at` (and at every later one when `always`).
    void PressCancelAt(int at, bool always = false) {
        g_installDialog = 77;
        g_fake.onPump = [at, always](int n) {
            if (n == at || (always && n > at)) CancelQuestion();
        };
    }
};

TEST_F(CancelTest, DuringTheFirstFileCutsItAndEveryLaterFileButTheUninstaller) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 5000), Media(".AVI", 40000, ' ', true)});
    p.entries[0].data = SampleNoise(10000, 9);
    PrepareInstall(p);
    g_fake.answers = {kIdYes};
    PressCancelAt(1);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_cancel, 1);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data.substr(0, 2048));
    EXPECT_EQ(g_fake.ReadFile(Data("Aurora.dat")), p.entries[1].data.substr(0, 2048));
    EXPECT_EQ(g_fake.ReadFile(Data("UNINSTAL.EXE")), p.entries[2].data);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0001.MP3")), p.entries[3].data.substr(0, 2048));
    EXPECT_TRUE(g_fake.Exists(Data("FILE0002.AVI")));
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0002.AVI")), "");  // the decoder stops before its first chunk
    EXPECT_EQ(g_fake.registry[kKey].size(), 7u);
    // Every path is logged, no media check runs, the activation still acts.
    const std::string log = g_fake.ReadFile(Data("INSTALL.LOG"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
    EXPECT_NE(log.find(Data("FILE0002.AVI\r\n")), std::string::npos);
    EXPECT_TRUE(g_fake.CallsStartingWith("MciOpen").empty());
    EXPECT_EQ(g_fake.screenSaveActivations, 1);

    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    const FakeMessageBox& box = g_fake.messageBoxes[0];
    EXPECT_EQ(box.owner, 77u);
    EXPECT_EQ(box.text, "Siete sicuri di voler annullare l\x92installazione?");
    EXPECT_EQ(box.caption, kCancelCaption);
    EXPECT_EQ(box.style, kMbYesNo);
}

TEST_F(CancelTest, DuringTheUninstallerFinishesItAndCutsTheMediaAfterIt) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 5000)});
    p.entries[2].data = SampleNoise(250000, 4);  // pumps 3, 4 and 5
    PrepareInstall(p);
    g_fake.answers = {kIdYes};
    PressCancelAt(4);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_fake.ReadFile("C:\\WINDOWS\\Aurora.scr"), p.entries[0].data);
    EXPECT_EQ(g_fake.ReadFile(Data("Aurora.dat")), p.entries[1].data);
    EXPECT_EQ(g_fake.ReadFile(Data("UNINSTAL.EXE")), p.entries[2].data);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0001.MP3")), p.entries[3].data.substr(0, 2048));
    EXPECT_TRUE(g_fake.CallsStartingWith("MciOpen").empty());
}

TEST_F(CancelTest, AnsweredNoChangesNothingAndAConfirmedCancelIsNotAskedAgain) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 5000)});
    PrepareInstall(p);
    g_fake.answers = {kIdNo};
    PressCancelAt(1);
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_EQ(g_cancel, 0);
    EXPECT_EQ(g_fake.ReadFile(Data("FILE0001.MP3")), p.entries[3].data);
    EXPECT_EQ(g_fake.CallsStartingWith("MciOpen").size(), 1u);

    PrepareInstall(p);
    g_fake.answers = {kIdYes};
    PressCancelAt(1, true);  // Cancel pressed at every pump
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_GE(g_fake.pumps, 4);
    EXPECT_EQ(CountBoxes(kCancelCaption), 1);
}

TEST(Extraction, AStartCommandDuringTheWorkDoesNotStartItAgain) {
    PrepareInstall(MakePackage("Aurora", {Media(".MP3")}));
    std::vector<int> nested;
    g_fake.onPump = [&nested](int) { nested.push_back(StartInstall(TestRequest())); };
    EXPECT_EQ(StartInstall(TestRequest()), kInstallDone);
    EXPECT_EQ(nested, std::vector<int>(4, 0));
    EXPECT_EQ(g_fake.CallsStartingWith("FileOpenAppend").size(), 1u);
    EXPECT_EQ(g_fake.CallsStartingWith("RegCreateKey").size(), 2u);
    // Once it has ended, the work can be started again (a new install).
    g_fake.onPump = nullptr;
    EXPECT_EQ(StartInstall(TestRequest()), kInstallDone);
    EXPECT_EQ(g_fake.CallsStartingWith("FileOpenAppend").size(), 2u);
}

TEST(Extraction, AccessDeniedStopsBeforeAnythingIsWritten) {
    PrepareInstall(MakePackage("Aurora"));
    g_fake.registryDenied = true;
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallDenied);
    ExpectNothingWritten();
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    const FakeMessageBox& box = g_fake.messageBoxes[0];
    EXPECT_EQ(box.owner, 0u);
    EXPECT_EQ(box.text,
              "Non avete l\x92" "autorizzazione per poter modificare la configurazione di sistema come "
              "richiesto. Reinstallate questo programma entrando sul computer come Amministratori locali.");
    EXPECT_EQ(box.caption, "Errore!!!");
    EXPECT_EQ(box.style, kMbOk);
}

TEST(Extraction, AFailingMediaFileIsListedAndBlocksTheActivation) {
    PrepareInstall(MakePackage("Aurora", {Media(".OGG"), Media(".MP3")}));
    g_fake.mciFailsByExtension = {".OGG"};
    g_fake.mciFailsWithType = {".OGG"};
    ASSERT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_STREQ(g_missingTypes, ".OGG\r\n");
    EXPECT_TRUE(g_fake.profileWrites.empty());
    EXPECT_EQ(g_fake.screenSaveActivations, 0);
    EXPECT_TRUE(g_fake.Exists(Data("FILE0001.OGG")));
}

// ---- Faults that stop an install --------------------------------------------

const char kStopEnding[] = "L\x92installazione \xe8 stata interrotta.";
const char kRollbackEnding[] = "L\x92installazione \xe8 stata interrotta e verr\xe0 annullata.";

std::string WriteFault(const std::string& path, const char* ending) {
    return "Impossibile scrivere il file:\r\n\r\n" + path +
           "\r\n\r\nIl disco potrebbe essere pieno o protetto da scrittura. " + ending;
}

void ExpectOneFault(const std::string& text) {
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_EQ(g_fake.messageBoxes[0].text, text);
    EXPECT_EQ(g_fake.messageBoxes[0].caption, "Errore!!!");
    EXPECT_EQ(g_fake.messageBoxes[0].style, kMbOk | kMbIconError);
    EXPECT_EQ(g_fake.messageBoxes[0].owner, 77u);
    EXPECT_TRUE(g_fake.profileWrites.empty());
    EXPECT_EQ(g_fake.screenSaveActivations, 0);
    EXPECT_EQ(g_fake.openHandles, 0);  // every file and key opened is closed
}

TEST(ExtractionFault, ADiskFullBeforeTheUninstallerStopsWithoutRollback) {
    PrepareInstall(MakePackage("Aurora", {Media(".MP3")}));
    g_installDialog = 77;
    g_fake.diskBytesLeft = 1000;
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    EXPECT_EQ(g_uninstallerReady, 0);
    ExpectOneFault(WriteFault("C:\\WINDOWS\\Aurora.scr", kStopEnding));
    EXPECT_FALSE(g_fake.Exists(Data("Aurora.dat")));
    EXPECT_TRUE(g_fake.CallsStartingWith("MciOpen").empty());
}

TEST(ExtractionFault, ATargetThatCannotBeCreatedAfterTheUninstallerIsRolledBack) {
    for (bool packed : {false, true}) {  // a write fault, never a read fault of the installer
        SCOPED_TRACE(packed ? "packed" : "stored");
        PrepareInstall(MakePackage("Aurora", {Media(".MP3", 1000, ' ', packed), Media(".AVI")}));
        g_installDialog = 77;
        g_fake.failWhen = [](const std::string& op, std::size_t) {
            return op == "FileCreate" && g_fake.calls.back().find("FILE0001.MP3") != std::string::npos;
        };
        EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
        EXPECT_EQ(g_uninstallerReady, 1);
        ExpectOneFault(WriteFault(Data("FILE0001.MP3"), kRollbackEnding));
        EXPECT_FALSE(g_fake.Exists(Data("FILE0002.AVI")));
        // The failed target is logged with the others, for the uninstaller.
        EXPECT_EQ(g_fake.ReadFile(Data("INSTALL.LOG")),
                  "C:\\WINDOWS\\Aurora.scr\r\n" + Data("Aurora.dat\r\n") + Data("UNINSTAL.EXE\r\n") +
                      Data("FILE0001.MP3\r\n"));
    }
}

TEST(ExtractionFault, AShortWriteInsideThePackedUninstallerIsNoRollback) {
    TestPackage p = MakePackage("Aurora");
    p.entries[2].data = SampleText(40000, 5);
    p.entries[2].pack = true;
    PrepareInstall(p);
    g_installDialog = 77;
    bool armed = false;
    g_fake.failWhen = [&armed](const std::string& op, std::size_t) {
        if (op == "FileCreate") armed = g_fake.calls.back().find("UNINSTAL.EXE") != std::string::npos;
        return armed && op == "FileWrite";
    };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    EXPECT_EQ(g_uninstallerReady, 0);
    ExpectOneFault(WriteFault(Data("UNINSTAL.EXE"), kStopEnding));
}

std::string ReadFault(const char* ending) {
    return std::string("Impossibile leggere il file:\r\n\r\n") + kInstallerPath + "\r\n\r\n" + ending;
}

TEST(ExtractionFault, AnInstallerThatCannotBeReadStopsBeforeAnythingIsWritten) {
    PrepareInstall(MakePackage("Aurora"));
    g_installDialog = 77;
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileOpenRead"; };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ExpectOneFault(ReadFault(kStopEnding));
    ExpectNothingWritten();
    EXPECT_TRUE(g_fake.CallsStartingWith("RegCreateKey").empty());
}

TEST(ExtractionFault, AnEntryCutShortInTheInstallerFileIsNotTakenAsWritten) {
    TestPackage p = MakePackage("Aurora");
    PrepareInstall(p);
    g_installDialog = 77;
    std::string bytes = BuildPackageBytes(p);
    g_fake.WriteFile(kInstallerPath, bytes.substr(0, bytes.size() - 100));  // the uninstaller's end
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    EXPECT_EQ(g_uninstallerReady, 0);
    ExpectOneFault(ReadFault(kStopEnding));
}

TEST(ExtractionFault, AReadFaultInsideAPackedEntryIsNotTakenAsWritten) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 3000)});
    p.entries[1].data = SampleText(40000, 8);
    p.entries[1].pack = true;
    PrepareInstall(p);
    g_installDialog = 77;
    bool decoding = false;
    g_fake.failWhen = [&decoding](const std::string& op, std::size_t) {
        if (op == "FileCreate") decoding = g_fake.calls.back().find("Aurora.dat") != std::string::npos;
        return decoding && op == "FileRead";
    };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ExpectOneFault(ReadFault(kStopEnding));
    EXPECT_FALSE(g_fake.Exists(Data("UNINSTAL.EXE")));
}

TEST(ExtractionFault, StoredBytesLeftOverAfterAPackedStreamAreAReadFault) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 3000, ' ', true)});
    for (std::uint32_t extra : {8u, 9u}) {  // up to 8 are an encoder's padding
        PrepareInstall(p);
        g_fake.WriteFile(kInstallerPath, PaddedPackageBytes(p, extra));
        g_installDialog = 77;
        EXPECT_EQ(RunExtraction(TestRequest()), extra == 8 ? kInstallDone : kInstallFailed) << extra;
    }
    ExpectOneFault(ReadFault(kRollbackEnding));
}

TEST(ExtractionFault, ACatalogueThatCannotBeWalkedIsNoSuccess) {
    PrepareInstall(MakePackage("Aurora", {Media(".MP3")}));
    g_installDialog = 77;
    // The seek back to the next record, after the uninstaller.
    bool afterUninstaller = false;
    g_fake.failWhen = [&afterUninstaller](const std::string& op, std::size_t) {
        if (op == "FileCreate") afterUninstaller = g_fake.calls.back().find("UNINSTAL.EXE") != std::string::npos;
        return afterUninstaller && op == "FileSeek" && g_fake.calls.back() != "FileSeek 0";
    };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    EXPECT_EQ(g_uninstallerReady, 1);
    ExpectOneFault(ReadFault(kRollbackEnding));
    EXPECT_FALSE(g_fake.Exists(Data("FILE0001.MP3")));
}

// A log that cannot be opened leaves the install without one; a log that
// was opened and then fails to take a line stops the install.
TEST(ExtractionFault, TheLogThatCannotBeOpenedIsDoneWithoutOneThatCannotBeWrittenStops) {
    PrepareInstall(MakePackage("Aurora", {Media(".MP3")}));
    g_installDialog = 77;
    g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "FileOpenAppend"; };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallDone);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
    EXPECT_TRUE(g_fake.Exists(Data("FILE0001.MP3")));
    EXPECT_FALSE(g_fake.Exists(Data("INSTALL.LOG")));
    EXPECT_EQ(g_fake.profileWrites.size(), 1u) << "the screen saver is activated";

    PrepareInstall(MakePackage("Aurora"));
    g_installDialog = 77;
    const std::string line = "C:\\WINDOWS\\Aurora.scr\r\n";
    g_fake.failWhen = [&line](const std::string& op, std::size_t i) {
        return op == "FileWrite" && g_fake.calls[i] == "FileWrite " + std::to_string(line.size());
    };
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ExpectOneFault(WriteFault(Data("INSTALL.LOG"), kStopEnding));
    EXPECT_FALSE(g_fake.Exists(Data("Aurora.dat")));
}

TEST(ExtractionFault, ARedirectedDataFolderIsRefusedBeforeAnythingIsCreated) {
    PrepareInstall(MakePackage("Aurora"));
    g_installDialog = 77;
    g_fake.linkFolders = {"C:\\ProgramData\\Tarnwell"};
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ExpectOneFault("Il percorso C:\\ProgramData\\Tarnwell rimanda a un\x92" "altra posizione: per "
                   "sicurezza l\x92installazione non pu\xf2 continuare.");
    ExpectNothingWritten();
    EXPECT_TRUE(g_fake.CallsStartingWith("RegCreateKey").empty());
}

TEST(ExtractionFault, AnInstallLogThatIsALinkIsNeverOpened) {
    PrepareInstall(MakePackage("Aurora"));
    g_installDialog = 77;
    g_fake.WriteFile("C:\\elsewhere\\victim.txt", "keep");
    g_fake.WriteFile(Data("placeholder"), "");
    std::filesystem::create_symlink(g_fake.HostPath("C:\\elsewhere\\victim.txt"),
                                    g_fake.HostPath(Data("INSTALL.LOG")));
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    EXPECT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_TRUE(g_fake.CallsStartingWith("FileOpenAppend").empty());
    EXPECT_EQ(g_fake.ReadFile("C:\\elsewhere\\victim.txt"), "keep");
}

TEST(ExtractionFault, AnEmptyStemWritesNothingAndTouchesNoKey) {
    PrepareInstall(MakePackage("Aurora"));
    std::strcpy(g_baseName, ".scr");
    g_installDialog = 77;
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ExpectNothingWritten();
    EXPECT_TRUE(g_fake.CallsStartingWith("RegCreateKey").empty());
}

TEST(ExtractionFault, ATargetPathTooLongForItsBufferStopsAtThatRecord) {
    PrepareInstall(MakePackage("Aurora", {Media(".MP3XYZ")}));
    // The data folder takes 246 characters: UNINSTAL.EXE fits, FILE0001.MP3XYZ not.
    g_fake.commonAppData = "C:\\" + std::string(214, 'p');
    std::filesystem::create_directories(g_fake.HostPath(g_fake.commonAppData));
    g_installDialog = 77;
    EXPECT_EQ(RunExtraction(TestRequest()), kInstallFailed);
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_NE(g_fake.messageBoxes[0].text.find("259 caratteri"), std::string::npos);
    EXPECT_EQ(g_uninstallerReady, 1);
    EXPECT_EQ(g_fake.CallsStartingWith("FileCreate").size(), 3u);
}

}  // namespace
