// The platform seam: every operation through which the installer logic
// reaches the operating system.
//
// The logic (payload, decoder, naming, checks, extraction, the install
// sequence) is portable C++ and never includes <windows.h>. It calls the
// operations below through the table `g_platform`. Three tables exist:
//
//   - the Win32 table (platform_win32.cpp), used by the stub;
//   - the POSIX table (platform_posix.cpp), plain files with no user
//     interface, used by glimmer-pack and under the fake;
//   - the recording fake (tests/support/fake_platform.*), which logs every
//     call, answers prompts from a script and fails chosen operations.
//
// Contracts are stated per operation. Results follow the Win32 calls they
// stand for, so the logic reads like the Windows code it drives: counts and
// handles, 0 for failure unless said otherwise. No operation throws.
#pragma once

#include <cstdint>

// Every path and name buffer holds this many bytes (MAX_PATH): 259
// characters and the terminating zero.
inline constexpr int kPathSize = 260;

// An open file. kNoFile means "not open".
using OsFile = std::intptr_t;
inline constexpr OsFile kNoFile = -1;

// A window (HWND), 0 for none.
using OsWindow = std::uintptr_t;

// A running thread (its HANDLE). kNoThread means "none".
using OsThread = std::uintptr_t;
inline constexpr OsThread kNoThread = 0;

// An open registry key (HKEY), 0 for none.
using OsKey = std::uintptr_t;

// Registry value types, as Windows numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

// Message box styles and answers, as Windows numbers them.
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconError = 0x10;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Show commands.
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMaximized = 3;
inline constexpr int kSwShow = 5;

// Registry results.
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorAccessDenied = 5;

// What a folder on a path is, for the redirected-folder check.
enum class FolderKind { Missing, Plain, Link, NotFolder };

struct Platform {
    // ---- Files -----------------------------------------------------------
    // Opens an existing file for reading, sharing it with other readers and
    // writers (_lopen with OF_READ | OF_SHARE_DENY_NONE, or fopen "rb").
    OsFile (*FileOpenRead)(const char* path);
    // Creates or truncates a file for writing (_lcreat with attribute 0, or
    // fopen "wb").
    OsFile (*FileCreate)(const char* path);
    // Opens a file for appending, creating it when missing, with no sharing
    // (CreateFileA OPEN_ALWAYS then SetFilePointer to its end). Used for
    // INSTALL.LOG.
    OsFile (*FileOpenAppend)(const char* path);
    // Reads up to `size` bytes; returns the count read (0 at the end of the
    // file) or -1 on error. A short count is not an error.
    std::int32_t (*FileRead)(OsFile file, void* buffer, std::uint32_t size);
    // Writes `size` bytes; returns the count written or -1 on error. A count
    // below `size` means the write failed (for instance a full disk).
    std::int32_t (*FileWrite)(OsFile file, const void* buffer, std::uint32_t size);
    // Moves to an absolute position from the start of the file; returns the
    // new position or -1.
    std::int64_t (*FileSeek)(OsFile file, std::int64_t position);
    // The current position, or -1.
    std::int64_t (*FileTell)(OsFile file);
    // The size of the open file in bytes, or -1.
    std::int64_t (*FileSize)(OsFile file);
    void (*FileClose)(OsFile file);
    // 1 when a file (not a folder) exists at the path.
    int (*FileExists)(const char* path);
    // CreateDirectoryA with default security; 1 on success. An existing
    // folder gives 0 and is not an error for the callers.
    int (*CreateFolder)(const char* path);
    // What is on the path: nothing, a plain folder, a junction or symbolic
    // link (a reparse point), or something that is not a folder.
    FolderKind (*QueryFolder)(const char* path);

    // ---- System folders and names ------------------------------------------
    // The installer's own file (GetModuleFileNameA); length, 0 on failure.
    std::uint32_t (*GetModuleFileName)(char* buffer, std::uint32_t size);
    // GetWindowsDirectoryA: length without the NUL; 0 on failure; a value of
    // `size` or more means the buffer was too small and holds nothing useful.
    std::uint32_t (*GetWindowsDirectory)(char* buffer, std::uint32_t size);
    // SHGetFolderPathA(CSIDL_COMMON_APPDATA) looked up at run time in
    // SHFOLDER.DLL; 1 with the folder (no final backslash) in the 260-byte
    // buffer, 0 when the library, the function or the call fails.
    int (*GetCommonAppData)(char* buffer260);
    // GetShortPathNameA: length, 0 on failure, `size` or more when too small.
    std::uint32_t (*GetShortPathName)(const char* longPath, char* buffer, std::uint32_t size);
    // GetDiskFreeSpaceExA looked up at run time in KERNEL32.DLL: 1 with the
    // bytes free to the caller, 0 when the function is missing or fails.
    int (*GetDiskFreeSpaceEx)(const char* path, std::uint64_t* freeBytesAvailable);
    // GetDiskFreeSpaceA: 1 on success.
    int (*GetDiskFreeSpace)(const char* path, std::uint32_t* sectorsPerCluster,
                            std::uint32_t* bytesPerSector, std::uint32_t* freeClusters);

    // ---- Registry (HKEY_LOCAL_MACHINE) ----------------------------------------
    // RegCreateKeyExA under HKEY_LOCAL_MACHINE, class "", options 0,
    // KEY_ALL_ACCESS. Returns the Win32 error code (0 on success, 5 when
    // access is denied); *key is set on success.
    std::int32_t (*RegCreateKey)(const char* subKey, OsKey* key);
    // RegSetValueExA; returns the Win32 error code.
    std::int32_t (*RegSetValue)(OsKey key, const char* name, std::uint32_t type,
                                const void* data, std::uint32_t size);
    void (*RegCloseKey)(OsKey key);

    // ---- User interface ---------------------------------------------------------
    // The UI pump: drain the thread's message queue (PeekMessageA PM_REMOVE),
    // offering each message to IsDialogMessageA with `dialog` (0: none) and
    // dispatching the rest. The dialog's own procedure runs from here, so a
    // Cancel pressed in it is handled inside the pump.
    void (*PumpMessages)(OsWindow dialog);
    // MessageBoxA; returns the button pressed (kIdOk, kIdYes, ...), 0 on
    // failure.
    int (*MessageBox)(OsWindow owner, const char* text, const char* caption, std::uint32_t style);
    // The license dialog (template 106, no owner) showing `text`; returns the
    // dialog result: 1 Accept, 2 Decline, -1 when it cannot be created.
    std::intptr_t (*RunLicenseDialog)(const char* text);
    // The install dialog (template 103, owner the backdrop window), given
    // `request` as its creation parameter; returns the dialog result (see
    // kInstallDone and the others in install/extraction.h), -1 when it cannot
    // be created.
    std::intptr_t (*RunInstallDialog)(OsWindow owner, const void* request);
    // The credits dialog (template 104, owner the backdrop window).
    std::intptr_t (*RunCreditsDialog)(OsWindow owner);
    // KillTimer on the backdrop window.
    void (*KillTimer)(OsWindow window, std::uintptr_t id);
    // Makes the arrow the backdrop window class's cursor (SetClassLongA
    // GCL_HCURSOR).
    void (*SetClassArrowCursor)(OsWindow window);
    // SetCursor to the hourglass (wait = 1) or the arrow (wait = 0).
    void (*SetCursorShape)(int wait);
    // DestroyWindow; ends the message loop and with it the program.
    void (*DestroyWindow)(OsWindow window);

    // ---- Memory for the license text ----------------------------------------------
    // A zeroed movable block, locked (GlobalAlloc GMEM_MOVEABLE|GMEM_ZEROINIT
    // then GlobalLock); nullptr when it cannot be had. Freed with TextFree.
    char* (*TextAlloc)(std::uint32_t size);
    void (*TextFree)(char* text);

    // ---- Shell --------------------------------------------------------------------
    // ShellExecuteExA with verb "open", no owner, the given file, parameters
    // (nullptr for none) and show command; returns its BOOL result.
    int (*ShellOpen)(const char* file, const char* parameters, int show);
    // WinExec; returns its result (above 31 on success).
    std::uint32_t (*WinExec)(const char* commandLine, int show);

    // ---- Multimedia and screen-saver settings -------------------------------------
    // mciSendCommandA(0, MCI_OPEN, flags, &parms) with the element name
    // `shortPath` and, when withType is 1, device type "MPEGVideo" and
    // MCI_OPEN_TYPE. Returns the MCI error (0 = opened) and the device id.
    std::uint32_t (*MciOpen)(const char* shortPath, int withType, std::uint32_t* deviceId);
    // mciSendCommandA(deviceId, MCI_CLOSE, 0, &generic); result ignored.
    void (*MciClose)(std::uint32_t deviceId);
    // WritePrivateProfileStringA(section, key, value, file).
    void (*WriteProfileString)(const char* section, const char* key, const char* value,
                               const char* file);
    // SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, 0, SPIF_UPDATEINIFILE).
    void (*SetScreenSaveActive)();

    // ---- A second thread ----------------------------------------------------------
    // Runs work(context) on a thread of its own (CreateThread); kNoThread,
    // with the work not run, when no thread can be had. The work may use the
    // file operations only, and may itself start and wait for a thread.
    OsThread (*StartThread)(int (*work)(void* context), void* context);
    // Waits until the thread has ended, dispatching the calling thread's
    // messages meanwhile so that its windows keep painting; returns the
    // work's result and frees the thread.
    int (*WaitThread)(OsThread thread);
};

// The table in use. Set once at start (the stub, glimmer-pack) or per test.
// The Win32 table's three dialog operations are filled in by the stub's
// entry, from the dialogs' own files above this layer.
extern const Platform* g_platform;

#ifndef _WIN32
// Plain files on the host; no user interface (prompts answer 0, the pump
// does nothing, every system query fails). Native builds only.
extern const Platform kPosixPlatform;
#endif
