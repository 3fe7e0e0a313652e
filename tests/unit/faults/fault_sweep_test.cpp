// Fault sweeps over a whole install through the real sequence and the real
// extraction: every platform call failed in turn, and a Cancel confirmed at
// every UI pump. Whatever fails, the program ends, writes nothing outside the
// screen-saver path and its data folder, and reports completion only for an
// install whose every file is whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "hostile/tree_listing.h"
#include "install/extraction.h"
#include "payload/naming.h"
#include "install/paths.h"
#include "payload/payload.h"
#include "shell/globals.h"
#include "shell/sequence.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

constexpr OsWindow kBackdrop = 500;
constexpr char kInstaller[] = "C:\\Setup\\Aurora.exe";
constexpr char kData[] = "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora\\";
constexpr char kCompletion[] = "Installazione Completa!";
constexpr char kCancelText[] = "Siete sicuri di voler annullare l\x92installazione?";

// Stored and packed entries of every role, some large enough to be pumped
// more than once.
TestPackage SweepPackage(bool large) {
    const std::size_t k = large ? 1024 : 1;
    TestPackage p;
    p.title = "Aurora";
    p.license = "Termini d'uso.";
    p.base = 14;
    p.entries.push_back({"SAVER" + SampleNoise(large ? 250 * k : 3000, 21)});
    p.entries.push_back({"DATA" + SampleText(large ? 300 * k : 9000, 22), true});
    p.entries.push_back({"UNINSTALLER" + SampleNoise(large ? 220 * k : 2500, 23)});
    p.entries.push_back({SampleText(large ? 120 * k : 4000, 24), true, ".MP3"});
    p.entries.push_back({SampleNoise(large ? 50 * k : 1500, 25), false, ".OGG", '_'});
    p.entries.push_back({SampleText(large ? 10 * k : 700, 26), true, ".WAV", 0});
    return p;
}

// The files of SweepPackage with the data folder `data`.
std::vector<std::string> Targets(const std::string& data) {
    return {"C:\\WINDOWS\\Aurora.scr", data + "Aurora.dat",   data + "UNINSTAL.EXE",
            data + "FILE0014.MP3",      data + "JUK_0015.OGG", data + "JUKE0016.WAV"};
}

// The data folders the installer may use: under the common application-data
// folder, or, without it, under the Windows folder's "All Users"; each with
// the levels that it creates.
struct DataPlace {
    std::string folder;               // Windows path, with its final backslash
    std::vector<std::string> levels;  // host paths relative to the fake's root
};
const DataPlace kPlaces[] = {
    {kData, {"C/ProgramData/Tarnwell", "C/ProgramData/Tarnwell/Glimmerwick"}},
    {"C:\\WINDOWS\\All Users\\Application Data\\Tarnwell\\Glimmerwick\\Aurora\\",
     {"C/WINDOWS/All Users", "C/WINDOWS/All Users/Application Data", "C/WINDOWS/All Users/Application Data/Tarnwell",
      "C/WINDOWS/All Users/Application Data/Tarnwell/Glimmerwick"}},
};

std::string HostRelative(const std::string& windowsFolder) {
    std::string out = windowsFolder.substr(0, 1) + windowsFolder.substr(2);
    for (char& c : out) c = c == '\\' ? '/' : c;
    while (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

struct Outcome {
    std::vector<std::string> calls;
    std::vector<FakeMessageBox> boxes;
    std::vector<std::string> outside;  // changes outside the two places
    bool destroyed = false;
    int exitCode = 0;
    std::vector<FakePlatform::ShellOpenCall> shellOpens;
    std::size_t winExecs = 0;
    std::string dataFolder;             // as the extraction formed it
    std::vector<std::string> targets;   // the package's files in their places
    std::vector<std::string> contents;  // of `targets` afterwards ("" when missing)
    std::string log;
    int openHandles = 0;  // files and keys left open

    bool Shown(const std::string& text) const {
        return std::any_of(boxes.begin(), boxes.end(), [&](const FakeMessageBox& b) { return b.text == text; });
    }
};

// One install of `package` from the first timer tick to the end, with the
// fake prepared by `setUp` after the package is in place.
Outcome Install(const TestPackage& package, const std::function<void()>& setUp) {
    InstallFakePlatform();
    ResetGlobals();
    g_fake.WriteFile(kInstaller, BuildPackageBytes(package));
    g_fake.moduleFileName = kInstaller;
    g_fake.installDialog = [](OsWindow, const InstallRequest& r) -> std::intptr_t { return StartInstall(r); };
    g_showPrompts = 2;
    char self[kPathSize];
    if (GetOwnPath(self)) ReadTitle(self, g_title);
    g_title[kPathSize - 1] = '\0';
    setUp();
    const TreeListing before = ListTree(g_fake.root);
    InstallSequence(kBackdrop);

    Outcome o;
    o.openHandles = g_fake.openHandles;
    g_fake.failWhen = nullptr;  // reading the results back must not fail
    o.calls = g_fake.calls;
    o.boxes = g_fake.messageBoxes;
    // The two places: the screen saver, and the data folder in one of the
    // forms that the installer may give it; a folder of any other form
    // counts as outside.
    o.dataFolder = g_dataFolder[0] ? g_dataFolder : kData;
    const DataPlace* place = nullptr;
    for (const DataPlace& p : kPlaces)
        if (o.dataFolder == p.folder) place = &p;
    o.outside = ChangesOutside(before, ListTree(g_fake.root), {"C/WINDOWS/Aurora.scr"},
                               {place ? HostRelative(place->folder) : "-"},
                               place ? place->levels : std::vector<std::string>{});
    o.targets = Targets(o.dataFolder);
    o.destroyed = g_fake.windowDestroyed;
    o.exitCode = g_exitCode;
    o.shellOpens = g_fake.shellOpens;
    o.winExecs = g_fake.winExecs.size();
    for (const std::string& t : o.targets) o.contents.push_back(g_fake.ReadFile(t));
    o.log = g_fake.ReadFile(o.dataFolder + "INSTALL.LOG");
    return o;
}

std::string ExpectedLog(const Outcome& o) {
    std::string log;
    for (const std::string& t : o.targets) log += t + "\r\n";
    return log;
}

// Writes whose failure stops the install. A log that cannot be opened is
// done without.
bool IsWrite(const std::string& op) { return op == "FileWrite" || op == "FileCreate"; }

TEST(FaultSweep, EveryFailedCallEndsTheProgramAndNeverPassesForComplete) {
    const TestPackage package = SweepPackage(false);
    const Outcome clean = Install(package, [] {});
    ASSERT_TRUE(clean.Shown(kCompletion));
    ASSERT_EQ(clean.log, ExpectedLog(clean));
    for (std::size_t r = 0; r < clean.targets.size(); ++r) ASSERT_EQ(clean.contents[r], package.entries[r].data);
    const std::size_t length = clean.calls.size();
    ASSERT_GT(length, 100u);

    int survived = 0, failedInstalls = 0, completed = 0, writeFaults = 0;
    for (std::size_t i = 0; i < length; ++i) {
        std::string op;
        const Outcome o = Install(package, [i, &op] {
            g_fake.failWhen = [i, &op](const std::string& name, std::size_t index) {
                if (index != i) return false;
                op = name;
                return true;
            };
        });
        SCOPED_TRACE("call " + std::to_string(i) + " failed: " + (op.empty() ? "(not reached)" : op));
        const int before = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();

        EXPECT_TRUE(o.destroyed);
        ASSERT_FALSE(o.calls.empty());
        EXPECT_EQ(o.calls.back(), "DestroyWindow");
        EXPECT_EQ(o.outside, std::vector<std::string>{});
        EXPECT_EQ(o.openHandles, 0);
        if (o.Shown(kCompletion)) {
            // Complete means whole: every file in place with its bytes,
            // every path logged, a zero exit code.
            ++completed;
            for (std::size_t r = 0; r < o.targets.size(); ++r)
                EXPECT_TRUE(o.contents[r] == package.entries[r].data)
                    << o.targets[r] << ": " << o.contents[r].size() << " bytes of " << package.entries[r].data.size();
            if (op != "FileOpenAppend") {
                EXPECT_TRUE(o.log == ExpectedLog(o)) << o.log;
            }
            EXPECT_EQ(o.exitCode, 0);
        }
        if (IsWrite(op)) {
            ++writeFaults;
            EXPECT_FALSE(o.Shown(kCompletion));
            EXPECT_NE(o.exitCode, 0);
            EXPECT_EQ(o.winExecs, 0u) << "the screen saver is not started";
        }
        if (o.exitCode != 0) {
            ++failedInstalls;
            EXPECT_FALSE(o.Shown(kCompletion));
            EXPECT_EQ(o.winExecs, 0u);
            // A rollback runs only the package's own uninstaller, whole.
            for (const auto& s : o.shellOpens) {
                EXPECT_EQ(s.file, o.dataFolder + "UNINSTAL.EXE");
                EXPECT_EQ(s.parameters, "/s");
                EXPECT_TRUE(o.contents[2] == package.entries[2].data);
            }
        }
        const int after = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        survived += after == before ? 1 : 0;
    }
    std::printf("faults injected: %zu; survived: %d; writes failed: %d; installs reported failed: %d; "
                "still complete and whole: %d\n",
                length, survived, writeFaults, failedInstalls, completed);
    EXPECT_EQ(survived, static_cast<int>(length));
    // The sweep reached the extraction's writes and its failures.
    EXPECT_GE(writeFaults, 20);
    EXPECT_GT(failedInstalls, writeFaults);
}

TEST(FaultSweep, ACancelAtEveryPumpLeavesAWholeUninstallerAndAFullLog) {
    const TestPackage package = SweepPackage(true);
    const Outcome clean = Install(package, [] {});
    ASSERT_TRUE(clean.Shown(kCompletion));
    // Only the install dialog can be cancelled: the pumps of the package
    // check before it run while there is no dialog.
    auto dialog = std::find(clean.calls.begin(), clean.calls.end(), "RunInstallDialog");
    ASSERT_NE(dialog, clean.calls.end());
    const int first = static_cast<int>(std::count(clean.calls.begin(), dialog, "Pump")) + 1;
    const int pumps = static_cast<int>(std::count(clean.calls.begin(), clean.calls.end(), "Pump"));
    ASSERT_GE(pumps - first, 12);

    for (int k = first; k <= pumps; ++k) {
        SCOPED_TRACE("Cancel confirmed at pump " + std::to_string(k));
        const Outcome o = Install(package, [k] {
            g_fake.answers = {kIdOk, kIdYes};  // the confirmation, then the cancel question
            g_fake.onPump = [k](int n) {
                if (n == k) CancelQuestion();
            };
        });
        EXPECT_TRUE(o.destroyed);
        EXPECT_EQ(o.outside, std::vector<std::string>{});
        EXPECT_EQ(o.openHandles, 0);
        EXPECT_FALSE(o.Shown(kCompletion));
        EXPECT_EQ(o.winExecs, 0u);
        // The uninstaller is whole and started silently, once.
        EXPECT_TRUE(o.contents[2] == package.entries[2].data);
        ASSERT_EQ(o.shellOpens.size(), 1u);
        EXPECT_EQ(o.shellOpens[0].file, std::string(kData) + "UNINSTAL.EXE");
        EXPECT_EQ(o.shellOpens[0].parameters, "/s");
        EXPECT_EQ(o.shellOpens[0].show, kSwShowNormal);
        // Every record is logged, so the uninstaller finds every file, and
        // every file holds a leading part of its entry.
        EXPECT_EQ(o.log, ExpectedLog(o));
        for (std::size_t r = 0; r < o.targets.size(); ++r) {
            const std::string& data = package.entries[r].data;
            EXPECT_EQ(data.compare(0, o.contents[r].size(), o.contents[r]), 0) << o.targets[r];
            EXPECT_LE(o.contents[r].size(), data.size());
        }
        // No media is tried once the Cancel is confirmed.
        auto question = std::find(o.calls.begin(), o.calls.end(), "MessageBox Annullare l\x92Installazione?");
        ASSERT_NE(question, o.calls.end());
        EXPECT_EQ(std::find_if(question, o.calls.end(),
                               [](const std::string& c) { return c.rfind("MciOpen", 0) == 0; }),
                  o.calls.end());
        EXPECT_TRUE(std::any_of(o.boxes.begin(), o.boxes.end(),
                                [](const FakeMessageBox& b) { return b.text == kCancelText; }));
    }
    std::printf("cancel confirmed at each of the install's %d pumps\n", pumps - first + 1);
}

}  // namespace
