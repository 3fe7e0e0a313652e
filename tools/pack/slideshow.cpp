#include "slideshow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "slideshow_table.h"
#include "tool_files.h"

namespace {

// The largest picture file read: far beyond any photo (a picture at the
// pixel limit, stored as an uncompressed BMP, is 256 MB).
constexpr std::uint64_t kMaxPictureFileSize = std::uint64_t(1) << 29;

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool HasExtensionFrom(const std::string& name, const char* const* first, const char* const* last) {
    const std::size_t dot = name.find_last_of('.');
    const std::size_t separator = name.find_last_of(kPathSeparators);
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return false;
    const std::string extension = Lower(name.substr(dot));
    return std::any_of(first, last, [&](const char* known) { return extension == known; });
}

std::string NameOf(const std::string& path) {
    const std::size_t separator = path.find_last_of(kPathSeparators);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder + (std::string(kPathSeparators).find(folder.back()) == std::string::npos ? "/" : "") + name;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

std::string ListOf(const char* const* first, const char* const* last) {
    std::string list;
    for (const char* const* at = first; at != last; ++at)
        list += std::string(at == first ? "" : at + 1 == last ? " or " : ", ") + *at;
    return list;
}

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches a bracket set at pattern[p] (just past "[") against `c`; moves p
// past the closing "]". False in *valid when the set is not closed, in
// which case "[" stands for itself.
bool InSet(const std::string& pattern, std::size_t* p, char c, bool* valid) {
    std::size_t at = *p;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated) ++at;
    bool found = false, first = true;
    while (at < pattern.size() && (pattern[at] != ']' || first)) {
        first = false;
        char low = Folded(pattern[at]);
        char high = low;
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            high = Folded(pattern[at + 2]);
            at += 2;
        }
        const char folded = Folded(c);
        if (static_cast<unsigned char>(low) <= static_cast<unsigned char>(folded) &&
            static_cast<unsigned char>(folded) <= static_cast<unsigned char>(high))
            found = true;
        ++at;
    }
    *valid = at < pattern.size();
    if (!*valid) return false;
    *p = at + 1;
    return found != negated;
}

bool MatchFrom(const std::string& pattern, std::size_t p, const std::string& name, std::size_t n) {
    while (p < pattern.size()) {
        const char w = pattern[p];
        if (w == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            for (std::size_t from = n; from <= name.size(); ++from)
                if (MatchFrom(pattern, p, name, from)) return true;
            return false;
        }
        if (n == name.size()) return false;
        if (w == '?') {
            ++p;
        } else if (w == '[') {
            std::size_t after = p + 1;
            bool valid = false;
            const bool in = InSet(pattern, &after, name[n], &valid);
            if (valid) {
                if (!in) return false;
                p = after;
            } else {
                if (name[n] != '[') return false;
                ++p;
            }
        } else {
            if (Folded(w) != Folded(name[n])) return false;
            ++p;
        }
        ++n;
    }
    return n == name.size();
}

// The files one entry of `pictures` stands for, in order; "" or why none.
std::string ExpandEntry(const std::string& path, std::vector<std::string>* files) {
    FileFacts facts;
    if (!LookAt(path, true, &facts)) return "'" + path + "': " + SystemProblem();
    if (facts.kind != FileKind::Missing && facts.kind != FileKind::Folder) {
        files->push_back(path);  // a file named, or something the file check refuses
        return "";
    }
    const std::string folder = facts.kind == FileKind::Folder ? path : FolderOf(path);
    const std::string pattern = facts.kind == FileKind::Folder ? "" : NameOf(path);
    if (facts.kind == FileKind::Missing) {
        if (!HasWildcard(pattern)) return "'" + path + "': " + std::strerror(ENOENT);
        if (HasWildcard(folder)) return "'" + path + "': a pattern may stand in the last part of a path only";
    }
    std::vector<std::string> names;
    if (!ListFolder(folder.empty() ? "." : folder, &names)) return "'" + folder + "': " + SystemProblem();
    std::vector<std::string> chosen;
    for (const std::string& name : names) {
        if (pattern.empty() ? name[0] == '.' || !HasPictureExtension(name) : !MatchesPattern(pattern, name)) continue;
        FileFacts found;
        if (LookAt(Joined(folder, name), true, &found) && found.kind == FileKind::Regular) chosen.push_back(name);
    }
    if (chosen.empty())
        return "'" + path + "' " +
               (pattern.empty() ? "holds no picture (" + ListOf(std::begin(kPictureExtensions), std::end(kPictureExtensions)) + ")"
                                : "matches no file");
    std::sort(chosen.begin(), chosen.end(), NameBefore);
    for (const std::string& name : chosen) files->push_back(Joined(folder, name));
    return "";
}

}  // namespace

std::string ReadSlideshowTable(const std::string& path, const std::string& folder, const toml::table& table,
                               SlideshowOptions* options) {
    options->given = true;
    bool pictures = false;
    for (auto&& [key, node] : table) {
        const std::string name(key.str());
        const std::string full = "slideshow." + name;
        if (name == "pictures" || name == "music") {
            const toml::array* list = node.as_array();
            if (!list) return Where(path, node.source()) + "'" + full + "' must be a list of paths";
            std::vector<PlacedPath>& target = name == "pictures" ? options->pictures : options->music;
            target.clear();
            for (const toml::node& item : *list) {
                std::string text;
                std::string problem = TakeString(path, full, item, &text);
                if (!problem.empty()) return problem;
                std::string where = Where(path, item.source());
                target.push_back({FromFolder(folder, text), where.substr(0, where.size() - 2)});
            }
            if (name == "pictures") {
                if (target.empty()) return Where(path, node.source()) + "'slideshow.pictures' names no picture";
                pictures = true;
            }
        } else if (name == "seconds") {
            const toml::value<std::int64_t>* value = node.as_integer();
            if (!value || value->get() < std::int64_t{kMinSeconds} || value->get() > std::int64_t{kMaxSeconds})
                return Where(path, node.source()) + "'slideshow.seconds' must be a number from " +
                       std::to_string(kMinSeconds) + " to " + std::to_string(kMaxSeconds);
            options->settings.seconds = static_cast<unsigned>(value->get());
        } else if (name == "order" || name == "fit" || name == "max_size") {
            std::string text;
            std::string problem = TakeString(path, full, node, &text);
            if (!problem.empty()) return problem;
            if (name == "order" && (text == "given" || text == "shuffled"))
                options->settings.order = text == "given" ? kOrderGiven : kOrderShuffled;
            else if (name == "fit" && (text == "fit" || text == "fill"))
                options->settings.fit = text == "fit" ? kFitWhole : kFitFill;
            else if (name == "max_size" && ParsePictureLimit(text, &options->limit))
                ;
            else
                return Where(path, node.source()) + "'" + full + "' is " +
                       (name == "order" ? "\"given\" or \"shuffled\""
                        : name == "fit" ? "\"fit\" (the whole picture on black) or \"fill\" (the screen covered)"
                                        : "\"WIDTHxHEIGHT\" (for example \"3840x2160\", each side 1 to " +
                                              std::to_string(kMaxPictureSide) + ") or \"off\"");
        } else {
            return Where(path, key.source()) + "unknown key '" + full +
                   "' (pictures, seconds, order, fit, music and max_size are known)";
        }
    }
    if (!pictures) return Where(path, table.source()) + "'slideshow.pictures' is missing: a slideshow needs pictures";
    return "";
}

bool HasPictureExtension(const std::string& name) {
    return HasExtensionFrom(name, std::begin(kPictureExtensions), std::end(kPictureExtensions));
}

bool HasMusicExtension(const std::string& name) {
    return HasExtensionFrom(name, std::begin(kMusicExtensions), std::end(kMusicExtensions));
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    if (!name.empty() && name[0] == '.' && (pattern.empty() || pattern[0] != '.')) return false;
    return MatchFrom(pattern, 0, name, 0);
}

bool NameBefore(const std::string& a, const std::string& b) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && digit(a[endA])) ++endA;
            while (endB < b.size() && digit(b[endB])) ++endB;
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            if (endA - startA != endB - startB) return endA - startA < endB - startB;
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        const unsigned char x = static_cast<unsigned char>(Folded(a[i])), y = static_cast<unsigned char>(Folded(b[j]));
        if (x != y) return x < y;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;  // equal but for case or leading zeros: still one order
}

std::string ShippedBesideStub(const std::string& stub, const char* name) { return FolderOf(stub) + name; }

std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of(kPathSeparators);
    return separator == std::string::npos ? "" : path.substr(0, separator + 1);
}

int ExpandAndCheckPictures(const SlideshowOptions& options, std::vector<SlidePicture>* pictures,
                           const FaultReport& fault) {
    int faults = 0;
    auto refuse = [&](const std::string& subject, const std::string& problem) {
        fault(subject, problem);
        ++faults;
    };
    std::vector<std::string> paths;
    for (const PlacedPath& entry : options.pictures) {
        std::string problem = ExpandEntry(entry.path, &paths);
        if (!problem.empty()) refuse(entry.where, problem);
    }
    // Each file once, by identity, whatever names lead to it.
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    std::uint64_t total = 0;
    pictures->clear();
    for (const std::string& path : paths) {
        SlidePicture picture;
        std::string problem = CheckInputFile(path, &picture.file);
        if (problem.empty() && picture.file.size == 0) problem = "empty file";
        if (problem.empty() && picture.file.size > kMaxPictureFileSize)
            problem = "too large a file for a picture (512 MB or more)";
        if (!problem.empty()) {
            refuse(path, problem);
            continue;
        }
        if (!seen.insert({picture.file.volume, picture.file.index}).second) continue;
        total += picture.file.size;
        pictures->push_back(picture);
    }
    if (pictures->size() > kMaxPictures)
        refuse("[slideshow] pictures", std::to_string(pictures->size()) + " pictures; a slideshow holds at most " +
                                           std::to_string(kMaxPictures));

    // Every picture decoded once, so that none is found wanting after the
    // package is made.
    Progress progress = StartProgress(total);
    for (SlidePicture& picture : *pictures) {
        // A large picture takes a while to decode: named at once.
        ProgressFile(progress, "checking", NameOf(picture.file.path), picture.file.size >= (std::uint64_t(4) << 20));
        std::string bytes, problem;
        if (!ReadWholeFile(picture.file.path, &bytes, &problem)) {
            EndProgress(progress);
            refuse(picture.file.path, problem);
            continue;
        }
        problem = CheckPicture(bytes, &picture.facts);
        ProgressAdvance(progress, picture.file.size);
        if (!problem.empty()) {
            EndProgress(progress);
            refuse(picture.file.path, problem);
            continue;
        }
        ScaledSize(picture.facts.width, picture.facts.height, options.limit, options.settings.fit, &picture.width,
                   &picture.height);
    }
    EndProgress(progress);
    return faults;
}

int CheckMusic(const SlideshowOptions& options, const FaultReport& fault) {
    int faults = 0;
    for (const PlacedPath& music : options.music) {
        if (HasMusicExtension(NameOf(music.path))) continue;
        fault(music.path, "not a kind of sound the Windows multimedia layer plays on every Windows (" +
                              ListOf(std::begin(kMusicExtensions), std::end(kMusicExtensions)) + ")");
        ++faults;
    }
    return faults;
}

std::string WriteShowData(const std::vector<SlidePicture>& pictures, const ShowSettings& settings,
                          const std::string& title, ToolFile out, const std::string& outName, std::uint64_t* size) {
    // The pictures' bytes go after room for the index, which is written last,
    // once every picture's size is known.
    const std::uint64_t room = kShowHeaderSize + title.size() + kShowRowSize * pictures.size();
    const std::string zeros(static_cast<std::size_t>(room), '\0');
    if (!WriteAll(out, zeros.data(), zeros.size())) return "cannot write " + outName + ": " + SystemProblem();
    std::uint64_t total = room, in = 0;
    for (const SlidePicture& picture : pictures) in += picture.file.size;
    std::vector<std::uint32_t> sizes;
    Progress progress = StartProgress(in);
    for (const SlidePicture& picture : pictures) {
        const bool scaled = picture.width != picture.facts.width || picture.height != picture.facts.height;
        ProgressFile(progress, scaled ? "scaling" : "adding", NameOf(picture.file.path), scaled);
        std::string bytes, problem;
        if (!ReadWholeFile(picture.file.path, &bytes, &problem)) {
            EndProgress(progress);
            return picture.file.path + ": " + problem;
        }
        if (bytes.size() != picture.file.size) {
            EndProgress(progress);
            return picture.file.path + ": the file changed after it was checked";
        }
        if (scaled) {
            std::string smaller;
            problem = ScalePicture(bytes, picture.width, picture.height, &smaller);
            if (!problem.empty()) {
                EndProgress(progress);
                return picture.file.path + ": " + problem;
            }
            Detail("picture " + picture.file.path + ": " + std::to_string(picture.facts.width) + "x" +
                   std::to_string(picture.facts.height) + " scaled to " + std::to_string(picture.width) + "x" +
                   std::to_string(picture.height) + ", " + FormatBytes(bytes.size()) + " -> " +
                   FormatBytes(smaller.size()));
            bytes.swap(smaller);
        }
        total += bytes.size();
        if (total >= kShowFileLimit) {
            EndProgress(progress);
            return "the pictures come to 2 GB or more, more than a package can carry";
        }
        if (!WriteAll(out, bytes.data(), bytes.size())) {
            EndProgress(progress);
            return "cannot write " + outName + ": " + SystemProblem();
        }
        sizes.push_back(static_cast<std::uint32_t>(bytes.size()));
        ProgressAdvance(progress, picture.file.size);
    }
    EndProgress(progress);
    std::vector<std::uint8_t> index;
    if (!WriteShowIndex(settings, title, sizes, &index) || index.size() != room)
        return "the slideshow's data file cannot hold these pictures and this title";
    if (!WriteAt(out, 0, index.data(), index.size())) return "cannot write " + outName + ": " + SystemProblem();
    *size = total;
    return "";
}
