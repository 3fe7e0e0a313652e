#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

int Fail(const std::string& subject, const std::string& problem) {
    std::cerr << "glimmer-pack: " << subject << ": " << problem << "\n";
    return kExitFailed;
}

int UsageError(const std::string& problem) {
    std::cerr << "glimmer-pack: " << problem << "\n"
              << "Try 'glimmer-pack --help' for more information.\n";
    return kExitUsage;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* problem) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *problem = std::string("cannot open: ") + (errno ? std::strerror(errno) : "unknown error");
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        *problem = "read error";
        return false;
    }
    *bytes = content.str();
    return true;
}

Progress StartProgress() {
    Progress progress;
    progress.terminal = isatty(STDERR_FILENO) == 1;
    progress.start = std::chrono::steady_clock::now();
    return progress;
}

void ShowProgress(Progress& progress, const std::string& text, std::uint64_t stepBytes) {
    // Packing or decoding runs at a few MB a second at worst.
    constexpr std::uint64_t kSlowStep = 4u << 20;
    if (!progress.terminal) return;
    if (!progress.shown && stepBytes < kSlowStep &&
        std::chrono::steady_clock::now() - progress.start < std::chrono::seconds(1))
        return;
    progress.shown = true;
    std::cerr << "\r\x1b[K" << text << std::flush;
}

void EndProgress(Progress& progress) {
    if (progress.shown) std::cerr << "\r\x1b[K" << std::flush;
    progress.shown = false;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}
