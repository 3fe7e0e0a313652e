// glimmer-pack build: the stub cut at its payload anchor, the catalogue, then
// every entry's data, written to a temporary file beside the output and
// renamed into place only when everything succeeded.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "payload/payload.h"
#include "signing.h"
#include "stub_location.h"

const char* const kBuildHelp =
    "Usage: glimmer-pack build -o OUT.exe [--stub STUB.exe] --title TITLE\n"
    "                          --saver FILE --data FILE --uninstaller FILE\n"
    "                          [--media FILE]... [--license FILE] [--base N]\n"
    "                          [--kind blank|zero|underscore] [--store | --pack]\n"
    "                          [--sign-cert CERT.pem --sign-key KEY.pem [--timestamp URL]]\n"
    "\n"
    "Joins the payload to the installer stub. Records 0 to 2 are the screen saver,\n"
    "its data file and the uninstaller; the media files follow in the order given.\n"
    "\n"
    "  -o OUT.exe          the package to write (typically the title with \".exe\")\n"
    "  --stub STUB.exe     the installer stub; its first resource's data must be its\n"
    "                      last bytes (default: the installed one,\n"
    "                      ../share/glimmer-pack/stub.exe from the program's folder)\n"
    "  --title TITLE       the screen saver's name (UTF-8, stored in code page 1252,\n"
    "                      at most 259 bytes, a valid Windows file name)\n"
    "  --saver FILE        the screen saver, installed as TITLE.scr\n"
    "  --data FILE         its data file, installed as TITLE.dat\n"
    "  --uninstaller FILE  the uninstaller, installed as UNINSTAL.EXE\n"
    "  --media FILE        a media file, installed as FILE0001.EXT and so on\n"
    "  --license FILE      license text (UTF-8 or code page 1252, at most 65535\n"
    "                      bytes once stored with CR LF line ends)\n"
    "  --base N            number of the first media file (0 to 65535, default 1)\n"
    "  --kind KIND         media name prefix: blank FILE (default), zero JUKE,\n"
    "                      underscore JUK_\n"
    "  --store             store every file verbatim\n"
    "  --pack              pack every file (default: pack a file when that makes it\n"
    "                      smaller)\n"
    "  --sign-cert CERT.pem  sign the package as 'glimmer-pack sign' does, with this\n"
    "  --sign-key KEY.pem    certificate and key\n"
    "  --timestamp URL     the time-stamping server for the signature\n";

namespace {

// The temporary output, removed if the build is interrupted.
char g_temporary[4096];

void RemoveTemporaryAndExit(int signal) {
    if (g_temporary[0] != '\0') unlink(g_temporary);
    std::_Exit(128 + signal);
}

struct BuildOptions {
    std::string output, stub, title, saver, data, uninstaller, license;
    std::string signCert, signKey, timestamp;
    std::vector<std::string> media;
    std::uint16_t base = 1;
    std::uint8_t kind = ' ';
    PackChoice choice = PackChoice::Smaller;
};

bool ParseBase(const std::string& text, std::uint16_t* base) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > 65535) return false;
    *base = static_cast<std::uint16_t>(value);
    return true;
}

// Fills `options`; returns kExitOk or the usage error's exit code.
int ParseBuild(const std::vector<std::string>& args, BuildOptions* options) {
    bool store = false, pack = false;
    std::set<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string value;
        bool missing = false;
        auto option = [&](const char* name) {
            if (!TakeOption(args, i, name, &value, &missing)) return false;
            given.insert(name);
            return true;
        };
        if (option("-o") || option("--output")) {
            options->output = value;
        } else if (option("--stub")) {
            options->stub = value;
        } else if (option("--title")) {
            options->title = value;
        } else if (option("--saver")) {
            options->saver = value;
        } else if (option("--data")) {
            options->data = value;
        } else if (option("--uninstaller")) {
            options->uninstaller = value;
        } else if (option("--media")) {
            if (!missing) options->media.push_back(value);
        } else if (option("--license")) {
            options->license = value;
        } else if (option("--base")) {
            if (!missing && !ParseBase(value, &options->base))
                return UsageError("--base needs a number from 0 to 65535, not '" + value + "'");
        } else if (option("--kind")) {
            if (missing) {
            } else if (value == "blank") {
                options->kind = ' ';
            } else if (value == "zero") {
                options->kind = 0;
            } else if (value == "underscore") {
                options->kind = '_';
            } else {
                return UsageError("--kind is blank, zero or underscore, not '" + value + "'");
            }
        } else if (option("--sign-cert")) {
            options->signCert = value;
        } else if (option("--sign-key")) {
            options->signKey = value;
        } else if (option("--timestamp")) {
            options->timestamp = value;
        } else if (args[i] == "--store") {
            store = true;
        } else if (args[i] == "--pack") {
            pack = true;
        } else {
            return UsageError("build: unknown argument '" + args[i] + "'");
        }
        if (missing) return UsageError("build: " + args[i] + " needs a value");
    }
    if (store && pack) return UsageError("build: --store and --pack exclude each other");
    options->choice = store ? PackChoice::Store : pack ? PackChoice::Pack : PackChoice::Smaller;
    if (given.count("--sign-cert") != given.count("--sign-key") ||
        (given.count("--timestamp") && !given.count("--sign-cert")))
        return UsageError("build: --sign-cert and --sign-key go together (and --timestamp with them)");
    for (const char* name : {"--title", "--saver", "--data", "--uninstaller"})
        if (!given.count(name)) return UsageError(std::string("build: ") + name + " is required");
    if (!given.count("-o") && !given.count("--output")) return UsageError("build: -o is required");
    return kExitOk;
}

// The license file as the catalogue stores it: code page 1252 (converted
// from UTF-8 when the file is valid UTF-8, else taken as it stands) with
// CR LF line ends, since the license dialog's edit control breaks lines only
// there.
bool PrepareLicense(const std::string& raw, std::string* text, std::string* problem) {
    std::string cp1252;
    if (!Utf8ToCp1252(raw, &cp1252)) {
        // Valid UTF-8 that the code page cannot hold is refused rather than
        // stored garbled; anything else is taken as code page 1252 already.
        if (IsValidUtf8(raw)) {
            *problem = "holds characters that code page 1252 lacks";
            return false;
        }
        cp1252 = raw;
    }
    if (cp1252.find('\0') != std::string::npos) {
        *problem = "holds a NUL byte; the installer would show only the text before it";
        return false;
    }
    text->clear();
    for (std::size_t i = 0; i < cp1252.size(); ++i) {
        if (cp1252[i] == '\n' && (i == 0 || cp1252[i - 1] != '\r')) *text += '\r';
        *text += cp1252[i];
    }
    if (text->size() > kMaxLicenseLength) {
        *problem = "is " + std::to_string(text->size()) + " bytes long as stored; at most 65535 fit";
        return false;
    }
    return true;
}

// Writes `parts` to a temporary file in the output's folder, validates it as
// the installer will, and renames it to `output`. Nothing is left behind on
// failure, and an existing `output` is replaced only on success.
bool WriteAtomically(const std::string& output, const std::vector<const std::string*>& parts,
                     std::string* problem) {
    std::string pattern = output + ".XXXXXX";
    if (pattern.size() >= sizeof g_temporary) {
        *problem = "path too long";
        return false;
    }
    std::memcpy(g_temporary, pattern.c_str(), pattern.size() + 1);
    int fd = mkstemp(g_temporary);
    if (fd < 0) {
        *problem = std::string("cannot create a temporary file beside it: ") + std::strerror(errno);
        g_temporary[0] = '\0';
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0777 & ~mask) == 0;
    for (const std::string* part : parts) {
        std::size_t done = 0;
        while (ok && done < part->size()) {
            ssize_t n = write(fd, part->data() + done, part->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok = false;
            else done += static_cast<std::size_t>(n);
        }
    }
    if (!ok) *problem = std::string("write failed: ") + std::strerror(errno);
    if (ok && fsync(fd) != 0) {
        *problem = std::string("write failed: ") + std::strerror(errno);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        *problem = std::string("write failed: ") + std::strerror(errno);
        ok = false;
    }
    char message[256];
    if (ok && !ValidatePayload(g_temporary, message, sizeof message)) {
        *problem = std::string("the package written does not validate: ") + message;
        ok = false;
    }
    if (ok && std::rename(g_temporary, output.c_str()) != 0) {
        *problem = std::string("cannot rename the temporary file into place: ") + std::strerror(errno);
        ok = false;
    }
    if (!ok) unlink(g_temporary);
    g_temporary[0] = '\0';
    return ok;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
    BuildOptions options;
    int usage = ParseBuild(args, &options);
    if (usage != kExitOk) return usage;

    std::string stub, problem;
    if (options.stub.empty()) {
        options.stub = InstalledStub(&problem);
        if (options.stub.empty()) return UsageError("build: --stub is required: no installed stub (" + problem + ")");
    }
    if (!options.signCert.empty() && !(problem = SigningProblem(options.signCert, options.signKey)).empty()) {
        std::cerr << "glimmer-pack: " << problem << "\n";
        return kExitFailed;
    }
    if (!ReadWholeFile(options.stub, &stub, &problem)) return Fail(options.stub, problem);
    StubAnchor anchor;
    problem = FindStubAnchor(stub, &anchor);
    if (problem.empty()) problem = CheckStubCut(stub, anchor);
    if (!problem.empty()) return Fail(options.stub, "unusable stub: " + problem);

    std::string title;
    if (!Utf8ToCp1252(options.title, &title))
        return Fail("--title", "not valid UTF-8, or holds characters that code page 1252 lacks");
    problem = TitleProblem(title);
    if (!problem.empty()) return Fail("--title", problem);

    std::string license;
    if (!options.license.empty()) {
        std::string raw;
        if (!ReadWholeFile(options.license, &raw, &problem)) return Fail(options.license, problem);
        if (!PrepareLicense(raw, &license, &problem)) return Fail(options.license, "license text " + problem);
    }

    struct Input {
        std::string path, extension;
        std::uint8_t kind;
    };
    std::vector<Input> inputs = {
        {options.saver, ".TMP", ' '}, {options.data, ".TMP", ' '}, {options.uninstaller, ".TMP", ' '}};
    for (const std::string& media : options.media) {
        std::string extension = MediaExtension(media);
        problem = ExtensionProblem(extension);
        if (!problem.empty()) return Fail(media, problem);
        inputs.push_back({media, extension, options.kind});
    }

    // The installer refuses a package whose paths do not fit on the machine
    // at hand: refuse one that fits on none, warn about one that does not
    // fit under Windows' default folders. Known before anything is packed.
    std::vector<FileRecord> records;
    for (const Input& input : inputs) {
        FileRecord r{};
        std::memset(r.extension, ' ', kExtensionSize);
        std::memcpy(r.extension, input.extension.data(), std::min<std::size_t>(input.extension.size(), kExtensionSize));
        r.kind = input.kind;
        records.push_back(r);
    }
    problem = PathLengthProblem(title, options.base, records);
    if (!problem.empty()) return Fail("--title", problem);
    std::string warning = PathLengthWarning(title, options.base, records);
    if (!warning.empty()) std::cerr << "glimmer-pack: warning: --title: " << warning << "\n";

    std::vector<CatalogueEntry> entries;
    std::uint64_t total = anchor.dataOffset + FirstRecordOffset(static_cast<std::uint32_t>(license.size())) +
                          (inputs.size() + 1) * kRecordSize;
    Progress progress = StartProgress();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::string data;
        if (!ReadWholeFile(inputs[i].path, &data, &problem)) return Fail(inputs[i].path, problem);
        // A stored size of 0 marks the end of the catalogue, so an empty
        // file cannot be carried.
        if (data.empty()) return Fail(inputs[i].path, "empty file; a package cannot carry a file of 0 bytes");
        if (data.size() >= kMaxPackageSize) return Fail(inputs[i].path, "file too large (2 GB or more)");
        ShowProgress(progress, "packing " + BaseName(inputs[i].path) + " (" + std::to_string(i + 1) + "/" +
                                   std::to_string(inputs.size()) + ")",
                     data.size());
        entries.push_back(PrepareEntry(data, options.choice, inputs[i].extension, inputs[i].kind));
        total += entries.back().stored.size();
        if (total > kMaxPackageSize) {
            EndProgress(progress);
            return Fail(options.output, "package would reach 2 GB; offsets and sizes must stay below 2^31");
        }
    }
    EndProgress(progress);

    std::string head = stub.substr(0, anchor.dataOffset);
    std::string payload = LayOutPayload(anchor.dataOffset, title, license, options.base, entries);
    // The stub's resource section may declare raw data past its anchor;
    // Windows refuses an image whose file ends before its sections do.
    std::string padding;
    std::uint64_t needed = SectionsEnd(stub);
    if (head.size() + payload.size() < needed) padding.assign(needed - head.size() - payload.size(), '\0');

    std::signal(SIGINT, RemoveTemporaryAndExit);
    std::signal(SIGTERM, RemoveTemporaryAndExit);
    std::signal(SIGHUP, RemoveTemporaryAndExit);
    if (!WriteAtomically(options.output, {&head, &payload, &padding}, &problem))
        return Fail(options.output, problem);
    if (!options.signCert.empty()) {
        problem = SignPackage({options.output, options.output, options.signCert, options.signKey, options.timestamp});
        if (!problem.empty()) {
            unlink(options.output.c_str());
            std::cerr << "glimmer-pack: " << problem << "\n";
            return kExitFailed;
        }
    }
    return kExitOk;
}
