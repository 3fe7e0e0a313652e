// probe.exe: stands in for a package's screen saver and uninstaller. When
// started it appends one line to C:\probe.log, "<own path>|<command line>",
// and ends with exit code 0, so a scenario can check which programs the
// installer started, from where, and with which arguments.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char line[1024 + MAX_PATH + 4];
    DWORD length = GetModuleFileNameA(nullptr, line, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) length = 0;
    line[length++] = '|';
    lstrcpynA(line + length, GetCommandLineA(), 1024);
    length = lstrlenA(line);
    line[length++] = '\r';
    line[length++] = '\n';
    HANDLE log = CreateFileA("C:\\probe.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(log, line, length, &written, nullptr);
        CloseHandle(log);
    }
    return 0;
}
