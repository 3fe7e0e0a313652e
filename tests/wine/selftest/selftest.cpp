// selftest.exe: a stand-in installer on which the Wine harness tests itself.
//
// It shows what the installer shows, in the same way: a backdrop window of
// the installer's class over the work area (same gradient, frame and
// shadowed title), then, from its first timer tick, a question owned by the
// backdrop and a dialog like the license dialog without owner. Its exit
// code tells which answers it got: 10 * question answer + dialog result
// (OK then Accept gives 11, Cancel gives 20 with no dialog), plus 100 when
// Cancel was pressed in the work window.
//
//   selftest.exe [TITLE [selected|work|behind]]
//
// With "selected" the dialog's text is left selected, which the harness
// must notice. With "work", a window without caption bar ("Selftest work",
// like the install dialog) shows between the question and the dialog and
// stays until its Cancel button is pressed (20 s at most); with "behind"
// it stays up under the dialog and goes with it.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char g_title[260] = "Selftest";
bool g_leaveSelected = false;
bool g_work = false;
bool g_workBehind = false;
bool g_workCancelled = false;
int g_exitCode = 0;

const char kLicense[] =
    "Contratto di licenza\r\n\r\nQuesto \xe8 un testo di prova: l\x92" "autore "
    "concede l\x92uso del programma.";

void PaintBackdrop(HWND hwnd) {
    PAINTSTRUCT ps;
    RECT r;
    GetClientRect(hwnd, &r);
    HDC dc = BeginPaint(hwnd, &ps);
    int h = r.bottom;
    for (int k = 1; k <= 256; ++k) {
        RECT band{0, (k - 1) * h / 256, r.right + 1, k * h / 256};
        int blue = 255 - 255 * (k - 1) / 256;
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, blue));
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    InflateRect(&r, -1, -1);
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    char text[300];
    std::snprintf(text, sizeof text, "%s Screen Saver", g_title);
    int dpiX = GetDeviceCaps(dc, LOGPIXELSX), dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    HFONT font = CreateFontA(-MulDiv(48, dpiY, 72), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             NONANTIALIASED_QUALITY, 0, "Arial");
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    r.left += dpiX / 3;
    r.top += dpiY / 4;
    DrawTextA(dc, text, -1, &r, DT_WORDBREAK | DT_NOPREFIX);
    OffsetRect(&r, -2, -2);
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextA(dc, text, -1, &r, DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(hwnd, &ps);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            HWND edit = GetDlgItem(dialog, 1009);
            SetWindowTextA(edit, kLicense);
            SetFocus(edit);
            if (g_leaveSelected)
                PostMessageA(edit, EM_SETSEL, 0, -1);
            else
                PostMessageA(edit, EM_SETSEL, static_cast<WPARAM>(-1), 0);
            return FALSE;
        }
        case WM_COMMAND:
            if (wParam == IDOK || wParam == IDCANCEL) {
                EndDialog(dialog, static_cast<INT_PTR>(wParam));
                return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK WorkProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && wParam == IDCANCEL) {
        g_workCancelled = true;
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

HWND ShowWork(HWND backdrop) {
    HWND work = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(201), backdrop,
                                   WorkProc, 0);
    SetWindowTextA(work, "Selftest work");
    ShowWindow(work, SW_SHOW);
    return work;
}

// Serves the work window, as the installer's extraction serves its dialog
// between copies, until Cancel is pressed.
void Work(HWND work) {
    DWORD start = GetTickCount();
    while (!g_workCancelled && GetTickCount() - start < 20000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (!IsDialogMessageA(work, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        Sleep(10);
    }
    DestroyWindow(work);
    if (g_workCancelled) g_exitCode += 100;
}

void Sequence(HWND backdrop) {
    KillTimer(backdrop, 1000);
    int answer = MessageBoxA(backdrop, "Prima domanda: continuare?", "Selftest",
                             MB_OKCANCEL | MB_ICONINFORMATION);
    g_exitCode = answer * 10;
    if (answer == IDOK) {
        HWND work = g_work || g_workBehind ? ShowWork(backdrop) : nullptr;
        if (g_work) Work(work);
        g_exitCode += static_cast<int>(DialogBoxParamA(GetModuleHandleA(nullptr),
                                                       MAKEINTRESOURCEA(200), nullptr,
                                                       DialogProc, 0));
        if (g_workBehind) DestroyWindow(work);
    }
    DestroyWindow(backdrop);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            SetWindowTextA(hwnd, g_title);
            SetTimer(hwnd, 1000, 1000, nullptr);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(g_exitCode);
            return 0;
        case WM_PAINT:
            PaintBackdrop(hwnd);
            return 0;
        case WM_TIMER:
            Sequence(hwnd);
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    if (__argc > 1) std::snprintf(g_title, sizeof g_title, "%s", __argv[1]);
    const char* mode = __argc > 2 ? __argv[2] : "";
    g_leaveSelected = std::strcmp(mode, "selected") == 0;
    g_work = std::strcmp(mode, "work") == 0;
    g_workBehind = std::strcmp(mode, "behind") == 0;

    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_WAIT);
    wc.lpszClassName = "GlimmerwickInstallClass";
    if (!RegisterClassA(&wc)) return 0;
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "TITLE", WS_POPUP | WS_VISIBLE, area.left,
                                area.top, area.right - area.left, area.bottom - area.top,
                                nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
