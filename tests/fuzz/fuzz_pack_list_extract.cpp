// Fuzz target: glimmer-pack's list and extract commands, run in-process on
// arbitrary package files in a private temporary folder.
//
// Checked for every input:
//   - list (plain and --json) succeeds exactly when the package passes
//     validation and, when its certificate directory is not empty, its
//     certificate table reads (signing.h) and lies past every record's data;
//   - extract writes only into files directly inside its target folder
//     (every write is checked before it happens), creates none by name
//     through the platform table, and afterwards the private folder holds
//     nothing but the package and the target folder's files, none of them
//     left open;
//   - extract refuses an unsound package without writing anything, and a
//     successful extract leaves one file per record with the record's
//     installed size (stored ones byte for byte as in the package);
//   - a target that refuses bytes (a full disk, simulated past 1 MB per file
//     and 4 MB per input) makes extract fail and leaves no partial file.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "signing.h"
#include "tool_files.h"
#include "fuzz_check.h"
#include "payload_oracle.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFileLimit = 1024 * 1024;
constexpr std::uint64_t kInputLimit = 4 * 1024 * 1024;

std::string g_root;     // the private folder
std::string g_package;  // g_root + "/package.exe"
std::string g_out;      // g_root + "/out"

// Bytes written per target file (by its path), and in all for the current
// input.
std::map<std::string, std::uint64_t> g_written;
std::uint64_t g_writtenTotal = 0;
bool g_refused = false;

// The path of an open file, "" when it cannot be told.
std::string PathOf(OsFile file) {
    char path[4096];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(file)).c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

OsFile RefusedCreate(const char*) {
    FUZZ_CHECK(false, "extract created a file by name through the platform");
    return kNoFile;
}

std::int32_t GuardedWrite(OsFile file, const void* buffer, std::uint32_t size) {
    const std::string path = PathOf(file);
    const std::string prefix = g_out + "/";
    FUZZ_CHECK(path.compare(0, prefix.size(), prefix) == 0 && path.find('/', prefix.size()) == std::string::npos,
               "a write to a file that is not directly inside the target folder");
    auto it = g_written.emplace(path, 0).first;
    std::uint64_t allowed = std::min(kFileLimit - std::min(kFileLimit, it->second),
                                     kInputLimit - std::min(kInputLimit, g_writtenTotal));
    std::uint32_t put = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, allowed));
    if (put < size) g_refused = true;
    std::int32_t n = put > 0 ? ToolPlatform()->FileWrite(file, buffer, put) : 0;
    if (n > 0) {
        it->second += static_cast<std::uint64_t>(n);
        g_writtenTotal += static_cast<std::uint64_t>(n);
    }
    return n;
}

OsFile RefusedAppend(const char*) {
    FUZZ_CHECK(false, "extract opened a file for appending");
    return kNoFile;
}

int RefusedFolder(const char*) {
    FUZZ_CHECK(false, "extract created a folder through the platform");
    return 0;
}

Platform MakeGuardedTable() {
    // The tool's own table: its files are the tool layer's, which extract
    // creates and closes itself.
    Platform p = *ToolPlatform();
    p.FileCreate = RefusedCreate;
    p.FileWrite = GuardedWrite;
    p.FileOpenAppend = RefusedAppend;
    p.CreateFolder = RefusedFolder;
    return p;
}

void RemoveRoot() {
    std::error_code error;
    fs::remove_all(g_root, error);
}

// The files directly inside the target folder, by name; aborts on anything
// in the private folder that is neither the package, the target folder nor
// a plain file directly inside it.
std::map<std::string, std::uintmax_t> ScanRoot() {
    std::map<std::string, std::uintmax_t> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(g_root)) {
        const std::string path = entry.path().string();
        struct stat st;
        FUZZ_CHECK(lstat(path.c_str(), &st) == 0, "an entry of the private folder vanished");
        if (path == g_package) {
            FUZZ_CHECK(S_ISREG(st.st_mode), "the package was replaced");
        } else if (path == g_out) {
            FUZZ_CHECK(S_ISDIR(st.st_mode), "the target folder was replaced");
        } else {
            FUZZ_CHECK(entry.path().parent_path().string() == g_out, "something was written outside the target folder");
            FUZZ_CHECK(S_ISREG(st.st_mode), "extract made something other than a plain file");
            files[entry.path().filename().string()] = static_cast<std::uintmax_t>(st.st_size);
        }
    }
    return files;
}

void EmptyTarget() {
    for (const fs::directory_entry& entry : fs::directory_iterator(g_out)) fs::remove(entry.path());
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(f != nullptr, "an extracted file cannot be read back");
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/glimmer-fuzz-extract-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder) != nullptr, "cannot make a private temporary folder");
    g_root = folder;
    g_package = g_root + "/package.exe";
    g_out = g_root + "/out";
    fs::create_directory(g_out);
    std::atexit(RemoveRoot);
    // The commands report on stdout and stderr; the fuzzer's own reports
    // are written to the stderr descriptor directly and stay visible.
    FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
    std::cerr.rdbuf(nullptr);
    static const Platform table = MakeGuardedTable();
    g_platform = &table;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(g_package.c_str(), "wb");
    FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0,
               "cannot write the package file");
    const ExpectedPayload e = ReadExpectedPayload(data, size);
    // The signature's rules are the tool's own, taken from its reader here:
    // what this target checks of them is that list and extract apply them
    // alike and that reading any certificate table is safe.
    bool sound = e.sound;
    if (sound) {
        PackageSignature signature;
        const std::vector<FileRecord> records(e.records.begin(), e.records.end() - 1);
        sound = ReadPackageSignature(g_package, &signature).empty() &&
                CheckRecordsBeforeSignature(signature, records).empty();
    }

    const int listed = RunList({g_package});
    const int listedJson = RunList({g_package, "--json"});
    FUZZ_CHECK((listed == 0) == sound, "list's outcome differs from the package's validity");
    FUZZ_CHECK(listedJson == listed, "list --json and list disagree");

    g_written.clear();
    g_writtenTotal = 0;
    g_refused = false;
    const int extracted = RunExtract({g_package, g_out});
    for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
        FUZZ_CHECK(PathOf(std::stoi(entry.path().filename().string())).rfind(g_out, 0) != 0,
                   "extract left a file of the target folder open");
    const std::map<std::string, std::uintmax_t> files = ScanRoot();

    if (!sound) {
        FUZZ_CHECK(extracted != 0, "extract accepted a package that fails validation");
        FUZZ_CHECK(files.empty(), "extract wrote files of a package that fails validation");
    } else if (g_refused) {
        FUZZ_CHECK(extracted != 0, "extract succeeded although the disk refused bytes");
        for (const auto& [name, bytes] : files)
            FUZZ_CHECK(bytes <= kFileLimit, "a partly written file was left behind");
    } else if (extracted == 0) {
        // One file per record, each of its installed size.
        const std::size_t count = e.records.size() - 1;  // without the terminator
        FUZZ_CHECK(files.size() == count, "extract made another number of files than there are records");
        std::vector<std::uint64_t> want, got;
        for (std::size_t i = 0; i < count; ++i) {
            const FileRecord& r = e.records[i];
            want.push_back(r.unpackedSize != 0 ? r.unpackedSize : r.storedSize);
        }
        for (const auto& [name, bytes] : files) got.push_back(bytes);
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        FUZZ_CHECK(want == got, "the extracted files' sizes differ from the records' installed sizes");
        // Stored entries are copied byte for byte: each one's bytes are the
        // content of some extracted file of that size.
        for (std::size_t i = 0; i < count; ++i) {
            const FileRecord& r = e.records[i];
            if (r.unpackedSize != 0) continue;
            const std::string expected(reinterpret_cast<const char*>(data) + r.offset, r.storedSize);
            bool matched = false;
            for (const auto& [name, bytes] : files)
                if (!matched && bytes == r.storedSize) matched = ReadFile(g_out + "/" + name) == expected;
            FUZZ_CHECK(matched, "a stored entry was not extracted byte for byte");
        }
    } else {
        // A sound package may still be refused for its names (too long, not
        // safe, or two alike); then nothing is written.
        FUZZ_CHECK(files.empty(), "extract failed after writing files although the disk took every byte");
    }
    EmptyTarget();
    return 0;
}
