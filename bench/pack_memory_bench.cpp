// Peak memory of glimmer-pack's build and extract on large inputs: the
// program is run as a child and its peak resident size read back from the
// system (wait4's ru_maxrss). Prints one row per input size:
//
//   pack_memory_bench GLIMMER_PACK [MiB ...]     (default 16 64 256)
//
// Each size is one media file of that many bytes of text-like data beside
// three small files; "stored" builds with --store, "packed" with --pack, and
// each package is then extracted.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace fs = std::filesystem;

namespace {

struct Run {
    int status = -1;
    double peakMb = 0;
    double seconds = 0;
};

// Runs `args` with stdout and stderr discarded.
Run RunChild(const std::vector<std::string>& args) {
    Run run;
    auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakMb = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// `mib` MiB of words drawn from a small vocabulary: packs to about a third.
void WriteTextFile(const std::string& path, std::size_t mib) {
    static const char* const kWords[] = {"aurora ", "boreale ", "cielo ", "notte ", "luce ", "verde ", "onda ",
                                         "stella ", "vento ", "neve ", "\n", "freddo ", "silenzio ", "nord "};
    std::mt19937 random(7);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::string chunk;
    std::size_t written = 0, total = mib << 20;
    while (written < total) {
        chunk.clear();
        while (chunk.size() < (1 << 16)) chunk += kWords[random() % (sizeof kWords / sizeof kWords[0])];
        std::size_t n = std::min(chunk.size(), total - written);
        std::fwrite(chunk.data(), 1, n, f);
        written += n;
    }
    std::fclose(f);
}

std::string Cell(const Run& r) {
    char text[48];
    if (r.status != 0) std::snprintf(text, sizeof text, "failed (%d)", r.status);
    else std::snprintf(text, sizeof text, "%6.1f MB %6.2f s", r.peakMb, r.seconds);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pack_memory_bench GLIMMER_PACK [MiB ...]\n");
        return 2;
    }
    std::string pack = fs::absolute(argv[1]).string();
    std::vector<std::size_t> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {16, 64, 256};

    std::string dir = MakeTempFolder();
    WriteBytesFile(MakeTestStub(), dir + "/stub.exe");
    WriteBytesFile(SampleText(20000, 1), dir + "/saver.scr");
    WriteBytesFile("dati", dir + "/saver.dat");
    WriteBytesFile(SampleNoise(3000, 2), dir + "/uninst.exe");

    std::printf("peak resident size and time of glimmer-pack, one media file of the given size\n\n");
    std::printf("%8s  %-20s  %-20s  %-20s  %-20s\n", "input", "build --store", "extract (stored)", "build --pack",
                "extract (packed)");
    for (std::size_t mib : sizes) {
        std::string media = dir + "/media.txt";
        WriteTextFile(media, mib);
        std::vector<std::string> cells;
        for (const char* mode : {"--store", "--pack"}) {
            std::string package = dir + "/p.exe", out = dir + "/out";
            cells.push_back(Cell(RunChild({pack, "build", "-o", package, "--stub", dir + "/stub.exe", "--title", "Bench",
                                           "--saver", dir + "/saver.scr", "--data", dir + "/saver.dat",
                                           "--uninstaller", dir + "/uninst.exe", "--media", media, mode})));
            cells.push_back(Cell(RunChild({pack, "extract", package, out})));
            fs::remove_all(out);
            fs::remove(package);
        }
        std::printf("%5zu MiB  %-20s  %-20s  %-20s  %-20s\n", mib, cells[0].c_str(), cells[1].c_str(),
                    cells[2].c_str(), cells[3].c_str());
        std::fflush(stdout);
        fs::remove(media);
    }
    fs::remove_all(dir);
    return 0;
}
