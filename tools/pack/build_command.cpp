// glimmer-pack build: the stub cut at its payload anchor, the catalogue, then
// every entry's data, written to a temporary file beside the output and
// renamed into place only when everything succeeded.
//
// Every input is checked before the output is begun. The entries are then
// streamed: a stored file is copied in pieces of a megabyte, a packed file
// is held whole only while it is packed (the encoder takes its input in one
// piece), and the catalogue, whose records need every stored size, is
// written last into the room left for it.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "package_file.h"
#include "package_format.h"
#include "encoder/encoder.h"
#include "payload/payload.h"
#include "signing.h"
#include "slideshow.h"
#include "stub_location.h"
#include "text_input.h"
#include "tool_files.h"

const char* const kBuildHelp =
    "Usage: glimmer-pack build [PACKAGE.toml] -o OUT.exe [--stub STUB.exe] --title TITLE\n"
    "                          --saver FILE --data FILE [--uninstaller FILE]\n"
    "                          [--media FILE]... [--license FILE] [--base N]\n"
    "                          [--kind blank|zero|underscore] [--store | --pack]\n"
    "                          [--sign-cert CERT.pem --sign-key KEY.pem [--timestamp URL]]\n"
    "                          [-q | -v]\n"
    "\n"
    "Joins the payload to the installer stub. Records 0 to 2 are the screen saver,\n"
    "its data file and the uninstaller; the media files follow in the order given.\n"
    "\n"
    "PACKAGE.toml, a package file, gives any of these options (see the README);\n"
    "its paths are relative to its own folder, and the command line overrides it\n"
    "(--media on the command line replaces the file's whole media list).\n"
    "A package file's [slideshow] table of pictures and music stands for --saver,\n"
    "--data and --uninstaller: the screen saver and the uninstaller shipped beside\n"
    "the stub (slideshow.scr, uninstal.exe), a data file made from the pictures,\n"
    "and the music as the media files ('man glimmer-pack' describes the table).\n"
    "\n"
    "  -o OUT.exe          the package to write (typically the title with \".exe\");\n"
    "                      never one of the inputs\n"
    "  --stub STUB.exe     the installer stub; its first resource's data must be its\n"
    "                      last bytes (default: the installed one,\n"
    "                      ../share/glimmer-pack/stub.exe from the program's folder;\n"
    "                      on Windows stub.exe beside glimmer-pack.exe)\n"
    "  --title TITLE       the screen saver's name (UTF-8, stored in code page 1252,\n"
    "                      at most 259 bytes, a valid Windows file name)\n"
    "  --saver FILE        the screen saver, installed as TITLE.scr\n"
    "  --data FILE         its data file, installed as TITLE.dat\n"
    "  --uninstaller FILE  the uninstaller, installed as UNINSTAL.EXE (default: the\n"
    "                      standard one, uninstal.exe beside the stub)\n"
    "  --media FILE        a media file, installed as FILE0001.EXT and so on; its\n"
    "                      extension must fit code page 1252\n"
    "  --license FILE      license text: UTF-8 (a byte-order mark is dropped), UTF-16\n"
    "                      with a byte-order mark, or code page 1252; at most 65535\n"
    "                      bytes once stored with CR LF line ends\n"
    "  --base N            number of the first media file (0 to 65535, default 1)\n"
    "  --kind KIND         media name prefix: blank FILE (default), zero JUKE,\n"
    "                      underscore JUK_\n"
    "  --store             store every file verbatim\n"
    "  --pack              pack every file (default: pack a file when that makes it\n"
    "                      smaller)\n"
    "  --sign-cert CERT.pem  sign the package as 'glimmer-pack sign' does, with this\n"
    "  --sign-key KEY.pem    certificate and key, before it replaces OUT.exe\n"
    "  --timestamp URL     the time-stamping server for the signature\n"
    "  -q, --quiet         errors only\n"
    "  -v, --verbose       tell the stub used and what is done to each file\n";

namespace {

// The largest stub and license file read: far beyond any real one, and
// small enough to hold.
constexpr std::uint64_t kMaxStubSize = 16u << 20;
constexpr std::uint64_t kMaxLicenseFileSize = 4 * kMaxLicenseLength + 4;

// Pieces in which stored files are copied.
constexpr std::size_t kPiece = 1 << 20;

bool ParseBase(const std::string& text, std::uint16_t* base) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > 65535) return false;
    *base = static_cast<std::uint16_t>(value);
    return true;
}

bool ReadAll(ToolFile file, char* data, std::size_t size) {
    while (size > 0) {
        std::int64_t n = ReadSome(file, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One file to carry.
struct Input {
    const char* option;  // "--saver", ... for messages
    InputFile file;
    std::string extension;
    std::uint8_t kind;
};

// The output file being written: a temporary file beside the package,
// removed on every way out (and by an interrupt) unless it was put in place.
struct Output {
    std::string path, temporary;
    ToolFile file = kNoToolFile;
    int interruptSlot = -1;

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (file != kNoToolFile) CloseFile(file);
        if (!temporary.empty()) RemoveFile(temporary);
        KeepOnInterrupt(interruptSlot);
    }
    // The temporary file was renamed into place: nothing to remove.
    void Release() {
        temporary.clear();
        KeepOnInterrupt(interruptSlot);
        interruptSlot = -1;
    }
};

std::string Errno(const std::string& what) { return what + ": " + SystemProblem(); }

// Copies a stored file to the output in pieces.
std::string CopyInto(Output& out, const Input& input, Progress& progress) {
    ToolFile in = OpenToRead(input.file.path);
    if (in == kNoToolFile) return Errno("cannot open");
    std::vector<char> piece(kPiece);
    std::uint64_t left = input.file.size;
    std::string problem;
    while (left > 0 && problem.empty()) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        if (!ReadAll(in, piece.data(), n)) problem = "the file shrank or cannot be read while it is copied";
        else if (!WriteAll(out.file, piece.data(), n)) problem = Errno("cannot write " + out.path);
        left -= n;
        ProgressAdvance(progress, n);
    }
    char extra;
    if (problem.empty() && ReadSome(in, &extra, 1) != 0) problem = "the file grew while it was copied";
    CloseFile(in);
    return problem;
}

// Packs a file into the output as it is read, piece by piece, or writes it
// stored when that is the choice: by default a file that does not get
// smaller is stored, so its packing stops once it reaches the file's size
// and what it wrote is cut off again. Fills the record's sizes.
std::string PackInto(Output& out, const Input& input, PackChoice choice, FileRecord* record, Progress& progress) {
    const std::int64_t start = PositionOf(out.file);
    if (start < 0) return Errno("cannot write " + out.path);
    ToolFile in = OpenToRead(input.file.path);
    if (in == kNoToolFile) return Errno("cannot open");
    const std::uint64_t size = input.file.size;
    const std::uint64_t doneBefore = progress.done;
    std::uint64_t left = size, written = 0;
    bool larger = false;
    std::string problem;
    auto readPiece = [&](std::uint8_t* into, std::size_t most) -> std::size_t {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({left, most, kPiece}));
        if (!ReadAll(in, reinterpret_cast<char*>(into), n)) {
            problem = "the file shrank or cannot be read";
            return 0;
        }
        left -= n;
        ProgressAdvance(progress, n);
        return n;
    };
    auto writePiece = [&](const std::uint8_t* bytes, std::size_t n) {
        written += n;
        if (choice != PackChoice::Pack && written >= size) {
            larger = true;
            return false;
        }
        if (!WriteAll(out.file, bytes, n)) {
            problem = Errno("cannot write " + out.path);
            return false;
        }
        return true;
    };
    LzhufEncodeStream(static_cast<std::size_t>(size), LzhufParse::Optimal, readPiece, writePiece);
    larger = larger || (choice != PackChoice::Pack && written >= size);
    char extra;
    if (problem.empty() && !larger && ReadSome(in, &extra, 1) != 0) problem = "the file grew while it was read";
    CloseFile(in);
    if (!problem.empty()) return problem;
    if (!larger) {
        record->storedSize = static_cast<std::uint32_t>(written);
        record->unpackedSize = static_cast<std::uint32_t>(size);
        return "";
    }
    if (!CutAt(out.file, static_cast<std::uint64_t>(start))) return Errno("cannot write " + out.path);
    progress.done = doneBefore;
    record->storedSize = static_cast<std::uint32_t>(size);
    record->unpackedSize = 0;
    return CopyInto(out, input, progress);
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of(kPathSeparators) + 1); }

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 100.0);
    return text;
}

// What build is asked to do: the package file's options with the command
// line's over them, and the signing options.
struct BuildRequest {
    std::string packageFile;
    InputFile packageInput;  // the package file as checked before it was read
    PackageOptions options;
    std::string signCert, signKey, timestamp;
    // The slideshow's data file is written from its pictures (a [slideshow]
    // table, and no data file named).
    bool writesShowData = false;
};

// Every input, checked and read, before any output exists.
struct BuildInputs {
    InputFile stub, license;
    std::vector<Input> files;  // the records' files, in record order
    std::vector<SlidePicture> pictures;  // a slideshow's, checked
    std::uint64_t totalIn = 0;
    std::string stubBytes;
    StubAnchor anchor;
    std::string title, license1252;
    std::vector<FileRecord> records;  // extensions and kinds; offsets and sizes once written
};

// What was written, for the summary line.
struct BuildFigures {
    std::uint64_t stored = 0, packageSize = 0;
    double seconds = 0;
};

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The options: the package file, then the command line over it. kGoOn, or
// the exit code after saying what is wrong.
int ReadBuildOptions(const std::vector<std::string>& args, BuildRequest* request) {
    PackageOptions cli;
    PackageOptions& options = request->options;
    std::string base, kind;
    std::vector<std::string> media;
    bool store = false, pack = false, quiet = false, verbose = false;
    CLI::App app("build");
    app.add_option("PACKAGE.toml", request->packageFile);
    app.add_option("-o,--output", cli.output);
    app.add_option("--stub", cli.stub);
    app.add_option("--title", cli.title);
    app.add_option("--saver", cli.saver);
    app.add_option("--data", cli.data);
    app.add_option("--uninstaller", cli.uninstaller);
    app.add_option("--media", media)->allow_extra_args(false);
    app.add_option("--license", cli.license);
    app.add_option("--base", base);
    app.add_option("--kind", kind);
    CLI::Option* storeFlag = app.add_flag("--store", store);
    app.add_flag("--pack", pack)->excludes(storeFlag);
    app.add_option("--sign-cert", request->signCert);
    app.add_option("--sign-key", request->signKey);
    app.add_option("--timestamp", request->timestamp);
    AddVerbosity(app, &quiet, &verbose);
    int parsed = ParseArguments(app, "build", kBuildHelp, args);
    if (parsed != kGoOn) return parsed;
    g_verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
    if (request->signCert.empty() != request->signKey.empty() ||
        (!request->timestamp.empty() && request->signCert.empty()))
        return UsageError("build", "--sign-cert and --sign-key go together (and --timestamp with them)");

    const std::string& packageFile = request->packageFile;
    if (!packageFile.empty() && !EndsWith(packageFile, ".toml"))
        return UsageError("build", "unexpected argument '" + packageFile +
                                       "': a package file's name ends in .toml, and each media file needs its "
                                       "own --media");
    if (!packageFile.empty()) {
        std::string problem = CheckInputFile(packageFile, &request->packageInput);
        if (!problem.empty()) return Fail(packageFile, problem);
        problem = ReadPackageFile(packageFile, &options);
        if (!problem.empty()) {
            std::cerr << "glimmer-pack: " << problem << "\n";
            return kExitFailed;
        }
    }
    for (auto field : {&PackageOptions::output, &PackageOptions::stub, &PackageOptions::title, &PackageOptions::saver,
                       &PackageOptions::data, &PackageOptions::uninstaller, &PackageOptions::license})
        if (!(cli.*field).empty()) options.*field = cli.*field;
    if (app.count("--media")) {
        options.media = media;
        options.mediaGiven = true;
    }
    if (app.count("--base") && !ParseBase(base, &options.base))
        return UsageError("build", "--base needs a number from 0 to 65535, not '" + base + "'");
    if (app.count("--kind") && !KindFromName(kind, &options.kind))
        return UsageError("build", "--kind is blank, zero or underscore, not '" + kind + "'");
    if (store) options.choice = PackChoice::Store;
    if (pack) options.choice = PackChoice::Pack;

    // A slideshow fills in what the options leave out: the programs shipped
    // beside the stub, the music as the media files, and a data file
    // written from the pictures.
    request->writesShowData = options.slideshow.given && options.data.empty();
    if (options.slideshow.given) {
        if (options.stub.empty()) {
            std::string problem;
            options.stub = InstalledStub(&problem);
            if (options.stub.empty()) return UsageError("build", "missing --stub, and no installed stub: " + problem);
        }
        if (options.saver.empty()) options.saver = ShippedBesideStub(options.stub, kShippedSaver);
        if (options.uninstaller.empty()) options.uninstaller = ShippedBesideStub(options.stub, kShippedUninstaller);
        if (!request->writesShowData) Warn("[slideshow] pictures", "not packed: the data file " + options.data + " is");
        if (!options.mediaGiven) {
            for (const PlacedPath& music : options.slideshow.music) options.media.push_back(music.path);
        } else if (!options.slideshow.music.empty()) {
            Warn("[slideshow] music", "not packed: the media files named in [files] or by --media are");
        }
    }

    // Without an uninstaller named, any package takes the standard one
    // shipped beside the stub, when the stub it uses has it.
    if (options.uninstaller.empty()) {
        std::string stub = options.stub, problem;
        if (stub.empty()) stub = InstalledStub(&problem);
        const std::string shipped = stub.empty() ? "" : ShippedBesideStub(stub, kShippedUninstaller);
        FileFacts facts;
        if (!shipped.empty() && LookAt(shipped, true, &facts) && facts.kind == FileKind::Regular)
            options.uninstaller = shipped;
    }

    std::string missing;
    const std::string fromPictures = "written from the pictures";
    const std::pair<const char*, const std::string*> required[] = {
        {"-o", &options.output}, {"--title", &options.title}, {"--saver", &options.saver},
        {"--data", request->writesShowData ? &fromPictures : &options.data}, {"--uninstaller", &options.uninstaller}};
    for (const auto& [name, value] : required)
        if (value->empty()) missing += (missing.empty() ? "" : ", ") + std::string(name);
    if (!missing.empty())
        return UsageError("build", "missing " + missing +
                                       (packageFile.empty() ? "" : " (neither on the command line nor in " +
                                                                       packageFile + ")"));
    if (options.output == "-")
        return UsageError("build", "-o -: a package is a binary file and is not written to standard output; "
                                   "name a file");
    if (options.stub.empty()) {
        std::string problem;
        options.stub = InstalledStub(&problem);
        if (options.stub.empty()) return UsageError("build", "missing --stub, and no installed stub: " + problem);
    }
    if (!request->signCert.empty()) {
        std::string problem = SigningProblem(request->signCert, request->signKey);
        if (!problem.empty()) {
            std::cerr << "glimmer-pack: " << problem << "\n";
            return kExitFailed;
        }
    }
    return kGoOn;
}

// The records' files in record order: the screen saver, its data file and
// the uninstaller, then the media files.
std::vector<Input> RecordInputs(const PackageOptions& options) {
    std::vector<Input> inputs;
    auto add = [&](const char* option, const std::string& path, const char* extension, std::uint8_t kind) {
        Input input;
        input.option = option;
        input.file.path = path;
        input.extension = extension;
        input.kind = kind;
        inputs.push_back(input);
    };
    add("--saver", options.saver, ".TMP", ' ');
    add("--data", options.data, ".TMP", ' ');
    add("--uninstaller", options.uninstaller, ".TMP", ' ');
    for (const std::string& m : options.media) add("--media", m, "", options.kind);
    return inputs;
}

// Checks that every input file is a readable regular file of a size the
// package can carry, naming every one that is not; then that the output is
// none of them. kGoOn or the exit code.
int CheckInputFiles(const BuildRequest& request, BuildInputs* in) {
    const PackageOptions& options = request.options;
    int faults = 0;
    auto fault = [&](const std::string& subject, const std::string& problem) {
        Fail(subject, problem);
        ++faults;
    };
    std::string problem = CheckInputFile(options.stub, &in->stub);
    if (!problem.empty()) fault("--stub " + options.stub, problem);
    else if (in->stub.size > kMaxStubSize) fault("--stub " + options.stub, "too large for an installer stub (16 MB or more)");
    if (!options.license.empty()) {
        problem = CheckInputFile(options.license, &in->license);
        if (!problem.empty()) fault("--license " + options.license, problem);
        else if (in->license.size > kMaxLicenseFileSize) fault("--license " + options.license, "license text too long (65535 bytes fit)");
    }
    in->files = RecordInputs(options);
    for (Input& input : in->files) {
        if (request.writesShowData && &input == &in->files[1]) continue;  // written with the package
        problem = CheckInputFile(input.file.path, &input.file);
        if (problem.empty() && input.file.size == 0)
            // A stored size of 0 marks the end of the catalogue.
            problem = "empty file; a package cannot carry a file of 0 bytes";
        if (problem.empty() && input.file.size >= kMaxPackageSize) problem = "file too large (2 GB or more)";
        if (problem.empty() && input.option == std::string("--media"))
            problem = MediaExtensionField(input.file.path, &input.extension);
        if (!problem.empty()) fault(std::string(input.option) + " " + input.file.path, problem);
        in->totalIn += input.file.size;
    }
    if (request.writesShowData) faults += ExpandAndCheckPictures(options.slideshow, &in->pictures, fault);
    if (options.slideshow.given && !options.mediaGiven) faults += CheckMusic(options.slideshow, fault);
    if (faults) return kExitFailed;

    // The output is none of the inputs, by device and inode.
    FileFacts outFacts;
    if (LookAt(options.output, true, &outFacts) && outFacts.kind != FileKind::Missing) {
        if (outFacts.kind == FileKind::Folder) return Fail(options.output, std::strerror(EISDIR));
        std::vector<std::pair<std::string, const InputFile*>> all = {{"--stub", &in->stub}};
        if (!options.license.empty()) all.push_back({"--license", &in->license});
        if (!request.packageFile.empty()) all.push_back({"the package file", &request.packageInput});
        for (const Input& input : in->files) all.push_back({input.option, &input.file});
        for (const SlidePicture& picture : in->pictures) all.push_back({"a picture", &picture.file});
        for (const auto& [what, file] : all)
            if (file->volume == outFacts.volume && file->index == outFacts.index)
                return Fail(options.output, "is the same file as " + what + " " + file->path +
                                                "; writing the package would destroy it");
    }
    return kGoOn;
}

// Reads what the catalogue is made of: the stub and its anchor, the title,
// the license text and the records' names. kGoOn or the exit code.
int ReadCatalogueInputs(const BuildRequest& request, BuildInputs* in) {
    const PackageOptions& options = request.options;
    std::string problem;
    if (!ReadWholeFile(options.stub, &in->stubBytes, &problem)) return Fail(options.stub, problem);
    problem = FindStubAnchor(in->stubBytes, &in->anchor);
    if (problem.empty()) problem = CheckStubCut(in->stubBytes, in->anchor);
    if (!problem.empty()) return Fail(options.stub, "unusable stub: " + problem);
    Detail("stub: " + options.stub + " (payload anchor at byte " + std::to_string(in->anchor.dataOffset) + ")");

    if (!Utf8ToCp1252(options.title, &in->title)) return Fail("--title", Cp1252Problem(options.title));
    problem = TitleProblem(in->title);
    if (!problem.empty()) return Fail("--title", problem);

    if (!options.license.empty()) {
        std::string raw;
        if (!ReadWholeFile(options.license, &raw, &problem)) return Fail(options.license, problem);
        if (!PrepareLicenseText(raw, &in->license1252, &problem))
            return Fail(options.license, "license text: " + problem);
    }

    for (const Input& input : in->files) {
        FileRecord r{};
        std::memset(r.extension, ' ', kExtensionSize);
        std::memcpy(r.extension, input.extension.data(), std::min<std::size_t>(input.extension.size(), kExtensionSize));
        r.kind = input.kind;
        in->records.push_back(r);
    }
    // The installer refuses a package whose paths do not fit on the machine
    // at hand: refuse one that fits on none, warn about one that does not
    // fit under Windows' default folders.
    problem = PathLengthProblem(in->title, options.base, in->records);
    if (!problem.empty()) return Fail("--title", problem);
    std::string warning = PathLengthWarning(in->title, options.base, in->records);
    if (!warning.empty()) Warn("--title", warning);
    return kGoOn;
}

// Creates a new temporary file beside `path` as `out`'s file, entered in
// the table of paths to remove on an interrupt in the same step, so that no
// interrupt finds it created and not yet entered. "" or the problem.
std::string CreateTemporaryBeside(const std::string& path, Output& out) {
    std::string temporary = path + ".XXXXXX";
    HoldInterrupts();
    out.file = CreateTemporary(&temporary);
    const std::string notCreated = out.file == kNoToolFile ? Errno("cannot create a temporary file beside it") : "";
    if (out.file != kNoToolFile) {
        out.temporary = temporary;
        out.interruptSlot = RemoveOnInterrupt(temporary);
    }
    ReleaseInterrupts();
    return notCreated;
}

// Writes the slideshow's data file from its pictures into a new temporary
// file beside the output, where it stays until it has been packed like any
// other file: `data` removes it. "" or the problem.
std::string WriteShowDataFile(const BuildRequest& request, BuildInputs& in, Output& data) {
    const PackageOptions& options = request.options;
    const std::string notCreated = CreateTemporaryBeside(options.output, data);
    if (!notCreated.empty()) return notCreated;
    const std::string temporary = data.temporary;
    data.path = temporary;
    Input& input = in.files[1];
    std::string problem = WriteShowData(in.pictures, options.slideshow.settings, in.title, data.file, temporary,
                                        &input.file.size);
    const bool closed = CloseFile(data.file);
    data.file = kNoToolFile;
    if (problem.empty() && !closed) problem = Errno("cannot write " + temporary);
    if (problem.empty()) problem = CheckInputFile(temporary, &input.file);
    if (!problem.empty()) return problem;
    in.totalIn += input.file.size;
    Detail("data: " + std::to_string(in.pictures.size()) + (in.pictures.size() == 1 ? " picture, " : " pictures, ") +
           FormatBytes(input.file.size));
    return "";
}

// Writes the package into a new temporary file beside the output: the stub
// up to its anchor, room for the catalogue, every entry, padding to the
// stub's sections' end, then the catalogue into its room; puts it on the
// disk, closes it and checks that it reads back as a package. "" or the
// problem, with *subject what it is about.
std::string WritePackage(const BuildRequest& request, BuildInputs& in, Output& out, BuildFigures* figures,
                         std::string* subject) {
    const PackageOptions& options = request.options;
    *subject = options.output;
    out.path = options.output;
    const std::string notCreated = CreateTemporaryBeside(options.output, out);
    if (!notCreated.empty()) return notCreated;
    const std::string temporary = out.temporary;
    Output data;
    if (request.writesShowData) {
        std::string problem = WriteShowDataFile(request, in, data);
        if (!problem.empty()) {
            *subject = "the slideshow's data file";
            return problem;
        }
    }

    const std::string catalogueRoom(LayOutCatalogue(in.title, in.license1252, options.base, in.records).size(), '\0');
    if (!WriteAll(out.file, in.stubBytes.data(), in.anchor.dataOffset) ||
        !WriteAll(out.file, catalogueRoom.data(), catalogueRoom.size()))
        return Errno("write failed");
    std::uint64_t offset = in.anchor.dataOffset + catalogueRoom.size();
    const std::string tooLarge = "package would reach 2 GB; offsets and sizes must stay below 2^31";
    if (offset + in.totalIn > kMaxPackageSize && options.choice == PackChoice::Store) return tooLarge;

    Progress progress = StartProgress(in.totalIn);
    std::string problem;
    for (std::size_t i = 0; i < in.files.size() && problem.empty(); ++i) {
        const Input& input = in.files[i];
        FileRecord& r = in.records[i];
        ProgressFile(progress, options.choice == PackChoice::Store ? "storing" : "packing", BaseName(input.file.path));
        r.offset = static_cast<std::uint32_t>(offset);
        if (options.choice == PackChoice::Store) {
            problem = CopyInto(out, input, progress);
            r.storedSize = static_cast<std::uint32_t>(input.file.size);
            r.unpackedSize = 0;
        } else {
            problem = PackInto(out, input, options.choice, &r, progress);
        }
        if (!problem.empty()) {
            *subject = input.file.path;
            break;
        }
        offset += r.storedSize;
        figures->stored += r.storedSize;
        if (offset > kMaxPackageSize) problem = tooLarge;
        Detail(std::string(input.option + 2) + " " + input.file.path + ": " +
               (r.unpackedSize ? "packed " : "stored ") + std::to_string(input.file.size) + " -> " +
               std::to_string(r.storedSize) + " bytes");
    }
    EndProgress(progress);
    figures->seconds = Elapsed(progress);
    if (!problem.empty()) return problem;

    // The stub's resource section may declare raw data past its anchor;
    // Windows refuses an image whose file ends before its sections do.
    const std::uint64_t needed = SectionsEnd(in.stubBytes);
    if (offset < needed) {
        const std::string padding(needed - offset, '\0');
        if (!WriteAll(out.file, padding.data(), padding.size())) return Errno("write failed");
        offset = needed;
    }
    figures->packageSize = offset;
    const std::string catalogue = LayOutCatalogue(in.title, in.license1252, options.base, in.records);
    if (!WriteAt(out.file, in.anchor.dataOffset, catalogue.data(), catalogue.size()) || !FlushToDisk(out.file))
        return Errno("write failed");
    const bool closed = CloseFile(out.file);
    out.file = kNoToolFile;
    if (!closed) return Errno("write failed");
    char message[256];
    if (!ValidatePayload(out.temporary.c_str(), message, sizeof message))
        return std::string("the package written does not validate: ") + message;
    return "";
}

// Puts the written package in place: signed from the temporary file
// straight into place, or renamed. "" or the problem.
std::string PutPackageInPlace(const BuildRequest& request, Output& out) {
    if (request.signCert.empty()) {
        if (!MoveIntoPlace(out.temporary, out.path)) return Errno("cannot rename the temporary file into place");
        out.Release();
        return "";
    }
    std::string problem = SignPackage({out.temporary, out.path, request.signCert, request.signKey, request.timestamp});
    if (problem.empty()) Detail("signed " + out.path + " with " + request.signCert);
    return problem;
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
    BuildRequest request;
    int step = ReadBuildOptions(args, &request);
    if (step != kGoOn) return step;
    BuildInputs in;
    step = CheckInputFiles(request, &in);
    if (step != kGoOn) return step;
    step = ReadCatalogueInputs(request, &in);
    if (step != kGoOn) return step;

    Output out;
    BuildFigures figures;
    std::string subject;
    std::string problem = WritePackage(request, in, out, &figures, &subject);
    if (!problem.empty()) return Fail(subject, problem);
    problem = PutPackageInPlace(request, out);
    if (!problem.empty()) {
        // Signing names its own subject.
        if (request.signCert.empty()) return Fail(out.path, problem);
        std::cerr << "glimmer-pack: " << problem << "\n";
        return kExitFailed;
    }
    Summary("built " + out.path + ": " + std::to_string(in.files.size()) + " files, " + FormatBytes(in.totalIn) +
            " in, " + FormatBytes(figures.stored) + " stored (" + Percent(figures.stored, in.totalIn) + "), package " +
            FormatBytes(figures.packageSize) + ", " + FormatSeconds(figures.seconds));
    return kExitOk;
}
