// A program that loads libraries the careless way, by bare name through the
// default search order, which starts in its own folder: the check that a
// library planted there is taken under this system, so that a run of the
// installer that takes none proves something.
//
// It imports the same system libraries as the installer. Started with the
// argument "idle" it loads nothing itself: what is taken then is taken while
// the process starts, by those libraries' own imports, before any code of
// the program runs.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // One function of each library the installer imports, so that each stays
    // imported.
    void* volatile keep[] = {reinterpret_cast<void*>(&ShellExecuteExA), reinterpret_cast<void*>(&RegCloseKey),
                             reinterpret_cast<void*>(&GetStockObject), reinterpret_cast<void*>(&MessageBoxA)};
    (void)keep;
    if (std::strstr(commandLine, "idle")) return 0;
    // "guarded": the same loads after limiting the search to the system
    // folder, as the installer does first thing.
    if (std::strstr(commandLine, "guarded")) SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const char* const names[] = {"shfolder.dll", "winmm.dll", "uxtheme.dll", "msimg32.dll"};
    for (const char* name : names) LoadLibraryA(name);
    return 0;
}
