// glimmer-pack list, extract and verify: read a package with the installer's
// own catalogue reader and name its files with the installer's own naming.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "payload/naming.h"
#include "package_format.h"
#include "payload/decoder.h"
#include "payload/payload.h"
#include "signing.h"

const char* const kListHelp =
    "Usage: glimmer-pack list PACKAGE [--json]\n"
    "\n"
    "Shows the package's title, license length and numbering base, and one row per\n"
    "file: index, role, the name the installer gives it, stored or packed, stored\n"
    "size, installed size and offset in the package. Names are shown in UTF-8.\n"
    "\n"
    "  --json   the same as one JSON object: title, licenseLength, numberingBase and\n"
    "           records [{index, role, name, packed, storedSize, unpackedSize,\n"
    "           offset}] (unpackedSize is the installed size, also when stored)\n";

const char* const kExtractHelp =
    "Usage: glimmer-pack extract PACKAGE DIR\n"
    "\n"
    "Writes every file of the package into DIR (created when missing) under the name\n"
    "the installer gives it: TITLE.scr, TITLE.dat, UNINSTAL.EXE, then the media files\n"
    "(FILE0001.MP3 and so on). Names are written in UTF-8. Refuses a package that\n"
    "fails validation and any name that would leave DIR.\n";

const char* const kVerifyHelp =
    "Usage: glimmer-pack verify PACKAGE\n"
    "\n"
    "Validates the catalogue (terminator present, title terminated, every file's data\n"
    "inside the package, license inside the package), checks the title and the media\n"
    "extensions as the installer does before it writes anything, and decodes every\n"
    "packed file in full: its stream must take exactly its stored bytes, end at its\n"
    "unpacked size and never read what it has not written. Exit status 0 when the\n"
    "package is sound. A signed package's certificate table must follow every\n"
    "file's data; the signer is named, but the signature is not checked.\n";

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

const char* Role(std::size_t index) {
    switch (RoleOf(static_cast<std::uint32_t>(index))) {
    case kRoleScreenSaver: return "screen saver";
    case kRoleData: return "data file";
    case kRoleUninstaller: return "uninstaller";
    case kRoleMedia: break;
    }
    return "media";
}

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

// A name that stays inside the extraction folder.
bool SafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

// Characters in UTF-8 text, for lining up columns.
std::size_t Characters(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

// Positional arguments, with "--" ending the options. Returns kExitOk or a
// usage error; `flags` lists the accepted flags, set in `seen`.
int Positionals(const std::string& command, const std::vector<std::string>& args,
                const std::vector<std::string>& flags, std::vector<std::string>* positional,
                std::vector<bool>* seen, std::size_t wanted) {
    seen->assign(flags.size(), false);
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && arg.size() > 1 && arg[0] == '-') {
            std::size_t k = 0;
            while (k < flags.size() && flags[k] != arg) ++k;
            if (k == flags.size()) return UsageError(command + ": unknown option '" + arg + "'");
            (*seen)[k] = true;
            continue;
        }
        positional->push_back(arg);
    }
    if (positional->size() != wanted)
        return UsageError(command + ": expected " + std::to_string(wanted) + " argument" +
                          (wanted == 1 ? "" : "s") + ", got " + std::to_string(positional->size()));
    return kExitOk;
}

// What is wrong with a packed stream, from the decoder's StreamFaults.
std::string DescribeStreamFaults(int faults) {
    static const struct {
        int bit;
        const char* text;
    } kFaults[] = {
        {kStreamInputCut, "the package ends inside its data"},
        {kStreamUnfinished, "it stops before its unpacked size"},
        {kStreamPastEnd, "its stream needs more bytes than are stored"},
        {kStreamOverran, "its last code runs past the unpacked size"},
        {kStreamUnwrittenRead, "it reads window bytes it never wrote"},
        {kStreamLeftOver, "stored bytes are left over after the unpacked size"},
    };
    std::string text;
    for (const auto& f : kFaults)
        if (faults & f.bit) text += (text.empty() ? "" : ", ") + std::string(f.text);
    return text;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::vector<bool> seen;
    int usage = Positionals("list", args, {"--json"}, &positional, &seen, 1);
    if (usage != kExitOk) return usage;
    const std::string& path = positional[0];
    Catalogue c;
    std::string problem = LoadCatalogue(path, &c);
    if (!problem.empty()) return Fail(path, problem);

    std::vector<std::string> names;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        std::string name;
        names.push_back(InstalledName(c, i, &name) ? Cp1252ToUtf8(name) : "");
    }

    if (seen[0]) {
        std::cout << "{\n  \"title\": " << JsonString(Cp1252ToUtf8(c.title)) << ",\n"
                  << "  \"licenseLength\": " << c.licenseLength << ",\n"
                  << "  \"numberingBase\": " << c.base << ",\n"
                  << "  \"records\": [";
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            const FileRecord& r = c.records[i];
            std::cout << (i ? ",\n" : "\n") << "    {\"index\": " << i << ", \"role\": " << JsonString(Role(i))
                      << ", \"name\": " << JsonString(names[i])
                      << ", \"packed\": " << (r.unpackedSize != 0 ? "true" : "false")
                      << ", \"storedSize\": " << r.storedSize << ", \"unpackedSize\": " << InstalledSize(r)
                      << ", \"offset\": " << r.offset << "}";
        }
        std::cout << (c.records.empty() ? "]\n}\n" : "\n  ]\n}\n");
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
        std::string name = names[i].empty() ? "(too long)" : names[i];
        name += std::string(width - Characters(name), ' ');
        std::printf("%5zu  %-12s  %s  %-6s  %10lu  %10lu  %10lu\n", i, Role(i), name.c_str(),
                    r.unpackedSize ? "packed" : "stored", static_cast<unsigned long>(r.storedSize),
                    static_cast<unsigned long>(InstalledSize(r)), static_cast<unsigned long>(r.offset));
    }
    return kExitOk;
}

int RunExtract(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::vector<bool> seen;
    int usage = Positionals("extract", args, {}, &positional, &seen, 2);
    if (usage != kExitOk) return usage;
    const std::string& path = positional[0];
    const std::string& folder = positional[1];
    Catalogue c;
    std::string problem = LoadCatalogue(path, &c);
    if (!problem.empty()) return Fail(path, problem);

    // Every name is checked before anything is written.
    std::vector<std::string> targets;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        std::string name;
        if (!InstalledName(c, i, &name))
            return Fail(path, "record " + std::to_string(i) + "'s installed name does not fit 259 characters");
        name = Cp1252ToUtf8(name);
        if (!SafeName(name))
            return Fail(path, "record " + std::to_string(i) + "'s installed name '" + name +
                                  "' would leave the target folder");
        for (const std::string& t : targets)
            if (t == folder + "/" + name) return Fail(path, "two records share the name '" + name + "'");
        targets.push_back(folder + "/" + name);
    }

    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder)) return Fail(folder, "not a folder and cannot be created");

    std::string bytes;
    if (!ReadWholeFile(path, &bytes, &problem)) return Fail(path, problem);
    Progress progress = StartProgress();
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        const FileRecord& r = c.records[i];
        const std::string& target = targets[i];
        struct stat st;
        if (lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            EndProgress(progress);
            return Fail(target, "exists and is not a plain file; not overwritten");
        }
        ShowProgress(progress, "extracting " + target, InstalledSize(r));
        bool ok = false;
        if (r.unpackedSize == 0) {
            OsFile out = g_platform->FileCreate(target.c_str());
            ok = out != kNoFile && g_platform->FileWrite(out, bytes.data() + r.offset, r.storedSize) ==
                                       static_cast<std::int32_t>(r.storedSize);
            if (out != kNoFile) g_platform->FileClose(out);
        } else {
            ok = DecodeEntry(path.c_str(), r.offset, r.unpackedSize, r.storedSize, target.c_str(), nullptr) ==
                     kDecodeDone &&
                 std::filesystem::file_size(target, error) == r.unpackedSize && !error;
        }
        if (!ok) {
            EndProgress(progress);
            std::remove(target.c_str());
            return Fail(target, "cannot write it");
        }
        std::cout << target << "\n";
    }
    EndProgress(progress);
    return kExitOk;
}

int RunVerify(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::vector<bool> seen;
    int usage = Positionals("verify", args, {}, &positional, &seen, 1);
    if (usage != kExitOk) return usage;
    const std::string& path = positional[0];
    Catalogue c;
    std::string problem = LoadCatalogue(path, &c);
    if (!problem.empty()) return Fail(path, problem);

    // The installer refuses these before it writes anything.
    TitleFault titleFault = CheckTitle(c.title.c_str());
    if (titleFault != kTitleSound)
        return Fail(path, "the title '" + Cp1252ToUtf8(c.title) + "' cannot name a Windows file and folder: " +
                              TitleRuleText(titleFault));
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        std::string name;
        if (RoleOf(static_cast<std::uint32_t>(i)) == kRoleMedia &&
            CheckExtension(c.records[i].extension) != kExtensionSound)
            return Fail(path, "record " + std::to_string(i) + "'s extension '" +
                                  Cp1252ToUtf8(std::string(c.records[i].extension,
                                                           strnlen(c.records[i].extension, kExtensionSize))) +
                                  "' is not allowed in a Windows file name");
        if (!InstalledName(c, i, &name))
            return Fail(path, "record " + std::to_string(i) + "'s installed name does not fit 259 characters");
    }

    Progress progress = StartProgress();
    std::size_t packed = 0;
    for (std::size_t i = 0; i < c.records.size() && problem.empty(); ++i) {
        const FileRecord& r = c.records[i];
        if (r.unpackedSize == 0) continue;
        ShowProgress(progress, "decoding record " + std::to_string(i) + " of " + std::to_string(c.records.size()),
                     r.unpackedSize);
        OsFile in = g_platform->FileOpenRead(path.c_str());
        if (in == kNoFile || g_platform->FileSeek(in, r.offset) != r.offset) {
            problem = "cannot read record " + std::to_string(i);
        } else {
            StreamResult checked = CheckStream(in, static_cast<std::int32_t>(r.unpackedSize),
                                               static_cast<std::int32_t>(r.storedSize), nullptr);
            // Exactly the stored bytes, none left over: as glimmer-pack
            // writes streams.
            int faults = StreamFaults(checked, r.storedSize, 0);
            if (faults != kStreamSound)
                problem = "record " + std::to_string(i) + " is damaged: " + DescribeStreamFaults(faults);
            ++packed;
        }
        if (in != kNoFile) g_platform->FileClose(in);
    }
    EndProgress(progress);
    if (!problem.empty()) return Fail(path, problem);
    std::printf("%s: sound: %zu files, %zu packed and decoded in full\n", path.c_str(), c.records.size(), packed);
    std::printf("%s: %s\n", path.c_str(), SignatureLine(c.signature).c_str());
    return kExitOk;
}
