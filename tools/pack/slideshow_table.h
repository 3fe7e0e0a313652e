// Reading the package file's [slideshow] table (see slideshow.h), apart
// from slideshow.h so that only the package file's reader sees the TOML
// parser.
#pragma once

#include <string>
#include <toml++/toml.h>

#include "slideshow.h"

// Reads the [slideshow] table of the package file `path` into `options`.
// `folder` is the file's folder, which relative paths are taken from.
// Returns "" or the problem, led by "FILE:LINE:COLUMN: ".
std::string ReadSlideshowTable(const std::string& path, const std::string& folder, const toml::table& table,
                               SlideshowOptions* options);

// The package file reader's own helpers, shared with the table's reader:
// "FILE:LINE:COLUMN: " for a place in the file; a path from the file taken
// from the file's folder; a string value, "" or the problem.
std::string Where(const std::string& path, const toml::source_region& source);
std::string FromFolder(const std::string& folder, const std::string& path);
std::string TakeString(const std::string& path, const std::string& key, const toml::node& node, std::string* out);
