// A stand-in for a package's screen saver or uninstaller that writes down how
// it was started. Built twice, once per role (GLIMMER_STARTED_ROLE "saver" or
// "uninstaller"), so that the two files of a package differ and a scenario can
// tell which one landed where and which one was run.
//
// Each start appends four lines to C:\started-<role>.txt:
//
//   path=<its own file, as the system loaded it>
//   command=<its whole command line>
//   directory=<its current folder>
//   show=<the show command it was given, or "none">
//
// then ends with exit code 0 at once, so the run it belongs to can end.
#include <windows.h>

#ifndef GLIMMER_STARTED_ROLE
#error "GLIMMER_STARTED_ROLE names the role: saver or uninstaller"
#endif

namespace {

constexpr int kRecordSize = 4 * MAX_PATH + 1024;

void Append(char* record, int* length, const char* text) {
    int n = lstrlenA(text);
    if (*length + n >= kRecordSize) n = kRecordSize - 1 - *length;
    CopyMemory(record + *length, text, n);
    *length += n;
    record[*length] = '\0';
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    static char record[kRecordSize];
    int length = 0;
    char text[MAX_PATH + 1];

    Append(record, &length, "path=");
    DWORD n = GetModuleFileNameA(nullptr, text, MAX_PATH);
    text[n < MAX_PATH ? n : 0] = '\0';
    Append(record, &length, text);

    Append(record, &length, "\r\ncommand=");
    Append(record, &length, GetCommandLineA());

    Append(record, &length, "\r\ndirectory=");
    n = GetCurrentDirectoryA(sizeof text, text);
    text[n < sizeof text ? n : 0] = '\0';
    Append(record, &length, text);

    Append(record, &length, "\r\nshow=");
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) {
        wsprintfA(text, "%u", static_cast<unsigned>(startup.wShowWindow));
        Append(record, &length, text);
    } else {
        Append(record, &length, "none");
    }
    Append(record, &length, "\r\n");

    HANDLE file = CreateFileA("C:\\started-" GLIMMER_STARTED_ROLE ".txt", FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, record, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return ok && written == static_cast<DWORD>(length) ? 0 : 1;
}
