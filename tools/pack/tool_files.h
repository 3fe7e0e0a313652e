// What glimmer-pack asks of the operating system: its arguments, files and
// folders, one other program, interrupts and the terminal. The list is
// short and explicit; everything else in the tool is portable C++.
//
// Two implementations: tool_files_posix.cpp (Linux, file descriptors) and
// tool_files_win32.cpp (Windows, the wide-character API; every path given
// here in UTF-8 is converted to UTF-16 before it reaches the system).
//
// Paths are UTF-8 text. An operation that fails returns its failure value
// (false, kNoToolFile, "") and leaves the reason for SystemProblem().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// ---- Start -----------------------------------------------------------------------------

// The command's arguments after the program's name, in UTF-8 (on Windows
// read from the UTF-16 command line, not from `argv`). Sets up the standard
// streams: bytes pass unchanged to a file or a pipe, and a Windows console
// shows UTF-8 text as such.
std::vector<std::string> StartTool(int argc, char** argv);

// The platform table through which the installer's reader and decoder read
// packages: plain files named by the tool's paths. Its files are this
// layer's own (an OsFile of it is a ToolFile, and a ToolFile open for
// writing may be handed to the decoder as its output). It creates no file
// by name: what the tool writes, it creates through this layer. Only its
// file operations and its text memory are used.
const Platform* ToolPlatform();

// ---- Failures ---------------------------------------------------------------------------

// Words for why the last failing operation of this layer failed, as the GNU
// C library's strerror gives them ("No such file or directory", "Permission
// denied"), so that both systems say the same (Windows' other errors in its
// own English words).
std::string SystemProblem();

// ---- Paths ------------------------------------------------------------------------------

// The characters that separate a path's parts: "/" (and "\" on Windows).
extern const char* const kPathSeparators;

// Whether `path` does not depend on the current folder ("/x"; on Windows
// also "C:\x", "C:/x" and "\\server\x").
bool IsAbsolutePath(const std::string& path);

// ---- Files ------------------------------------------------------------------------------

// An open file. kNoToolFile: none.
using ToolFile = std::intptr_t;
inline constexpr ToolFile kNoToolFile = -1;

enum class FileKind { Missing, Regular, Folder, Link, Other };

// What a name stands for. `volume` and `index` tell two names of the same
// file (a hard link) apart from two files: device and inode, or volume
// serial number and file index.
struct FileFacts {
    FileKind kind = FileKind::Missing;
    std::uint64_t volume = 0, index = 0, size = 0;
};

// What is at `path`, following links, or not (a link is then FileKind::Link;
// on Windows any reparse point, a junction too). False with the reason when
// the name cannot be looked at; a missing name gives true with
// FileKind::Missing.
bool LookAt(const std::string& path, bool followLinks, FileFacts* facts);

// Opens a file (or a folder, or a device: FactsOf tells) for reading, never
// waiting for a writer of a pipe.
ToolFile OpenToRead(const std::string& path);
bool FactsOf(ToolFile file, FileFacts* facts);

// Reads up to `size` bytes: the count, 0 at the end, -1 on failure.
std::int64_t ReadSome(ToolFile file, void* buffer, std::size_t size);
// Writes all `size` bytes.
bool WriteAll(ToolFile file, const void* data, std::size_t size);
// Writes at an offset; the position afterwards is unspecified.
bool WriteAt(ToolFile file, std::uint64_t offset, const void* data, std::size_t size);
// Moves to an offset from the start.
bool SeekTo(ToolFile file, std::uint64_t offset);
// The position, -1 on failure.
std::int64_t PositionOf(ToolFile file);
// Cuts the file at `size` and moves its position there.
bool CutAt(ToolFile file, std::uint64_t size);
// Puts what was written on the disk.
bool FlushToDisk(ToolFile file);
// Closes the file; false when a late write failure shows up only here.
bool CloseFile(ToolFile file);

// Creates a new file named `pattern`, for writing, with the permissions of
// a new program (the umask applied). The pattern's last six characters,
// "XXXXXX", are replaced in place by ones that make the name unique (an
// interrupt may come at any moment: the name is never half written).
ToolFile CreateTemporary(std::string* pattern);
// Renames `from` to `to` in one step, replacing a file `to` (its name only:
// a file linked to it keeps its bytes).
bool MoveIntoPlace(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// Gives `to` the permissions of `from` (nothing to do on Windows).
bool CopyPermissions(const std::string& from, const std::string& to);

// Creates the folder `path` and any missing parents.
bool MakeFolders(const std::string& path);
// Creates a new folder named `base` with a unique suffix; "" on failure.
std::string MakeTemporaryFolder(const std::string& base);
// Removes a folder when it is empty.
bool RemoveEmptyFolder(const std::string& path);

// The names in the folder at `path`, "." and ".." left out, in no
// particular order. False with the reason when it cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>* names);

// The current folder, without a separator at its end unless it is a root;
// "" when it cannot be told.
std::string CurrentFolder();

// ---- A folder written into by name (extract) ---------------------------------------------

// An open folder. While it is open, its names are created, renamed and
// removed in that very folder, even if its path is changed meanwhile (where
// the system allows: on Windows the folder cannot be moved while it is
// open).
struct ToolFolder {
    std::string path;
    std::intptr_t handle = -1;
};

// Opens the folder at `path`, never through a link; false when it is not
// a folder or cannot be opened.
bool OpenFolder(const std::string& path, ToolFolder* folder);
void CloseFolder(ToolFolder* folder);
// What `name` in the folder is, without following a link.
bool LookIn(const ToolFolder& folder, const std::string& name, FileFacts* facts);
// Creates a new, empty file in the folder, open for writing, under a fresh
// name: `prefix` and six characters that make it unique, set in *name. It
// never opens an existing name or goes through a link; everything is then
// written through the file returned, never by its name, so a name replaced
// meanwhile by a link to another file cannot lead the writes there.
ToolFile CreateTemporaryIn(const ToolFolder& folder, const std::string& prefix, std::string* name);
// Renames `from` to `to` in the folder; over an existing `to` only with
// `replace`.
bool RenameIn(const ToolFolder& folder, const std::string& from, const std::string& to, bool replace);
bool RemoveIn(const ToolFolder& folder, const std::string& name);

// ---- The program itself and others --------------------------------------------------------

// The running program's own file; "" when it cannot be told.
std::string ProgramPath();

// Where the installed stub lies relative to the program's folder:
// "../share/glimmer-pack/stub.exe" (the POSIX file system layout) or
// "stub.exe" (beside glimmer-pack.exe on Windows).
extern const char* const kStubFromProgram;

// Whether a program named `name` can be run: found in a folder of PATH (on
// Windows as NAME.exe, and never in the current folder unless PATH names
// it).
bool FindProgram(const std::string& name);

// Runs `args` (args[0] found as FindProgram finds it) with empty standard
// input; its standard output and error are collected in *output. Returns its
// exit status, or -1 when it could not be run or was killed. An interrupt
// while it runs ends it first.
int RunCollecting(const std::vector<std::string>& args, std::string* output);

// ---- Interrupts -----------------------------------------------------------------------------

// On an interrupt (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break
// and the console closing), ends the program RunCollecting runs, removes
// every file and then every (empty) folder given here and not taken back,
// and exits with 128 + the signal number. A signal that was ignored when
// the tool started (nohup, a background job) stays ignored.
//
// The paths wait in a table of fixed room that the handler reads while the
// main code may be adding to it (see interrupt_table.h): nothing the
// handler reads is ever moved, half written or freed. Adding returns the
// entry's slot, or -1 when the table is full (some megabytes of paths).
int RemoveOnInterrupt(const std::string& path, bool folder = false);
// Takes an entry back out: its file was renamed into place or removed by
// the main code. -1 does nothing.
void KeepOnInterrupt(int slot);
// Between these two an interrupt waits, to be carried out at the release:
// a file or folder is created and entered above as one step, so that an
// interrupt never finds it created but not yet entered. Holding also sets
// up the handling of interrupts, as RemoveOnInterrupt does. Not nested.
void HoldInterrupts();
void ReleaseInterrupts();

// ---- The terminal -----------------------------------------------------------------------------

// Whether standard error is a terminal (a console), and its width in
// columns (80 when it cannot be told).
bool ErrorIsTerminal();
std::size_t TerminalColumns();
