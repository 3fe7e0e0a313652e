// What the standard uninstaller removes, decided from INSTALL.LOG without
// touching anything, so that it is tested natively.
//
// The uninstaller lives in the data folder that the installer made for the
// screen saver (...\Tarnwell\Glimmerwick\<title>\) and reads INSTALL.LOG
// there: one full path per installed file, CR LF after each, the lines of
// every install of the screen saver one after the other. It removes only
// what an install of this screen saver can have written: files directly in
// its own folder, and <Windows folder>\<title>.scr. Any other line (a log
// edited by hand or by a hostile program: another folder, "..", a device
// name) is left alone. Windows compares paths without regard to letter
// case, and so does the plan.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace uninstaller {

struct UninstallPlan {
    // Files to delete, each once, in the order of the log; neither the
    // uninstaller itself nor INSTALL.LOG, which go last.
    std::vector<std::string> files;
    // Lines of the log that were left alone, for the record.
    std::vector<std::string> refused;
};

// `log` is INSTALL.LOG's content; `dataFolder` the uninstaller's own folder
// with no final backslash; `windowsFolder` the Windows folder (a final
// backslash is allowed); `self` the uninstaller's own path. The title is
// the last level of `dataFolder`.
UninstallPlan PlanUninstall(std::string_view log, std::string_view dataFolder,
                            std::string_view windowsFolder, std::string_view self);

// The screen saver's path: the Windows folder, one backslash, the last
// level of `dataFolder` and ".scr".
std::string ScreenSaverPath(std::string_view dataFolder, std::string_view windowsFolder);

// Whether system.ini's SCRNSAVE.EXE entry `entry` names the screen saver,
// by its long path or by its short path (either may be empty: unknown).
bool NamesScreenSaver(std::string_view entry, std::string_view longPath, std::string_view shortPath);

// The uninstall key of the screen saver under HKEY_LOCAL_MACHINE.
std::string UninstallKeyPath(std::string_view dataFolder);

// The folders removed once the files are gone, each when it is empty, in
// this order: `dataFolder` and the two levels above it, which every screen
// saver of this maker shares. None when the two levels are not named
// "Glimmerwick" and "Tarnwell", as the installer names them: an
// uninstaller copied elsewhere removes no folder of another program.
std::vector<std::string> FoldersToRemove(std::string_view dataFolder);

// Text comparison as Windows compares file names (ASCII letters only).
bool SamePath(std::string_view a, std::string_view b);

}  // namespace uninstaller
