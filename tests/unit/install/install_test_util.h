// Helpers shared by the install and sequence tests: a package written as the
// installer's own file on the fake's drive, and the state that the backdrop
// window and the sequence leave before the install dialog runs.
#pragma once

#include <cstring>
#include <string>

#include "payload/naming.h"
#include "shell/globals.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

// Where the tests put the installer.
inline const char kInstallerPath[] = "C:\\Setup\\Aurora.exe";

// The data folder of a package titled "Aurora" under the fake's defaults.
inline const char kAuroraData[] = "C:\\ProgramData\\Tarnwell\\Glimmerwick\\Aurora\\";

// Installs the fake, writes `package` as the installer's own file and reads
// its title into g_title as the backdrop window does.
inline void UsePackage(const TestPackage& package, const std::string& path = kInstallerPath) {
    InstallFakePlatform();
    ResetGlobals();
    g_fake.WriteFile(path, BuildPackageBytes(package));
    g_fake.moduleFileName = path;
    std::memset(g_title, 0, sizeof g_title);
    std::memcpy(g_title, package.title.data(),
                package.title.size() < sizeof g_title - 1 ? package.title.size() : sizeof g_title - 1);
}

// As UsePackage, then the base name as the sequence sets it before the
// install dialog: the stripped title and ".scr".
inline void PrepareInstall(const TestPackage& package, const std::string& path = kInstallerPath) {
    UsePackage(package, path);
    StripTrailingBlanks(g_title);
    std::strcpy(g_baseName, g_title);
    std::strcat(g_baseName, ".scr");
}

// A package with the three fixed files and the given media entries.
inline TestPackage MakePackage(const std::string& title, std::vector<TestEntry> media = {}) {
    TestPackage p;
    p.title = title;
    p.entries.push_back({"SAVER:" + SampleNoise(3000, 1)});
    p.entries.push_back({"DATA:" + SampleText(5000, 2)});
    p.entries.push_back({"UNINSTALLER:" + SampleNoise(2500, 3)});
    for (TestEntry& e : media) p.entries.push_back(std::move(e));
    return p;
}

// A media entry of `size` noise bytes.
inline TestEntry Media(const std::string& extension, std::size_t size = 1000, std::uint8_t kind = ' ',
                       bool pack = false) {
    TestEntry e;
    e.data = SampleNoise(size, static_cast<unsigned>(size + extension.size()));
    e.extension = extension;
    e.kind = kind;
    e.pack = pack;
    return e;
}

// The bytes of `package` with `extra` bytes behind its last entry, counted
// in that entry's stored size: left over after a packed stream.
inline std::string PaddedPackageBytes(const TestPackage& package, std::uint32_t extra) {
    std::string bytes = BuildPackageBytes(package) + std::string(extra, 'x');
    const std::size_t at = RecordOffsetOf(bytes, package.entries.size() - 1) + 4;
    PokeU32(bytes, at, PeekU32(bytes, at) + extra);
    return bytes;
}

// Message boxes shown so far, by caption.
inline int CountBoxes(const std::string& caption) {
    int n = 0;
    for (const FakeMessageBox& b : g_fake.messageBoxes) n += b.caption == caption ? 1 : 0;
    return n;
}

// The request the install sequence hands the install dialog, from the
// globals as the sequence sets them.
inline InstallRequest TestRequest() { return InstallRequest{g_title, g_baseName, g_showPrompts}; }
