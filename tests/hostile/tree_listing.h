// Listings of a folder tree, to prove what a run wrote: every folder, file
// and link under a root with the file's size and a hash of its bytes.
#pragma once

#include <map>
#include <string>
#include <vector>

// Path relative to the root ('/'-separated) -> "folder", "link -> target"
// or "file <size> <hash>".
using TreeListing = std::map<std::string, std::string>;

TreeListing ListTree(const std::string& root);

// The listing's entry for a file holding `bytes`.
std::string FileEntry(const std::string& bytes);

// Paths added, changed or removed between two listings, each with a mark:
// "+ path", "~ path" or "- path".
std::vector<std::string> TreeChanges(const TreeListing& before, const TreeListing& after);

// The changes that lie outside the allowed places: `allowedFiles` are
// relative paths that may be written, `allowedFolders` relative folders
// under which anything may be written (the folder itself included), and
// `allowedLevels` folders that may be created but hold nothing new of their
// own besides what the other rules allow. Every path is compared without
// regard to letter case, as Windows does.
std::vector<std::string> ChangesOutside(const TreeListing& before, const TreeListing& after,
                                        const std::vector<std::string>& allowedFiles,
                                        const std::vector<std::string>& allowedFolders,
                                        const std::vector<std::string>& allowedLevels);
