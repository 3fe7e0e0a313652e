// The package file: every build option in a small TOML file kept in the
// author's repository, for instance
//
//   title = "Aurora Boreale"
//   stub = "stub.exe"
//   output = "Aurora Boreale.exe"
//   license = "license.txt"
//   base = 1                  # number of the first media file
//   kind = "blank"            # or "zero", "underscore"
//   coding = "smaller"        # or "store", "pack"
//
//   [files]
//   saver = "aurora.scr"
//   data = "aurora.dat"
//   uninstaller = "uninstal.exe"
//   media = ["chime.wav"]
//
// or, in place of [files], a [slideshow] table of pictures and music
// (slideshow.h).
//
// Every key may be left out (the command line gives it then). Relative
// paths are taken from the package file's own folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package_format.h"
#include "slideshow.h"

// Build options; "" where not given.
struct PackageOptions {
    std::string output, stub, title, saver, data, uninstaller, license;
    std::vector<std::string> media;
    bool mediaGiven = false;
    std::uint16_t base = 1;
    std::uint8_t kind = ' ';
    PackChoice choice = PackChoice::Smaller;
    SlideshowOptions slideshow;
};

// The kind byte that "blank", "zero" or "underscore" names; false for
// another name.
bool KindFromName(const std::string& name, std::uint8_t* kind);

// Reads the package file at `path` into `options`. Returns "" or the
// problem, led by "FILE:LINE:COLUMN: " where the file shows it.
std::string ReadPackageFile(const std::string& path, PackageOptions* options);
