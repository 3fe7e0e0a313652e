// The sample screen saver: curtains of northern lights drifting over a night
// sky, drawn with plain GDI. It follows the screen-saver conventions:
//
//   aurora.scr /s         full screen until a key, a click or a mouse move
//   aurora.scr            the same (the installer starts it this way, to show it)
//   aurora.scr /p HWND    inside the preview window HWND until that closes
//   aurora.scr /c         the settings: a note on where they are kept
//
// Its settings are read from its data file, <title>.dat in its data folder
// (see settings.h); without that file it uses its defaults.
#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "settings.h"

namespace {

constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFrameMs = 40;
// A mouse that moves less than this (in pixels) is a shaking desk, not a user.
constexpr int kMoveTolerance = 4;
constexpr COLORREF kSkyTop = RGB(2, 4, 24);
constexpr COLORREF kSkyBottom = RGB(8, 24, 40);

struct Saver {
    aurora::Settings settings;
    bool preview = false;
    int step = 0;
    POINT firstMouse{-1, -1};
    char title[MAX_PATH] = "Aurora";
} g_saver;

// The title: the screen saver's own file name without ".scr", in its long
// form (it may have been started by its short path).
void ReadTitle() {
    char path[MAX_PATH];
    char longPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    n = GetLongPathNameA(path, longPath, MAX_PATH);
    const char* full = n > 0 && n < MAX_PATH ? longPath : path;
    const char* name = std::strrchr(full, '\\');
    name = name ? name + 1 : full;
    lstrcpynA(g_saver.title, name, MAX_PATH);
    char* dot = std::strrchr(g_saver.title, '.');
    if (dot && dot != g_saver.title) *dot = '\0';
}

// <common application data>\Tarnwell\Glimmerwick\<title>\<title>.dat
void ReadSettings() {
    char path[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path) != S_OK) return;
    char file[MAX_PATH * 2];
    wsprintfA(file, "%s\\Tarnwell\\Glimmerwick\\%s\\%s.dat", path, g_saver.title, g_saver.title);
    HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    char text[4096];
    DWORD read = 0;
    if (ReadFile(h, text, sizeof text, &read, nullptr))
        g_saver.settings = aurora::ParseSettings(std::string_view(text, read));
    CloseHandle(h);
}

COLORREF Blend(COLORREF a, COLORREF b, int k, int n) {
    auto mix = [&](int x, int y) { return x + (y - x) * k / n; };
    return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
               mix(GetBValue(a), GetBValue(b)));
}

void FillSolid(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r{left, top, right, bottom};
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// One frame into `dc`, `width` x `height` pixels.
void DrawFrame(HDC dc, int width, int height) {
    constexpr int kSkyBands = 32;
    for (int k = 0; k < kSkyBands; ++k)
        FillSolid(dc, 0, height * k / kSkyBands, width, height * (k + 1) / kSkyBands,
                  Blend(kSkyTop, kSkyBottom, k, kSkyBands - 1));

    const aurora::Settings& s = g_saver.settings;
    int column = width >= 320 ? 6 : 2;
    for (int c = 0; c < s.curtains; ++c) {
        aurora::Colour colour = s.colours[c % s.colourCount];
        aurora::Colour tail = s.colours[(c + 1) % s.colourCount];
        for (int x = 0; x < width; x += column) {
            aurora::CurtainColumn at = aurora::CurtainAt(s, c, x, width, g_saver.step);
            int top = static_cast<int>(at.top * height);
            int length = height * (25 + 10 * (c % 3)) / 100;
            // Bright at the edge, fading downwards into the other colour.
            constexpr int kSlices = 6;
            for (int k = 0; k < kSlices; ++k) {
                double fade = at.brightness * (1.0 - static_cast<double>(k) / kSlices) * 0.8;
                COLORREF base = Blend(colour, tail, k, kSlices);
                FillSolid(dc, x, top + length * k / kSlices, x + column - 1,
                          top + length * (k + 1) / kSlices, aurora::Dim(base, fade));
            }
        }
    }
    if (!g_saver.preview) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(140, 150, 170));
        RECT r{0, height - height / 12, width, height};
        DrawTextA(dc, g_saver.title, -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    // Drawn off screen first, so that the picture does not flicker.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    DrawFrame(memory, client.right, client.bottom);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(hwnd, &ps);
}

void OnMouseMove(HWND hwnd, LPARAM lParam) {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (g_saver.firstMouse.x < 0) {
        g_saver.firstMouse = p;
        return;
    }
    if (std::abs(p.x - g_saver.firstMouse.x) > kMoveTolerance ||
        std::abs(p.y - g_saver.firstMouse.y) > kMoveTolerance)
        DestroyWindow(hwnd);
}

LRESULT CALLBACK SaverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            SetTimer(hwnd, kFrameTimer, kFrameMs, nullptr);
            if (!g_saver.preview) ShowCursor(FALSE);
            return 0;
        case WM_TIMER:
            ++g_saver.step;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_PAINT:
            Paint(hwnd);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the frame covers the whole client area
        case WM_MOUSEMOVE:
            if (!g_saver.preview) OnMouseMove(hwnd, lParam);
            return 0;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (!g_saver.preview) DestroyWindow(hwnd);
            return 0;
        case WM_SETCURSOR:
            if (!g_saver.preview) {
                SetCursor(nullptr);
                return TRUE;
            }
            break;
        case WM_DESTROY:
            KillTimer(hwnd, kFrameTimer);
            if (!g_saver.preview) ShowCursor(TRUE);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The command line's option letter (s, p, c, a) and, for /p and /c, the
// window handle after it; 's' when there is none.
char ParseCommandLine(const char* line, HWND* window) {
    // Skip the program's own name, quoted or not.
    if (*line == '"') {
        for (++line; *line && *line != '"'; ++line) {
        }
        if (*line) ++line;
    } else {
        while (*line && *line != ' ') ++line;
    }
    while (*line == ' ') ++line;
    if (*line != '/' && *line != '-') return 's';
    char option = line[1] >= 'A' && line[1] <= 'Z' ? static_cast<char>(line[1] - 'A' + 'a') : line[1];
    line += 2;
    while (*line == ' ' || *line == ':') ++line;
    *window = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(line, nullptr, 10)));
    return option;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HWND parent = nullptr;
    char option = ParseCommandLine(GetCommandLineA(), &parent);
    ReadTitle();
    ReadSettings();
    if (option == 'c') {
        char text[MAX_PATH * 3];
        wsprintfA(text,
                  "%s Screen Saver\r\n\r\nLe impostazioni si trovano nel file %s.dat, nella "
                  "cartella dello screen saver (Tarnwell\\Glimmerwick\\%s).",
                  g_saver.title, g_saver.title, g_saver.title);
        MessageBoxA(parent, text, g_saver.title, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (option != 's' && option != 'p') return 0;  // no password to set

    WNDCLASSA wc{};
    wc.lpfnWndProc = SaverProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = "AuroraSaverClass";
    if (!RegisterClassA(&wc)) return 1;

    HWND hwnd;
    if (option == 'p' && IsWindow(parent)) {
        g_saver.preview = true;
        RECT r;
        GetClientRect(parent, &r);
        hwnd = CreateWindowExA(0, wc.lpszClassName, g_saver.title, WS_CHILD | WS_VISIBLE, 0, 0,
                               r.right, r.bottom, parent, nullptr, instance, nullptr);
    } else {
        hwnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, g_saver.title, WS_POPUP | WS_VISIBLE,
                               GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                               GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                               nullptr, nullptr, instance, nullptr);
    }
    if (!hwnd) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
