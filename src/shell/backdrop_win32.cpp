// The program's entry and its only top-level window, the backdrop: a blue
// gradient over the desktop's work area with the package's title in large
// shadowed letters. One second after the window is created its timer runs
// the install sequence, which ends by destroying the window; that ends the
// message loop and the program.
#include "platform/platform_win32.h"
#include "platform/winapi_win32.h"

#include "payload/payload.h"
#include "dialogs/dialogs_win32.h"
#include "install/install_dialog_win32.h"
#include "shell/backdrop_geometry.h"
#include "shell/globals.h"
#include "shell/sequence.h"

namespace {

constexpr char kBackdropClass[] = "GlimmerwickInstallClass";

// Text of the window until the title has been read.
constexpr char kInitialWindowText[] = "TITLE";

// Period of the start timer.
constexpr UINT kStartTimerPeriod = 1000;

// Font smoothing settings are written to the user profile and broadcast.
constexpr UINT kSmoothingUpdate = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;

// Reads the title from the payload of this program's own file into g_title
// and shows it as the window text. With no payload the title stays empty.
void OnCreate(HWND window) {
    char self[kPathSize];
    if (g_platform->GetModuleFileName(self, sizeof self)) ReadTitle(self, g_title);
    // The catalogue's title field is 260 bytes that should end with a NUL;
    // a damaged one must not make every later reader run past the buffer.
    g_title[kPathSize - 1] = '\0';
    SetWindowTextA(window, g_title);
    SetTimer(window, kStartTimerId, kStartTimerPeriod, nullptr);
}

// Switches system-wide font smoothing off for the length of a paint, so the
// title is drawn with hard edges. Returns 1 when it was on and has been
// turned off, so that it is to be turned on again afterwards.
int SuspendFontSmoothing() {
    BOOL smoothing = FALSE;
    if (!SystemParametersInfoA(SPI_GETFONTSMOOTHING, 0, &smoothing, 0)) smoothing = FALSE;
    if (!smoothing) return 0;
    return SystemParametersInfoA(SPI_SETFONTSMOOTHING, 0, nullptr, kSmoothingUpdate) ? 1 : 0;
}

void RestoreFontSmoothing(int suspended) {
    if (suspended) SystemParametersInfoA(SPI_SETFONTSMOOTHING, 1, nullptr, kSmoothingUpdate);
}

RECT ToRect(const BackdropRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void PaintGradient(HDC dc, int width, int height) {
    for (int k = 1; k <= kBandCount; ++k) {
        const GradientBand band = BandOf(k, width, height);
        const RECT rect = ToRect(band.rect);
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, band.blue));
        FillRect(dc, &rect, brush);
        DeleteObject(brush);
    }
}

void PaintFrame(HDC dc, int width, int height) {
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    const RECT outer = ToRect(OuterFrame(width, height));
    const RECT inner = ToRect(InnerFrame(width, height));
    FrameRect(dc, &outer, white);
    FrameRect(dc, &inner, white);
}

// "<title> Screen Saver" in 48-point Arial, black, then white 2 pixels up
// and to the left; long titles wrap at word boundaries and '&' is drawn as
// it stands.
void PaintTitle(HDC dc, int width, int height) {
    char text[kPaintedTextSize];
    FormPaintedText(g_title, text, sizeof text);
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    const int dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    const TitleRects rects = TitleRectsFor(width, height, dpiX, dpiY);
    HFONT font = CreateFontA(TitleFontHeight(dpiY), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, RGB(0, 0, 0));
    constexpr UINT kFormat = DT_WORDBREAK | DT_NOPREFIX;
    RECT shadow = ToRect(rects.shadow);
    DrawTextA(dc, text, -1, &shadow, kFormat);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT face = ToRect(rects.face);
    DrawTextA(dc, text, -1, &face, kFormat);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void OnPaint(HWND window) {
    const int suspended = SuspendFontSmoothing();
    RECT client;
    GetClientRect(window, &client);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintGradient(dc, client.right, client.bottom);
    PaintFrame(dc, client.right, client.bottom);
    PaintTitle(dc, client.right, client.bottom);
    EndPaint(window, &paint);
    RestoreFontSmoothing(suspended);
}

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(g_exitCode);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_TIMER:
        // Every timer identifier alike; the sequence kills the start timer
        // at once, so it runs only once.
        InstallSequence(reinterpret_cast<OsWindow>(window));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    HardenLibraryLoading();
    // The platform's operations, and the dialogs, which live above it.
    static Platform platform = kWin32Platform;
    platform.RunLicenseDialog = RunLicenseDialogWin32;
    platform.RunInstallDialog = RunInstallDialogWin32;
    platform.RunCreditsDialog = RunCreditsDialogWin32;
    g_platform = &platform;

    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BackdropWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_WAIT);
    windowClass.lpszClassName = kBackdropClass;
    if (!RegisterClassA(&windowClass)) return 0;

    RECT workArea = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    HWND window = CreateWindowExA(0, kBackdropClass, kInitialWindowText, WS_POPUP | WS_VISIBLE, workArea.left,
                                  workArea.top, workArea.right - workArea.left, workArea.bottom - workArea.top,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    // GetMessageA returns -1 on an error; that must end the loop rather
    // than spin on it.
    MSG message = {};
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}
