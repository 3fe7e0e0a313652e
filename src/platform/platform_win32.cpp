// The platform seam on Win32 (ANSI entry points). Each operation is the
// Windows call that platform.h names, with the argument values the installer
// has always used.
//
// Libraries that are not always loaded are found at run time by full path in
// the system folder (SHFOLDER.DLL, WINMM.DLL): the stub links nothing but
// KnownDLLs, so no library is searched for in the folder that the installer
// was started from.
#include "platform/platform_win32.h"

#include "platform/winapi_win32.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <cstring>


const Platform* g_platform = &kWin32Platform;

namespace {

// An OsFile holds the HFILE of the 16-bit-style calls, which on Win32 is the
// file's HANDLE; kNoFile equals HFILE_ERROR.
static_assert(kNoFile == static_cast<OsFile>(HFILE_ERROR), "kNoFile is HFILE_ERROR");

HFILE AsHfile(OsFile file) { return static_cast<HFILE>(file); }
HANDLE AsHandle(OsFile file) { return reinterpret_cast<HANDLE>(file); }

// Loads a library from the system folder by its full path; 0 when it cannot
// be found there.
HMODULE LoadSystemLibrary(const char* fileName) {
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    if (path[n - 1] != '\\') {
        path[n++] = '\\';
        path[n] = '\0';
    }
    if (n + std::strlen(fileName) >= MAX_PATH) return nullptr;
    std::strcpy(path + n, fileName);
    return LoadLibraryA(path);
}

// Searching the system folder only (SetDefaultDllDirectories).
constexpr DWORD kSearchSystemFolder = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// Libraries that are not KnownDLLs and that Windows (or a system library
// through a delayed import) loads for a GUI program later on: themes and
// their drawing, the desktop window manager, version resources, the user
// profile, the application compatibility layer, property stores,
// cryptography, accessibility and the common controls. A name missing on a
// given Windows is skipped.
constexpr const char* kPreloaded[] = {
    "UXTHEME.DLL", "MSIMG32.DLL",  "DWMAPI.DLL",  "VERSION.DLL", "USERENV.DLL", "PROFAPI.DLL",
    "APPHELP.DLL", "PROPSYS.DLL",  "CRYPTBASE.DLL", "OLEACC.DLL", "COMCTL32.DLL",
};

// GetProcAddress gives a generic function pointer; the casts go through
// void* so that the compiler accepts the change of signature.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// ---- Files -------------------------------------------------------------------

OsFile Win32FileOpenRead(const char* path) { return _lopen(path, OF_READ | OF_SHARE_DENY_NONE); }

// The system's final name of a file without its "\\?\" prefix ("\\?\UNC\"
// becomes "\\"), for comparing with a path as the installer formed it.
const char* WithoutLongPrefix(char* final) {
    if (std::strncmp(final, "\\\\?\\UNC\\", 8) == 0) {
        final[6] = '\\';
        return final + 6;
    }
    return std::strncmp(final, "\\\\?\\", 4) == 0 ? final + 4 : final;
}

// 1 when the file opened as `path` is that file and no other: it has no
// other name (a hard link would carry the installer's writes to a file
// elsewhere), and the system's final name for it is `path` itself, compared
// whole and without regard to case (a symbolic link would lead to another
// file, a junction swapped in for a folder since the folders were checked to
// another place). GetFinalPathNameByHandleA is looked up at run time:
// Windows XP lacks it.
int OpenedWhereAsked(HANDLE file, const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1) return 0;
    using FinalPathName = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    auto finalPathName = kernel ? LookUp<FinalPathName>(kernel, "GetFinalPathNameByHandleA") : nullptr;
    if (!finalPathName) return 1;
    char final[MAX_PATH + 8];
    DWORD n = finalPathName(file, final, sizeof final, 0);
    if (n == 0 || n >= sizeof final) return 1;  // no name to compare with
    return lstrcmpiA(WithoutLongPrefix(final), path) == 0 ? 1 : 0;
}

// Opens the file at `path` for writing, creating it when missing, but never
// through a link: an existing file is taken only once it is known to be
// that file and no other (writing through a hard or symbolic link planted
// at the name would change a file elsewhere; removing the name first is no
// way out either, as some systems remove a symbolic link's target), and a
// missing one is created only if the name is still free, which a dangling
// link does not count as. INVALID_HANDLE_VALUE when it cannot be had so.
HANDLE OpenInPlace(const char* path, DWORD flags) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return INVALID_HANDLE_VALUE;
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    HANDLE file = CreateFileA(path, kAccess, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (OpenedWhereAsked(file, path)) return file;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
    file = CreateFileA(path, kAccess, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE || OpenedWhereAsked(file, path)) return file;
    // A folder was swapped for a link since the folders were checked: the
    // empty file just made there is taken away again.
    CloseHandle(file);
    DeleteFileA(path);
    return INVALID_HANDLE_VALUE;
}

// A target file replaces what stands at its name: opened in place, then
// cut to nothing.
OsFile Win32FileCreate(const char* path) {
    HANDLE file = OpenInPlace(path, 0);
    if (file == INVALID_HANDLE_VALUE) return kNoFile;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || !SetEndOfFile(file)) {
        CloseHandle(file);
        return kNoFile;
    }
    return reinterpret_cast<OsFile>(file);
}

// INSTALL.LOG keeps the lines of earlier installs: opened in place, at its
// end.
OsFile Win32FileOpenAppend(const char* path) {
    HANDLE file = OpenInPlace(path, FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) return kNoFile;
    SetFilePointer(file, 0, nullptr, FILE_END);
    return reinterpret_cast<OsFile>(file);
}

std::int32_t Win32FileRead(OsFile file, void* buffer, std::uint32_t size) {
    UINT n = _lread(AsHfile(file), buffer, size);
    return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<std::int32_t>(n);
}

std::int32_t Win32FileWrite(OsFile file, const void* buffer, std::uint32_t size) {
    // _lwrite with a count of 0 cuts the file at the current position; a
    // write of nothing must leave the file alone.
    if (size == 0) return 0;
    UINT n = _lwrite(AsHfile(file), static_cast<LPCCH>(buffer), size);
    return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<std::int32_t>(n);
}

std::int64_t Win32FileSeek(OsFile file, std::int64_t position) {
    // _llseek takes a signed 32-bit offset; the installer's files stay below
    // 2 GiB (sizes are compared as signed 32-bit values throughout).
    if (position < 0 || position > 0x7FFFFFFF) return -1;
    LONG at = _llseek(AsHfile(file), static_cast<LONG>(position), FILE_BEGIN);
    return at == HFILE_ERROR ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t Win32FileTell(OsFile file) {
    LONG at = _llseek(AsHfile(file), 0, FILE_CURRENT);
    return at == HFILE_ERROR ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t Win32FileSize(OsFile file) {
    DWORD high = 0;
    DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

void Win32FileClose(OsFile file) {
    if (file != kNoFile) _lclose(AsHfile(file));
}

int Win32FileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int Win32CreateFolder(const char* path) { return CreateDirectoryA(path, nullptr) ? 1 : 0; }

FolderKind Win32QueryFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FolderKind::Missing;
    // A link first, be it to a folder or to a file (INSTALL.LOG is asked
    // about too).
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderKind::Link;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderKind::NotFolder;
    return FolderKind::Plain;
}

// ---- System folders and names ------------------------------------------------

std::uint32_t Win32GetModuleFileName(char* buffer, std::uint32_t size) {
    if (size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    // A path cut to the buffer (n == size, unterminated on older Windows)
    // names some other file: report failure rather than a wrong path.
    if (n == 0 || n >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return n;
}

std::uint32_t Win32GetWindowsDirectory(char* buffer, std::uint32_t size) {
    return GetWindowsDirectoryA(buffer, size);
}

int Win32GetCommonAppData(char* buffer260) {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    constexpr int kCsidlCommonAppData = 0x0023;
    constexpr DWORD kCurrentPath = 0;  // SHGFP_TYPE_CURRENT
    HMODULE shfolder = LoadSystemLibrary("SHFOLDER.DLL");
    if (!shfolder) return 0;
    int found = 0;
    if (auto getFolderPath = LookUp<GetFolderPath>(shfolder, "SHGetFolderPathA")) {
        buffer260[0] = '\0';
        found = getFolderPath(nullptr, kCsidlCommonAppData, nullptr, kCurrentPath, buffer260) == S_OK &&
                buffer260[0] != '\0';
    }
    FreeLibrary(shfolder);
    return found;
}

std::uint32_t Win32GetShortPathName(const char* longPath, char* buffer, std::uint32_t size) {
    return GetShortPathNameA(longPath, buffer, size);
}

int Win32GetDiskFreeSpaceEx(const char* path, std::uint64_t* freeBytesAvailable) {
    using DiskFreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    // KERNEL32.DLL is in every process; only the function may be missing
    // (Windows 95 before OSR2).
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return 0;
    auto diskFreeSpaceEx = LookUp<DiskFreeSpaceEx>(kernel, "GetDiskFreeSpaceExA");
    if (!diskFreeSpaceEx) return 0;
    ULARGE_INTEGER available, total, free;
    if (!diskFreeSpaceEx(path, &available, &total, &free)) return 0;
    *freeBytesAvailable = available.QuadPart;
    return 1;
}

int Win32GetDiskFreeSpace(const char* path, std::uint32_t* sectorsPerCluster,
                          std::uint32_t* bytesPerSector, std::uint32_t* freeClusters) {
    DWORD sectors, bytes, free, total;
    if (!GetDiskFreeSpaceA(path, &sectors, &bytes, &free, &total)) return 0;
    *sectorsPerCluster = sectors;
    *bytesPerSector = bytes;
    *freeClusters = free;
    return 1;
}

// ---- Registry ------------------------------------------------------------------

std::int32_t Win32RegCreateKey(const char* subKey, OsKey* key) {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    char noClass[] = "";
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, noClass, 0, KEY_ALL_ACCESS, nullptr,
                                  &opened, &disposition);
    if (result == ERROR_SUCCESS) *key = reinterpret_cast<OsKey>(opened);
    return result;
}

std::int32_t Win32RegSetValue(OsKey key, const char* name, std::uint32_t type, const void* data,
                              std::uint32_t size) {
    return RegSetValueExA(reinterpret_cast<HKEY>(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

void Win32RegCloseKey(OsKey key) {
    if (key) RegCloseKey(reinterpret_cast<HKEY>(key));
}

// ---- User interface --------------------------------------------------------------

void Win32PumpMessages(OsWindow dialogWindow) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: put it back for the loop that ends the
            // program, and stop draining.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        HWND dialog = reinterpret_cast<HWND>(dialogWindow);
        if (dialog && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int Win32MessageBox(OsWindow owner, const char* text, const char* caption, std::uint32_t style) {
    return MessageBoxA(reinterpret_cast<HWND>(owner), text, caption, style);
}


void Win32KillTimer(OsWindow window, std::uintptr_t id) { KillTimer(reinterpret_cast<HWND>(window), id); }

void Win32SetClassArrowCursor(OsWindow window) {
    SetClassLongA(reinterpret_cast<HWND>(window), GCL_HCURSOR,
                  static_cast<LONG>(reinterpret_cast<LONG_PTR>(LoadCursorA(nullptr, IDC_ARROW))));
}

void Win32SetCursorShape(int wait) { SetCursor(LoadCursorA(nullptr, wait ? IDC_WAIT : IDC_ARROW)); }

void Win32DestroyWindow(OsWindow window) { DestroyWindow(reinterpret_cast<HWND>(window)); }

// ---- Memory for the license text ---------------------------------------------------

char* Win32TextAlloc(std::uint32_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    char* text = static_cast<char*>(GlobalLock(block));
    if (!text) GlobalFree(block);
    return text;
}

void Win32TextFree(char* text) {
    if (!text) return;
    HGLOBAL block = GlobalHandle(text);
    if (!block) return;
    GlobalUnlock(block);
    GlobalFree(block);
}

// ---- Shell ---------------------------------------------------------------------------

static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "the request record of a 32-bit program is 60 bytes");

int Win32ShellOpen(const char* file, const char* parameters, int show) {
    SHELLEXECUTEINFOA request;
    std::memset(&request, 0, sizeof request);
    request.cbSize = sizeof request;
    request.fMask = 0;
    request.hwnd = nullptr;
    request.lpVerb = "open";
    request.lpFile = file;
    request.lpParameters = parameters;
    request.lpDirectory = nullptr;
    request.nShow = show;
    return ShellExecuteExA(&request) ? 1 : 0;
}

std::uint32_t Win32WinExec(const char* commandLine, int show) { return WinExec(commandLine, show); }

// ---- Multimedia and screen-saver settings ---------------------------------------------

using MciSendCommand = MCIERROR(WINAPI*)(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR);

// mciSendCommandA from WINMM.DLL in the system folder, loaded on first use
// and kept for the rest of the run; nullptr when it cannot be had.
MciSendCommand MciEntry() {
    static HMODULE winmm;
    static MciSendCommand send;
    static bool tried;
    if (!tried) {
        tried = true;
        winmm = LoadSystemLibrary("WINMM.DLL");
        if (winmm) send = LookUp<MciSendCommand>(winmm, "mciSendCommandA");
    }
    return send;
}

char kMpegVideoDevice[] = "MPEGVideo";

std::uint32_t Win32MciOpen(const char* shortPath, int withType, std::uint32_t* deviceId) {
    *deviceId = 0;
    MciSendCommand send = MciEntry();
    if (!send) return MCIERR_DEVICE_NOT_INSTALLED;
    MCI_OPEN_PARMSA open;
    std::memset(&open, 0, sizeof open);
    open.lpstrDeviceType = kMpegVideoDevice;
    open.lpstrElementName = shortPath;
    DWORD flags = MCI_OPEN_ELEMENT | (withType ? MCI_OPEN_TYPE : 0);
    MCIERROR result = send(0, MCI_OPEN, flags, reinterpret_cast<DWORD_PTR>(&open));
    if (result == 0) *deviceId = open.wDeviceID;
    return result;
}

void Win32MciClose(std::uint32_t deviceId) {
    MciSendCommand send = MciEntry();
    if (!send) return;
    MCI_GENERIC_PARMS close;
    std::memset(&close, 0, sizeof close);
    send(deviceId, MCI_CLOSE, 0, reinterpret_cast<DWORD_PTR>(&close));
}

void Win32WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
    WritePrivateProfileStringA(section, key, value, file);
}

void Win32SetScreenSaveActive() { SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_UPDATEINIFILE); }

}  // namespace

void HardenLibraryLoading() {
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    using SetDirectory = BOOL(WINAPI*)(LPCSTR);
    if (HMODULE kernel = GetModuleHandleA("KERNEL32.DLL")) {
        if (auto setDefault = LookUp<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories"))
            setDefault(kSearchSystemFolder);
        // An empty text takes the current folder out of the search.
        if (auto setDirectory = LookUp<SetDirectory>(kernel, "SetDllDirectoryA")) setDirectory("");
    }
    // Kept loaded for the whole run.
    for (const char* name : kPreloaded) LoadSystemLibrary(name);
}

// ---- A second thread ----------------------------------------------------------------

// The work of the one thread the installer starts.
// A thread's work waits in a slot of its own until the new thread has taken
// it, so threads may be started from any thread, also from inside a work,
// without one start overwriting another's work. A slot is busy only from
// the start until the new thread runs, and the installer runs at most three
// threads; a start that finds every slot busy fails like CreateThread.
struct ThreadWork {
    int (*work)(void* context);
    void* context;
};
constexpr int kThreadSlots = 4;
ThreadWork g_threadWork[kThreadSlots];
LONG volatile g_threadSlotBusy[kThreadSlots];

DWORD WINAPI ThreadMain(LPVOID slot) {
    int taken = static_cast<int>(reinterpret_cast<std::intptr_t>(slot));
    ThreadWork work = g_threadWork[taken];
    InterlockedExchange(&g_threadSlotBusy[taken], 0);
    return static_cast<DWORD>(work.work(work.context));
}

OsThread Win32StartThread(int (*work)(void* context), void* context) {
    for (int slot = 0; slot < kThreadSlots; ++slot) {
        if (InterlockedCompareExchange(&g_threadSlotBusy[slot], 1, 0) != 0) continue;
        g_threadWork[slot] = ThreadWork{work, context};
        HANDLE thread = CreateThread(nullptr, 0, ThreadMain, reinterpret_cast<LPVOID>(static_cast<std::intptr_t>(slot)),
                                     0, nullptr);
        if (thread) return reinterpret_cast<OsThread>(thread);
        InterlockedExchange(&g_threadSlotBusy[slot], 0);
        return kNoThread;
    }
    return kNoThread;
}

int Win32WaitThread(OsThread handle) {
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) break;  // ended, or the wait failed
        MSG message;
        int quit = 0;
        while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Not ours to take: put it back for the loop that ends the
                // program, and wait without dispatching.
                PostQuitMessage(static_cast<int>(message.wParam));
                quit = 1;
            } else {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (quit) break;
    }
    WaitForSingleObject(thread, INFINITE);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return static_cast<int>(result);
}

// Designated in the order of the struct, so a missing or misplaced
// operation does not compile.
const Platform kWin32Platform = {
    .FileOpenRead = Win32FileOpenRead,
    .FileCreate = Win32FileCreate,
    .FileOpenAppend = Win32FileOpenAppend,
    .FileRead = Win32FileRead,
    .FileWrite = Win32FileWrite,
    .FileSeek = Win32FileSeek,
    .FileTell = Win32FileTell,
    .FileSize = Win32FileSize,
    .FileClose = Win32FileClose,
    .FileExists = Win32FileExists,
    .CreateFolder = Win32CreateFolder,
    .QueryFolder = Win32QueryFolder,
    .GetModuleFileName = Win32GetModuleFileName,
    .GetWindowsDirectory = Win32GetWindowsDirectory,
    .GetCommonAppData = Win32GetCommonAppData,
    .GetShortPathName = Win32GetShortPathName,
    .GetDiskFreeSpaceEx = Win32GetDiskFreeSpaceEx,
    .GetDiskFreeSpace = Win32GetDiskFreeSpace,
    .RegCreateKey = Win32RegCreateKey,
    .RegSetValue = Win32RegSetValue,
    .RegCloseKey = Win32RegCloseKey,
    .PumpMessages = Win32PumpMessages,
    .MessageBox = Win32MessageBox,
    .RunLicenseDialog = nullptr,
    .RunInstallDialog = nullptr,
    .RunCreditsDialog = nullptr,
    .KillTimer = Win32KillTimer,
    .SetClassArrowCursor = Win32SetClassArrowCursor,
    .SetCursorShape = Win32SetCursorShape,
    .DestroyWindow = Win32DestroyWindow,
    .TextAlloc = Win32TextAlloc,
    .TextFree = Win32TextFree,
    .ShellOpen = Win32ShellOpen,
    .WinExec = Win32WinExec,
    .MciOpen = Win32MciOpen,
    .MciClose = Win32MciClose,
    .WriteProfileString = Win32WriteProfileString,
    .SetScreenSaveActive = Win32SetScreenSaveActive,
    .StartThread = Win32StartThread,
    .WaitThread = Win32WaitThread,
};
