// autopilot: drives an installer run the way a person would and writes down
// everything it is shown.
//
//   autopilot.exe SCRIPT TRANSCRIPT SHOTDIR INSTALLER [ARGUMENT...]
//
// It starts INSTALLER (current folder: the installer's own folder), follows
// SCRIPT (see script.h) and writes TRANSCRIPT, one fact per line:
//
//   screen 1024x768 workarea 0,0,1024,768    the desktop the run sees
//   installer "C:\dist\Aurora.exe"
//   backdrop "Aurora" rect 0,0,1024,768      the backdrop's window text
//   passing "Aurora Installazione ..."       a window without caption bar
//                                            showed (see script.h)
//   window 1 "License Agreement" owner none  a new dialog or message box;
//     edit 1009 "..." selection none focus   then its visible controls in
//     button 1 "Accept" default              drawing order (static, icon,
//     button 2 "Decline"                     edit, button, control CLASS)
//   answer 1 press "Accept"                  what was done to window 1
//   gone 1                                   window 1 no longer shows
//   shot start                               a screenshot was taken
//   exit 0                                   the installer's exit code
//   result ok | result fail: REASON
//
// Owners are "none", "backdrop" or the owning window's caption in quotes.
// Texts are quoted as in scripts and keep their code page 1252 bytes.
//
// Screenshots: for `shot NAME` the autopilot creates SHOTDIR\NAME.req once
// the installer has handled everything sent to it, and waits until the
// runner has taken the picture and removed the file.
//
// Exit code 0 when every step passed, 1 otherwise (the reason is the
// transcript's last line); a failed run ends the installer.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "script.h"

namespace {

constexpr char kBackdropClass[] = "GlimmerwickInstallClass";
constexpr DWORD kPollMs = 25;
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kDefaultTimeoutSeconds = 30;

struct SeenWindow {
    HWND hwnd;
    int number;
    std::string caption;
};

struct Run {
    PROCESS_INFORMATION installer{};
    DWORD installerThread = 0;  // the thread that owns the installer's windows
    HWND backdrop = nullptr;
    std::vector<SeenWindow> open;  // windows reported and still showing
    std::vector<HWND> passing;     // windows noted as passing
    SeenWindow current{};          // the last window reported (number 0: none)
    int nextNumber = 1;
    DWORD timeoutMs = kDefaultTimeoutSeconds * 1000;
    DWORD startTick = GetTickCount();
    std::string shotDir;
    FILE* transcript = nullptr;
    bool exited = false;
    DWORD exitCode = 0;
};

// Writes a transcript line; the same line, with the milliseconds since the
// autopilot started, goes to the standard error for the harness's log.
void Line(Run& run, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), run.transcript);
    std::fputc('\n', run.transcript);
    std::fflush(run.transcript);
    std::fprintf(stderr, "%6lu ms  %s\n", GetTickCount() - run.startTick, text.c_str());
}

// ---- Reading another process's windows --------------------------------------

// The window text through WM_GETTEXT, which the system carries across
// processes (GetWindowTextA would not ask an edit control of another
// process for its text).
std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length))
        return "";
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return "";
    text.resize(copied < length ? copied : length);
    return text;
}

std::string ClassOf(HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

bool SameClass(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

// Waits until the installer's thread has handled everything sent to it and
// the messages that were posted before: each WM_NULL round trip lets its
// message loop take one more posted message first (sent messages go ahead
// of posted ones), so the effect of a PostMessage made while a dialog was
// set up (a selection change, for instance) is visible afterwards.
void Settle(Run& run) {
    HWND target = run.backdrop;
    if (run.current.number && IsWindow(run.current.hwnd)) target = run.current.hwnd;
    if (!target) return;
    for (int i = 0; i < 4; ++i) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    }
}

struct ProcessWindows {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    auto* windows = reinterpret_cast<ProcessWindows*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == windows->pid && IsWindowVisible(hwnd)) windows->found.push_back(hwnd);
    return TRUE;
}

// The installer's visible top-level windows, topmost first.
std::vector<HWND> VisibleWindows(const Run& run) {
    ProcessWindows windows{run.installer.dwProcessId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows.found;
}

std::string OwnerText(const Run& run, HWND hwnd) {
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (!owner) return "none";
    if (owner == run.backdrop) return "backdrop";
    return Quote(TextOf(owner));
}

std::string ControlLine(HWND control, HWND focus) {
    std::string cls = ClassOf(control);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    int id = GetDlgCtrlID(control);
    std::string line;
    if (SameClass(cls, "Button")) {
        line = "button " + std::to_string(id) + " " + Quote(TextOf(control));
        if ((style & 0x0F) == BS_DEFPUSHBUTTON) line += " default";
    } else if (SameClass(cls, "Edit")) {
        DWORD_PTR selection = 0;
        SendMessageTimeoutA(control, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                            &selection);
        unsigned start = LOWORD(selection), end = HIWORD(selection);
        line = "edit " + std::to_string(id) + " " + Quote(TextOf(control)) + " selection ";
        line += start == end ? std::string("none")
                             : std::to_string(start) + "-" + std::to_string(end);
    } else if (SameClass(cls, "Static")) {
        int type = style & SS_TYPEMASK;
        if (type == SS_ICON || type == SS_BITMAP || type == SS_ENHMETAFILE) {
            line = "icon";
            // Wine lays out the icon's place in every message box; one
            // asked for without an icon leaves it empty.
            DWORD_PTR icon = 0;
            if (type == SS_ICON &&
                SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                    &icon) &&
                icon == 0)
                line += " none";
        }
        else
            line = "static " + Quote(TextOf(control));
    } else {
        line = "control " + cls + " " + std::to_string(id) + " " + Quote(TextOf(control));
    }
    if (!IsWindowEnabled(control)) line += " disabled";
    if (control == focus) line += " focus";
    return line;
}

// The lines that describe a window: its head line, then one line per
// visible control in drawing (template) order.
std::vector<std::string> Describe(const Run& run, HWND hwnd, int number) {
    std::vector<std::string> lines;
    std::string cls = ClassOf(hwnd);
    std::string head = "window " + std::to_string(number) + " " + Quote(TextOf(hwnd));
    if (!SameClass(cls, "#32770")) head += " class " + Quote(cls);
    head += " owner " + OwnerText(run, hwnd);
    lines.push_back(head);

    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND focus = GetGUIThreadInfo(run.installerThread, &info) ? info.hwndFocus : nullptr;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child)) lines.push_back("  " + ControlLine(child, focus));
    return lines;
}

// Describes a window once it has stopped changing.
std::vector<std::string> DescribeSettled(Run& run, HWND hwnd, int number) {
    Settle(run);
    std::vector<std::string> lines = Describe(run, hwnd, number);
    for (int tries = 0; tries < 20; ++tries) {
        Sleep(kPollMs);
        Settle(run);
        std::vector<std::string> again = Describe(run, hwnd, number);
        if (again == lines) break;
        lines = again;
    }
    return lines;
}

// ---- Watching ---------------------------------------------------------------

bool IsOpen(const Run& run, HWND hwnd) {
    for (const SeenWindow& w : run.open)
        if (w.hwnd == hwnd) return true;
    return false;
}

bool HasCaptionBar(HWND hwnd) {
    return (GetWindowLongA(hwnd, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
}

// Windows that show and have not been reported yet, oldest first.
struct Fresh {
    std::vector<HWND> captioned;  // wait for the user
    std::vector<HWND> bare;       // no caption bar: may pass by themselves
};

// One look at the installer: reports the backdrop when it first shows,
// reports reported windows that no longer show, notes the installer's end,
// and returns the windows that show and have not been reported yet.
Fresh Look(Run& run) {
    if (!run.exited && WaitForSingleObject(run.installer.hProcess, 0) == WAIT_OBJECT_0) {
        GetExitCodeProcess(run.installer.hProcess, &run.exitCode);
        run.exited = true;
    }
    std::vector<HWND> visible = VisibleWindows(run);
    auto showing = [&](HWND hwnd) {
        for (HWND v : visible)
            if (v == hwnd) return true;
        return false;
    };

    // Newest first: of windows seen to go in one look, a later one (a
    // question owned by a dialog) went first, whatever the look's timing.
    for (std::size_t i = run.open.size(); i-- > 0;) {
        if (showing(run.open[i].hwnd)) continue;
        Line(run, "gone " + std::to_string(run.open[i].number));
        run.open.erase(run.open.begin() + static_cast<long>(i));
    }

    Fresh fresh;
    // EnumWindows lists the topmost (newest) window first.
    for (auto it = visible.rbegin(); it != visible.rend(); ++it) {
        HWND hwnd = *it;
        if (SameClass(ClassOf(hwnd), kBackdropClass)) {
            if (!run.backdrop) {
                run.backdrop = hwnd;
                RECT r{};
                GetWindowRect(hwnd, &r);
                Line(run, "backdrop " + Quote(TextOf(hwnd)) + " rect " + std::to_string(r.left) +
                              "," + std::to_string(r.top) + "," + std::to_string(r.right) +
                              "," + std::to_string(r.bottom));
            }
            continue;
        }
        if (IsOpen(run, hwnd)) continue;
        (HasCaptionBar(hwnd) ? fresh.captioned : fresh.bare).push_back(hwnd);
    }
    return fresh;
}

// Notes windows without a caption bar that no step waits for, once each.
// When such a window is looked at is a matter of timing, so these lines
// are left out when transcripts are compared.
void NotePassing(Run& run, const std::vector<HWND>& bare) {
    for (HWND hwnd : bare) {
        bool noted = false;
        for (HWND n : run.passing) noted = noted || n == hwnd;
        if (noted) continue;
        run.passing.push_back(hwnd);
        Line(run, "passing " + Quote(TextOf(hwnd)));
    }
}

// Reports a window that shows and makes it the current one.
void Report(Run& run, HWND hwnd) {
    if (!run.installerThread) run.installerThread = GetWindowThreadProcessId(hwnd, nullptr);
    int number = run.nextNumber++;
    SeenWindow seen{hwnd, number, TextOf(hwnd)};
    for (const std::string& line : DescribeSettled(run, hwnd, number)) Line(run, line);
    run.open.push_back(seen);
    run.current = seen;
}

void NoteExit(Run& run) { Line(run, "exit " + std::to_string(run.exitCode)); }

// ---- Steps ------------------------------------------------------------------

bool WaitBackdrop(Run& run, std::string& failure) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < run.timeoutMs) {
        NotePassing(run, Look(run).bare);
        if (run.backdrop) return true;
        if (run.exited) {
            NoteExit(run);
            failure = "installer ended before its backdrop showed";
            return false;
        }
        Sleep(kPollMs);
    }
    failure = "no backdrop within " + std::to_string(run.timeoutMs / 1000) + " s";
    return false;
}

// Waits for a new window whose text is `caption`: with a caption bar for
// `window`, without one for `progress`. Windows with a caption bar are
// never passed over: any other one fails the step.
bool WaitWindow(Run& run, const std::string& caption, bool captionBar, std::string& failure) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < run.timeoutMs) {
        Fresh fresh = Look(run);
        if (captionBar) NotePassing(run, fresh.bare);
        if (!captionBar && !fresh.bare.empty()) {
            // Its texts are set once it shows; read them settled.
            Settle(run);
            for (HWND hwnd : fresh.bare)
                if (IsWindowVisible(hwnd) && TextOf(hwnd) == caption) {
                    Report(run, hwnd);
                    return true;
                }
        }
        if (!fresh.captioned.empty()) {
            Settle(run);
            for (HWND hwnd : fresh.captioned)
                if (captionBar && IsWindowVisible(hwnd) && TextOf(hwnd) == caption) {
                    Report(run, hwnd);
                    return true;
                }
            for (HWND hwnd : fresh.captioned)
                if (IsWindowVisible(hwnd)) {
                    Report(run, hwnd);
                    failure = "unexpected window " + Quote(run.current.caption) + " (expected " +
                              Quote(caption) + ")";
                    return false;
                }
        }
        if (run.exited) {
            NoteExit(run);
            failure = "installer ended while waiting for window " + Quote(caption);
            return false;
        }
        Sleep(kPollMs);
    }
    failure = "no window " + Quote(caption) + " within " + std::to_string(run.timeoutMs / 1000) +
              " s";
    return false;
}

bool WaitEnd(Run& run, int expected, std::string& failure) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < run.timeoutMs) {
        Fresh fresh = Look(run);
        NotePassing(run, fresh.bare);
        if (!fresh.captioned.empty()) {
            Settle(run);
            for (HWND hwnd : fresh.captioned)
                if (IsWindowVisible(hwnd)) {
                    Report(run, hwnd);
                    failure = "unexpected window " + Quote(run.current.caption) +
                              " (expected the installer to end)";
                    return false;
                }
        }
        if (run.exited) {
            NoteExit(run);
            if (expected >= 0 && run.exitCode != static_cast<DWORD>(expected)) {
                failure = "exit code " + std::to_string(run.exitCode) + ", expected " +
                          std::to_string(expected);
                return false;
            }
            return true;
        }
        Sleep(kPollMs);
    }
    failure = "installer still running after " + std::to_string(run.timeoutMs / 1000) + " s";
    return false;
}

HWND FindButton(const Run& run, const std::string& label) {
    for (HWND child = GetWindow(run.current.hwnd, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && SameClass(ClassOf(child), "Button") &&
            ButtonLabel(TextOf(child)) == label)
            return child;
    return nullptr;
}

void SendMouse(DWORD flags, LONG x, LONG y) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x;
    input.mi.dy = y;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

// A left click at a screen point, as the mouse would give it.
void ClickAt(POINT p) {
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    // Absolute mouse positions are given in 1/65536 of the screen.
    LONG x = static_cast<LONG>((p.x * 65536LL + width - 1) / width);
    LONG y = static_cast<LONG>((p.y * 65536LL + height - 1) / height);
    SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
    SendMouse(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE, x, y);
    SendMouse(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE, x, y);
}

void SendKey(WORD vk) {
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = vk;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
}

// Acts on the current window. Messages are posted, not sent: the answer
// may start a nested modal loop in the installer that returns only later.
bool Answer(Run& run, const Step& step, std::string& failure) {
    if (!run.current.number) {
        failure = "no window to answer";
        return false;
    }
    HWND hwnd = run.current.hwnd;
    std::string number = std::to_string(run.current.number);
    if (!IsWindow(hwnd) || !IsWindowVisible(hwnd)) {
        failure = "window " + number + " no longer shows";
        return false;
    }
    std::string what;
    switch (step.kind) {
        case StepKind::Press:
        case StepKind::Click: {
            HWND button = FindButton(run, step.text);
            if (!button) {
                failure = "no button " + Quote(step.text) + " in window " + number;
                return false;
            }
            if (step.kind == StepKind::Press) {
                PostMessageA(button, BM_CLICK, 0, 0);
                what = "press " + Quote(step.text);
            } else {
                RECT r{};
                GetWindowRect(button, &r);
                ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
                what = "click " + Quote(step.text);
            }
            break;
        }
        case StepKind::Key: {
            // Keys go to the foreground window's focus, as for a person at
            // the keyboard; the window to answer must be in front.
            if (GetForegroundWindow() != hwnd) SetForegroundWindow(hwnd);
            if (GetForegroundWindow() != hwnd) {
                failure = "window " + number + " is not in the foreground";
                return false;
            }
            SendKey(static_cast<WORD>(KeyCode(step.text)));
            what = "key " + step.text;
            break;
        }
        case StepKind::Close:
            PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            what = "close";
            break;
        default:
            break;
    }
    Line(run, "answer " + number + " " + what);
    return true;
}

bool TakeShot(Run& run, const std::string& name, std::string& failure) {
    Settle(run);
    std::string request = run.shotDir + "\\" + name + ".req";
    std::string partial = run.shotDir + "\\" + name + ".tmp";
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = "cannot write " + Quote(partial);
        return false;
    }
    DWORD written = 0;
    WriteFile(file, name.data(), static_cast<DWORD>(name.size()), &written, nullptr);
    CloseHandle(file);
    if (!MoveFileExA(partial.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        failure = "cannot write " + Quote(request);
        return false;
    }
    DWORD start = GetTickCount();
    while (GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= run.timeoutMs) {
            failure = "screenshot " + name + " not taken within " +
                      std::to_string(run.timeoutMs / 1000) + " s";
            return false;
        }
        Sleep(kPollMs);
    }
    Line(run, "shot " + name);
    return true;
}

// Whether a process whose program name ends in `suffix` runs (letter case
// ignored).
bool ProcessRuns(const std::string& suffix) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        const std::size_t n = lstrlenA(entry.szExeFile);
        found = n >= suffix.size() && lstrcmpiA(entry.szExeFile + n - suffix.size(), suffix.c_str()) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

bool WaitProcess(Run& run, const Step& step, std::string& failure) {
    const bool running = step.number == 1;
    DWORD start = GetTickCount();
    while (ProcessRuns(step.text) != running) {
        if (GetTickCount() - start >= run.timeoutMs) {
            failure = "a process " + Quote(step.text) + (running ? " not running" : " still running") +
                      " after " + std::to_string(run.timeoutMs / 1000) + " s";
            return false;
        }
        Sleep(kPollMs);
    }
    Line(run, "process " + Quote(step.text) + (running ? " running" : " ended"));
    return true;
}

bool WaitShows(Run& run, const Step& step, std::string& failure) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindWindowA(step.text.c_str(), nullptr);
        if (hwnd && IsWindowVisible(hwnd)) break;
        if (GetTickCount() - start >= run.timeoutMs) {
            failure = "no window of class " + Quote(step.text) + " within " + std::to_string(run.timeoutMs / 1000) +
                      " s";
            return false;
        }
        Sleep(kPollMs);
    }
    Line(run, "shows " + Quote(step.text));
    return true;
}

bool RunStep(Run& run, const Step& step, std::string& failure) {
    switch (step.kind) {
        case StepKind::Backdrop: return WaitBackdrop(run, failure);
        case StepKind::Window: return WaitWindow(run, step.text, true, failure);
        case StepKind::Progress: return WaitWindow(run, step.text, false, failure);
        case StepKind::Press:
        case StepKind::Click:
        case StepKind::Key:
        case StepKind::Close: return Answer(run, step, failure);
        case StepKind::Shot: return TakeShot(run, step.text, failure);
        case StepKind::End: return WaitEnd(run, step.number, failure);
        case StepKind::Timeout:
            run.timeoutMs = static_cast<DWORD>(step.number) * 1000;
            return true;
        case StepKind::Pause:
            Sleep(static_cast<DWORD>(step.number));
            return true;
        case StepKind::Nudge:
            SendMouse(MOUSEEVENTF_MOVE, 200, 0);
            Line(run, "nudge");
            return true;
        case StepKind::Process: return WaitProcess(run, step, failure);
        case StepKind::Shows: return WaitShows(run, step, failure);
        case StepKind::Stroke:
            SendKey(static_cast<WORD>(KeyCode(step.text)));
            Line(run, "stroke " + step.text);
            return true;
    }
    return false;
}

bool ReadWholeFile(const char* path, std::string& content) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
    std::fclose(file);
    return true;
}

// The command line for the installer: its path and arguments, each quoted.
std::string CommandLine(int argc, char** argv, int first) {
    std::string line;
    for (int i = first; i < argc; ++i) {
        if (!line.empty()) line += ' ';
        line += '"';
        line += argv[i];
        line += '"';
    }
    return line;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int Fail(Run& run, const std::string& reason) {
    Line(run, "result fail: " + reason);
    if (run.installer.hProcess && !run.exited) {
        TerminateProcess(run.installer.hProcess, 255);
        WaitForSingleObject(run.installer.hProcess, 5000);
    }
    std::fprintf(stderr, "autopilot: %s\n", reason.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: autopilot SCRIPT TRANSCRIPT SHOTDIR INSTALLER [ARGUMENT...]\n");
        return 2;
    }
    Run run;
    run.shotDir = argv[3];
    run.transcript = std::fopen(argv[2], "wb");
    if (!run.transcript) {
        std::fprintf(stderr, "autopilot: cannot write %s\n", argv[2]);
        return 2;
    }

    std::string script;
    std::vector<Step> steps;
    std::string error;
    if (!ReadWholeFile(argv[1], script)) return Fail(run, std::string("cannot read ") + argv[1]);
    if (!ParseScript(script, steps, error)) return Fail(run, "script " + error);

    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    Line(run, "screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                  std::to_string(GetSystemMetrics(SM_CYSCREEN)) + " workarea " +
                  std::to_string(area.left) + "," + std::to_string(area.top) + "," +
                  std::to_string(area.right) + "," + std::to_string(area.bottom));
    Line(run, "installer " + Quote(argv[4]));
    std::string commandLine = CommandLine(argc, argv, 4);
    std::string folder = FolderOf(argv[4]);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(argv[4], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &run.installer))
        return Fail(run, "cannot start the installer (error " + std::to_string(GetLastError()) +
                             ")");
    run.installerThread = run.installer.dwThreadId;

    bool ended = false;
    for (const Step& step : steps) {
        std::string failure;
        if (!RunStep(run, step, failure))
            return Fail(run, "line " + std::to_string(step.line) + ": " + failure);
        if (step.kind == StepKind::End) ended = true;
    }
    if (!ended) {
        // A script that stops answering still expects the installer to end.
        std::string failure;
        if (!WaitEnd(run, -1, failure)) return Fail(run, "after the last step: " + failure);
    }
    Line(run, "result ok");
    CloseHandle(run.installer.hThread);
    CloseHandle(run.installer.hProcess);
    std::fclose(run.transcript);
    return 0;
}
