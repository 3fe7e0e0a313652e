// The slideshow screen saver: the pictures of its data file one after
// another, full screen on every monitor, with a cross-fade between them,
// and the music files of its data folder in turn.
//
//   <title>.scr /s          full screen until a key, a click or a mouse move
//   <title>.scr             the same (the installer starts it so, by its
//                           short path)
//   <title>.scr /p HWND     inside the preview window HWND until it closes
//   <title>.scr /c[:HWND]   the settings dialog
//
// Its title is its long file name without ".scr"; its data file is
// <common application data>\Tarnwell\Glimmerwick\<title>\<title>.dat
// (show_data.h), and a user's settings lie under HKEY_CURRENT_USER in
// Software\Tarnwell\Glimmerwick\<title>. A data file that cannot be read,
// holds no picture or none that decodes gives the title on black.
//
// Only what Windows XP has is called directly (user32, gdi32, msimg32,
// winmm, ole32, advapi32, kernel32); GDI+ and SHFOLDER.DLL are looked up
// at run time, and without them the title shows on black.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "show_data.h"
#include "slideshow_logic.h"

namespace {

using slideshow::Mode;

constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFrameMs = 40;
constexpr int kMaxScreens = 16;
constexpr COLORREF kTitleColour = RGB(200, 200, 200);

// ---- GDI+, flat API, looked up at run time ------------------------------

struct GdiplusStartupInput {
    UINT32 version;
    void* debugEventCallback;
    BOOL suppressBackgroundThread;
    BOOL suppressExternalCodecs;
};

using GpStatus = int;
constexpr GpStatus kGpOk = 0;
constexpr int kInterpolationHighQuality = 2;

struct Gdiplus {
    HMODULE module = nullptr;
    ULONG_PTR token = 0;
    GpStatus(WINAPI* startup)(ULONG_PTR*, const GdiplusStartupInput*, void*) = nullptr;
    void(WINAPI* shutdown)(ULONG_PTR) = nullptr;
    GpStatus(WINAPI* bitmapFromStream)(IStream*, void**) = nullptr;
    GpStatus(WINAPI* imageWidth)(void*, UINT*) = nullptr;
    GpStatus(WINAPI* imageHeight)(void*, UINT*) = nullptr;
    GpStatus(WINAPI* disposeImage)(void*) = nullptr;
    GpStatus(WINAPI* graphicsFromHdc)(HDC, void**) = nullptr;
    GpStatus(WINAPI* deleteGraphics)(void*) = nullptr;
    GpStatus(WINAPI* setInterpolation)(void*, int) = nullptr;
    GpStatus(WINAPI* drawImageRect)(void*, void*, INT, INT, INT, INT) = nullptr;
    bool ready = false;
};

template <typename F>
bool Find(HMODULE module, const char* name, F* function) {
    *function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

void StartGdiplus(Gdiplus& g) {
    g.module = LoadLibraryA("gdiplus.dll");
    if (!g.module) return;
    const bool found = Find(g.module, "GdiplusStartup", &g.startup) &&
                       Find(g.module, "GdiplusShutdown", &g.shutdown) &&
                       Find(g.module, "GdipCreateBitmapFromStream", &g.bitmapFromStream) &&
                       Find(g.module, "GdipGetImageWidth", &g.imageWidth) &&
                       Find(g.module, "GdipGetImageHeight", &g.imageHeight) &&
                       Find(g.module, "GdipDisposeImage", &g.disposeImage) &&
                       Find(g.module, "GdipCreateFromHDC", &g.graphicsFromHdc) &&
                       Find(g.module, "GdipDeleteGraphics", &g.deleteGraphics) &&
                       Find(g.module, "GdipSetInterpolationMode", &g.setInterpolation) &&
                       Find(g.module, "GdipDrawImageRectI", &g.drawImageRect);
    GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
    g.ready = found && g.startup(&g.token, &input, nullptr) == kGpOk;
}

void StopGdiplus(Gdiplus& g) {
    if (g.ready) g.shutdown(g.token);
    if (g.module) FreeLibrary(g.module);
    g.ready = false;
}

// ---- Off-screen layers -----------------------------------------------------

// A memory DC with a 32-bit picture of one screen's size selected into it.
struct Layer {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
};

bool MakeLayer(Layer& layer, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    layer.dc = CreateCompatibleDC(nullptr);
    layer.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!layer.dc || !layer.bitmap) return false;
    layer.old = SelectObject(layer.dc, layer.bitmap);
    return true;
}

void FreeLayer(Layer& layer) {
    if (layer.dc && layer.old) SelectObject(layer.dc, layer.old);
    if (layer.bitmap) DeleteObject(layer.bitmap);
    if (layer.dc) DeleteDC(layer.dc);
    layer = Layer{};
}

void FillBlack(HDC dc, int width, int height) {
    RECT r{0, 0, width, height};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

// One window: a monitor's whole area, or the preview window's client area.
// `current` holds what shows, `next` the picture faded in, `frame` the blend
// of the two while the fade lasts.
struct Screen {
    HWND hwnd = nullptr;
    RECT area{};
    int width = 0, height = 0;
    Layer current, next, frame;
};

// ---- The screen saver's state ------------------------------------------------

enum class Phase { kShowing, kFading };

struct Saver {
    Mode mode = Mode::kFullScreen;
    std::string title;       // from the file name; names the folder and the key
    std::string shownTitle;  // what the title screen shows: the data file's title when it has one
    std::string folder;      // the data folder, with a final backslash
    ShowSettings settings;

    HANDLE data = INVALID_HANDLE_VALUE;
    ShowIndex index;
    bool dataSound = false;
    std::vector<std::uint32_t> order;
    std::vector<bool> undecodable;
    std::size_t position = 0;  // in `order`, of the picture in `current`
    bool showingPicture = false;

    Screen screens[kMaxScreens];
    int screenCount = 0;
    Phase phase = Phase::kShowing;
    DWORD phaseStart = 0;
    BYTE alpha = 0;

    DWORD startTick = 0;
    POINT startMouse{};
    bool closing = false;

    std::vector<std::string> music;
    std::size_t track = 0;
    MCIDEVICEID device = 0;
    std::size_t failuresInARow = 0;

    Gdiplus gdiplus;
} g;

// ---- Data folder, data file, settings ---------------------------------------

void FindTitle() {
    char path[MAX_PATH];
    char longPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        g.title = "Slideshow";
        return;
    }
    // Started by its short path, the screen saver still goes by its long name.
    DWORD m = GetLongPathNameA(path, longPath, MAX_PATH);
    g.title = slideshow::TitleFromPath(m > 0 && m < MAX_PATH ? longPath : path);
}

// <common application data>\Tarnwell\Glimmerwick\<title>\, formed as the
// installer forms it: SHFOLDER.DLL's folder, else the Windows folder with
// "All Users\Application Data".
void FindFolder() {
    char base[MAX_PATH] = "";
    if (HMODULE shfolder = LoadLibraryA("SHFOLDER.DLL")) {
        HRESULT(WINAPI * getFolderPath)(HWND, int, HANDLE, DWORD, LPSTR) = nullptr;
        if (Find(shfolder, "SHGetFolderPathA", &getFolderPath) &&
            getFolderPath(nullptr, 35 /* CSIDL_COMMON_APPDATA */, nullptr, 0, base) != 0)
            base[0] = '\0';
        FreeLibrary(shfolder);
    }
    std::string folder = base;
    if (folder.empty()) {
        UINT n = GetWindowsDirectoryA(base, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        folder = base;
        if (folder.back() != '\\') folder += '\\';
        folder += "All Users\\Application Data";
    }
    if (folder.back() != '\\') folder += '\\';
    g.folder = folder + "Tarnwell\\Glimmerwick\\" + g.title + "\\";
}

bool ReadAt(std::uint32_t offset, void* buffer, DWORD size) {
    if (SetFilePointer(g.data, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    auto* at = static_cast<BYTE*>(buffer);
    while (size > 0) {
        DWORD read = 0;
        if (!ReadFile(g.data, at, size, &read, nullptr) || read == 0) return false;
        at += read;
        size -= read;
    }
    return true;
}

// Opens the data file and reads its index; on any fault the screen saver
// goes on without it (the title on black, the built-in defaults).
void OpenData() {
    if (g.folder.empty()) return;
    const std::string path = g.folder + g.title + ".dat";
    if (path.size() >= MAX_PATH) return;
    g.data = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g.data == INVALID_HANDLE_VALUE) return;
    DWORD high = 0;
    const DWORD low = GetFileSize(g.data, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return;
    const std::uint64_t fileSize = (static_cast<std::uint64_t>(high) << 32) | low;
    std::uint8_t header[kShowHeaderSize];
    if (fileSize < kShowHeaderSize || !ReadAt(0, header, sizeof header)) return;
    const std::size_t indexSize = ShowIndexSize(header, sizeof header);
    if (indexSize == 0 || indexSize > fileSize) return;
    std::vector<std::uint8_t> index(indexSize);
    if (!ReadAt(0, index.data(), static_cast<DWORD>(indexSize))) return;
    g.dataSound = ReadShowIndex(index.data(), index.size(), fileSize, &g.index) == kShowOk;
}

HKEY OpenSettingsKey(bool write) {
    const std::string key = std::string(slideshow::kSettingsKey) + g.title;
    HKEY h = nullptr;
    LONG result = write ? RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                          &h, nullptr)
                        : RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &h);
    return result == ERROR_SUCCESS ? h : nullptr;
}

const char* const kValueNames[] = {slideshow::kSecondsValue, slideshow::kOrderValue, slideshow::kFitValue,
                                   slideshow::kMusicValue};

// The author's defaults from the data file, then the user's own choices.
void ReadSettings() {
    if (g.dataSound) g.settings = g.index.defaults;
    HKEY key = OpenSettingsKey(false);
    if (!key) return;
    for (const char* name : kValueNames) {
        DWORD type = 0, value = 0, size = sizeof value;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value)
            slideshow::ApplyStoredValue(&g.settings, name, value);
    }
    RegCloseKey(key);
}

void WriteSettings(const ShowSettings& s) {
    HKEY key = OpenSettingsKey(true);
    if (!key) return;
    const DWORD values[] = {s.seconds, s.order, s.fit, s.music ? 1u : 0u};
    for (int i = 0; i < 4; ++i)
        RegSetValueExA(key, kValueNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]),
                       sizeof values[i]);
    RegCloseKey(key);
}

// ---- Pictures ------------------------------------------------------------------

// A picture's bytes decoded by GDI+ (nullptr when they cannot be read, are
// too large, or are no picture GDI+ knows). The caller disposes of it.
void* LoadPicture(std::uint32_t number, UINT* width, UINT* height) {
    if (!g.gdiplus.ready || g.data == INVALID_HANDLE_VALUE) return nullptr;
    const PictureSpan span = g.index.pictures[number];
    if (!slideshow::PictureSizeAcceptable(span.size)) return nullptr;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, span.size);
    if (!memory) return nullptr;
    void* bytes = GlobalLock(memory);
    const bool read = bytes && ReadAt(span.offset, bytes, span.size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (!read || CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
        GlobalFree(memory);
        return nullptr;
    }
    void* bitmap = nullptr;
    // GDI+ keeps its own reference to the stream while the bitmap lives.
    const GpStatus status = g.gdiplus.bitmapFromStream(stream, &bitmap);
    stream->Release();
    if (status != kGpOk || !bitmap) return nullptr;
    if (g.gdiplus.imageWidth(bitmap, width) != kGpOk || g.gdiplus.imageHeight(bitmap, height) != kGpOk ||
        !slideshow::PictureDimensionsAcceptable(*width, *height)) {
        g.gdiplus.disposeImage(bitmap);
        return nullptr;
    }
    return bitmap;
}

// Draws a decoded picture on black into `layer`; false when GDI+ cannot
// draw it (GDI+ decodes only now, so a damaged picture body shows here).
bool DrawPicture(Layer& layer, int width, int height, void* bitmap, UINT pictureWidth, UINT pictureHeight) {
    FillBlack(layer.dc, width, height);
    const slideshow::Rect r = slideshow::PlacePicture(pictureWidth, pictureHeight, width, height, g.settings.fit);
    void* graphics = nullptr;
    if (g.gdiplus.graphicsFromHdc(layer.dc, &graphics) != kGpOk || !graphics) return false;
    g.gdiplus.setInterpolation(graphics, kInterpolationHighQuality);
    const GpStatus status = g.gdiplus.drawImageRect(graphics, bitmap, r.x, r.y, r.width, r.height);
    g.gdiplus.deleteGraphics(graphics);
    GdiFlush();
    return status == kGpOk;
}

// Finds the first picture from `from` on (in show order, going round) that
// decodes and draws, into every screen's `next` layer. Pictures that fail
// are marked and never tried again. Returns the position, or the order's
// size when none does.
std::size_t PrepareFrom(std::size_t from) {
    const std::size_t count = g.order.size();
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t position = (from + k) % count;
        const std::uint32_t number = g.order[position];
        if (g.undecodable[number]) continue;
        UINT width = 0, height = 0;
        void* bitmap = LoadPicture(number, &width, &height);
        bool drawn = bitmap != nullptr;
        for (int i = 0; drawn && i < g.screenCount; ++i)
            drawn = DrawPicture(g.screens[i].next, g.screens[i].width, g.screens[i].height, bitmap, width, height);
        if (bitmap) g.gdiplus.disposeImage(bitmap);
        if (drawn) return position;
        g.undecodable[number] = true;
    }
    return count;
}

void SwapLayers() {
    for (int i = 0; i < g.screenCount; ++i) {
        Layer t = g.screens[i].current;
        g.screens[i].current = g.screens[i].next;
        g.screens[i].next = t;
    }
}

// The title in large letters, centred on black, in every `current` layer.
void DrawTitleScreens() {
    for (int i = 0; i < g.screenCount; ++i) {
        Screen& s = g.screens[i];
        FillBlack(s.current.dc, s.width, s.height);
        HFONT font = CreateFontA(-(s.height / 12 > 8 ? s.height / 12 : 8), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                 ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, "Arial");
        HGDIOBJ old = SelectObject(s.current.dc, font);
        SetBkMode(s.current.dc, TRANSPARENT);
        SetTextColor(s.current.dc, kTitleColour);
        RECT r{0, 0, s.width, s.height};
        DrawTextA(s.current.dc, g.shownTitle.c_str(), -1, &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(s.current.dc, old);
        DeleteObject(font);
    }
    GdiFlush();
}

void StartPictures() {
    g.shownTitle = g.dataSound && !g.index.title.empty() ? g.index.title : g.title;
    if (g.dataSound) {
        const auto count = static_cast<std::uint32_t>(g.index.pictures.size());
        g.order = slideshow::PictureOrder(count, g.settings.order, GetTickCount());
        g.undecodable.assign(count, false);
    }
    if (!g.order.empty()) {
        const std::size_t first = PrepareFrom(0);
        if (first < g.order.size()) {
            SwapLayers();
            g.position = first;
            g.showingPicture = true;
        }
    }
    if (!g.showingPicture) DrawTitleScreens();
    g.phase = Phase::kShowing;
    g.phaseStart = GetTickCount();
}

void InvalidateScreens() {
    for (int i = 0; i < g.screenCount; ++i) InvalidateRect(g.screens[i].hwnd, nullptr, FALSE);
}

// One frame: after a picture's time, the next one fades in over it.
void Tick() {
    const DWORD now = GetTickCount();
    const DWORD elapsed = now - g.phaseStart;
    if (g.phase == Phase::kShowing) {
        if (!g.showingPicture || elapsed < g.settings.seconds * 1000u) return;
        const std::size_t next = PrepareFrom(g.position + 1);
        if (next >= g.order.size() || next == g.position) {
            g.phaseStart = now;  // the only picture that decodes: it stays
            return;
        }
        g.position = next;
        g.phase = Phase::kFading;
        g.phaseStart = GetTickCount();
        g.alpha = 0;
        return;
    }
    const unsigned fade = slideshow::FadeMs(g.settings.seconds);
    if (elapsed >= fade) {
        SwapLayers();
        g.phase = Phase::kShowing;
        g.phaseStart = now;
    } else {
        g.alpha = static_cast<BYTE>(elapsed * 255u / fade);
    }
    InvalidateScreens();
}

void Paint(Screen& s) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(s.hwnd, &ps);
    HDC source = s.current.dc;
    if (g.phase == Phase::kFading) {
        BitBlt(s.frame.dc, 0, 0, s.width, s.height, s.current.dc, 0, 0, SRCCOPY);
        BLENDFUNCTION blend{AC_SRC_OVER, 0, g.alpha, 0};
        AlphaBlend(s.frame.dc, 0, 0, s.width, s.height, s.next.dc, 0, 0, s.width, s.height, blend);
        source = s.frame.dc;
    }
    if (source) BitBlt(dc, 0, 0, s.width, s.height, source, 0, 0, SRCCOPY);
    EndPaint(s.hwnd, &ps);
}

// ---- Music --------------------------------------------------------------------

void CloseTrack() {
    if (g.device) {
        MCI_GENERIC_PARMS close{};
        mciSendCommandA(g.device, MCI_CLOSE, 0, reinterpret_cast<DWORD_PTR>(&close));
        g.device = 0;
    }
}

// Opens a file as the installer's media check does: by its extension, else
// with the "MPEGVideo" device.
MCIDEVICEID OpenTrack(const std::string& path) {
    char shortPath[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    const char* name = n > 0 && n < MAX_PATH ? shortPath : path.c_str();
    MCI_OPEN_PARMSA open{};
    open.lpstrElementName = name;
    open.lpstrDeviceType = "MPEGVideo";
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open)) == 0)
        return open.wDeviceID;
    open.wDeviceID = 0;
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT | MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)) == 0)
        return open.wDeviceID;
    return 0;
}

// Plays the music from track `g.track` on, skipping files that do not open
// or play; after a whole round of failures in a row the music stops (the
// pictures never wait for it). MM_MCINOTIFY to `window` ends each track.
void PlayTrack(HWND window) {
    while (!g.music.empty() && g.failuresInARow < g.music.size()) {
        g.track %= g.music.size();
        g.device = OpenTrack(g.music[g.track]);
        if (g.device) {
            MCI_PLAY_PARMS play{};
            play.dwCallback = reinterpret_cast<DWORD_PTR>(window);
            if (mciSendCommandA(g.device, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&play)) == 0) return;
            CloseTrack();
        }
        ++g.failuresInARow;
        ++g.track;
    }
}

void OnTrackEnd(HWND window, WPARAM how, LPARAM device) {
    if (static_cast<MCIDEVICEID>(device) != g.device || g.device == 0) return;
    CloseTrack();
    if (how == MCI_NOTIFY_SUCCESSFUL)
        g.failuresInARow = 0;
    else
        ++g.failuresInARow;
    ++g.track;
    PlayTrack(window);
}

void FindMusic() {
    if (g.folder.empty()) return;
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((g.folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const std::string& name : slideshow::MusicFiles(names, g.title + ".dat")) g.music.push_back(g.folder + name);
}

// ---- Windows --------------------------------------------------------------------

void Close() {
    if (g.closing) return;
    g.closing = true;
    for (int i = 0; i < g.screenCount; ++i)
        if (g.screens[i].hwnd) DestroyWindow(g.screens[i].hwnd);
    PostQuitMessage(0);
}

Screen* ScreenOf(HWND hwnd) {
    for (int i = 0; i < g.screenCount; ++i)
        if (g.screens[i].hwnd == hwnd) return &g.screens[i];
    return nullptr;
}

LRESULT CALLBACK ScreenProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool full = g.mode == Mode::kFullScreen;
    switch (message) {
        case WM_NCCREATE:
            // Known from the first message on, so that no paint goes by it.
            static_cast<Screen*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams)->hwnd = hwnd;
            break;
        case WM_PAINT:
            if (Screen* s = ScreenOf(hwnd)) {
                Paint(*s);
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;  // every paint covers the whole window
        case WM_TIMER:
            if (wParam == kFrameTimer) {
                if (g.mode == Mode::kPreview && !IsWindow(GetParent(hwnd))) {
                    Close();
                } else {
                    Tick();
                    // The preview is small, and the window around it may
                    // paint over it at any time: it is drawn on every frame.
                    if (g.mode == Mode::kPreview) InvalidateScreens();
                }
            }
            return 0;
        case MM_MCINOTIFY:
            OnTrackEnd(hwnd, wParam, lParam);
            return 0;
        case WM_SETCURSOR:
            if (full) {
                SetCursor(nullptr);
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            if (full) {
                POINT p;
                GetCursorPos(&p);
                if (GetTickCount() - g.startTick < slideshow::kQuietMs)
                    g.startMouse = p;
                else if (slideshow::MouseEnds(g.startMouse.x, g.startMouse.y, p.x, p.y))
                    Close();
            }
            return 0;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (full) Close();
            return 0;
        case WM_SYSCOMMAND:
            if (full && ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER)) return 0;
            break;
        case WM_CLOSE:
            Close();
            return 0;
        case WM_DESTROY:
            if (Screen* s = ScreenOf(hwnd)) s->hwnd = nullptr;
            Close();
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT rect, LPARAM) {
    if (g.screenCount >= kMaxScreens) return FALSE;
    g.screens[g.screenCount++].area = *rect;
    return TRUE;
}

bool MakeScreens(HINSTANCE instance, HWND parent) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ScreenProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "GlimmerwickSlideshowClass";
    if (!RegisterClassA(&wc)) return false;

    if (g.mode == Mode::kPreview) {
        RECT client{};
        GetClientRect(parent, &client);
        g.screenCount = 1;
        g.screens[0].area = client;
    } else {
        EnumDisplayMonitors(nullptr, nullptr, AddMonitor, 0);
        if (g.screenCount == 0) {
            g.screenCount = 1;
            const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
            g.screens[0].area = {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                 y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
        }
    }
    for (int i = 0; i < g.screenCount; ++i) {
        Screen& s = g.screens[i];
        s.width = s.area.right - s.area.left;
        s.height = s.area.bottom - s.area.top;
        if (s.width <= 0 || s.height <= 0 || !MakeLayer(s.current, s.width, s.height) ||
            !MakeLayer(s.next, s.width, s.height) || !MakeLayer(s.frame, s.width, s.height))
            return false;
        FillBlack(s.current.dc, s.width, s.height);
    }
    // The pictures are ready before the windows show, so that the first
    // thing seen is the first picture (or the title), not an empty screen.
    StartPictures();
    for (int i = 0; i < g.screenCount; ++i) {
        Screen& s = g.screens[i];
        s.hwnd = g.mode == Mode::kPreview
                     ? CreateWindowExA(0, wc.lpszClassName, g.title.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, s.width,
                                       s.height, parent, nullptr, instance, &s)
                     : CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, g.title.c_str(),
                                       WS_POPUP | WS_VISIBLE, s.area.left, s.area.top, s.width, s.height, nullptr,
                                       nullptr, instance, &s);
        if (!s.hwnd) return false;
        UpdateWindow(s.hwnd);
    }
    return true;
}

// ---- Settings dialog -------------------------------------------------------------

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            const std::string caption = g.title + " - Impostazioni";
            SetWindowTextA(dialog, caption.c_str());
            SetDlgItemInt(dialog, IDC_SECONDS, g.settings.seconds, FALSE);
            SendDlgItemMessageA(dialog, IDC_SECONDS, EM_LIMITTEXT, 4, 0);
            CheckRadioButton(dialog, IDC_ORDER_GIVEN, IDC_ORDER_SHUFFLED,
                             g.settings.order == kOrderShuffled ? IDC_ORDER_SHUFFLED : IDC_ORDER_GIVEN);
            CheckRadioButton(dialog, IDC_FIT_WHOLE, IDC_FIT_FILL,
                             g.settings.fit == kFitFill ? IDC_FIT_FILL : IDC_FIT_WHOLE);
            CheckDlgButton(dialog, IDC_MUSIC, g.settings.music ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                char text[16] = "";
                GetDlgItemTextA(dialog, IDC_SECONDS, text, sizeof text);
                ShowSettings s = g.settings;
                if (!slideshow::ParseSecondsText(text, &s.seconds)) {
                    MessageBoxA(dialog, "Indicare i secondi per immagine, da 1 a 3600.", g.title.c_str(),
                                MB_OK | MB_ICONEXCLAMATION);
                    SetFocus(GetDlgItem(dialog, IDC_SECONDS));
                    return TRUE;
                }
                s.order = IsDlgButtonChecked(dialog, IDC_ORDER_SHUFFLED) == BST_CHECKED ? kOrderShuffled : kOrderGiven;
                s.fit = IsDlgButtonChecked(dialog, IDC_FIT_FILL) == BST_CHECKED ? kFitFill : kFitWhole;
                s.music = IsDlgButtonChecked(dialog, IDC_MUSIC) == BST_CHECKED;
                WriteSettings(s);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const slideshow::Command command = slideshow::ParseCommandLine(GetCommandLineA());
    g.mode = command.mode;
    HWND window = reinterpret_cast<HWND>(command.window);
    if (g.mode == Mode::kNothing) return 0;
    if (g.mode == Mode::kPreview && !IsWindow(window)) return 0;

    FindTitle();
    FindFolder();
    OpenData();
    ReadSettings();
    if (g.mode == Mode::kSettings) {
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), IsWindow(window) ? window : nullptr, SettingsProc,
                        0);
        if (g.data != INVALID_HANDLE_VALUE) CloseHandle(g.data);
        return 0;
    }

    // One full-screen slideshow at a time: the installer and Windows may
    // both start it.
    HANDLE single = nullptr;
    if (g.mode == Mode::kFullScreen) {
        std::string name = "GlimmerwickSlideshow " + g.title;
        for (char& c : name)
            if (c == '\\') c = '/';
        single = CreateMutexA(nullptr, FALSE, name.c_str());
        if (single && GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(single);
            return 0;
        }
    }

    StartGdiplus(g.gdiplus);
    g.startTick = GetTickCount();
    GetCursorPos(&g.startMouse);
    int status = 1;
    if (MakeScreens(instance, window)) {
        status = 0;
        if (g.mode == Mode::kFullScreen) {
            ShowCursor(FALSE);
            SetForegroundWindow(g.screens[0].hwnd);
            if (g.settings.music) {
                FindMusic();
                PlayTrack(g.screens[0].hwnd);
            }
        }
        SetTimer(g.screens[0].hwnd, kFrameTimer, kFrameMs, nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (g.mode == Mode::kFullScreen) ShowCursor(TRUE);
    }
    CloseTrack();
    for (int i = 0; i < g.screenCount; ++i) {
        FreeLayer(g.screens[i].current);
        FreeLayer(g.screens[i].next);
        FreeLayer(g.screens[i].frame);
    }
    StopGdiplus(g.gdiplus);
    if (g.data != INVALID_HANDLE_VALUE) CloseHandle(g.data);
    if (single) CloseHandle(single);
    return status;
}
