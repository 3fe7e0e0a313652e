#include "uninstall_plan.h"

namespace uninstaller {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view LastLevel(std::string_view folder) {
    std::size_t slash = folder.rfind('\\');
    return slash == std::string_view::npos ? folder : folder.substr(slash + 1);
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, whatever follows a
// '.', with blanks before it ignored: Windows opens the device.
bool IsDeviceName(std::string_view name) {
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.size() != 3 && name.size() != 4) return false;
    std::string upper;
    for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// A name that Windows would take for something other than a plain file in
// the folder: empty, "." or "..", with a separator, a drive or stream colon
// or a wildcard, ending in a dot or blank (which Windows drops), or a
// device's name.
bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 32 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    return name.back() != '.' && name.back() != ' ' && !IsDeviceName(name);
}

}  // namespace

bool SamePath(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string ScreenSaverPath(std::string_view dataFolder, std::string_view windowsFolder) {
    std::string path(windowsFolder);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += LastLevel(dataFolder);
    path += ".scr";
    return path;
}

std::string UninstallKeyPath(std::string_view dataFolder) {
    std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    key += LastLevel(dataFolder);
    return key;
}

bool NamesScreenSaver(std::string_view entry, std::string_view longPath, std::string_view shortPath) {
    if (entry.empty()) return false;
    return (!longPath.empty() && SamePath(entry, longPath)) ||
           (!shortPath.empty() && SamePath(entry, shortPath));
}

std::vector<std::string> FoldersToRemove(std::string_view dataFolder) {
    std::vector<std::string> folders;
    if (!IsPlainFileName(LastLevel(dataFolder))) return folders;
    std::string_view folder = dataFolder;
    for (std::string_view shared : {"Glimmerwick", "Tarnwell"}) {
        std::size_t slash = folder.rfind('\\');
        if (slash == std::string_view::npos) return {};
        folder = folder.substr(0, slash);
        if (!SamePath(LastLevel(folder), shared)) return {};
        folders.emplace_back(folder);
    }
    folders.insert(folders.begin(), std::string(dataFolder));
    return folders;
}

UninstallPlan PlanUninstall(std::string_view log, std::string_view dataFolder,
                            std::string_view windowsFolder, std::string_view self) {
    UninstallPlan plan;
    std::string saver = ScreenSaverPath(dataFolder, windowsFolder);
    std::string logPath = std::string(dataFolder) + "\\INSTALL.LOG";
    bool usable = IsPlainFileName(LastLevel(dataFolder)) && !windowsFolder.empty();
    while (!log.empty()) {
        std::size_t end = log.find('\n');
        std::string_view line = log.substr(0, end);
        log = end == std::string_view::npos ? std::string_view() : log.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;

        bool ours = false;
        if (usable && SamePath(line, saver)) {
            ours = true;
        } else if (usable && line.size() > dataFolder.size() + 1 &&
                   SamePath(line.substr(0, dataFolder.size()), dataFolder) &&
                   line[dataFolder.size()] == '\\') {
            ours = IsPlainFileName(line.substr(dataFolder.size() + 1));
        }
        if (!ours) {
            plan.refused.emplace_back(line);
            continue;
        }
        if (SamePath(line, self) || SamePath(line, logPath)) continue;  // they go last
        bool listed = false;
        for (const std::string& f : plan.files) listed = listed || SamePath(f, line);
        if (!listed) plan.files.emplace_back(line);
    }
    return plan;
}

}  // namespace uninstaller
