// Writes the hostile corpus into a folder, one installer file per case
// (<name>.exe), and an index of the cases:
//
//   make_hostile_corpus DIR [NAME...]
//
// index.tsv holds one line per case written: name, group, what the installer
// does with it (Damaged, BadName, TooLong, Installs) and whether glimmer-pack
// verify refuses it (1 or 0), separated by tabs. With names, only those
// cases are written; an unknown name is an error.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "hostile/hostile_corpus.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_hostile_corpus DIR [NAME...]\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::set<std::string> wanted(argv + 2, argv + argc);
    const bool all = wanted.empty();
    std::filesystem::create_directories(folder);
    std::ofstream index(folder + "/index.tsv", std::ios::trunc);
    std::size_t written = 0;
    for (const HostileCase& c : MakeHostileCorpus()) {
        if (!all && !wanted.erase(c.name)) continue;
        WriteBytesFile(c.bytes, folder + "/" + c.name + ".exe");
        index << c.name << '\t' << c.group << '\t' << VerdictName(c.stub) << '\t' << (c.verifyRefuses ? 1 : 0)
              << '\n';
        ++written;
    }
    for (const std::string& name : wanted) std::fprintf(stderr, "make_hostile_corpus: no case named %s\n", name.c_str());
    if (!index || !wanted.empty()) return 1;
    std::printf("%zu cases written to %s\n", written, folder.c_str());
    return 0;
}
