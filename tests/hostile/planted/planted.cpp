// A library that tells when it is loaded: on attach it appends its own path,
// " in ", the path of the program that loaded it and CR LF to C:\planted.log. Put beside an installer under the names of
// libraries that Windows may look for there, it shows whether any of them
// was taken from the installer's folder instead of the system folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[2 * MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    lstrcpyA(path + length, " in ");
    length += 4;
    length += GetModuleFileNameA(nullptr, path + length, MAX_PATH);
    HANDLE log = CreateFileA("C:\\planted.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(log, path, length, &written, nullptr);
        WriteFile(log, "\r\n", 2, &written, nullptr);
        CloseHandle(log);
    }
    return TRUE;
}
