// glimmer-pack itself, run as a program: build -> list -> extract -> verify
// round trips, refusals with their exit codes, and extraction that never
// leaves its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "install/package_check.h"
#include "package_format.h"
#include "payload/naming.h"
#include "payload/payload.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;

namespace {

// ---- A small JSON reader, enough to check list --json -------------------------

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const {
        static const Json missing;
        auto it = members.find(key);
        return it == members.end() ? missing : it->second;
    }
};

struct JsonReader {
    const std::string& s;
    std::size_t i = 0;
    bool ok = true;

    void Space() {
        while (i < s.size() && std::strchr(" \t\r\n", s[i])) ++i;
    }
    bool Eat(char c) {
        Space();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    std::string Text() {
        std::string out;
        if (!Eat('"')) return ok = false, out;
        while (i < s.size() && s[i] != '"') {
            char c = s[i++];
            if (static_cast<unsigned char>(c) < 0x20) return ok = false, out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size()) return ok = false, out;
            char e = s[i++];
            if (e == 'n') out += '\n';
            else if (e == 'r') out += '\r';
            else if (e == 't') out += '\t';
            else if (e == 'u' && i + 4 <= s.size()) {
                out += static_cast<char>(std::stoi(s.substr(i, 4), nullptr, 16));
                i += 4;
            } else if (e == '"' || e == '\\' || e == '/') out += e;
            else return ok = false, out;
        }
        if (i >= s.size()) return ok = false, out;
        ++i;
        return out;
    }
    Json Value() {
        Json v;
        Space();
        if (i >= s.size()) return ok = false, v;
        if (s[i] == '{') {
            ++i;
            v.kind = Json::Object;
            if (Eat('}')) return v;
            do {
                std::string key = Text();
                if (!Eat(':')) return ok = false, v;
                v.members[key] = Value();
            } while (ok && Eat(','));
            if (!Eat('}')) ok = false;
        } else if (s[i] == '[') {
            ++i;
            v.kind = Json::Array;
            if (Eat(']')) return v;
            do v.items.push_back(Value());
            while (ok && Eat(','));
            if (!Eat(']')) ok = false;
        } else if (s[i] == '"') {
            v.kind = Json::String;
            v.text = Text();
        } else if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
            v.kind = Json::Bool;
            v.boolean = s[i] == 't';
            i += v.boolean ? 4 : 5;
        } else if (s.compare(i, 4, "null") == 0) {
            i += 4;
        } else {
            std::size_t used = 0;
            try {
                v.number = std::stod(s.substr(i), &used);
            } catch (...) {
                ok = false;
            }
            v.kind = Json::Number;
            i += used;
        }
        return v;
    }
};

bool ParseJson(const std::string& text, Json* out) {
    JsonReader reader{text};
    *out = reader.Value();
    reader.Space();
    return reader.ok && reader.i == text.size();
}

// ---- Running the tool ---------------------------------------------------------------



class PackTool : public ToolFolderTest {
protected:
    void SetUp() override {
        ToolFolderTest::SetUp();
        stub = Put("stub.exe", MakeTestStub());
        saver = Put("aurora.scr", SampleText(20000, 1));
        data = Put("aurora.dat", "dati");
        uninstaller = Put("uninst.exe", SampleNoise(3000, 2));
        song = Put("song.mp3", SampleText(6000, 3));
        sound = Put("Sound.Wav", SampleNoise(900, 4));
    }

    // `prefix`: shell text run first (limits, environment) in the same shell.
    Outcome Run(const std::vector<std::string>& args, const std::string& prefix = "") {
        return RunGlimmerPack(dir, args, prefix);
    }

    std::vector<std::string> BuildArgs(const std::string& output, const std::string& title = "Aurora") {
        return {"build", "-o", output, "--stub", stub, "--title", title, "--saver", saver,
                "--data", data, "--uninstaller", uninstaller};
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string stub, saver, data, uninstaller, song, sound;
};


TEST_F(PackTool, BuildListExtractVerifyRoundTrip) {
    std::string license = Put("license.txt", "Licenza d'uso\nSeconda riga\n");
    std::string package = dir + "/Aurora.exe";
    Outcome built = Run(BuildArgs(package) + std::vector<std::string>{"--media", song, "--media", sound,
                                                                        "--license", license, "--base", "14",
                                                                        "--kind", "underscore"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(built.err, "");
    EXPECT_NE(fs::status(package).permissions() & fs::perms::owner_exec, fs::perms::none);

    Outcome listed = Run({"list", package, "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    Json json;
    ASSERT_TRUE(ParseJson(listed.out, &json)) << listed.out;
    EXPECT_EQ(json["title"].text, "Aurora");
    EXPECT_EQ(json["licenseLength"].number, 29);  // LF line ends stored as CR LF
    EXPECT_EQ(json["numberingBase"].number, 14);
    const std::vector<Json>& records = json["records"].items;
    ASSERT_EQ(records.size(), 5u);
    const char* names[] = {"Aurora.scr", "Aurora.dat", "UNINSTAL.EXE", "JUK_0014.MP3", "JUK_0015.WAV"};
    const char* roles[] = {"saver", "data", "uninstaller", "media", "media"};
    const char* roleTexts[] = {"screen saver", "data file", "uninstaller", "media", "media"};
    const std::string sources[] = {saver, data, uninstaller, song, sound};
    const bool packed[] = {true, false, false, true, false};  // packed only where that is smaller
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i]["index"].number, static_cast<double>(i));
        EXPECT_EQ(records[i]["name"].text, names[i]);
        EXPECT_EQ(records[i]["role"].text, roles[i]);
        EXPECT_EQ(records[i]["roleText"].text, roleTexts[i]);
        EXPECT_EQ(records[i]["packed"].boolean, packed[i]);
        EXPECT_EQ(records[i]["unpackedSize"].number, static_cast<double>(fs::file_size(sources[i])));
        if (!packed[i]) EXPECT_EQ(records[i]["storedSize"].number, records[i]["unpackedSize"].number);
        else EXPECT_LT(records[i]["storedSize"].number, records[i]["unpackedSize"].number);
    }

    // The package as the installer reads it.
    std::string bytes = ReadBytesFile(package);
    std::string stubBytes = ReadBytesFile(stub);
    EXPECT_EQ(bytes.compare(0, stubBytes.size() - 4, stubBytes, 0, stubBytes.size() - 4), 0);
    char text[kTitleSize];
    ReadTitle(package.c_str(), text);
    EXPECT_STREQ(text, "Aurora");
    std::uint32_t length = 0;
    char* licenseText = ReadLicenseText(package.c_str(), &length);
    ASSERT_NE(licenseText, nullptr);
    EXPECT_STREQ(licenseText, "Licenza d'uso\r\nSeconda riga\r\n");
    g_platform->TextFree(licenseText);
    std::uint32_t next = PayloadStartOf(bytes) + FirstRecordOffset(29) + 6 * kRecordSize;
    for (std::size_t i = 0; i < 5; ++i) {
        std::uint32_t at = RecordOffsetOf(bytes, i);
        EXPECT_EQ(PeekU32(bytes, at), next) << i;
        EXPECT_EQ(PeekU32(bytes, at), records[i]["offset"].number) << i;
        next += PeekU32(bytes, at + 4);
        std::string extension = bytes.substr(at + 12, kExtensionSize);
        EXPECT_EQ(extension, std::string(i == 3 ? ".MP3" : i == 4 ? ".WAV" : ".TMP") + std::string(11, ' '));
        EXPECT_EQ(bytes[at + 27], i < 3 ? ' ' : '_') << i;
    }
    EXPECT_EQ(next, bytes.size());

    std::string out = dir + "/out";
    Outcome extracted = Run({"extract", package, out});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(ReadBytesFile(out + "/" + names[i]), ReadBytesFile(sources[i])) << names[i];
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 5);

    Outcome verified = Run({"verify", package});
    EXPECT_EQ(verified.status, 0) << verified.err;
}

TEST_F(PackTool, PlainListShowsEveryRecord) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package, "Notte") + std::vector<std::string>{"--media", song, "--kind", "zero",
                                                                        "--base", "9999", "--media", sound})
                  .status,
              0);
    Outcome listed = Run({"list", package});
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const char* expected : {"Notte.scr", "Notte.dat", "UNINSTAL.EXE", "JUKE9999.MP3", "JUKE10000.WAV",
                                 "Numbering base: 9999", "License text:   0 bytes"})
        EXPECT_NE(listed.out.find(expected), std::string::npos) << expected << "\n" << listed.out;
}

TEST_F(PackTool, StoreAndPackForceTheCoding) {
    for (const char* mode : {"--store", "--pack"}) {
        SCOPED_TRACE(mode);
        std::string package = dir + "/m.exe";
        ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{mode, "--media", sound}).status, 0);
        Json json;
        ASSERT_TRUE(ParseJson(Run({"list", package, "--json"}).out, &json));
        ASSERT_EQ(json["records"].items.size(), 4u);
        for (const Json& r : json["records"].items) EXPECT_EQ(r["packed"].boolean, mode[2] == 'p');
        std::string out = dir + "/x";
        ASSERT_EQ(Run({"extract", package, out}).status, 0);
        EXPECT_EQ(ReadBytesFile(out + "/UNINSTAL.EXE"), ReadBytesFile(uninstaller));
        EXPECT_EQ(ReadBytesFile(out + "/FILE0001.WAV"), ReadBytesFile(sound));
        EXPECT_EQ(Run({"verify", package}).status, 0);
        fs::remove_all(out);
    }
}

// Incompressible files larger than the encoder's read-ahead and than 64 KiB:
// by default their packing is abandoned once it reaches their size and they
// are stored; --pack keeps them packed. Either way they extract whole.
TEST_F(PackTool, LargeIncompressibleFilesRoundTrip) {
    const std::string big = Put("big.wav", SampleNoise(300001, 9));
    for (const char* coding : {"--media", "--pack"}) {
        SCOPED_TRACE(coding);
        const bool pack = std::string(coding) == "--pack";
        std::string package = dir + "/big.exe";
        std::vector<std::string> args = BuildArgs(package) + std::vector<std::string>{"--media", big};
        if (pack) args.push_back("--pack");
        ASSERT_EQ(Run(args).status, 0);
        Json json;
        ASSERT_TRUE(ParseJson(Run({"list", package, "--json"}).out, &json));
        const Json& record = json["records"].items.at(3);
        EXPECT_EQ(record["packed"].boolean, pack);
        if (pack) EXPECT_GT(record["storedSize"].number, 300001);
        else EXPECT_EQ(record["storedSize"].number, 300001);
        ASSERT_EQ(Run({"extract", package, dir + "/out"}).status, 0);
        EXPECT_TRUE(ReadBytesFile(dir + "/out/FILE0001.WAV") == ReadBytesFile(big));
        fs::remove_all(dir + "/out");
    }
}

// A file that packs to exactly its own size is stored: packing must make it
// smaller.
TEST_F(PackTool, PackedToItsOwnSizeIsStored) {
    std::string data;
    for (std::size_t text = 0; text < 3000 && data.empty(); ++text) {
        std::string candidate = SampleText(text, 4) + SampleNoise(1000, 5);
        if (PrepareEntry(candidate, PackChoice::Pack, "", ' ').stored.size() == candidate.size()) data = candidate;
    }
    ASSERT_FALSE(data.empty()) << "no sample packs to exactly its size";
    saver = Put("even.scr", data);
    ASSERT_EQ(Run(BuildArgs(dir + "/even.exe")).status, 0);
    Json json;
    ASSERT_TRUE(ParseJson(Run({"list", dir + "/even.exe", "--json"}).out, &json));
    EXPECT_FALSE(json["records"].items.at(0)["packed"].boolean);
    EXPECT_EQ(json["records"].items.at(0)["storedSize"].number, static_cast<double>(data.size()));
}

TEST_F(PackTool, TitleIsStoredInCodePage1252) {
    std::string package = dir + "/t.exe";
    // 100 "è" are 200 bytes of UTF-8 but 100 bytes in the catalogue.
    std::string title;
    for (int i = 0; i < 100; ++i) title += "\xc3\xa8";
    ASSERT_EQ(Run(BuildArgs(package, title)).status, 0);
    char text[kTitleSize];
    ReadTitle(package.c_str(), text);
    EXPECT_EQ(std::string(text), std::string(100, '\xe8'));
    Json json;
    ASSERT_TRUE(ParseJson(Run({"list", package, "--json"}).out, &json));
    EXPECT_EQ(json["title"].text, title);
    EXPECT_EQ(json["records"].items[0]["name"].text, title + ".scr");

    EXPECT_EQ(Run(BuildArgs(dir + "/cjk.exe", "\xe4\xb8\xad")).status, 1);
}

// glimmer-pack and the installer share their rules: every title that
// glimmer-pack accepts passes the installer's own package check on a machine
// with the shortest folders (C:\ for both); glimmer-pack refuses every other
// one with a reason and leaves no file. Every length from 1 to 260 goes
// through the rules build applies; the boundary rows through the tool itself,
// whose package must then verify and extract.
TEST_F(PackTool, EveryTitleThatBuildsInstalls) {
    std::vector<std::string> titles;
    for (std::size_t n = 1; n <= 260; ++n) titles.push_back(std::string(n, 'a'));
    for (const char* t : {"", "   ", ".", "..", " . ", "Aurora.", "Aurora ", "a/b", "a\\b", "a:b", "a*b", "a?b",
                          "a\"b", "a<b", "a>b", "a|b", "a\tb", "a\x7f" "b", "CON", "NUL .x", "nul", "COM1",
                          "COM10", "LPT\xb9", "Console", ".hidden", "Perch\xe8"})
        titles.push_back(t);
    const std::set<std::size_t> throughTheTool = {1, 90, 91, 115, 116, 255, 256, 259, 260};
    const std::vector<FileRecord> records(3, FileRecord{0, 0, 0, {'.', 'T', 'M', 'P', ' ', ' ', ' ', ' ', ' ', ' ',
                                                                   ' ', ' ', ' ', ' ', ' '}, ' '});
    std::string package = dir + "/t.exe";
    std::size_t longestAccepted = 0;
    for (const std::string& title : titles) {
        SCOPED_TRACE("title '" + title + "' (" + std::to_string(title.size()) + " bytes)");
        bool plain = title.find_first_not_of('a') == std::string::npos;
        bool accepted = TitleProblem(title).empty() && PathLengthProblem(title, 1, records).empty();
        if (!plain || throughTheTool.count(title.size())) {
            Outcome built = Run(BuildArgs(package, Cp1252ToUtf8(title)) + std::vector<std::string>{"--store"});
            EXPECT_EQ(built.status, accepted ? 0 : 1) << built.err;
            if (!accepted) {
                EXPECT_NE(built.err.find("title"), std::string::npos) << built.err;
            }
            EXPECT_EQ(fs::exists(package), accepted);
            if (accepted) {
                EXPECT_EQ(Run({"verify", package}).status, 0);
                EXPECT_EQ(Run({"extract", package, dir + "/out"}).status, 0);
                fs::remove_all(dir + "/out");
            }
        }
        if (!accepted) continue;
        if (plain) longestAccepted = std::max(longestAccepted, title.size());
        if (!fs::exists(package)) WritePackageFile(TestPackage{title, "", 1, {{"s"}, {"d"}, {"u"}}}, package);

        InstallFakePlatform();
        g_fake.windowsFolder = "C:\\";
        g_fake.commonAppData = "C:\\";
        char stripped[kTitleSize] = {};
        ReadTitle(package.c_str(), stripped);
        StripTrailingBlanks(stripped);
        EXPECT_EQ(PackageCheck(0, package.c_str(), stripped), 1);
        EXPECT_TRUE(g_fake.messageBoxes.empty());
        fs::remove(package);
    }
    // "C:\Tarnwell\Glimmerwick\TITLE\TITLE.dat" is the longest path: 2 * 115 + 29.
    EXPECT_EQ(longestAccepted, 115u);
}

TEST_F(PackTool, TitlesTooLongForWindowsDefaultFoldersBuildWithAWarning) {
    // Under C:\Documents and Settings\All Users\Application Data (Windows XP)
    // the data file's path is 2 * title + 79 characters long.
    Outcome fits = Run(BuildArgs(dir + "/a.exe", std::string(90, 'a')));
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.err.find("warning"), std::string::npos) << fits.err;
    Outcome warned = Run(BuildArgs(dir + "/b.exe", std::string(91, 'a')));
    EXPECT_EQ(warned.status, 0);
    EXPECT_NE(warned.err.find("warning"), std::string::npos);
    EXPECT_NE(warned.err.find("at most 90 bytes"), std::string::npos) << warned.err;
}

TEST_F(PackTool, LicenseAndExtensionLimits) {
    std::string exact = Put("exact.txt", std::string(65535, 'a'));
    std::string over = Put("over.txt", std::string(65536, 'a'));
    std::string grows = Put("grows.txt", std::string(65534, 'a') + "\n");  // 65536 bytes with CR LF
    EXPECT_EQ(Run(BuildArgs(dir + "/a.exe") + std::vector<std::string>{"--license", exact}).status, 0);
    Outcome o = Run(BuildArgs(dir + "/b.exe") + std::vector<std::string>{"--license", over});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(over), std::string::npos) << o.err;
    EXPECT_EQ(Run(BuildArgs(dir + "/c.exe") + std::vector<std::string>{"--license", grows}).status, 1);
    // Not UTF-8: taken as code page 1252 as it stands. A NUL would end the
    // text the installer shows.
    std::string cp1252 = Put("cp1252.txt", "Perch\xe8 no\n");
    ASSERT_EQ(Run(BuildArgs(dir + "/g.exe") + std::vector<std::string>{"--license", cp1252}).status, 0);
    std::uint32_t length = 0;
    char* text = ReadLicenseText((dir + "/g.exe").c_str(), &length);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Perch\xe8 no\r\n");
    g_platform->TextFree(text);
    std::string nul = Put("nul.txt", std::string("Licenza\0segreta", 15));
    o = Run(BuildArgs(dir + "/h.exe") + std::vector<std::string>{"--license", nul});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("NUL"), std::string::npos) << o.err;

    std::string fifteen = Put("clip.abcdefghijklmn", "x");   // ".ABCDEFGHIJKLMN", 15 characters
    std::string sixteen = Put("clip.abcdefghijklmno", "x");  // 16
    std::string colon = Put("clip.m:p3", "x");
    EXPECT_EQ(Run(BuildArgs(dir + "/d.exe") + std::vector<std::string>{"--media", fifteen}).status, 0);
    o = Run(BuildArgs(dir + "/e.exe") + std::vector<std::string>{"--media", sixteen});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(sixteen), std::string::npos) << o.err;
    EXPECT_EQ(Run(BuildArgs(dir + "/f.exe") + std::vector<std::string>{"--media", colon}).status, 1);
    for (const char* name : {"b.exe", "c.exe", "e.exe", "f.exe", "h.exe"}) EXPECT_FALSE(fs::exists(dir + "/" + name));
}

TEST_F(PackTool, StubsThatCannotBeCutAreRefused) {
    TestStubOptions resource, reloc, symbols, named;
    resource.resourceAfterAnchor = true;
    reloc.relocAfterAnchor = true;
    symbols.symbolTable = true;
    named.namedTypeFirst = true;
    for (const TestStubOptions* options : {&resource, &reloc, &symbols}) {
        stub = Put("bad-stub.exe", MakeTestStub(*options));
        Outcome o = Run(BuildArgs(dir + "/x.exe"));
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(stub), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(dir + "/x.exe"));
    }
    stub = Put("named-stub.exe", MakeTestStub(named));
    EXPECT_EQ(Run(BuildArgs(dir + "/y.exe")).status, 0);
    EXPECT_EQ(Run({"verify", dir + "/y.exe"}).status, 0);
    stub = Put("not-a-stub.exe", "MZ but nothing more");
    EXPECT_EQ(Run(BuildArgs(dir + "/z.exe")).status, 1);
}

TEST_F(PackTool, PackageCoversTheStubsSections) {
    // A resource section declared 0x200 bytes longer than the stub file: the
    // package is padded so that the file holds every section.
    std::string longer = MakeTestStub();
    std::size_t header = longer.find(".rsrc");
    PokeU32(longer, header + 16, 0x400);
    stub = Put("long-stub.exe", longer);
    saver = Put("tiny.scr", "s");
    uninstaller = Put("tiny.exe", "u");
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{"--store"}).status, 0);
    EXPECT_EQ(fs::file_size(package), 0x800u);
    EXPECT_EQ(Run({"verify", package}).status, 0);
    std::string out = dir + "/x";
    ASSERT_EQ(Run({"extract", package, out}).status, 0);
    EXPECT_EQ(ReadBytesFile(out + "/UNINSTAL.EXE"), ReadBytesFile(uninstaller));
}

TEST_F(PackTool, FailedBuildLeavesNothingAndKeepsAnOldPackage) {
    std::string package = Put("Aurora.exe", "old package");
    std::string empty = Put("empty.mp3", "");
    std::vector<std::string> before = Files();
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--media", empty}, std::vector<std::string>{"--media", dir + "/missing.mp3"},
          std::vector<std::string>{"--license", dir + "/missing.txt"}}) {
        Outcome o = Run(BuildArgs(package) + extra);
        EXPECT_EQ(o.status, 1) << extra[1];
        EXPECT_NE(o.err.find(extra[1]), std::string::npos) << o.err;
        EXPECT_EQ(ReadBytesFile(package), "old package");
        EXPECT_EQ(Files(), before);
    }
    Outcome noFolder = Run(BuildArgs(dir + "/no/such/folder/p.exe"));
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(Files(), before);

    // Failures once the temporary file exists: a write (files limited to
    // 1 KB), a full disk seen only at close, the check of what was written,
    // the rename onto a folder.
    const std::string limit = "trap '' XFSZ; ulimit -f 2; ";
    const std::string preload =
        "LD_PRELOAD=" + ShellQuote(GLIMMER_FAULT_PRELOAD) + " ASAN_OPTIONS=verify_asan_link_order=0 ";
    const std::string failOpen = preload + "GLIMMER_FAIL_OPEN=" + ShellQuote(package + ".") + " ";
    const std::string fullAtClose = preload + "GLIMMER_FAIL_CLOSE=" + ShellQuote(dir + "/") + " ";
    for (const auto& [prefix, reason] : {std::pair{limit, "write failed"}, std::pair{fullAtClose, "write failed"},
                                         std::pair{failOpen, "does not validate"}}) {
        Outcome o = Run(BuildArgs(package), prefix);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(reason), std::string::npos) << o.err;
        EXPECT_EQ(ReadBytesFile(package), "old package");
        EXPECT_EQ(Files(), before);
    }
    Outcome o = Run(BuildArgs(package), preload + "GLIMMER_FAIL_RENAME=1 ");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("rename"), std::string::npos) << o.err;
    EXPECT_EQ(ReadBytesFile(package), "old package");
    EXPECT_EQ(Files(), before);
}

// An extraction that fails once it writes leaves nothing in a folder it
// made, and writes through nothing planted there: a write over the file
// size limit, a full disk seen only at close, and an attacker who replaces
// each new name by a link to another file the moment it is created.
TEST_F(PackTool, FailedExtractLeavesNothingAndWritesThroughNoLink) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{"--media", song}).status, 0);
    const std::string victim = Put("victim.txt", "keep me");
    const std::string preload =
        "LD_PRELOAD=" + ShellQuote(GLIMMER_FAULT_PRELOAD) + " ASAN_OPTIONS=verify_asan_link_order=0 ";
    const std::string out = dir + "/out";
    const std::pair<std::string, const char*> faults[] = {
        {"trap '' XFSZ; ulimit -f 2; ", "write failed"},
        {preload + "GLIMMER_FAIL_CLOSE=" + ShellQuote(out + "/") + " ", "No space left on device"},
        {preload + "GLIMMER_PLANT_LINK=" + ShellQuote(victim) + " ", "was replaced while it was written"},
    };
    for (const auto& [prefix, reason] : faults) {
        SCOPED_TRACE(prefix);
        Outcome o = Run({"extract", package, out}, prefix);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(reason), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out) || fs::is_symlink(out)) << "nothing is left, not even the folder it made";
        EXPECT_EQ(ReadBytesFile(victim), "keep me");
        fs::remove_all(out);
    }
    // An interrupt the very moment a new file exists, before the tool can
    // have noted it for removal.
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Outcome o = Run({"extract", package, out}, preload + "GLIMMER_INTERRUPT_AT_CREATE=" + std::to_string(signal) + " ");
        EXPECT_EQ(o.status, 128 + signal) << o.err;
        EXPECT_FALSE(fs::exists(out)) << "nothing is left, not even the folder it made";
        fs::remove_all(out);
    }

    // --overwrite whose second rename fails: the file it had replaced by
    // then stays replaced (it cannot come back), and nothing else changes.
    fs::create_directory(out);
    for (const char* name : {"Aurora.scr", "Aurora.dat", "UNINSTAL.EXE", "FILE0001.MP3"}) Put(std::string("out/") + name, "old");
    Outcome o = Run({"extract", package, out, "--overwrite"}, preload + "GLIMMER_FAIL_RENAME_AFTER=1 ");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("cannot put it in place"), std::string::npos) << o.err;
    EXPECT_EQ(ReadBytesFile(out + "/Aurora.scr"), ReadBytesFile(saver));
    for (const char* name : {"Aurora.dat", "UNINSTAL.EXE", "FILE0001.MP3"}) EXPECT_EQ(ReadBytesFile(out + "/" + name), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 4);

    // A folder or a link in the way is refused, not replaced.
    auto refused = [&](const std::string& name) {
        Outcome again = Run({"extract", package, out, "--overwrite"});
        EXPECT_EQ(again.status, 1) << name;
        EXPECT_NE(again.err.find(name + ": exists and is not a plain file"), std::string::npos) << again.err;
        EXPECT_EQ(ReadBytesFile(out + "/Aurora.scr"), ReadBytesFile(saver));
    };
    fs::remove(out + "/Aurora.dat");
    fs::create_directory(out + "/Aurora.dat");
    refused("Aurora.dat");
    EXPECT_TRUE(fs::is_directory(out + "/Aurora.dat"));
    fs::remove(out + "/Aurora.dat");
    fs::remove(out + "/UNINSTAL.EXE");
    fs::create_symlink(victim, out + "/UNINSTAL.EXE");
    refused("UNINSTAL.EXE");
    EXPECT_TRUE(fs::is_symlink(out + "/UNINSTAL.EXE"));
    EXPECT_EQ(ReadBytesFile(victim), "keep me");
}

TEST_F(PackTool, UsageErrorsExitWith2) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"build", "-o", dir + "/p.exe", "--stub", stub, "--title", "T", "--data", data, "--uninstaller", uninstaller},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--store", "--pack"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--base", "65536"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--base", "-1"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--base", "12abc"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--kind", "dash"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--frob"},
        BuildArgs(dir + "/p.exe") + std::vector<std::string>{"--media"},
        {"list"},
        {"list", "a.exe", "b.exe"},
        {"list", "a.exe", "--xml"},
        {"extract", "a.exe"},
        {"verify"},
    };
    for (const std::vector<std::string>& args : wrong) {
        Outcome o = Run(args);
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        EXPECT_EQ(o.status, 2) << joined;
        EXPECT_NE(o.err, "") << joined;
    }
    EXPECT_FALSE(fs::exists(dir + "/p.exe"));
}

TEST_F(PackTool, HelpForTheToolAndEachCommand) {
    Outcome top = Run({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("Usage: glimmer-pack"), std::string::npos);
    for (const char* command : {"build", "list", "extract", "verify"}) {
        Outcome o = Run({command, "--help"});
        EXPECT_EQ(o.status, 0) << command;
        EXPECT_NE(o.out.find(std::string("Usage: glimmer-pack ") + command), std::string::npos) << o.out;
    }
}

TEST_F(PackTool, DamagedPackagesAreRefusedByEveryReader) {
    std::string package = dir + "/p.exe";
    ASSERT_EQ(Run(BuildArgs(package)).status, 0);
    std::string bytes = ReadBytesFile(package);
    std::string cut = Put("cut.exe", bytes.substr(0, bytes.size() - 1));
    std::string plain = Put("plain.exe", "just text");
    for (const std::string& bad : {cut, plain, dir + "/missing.exe"}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"list", bad}, std::vector<std::string>{"verify", bad},
              std::vector<std::string>{"extract", bad, dir + "/out"}}) {
            Outcome o = Run(args);
            EXPECT_EQ(o.status, 1) << args[0] << " " << bad;
            EXPECT_NE(o.err.find(bad), std::string::npos) << o.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir + "/out"));

    // One stored byte left over behind the last packed stream.
    ASSERT_EQ(Run(BuildArgs(package) + std::vector<std::string>{"--pack"}).status, 0);
    bytes = ReadBytesFile(package) + "x";
    PokeU32(bytes, RecordOffsetOf(bytes, 2) + 4, PeekU32(bytes, RecordOffsetOf(bytes, 2) + 4) + 1);
    Outcome padded = Run({"verify", Put("padded.exe", bytes)});
    EXPECT_EQ(padded.status, 1);
    EXPECT_NE(padded.err.find("left over"), std::string::npos) << padded.err;
}

// Packages made by hand (not by the tool) whose names would leave the folder
// or fall on one another.
TEST_F(PackTool, ExtractNeverLeavesItsFolder) {
    std::string out = dir + "/box/inner";
    fs::create_directories(out);
    struct Case {
        const char* what;
        TestPackage package;
        // Refused by the installer's own rules, before any name is formed;
        // names falling on one another by the duplicate check.
        const char* refusal = "Windows";
    };
    std::vector<Case> cases;
    TestPackage base;
    base.title = "Sicuro";
    base.entries = {{"scr"}, {"dat"}, {"uni"}, {"media", false, ".MP3"}};
    cases.push_back({"title climbing up", base});
    cases.back().package.title = "../../escape";
    cases.push_back({"title with a backslash", base});
    cases.back().package.title = "a\\b";
    cases.push_back({"extension with a separator", base});
    cases.back().package.entries[3].extension = "/../../../x";
    cases.push_back({"a media file named as the data file", base, "share"});
    cases.back().package.title = "FILE0001";
    cases.back().package.entries[3].extension = ".dat";
    for (const Case& c : cases) {
        std::string package = Put("hostile.exe", BuildPackageBytes(c.package));
        Outcome o = Run({"extract", package, out});
        EXPECT_EQ(o.status, 1) << c.what;
        EXPECT_NE(o.err.find(c.refusal), std::string::npos) << c.what << ": " << o.err;
        EXPECT_TRUE(fs::is_empty(out)) << c.what << ": nothing is written once a name is refused";
    }
    std::vector<std::string> expected = {"aurora.dat", "aurora.scr", "box", "hostile.exe", "song.mp3",
                                         "Sound.Wav", "stub.exe", "uninst.exe"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(), expected);
    // Listed, the backslash of a title is escaped in JSON.
    Json json;
    Outcome listed = Run({"list", Put("hostile.exe", BuildPackageBytes(cases[1].package)), "--json"});
    ASSERT_TRUE(ParseJson(listed.out, &json)) << listed.out;
    EXPECT_EQ(json["title"].text, "a\\b");

    // A link planted where a file is to be written is not followed.
    std::string victim = Put("victim.txt", "keep me");
    fs::create_symlink(victim, out + "/UNINSTAL.EXE");
    std::string package = Put("fine.exe", BuildPackageBytes(base));
    Outcome o = Run({"extract", package, out});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(ReadBytesFile(victim), "keep me");
}

}  // namespace
