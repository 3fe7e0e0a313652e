// glimmer-pack new: a package file for a folder of pictures and music, so
// that an author's first package needs nothing but the folder. The file
// names each picture and music file the folder holds (in the order
// NameBefore gives), the license text when there is a license.txt, and
// every slideshow setting at its default, for the author to edit.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "slideshow.h"
#include "tool_files.h"

const char* const kNewHelp =
    "Usage: glimmer-pack new FOLDER [-o FILE.toml] [--overwrite] [-q | -v]\n"
    "\n"
    "Writes a package file for a slideshow of the pictures (.jpg, .jpeg, .png, .gif,\n"
    ".bmp) and the music (.wav, .mid, .midi, .rmi, .mp3, .wma, .aif, .aiff, .aifc,\n"
    "  .au, .snd) in FOLDER, in name order (2 before 10); the title is the folder's\n"
    "name, and a license.txt in the folder is the license text. Build the package\n"
    "with 'glimmer-pack build FILE.toml'.\n"
    "\n"
    "  -o FILE.toml   the package file to write (default: FOLDER/slideshow.toml);\n"
    "                 its paths are relative to its own folder\n"
    "  --overwrite    replace an existing FILE.toml (without it, one is refused)\n"
    "  -q, --quiet    errors only\n"
    "  -v, --verbose  name every file found\n";

namespace {

bool IsSeparator(char c) { return std::string(kPathSeparators).find(c) != std::string::npos; }

// A path split into its root ("/", "C:/", "" for a relative one) and its
// parts, "." and ".." resolved where they can be.
struct PathParts {
    std::string root;
    std::vector<std::string> parts;
};

PathParts Split(const std::string& path) {
    PathParts split;
    std::size_t at = 0;
    if (path.size() >= 2 && path[1] == ':' && std::string(kPathSeparators).size() > 1) {
        split.root = path.substr(0, 2);
        at = 2;
    }
    if (at < path.size() && IsSeparator(path[at])) split.root += "/";
    while (at < path.size()) {
        while (at < path.size() && IsSeparator(path[at])) ++at;
        std::size_t end = at;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        const std::string part = path.substr(at, end - at);
        if (part.empty() || part == ".") {
        } else if (part == ".." && !split.parts.empty() && split.parts.back() != "..") {
            split.parts.pop_back();
        } else if (!(part == ".." && !split.root.empty())) {
            split.parts.push_back(part);
        }
        at = end;
    }
    return split;
}

// `path` made independent of the current folder, and split.
PathParts Absolute(const std::string& path) {
    if (IsAbsolutePath(path)) return Split(path);
    const std::string here = CurrentFolder();
    return Split(here.empty() ? path : here + "/" + path);
}

// How to name `to` (a folder) from the folder `from`: "" when they are the
// same, else a relative path ending in "/", or an absolute one when they
// share no root.
std::string Between(const std::string& from, const std::string& to) {
    const PathParts a = Absolute(from.empty() ? "." : from), b = Absolute(to.empty() ? "." : to);
    std::string way;
    if (a.root != b.root) {
        way = b.root;
        for (const std::string& part : b.parts) way += part + "/";
        return way;
    }
    std::size_t common = 0;
    while (common < a.parts.size() && common < b.parts.size() && a.parts[common] == b.parts[common]) ++common;
    for (std::size_t i = common; i < a.parts.size(); ++i) way += "../";
    for (std::size_t i = common; i < b.parts.size(); ++i) way += b.parts[i] + "/";
    return way;
}

// `text` as a TOML basic string.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string List(const std::vector<std::string>& items) {
    if (items.size() <= 1) return "[" + (items.empty() ? "" : Quoted(items[0])) + "]";
    std::string out = "[\n";
    for (const std::string& item : items) out += "    " + Quoted(item) + ",\n";
    return out + "]";
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Writes `text` as the file `path`, new, or over an existing one with
// `overwrite`: into a fresh file beside it, renamed into place (without
// `overwrite` never over a file that came meanwhile). "" or the problem.
std::string WriteNewFile(const std::string& path, const std::string& text, bool overwrite) {
    std::string folder = FolderOf(path);
    const std::string name = path.substr(folder.size());
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
    ToolFolder open;
    if (!OpenFolder(folder.empty() ? "." : folder, &open)) return "cannot open its folder: " + SystemProblem();
    std::string temporary;
    const ToolFile out = CreateTemporaryIn(open, ".glimmer-new-", &temporary);
    std::string problem;
    if (out == kNoToolFile) problem = "cannot create a file beside it: " + SystemProblem();
    if (problem.empty()) {
        // Written through the file created, never by its name.
        if (!WriteAll(out, text.data(), text.size()) || !FlushToDisk(out)) problem = "cannot write: " + SystemProblem();
        if (!CloseFile(out) && problem.empty()) problem = "cannot write: " + SystemProblem();
        if (problem.empty() && !RenameIn(open, temporary, name, overwrite)) {
            FileFacts facts;
            problem = !overwrite && LookIn(open, name, &facts) && facts.kind != FileKind::Missing
                          ? "exists already; --overwrite replaces it"
                          : "cannot rename the new file into place: " + SystemProblem();
        }
        if (!problem.empty()) RemoveIn(open, temporary);
    }
    CloseFolder(&open);
    return problem;
}

}  // namespace

int RunNew(const std::vector<std::string>& args) {
    std::string folder, output;
    bool overwrite = false, quiet = false, verbose = false;
    CLI::App app("new");
    app.add_option("FOLDER", folder);
    app.add_option("-o,--output", output);
    app.add_flag("--overwrite", overwrite);
    AddVerbosity(app, &quiet, &verbose);
    int parsed = ParseArguments(app, "new", kNewHelp, args);
    if (parsed != kGoOn) return parsed;
    g_verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
    if (folder.empty()) return UsageError("new", "missing FOLDER, the folder of pictures and music");
    const std::string suffix = ".toml";
    if (output.empty()) output = folder + (IsSeparator(folder.back()) ? "" : "/") + "slideshow.toml";
    else if (output.size() <= suffix.size() || Lowered(output.substr(output.size() - suffix.size())) != suffix)
        return UsageError("new", "-o " + output + ": a package file's name ends in .toml");

    FileFacts facts;
    if (!LookAt(folder, true, &facts)) return Fail(folder, SystemProblem());
    if (facts.kind != FileKind::Folder)
        return Fail(folder, facts.kind == FileKind::Missing ? std::strerror(ENOENT) : "not a folder");
    if (!LookAt(output, false, &facts)) return Fail(output, SystemProblem());
    if (facts.kind == FileKind::Folder) return Fail(output, "is a folder");
    if (facts.kind != FileKind::Missing && !overwrite) return Fail(output, "exists already; --overwrite replaces it");

    std::vector<std::string> names;
    if (!ListFolder(folder, &names)) return Fail(folder, SystemProblem());
    std::sort(names.begin(), names.end(), NameBefore);
    std::vector<std::string> pictures, music;
    std::string license;
    const std::string prefix = Between(FolderOf(output), folder);
    for (const std::string& name : names) {
        FileFacts file;
        if (name[0] == '.' || !LookAt(folder + "/" + name, true, &file) || file.kind != FileKind::Regular) continue;
        const bool picture = HasPictureExtension(name), sound = HasMusicExtension(name);
        const bool licence = Lowered(name) == "license.txt" && license.empty();
        if (!picture && !sound && !licence) continue;
        if (!IsValidUtf8(name)) {
            Warn(folder + "/" + name, "left out: its name is not UTF-8 text, which a package file must be");
            continue;
        }
        if (picture) pictures.push_back(prefix + name);
        else if (sound) music.push_back(prefix + name);
        else license = prefix + name;
        Detail(std::string(picture ? "picture " : sound ? "music " : "license text ") + folder + "/" + name);
    }
    if (pictures.empty())
        return Fail(folder, "holds no picture (.jpg, .jpeg, .png, .gif or .bmp)");

    const PathParts whole = Absolute(folder);
    std::string title = whole.parts.empty() ? "Slideshow" : whole.parts.back();
    std::string cp1252;
    if (!Utf8ToCp1252(title, &cp1252) || !TitleProblem(cp1252).empty())
        Warn(output, "the title '" + title + "' (the folder's name) is no valid screen saver name; edit it");

    const SlideshowOptions defaults;
    std::string text = "# A slideshow screen saver made from the folder " + Quoted(folder) + ".\n"
                       "# Build it with: glimmer-pack build " + output + "\n"
                       "title = " + Quoted(title) + "\n"
                       "output = " + Quoted(title + ".exe") + "\n";
    if (!license.empty()) text += "license = " + Quoted(license) + "\n";
    text += "\n[slideshow]\n"
            "pictures = " + List(pictures) + "\n";
    if (!music.empty()) text += "music = " + List(music) + "\n";
    auto setting = [&](const std::string& line, const char* comment) {
        text += line + std::string(line.size() < 24 ? 24 - line.size() : 1, ' ') + "# " + comment + "\n";
    };
    setting("seconds = " + std::to_string(defaults.settings.seconds), "per picture, 1 to 3600");
    setting("order = \"given\"", "or \"shuffled\"");
    setting("fit = \"fit\"", "the whole picture on black; \"fill\" covers the screen");
    setting("max_size = \"" + std::to_string(defaults.limit.width) + "x" + std::to_string(defaults.limit.height) + "\"",
            "larger pictures are scaled down; \"off\" keeps them as they are");
    std::string problem = WriteNewFile(output, text, overwrite);
    if (!problem.empty()) return Fail(output, problem);
    auto count = [](std::size_t n, const char* one, const char* more) { return std::to_string(n) + (n == 1 ? one : more); };
    Summary("wrote " + output + ": " + count(pictures.size(), " picture, ", " pictures, ") +
            count(music.size(), " music file", " music files") + (license.empty() ? "" : ", a license text"));
    return kExitOk;
}
