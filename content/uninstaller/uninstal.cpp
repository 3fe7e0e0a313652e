// The standard uninstaller, shipped with glimmer-pack beside its stub and
// packed into every slideshow package. Installed as UNINSTAL.EXE in the
// screen saver's data folder, it removes what the installer wrote there and
// in the Windows folder (see uninstall_plan.h), the uninstall entry, and the
// system.ini entry when it names this screen saver. It calls only what
// Windows XP already has.
//
//   UNINSTAL.EXE        asks first, reports at the end
//   UNINSTAL.EXE /s     silent: the installer starts it so after a Cancel
//
// Exit code 0 when everything listed is gone, 1 when something stayed (a file
// in use, for instance), 2 when the user said No, 3 when memory ran out.
#include <windows.h>

#include <string>
#include <vector>

#include "uninstall_plan.h"

namespace {

bool Silent(const char* line) {
    std::string text(line);
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text.find(" /s") != std::string::npos || text.find(" -s") != std::string::npos;
}

std::string ReadLog(const std::string& path) {
    std::string text;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(h, block, sizeof block, &read, nullptr) && read > 0) text.append(block, read);
    CloseHandle(h);
    return text;
}

bool Remove(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

// The screen saver stops being the system's one when system.ini names it.
void ReleaseScreenSaver(const std::string& longPath, const std::string& shortPath) {
    char entry[MAX_PATH];
    GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", entry, MAX_PATH, "system.ini");
    if (!uninstaller::NamesScreenSaver(entry, longPath, shortPath)) return;
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", nullptr, "system.ini");
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_UPDATEINIFILE);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::string dataFolder(self, n);
    dataFolder.resize(dataFolder.rfind('\\'));
    std::string title = dataFolder.substr(dataFolder.rfind('\\') + 1);
    char windows[MAX_PATH];
    n = GetWindowsDirectoryA(windows, MAX_PATH);
    std::string windowsFolder = n > 0 && n < MAX_PATH ? std::string(windows, n) : std::string();

    bool silent = Silent(GetCommandLineA());
    std::string caption = title + " Screen Saver";
    if (!silent) {
        std::string question = "Volete rimuovere " + caption + " e tutti i suoi file?";
        if (MessageBoxA(nullptr, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
            return 2;
    }

    std::string logPath = dataFolder + "\\INSTALL.LOG";
    uninstaller::UninstallPlan plan =
        uninstaller::PlanUninstall(ReadLog(logPath), dataFolder, windowsFolder, self);
    std::string saver = uninstaller::ScreenSaverPath(dataFolder, windowsFolder);
    // The short path can only be had while the file exists.
    std::string saverShort = ShortPath(saver);

    bool whole = true;
    for (const std::string& file : plan.files) whole = Remove(file) && whole;
    if (!windowsFolder.empty()) ReleaseScreenSaver(saver, saverShort);
    std::string key = uninstaller::UninstallKeyPath(dataFolder);
    LONG gone = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    whole = (gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND) && whole;
    whole = Remove(logPath) && whole;
    // A running program cannot always delete itself: then it goes at the
    // next start of Windows, and so do its folders, in the same order (at
    // that start a folder that is not empty by then simply stays).
    std::vector<std::string> folders = uninstaller::FoldersToRemove(dataFolder);
    if (DeleteFileA(self)) {
        for (const std::string& folder : folders)
            if (!RemoveDirectoryA(folder.c_str())) break;
    } else if (MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        for (const std::string& folder : folders)
            MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        whole = false;
    }

    if (!silent) {
        std::string text = whole ? caption + " \xe8 stato rimosso."
                                 : caption + " \xe8 stato rimosso, ma alcuni file sono rimasti: "
                                             "verranno rimossi al prossimo riavvio o potete "
                                             "cancellarli voi.";
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
    }
    return whole ? 0 : 1;
}
