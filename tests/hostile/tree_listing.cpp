#include "hostile/tree_listing.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool Under(const std::string& path, const std::string& folder) {
    std::string p = Lower(path), f = Lower(folder);
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/');
}

bool Allowed(const std::string& path, const std::string& entry, const std::vector<std::string>& files,
             const std::vector<std::string>& folders, const std::vector<std::string>& levels) {
    for (const std::string& f : files)
        if (Lower(path) == Lower(f) && entry.rfind("file ", 0) == 0) return true;
    for (const std::string& f : folders)
        if (Under(path, f)) return true;
    for (const std::string& l : levels)
        if (Lower(path) == Lower(l) && entry == "folder") return true;
    return false;
}

}  // namespace

std::string FileEntry(const std::string& bytes) {
    return "file " + std::to_string(bytes.size()) + " " + std::to_string(Fnv1a(bytes));
}

TreeListing ListTree(const std::string& root) {
    TreeListing out;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        std::string relative = fs::relative(path, root).generic_string();
        fs::file_status status = fs::symlink_status(path);
        if (fs::is_symlink(status)) {
            out[relative] = "link -> " + fs::read_symlink(path).generic_string();
            it.disable_recursion_pending();
        } else if (fs::is_directory(status)) {
            out[relative] = "folder";
        } else {
            std::ifstream in(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            out[relative] = FileEntry(bytes);
        }
    }
    return out;
}

std::vector<std::string> TreeChanges(const TreeListing& before, const TreeListing& after) {
    std::vector<std::string> changes;
    for (const auto& [path, entry] : after) {
        auto was = before.find(path);
        if (was == before.end())
            changes.push_back("+ " + path);
        else if (was->second != entry)
            changes.push_back("~ " + path);
    }
    for (const auto& [path, entry] : before)
        if (!after.count(path)) changes.push_back("- " + path);
    return changes;
}

std::vector<std::string> ChangesOutside(const TreeListing& before, const TreeListing& after,
                                        const std::vector<std::string>& allowedFiles,
                                        const std::vector<std::string>& allowedFolders,
                                        const std::vector<std::string>& allowedLevels) {
    std::vector<std::string> outside;
    for (const std::string& change : TreeChanges(before, after)) {
        const std::string path = change.substr(2);
        auto now = after.find(path);
        const std::string entry = now == after.end() ? "" : now->second;
        // A removal is never allowed: the installer only adds and replaces.
        if (change[0] == '-' || !Allowed(path, entry, allowedFiles, allowedFolders, allowedLevels))
            outside.push_back(change);
    }
    return outside;
}
