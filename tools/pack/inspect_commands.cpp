// glimmer-pack list, extract and verify: read a package with the installer's
// own catalogue reader and name its files with the installer's own naming.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "packed_stream.h"
#include "payload/naming.h"
#include "payload/payload.h"
#include "signing.h"
#include "tool_files.h"

const char* const kListHelp =
    "Usage: glimmer-pack list PACKAGE [--json] [-q | -v]\n"
    "\n"
    "Shows the package's title, license length and numbering base, and one row per\n"
    "file: index, role, the name the installer gives it, stored or packed, stored\n"
    "size, installed size and offset in the package. Names are shown in UTF-8.\n"
    "\n"
    "  --json   the same as one JSON object, format 1 (see docs/list-json.md)\n";

const char* const kExtractHelp =
    "Usage: glimmer-pack extract PACKAGE DIR [--overwrite] [-q | -v]\n"
    "\n"
    "Writes every file of the package into DIR (created when missing) under the name\n"
    "the installer gives it: TITLE.scr, TITLE.dat, UNINSTAL.EXE, then the media files\n"
    "(FILE0001.MP3 and so on). Names are written in UTF-8.\n"
    "\n"
    "Refuses a package that verify refuses, any name that would leave DIR, and a DIR\n"
    "that is a symbolic link. Every file is written under a temporary name and\n"
    "renamed into place only once every file has been written, put on the disk and\n"
    "every packed stream has been found sound, so a refused package, a failed\n"
    "write or an interrupt leaves no file behind (nor DIR, when extract made it).\n"
    "\n"
    "  --overwrite   replace files of the same names; without it an existing file\n"
    "                is refused before anything is written\n";

const char* const kVerifyHelp =
    "Usage: glimmer-pack verify PACKAGE [-q | -v]\n"
    "\n"
    "Checks what the format allows to be checked: the catalogue's layout (terminator\n"
    "present, title terminated, every file's data and the license inside the\n"
    "package), the title and the media extensions as the installer checks them\n"
    "before it writes anything, and every packed file decoded in full: its stream\n"
    "must take exactly its stored bytes, end at its unpacked size and never read\n"
    "what it has not written. The files' bytes themselves cannot be checked: the\n"
    "format has no checksum, so a changed stored byte is never found, and a changed\n"
    "packed byte only when its stream no longer decodes exactly. Exit status 0 when\n"
    "the package passes. A signed package's certificate table must follow every\n"
    "file's data; the signer is named, and when osslsigncode is installed it\n"
    "checks that the signature matches the file (verify fails when it does not)\n"
    "and whether the certificate is trusted on this machine.\n";

namespace {

// The catalogue of a package as the installer reads it.
struct Catalogue {
    std::string title;  // code page 1252, trailing blanks removed as the installer does
    std::uint16_t licenseLength = 0;
    std::uint16_t base = 0;
    std::vector<FileRecord> records;  // without the terminator
    PackageSignature signature;
};

// Validates the package and reads its catalogue. "" or the problem.
std::string LoadCatalogue(const std::string& path, Catalogue* catalogue) {
    char message[256];
    if (!ValidatePayload(path.c_str(), message, sizeof message)) return message;
    char title[kTitleSize] = {};
    ReadTitle(path.c_str(), title);
    StripTrailingBlanks(title);
    catalogue->title = title;
    CatalogueCursor cursor;
    if (!OpenCatalogue(path.c_str(), &cursor)) return "cannot read the catalogue";
    catalogue->licenseLength = cursor.licenseLength;
    catalogue->base = cursor.numberingBase;
    while (NextRecord(&cursor)) catalogue->records.push_back(cursor.record);
    CloseCatalogue(&cursor);
    std::string problem = ReadPackageSignature(path, &catalogue->signature);
    if (problem.empty()) problem = CheckRecordsBeforeSignature(catalogue->signature, catalogue->records);
    return problem;
}

// The stable role code of record `index`, and its wording.
struct RoleWords {
    const char* code;
    const char* text;
};

RoleWords RoleOfRecord(std::size_t index) {
    switch (RoleOf(static_cast<std::uint32_t>(index))) {
    case kRoleScreenSaver: return {"saver", "screen saver"};
    case kRoleData: return {"data", "data file"};
    case kRoleUninstaller: return {"uninstaller", "uninstaller"};
    case kRoleMedia: break;
    }
    return {"media", "media"};
}

// The class of a kind byte, as build's --kind names it.
const char* KindName(std::uint8_t kind) { return kind == 0 ? "zero" : kind == '_' ? "underscore" : "blank"; }

// The file name the installer gives record `index` (code page 1252), from
// the same naming code with empty folders. False when it does not fit.
bool InstalledName(const Catalogue& c, std::size_t index, std::string* name) {
    char baseName[kPathSize] = {};
    if (!AppendPath(baseName, c.title.c_str()) || !AppendPath(baseName, ".scr")) return false;
    char path[kPathSize];
    if (!FormTargetPath(path, static_cast<std::uint32_t>(index), c.records[index], c.base, "", "", baseName))
        return false;
    const char* start = path;
    if (RoleOf(static_cast<std::uint32_t>(index)) == kRoleScreenSaver && start[0] == '\\') ++start;  // the separator after the empty Windows folder
    *name = start;
    return true;
}

// A media record's extension field up to its first NUL, blanks at its end
// removed.
std::string ExtensionOf(const FileRecord& r) {
    std::string field(r.extension, strnlen(r.extension, kExtensionSize));
    return field.substr(0, field.find_last_not_of(' ') + 1);
}

// What the installer refuses before it writes anything: the title, a media
// extension, a name that does not fit. "" when the package passes.
std::string CheckInstallable(const Catalogue& c) {
    TitleFault titleFault = CheckTitle(c.title.c_str());
    if (titleFault != kTitleSound)
        return "the title '" + Cp1252ToUtf8(c.title) + "' cannot name a Windows file and folder: " +
               TitleRuleText(titleFault);
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        if (RoleOf(static_cast<std::uint32_t>(i)) == kRoleMedia &&
            CheckExtension(c.records[i].extension) != kExtensionSound)
            return "record " + std::to_string(i) + "'s extension '" + Cp1252ToUtf8(ExtensionOf(c.records[i])) +
                   "' is not allowed in a Windows file name";
        std::string name;
        if (!InstalledName(c, i, &name))
            return "record " + std::to_string(i) + "'s installed name does not fit 259 characters";
    }
    return "";
}

// A name that stays inside the extraction folder.
bool SafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

// What list, extract and verify begin with: the arguments (PACKAGE first,
// then what `addOptions` adds to the parser, then -q and -v), the
// verbosity, the package's catalogue, and with `mustInstall` what the
// installer refuses before it writes anything. kGoOn, or the exit code once
// the problem is said.
template <typename AddOptions>
int OpenPackageToInspect(const char* command, const char* help, const std::vector<std::string>& args, bool mustInstall,
                         AddOptions addOptions, std::string* path, Catalogue* c) {
    bool quiet = false, verbose = false;
    CLI::App app(command);
    app.add_option("PACKAGE", *path)->required();
    addOptions(app);
    AddVerbosity(app, &quiet, &verbose);
    const int parsed = ParseArguments(app, command, help, args);
    if (parsed != kGoOn) return parsed;
    g_verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
    std::string problem = LoadCatalogue(*path, c);
    if (problem.empty() && mustInstall) problem = CheckInstallable(*c);
    return problem.empty() ? kGoOn : Fail(*path, problem);
}

// A pump that counts another kPumpStep bytes of output as done.
void CountStep(void* context) { ProgressAdvance(*static_cast<Progress*>(context), kPumpStep); }

}  // namespace

int RunList(const std::vector<std::string>& args) {
    std::string path;
    bool json = false;
    Catalogue c;
    const int opened = OpenPackageToInspect(
        "list", kListHelp, args, false, [&](CLI::App& app) { app.add_flag("--json", json); }, &path, &c);
    if (opened != kGoOn) return opened;

    std::vector<std::string> names;
    std::vector<bool> named;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        std::string name;
        named.push_back(InstalledName(c, i, &name));
        names.push_back(named.back() ? Cp1252ToUtf8(name) : "");
    }

    if (json) {
        // The media records' kind: "mixed" when they differ, null without media.
        nlohmann::ordered_json kind;
        for (std::size_t i = kRoleMedia; i < c.records.size(); ++i) {
            const std::string k = KindName(c.records[i].kind);
            kind = kind.is_null() || kind == k ? nlohmann::ordered_json(k) : nlohmann::ordered_json("mixed");
        }
        nlohmann::ordered_json out = {{"format", 1},
                                      {"title", Cp1252ToUtf8(c.title)},
                                      {"kind", kind},
                                      {"numberingBase", c.base},
                                      {"licenseLength", c.licenseLength},
                                      {"license", nullptr},
                                      {"records", nlohmann::ordered_json::array()}};
        if (c.licenseLength != 0)
            out["license"] = {{"role", "license"}, {"roleText", "license text"}, {"length", c.licenseLength}};
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            const FileRecord& r = c.records[i];
            const bool media = RoleOf(static_cast<std::uint32_t>(i)) == kRoleMedia;
            nlohmann::ordered_json record = {{"index", i},
                                             {"role", RoleOfRecord(i).code},
                                             {"roleText", RoleOfRecord(i).text},
                                             {"name", nullptr},
                                             {"extension", nullptr},
                                             {"packed", r.unpackedSize != 0},
                                             {"storedSize", r.storedSize},
                                             {"unpackedSize", InstalledSize(r)},
                                             {"offset", r.offset}};
            if (named[i]) record["name"] = names[i];
            if (media) record["extension"] = Cp1252ToUtf8(ExtensionOf(r));
            out["records"].push_back(record);
        }
        std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        return kExitOk;
    }

    std::size_t width = 10;  // "(too long)"
    for (const std::string& n : names) width = std::max(width, Characters(n));
    std::printf("Title:          %s\n", Cp1252ToUtf8(c.title).c_str());
    std::printf("License text:   %u bytes\n", static_cast<unsigned>(c.licenseLength));
    std::printf("Numbering base: %u\n", static_cast<unsigned>(c.base));
    std::printf("Files:          %zu\n\n", c.records.size());
    std::printf("%5s  %-12s  %s  %-6s  %10s  %10s  %10s\n", "Index", "Role",
                ("Name" + std::string(width - 4, ' ')).c_str(), "Coding", "Stored", "Unpacked", "Offset");
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        const FileRecord& r = c.records[i];
        std::string name = named[i] ? names[i] : "(too long)";
        name += std::string(width - Characters(name), ' ');
        std::printf("%5zu  %-12s  %s  %-6s  %10lu  %10lu  %10lu\n", i, RoleOfRecord(i).text, name.c_str(),
                    r.unpackedSize ? "packed" : "stored", static_cast<unsigned long>(r.storedSize),
                    static_cast<unsigned long>(InstalledSize(r)), static_cast<unsigned long>(r.offset));
    }
    return kExitOk;
}

namespace {

// A file written by this run under a temporary name in the target folder.
struct WrittenFile {
    std::string name;  // "" once renamed into place or removed
    FileFacts facts;   // which file it is, to tell it from a name replaced meanwhile
    int interruptSlot = -1;
};

// Writing the extracted files: each one new under a temporary name of its
// own in the target folder, written through the file the creation opened,
// and renamed to its name only when every file is written, on the disk and
// sound.
struct Extraction {
    std::string folder;
    ToolFolder open;
    std::vector<WrittenFile> temporaries;
    std::vector<std::string> placed;  // names renamed into place by this run
    bool created = false;             // the folder was made by this run
    int folderSlot = -1;

    ~Extraction() {
        for (WrittenFile& t : temporaries)
            if (!t.name.empty() && RemoveIn(open, t.name)) t.name.clear();
        CloseFolder(&open);
        if (created) RemoveEmptyFolder(folder);  // only when nothing is left in it
        KeepOnInterrupt(folderSlot);
    }
};

// Opens (creating when missing) the target folder; refuses a link.
std::string OpenTargetFolder(Extraction& x) {
    // A final separator would make the system follow a link ("C:\" stays).
    while (x.folder.size() > 1 && std::strchr(kPathSeparators, x.folder.back()) &&
           x.folder[x.folder.size() - 2] != ':')
        x.folder.pop_back();
    FileFacts facts;
    // A name that cannot be looked at is created, which tells why it fails.
    if (!LookAt(x.folder, false, &facts) || facts.kind == FileKind::Missing) {
        HoldInterrupts();
        const bool made = MakeFolders(x.folder);
        const std::string problem = made ? "" : "cannot create the folder: " + SystemProblem();
        if (made) {
            x.created = true;
            x.folderSlot = RemoveOnInterrupt(x.folder, true);
        }
        ReleaseInterrupts();
        if (!made) return problem;
    } else if (facts.kind == FileKind::Link) {
        return "is a symbolic link; extract writes only into a real folder";
    } else if (facts.kind != FileKind::Folder) {
        return "exists and is not a folder";
    }
    if (!OpenFolder(x.folder, &x.open)) return "cannot open the folder: " + SystemProblem();
    return "";
}

// Copies the stored entry `r` of `package` to `out` (a file of the tool's
// platform table, as the decoder's output is), counting progress: "",
// "read" or "write" for the side that failed.
std::string CopyStored(OsFile package, const FileRecord& r, ToolFile out, Progress& progress) {
    if (g_platform->FileSeek(package, r.offset) != static_cast<std::int64_t>(r.offset)) return "read";
    std::vector<char> buffer(1 << 20);
    std::uint32_t left = r.storedSize;
    while (left > 0) {
        std::uint32_t want = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(buffer.size()));
        std::int32_t got = g_platform->FileRead(package, buffer.data(), want);
        if (got != static_cast<std::int32_t>(want)) return "read";
        if (g_platform->FileWrite(out, buffer.data(), want) != static_cast<std::int32_t>(want)) return "write";
        left -= want;
        ProgressAdvance(progress, want);
    }
    return "";
}

// Writes record `i` of the package into a new temporary file of the
// folder: "" or the problem.
std::string ExtractRecord(Extraction& x, const std::string& path, OsFile package, const Catalogue& c, std::size_t i,
                          const std::string& name, const PumpControl* pump, Progress& progress) {
    const FileRecord& r = c.records[i];
    WrittenFile written;
    HoldInterrupts();
    const ToolFile out = CreateTemporaryIn(x.open, ".glimmer-extract-", &written.name);
    const std::string notCreated = out == kNoToolFile ? x.folder + ": cannot create a file: " + SystemProblem() : "";
    if (out != kNoToolFile) written.interruptSlot = RemoveOnInterrupt(x.folder + "/" + written.name);
    ReleaseInterrupts();
    if (out == kNoToolFile) return notCreated;
    const bool known = FactsOf(out, &written.facts);
    x.temporaries.push_back(written);
    std::string problem;
    if (written.interruptSlot < 0) {
        problem = x.folder + ": too many files to extract in one run";
    } else if (!known) {
        problem = x.folder + "/" + written.name + ": " + SystemProblem();
    } else if (r.unpackedSize == 0) {
        problem = CopyStored(package, r, out, progress);
        if (!problem.empty()) problem = (problem == "write" ? x.folder + "/" + name + ": write failed: " + SystemProblem()
                                                             : path + ": record " + std::to_string(i) + " (" + name +
                                                                   ") cannot be copied whole");
    } else {
        PackedStreamOutcome outcome = DecodePackedEntry(package, r, out, pump);
        if (outcome.writeFailed)
            problem = x.folder + "/" + name + ": write failed: " + SystemProblem();
        else if (!Sound(outcome))
            problem = path + ": record " + std::to_string(i) + " (" + name + ") is damaged: " + DescribeOutcome(outcome);
    }
    // A full disk may show only when the file is flushed or closed.
    if (problem.empty() && !FlushToDisk(out)) problem = x.folder + "/" + name + ": write failed: " + SystemProblem();
    if (!CloseFile(out) && problem.empty()) problem = x.folder + "/" + name + ": write failed: " + SystemProblem();
    return problem;
}

// Renames every temporary file to its name, once each is found to be still
// the file this run wrote; without `overwrite` never over an existing file.
std::string PlaceFiles(Extraction& x, const std::vector<std::string>& names, bool overwrite) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        FileFacts now;
        const WrittenFile& t = x.temporaries[i];
        if (!LookIn(x.open, t.name, &now)) return x.folder + "/" + t.name + ": " + SystemProblem();
        if (now.kind != FileKind::Regular || now.volume != t.facts.volume || now.index != t.facts.index)
            return x.folder + "/" + t.name + ": was replaced while it was written (by a link or another file); "
                                             "nothing is put in place";
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        WrittenFile& t = x.temporaries[i];
        if (!RenameIn(x.open, t.name, names[i], overwrite))
            return x.folder + "/" + names[i] + ": cannot put it in place: " + SystemProblem();
        x.placed.push_back(names[i]);
        t.name.clear();
        KeepOnInterrupt(t.interruptSlot);
    }
    return "";
}

}  // namespace

int RunExtract(const std::vector<std::string>& args) {
    std::string path, folder;
    bool overwrite = false;
    Catalogue c;
    const int opened = OpenPackageToInspect(
        "extract", kExtractHelp, args, true,
        [&](CLI::App& app) {
            app.add_option("DIR", folder)->required();
            app.add_flag("--overwrite", overwrite);
        },
        &path, &c);
    if (opened != kGoOn) return opened;
    std::string problem;

    // Every name is checked before anything is written.
    std::vector<std::string> names;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        std::string name;
        InstalledName(c, i, &name);
        name = Cp1252ToUtf8(name);
        if (!SafeName(name))
            return Fail(path, "record " + std::to_string(i) + "'s installed name '" + name +
                                  "' would leave the target folder");
        for (const std::string& n : names)
            if (n == name) return Fail(path, "two records share the name '" + name + "'");
        names.push_back(name);
        total += InstalledSize(c.records[i]);
    }

    Extraction x;
    x.folder = folder;
    problem = OpenTargetFolder(x);
    if (!problem.empty()) return Fail(folder, problem);
    for (const std::string& name : names) {
        FileFacts facts;
        if (!LookIn(x.open, name, &facts)) return Fail(x.folder + "/" + name, SystemProblem());
        if (facts.kind == FileKind::Missing) continue;
        if (!overwrite) return Fail(x.folder + "/" + name, "exists; not overwritten (--overwrite replaces it)");
        if (facts.kind != FileKind::Regular) return Fail(x.folder + "/" + name, "exists and is not a plain file; not replaced");
    }

    OsFile package = g_platform->FileOpenRead(path.c_str());
    if (package == kNoFile) return Fail(path, "cannot open: " + SystemProblem());
    x.temporaries.reserve(c.records.size());
    Progress progress = StartProgress(total);
    PumpControl pump = {CountStep, nullptr, &progress};
    std::uint64_t done = 0, stored = 0;
    for (std::size_t i = 0; i < c.records.size() && problem.empty(); ++i) {
        const FileRecord& r = c.records[i];
        ProgressFile(progress, "extracting", names[i]);
        problem = ExtractRecord(x, path, package, c, i, names[i], &pump, progress);
        done += InstalledSize(r);
        stored += r.storedSize;
        progress.done = done;
        Detail(names[i] + ": " + (r.unpackedSize ? "decoded " : "copied ") + std::to_string(InstalledSize(r)) +
               " bytes");
    }
    g_platform->FileClose(package);
    if (problem.empty()) problem = PlaceFiles(x, names, overwrite);
    EndProgress(progress);
    if (!problem.empty()) {
        // Files this run put in place new go again; replaced ones cannot
        // come back, and the new ones stay in their place.
        if (!overwrite)
            for (const std::string& name : x.placed) RemoveIn(x.open, name);
        std::cerr << "glimmer-pack: " << problem << "\n";
        return kExitFailed;
    }
    x.created = false;  // the folder stays, with the files
    Summary("extracted " + std::to_string(names.size()) + " files into " + folder + ": " + FormatBytes(stored) +
            " in, " + FormatBytes(done) + " out, " + FormatSeconds(Elapsed(progress)));
    return kExitOk;
}

int RunVerify(const std::vector<std::string>& args) {
    std::string path;
    Catalogue c;
    const int opened = OpenPackageToInspect("verify", kVerifyHelp, args, true, [](CLI::App&) {}, &path, &c);
    if (opened != kGoOn) return opened;
    std::string problem;

    OsFile package = g_platform->FileOpenRead(path.c_str());
    if (package == kNoFile) return Fail(path, "cannot open: " + SystemProblem());
    std::uint64_t total = 0;
    for (const FileRecord& r : c.records) total += r.unpackedSize;
    Progress progress = StartProgress(total);
    PumpControl pump = {CountStep, nullptr, &progress};
    std::size_t packed = 0;
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < c.records.size() && problem.empty(); ++i) {
        const FileRecord& r = c.records[i];
        if (r.unpackedSize == 0) continue;
        ProgressFile(progress, "decoding", "record " + std::to_string(i));
        PackedStreamOutcome outcome = DecodePackedEntry(package, r, kNoFile, &pump);
        if (!Sound(outcome)) problem = "record " + std::to_string(i) + " is damaged: " + DescribeOutcome(outcome);
        done += r.unpackedSize;
        progress.done = done;
        ++packed;
        Detail("record " + std::to_string(i) + ": packed stream decodes to " + std::to_string(r.unpackedSize) +
               " bytes");
    }
    g_platform->FileClose(package);
    EndProgress(progress);
    if (problem.empty()) problem = CheckSignatureMatch(path, &c.signature);
    if (problem.empty() && c.signature.checked && !c.signature.matches) problem = SignatureLine(c.signature);
    if (!problem.empty()) return Fail(path, problem);
    Summary(path + ": layout and sizes sound, every packed stream decodes to its stated size (" +
            std::to_string(c.records.size()) + " files, " + std::to_string(packed) +
            " packed); stored bytes cannot be checked: the format has no checksum");
    Summary(path + ": " + SignatureLine(c.signature));
    return kExitOk;
}
