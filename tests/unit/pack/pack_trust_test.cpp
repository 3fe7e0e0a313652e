// glimmer-pack as an author's build tool: checks that agree between verify
// and extract, extraction that writes only new files in a real folder,
// inputs checked before any output, the command line's rules, the package
// file, and list --json against its document.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "package_file.h"
#include "tool_files.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;

namespace {


class PackTrust : public ToolFolderTest {
protected:
    void SetUp() override {
        ToolFolderTest::SetUp();
        stub = Put("stub.exe", MakeTestStub());
        saver = Put("aurora.scr", SampleText(3000, 1));
        data = Put("aurora.dat", "dati");
        uninstaller = Put("uninst.exe", SampleNoise(300, 2));
        song = Put("song.mp3", SampleText(1500, 3));
    }


    Outcome Run(const std::vector<std::string>& args) { return RunGlimmerPack(dir, args); }

    std::vector<std::string> BuildArgs(const std::string& output) {
        return {"build", "-o", output, "--stub", stub, "--title", "Aurora", "--saver", saver,
                "--data", data, "--uninstaller", uninstaller, "--media", song};
    }

    std::string stub, saver, data, uninstaller, song;
};


bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The streamed build writes the very bytes of the in-memory layout.
TEST_F(PackTrust, StreamedBuildGivesTheLayoutsBytes) {
    for (bool pack : {false, true}) {
        std::string package = dir + (pack ? "/p.exe" : "/s.exe");
        std::string license = Put("license.txt", "Riga\n");
        ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{pack ? "--pack" : "--store", "--license", license,
                                                                   "--base", "9", "--kind", "zero"})
                      .status,
                  0);
        TestPackage expected{"Aurora", "Riga\r\n", 9, {}};
        for (const std::string& file : {saver, data, uninstaller})
            expected.entries.push_back({ReadBytesFile(file), pack, ".TMP", ' '});
        expected.entries.push_back({ReadBytesFile(song), pack, ".MP3", 0});
        EXPECT_EQ(ReadBytesFile(package), BuildPackageBytes(expected)) << pack;
    }
}

// Single-byte changes across the payload: whatever verify refuses, extract
// refuses with no file left, and what verify passes extracts in full.
TEST_F(PackTrust, VerifyAndExtractAgreeOnEverySingleByteChange) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package)).status, 0);
    const std::string sound = ReadBytesFile(package);
    const std::uint32_t start = PayloadStartOf(sound);
    // The packed streams' bytes, from the catalogue.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> packed;
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint32_t at = RecordOffsetOf(sound, i);
        if (PeekU32(sound, at + 8) != 0) packed.push_back({PeekU32(sound, at), PeekU32(sound, at + 4)});
    }
    ASSERT_EQ(packed.size(), 2u);  // the two texts

    int refused = 0, refusedInStreams = 0, cases = 0;
    for (std::size_t at = start; at < sound.size(); at += 9, ++cases) {
        std::string bytes = sound;
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << (at % 8)));
        std::string damaged = Put("damaged.exe", bytes);
        Outcome verified = Run({"verify", damaged});
        std::string out = dir + "/out";
        Outcome extracted = Run({"extract", damaged, out});
        SCOPED_TRACE("byte " + std::to_string(at) + ": " + verified.err + extracted.err);
        ASSERT_TRUE(verified.status == 0 || verified.status == 1);
        EXPECT_EQ(extracted.status, verified.status);
        // A refusal leaves not even the folder it made.
        ASSERT_EQ(fs::exists(out), verified.status == 0);
        if (fs::exists(out)) {
            EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 4);
        }
        if (verified.status != 0) {
            ++refused;
            for (const auto& [offset, size] : packed)
                if (at >= offset && at < offset + size) {
                    ++refusedInStreams;
                    EXPECT_TRUE(Has(extracted.err, "is damaged")) << extracted.err;
                }
        }
        fs::remove_all(out);
    }
    EXPECT_GT(refusedInStreams, 0);
    EXPECT_LT(refused, cases);  // a changed stored byte cannot be told
}

TEST_F(PackTrust, ExtractWritesOnlyNewFilesInARealFolder) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package)).status, 0);
    std::string out = dir + "/out";
    fs::create_directory(out);

    // An existing file stops the extraction before anything is written.
    std::string kept = Put("out/FILE0001.MP3", "older");
    Outcome o = Run({"extract", package, out});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Has(o.err, "FILE0001.MP3")) << o.err;
    EXPECT_EQ(ReadBytesFile(kept), "older");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);

    // --overwrite replaces the name, never what a planted hard link shares.
    std::string victim = Put("victim.txt", "keep me");
    fs::remove(kept);
    fs::create_hard_link(victim, kept);
    ASSERT_EQ(Run({"extract", package, out, "--overwrite"}).status, 0);
    EXPECT_EQ(ReadBytesFile(victim), "keep me");
    EXPECT_EQ(ReadBytesFile(kept), ReadBytesFile(song));

    // A target folder that is a link is refused, and nothing is written.
    std::string elsewhere = dir + "/elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, dir + "/linked");
    for (const char* linked : {"/linked", "/linked/"}) {
        o = Run({"extract", package, dir + linked});
        EXPECT_EQ(o.status, 1) << linked;
        EXPECT_TRUE(Has(o.err, "symbolic link")) << o.err;
        EXPECT_TRUE(fs::is_empty(elsewhere)) << linked;
    }
}

// Each bad input is named with the system's words before any output
// exists; -o is refused when it is an input under another name.
TEST_F(PackTrust, InputsAreCheckedBeforeAnyOutput) {
    std::string package = dir + "/p.exe";
    fs::create_directory(dir + "/folder");
    fs::create_hard_link(saver, dir + "/alias.scr");
    struct Case {
        std::vector<std::string> extra;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {{"--license", dir + "/folder"}, {dir + "/folder: Is a directory"}},
        {{"--media", "/dev/null"}, {"/dev/null: not a regular file"}},
        {{"--media", dir + "/none.wav", "--media", dir + "/folder"},
         {dir + "/none.wav: No such file or directory", dir + "/folder: Is a directory"}},
    };
    for (const Case& c : cases) {
        Outcome o = Run(BuildArgs(package) + c.extra);
        EXPECT_EQ(o.status, 1) << c.extra[1];
        for (const std::string& n : c.named) EXPECT_TRUE(Has(o.err, n)) << o.err;
        EXPECT_FALSE(fs::exists(package));
    }
    std::string saverBytes = ReadBytesFile(saver);
    std::vector<std::string> args = BuildArgs(dir + "/alias.scr");
    Outcome o = Run(args);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Has(o.err, "same file as --saver")) << o.err;
    EXPECT_EQ(ReadBytesFile(saver), saverBytes);
    // Nothing was written: the five inputs, the folder and the alias.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 7);
}

TEST_F(PackTrust, CommandLineRules) {
    std::string package = dir + "/p.exe";
    Outcome o = Run({"build", "--title", "T", "--data", data});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(Has(o.err, "missing -o, --saver, --uninstaller")) << o.err;
    // Without --stub and without an installed stub beside the program (as
    // in the build tree), the stub is the one thing missing.
    o = Run({"build", "-o", package, "--title", "T", "--saver", saver, "--data", data, "--uninstaller", uninstaller});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(Has(o.err, "missing --stub, and no installed stub")) << o.err;

    // A repeated option, and a second media file without its own --media.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--title", "Again"}, std::vector<std::string>{song}}) {
        o = Run(BuildArgs(package) + extra);
        EXPECT_EQ(o.status, 2) << extra[0] << "\n" << o.err;
        if (extra[0] == "--title") {
            EXPECT_TRUE(Has(o.err, "--title is given more than once")) << o.err;
        }
        EXPECT_FALSE(fs::exists(package));
    }
    std::vector<std::string> args = BuildArgs("-");
    o = Run(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(Has(o.err, "binary")) << o.err;

    // A value that looks like an option is the option's value.
    args = BuildArgs(package);
    args[6] = "-h";
    o = Run(args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(Has(o.out, "Usage"));

    o = Run({"help", "extract"});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(Has(o.out, "Usage: glimmer-pack extract"));
    o = Run({"--version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("glimmer-pack ", 0), 0u) << o.out;
    EXPECT_EQ(o.out.find_first_not_of("0123456789.", 13), o.out.size() - 1) << o.out;

    // -q: nothing but errors; the summary otherwise.
    EXPECT_EQ(Run(BuildArgs(dir + "/q.exe") + std::vector<std::string>{"-q"}).out, "");
    EXPECT_TRUE(Has(Run(BuildArgs(dir + "/s.exe")).out, "built " + dir + "/s.exe: 4 files"));
}

TEST_F(PackTrust, PackageFileBuildsWhatTheCommandLineBuilds) {
    fs::create_directory(dir + "/files");
    fs::rename(song, dir + "/files/song.mp3");
    song = dir + "/files/song.mp3";
    std::string file = Put("aurora.toml",
                           "title = \"Aurora\"\n"
                           "stub = \"stub.exe\"\n"
                           "base = 7\n"
                           "kind = \"zero\"\n"
                           "[files]\n"
                           "saver = \"aurora.scr\"\n"
                           "data = \"aurora.dat\"\n"
                           "uninstaller = \"uninst.exe\"\n"
                           "media = [\"files/song.mp3\"]\n");
    // Run from another folder: the paths are the file's.
    ASSERT_EQ(Run({"build", file, "-o", dir + "/a.exe"}).status, 0);
    ASSERT_EQ(Run(BuildArgs(dir + "/b.exe") + std::vector<std::string>{"--base", "7", "--kind", "zero"}).status, 0);
    EXPECT_EQ(ReadBytesFile(dir + "/a.exe"), ReadBytesFile(dir + "/b.exe"));
    // The command line overrides the file.
    ASSERT_EQ(Run({"build", file, "-o", dir + "/c.exe", "--base", "1", "--kind", "blank"}).status, 0);
    ASSERT_EQ(Run(BuildArgs(dir + "/d.exe")).status, 0);
    EXPECT_EQ(ReadBytesFile(dir + "/c.exe"), ReadBytesFile(dir + "/d.exe"));
    // An absolute path is used as it is, not joined to the file's folder.
    PackageOptions absolute;
    ASSERT_EQ(ReadPackageFile(Put("files/absolute.toml", "stub = \"" + stub + "\"\n"), &absolute), "");
    EXPECT_EQ(absolute.stub, stub);

    const std::pair<const char*, const char*> mistakes[] = {
        {"title = 3\n", ":1:9: 'title' must be a string"},
        {"title = \"A\"\n\n  colour = \"red\"\n", ":3:3: unknown key 'colour'"},
        {"[files]\nmedia = [\"a.wav\", 2]\n", ":2:19: 'files.media' must be a string"},
        {"base = 70000\n", ":1:8: 'base' must be a number from 0 to 65535"},
        {"title = \"A\n", ":1:"},
        {"[slideshow]\npictures = [\"a.png\"]\nseconds = 0\n", ":3:11: 'slideshow.seconds' must be a number from 1 to 3600"},
        {"[slideshow]\npictures = [\"a.png\"]\norder = \"random\"\n", ":3:9: 'slideshow.order' is \"given\" or"},
        {"[slideshow]\npictures = [\"a.png\"]\nfit = \"stretch\"\n", ":3:7: 'slideshow.fit' is \"fit\""},
        {"[slideshow]\npictures = [\"a.png\"]\nmax_size = \"4k\"\n", ":3:12: 'slideshow.max_size' is \"WIDTHxHEIGHT\""},
        {"[slideshow]\npictures = [\"a.png\"]\nmusic = \"a.mp3\"\n", ":3:9: 'slideshow.music' must be a list"},
        {"[slideshow]\npictures = []\n", ":2:12: 'slideshow.pictures' names no picture"},
        {"title = \"A\"\n[slideshow]\nseconds = 5\n", ":2:1: 'slideshow.pictures' is missing"},
        {"[slideshow]\npictures = [\"a.png\"]\ncolour = 1\n", ":3:1: unknown key 'slideshow.colour'"},
        {"stub = \"\"\n", ":1:8: 'stub' is empty"},
    };
    for (const auto& [text, where] : mistakes) {
        std::string bad = Put("bad.toml", text);
        Outcome o = Run({"build", bad});
        EXPECT_EQ(o.status, 1) << text;
        EXPECT_TRUE(Has(o.err, bad + where)) << o.err;
    }
}

// In a child: a signal the tool was started with ignored stays ignored; one
// that is not removes the temporary files and ends the run.
TEST(TemporaryFiles, IgnoredSignalsStayIgnoredOthersRemoveTheFiles) {
    std::string dir = MakeTempFolder();
    std::string temporary = dir + "/p.exe.XXXXXX";
    WriteBytesFile("partial", temporary);
    for (int signal : {SIGHUP, SIGTERM}) {
        pid_t child = fork();
        if (child == 0) {
            std::signal(SIGHUP, SIG_IGN);
            RemoveOnInterrupt(temporary);
            raise(signal);
            _exit(0);  // ignored: the run goes on
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (signal == SIGHUP) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_TRUE(fs::exists(temporary));
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
            EXPECT_FALSE(fs::exists(temporary));
        }
    }
    fs::remove_all(dir);
}

// Starts glimmer-pack with `command` and the preloaded fault library, which
// stops it (SIGSTOP) at its first write to a file under `folder`. Returns
// its process once stopped there, -1 when it ended first (*status then
// tells how).
pid_t StartStoppedAtFirstWrite(const std::string& folder, const std::vector<std::string>& command, int* status) {
    pid_t tool = fork();
    if (tool == 0) {
        std::vector<char*> argv = {const_cast<char*>("glimmer-pack")};
        for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("LD_PRELOAD", GLIMMER_FAULT_PRELOAD, 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        setenv("GLIMMER_STOP_AT_WRITE", folder.c_str(), 1);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execv(GLIMMER_BINARY_DIR "/bin/glimmer-pack", argv.data());
        _exit(127);
    }
    if (tool < 0 || waitpid(tool, status, WUNTRACED) != tool || !WIFSTOPPED(*status)) return -1;
    return tool;
}

// An interrupt at the first write of a build and of an extraction into a
// folder it made: the run ends with 128 + the signal and leaves nothing,
// not even that folder. The tool stops itself at that write, is signalled,
// then let go on.
TEST_F(PackTrust, InterruptedBuildAndExtractLeaveNothing) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package)).status, 0);
    const std::vector<std::string> before = {"aurora.dat", "aurora.scr", "p.exe", "song.mp3", "stub.exe", "uninst.exe"};
    const std::vector<std::vector<std::string>> commands = {BuildArgs(dir + "/q.exe"),
                                                            {"extract", package, dir + "/out"}};
    for (const std::vector<std::string>& command : commands) {
        for (int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(command[0] + " " + std::to_string(signal));
            int status = 0;
            const pid_t tool = StartStoppedAtFirstWrite(dir, command, &status);
            ASSERT_GT(tool, 0) << "the tool did not reach its first write: " << status;
            kill(tool, signal);
            kill(tool, SIGCONT);
            ASSERT_EQ(waitpid(tool, &status, 0), tool);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, before);
            fs::remove_all(dir + "/out");
        }
    }
}

// A file that grows after it was checked, while the build runs, is refused
// whether it is stored or packed: its record could not hold what it holds.
TEST_F(PackTrust, AnInputThatGrowsDuringTheBuildIsRefused) {
    for (const char* coding : {"--store", "--pack"}) {
        SCOPED_TRACE(coding);
        int status = 0;
        const pid_t tool = StartStoppedAtFirstWrite(dir, BuildArgs(dir + "/q.exe") + std::vector<std::string>{coding}, &status);
        ASSERT_GT(tool, 0) << status;
        std::ofstream(saver, std::ios::app) << "more";
        kill(tool, SIGCONT);
        ASSERT_EQ(waitpid(tool, &status, 0), tool);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_FALSE(fs::exists(dir + "/q.exe"));
        Put("aurora.scr", SampleText(3000, 1));
    }
}

TEST(PackageFile, SampleNamesItsFilesBesideIt) {
    PackageOptions options;
    std::string folder = GLIMMER_SOURCE_DIR "/samples/aurora";
    ASSERT_EQ(ReadPackageFile(folder + "/aurora.toml", &options), "");
    EXPECT_EQ(options.title, "Aurora Boreale");
    EXPECT_TRUE(fs::is_regular_file(options.data)) << options.data;
    EXPECT_TRUE(fs::is_regular_file(options.license)) << options.license;
    EXPECT_EQ(options.media.size(), 1u);
}

// The output of list --json has the document's fields, each of the type the
// document gives it, and the document describes every field.
TEST_F(PackTrust, ListJsonFollowsItsDocument) {
    std::ifstream in(GLIMMER_SOURCE_DIR "/docs/list-json.md");
    std::string doc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t open = doc.find("```json\n"), close = doc.find("```", open + 8);
    ASSERT_NE(open, std::string::npos);
    nlohmann::json example = nlohmann::json::parse(doc.substr(open + 8, close - open - 8));
    std::map<std::string, std::string> types;  // field -> "string or null", ...
    std::istringstream lines(doc);
    for (std::string line; std::getline(lines, line);) {
        // | `name` | type | meaning |
        if (line.rfind("| `", 0) != 0) continue;
        std::size_t close = line.find('`', 3), bar = line.find('|', close), next = line.find('|', bar + 1);
        types[line.substr(3, close - 3)] = line.substr(bar + 2, next - bar - 3);
    }

    std::string license = Put("license.txt", "Licenza d'uso\nSeconda riga\n");
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{"--license", license, "--kind", "underscore",
                                                                         "--base", "14"}).status, 0);
    Outcome listed = Run({"list", package, "--json"});
    ASSERT_EQ(listed.status, 0);
    nlohmann::json got = nlohmann::json::parse(listed.out);
    EXPECT_EQ(got["format"], 1);

    auto typeName = [](const nlohmann::json& v) -> std::string {
        return v.is_null() ? "null" : v.is_boolean() ? "boolean" : v.is_number() ? "number" : v.is_string() ? "string"
               : v.is_array() ? "array" : "object";
    };
    auto same = [&](const nlohmann::json& want, const nlohmann::json& have, const std::string& where) {
        std::set<std::string> wantKeys, haveKeys;
        for (auto& [k, v] : want.items()) wantKeys.insert(k);
        for (auto& [k, v] : have.items()) haveKeys.insert(k);
        EXPECT_EQ(haveKeys, wantKeys) << where;
        for (auto& [k, v] : have.items()) {
            ASSERT_TRUE(types.count(k)) << where << k << " is not described";
            std::istringstream words(types[k]);  // "string or null"
            std::set<std::string> allowed{std::istream_iterator<std::string>(words), {}};
            EXPECT_TRUE(allowed.count(typeName(v))) << where << k << ": " << typeName(v);
        }
    };
    same(example, got, "package: ");
    same(example["license"], got["license"], "license: ");
    ASSERT_EQ(got["records"].size(), example["records"].size());
    for (std::size_t i = 0; i < got["records"].size(); ++i) {
        same(example["records"][i], got["records"][i], "record " + std::to_string(i) + ": ");
        for (const char* k : {"index", "role", "roleText", "name", "extension", "packed"})
            EXPECT_EQ(got["records"][i][k], example["records"][i][k]) << i << " " << k;
    }
    EXPECT_EQ(got["kind"], example["kind"]);
}

}  // namespace
