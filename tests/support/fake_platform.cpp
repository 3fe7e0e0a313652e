#include "support/fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "install/install_state.h"

FakePlatform g_fake;

namespace fs = std::filesystem;

std::string MakeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "glimmer-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return buffer.data();
}

std::string FakePlatform::HostPath(const std::string& path) const {
    if (!path.empty() && path[0] == '/') return path;
    std::string out = root + "/";
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        out += path[0];
        start = 2;
    } else {
        out += "C";  // a relative path resolves against C:\ here
        out += "/";
    }
    for (std::size_t i = start; i < path.size(); ++i) out += path[i] == '\\' ? '/' : path[i];
    return out;
}

std::string FakePlatform::ReadFile(const std::string& path) const {
    std::ifstream in(HostPath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool FakePlatform::Exists(const std::string& path) const { return fs::exists(HostPath(path)); }

void FakePlatform::WriteFile(const std::string& path, const std::string& bytes) const {
    fs::path host = HostPath(path);
    fs::create_directories(host.parent_path());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FakePlatform::CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

namespace {

// Records a call and says whether it is to fail.
bool Record(const std::string& op, const std::string& detail = "") {
    std::size_t index = g_fake.calls.size();
    g_fake.calls.push_back(detail.empty() ? op : op + " " + detail);
    return g_fake.failWhen && g_fake.failWhen(op, index);
}

std::FILE* AsStream(OsFile file) { return reinterpret_cast<std::FILE*>(file); }
OsFile AsFile(std::FILE* stream) { return stream ? reinterpret_cast<OsFile>(stream) : kNoFile; }

OsFile Open(const char* op, const char* path, const char* mode) {
    if (Record(op, path)) return kNoFile;
    OsFile file = AsFile(std::fopen(g_fake.HostPath(path).c_str(), mode));
    if (file != kNoFile) ++g_fake.openHandles;
    return file;
}

OsFile FakeOpenRead(const char* path) { return Open("FileOpenRead", path, "rb"); }
OsFile FakeCreate(const char* path) { return Open("FileCreate", path, "wb"); }
OsFile FakeOpenAppend(const char* path) { return Open("FileOpenAppend", path, "ab"); }

std::int32_t FakeRead(OsFile file, void* buffer, std::uint32_t size) {
    if (Record("FileRead", std::to_string(size))) return -1;
    return static_cast<std::int32_t>(std::fread(buffer, 1, size, AsStream(file)));
}

std::int32_t FakeWrite(OsFile file, const void* buffer, std::uint32_t size) {
    if (Record("FileWrite", std::to_string(size))) return 0;
    std::uint32_t allowed = size;
    if (g_fake.diskBytesLeft >= 0 && g_fake.diskBytesLeft < static_cast<std::int64_t>(size))
        allowed = static_cast<std::uint32_t>(g_fake.diskBytesLeft);
    std::size_t n = std::fwrite(buffer, 1, allowed, AsStream(file));
    std::fflush(AsStream(file));
    if (g_fake.diskBytesLeft >= 0) g_fake.diskBytesLeft -= static_cast<std::int64_t>(n);
    return static_cast<std::int32_t>(n);
}

std::int64_t FakeSeek(OsFile file, std::int64_t position) {
    if (Record("FileSeek", std::to_string(position))) return -1;
    if (position < 0 || fseeko(AsStream(file), static_cast<off_t>(position), SEEK_SET) != 0) return -1;
    return position;
}

std::int64_t FakeTell(OsFile file) {
    if (Record("FileTell")) return -1;
    return static_cast<std::int64_t>(ftello(AsStream(file)));
}

std::int64_t FakeSize(OsFile file) {
    if (Record("FileSize")) return -1;
    struct stat st;
    std::fflush(AsStream(file));
    if (fstat(fileno(AsStream(file)), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

void FakeClose(OsFile file) {
    Record("FileClose");
    if (file == kNoFile) return;
    std::fclose(AsStream(file));
    --g_fake.openHandles;
}

int FakeFileExists(const char* path) {
    if (Record("FileExists", path)) return 0;
    return fs::is_regular_file(g_fake.HostPath(path)) ? 1 : 0;
}

int FakeCreateFolder(const char* path) {
    if (Record("CreateFolder", path)) return 0;
    std::error_code error;
    return fs::create_directory(g_fake.HostPath(path), error) ? 1 : 0;
}

FolderKind FakeQueryFolder(const char* path) {
    if (Record("QueryFolder", path)) return FolderKind::Missing;
    std::string p = path;
    while (p.size() > 3 && p.back() == '\\') p.pop_back();
    if (g_fake.linkFolders.count(p)) return FolderKind::Link;
    std::error_code error;
    fs::file_status st = fs::symlink_status(g_fake.HostPath(p), error);
    if (error || st.type() == fs::file_type::not_found) return FolderKind::Missing;
    if (st.type() == fs::file_type::symlink) return FolderKind::Link;
    return st.type() == fs::file_type::directory ? FolderKind::Plain : FolderKind::NotFolder;
}

std::uint32_t CopyOut(const std::string& text, char* buffer, std::uint32_t size) {
    if (text.size() >= size) return static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
}

std::uint32_t FakeModuleFileName(char* buffer, std::uint32_t size) {
    if (Record("GetModuleFileName") || g_fake.moduleFileName.empty()) return 0;
    // Like GetModuleFileNameA: truncates, and says so by returning `size`.
    std::uint32_t n = static_cast<std::uint32_t>(g_fake.moduleFileName.size());
    if (n >= size) {
        std::memcpy(buffer, g_fake.moduleFileName.c_str(), size - 1);
        buffer[size - 1] = '\0';
        return size;
    }
    std::memcpy(buffer, g_fake.moduleFileName.c_str(), n + 1);
    return n;
}

std::uint32_t FakeWindowsDirectory(char* buffer, std::uint32_t size) {
    if (Record("GetWindowsDirectory") || g_fake.windowsFolder.empty()) return 0;
    return CopyOut(g_fake.windowsFolder, buffer, size);
}

int FakeCommonAppData(char* buffer260) {
    if (Record("GetCommonAppData") || g_fake.commonAppData.empty()) return 0;
    if (g_fake.commonAppData.size() >= 260) return 0;
    std::memcpy(buffer260, g_fake.commonAppData.c_str(), g_fake.commonAppData.size() + 1);
    return 1;
}

std::uint32_t FakeShortPath(const char* longPath, char* buffer, std::uint32_t size) {
    if (Record("GetShortPathName", longPath) || g_fake.shortPathFails) return 0;
    if (!fs::exists(g_fake.HostPath(longPath))) return 0;
    // The fake's short form is the long path with "~S" in front of the name,
    // so a test can tell which one was used.
    std::string text = longPath;
    std::size_t slash = text.rfind('\\');
    text.insert(slash == std::string::npos ? 0 : slash + 1, "~S");
    return CopyOut(text, buffer, size);
}

int FakeFreeSpaceEx(const char* path, std::uint64_t* freeBytes) {
    if (Record("GetDiskFreeSpaceEx", path) || g_fake.freeSpaceExMissing || g_fake.freeSpaceFails) return 0;
    *freeBytes = g_fake.freeBytes;
    return 1;
}

int FakeFreeSpace(const char* path, std::uint32_t* spc, std::uint32_t* bps, std::uint32_t* clusters) {
    if (Record("GetDiskFreeSpace", path) || g_fake.freeSpaceFails) return 0;
    *spc = g_fake.sectorsPerCluster;
    *bps = g_fake.bytesPerSector;
    *clusters = g_fake.freeClusters;
    return 1;
}

// Keys are handed out as 1-based indexes into this list of key paths.
std::vector<std::string> g_openKeys;

std::int32_t FakeRegCreate(const char* subKey, OsKey* key) {
    if (Record("RegCreateKey", subKey)) return 1;  // ERROR_INVALID_FUNCTION
    if (g_fake.registryDenied) return kErrorAccessDenied;
    g_fake.registry[subKey];
    g_openKeys.push_back(subKey);
    *key = g_openKeys.size();
    ++g_fake.openHandles;
    return kErrorSuccess;
}

std::int32_t FakeRegSet(OsKey key, const char* name, std::uint32_t type, const void* data,
                        std::uint32_t size) {
    if (Record("RegSetValue", name)) return 1;
    if (key == 0 || key > g_openKeys.size()) return 6;  // ERROR_INVALID_HANDLE
    g_fake.registry[g_openKeys[key - 1]][name] =
        FakeRegValue{type, std::string(static_cast<const char*>(data), size)};
    return kErrorSuccess;
}

void FakeRegClose(OsKey key) {
    Record("RegCloseKey", std::to_string(key));
    if (key != 0 && key <= g_openKeys.size()) --g_fake.openHandles;
}

void FakePump(OsWindow) {
    Record("Pump");
    ++g_fake.pumps;
    if (g_fake.onPump) g_fake.onPump(g_fake.pumps);
}

int FakeMessageBoxCall(OsWindow owner, const char* text, const char* caption, std::uint32_t style) {
    if (Record("MessageBox", caption)) return 0;
    g_fake.messageBoxes.push_back(FakeMessageBox{owner, text, caption, style});
    if (g_fake.answers.empty()) return g_fake.defaultAnswer;
    int answer = g_fake.answers.front();
    g_fake.answers.pop_front();
    return answer;
}

std::intptr_t FakeLicenseDialog(const char* text) {
    if (Record("RunLicenseDialog")) return -1;
    g_fake.licenseTexts.push_back(text);
    return g_fake.licenseResult;
}

std::intptr_t FakeInstallDialog(OsWindow owner, const void* request) {
    if (Record("RunInstallDialog") || !g_fake.installDialog) return -1;
    return g_fake.installDialog(owner, *static_cast<const InstallRequest*>(request));
}

std::intptr_t FakeCreditsDialog(OsWindow) {
    if (Record("RunCreditsDialog")) return -1;
    ++g_fake.creditsShown;
    return 1;
}

void FakeKillTimer(OsWindow, std::uintptr_t id) { Record("KillTimer", std::to_string(id)); }
void FakeClassCursor(OsWindow) { Record("SetClassArrowCursor"); }
void FakeCursor(int wait) { Record("SetCursorShape", wait ? "wait" : "arrow"); }

void FakeDestroy(OsWindow) {
    Record("DestroyWindow");
    g_fake.windowDestroyed = true;
}

char* FakeTextAlloc(std::uint32_t size) {
    if (Record("TextAlloc", std::to_string(size)) || g_fake.textAllocFails) return nullptr;
    return static_cast<char*>(std::calloc(size, 1));
}

void FakeTextFree(char* text) {
    Record("TextFree");
    std::free(text);
}

int FakeShellOpen(const char* file, const char* parameters, int show) {
    if (Record("ShellOpen", file)) return 0;
    g_fake.shellOpens.push_back({file, parameters ? parameters : "", show});
    return g_fake.shellOpenResult;
}

std::uint32_t FakeWinExec(const char* commandLine, int show) {
    if (Record("WinExec", commandLine + std::string(" ") + std::to_string(show))) return 2;
    g_fake.winExecs.push_back(commandLine);
    return 33;
}

std::string Extension(const std::string& path) {
    std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? "" : path.substr(dot);
}

std::uint32_t FakeMciOpen(const char* shortPath, int withType, std::uint32_t* deviceId) {
    if (Record("MciOpen", std::string(shortPath) + (withType ? " MPEGVideo" : ""))) return 1;
    const auto& failing = withType ? g_fake.mciFailsWithType : g_fake.mciFailsByExtension;
    if (failing.count(Extension(shortPath))) return 277;  // MCIERR_... any non-zero
    *deviceId = 7;
    return 0;
}

void FakeMciClose(std::uint32_t deviceId) { Record("MciClose", std::to_string(deviceId)); }

void FakeProfile(const char* section, const char* key, const char* value, const char* file) {
    std::string line = std::string(section) + "|" + key + "|" + value + "|" + file;
    if (Record("WriteProfileString", line)) return;
    g_fake.profileWrites.push_back(line);
}

void FakeScreenSave() {
    if (Record("SetScreenSaveActive")) return;
    ++g_fake.screenSaveActivations;
}

// The work runs at once, on the calling thread; its result waits for the
// WaitThread that asks for it.
OsThread FakeStartThread(int (*work)(void*), void* context) {
    if (Record("StartThread")) return kNoThread;
    g_fake.threadResults.push_back(work(context));
    return g_fake.threadResults.size();
}

int FakeWaitThread(OsThread thread) {
    Record("WaitThread");
    return thread >= 1 && thread <= g_fake.threadResults.size() ? g_fake.threadResults[thread - 1] : 0;
}

const Platform kFakePlatform = {
    FakeOpenRead,     FakeCreate,        FakeOpenAppend,    FakeRead,       FakeWrite,
    FakeSeek,         FakeTell,          FakeSize,          FakeClose,      FakeFileExists,
    FakeCreateFolder, FakeQueryFolder,
    FakeModuleFileName, FakeWindowsDirectory, FakeCommonAppData, FakeShortPath, FakeFreeSpaceEx,
    FakeFreeSpace,
    FakeRegCreate,    FakeRegSet,        FakeRegClose,
    FakePump,         FakeMessageBoxCall,    FakeLicenseDialog, FakeInstallDialog, FakeCreditsDialog,
    FakeKillTimer,    FakeClassCursor,   FakeCursor,        FakeDestroy,
    FakeTextAlloc,    FakeTextFree,
    FakeShellOpen,    FakeWinExec,
    FakeMciOpen,      FakeMciClose,      FakeProfile,       FakeScreenSave,
    FakeStartThread,  FakeWaitThread,
};

}  // namespace

void InstallFakePlatform() {
    if (!g_fake.root.empty()) {
        std::error_code error;
        fs::remove_all(g_fake.root, error);
    }
    g_fake = FakePlatform{};
    g_openKeys.clear();
    g_fake.root = MakeTempFolder();
    fs::create_directories(g_fake.root + "/C/WINDOWS");
    fs::create_directories(g_fake.root + "/C/ProgramData");
    g_platform = &kFakePlatform;
    ResetInstallState();
}
