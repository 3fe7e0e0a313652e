#include "package_file.h"

#include <toml++/toml.h>

#include "cli.h"
#include "slideshow_table.h"
#include "tool_files.h"

std::string Where(const std::string& path, const toml::source_region& source) {
    return path + ":" + std::to_string(source.begin.line) + ":" + std::to_string(source.begin.column) + ": ";
}

// A path from the file, made relative to the file's folder.
std::string FromFolder(const std::string& folder, const std::string& path) {
    if (path.empty() || IsAbsolutePath(path) || folder.empty()) return path;
    return folder + "/" + path;
}

// Reads a string value; "" or the problem.
std::string TakeString(const std::string& path, const std::string& key, const toml::node& node, std::string* out) {
    const toml::value<std::string>* value = node.as_string();
    if (!value) return Where(path, node.source()) + "'" + key + "' must be a string";
    if (value->get().empty()) return Where(path, node.source()) + "'" + key + "' is empty";
    *out = value->get();
    return "";
}

namespace {

std::string ReadFiles(const std::string& path, const std::string& folder, const toml::table& files,
                      PackageOptions* options) {
    for (auto&& [key, node] : files) {
        const std::string name(key.str());
        std::string* target = name == "saver" ? &options->saver
                              : name == "data" ? &options->data
                              : name == "uninstaller" ? &options->uninstaller
                              : nullptr;
        if (target) {
            std::string problem = TakeString(path, "files." + name, node, target);
            if (!problem.empty()) return problem;
            *target = FromFolder(folder, *target);
        } else if (name == "media") {
            const toml::array* list = node.as_array();
            if (!list) return Where(path, node.source()) + "'files.media' must be a list of paths";
            options->media.clear();
            options->mediaGiven = true;
            for (const toml::node& item : *list) {
                std::string media;
                std::string problem = TakeString(path, "files.media", item, &media);
                if (!problem.empty()) return problem;
                options->media.push_back(FromFolder(folder, media));
            }
        } else {
            return Where(path, key.source()) + "unknown key 'files." + name +
                   "' (saver, data, uninstaller and media are known)";
        }
    }
    return "";
}

}  // namespace

bool KindFromName(const std::string& name, std::uint8_t* kind) {
    if (name == "blank") *kind = ' ';
    else if (name == "zero") *kind = 0;
    else if (name == "underscore") *kind = '_';
    else return false;
    return true;
}

std::string ReadPackageFile(const std::string& path, PackageOptions* options) {
    // Read here, not by the parser, so that the file is opened as the
    // tool opens every file (by a UTF-16 name on Windows).
    std::string text, problem;
    if (!ReadWholeFile(path, &text, &problem)) return path + ": " + problem;
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        return Where(path, e.source()) + std::string(e.description());
    }
    std::size_t slash = path.find_last_of(kPathSeparators);
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);

    for (auto&& [key, node] : table) {
        const std::string name(key.str());
        std::string* text = name == "title" ? &options->title
                            : name == "output" ? &options->output
                            : name == "stub" ? &options->stub
                            : name == "license" ? &options->license
                            : nullptr;
        std::string problem;
        if (text) {
            problem = TakeString(path, name, node, text);
            if (problem.empty() && name != "title") *text = FromFolder(folder, *text);
        } else if (name == "base") {
            const toml::value<std::int64_t>* value = node.as_integer();
            if (!value || value->get() < 0 || value->get() > 65535)
                problem = Where(path, node.source()) + "'base' must be a number from 0 to 65535";
            else
                options->base = static_cast<std::uint16_t>(value->get());
        } else if (name == "kind") {
            std::string kind;
            problem = TakeString(path, name, node, &kind);
            if (problem.empty() && !KindFromName(kind, &options->kind))
                problem = Where(path, node.source()) + "'kind' is \"blank\", \"zero\" or \"underscore\"";
        } else if (name == "coding") {
            std::string coding;
            problem = TakeString(path, name, node, &coding);
            if (problem.empty()) {
                if (coding == "smaller") options->choice = PackChoice::Smaller;
                else if (coding == "store") options->choice = PackChoice::Store;
                else if (coding == "pack") options->choice = PackChoice::Pack;
                else problem = Where(path, node.source()) + "'coding' is \"smaller\", \"store\" or \"pack\"";
            }
        } else if (name == "files") {
            const toml::table* files = node.as_table();
            if (!files) problem = Where(path, node.source()) + "'files' must be a table ([files])";
            else problem = ReadFiles(path, folder, *files, options);
        } else if (name == "slideshow") {
            const toml::table* show = node.as_table();
            if (!show) problem = Where(path, node.source()) + "'slideshow' must be a table ([slideshow])";
            else problem = ReadSlideshowTable(path, folder, *show, &options->slideshow);
        } else {
            problem = Where(path, key.source()) +
                      "unknown key '" + name +
                      "' (title, output, stub, license, base, kind, coding, [files] and [slideshow] are known)";
        }
        if (!problem.empty()) return problem;
    }
    return "";
}
