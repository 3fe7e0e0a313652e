// The folders and paths of one installation, formed from the system's
// answers. Pure text work apart from the g_platform queries named here;
// nothing in this file creates or writes anything.
#pragma once

#include <cstdint>

#include "payload/naming.h"
#include "platform/platform.h"

// The registry key under HKEY_LOCAL_MACHINE that holds every uninstall entry.
inline constexpr const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The uninstall key path: kUninstallRoot, a backslash and a stem of at most
// 259 characters.
inline constexpr int kKeyPathSize = 320;

// The installer's own file (GetModuleFileNameA) into a kPathSize buffer.
// 1 on success; 0, with `path` empty, when it cannot be had whole.
int GetOwnPath(char* path);

// The Windows folder as GetWindowsDirectoryA reports it, into a kPathSize
// buffer. 1 on success; 0, with `folder` empty, when it cannot be had whole.
int GetWindowsFolder(char* folder);

// The short (8.3) form of `path` in `buffer` (kPathSize bytes), or `path`
// itself when the system cannot give one that fits. Returns the text to use.
const char* ShortPathOrLong(const char* path, char* buffer);

// Forms the data folder for `stem` into `out` (kPathSize bytes), ending with a
// backslash: the common application-data folder (without it, the Windows
// folder followed by "All Users" and "Application Data"; without that, the
// root of the current drive), then "Tarnwell", "Glimmerwick" and the stem.
// *ownFrom receives the offset in `out` of the first level this installer
// creates ("All Users" or "Tarnwell"). Returns 0, with `out` empty, when the
// folder would not fit 259 characters.
int FormDataFolder(const char* stem, char* out, int* ownFrom);

// kUninstallRoot, a backslash and the stem, into `out` (kKeyPathSize bytes).
// Returns 0, with `out` empty, for an empty stem, which would name the
// uninstall root itself.
int FormUninstallKeyPath(const char* stem, char* out);
