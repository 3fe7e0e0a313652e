// osversion.exe: tells which Windows a Wine prefix claims to be, as a
// program of the package sees it. It prints one line to its standard output,
//
//   version <major>.<minor>.<build> appdata <common application-data folder>
//
// with the version that GetVersionExA gives (its manifest declares every
// Windows up to 10, as the installer's does, so Windows 10 is not reported
// as 8) and the folder that SHGetFolderPathA of SHFOLDER.DLL gives, as the
// installer asks for it ("none" when there is none).
#include <windows.h>

#include <cstdio>

namespace {

constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA

using FolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);

}  // namespace

int main() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 1;
    char folder[MAX_PATH] = "none";
    HMODULE shfolder = LoadLibraryA("SHFOLDER.DLL");
    auto folderPath = shfolder ? reinterpret_cast<FolderPath>(
                                     reinterpret_cast<void*>(GetProcAddress(shfolder, "SHGetFolderPathA")))
                               : nullptr;
    if (!folderPath || folderPath(nullptr, kCommonAppData, nullptr, 0, folder) != S_OK)
        lstrcpyA(folder, "none");
    std::printf("version %lu.%lu.%lu appdata %s\n", version.dwMajorVersion, version.dwMinorVersion,
                version.dwBuildNumber, folder);
    return 0;
}
