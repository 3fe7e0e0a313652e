// preview-host: stands in for the display settings' preview of a screen
// saver. It shows a window "Anteprima" whose client area (400 x 300 at
// screen position 100,100) is white, with a black child window of
// 200 x 150 at 100,75 in it (screen 200,175 to 400,325), and starts
//
//   SAVER /p <the child window's handle>
//
// It writes down in C:\preview.txt, as CR LF lines, the first window the
// screen saver puts into the preview window ("child CLASS WxH at X,Y", its
// client size and place in the preview window; "no child" after ten
// seconds without one), and after its own window was closed whether the
// screen saver ended by itself within ten seconds ("ended") or had to be
// ended ("still running"). Wine shows nothing that a program draws into a
// window of another program's window, so what the screen saver does with
// the window is told here rather than on the screen. Exit code 0, or 3 when
// the screen saver could not be started.
#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT_PTR kLookTimer = 1;
PROCESS_INFORMATION g_saver{};
HWND g_preview = nullptr;
int g_looks = 0;

void Note(const char* line) {
    HANDLE file = CreateFileA("C:\\preview.txt", FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

// Looks every 100 ms for the screen saver's window in the preview window.
void Look(HWND hwnd) {
    HWND child = GetWindow(g_preview, GW_CHILD);
    if (!child && ++g_looks < 100) return;
    KillTimer(hwnd, kLookTimer);
    if (!child) {
        Note("no child");
        return;
    }
    char name[128] = "";
    GetClassNameA(child, name, sizeof name);
    RECT client{}, place{};
    GetClientRect(child, &client);
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, g_preview, reinterpret_cast<POINT*>(&place), 2);
    char line[256];
    std::snprintf(line, sizeof line, "child %s %ldx%ld at %ld,%ld", name, client.right, client.bottom, place.left,
                  place.top);
    Note(line);
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kLookTimer) {
        Look(hwnd);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    char saver[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, argv[1], -1, saver, MAX_PATH, nullptr, nullptr);

    WNDCLASSA host{};
    host.lpfnWndProc = HostProc;
    host.hInstance = instance;
    host.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    host.lpszClassName = "PreviewHost";
    WNDCLASSA area{};
    area.lpfnWndProc = DefWindowProcA;
    area.hInstance = instance;
    area.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    area.lpszClassName = "PreviewArea";
    if (!RegisterClassA(&host) || !RegisterClassA(&area)) return 2;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    RECT frame{100, 100, 500, 400};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExA(0, host.lpszClassName, "Anteprima", style, frame.left, frame.top,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                  nullptr);
    HWND preview = g_preview = CreateWindowExA(0, area.lpszClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 100, 75, 200,
                                   150, window, nullptr, instance, nullptr);
    if (!window || !preview) return 2;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    char command[MAX_PATH + 64];
    std::snprintf(command, sizeof command, "\"%s\" /p %lu", saver,
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(preview)));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &g_saver)) {
        DestroyWindow(window);
        return 3;
    }

    SetTimer(window, kLookTimer, 100, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (WaitForSingleObject(g_saver.hProcess, 10000) == WAIT_OBJECT_0) {
        Note("ended");
    } else {
        Note("still running");
        TerminateProcess(g_saver.hProcess, 1);
    }
    CloseHandle(g_saver.hThread);
    CloseHandle(g_saver.hProcess);
    return 0;
}
