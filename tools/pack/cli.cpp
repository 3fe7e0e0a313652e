#include "cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

Verbosity g_verbosity = Verbosity::Normal;

int Fail(const std::string& subject, const std::string& problem) {
    std::cerr << "glimmer-pack: " << subject << ": " << problem << "\n";
    return kExitFailed;
}

int UsageError(const std::string& command, const std::string& problem) {
    std::cerr << "glimmer-pack: " << (command.empty() ? "" : command + ": ") << problem << "\n"
              << "Try 'glimmer-pack help" << (command.empty() ? "" : " " + command) << "' for more information.\n";
    return kExitUsage;
}

void Warn(const std::string& subject, const std::string& text) {
    if (g_verbosity != Verbosity::Quiet) std::cerr << "glimmer-pack: warning: " << subject << ": " << text << "\n";
}

void Detail(const std::string& text) {
    if (g_verbosity == Verbosity::Verbose) std::cout << text << "\n";
}

void Summary(const std::string& text) {
    if (g_verbosity != Verbosity::Quiet) std::cout << text << "\n";
}

void AddVerbosity(CLI::App& app, bool* quiet, bool* verbose) {
    // "/q" is a path on every system, never an option.
    app.allow_windows_style_options(false);
    CLI::Option* q = app.add_flag("-q,--quiet", *quiet, "errors only");
    app.add_flag("-v,--verbose", *verbose, "tell what is done to each file")->excludes(q);
}

int ParseArguments(CLI::App& app, const std::string& command, const char* help,
                   const std::vector<std::string>& args) {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << help;
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        std::string problem = e.what();
        // The parser's words for a single option given twice.
        const std::string twice = ": At Most 1 required but received ";
        std::size_t at = problem.find(twice);
        if (at != std::string::npos) problem = problem.substr(0, at) + " is given more than once; it takes one value";
        return UsageError(command, problem);
    }
    return kGoOn;
}

std::string CheckInputFile(const std::string& path, InputFile* file) {
    // Opened first, so that the checks are made on the file that is read.
    ToolFile in = OpenToRead(path);
    if (in == kNoToolFile) return SystemProblem();
    FileFacts facts;
    std::string problem;
    if (!FactsOf(in, &facts)) {
        problem = SystemProblem();
    } else if (facts.kind == FileKind::Folder) {
        problem = std::strerror(EISDIR);
    } else if (facts.kind != FileKind::Regular) {
        problem = "not a regular file (a device, a pipe or a socket)";
    } else {
        file->path = path;
        file->volume = facts.volume;
        file->index = facts.index;
        file->size = facts.size;
        // A directory opens for reading too; a read tells the rest.
        char probe;
        if (ReadSome(in, &probe, facts.size > 0 ? 1 : 0) < 0) problem = SystemProblem();
    }
    CloseFile(in);
    return problem;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* problem) {
    ToolFile in = OpenToRead(path);
    if (in == kNoToolFile) {
        *problem = "cannot open: " + SystemProblem();
        return false;
    }
    FileFacts facts;
    bytes->clear();
    if (FactsOf(in, &facts) && facts.size > 0) bytes->reserve(static_cast<std::size_t>(facts.size));
    char buffer[65536];
    for (;;) {
        std::int64_t n = ReadSome(in, buffer, sizeof buffer);
        if (n < 0) {
            *problem = "read error: " + SystemProblem();
            CloseFile(in);
            return false;
        }
        if (n == 0) break;
        bytes->append(buffer, static_cast<std::size_t>(n));
    }
    CloseFile(in);
    return true;
}

std::string FormatBytes(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1000) std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1000000) std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
    else if (bytes < 1000000000) std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    else std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
    return text;
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::size_t Characters(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

namespace {

// The first `width` characters of UTF-8 text.
std::string CutToWidth(const std::string& utf8, std::size_t width) {
    std::size_t n = 0, i = 0;
    for (; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            if (n == width) break;
            ++n;
        }
    }
    return utf8.substr(0, i);
}

void Draw(Progress& p) {
    char figures[64];
    double seconds = Elapsed(p);
    double percent = p.total ? 100.0 * static_cast<double>(p.done) / static_cast<double>(p.total) : 100.0;
    std::snprintf(figures, sizeof figures, "  %3.0f%%  %s/s", std::min(percent, 100.0),
                  FormatBytes(seconds > 0 ? static_cast<std::uint64_t>(p.done / seconds) : 0).c_str());
    // Control characters of a file name would move the cursor.
    std::string file;
    for (char c : p.file) file += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    std::string line = p.phase + " " + file;
    std::size_t width = TerminalColumns() - 1;  // the last column would wrap on some terminals
    std::size_t room = width > std::strlen(figures) ? width - std::strlen(figures) : 0;
    if (Characters(line) > room) line = CutToWidth(line, room);
    std::cerr << "\r\x1b[K" << line << figures << std::flush;
    p.shown = true;
    p.lastDrawn = std::chrono::steady_clock::now();
}

void MaybeDraw(Progress& p) {
    if (!p.terminal) return;
    auto now = std::chrono::steady_clock::now();
    // Work that ends within half a second shows no line at all.
    if (now - p.start < std::chrono::milliseconds(500)) return;
    if (p.shown && now - p.lastDrawn < std::chrono::milliseconds(200)) return;
    Draw(p);
}

}  // namespace

Progress StartProgress(std::uint64_t totalBytes) {
    Progress progress;
    progress.terminal = g_verbosity != Verbosity::Quiet && ErrorIsTerminal();
    progress.start = std::chrono::steady_clock::now();
    progress.total = totalBytes;
    return progress;
}

void ProgressFile(Progress& progress, const std::string& phase, const std::string& file, bool blocking) {
    progress.phase = phase;
    progress.file = file;
    if (progress.terminal && (progress.shown || blocking)) Draw(progress);  // a new file is shown at once
    else MaybeDraw(progress);
}

void ProgressAdvance(Progress& progress, std::uint64_t bytes) {
    progress.done += bytes;
    MaybeDraw(progress);
}

void EndProgress(Progress& progress) {
    if (progress.shown) std::cerr << "\r\x1b[K" << std::flush;
    progress.shown = false;
}

double Elapsed(const Progress& progress) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
}
