// The recording fake platform for native unit tests.
//
// InstallFakePlatform() puts it in g_platform and resets the installation's
// state; tests that run the installer shell also call ResetGlobals(). Every
// operation appends one line to `calls` (operation name, then its main
// arguments), so a test can check what the logic did and in what order.
//
// Files are real files under a fresh temporary root: a Windows path such as
// "C:\WINDOWS\Aurora.scr" lands at <root>/C/WINDOWS/Aurora.scr; a host path
// that starts with '/' is used as it is (packages built by a test).
//
// Prompts and dialogs answer from scripts; any operation can be failed.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "install/extraction.h"
#include "platform/platform.h"

struct FakeMessageBox {
    OsWindow owner;
    std::string text;
    std::string caption;
    std::uint32_t style;
};

struct FakeRegValue {
    std::uint32_t type;
    std::string data;  // raw bytes as passed, NUL included for strings
};

struct FakePlatform {
    // Every call, in order: "FileCreate C:\\WINDOWS\\Aurora.scr", "Pump", ...
    std::vector<std::string> calls;

    // Host folder standing for the drives.
    std::string root;

    // System answers.
    std::string moduleFileName;           // GetModuleFileName; empty fails
    std::string windowsFolder = "C:\\WINDOWS";  // empty fails
    std::string commonAppData = "C:\\ProgramData";  // empty: SHFOLDER fails
    std::uint64_t freeBytes = 1ull << 40;  // GetDiskFreeSpaceEx
    bool freeSpaceExMissing = false;       // then GetDiskFreeSpace is used
    bool freeSpaceFails = false;           // both free-space calls fail
    std::uint32_t sectorsPerCluster = 8, bytesPerSector = 512, freeClusters = 1000000;
    bool shortPathFails = false;           // GetShortPathName returns 0
    std::set<std::string> linkFolders;     // Windows paths reported as reparse points

    // Registry under HKEY_LOCAL_MACHINE: key path -> value name -> value.
    std::map<std::string, std::map<std::string, FakeRegValue>> registry;
    bool registryDenied = false;           // RegCreateKey answers 5

    // Prompts. Message boxes pop answers from the front of the script; an
    // empty script answers `defaultAnswer`.
    std::vector<FakeMessageBox> messageBoxes;
    std::deque<int> answers;
    int defaultAnswer = kIdOk;
    std::intptr_t licenseResult = 1;
    std::vector<std::string> licenseTexts;  // texts shown by the license dialog
    // The install dialog: what runs when the sequence shows it. Unset: -1.
    std::function<std::intptr_t(OsWindow, const InstallRequest&)> installDialog;
    int creditsShown = 0;

    // The UI pump: `pumps` counts them; `onPump` runs inside each (for
    // instance to confirm Cancel at the third pump).
    int pumps = 0;
    std::function<void(int pumpNumber)> onPump;

    // Text memory.
    bool textAllocFails = false;

    // Media: extensions (with dot, any case as in the path) whose files MCI
    // cannot open by extension, and those the "MPEGVideo" device cannot open.
    std::set<std::string> mciFailsByExtension;
    std::set<std::string> mciFailsWithType;

    // Shell, profile, screen saving, window.
    struct ShellOpenCall { std::string file, parameters; int show; };
    std::vector<ShellOpenCall> shellOpens;
    int shellOpenResult = 1;
    std::vector<std::string> winExecs;
    std::vector<std::string> profileWrites;  // "section|key|value|file"
    int screenSaveActivations = 0;
    // Results of the works run by StartThread, in order.
    std::vector<int> threadResults;
    bool windowDestroyed = false;

    // Faults. `failWhen` is asked before every operation with its name and
    // its 0-based position in `calls`; true makes that call fail the way
    // the real one would (open -> kNoFile, write -> short, ...).
    std::function<bool(const std::string& op, std::size_t index)> failWhen;
    // Files and registry keys opened and not yet closed.
    int openHandles = 0;
    // Disk full: FileWrite refuses once this many bytes have been written in
    // total (all files); negative means no limit.
    std::int64_t diskBytesLeft = -1;

    // Maps a Windows or host path to the host path of the file.
    std::string HostPath(const std::string& path) const;
    // The contents of a file, by Windows or host path ("" when missing).
    std::string ReadFile(const std::string& path) const;
    bool Exists(const std::string& path) const;
    // Writes a file by Windows or host path, creating its folders.
    void WriteFile(const std::string& path, const std::string& bytes) const;
    // Calls whose line starts with `prefix`.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
};

// The fake in use. InstallFakePlatform() resets it, makes a fresh root
// folder, points g_platform at it and resets the installation's state.
extern FakePlatform g_fake;
void InstallFakePlatform();

// A fresh empty folder under the system's temporary folder.
std::string MakeTempFolder();
