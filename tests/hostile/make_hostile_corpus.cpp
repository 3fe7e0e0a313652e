// Writes the hostile corpus into a folder, one installer file per case,
// and an index of the cases:
//
//   make_hostile_corpus [--stub STUB.exe] [--prefix TEXT] DIR [NAME...]
//
// Each case is written as DIR/<TEXT><name>.exe, built on STUB.exe (a real
// stub for runs of the real program; the test stub by default).
// <TEXT>index.tsv holds one line per case written: name, group, what the installer does with
// it (Damaged, BadName, TooLong, Installs) and whether glimmer-pack verify
// refuses it (1 or 0), separated by tabs. With names, only those cases are
// written; an unknown name is an error.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "hostile/hostile_corpus.h"

int main(int argc, char** argv) {
    std::string stub = MakeTestStub();
    std::string prefix;
    int at = 1;
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        if (std::strcmp(argv[at], "--stub") == 0) {
            stub = ReadBytesFile(argv[at + 1]);
        } else if (std::strcmp(argv[at], "--prefix") == 0) {
            prefix = argv[at + 1];
        } else {
            break;
        }
    }
    if (at >= argc || argv[at][0] == '-') {
        std::fprintf(stderr, "usage: make_hostile_corpus [--stub STUB.exe] [--prefix TEXT] DIR [NAME...]\n");
        return 2;
    }
    const std::string folder = argv[at];
    std::set<std::string> wanted(argv + at + 1, argv + argc);
    const bool all = wanted.empty();
    std::filesystem::create_directories(folder);
    std::ofstream index(folder + "/" + prefix + "index.tsv", std::ios::trunc);
    std::size_t written = 0;
    for (const HostileCase& c : MakeHostileCorpus(stub)) {
        if (!all && !wanted.erase(c.name)) continue;
        WriteBytesFile(c.bytes, folder + "/" + prefix + c.name + ".exe");
        index << c.name << '\t' << c.group << '\t' << VerdictName(c.stub) << '\t' << (c.verifyRefuses ? 1 : 0)
              << '\n';
        ++written;
    }
    for (const std::string& name : wanted) std::fprintf(stderr, "make_hostile_corpus: no case named %s\n", name.c_str());
    if (!index || !wanted.empty()) return 1;
    std::printf("%zu cases written to %s\n", written, folder.c_str());
    return 0;
}
