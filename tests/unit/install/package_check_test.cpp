// Packages that cannot be installed safely are refused before anything is
// written.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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

// The packed media of 4000, 3000, 2000 and 1000 bytes (indices 3 to 6) are
// shared as {3, 6} and {4, 5}. A stream cut short in either share, checked
// with the second thread or without it, refuses the package.
TEST(PackageCheck, RefusesADamagedStreamInEitherShare) {
    TestPackage p = MakePackage("Aurora", {Media(".MP3", 4000, ' ', true), Media(".MP3", 3000, ' ', true),
                                           Media(".MP3", 2000, ' ', true), Media(".MP3", 1000, ' ', true)});
    for (bool threadFails : {false, true}) {
        UsePackage(p);
        if (threadFails) g_fake.failWhen = [](const std::string& op, std::size_t) { return op == "StartThread"; };
        EXPECT_EQ(PackedStreamsSound(kInstallerPath), 1);
        EXPECT_EQ(g_fake.CallsStartingWith("StartThread").size(), 1u);
        for (std::size_t damaged : {3u, 5u}) {
            std::string bytes = BuildPackageBytes(p);
            const std::size_t at = RecordOffsetOf(bytes, damaged) + 4;
            PokeU32(bytes, at, PeekU32(bytes, at) - 10);
            g_fake.WriteFile(kInstallerPath, bytes);
            EXPECT_EQ(PackedStreamsSound(kInstallerPath), 0) << damaged << (threadFails ? " one thread" : "");
        }
    }
    // A single packed entry is checked without a second thread.
    UsePackage(MakePackage("Aurora", {Media(".MP3", 4000, ' ', true)}));
    EXPECT_EQ(PackedStreamsSound(kInstallerPath), 1);
    EXPECT_TRUE(g_fake.CallsStartingWith("StartThread").empty());
}

// Each row: the unpacked sizes in catalogue order (0 for a stored entry)
// and the worker expected for every packed one, in order.
TEST(PackageCheck, SharesThePackedEntriesByUnpackedSize) {
    struct Row {
        const char* name;
        std::vector<std::uint32_t> sizes;
        std::vector<int> workers;
    };
    std::vector<Row> rows = {
        {"one entry", {0, 7, 0}, {0}},
        {"two equal", {5, 5}, {0, 1}},
        {"largest last", {50, 50, 100}, {1, 1, 0}},
        {"stored ones skipped", {0, 30, 0, 20, 0, 10}, {0, 1, 1}},
        {"largest first, less loaded", {4000, 0, 3000, 2000, 1000}, {0, 1, 1, 0}},
    };
    // More packed entries than the plan keeps: 64 of 10 bytes are dealt in
    // turn; the 5 and the later 10 (an equal of the kept ones comes behind
    // them) go to the less loaded worker at their turn.
    Row beyond{"beyond the plan, in order", std::vector<std::uint32_t>(kPlannedEntries, 10), {}};
    for (int i = 0; i < kPlannedEntries; ++i) beyond.workers.push_back(i % 2);
    beyond.sizes.insert(beyond.sizes.end(), {5, 10});
    beyond.workers.insert(beyond.workers.end(), {0, 1});
    rows.push_back(beyond);
    // A large entry late in the catalogue displaces a small kept one and
    // gets a worker to itself; the displaced one follows the others.
    Row displaced{"late largest", std::vector<std::uint32_t>(kPlannedEntries, 1), std::vector<int>(kPlannedEntries, 1)};
    displaced.sizes.push_back(100);
    displaced.workers.push_back(0);
    rows.push_back(displaced);

    for (const Row& row : rows) {
        SharePlan plan;
        StartSharePlan(&plan);
        for (std::uint32_t i = 0; i < row.sizes.size(); ++i)
            if (row.sizes[i] != 0) PlanPackedEntry(&plan, i, row.sizes[i]);
        FinishSharePlan(&plan);
        // Both workers deal from their own copy and must agree.
        SharePlan walks[2] = {plan, plan};
        std::vector<int> workers;
        for (std::uint32_t i = 0; i < row.sizes.size(); ++i) {
            if (row.sizes[i] == 0) continue;
            int first = WorkerOf(&walks[0], i, row.sizes[i]);
            EXPECT_EQ(WorkerOf(&walks[1], i, row.sizes[i]), first) << row.name << " entry " << i;
            workers.push_back(first);
        }
        EXPECT_EQ(workers, row.workers) << row.name;
    }
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
