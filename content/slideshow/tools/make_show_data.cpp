// make-show-data: writes a slideshow data file from picture files, with the
// same writer glimmer-pack uses. The Wine tests make their data files with
// it.
//
//   make-show-data OUT --title TITLE [--seconds N] [--order given|shuffled]
//                  [--fit whole|fill] [--music on|off] PICTURE...
//
// The title is taken as bytes (code page 1252). The pictures are copied as
// they are, in the order given; nothing checks that they are pictures.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "show_data.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr,
                 "make-show-data: %s\nusage: make-show-data OUT --title TITLE [--seconds N] "
                 "[--order given|shuffled] [--fit whole|fill] [--music on|off] PICTURE...\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no output file");
    const char* out = argv[1];
    ShowSettings settings;
    std::string title;
    std::vector<std::string> pictures;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--title" && hasValue) {
            title = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            settings.seconds = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--order" && hasValue) {
            settings.order = std::strcmp(argv[++i], "shuffled") == 0 ? kOrderShuffled : kOrderGiven;
        } else if (arg == "--fit" && hasValue) {
            settings.fit = std::strcmp(argv[++i], "fill") == 0 ? kFitFill : kFitWhole;
        } else if (arg == "--music" && hasValue) {
            settings.music = std::strcmp(argv[++i], "off") != 0;
        } else if (arg.rfind("--", 0) == 0) {
            return Usage(("unknown option " + arg).c_str());
        } else {
            pictures.push_back(arg);
        }
    }

    std::vector<std::string> contents;
    std::vector<std::uint32_t> sizes;
    for (const std::string& path : pictures) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "make-show-data: cannot read %s\n", path.c_str());
            return 1;
        }
        contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        sizes.push_back(static_cast<std::uint32_t>(contents.back().size()));
    }
    std::vector<std::uint8_t> index;
    if (!WriteShowIndex(settings, title, sizes, &index)) {
        std::fprintf(stderr, "make-show-data: the settings, title or pictures break the data file's limits\n");
        return 1;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(index.data()), static_cast<std::streamsize>(index.size()));
    for (const std::string& c : contents) file.write(c.data(), static_cast<std::streamsize>(c.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make-show-data: cannot write %s\n", out);
        return 1;
    }
    return 0;
}
