// Helpers shared by glimmer-pack's commands: exit codes, how much the tool
// says, error reporting, the command-line parser's use, files checked as
// inputs and the progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_files.h"

namespace CLI {
class App;
}

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// How much the tool says: -q errors only, -v also what it did to each file.
enum class Verbosity { Quiet, Normal, Verbose };
extern Verbosity g_verbosity;

// "glimmer-pack: <subject>: <problem>" on stderr; returns kExitFailed.
int Fail(const std::string& subject, const std::string& problem);

// "glimmer-pack: <problem>" and a hint to the command's help on stderr
// (`command` may be ""); returns kExitUsage.
int UsageError(const std::string& command, const std::string& problem);

// "glimmer-pack: warning: <subject>: <text>" on stderr, unless -q.
void Warn(const std::string& subject, const std::string& text);

// A line on stdout with -v only.
void Detail(const std::string& text);

// A line on stdout, unless -q.
void Summary(const std::string& text);

// Adds -q and -v to a command's parser.
void AddVerbosity(CLI::App& app, bool* quiet, bool* verbose);

// Parses a command's arguments. Returns -1 to go on; otherwise the exit
// code: kExitOk after printing `help` for -h or --help, kExitUsage after
// naming what is wrong.
inline constexpr int kGoOn = -1;
int ParseArguments(CLI::App& app, const std::string& command, const char* help,
                   const std::vector<std::string>& args);

// A file given as an input: which file it is (FileFacts' volume and index)
// and its size.
struct InputFile {
    std::string path;
    std::uint64_t volume = 0, index = 0;
    std::uint64_t size = 0;
};

// Checks that `path` names a readable regular file. "" on success, with
// `file` filled; else the system's own words for what is wrong ("No such
// file or directory", "Is a directory", ...).
std::string CheckInputFile(const std::string& path, InputFile* file);

// Reads a whole file. On failure returns false with the reason in *problem.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* problem);

// Characters in UTF-8 text, for lining up columns and cutting lines.
std::size_t Characters(const std::string& utf8);

// Byte counts and durations for people: "1.5 MB", "0.8 s".
std::string FormatBytes(std::uint64_t bytes);
std::string FormatSeconds(double seconds);

// One line of progress on stderr, shown only when stderr is a terminal and
// -q was not given: the phase, the file, the share of all bytes done and the
// rate, cut to the terminal's width, redrawn in place at most five times a
// second, and cleared at the end.
struct Progress {
    bool terminal = false;
    bool shown = false;
    std::chrono::steady_clock::time_point start, lastDrawn;
    std::string phase, file;
    std::uint64_t done = 0, total = 0;
};
Progress StartProgress(std::uint64_t totalBytes);
// Names the file now worked on. `blocking`: the work on it reports no
// progress until it ends and may take long, so the line is drawn at once.
void ProgressFile(Progress& progress, const std::string& phase, const std::string& file, bool blocking = false);
// Counts `bytes` more done.
void ProgressAdvance(Progress& progress, std::uint64_t bytes);
void EndProgress(Progress& progress);

// Seconds since the progress started.
double Elapsed(const Progress& progress);
