// glimmer-pack's system layer on Windows: the wide-character API for every
// name, handles for files and for the extraction folder, CreateProcessW for
// osslsigncode, a console control handler for interrupts.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#include "tool_files.h"

#include "interrupt_table.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

const char* const kPathSeparators = "/\\";

// The seam's table in use (the stub's platform_win32.cpp is not part of the
// tool): set to ToolPlatform() at start.
const Platform* g_platform = nullptr;
const char* const kStubFromProgram = "stub.exe";

namespace {

// ---- Names and failures ------------------------------------------------------------------

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* wide, int length = -1) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), n, nullptr, nullptr);
    if (length < 0) utf8.pop_back();  // the terminating NUL
    return utf8;
}

// The error of the last failure of this layer.
DWORD g_error = 0;

// Notes the system's error of the call that just failed; returns false.
bool Failed() {
    g_error = GetLastError();
    return false;
}

HANDLE H(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The file being written and the extraction folder, open: an interrupt
// closes them (with the main thread stopped) before it removes their names,
// since Windows keeps the name of an open file and an open folder.
std::atomic<HANDLE> g_fileBeingWritten{nullptr};
std::atomic<HANDLE> g_folderOpen{nullptr};

// Forgets `h` as one an interrupt closes.
void Forget(std::atomic<HANDLE>& held, HANDLE h) {
    HANDLE expected = h;
    held.compare_exchange_strong(expected, nullptr);
}
std::intptr_t Value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Describe(HANDLE h, FileFacts* facts) {
    if (GetFileType(h) != FILE_TYPE_DISK) {
        *facts = FileFacts();
        facts->kind = FileKind::Other;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return Failed();
    facts->kind = info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? FileKind::Link
                  : info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY   ? FileKind::Folder
                                                                         : FileKind::Regular;
    facts->volume = info.dwVolumeSerialNumber;
    facts->index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts->size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    return true;
}

// A name that differs from run to run: the tool's temporary names. Their
// creation refuses an existing name, so this needs no more than variety.
std::uint64_t g_seed = 0;
std::string RandomSuffix(std::size_t length) {
    if (g_seed == 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        g_seed = static_cast<std::uint64_t>(now.QuadPart) ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (std::size_t i = 0; i < length; ++i) {
        // splitmix64
        std::uint64_t z = (g_seed += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        suffix += kLetters[(z ^ (z >> 31)) % (sizeof kLetters - 1)];
    }
    return suffix;
}

// ---- The platform table: plain files by UTF-8 names --------------------------------------

OsFile AsOsFile(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE) {
        Failed();
        return kNoFile;
    }
    return Value(h);
}

OsFile TableOpenRead(const char* path) {
    return AsOsFile(CreateFileW(Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The tool creates its files through this layer, never by a name given to
// the installer's code.
OsFile TableRefuseCreate(const char*) {
    g_error = ERROR_ACCESS_DENIED;
    return kNoFile;
}

std::int32_t TableRead(OsFile file, void* buffer, std::uint32_t size) {
    DWORD got = 0;
    if (!ReadFile(H(file), buffer, size, &got, nullptr)) {
        Failed();
        return g_error == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::int32_t>(got);
}

std::int32_t TableWrite(OsFile file, const void* buffer, std::uint32_t size) {
    DWORD put = 0;
    if (!WriteFile(H(file), buffer, size, &put, nullptr)) {
        Failed();
        return -1;
    }
    return static_cast<std::int32_t>(put);
}

std::int64_t TableSeek(OsFile file, std::int64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    if (position < 0 || !SetFilePointerEx(H(file), to, nullptr, FILE_BEGIN)) return Failed(), -1;
    return position;
}

std::int64_t TableTell(OsFile file) { return PositionOf(file); }

std::int64_t TableSize(OsFile file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(H(file), &size)) return Failed(), -1;
    return size.QuadPart;
}

void TableClose(OsFile file) {
    if (file != kNoFile) CloseHandle(H(file));
}

int TableFileExists(const char* path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int TableCreateFolder(const char* path) { return CreateDirectoryW(Wide(path).c_str(), nullptr) ? 1 : 0; }

FolderKind TableQueryFolder(const char* path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FolderKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderKind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderKind::Plain : FolderKind::NotFolder;
}

char* TableTextAlloc(std::uint32_t size) { return static_cast<char*>(std::calloc(size, 1)); }
void TableTextFree(char* text) { std::free(text); }

Platform MakeTable() {
    Platform table{};
    table.FileOpenRead = TableOpenRead;
    table.FileCreate = TableRefuseCreate;
    table.FileOpenAppend = TableRefuseCreate;
    table.FileRead = TableRead;
    table.FileWrite = TableWrite;
    table.FileSeek = TableSeek;
    table.FileTell = TableTell;
    table.FileSize = TableSize;
    table.FileClose = TableClose;
    table.FileExists = TableFileExists;
    table.CreateFolder = TableCreateFolder;
    table.QueryFolder = TableQueryFolder;
    table.TextAlloc = TableTextAlloc;
    table.TextFree = TableTextFree;
    return table;
}

// ---- The console ------------------------------------------------------------------------------

UINT g_consoleOutputCodePage = 0;
bool g_errorIsConsole = false;

void RestoreConsole() {
    if (g_consoleOutputCodePage) SetConsoleOutputCP(g_consoleOutputCodePage);
}

}  // namespace

std::vector<std::string> StartTool(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    // Bytes as they are to a file or a pipe: no CR added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // A console shows the UTF-8 text as such; the progress line's control
    // sequences work where the console knows them, else it is not drawn.
    DWORD mode = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(out, &mode) || GetConsoleMode(error, &mode)) {
        g_consoleOutputCodePage = GetConsoleOutputCP();
        if (SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsole);
        else g_consoleOutputCodePage = 0;
    }
    g_errorIsConsole = GetConsoleMode(error, &mode) && SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return args;
}

const Platform* ToolPlatform() {
    static const Platform table = MakeTable();
    return &table;
}

std::string SystemProblem() {
    // Where Windows' error has a like in the C library's errors, the words
    // the POSIX build prints for that one.
    struct Like {
        DWORD error;
        const char* words;
    };
    static const Like kLike[] = {
        {ERROR_FILE_NOT_FOUND, "No such file or directory"},
        {ERROR_PATH_NOT_FOUND, "No such file or directory"},
        {ERROR_INVALID_NAME, "No such file or directory"},
        {ERROR_BAD_NETPATH, "No such file or directory"},
        {ERROR_INVALID_DRIVE, "No such file or directory"},
        {ERROR_ACCESS_DENIED, "Permission denied"},
        {ERROR_SHARING_VIOLATION, "Permission denied"},
        {ERROR_LOCK_VIOLATION, "Permission denied"},
        {ERROR_FILE_EXISTS, "File exists"},
        {ERROR_ALREADY_EXISTS, "File exists"},
        {ERROR_DISK_FULL, "No space left on device"},
        {ERROR_HANDLE_DISK_FULL, "No space left on device"},
        {ERROR_DIRECTORY, "Not a directory"},
        {ERROR_DIR_NOT_EMPTY, "Directory not empty"},
        {ERROR_NOT_SAME_DEVICE, "Invalid cross-device link"},
        {ERROR_WRITE_PROTECT, "Read-only file system"},
        {ERROR_FILENAME_EXCED_RANGE, "File name too long"},
        {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory"},
        {ERROR_OUTOFMEMORY, "Cannot allocate memory"},
        {ERROR_CANT_RESOLVE_FILENAME, "Too many levels of symbolic links"},
    };
    for (const Like& like : kLike)
        if (like.error == g_error) return like.words;
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, g_error,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string words = length ? Narrow(text, static_cast<int>(length)) : "";
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words.empty() ? "Windows error " + std::to_string(g_error) : words;
}

bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
}

// ---- Files ------------------------------------------------------------------------------------

bool LookAt(const std::string& path, bool followLinks, FileFacts* facts) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Failed();
        if (g_error != ERROR_FILE_NOT_FOUND && g_error != ERROR_PATH_NOT_FOUND) return false;
        *facts = FileFacts();
        return true;
    }
    const bool described = Describe(h, facts);
    CloseHandle(h);
    return described;
}

ToolFile OpenToRead(const std::string& path) {
    // Folders open too (FactsOf tells them apart), as they do on POSIX.
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Failed(), kNoToolFile;
    return Value(h);
}

bool FactsOf(ToolFile file, FileFacts* facts) { return Describe(H(file), facts); }

std::int64_t ReadSome(ToolFile file, void* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(H(file), buffer, want, &got, nullptr)) {
        Failed();
        return g_error == ERROR_HANDLE_EOF || g_error == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
}

bool WriteAll(ToolFile file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(H(file), p, want, &put, nullptr)) return Failed();
        if (put == 0) {
            g_error = ERROR_DISK_FULL;
            return false;
        }
        p += put;
        size -= put;
    }
    return true;
}

bool SeekTo(ToolFile file, std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(H(file), to, nullptr, FILE_BEGIN) ? true : Failed();
}

bool WriteAt(ToolFile file, std::uint64_t offset, const void* data, std::size_t size) {
    return SeekTo(file, offset) && WriteAll(file, data, size);
}

std::int64_t PositionOf(ToolFile file) {
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(H(file), zero, &at, FILE_CURRENT)) return Failed(), -1;
    return at.QuadPart;
}

bool CutAt(ToolFile file, std::uint64_t size) {
    return SeekTo(file, size) && (SetEndOfFile(H(file)) ? true : Failed());
}

bool FlushToDisk(ToolFile file) { return FlushFileBuffers(H(file)) ? true : Failed(); }

bool CloseFile(ToolFile file) {
    Forget(g_fileBeingWritten, H(file));
    return CloseHandle(H(file)) ? true : Failed();
}

ToolFile CreateTemporary(std::string* pattern) {
    const std::size_t at = pattern->size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = RandomSuffix(6);
        for (std::size_t i = 0; i < 6; ++i) (*pattern)[at + i] = suffix[i];
        // FILE_SHARE_DELETE: an interrupt removes the file while it is open.
        HANDLE h = CreateFileW(Wide(*pattern).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            g_fileBeingWritten = h;
            return Value(h);
        }
        if (Failed(), g_error != ERROR_FILE_EXISTS && g_error != ERROR_ALREADY_EXISTS) break;
    }
    for (std::size_t i = 0; i < 6; ++i) (*pattern)[at + i] = 'X';
    return kNoToolFile;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? true
               : Failed();
}

bool RemoveFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) ? true : Failed(); }

bool CopyPermissions(const std::string&, const std::string&) { return true; }

bool MakeFolders(const std::string& path) {
    // Each folder on the path in turn, from the first after a drive or a
    // server's share.
    std::size_t from = 0;
    if (path.size() >= 2 && path[1] == ':') from = 2;
    else if (path.compare(0, 2, "\\\\") == 0 || path.compare(0, 2, "//") == 0)
        from = path.find_first_of(kPathSeparators, path.find_first_of(kPathSeparators, 2) + 1);
    for (std::size_t at = path.find_first_not_of(kPathSeparators, from); at != std::string::npos && at <= path.size();) {
        const std::size_t end = path.find_first_of(kPathSeparators, at);
        const std::string folder = path.substr(0, end);
        if (!CreateDirectoryW(Wide(folder).c_str(), nullptr)) {
            Failed();
            const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
            if (g_error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
                !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (g_error == ERROR_ALREADY_EXISTS) g_error = ERROR_DIRECTORY;
                return false;
            }
        }
        if (end == std::string::npos) break;
        at = path.find_first_not_of(kPathSeparators, end);
    }
    return true;
}

std::string MakeTemporaryFolder(const std::string& base) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = base + "." + RandomSuffix(6);
        if (CreateDirectoryW(Wide(folder).c_str(), nullptr)) return folder;
        if (Failed(), g_error != ERROR_ALREADY_EXISTS) break;
    }
    return "";
}

bool RemoveEmptyFolder(const std::string& path) { return RemoveDirectoryW(Wide(path).c_str()) ? true : Failed(); }

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
    WIN32_FIND_DATAW found;
    const bool ends = !path.empty() && (path.back() == '\\' || path.back() == '/');
    HANDLE h = FindFirstFileW(Wide(path + (ends ? "*" : "\\*")).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return Failed();
    names->clear();
    do {
        const std::string name = Narrow(found.cFileName);
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileW(h, &found));
    Failed();
    FindClose(h);
    return g_error == ERROR_NO_MORE_FILES;
}

std::string CurrentFolder() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return Failed(), "";
    std::wstring folder(n, L'\0');
    const DWORD got = GetCurrentDirectoryW(n, folder.data());
    if (got == 0 || got >= n) return Failed(), "";
    return Narrow(folder.c_str(), static_cast<int>(got));
}

// ---- The extraction folder --------------------------------------------------------------------

bool OpenFolder(const std::string& path, ToolFolder* folder) {
    // Without FILE_SHARE_DELETE: the folder cannot be moved or replaced
    // while it is open. A junction or symbolic link is opened as itself and
    // refused.
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Failed();
    FileFacts facts;
    if (!Describe(h, &facts) || facts.kind != FileKind::Folder) {
        if (facts.kind == FileKind::Link) g_error = ERROR_CANT_RESOLVE_FILENAME;
        else if (facts.kind != FileKind::Folder) g_error = ERROR_DIRECTORY;
        CloseHandle(h);
        return false;
    }
    folder->path = path;
    folder->handle = Value(h);
    g_folderOpen = h;
    return true;
}

void CloseFolder(ToolFolder* folder) {
    if (folder->handle != -1) {
        Forget(g_folderOpen, H(folder->handle));
        CloseHandle(H(folder->handle));
    }
    folder->handle = -1;
}

namespace {

std::string InFolder(const ToolFolder& folder, const std::string& name) { return folder.path + "\\" + name; }

}  // namespace

bool LookIn(const ToolFolder& folder, const std::string& name, FileFacts* facts) {
    return LookAt(InFolder(folder, name), false, facts);
}

ToolFile CreateTemporaryIn(const ToolFolder& folder, const std::string& prefix, std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + RandomSuffix(6);
        // CREATE_NEW never opens an existing name, a link included.
        // FILE_SHARE_DELETE: an interrupt removes the file while it is open.
        HANDLE h = CreateFileW(Wide(InFolder(folder, *name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            g_fileBeingWritten = h;
            return Value(h);
        }
        if (Failed(), g_error != ERROR_FILE_EXISTS && g_error != ERROR_ALREADY_EXISTS) break;
    }
    name->clear();
    return kNoToolFile;
}

bool RenameIn(const ToolFolder& folder, const std::string& from, const std::string& to, bool replace) {
    // Replacing renames over the name itself: a link or a file linked
    // elsewhere is not written through.
    return MoveFileExW(Wide(InFolder(folder, from)).c_str(), Wide(InFolder(folder, to)).c_str(),
                       replace ? MOVEFILE_REPLACE_EXISTING : 0)
               ? true
               : Failed();
}

bool RemoveIn(const ToolFolder& folder, const std::string& name) { return RemoveFile(InFolder(folder, name)); }

// ---- Programs ---------------------------------------------------------------------------------

std::string ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return Failed(), "";
        if (n < path.size()) return Narrow(path.c_str(), static_cast<int>(n));
        path.resize(path.size() * 2);
    }
}

namespace {

// The program `name` (with ".exe" when it has no extension) in a folder of
// PATH: its full path, or "". Only PATH is searched, as on POSIX: not the
// current folder, where anyone who can write there could plant a program.
std::wstring FoundProgram(const std::string& name) {
    std::wstring file = Wide(name);
    if (file.find(L'.') == std::wstring::npos) file += L".exe";
    const DWORD length = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring folders(length, L'\0');
    if (length == 0 || GetEnvironmentVariableW(L"PATH", folders.data(), length) == 0) folders.clear();
    folders.resize(folders.find(L'\0') == std::wstring::npos ? folders.size() : folders.find(L'\0'));
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = folders.find(L';', start);
        if (end == std::wstring::npos) end = folders.size();
        std::wstring folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        if (folder.empty()) continue;
        const std::wstring path = folder + (folder.back() == L'\\' || folder.back() == L'/' ? L"" : L"\\") + file;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return path;
    }
    g_error = ERROR_FILE_NOT_FOUND;
    return std::wstring();
}

// One argument as the C runtime's parser reads it back: quoted when it holds
// a blank or a quote, backslashes doubled before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    return text + L"\"";
}

// What an interrupt removes, and the program running meanwhile.
InterruptTable<wchar_t, 4u << 20> g_interruptTable;
HANDLE volatile g_child = nullptr;

// The main thread, which an interrupt stops before it cleans up.
HANDLE g_mainThread = nullptr;
// Set while the main thread creates a file or folder and enters it in the
// table (HoldInterrupts): an interrupt lets it finish that step first.
std::atomic<bool> g_holding{false};

// Stops the main thread outside a held step. SuspendThread only asks for
// the stop; reading the thread's registers waits until it has stopped.
void StopMainThread() {
    if (!g_mainThread) return;
    for (int tries = 0; tries < 5000; ++tries) {
        SuspendThread(g_mainThread);
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(g_mainThread, &context);
        if (!g_holding.load()) return;
        ResumeThread(g_mainThread);
        Sleep(1);
    }
    SuspendThread(g_mainThread);
}

// Runs on a thread of its own. It first stops the main thread, so that
// nothing changes under it (as a signal handler interrupts the one thread on
// POSIX); it reads only the table, whose entries are never moved or freed,
// allocates nothing, and ends the process without running the C library's
// exit (whose locks the stopped thread may hold).
BOOL WINAPI OnInterrupt(DWORD event) {
    StopMainThread();
    // Ctrl+C and Ctrl+Break stand for SIGINT, the console closing (or the
    // session ending) for SIGHUP.
    const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2 : 1;
    HANDLE child = g_child;
    if (child) {
        TerminateProcess(child, 128 + signal);
        WaitForSingleObject(child, 5000);
    }
    for (std::atomic<HANDLE>* held : {&g_fileBeingWritten, &g_folderOpen})
        if (HANDLE h = held->exchange(nullptr)) CloseHandle(h);
    g_interruptTable.RemoveAll([](const wchar_t* file) { DeleteFileW(file); },
                               [](const wchar_t* folder) { RemoveDirectoryW(folder); });
    RestoreConsole();
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + signal));
    return TRUE;
}

// Called on the main thread.
void CatchInterrupts() {
    static bool caught = false;
    if (caught) return;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_mainThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    caught = SetConsoleCtrlHandler(OnInterrupt, TRUE) != 0;
}

}  // namespace

bool FindProgram(const std::string& name) { return !FoundProgram(name).empty(); }

void HoldInterrupts() {
    CatchInterrupts();
    g_holding.store(true);
}

void ReleaseInterrupts() { g_holding.store(false); }

int RemoveOnInterrupt(const std::string& path, bool folder) {
    CatchInterrupts();
    const std::wstring wide = Wide(path);
    if (wide.find(L'\0') != std::wstring::npos) return -1;
    return g_interruptTable.Add(wide.c_str(), wide.size(), folder);
}

void KeepOnInterrupt(int slot) { g_interruptTable.Take(slot); }

int RunCollecting(const std::vector<std::string>& args, std::string* output) {
    if (args.empty()) return -1;
    const std::wstring program = FoundProgram(args[0]);
    if (program.empty()) return -1;
    std::wstring commandLine;
    for (const std::string& a : args) commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(Wide(a));

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return Failed(), -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, kShareAll, &inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    CatchInterrupts();
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    if (!started) Failed();
    CloseHandle(writeEnd);
    if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
    if (!started) {
        CloseHandle(readEnd);
        return -1;
    }
    g_child = process.hProcess;
    CloseHandle(process.hThread);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output->append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    const bool known = GetExitCodeProcess(process.hProcess, &status);
    g_child = nullptr;
    CloseHandle(process.hProcess);
    return known ? static_cast<int>(status) : -1;
}

// ---- The terminal -----------------------------------------------------------------------------

bool ErrorIsTerminal() { return g_errorIsConsole; }

std::size_t TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) && info.srWindow.Right > info.srWindow.Left)
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    return 80;
}
