// Packages that cannot be installed safely are refused before anything is
// written.
#include <gtest/gtest.h>

#include "install/package_check.h"
#include "unit/install/install_test_util.h"

namespace {

// Runs the checks on the installer as written, in the sequence's order.
int Check(const std::string& title) {
    return PackageCheck(42, kInstallerPath, title.c_str()) &&
           (PackedStreamsSound(kInstallerPath) || ShowPackageFault(42, kFaultDamaged));
}

void ExpectRefusal(const std::string& text) {
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_EQ(g_fake.messageBoxes[0].owner, 42u);
    EXPECT_EQ(g_fake.messageBoxes[0].caption, "Errore!!!");
    EXPECT_EQ(g_fake.messageBoxes[0].style, kMbOk | kMbIconError);
    EXPECT_EQ(g_fake.messageBoxes[0].text, text);
    for (const std::string& call : g_fake.calls) {
        EXPECT_NE(call.rfind("FileCreate", 0), 0u) << call;
        EXPECT_NE(call.rfind("CreateFolder", 0), 0u) << call;
        EXPECT_NE(call.rfind("RegCreateKey", 0), 0u) << call;
        EXPECT_NE(call.rfind("FileOpenAppend", 0), 0u) << call;
    }
}

TEST(PackageCheck, ASoundPackagePassesSilently) {
    UsePackage(MakePackage("Aurora", {Media(".MP3"), Media("", 10)}));
    EXPECT_EQ(Check("Aurora"), 1);
    EXPECT_TRUE(g_fake.messageBoxes.empty());
}

TEST(PackageCheck, RefusesADamagedPayload) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 3000, ' ', true)});
    const std::string bytes = BuildPackageBytes(p);
    // The last entry cut short; more stored bytes behind its packed stream
    // than an encoder's padding of 8.
    for (const std::string& damaged : {bytes.substr(0, bytes.size() - 10), PaddedPackageBytes(p, 9)}) {
        UsePackage(p);
        g_fake.WriteFile(kInstallerPath, damaged);
        EXPECT_EQ(Check("Aurora"), 0);
        ExpectRefusal("Il pacchetto di installazione \xe8 danneggiato o incompleto: l\x92installazione non "
                      "pu\xf2 continuare.");
    }
    UsePackage(p);
    g_fake.WriteFile(kInstallerPath, PaddedPackageBytes(p, 8));
    EXPECT_EQ(Check("Aurora"), 1);
}

TEST(PackageCheck, RefusesAnInstallerWithoutPayload) {
    InstallFakePlatform();
    g_fake.WriteFile(kInstallerPath, MakeTestStub().substr(0, 100));
    g_fake.moduleFileName = kInstallerPath;
    EXPECT_EQ(Check("Aurora"), 0);
    EXPECT_EQ(g_fake.messageBoxes.size(), 1u);
}

TEST(PackageCheck, RefusesATitleThatWouldLeaveItsFolder) {
    UsePackage(MakePackage("..\\..\\WINDOWS\\system32\\evil"));
    EXPECT_EQ(Check("..\\..\\WINDOWS\\system32\\evil"), 0);
    ExpectRefusal("Il titolo di questo screen saver (..\\..\\WINDOWS\\system32\\evil) non pu\xf2 essere "
                  "usato come nome di file in Windows: l\x92installazione non pu\xf2 continuare.");
}

TEST(PackageCheck, RefusesAMediaExtensionWithASeparator) {
    UsePackage(MakePackage("Aurora", {Media(".MP3"), Media("\\..\\..\\a.dll")}));
    EXPECT_EQ(Check("Aurora"), 0);
    ExpectRefusal("Il tipo di file (\\..\\..\\a.dll) di un file di questo pacchetto non pu\xf2 essere usato "
                  "in un nome di file di Windows: l\x92installazione non pu\xf2 continuare.");
}

TEST(PackageCheck, RefusesPathsThatWouldNotFit) {
    const std::string tooLong =
        "Il percorso di installazione di questo screen saver supera i 259 caratteri consentiti da "
        "Windows: l\x92installazione non pu\xf2 continuare.";
    std::string title(200, 't');
    UsePackage(MakePackage(title, {Media(".MP3")}));
    g_fake.commonAppData = "C:\\" + std::string(40, 'p');  // the data folder alone fits
    EXPECT_EQ(Check(title), 0);
    ExpectRefusal(tooLong);

    UsePackage(MakePackage("Aurora"));
    g_fake.windowsFolder = "C:\\" + std::string(250, 'w');
    EXPECT_EQ(Check("Aurora"), 0);
    ExpectRefusal(tooLong);
}

TEST(PackageCheck, RefusesWhenTheWindowsFolderIsUnknown) {
    UsePackage(MakePackage("Aurora"));
    g_fake.windowsFolder = "";
    EXPECT_EQ(Check("Aurora"), 0);
    ExpectRefusal("Impossibile trovare la cartella di Windows: l\x92installazione non pu\xf2 continuare.");
}

TEST(PackageCheck, TheLongestTitleFormsAWholeMessage) {
    std::string title = std::string(254, 'a') + "|";
    UsePackage(MakePackage("Aurora"));
    EXPECT_EQ(Check(title), 0);
    ASSERT_EQ(g_fake.messageBoxes.size(), 1u);
    EXPECT_NE(g_fake.messageBoxes[0].text.find("(" + title + ") non pu\xf2"), std::string::npos);
    EXPECT_EQ(g_fake.messageBoxes[0].text.substr(g_fake.messageBoxes[0].text.size() - 11), "continuare.");
}

}  // namespace
