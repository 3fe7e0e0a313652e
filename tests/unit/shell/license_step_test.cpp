// The show-license step: which packages show the license dialog, what the
// dialog's result means for the install, and that the text block is given
// back once the dialog has closed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/license.h"
#include "shell/globals.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

class LicenseStep : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFakePlatform();
        ResetGlobals();
        ResetGlobals();
    }

    std::string Package(const std::string& license, const std::string& name = "package.exe") {
        TestPackage p;
        p.title = "Aurora";
        p.license = license;
        p.entries = {{"screen saver"}, {"data"}, {"uninstaller"}};
        return WritePackageFile(p, g_fake.root + "/" + name);
    }

    // The dialog and the block's release, in the order they happened.
    static std::vector<std::string> DialogAndRelease() {
        std::vector<std::string> order;
        for (const std::string& c : g_fake.calls)
            if (c.rfind("RunLicenseDialog", 0) == 0 || c.rfind("TextFree", 0) == 0) order.push_back(c);
        return order;
    }
};

TEST_F(LicenseStep, OnlyAcceptGoesOn) {
    struct Case {
        std::intptr_t dialogResult;
        int go;
    } cases[] = {{1, 1}, {2, 0}, {-1, 0}};  // Accept, Decline (or Esc, close box), not created
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialogResult);
        InstallFakePlatform();
        ResetGlobals();
        const std::string path = Package("Termini d'uso\r\nRiga due");
        g_fake.licenseResult = c.dialogResult;
        EXPECT_EQ(ShowLicenseStep(path.c_str()), c.go);
        EXPECT_EQ(g_fake.licenseTexts, std::vector<std::string>{"Termini d'uso\r\nRiga due"});
        EXPECT_EQ(DialogAndRelease(), (std::vector<std::string>{"RunLicenseDialog", "TextFree"}));
    }
}

TEST_F(LicenseStep, WithoutATextToShowTheInstallGoesOnWithoutADialog) {
    const std::string none = Package("", "none.exe");
    EXPECT_EQ(ShowLicenseStep(none.c_str()), 1);
    EXPECT_TRUE(g_fake.CallsStartingWith("TextAlloc").empty());

    const std::string withText = Package("Leggi", "text.exe");
    g_fake.textAllocFails = true;  // no memory for the block
    EXPECT_EQ(ShowLicenseStep(withText.c_str()), 1);

    std::string bytes = ReadBytesFile(withText);
    bytes.resize(PayloadStartOf(bytes) + 2 + 3);  // the text cut short by the file's end
    WriteBytesFile(bytes, g_fake.root + "/cut.exe");
    g_fake.textAllocFails = false;
    g_fake.licenseResult = 2;  // a dialog shown now would stop the install
    EXPECT_EQ(ShowLicenseStep((g_fake.root + "/cut.exe").c_str()), 1);
    EXPECT_EQ(ShowLicenseStep((g_fake.root + "/missing.exe").c_str()), 1);

    EXPECT_TRUE(g_fake.CallsStartingWith("RunLicenseDialog").empty());
    EXPECT_EQ(g_fake.CallsStartingWith("TextAlloc").size(), g_fake.CallsStartingWith("TextFree").size() + 1)
        << "the block of the cut text is freed; the refused allocation had none";
}

TEST_F(LicenseStep, TheLongestTextIsShownWhole) {
    const std::string text(65535, 'L');
    const std::string path = Package(text);
    EXPECT_EQ(ShowLicenseStep(path.c_str()), 1);
    EXPECT_EQ(g_fake.CallsStartingWith("TextAlloc"), std::vector<std::string>{"TextAlloc 65536"});
    ASSERT_EQ(g_fake.licenseTexts.size(), 1u);
    EXPECT_TRUE(g_fake.licenseTexts[0] == text);
}

}  // namespace
