// Plain files on the host through the C library; no user interface.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/platform.h"

const Platform* g_platform = &kPosixPlatform;

namespace {

std::FILE* AsStream(OsFile file) { return reinterpret_cast<std::FILE*>(file); }
OsFile AsFile(std::FILE* stream) { return stream ? reinterpret_cast<OsFile>(stream) : kNoFile; }

OsFile PosixOpenRead(const char* path) { return AsFile(std::fopen(path, "rb")); }
OsFile PosixCreate(const char* path) { return AsFile(std::fopen(path, "wb")); }
OsFile PosixOpenAppend(const char* path) { return AsFile(std::fopen(path, "ab")); }

std::int32_t PosixRead(OsFile file, void* buffer, std::uint32_t size) {
    std::size_t n = std::fread(buffer, 1, size, AsStream(file));
    if (n == 0 && std::ferror(AsStream(file))) return -1;
    return static_cast<std::int32_t>(n);
}

std::int32_t PosixWrite(OsFile file, const void* buffer, std::uint32_t size) {
    std::size_t n = std::fwrite(buffer, 1, size, AsStream(file));
    if (n == size && std::fflush(AsStream(file)) != 0) return -1;
    return static_cast<std::int32_t>(n);
}

std::int64_t PosixSeek(OsFile file, std::int64_t position) {
    if (position < 0 || fseeko(AsStream(file), static_cast<off_t>(position), SEEK_SET) != 0) return -1;
    return position;
}

std::int64_t PosixTell(OsFile file) { return static_cast<std::int64_t>(ftello(AsStream(file))); }

std::int64_t PosixSize(OsFile file) {
    struct stat st;
    std::fflush(AsStream(file));
    if (fstat(fileno(AsStream(file)), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

void PosixClose(OsFile file) {
    if (file != kNoFile) std::fclose(AsStream(file));
}

int PosixFileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

int PosixCreateFolder(const char* path) { return mkdir(path, 0755) == 0 ? 1 : 0; }

FolderKind PosixQueryFolder(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return FolderKind::Missing;
    if (S_ISLNK(st.st_mode)) return FolderKind::Link;
    return S_ISDIR(st.st_mode) ? FolderKind::Plain : FolderKind::NotFolder;
}

std::uint32_t NoName(char*, std::uint32_t) { return 0; }
int NoCommonAppData(char*) { return 0; }
std::uint32_t NoShortPath(const char*, char*, std::uint32_t) { return 0; }
int NoFreeSpaceEx(const char*, std::uint64_t*) { return 0; }
int NoFreeSpace(const char*, std::uint32_t*, std::uint32_t*, std::uint32_t*) { return 0; }
std::int32_t NoRegCreate(const char*, OsKey*) { return kErrorAccessDenied; }
std::int32_t NoRegSet(OsKey, const char*, std::uint32_t, const void*, std::uint32_t) { return kErrorAccessDenied; }
void NoRegClose(OsKey) {}
void NoPump(OsWindow) {}
// No second thread: the callers then do the work themselves.
OsThread NoThread(int (*)(void*), void*) { return kNoThread; }
int NoWait(OsThread) { return 0; }
int NoMessageBox(OsWindow, const char*, const char*, std::uint32_t) { return 0; }
std::intptr_t NoLicenseDialog(const char*) { return -1; }
std::intptr_t NoDialog(OsWindow) { return -1; }
std::intptr_t NoInstallDialog(OsWindow, const void*) { return -1; }
void NoKillTimer(OsWindow, std::uintptr_t) {}
void NoClassCursor(OsWindow) {}
void NoCursor(int) {}
void NoDestroy(OsWindow) {}
char* HeapTextAlloc(std::uint32_t size) { return static_cast<char*>(std::calloc(size, 1)); }
void HeapTextFree(char* text) { std::free(text); }
int NoShellOpen(const char*, const char*, int) { return 0; }
std::uint32_t NoWinExec(const char*, int) { return 0; }
std::uint32_t NoMciOpen(const char*, int, std::uint32_t*) { return 1; }
void NoMciClose(std::uint32_t) {}
void NoProfile(const char*, const char*, const char*, const char*) {}
void NoScreenSave() {}

}  // namespace

const Platform kPosixPlatform = {
    PosixOpenRead,    PosixCreate,    PosixOpenAppend, PosixRead,        PosixWrite,
    PosixSeek,        PosixTell,      PosixSize,       PosixClose,       PosixFileExists,
    PosixCreateFolder, PosixQueryFolder,
    NoName,           NoName,         NoCommonAppData, NoShortPath,      NoFreeSpaceEx,
    NoFreeSpace,
    NoRegCreate,      NoRegSet,       NoRegClose,
    NoPump,           NoMessageBox,   NoLicenseDialog, NoInstallDialog,  NoDialog,
    NoKillTimer,      NoClassCursor,  NoCursor,        NoDestroy,
    HeapTextAlloc,    HeapTextFree,
    NoShellOpen,      NoWinExec,
    NoMciOpen,        NoMciClose,     NoProfile,       NoScreenSave,
    NoThread,         NoWait,
};
