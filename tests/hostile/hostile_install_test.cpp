// Every hostile package run as the installer's own file through the real
// install sequence (package check, checks, install dialog with the real
// extraction) over the recording fake. A damaged package is refused with
// one message before anything is written: the fake's whole drive tree, the
// registry, system.ini and the programs started are compared before and
// after. A harmless oddity installs, and writes only the screen saver in the
// Windows folder and files in its own data folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "hostile/hostile_corpus.h"
#include "hostile/tree_listing.h"
#include "install/extraction.h"
#include "payload/naming.h"
#include "install/paths.h"
#include "payload/payload.h"
#include "shell/globals.h"
#include "shell/sequence.h"
#include "support/fake_platform.h"

namespace {

constexpr OsWindow kBackdrop = 500;
constexpr char kInstaller[] = "C:\\Setup\\Aurora.exe";
constexpr char kErrorCaption[] = "Errore!!!";
constexpr char kCompletion[] = "Installazione Completa!";

struct InstallRun {
    TreeListing before, after;
    std::vector<FakeMessageBox> boxes;
    std::map<std::string, std::map<std::string, FakeRegValue>> registry;
    std::vector<std::string> profileWrites, winExecs, calls;
    std::size_t shellOpens = 0;
    int exitCode = 0;
    bool destroyed = false;
    std::string stem;  // the stripped title the run used
};

// Starts the installer on `bytes` the way the program does: the backdrop
// window reads the title, its first timer tick runs the sequence, and the
// install dialog runs the real extraction.
InstallRun RunInstaller(const std::string& bytes) {
    InstallFakePlatform();
    ResetGlobals();
    g_fake.WriteFile(kInstaller, bytes);
    g_fake.moduleFileName = kInstaller;
    // A runaway decode must fail on a full disk rather than fill the host's.
    g_fake.diskBytesLeft = 64 << 20;
    g_fake.installDialog = [](OsWindow, const InstallRequest& r) -> std::intptr_t { return StartInstall(r); };
    g_showPrompts = 2;  // as shipped: every question and message
    char self[kPathSize];
    if (GetOwnPath(self)) ReadTitle(self, g_title);
    g_title[kPathSize - 1] = '\0';

    InstallRun run;
    run.stem = g_title;
    StripTrailingBlanks(run.stem.data());
    run.stem = run.stem.c_str();
    run.before = ListTree(g_fake.root);
    InstallSequence(kBackdrop);
    run.after = ListTree(g_fake.root);
    run.boxes = g_fake.messageBoxes;
    run.registry = g_fake.registry;
    run.profileWrites = g_fake.profileWrites;
    run.winExecs = g_fake.winExecs;
    run.shellOpens = g_fake.shellOpens.size();
    run.calls = g_fake.calls;
    run.exitCode = g_exitCode;
    run.destroyed = g_fake.windowDestroyed;
    return run;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "  " + l + "\n";
    return out;
}

// The text that names each refusal.
const char* RefusalMark(StubVerdict verdict, const std::string& text) {
    if (verdict == StubVerdict::Damaged) return "danneggiato o incompleto";
    if (verdict == StubVerdict::TooLong) return "supera i 259 caratteri";
    return text.find("Il tipo di file") == 0 ? "Il tipo di file" : "Il titolo di questo screen saver";
}

std::vector<std::string> OutsideItsPlaces(const InstallRun& run) {
    return ChangesOutside(run.before, run.after, {"C/WINDOWS/" + run.stem + ".scr"},
                          {"C/ProgramData/Tarnwell/Glimmerwick/" + run.stem},
                          {"C/ProgramData/Tarnwell", "C/ProgramData/Tarnwell/Glimmerwick"});
}

void ExpectRefused(const HostileCase& c, const InstallRun& run) {
    // A damaged packed stream is found by the check that decodes beside the
    // questions: its refusal comes once they are answered (the confirmation;
    // the license is a dialog), still before anything is written. Every other
    // fault is refused before any question.
    const std::size_t questions = c.group == "stream" ? 1 : 0;
    ASSERT_EQ(run.boxes.size(), questions + 1) << "one message, after " << questions << " questions";
    const FakeMessageBox& box = run.boxes.back();
    EXPECT_EQ(box.caption, kErrorCaption);
    EXPECT_EQ(box.owner, kBackdrop);
    EXPECT_NE(box.text.find(RefusalMark(c.stub, box.text)), std::string::npos) << box.text;
    EXPECT_EQ(TreeChanges(run.before, run.after), std::vector<std::string>{}) << "the drive is untouched";
    EXPECT_TRUE(run.registry.empty());
    EXPECT_TRUE(run.profileWrites.empty());
    EXPECT_TRUE(run.winExecs.empty());
    EXPECT_EQ(run.shellOpens, 0u);
    EXPECT_NE(run.exitCode, 0);
    for (const std::string& call : run.calls) {
        EXPECT_NE(call.rfind("RunInstallDialog", 0), 0u);
        EXPECT_NE(call.rfind("FileCreate", 0), 0u) << call;
        EXPECT_NE(call.rfind("CreateFolder", 0), 0u) << call;
    }
}

void ExpectInstalledInItsPlaces(const InstallRun& run) {
    EXPECT_EQ(OutsideItsPlaces(run), std::vector<std::string>{}) << Join(TreeChanges(run.before, run.after));
    int completions = 0;
    for (const FakeMessageBox& b : run.boxes) completions += b.text == kCompletion ? 1 : 0;
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(run.exitCode, 0);
    // The screen saver in place is the package's own.
    const std::string saver = "C/WINDOWS/" + run.stem + ".scr";
    auto at = run.after.find(saver);
    ASSERT_NE(at, run.after.end()) << saver;
    EXPECT_EQ(at->second, FileEntry(HostileBasePackage().entries[0].data));
    // The registry holds the uninstall entry of this stem and nothing else.
    for (const auto& [key, values] : run.registry)
        EXPECT_EQ(key, std::string(kUninstallRoot) + "\\" + run.stem);
}

TEST(HostileCorpus, IsDeterministicWithUniqueNames) {
    const std::vector<HostileCase> a = MakeHostileCorpus(), b = MakeHostileCorpus();
    ASSERT_EQ(a.size(), b.size());
    std::set<std::string> names;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].bytes, b[i].bytes) << a[i].name;
        EXPECT_TRUE(names.insert(a[i].name).second) << "twice: " << a[i].name;
        EXPECT_EQ(a[i].name.find_first_of("/\\ "), std::string::npos) << a[i].name;
        // Every case differs from the sound package it was made from.
        EXPECT_NE(a[i].bytes, BuildPackageBytes(HostileBasePackage())) << a[i].name;
    }
    EXPECT_GE(a.size(), 150u);
}

TEST(HostileInstall, TheSoundPackageInstallsInItsPlaces) {
    InstallRun run = RunInstaller(BuildPackageBytes(HostileBasePackage()));
    ExpectInstalledInItsPlaces(run);
    EXPECT_EQ(run.stem, "Aurora");
    // Five files and the log.
    int files = 0;
    for (const auto& [path, entry] : run.after)
        files += entry.rfind("file ", 0) == 0 && path.rfind("C/ProgramData/Tarnwell/Glimmerwick/Aurora/", 0) == 0;
    EXPECT_EQ(files, 5);
}

// Runs every case of the corpus built on `stub`; returns how many wrote
// anything outside the two places.
int RunCorpus(const std::string& stub, std::map<StubVerdict, int>* counts) {
    int outside = 0;
    for (const HostileCase& c : MakeHostileCorpus(stub)) {
        SCOPED_TRACE(c.name + " (" + VerdictName(c.stub) + ")");
        InstallRun run = RunInstaller(c.bytes);
        EXPECT_TRUE(run.destroyed);
        if (run.calls.empty()) {
            ADD_FAILURE() << "no call at all";
            continue;
        }
        EXPECT_EQ(run.calls.back(), "DestroyWindow");
        outside += OutsideItsPlaces(run).empty() ? 0 : 1;
        if (c.stub == StubVerdict::Installs)
            ExpectInstalledInItsPlaces(run);
        else
            ExpectRefused(c, run);
        ++(*counts)[c.stub];
    }
    return outside;
}

TEST(HostileInstall, EveryCaseIsRefusedOrStaysInItsPlaces) {
    std::map<StubVerdict, int> counts;
    const std::size_t cases = MakeHostileCorpus().size();
    const int outside = RunCorpus(MakeTestStub(), &counts);
    std::printf("hostile cases: %zu; refused as damaged %d, bad name %d, too long %d; installed %d; "
                "wrote outside the two places: %d\n",
                cases, counts[StubVerdict::Damaged], counts[StubVerdict::BadName],
                counts[StubVerdict::TooLong], counts[StubVerdict::Installs], outside);
    EXPECT_EQ(outside, 0);
}

// The same damage on a stub laid out otherwise: the resource section first
// in the section table.
TEST(HostileInstall, TheCasesHoldOnAnotherStubLayout) {
    TestStubOptions options;
    options.rsrcFirst = true;
    std::map<StubVerdict, int> counts;
    EXPECT_EQ(RunCorpus(MakeTestStub(options), &counts), 0);
    EXPECT_GT(counts[StubVerdict::Damaged], 100);
}

}  // namespace
