// Helpers shared by glimmer-pack's commands: exit codes, error reporting,
// whole-file reads, the progress line and JSON text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// "glimmer-pack: <subject>: <problem>" on stderr; returns kExitFailed.
int Fail(const std::string& subject, const std::string& problem);

// "glimmer-pack: <problem>" and a hint to --help on stderr; returns kExitUsage.
int UsageError(const std::string& problem);

// Reads a whole file. On failure returns false with the reason in *problem.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* problem);

// A progress line on stderr, shown only when stderr is a terminal and the
// work has already taken more than a second or the step about to start is
// large enough to take that long by itself; rewritten in place.
struct Progress {
    bool terminal = false;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
};
Progress StartProgress();
void ShowProgress(Progress& progress, const std::string& text, std::uint64_t stepBytes = 0);
void EndProgress(Progress& progress);

// `text` (UTF-8) as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
