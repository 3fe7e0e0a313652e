// glimmer-bench: speed and ratio of the packed-entry coding on a corpus made
// from files on this machine.
//
// The corpus mixes program binaries (/usr/bin, /usr/lib) and text
// (/usr/include, /usr/share/doc): the files of each kind in sorted path
// order, at most 64 KiB from each, the next piece always from the kind that
// has given fewer bytes so far, until a fixed total is reached. The same machine therefore always gives
// the same corpus.
//
// The corpus is packed with each parse and every stream is decoded with
// DecodeStream through an in-memory file table, so the figures are those of
// the decoder itself, not of the disk. Every run checks that the decode
// gives the corpus back.
//
//   glimmer-bench [--mib N] [--runs N]     full run (default 12 MiB, 5 runs)
//   glimmer-bench --smoke                  small corpus, one run: round trip only
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <new>

#include <sys/resource.h>
#include <time.h>

#include "payload/decoder.h"
#include "payload/encoder.h"
#include "shell/globals.h"

namespace fs = std::filesystem;

// Counts every allocation of the program, to show that a decode makes none.
static std::size_t g_allocations = 0;

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr std::size_t kPieceLimit = 64 * 1024;

// ---- Corpus -------------------------------------------------------------------

std::vector<std::string> SortedFiles(const std::vector<std::string>& roots) {
    std::vector<std::string> files;
    for (const std::string& root : roots) {
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
        for (; !error && it != end; it.increment(error)) {
            std::error_code statError;
            if (it->is_regular_file(statError) && !it->is_symlink(statError) && it->file_size(statError) > 0)
                files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool AppendPiece(std::vector<std::uint8_t>& corpus, const std::string& path, std::size_t total) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::size_t want = std::min(kPieceLimit, total - corpus.size());
    std::vector<char> piece(want);
    in.read(piece.data(), static_cast<std::streamsize>(want));
    std::size_t got = static_cast<std::size_t>(in.gcount());
    corpus.insert(corpus.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
    return got > 0;
}

std::vector<std::uint8_t> BuildCorpus(std::size_t total, std::size_t* binaryBytes) {
    std::vector<std::string> binaries = SortedFiles({"/usr/bin", "/usr/lib"});
    std::vector<std::string> texts = SortedFiles({"/usr/include", "/usr/share/doc"});
    std::vector<std::uint8_t> corpus;
    corpus.reserve(total);
    std::size_t b = 0, t = 0;
    *binaryBytes = 0;
    // Whichever kind has contributed fewer bytes so far gives the next piece.
    while (corpus.size() < total && (b < binaries.size() || t < texts.size())) {
        bool binaryTurn = t >= texts.size() || (b < binaries.size() && *binaryBytes <= corpus.size() - *binaryBytes);
        std::size_t before = corpus.size();
        AppendPiece(corpus, binaryTurn ? binaries[b++] : texts[t++], total);
        if (binaryTurn) *binaryBytes += corpus.size() - before;
    }
    return corpus;
}

// ---- In-memory files for DecodeStream ------------------------------------------------

constexpr OsFile kMemInput = 1;
constexpr OsFile kMemOutput = 2;

struct MemFiles {
    const std::uint8_t* input;
    std::size_t inputSize;
    std::size_t inputPos;
    std::uint8_t* output;
    std::size_t outputCapacity;
    std::size_t outputSize;
} g_mem;

std::int32_t MemRead(OsFile file, void* buffer, std::uint32_t size) {
    if (file != kMemInput) return -1;
    std::size_t n = std::min<std::size_t>(size, g_mem.inputSize - g_mem.inputPos);
    std::memcpy(buffer, g_mem.input + g_mem.inputPos, n);
    g_mem.inputPos += n;
    return static_cast<std::int32_t>(n);
}

std::int32_t MemWrite(OsFile file, const void* buffer, std::uint32_t size) {
    if (file != kMemOutput) return -1;
    std::size_t n = std::min<std::size_t>(size, g_mem.outputCapacity - g_mem.outputSize);
    std::memcpy(g_mem.output + g_mem.outputSize, buffer, n);
    g_mem.outputSize += n;
    return static_cast<std::int32_t>(n);
}

void NoPump() {}

Platform MakeMemoryPlatform() {
    Platform p = kPosixPlatform;
    p.FileRead = MemRead;
    p.FileWrite = MemWrite;
    p.PumpMessages = NoPump;
    return p;
}

// ---- Measuring -------------------------------------------------------------------------

// Wall-clock and CPU time of this thread; the machine may be shared, and
// the CPU time leaves out the moments the thread was not running.
struct Clock {
    std::chrono::steady_clock::time_point wall;
    double cpu;
};

Clock Now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return Clock{std::chrono::steady_clock::now(), static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec)};
}

// Best (shortest) times seen over several runs.
struct Timing {
    double wall = 0;
    double cpu = 0;
    void Add(const Clock& a, const Clock& b) {
        double w = std::chrono::duration<double>(b.wall - a.wall).count();
        double c = b.cpu - a.cpu;
        if (wall == 0 || w < wall) wall = w;
        if (cpu == 0 || c < cpu) cpu = c;
    }
};

// Megabytes of 10^6 bytes per second, of unpacked data.
double MBPerSecond(std::size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

struct EncodeResult {
    std::vector<std::uint8_t> packed;
    Timing time;
};

EncodeResult TimeEncode(const std::vector<std::uint8_t>& corpus, LzhufParse parse, int runs) {
    EncodeResult result;
    for (int i = 0; i < runs; ++i) {
        Clock a = Now();
        std::vector<std::uint8_t> packed = LzhufEncode(corpus.data(), corpus.size(), parse);
        Clock b = Now();
        result.time.Add(a, b);
        result.packed = std::move(packed);
    }
    return result;
}

// Decodes `packed` into `out`; false when the result differs from `corpus`.
bool DecodeOnce(const std::vector<std::uint8_t>& packed, const std::vector<std::uint8_t>& corpus,
                std::vector<std::uint8_t>& out, Timing* timing) {
    g_mem = MemFiles{packed.data(), packed.size(), 0, out.data(), out.size(), 0};
    Clock a = Now();
    StreamResult result = DecodeStream(kMemInput, kMemOutput, static_cast<std::int32_t>(corpus.size()),
                                       static_cast<std::int32_t>(packed.size()), nullptr);
    Clock b = Now();
    timing->Add(a, b);
    std::int32_t produced = result.produced;
    return !result.writeFailed && produced == static_cast<std::int32_t>(corpus.size()) && g_mem.outputSize == corpus.size() &&
           std::memcmp(out.data(), corpus.data(), corpus.size()) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: glimmer-bench [--mib N] [--runs N] | --smoke\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 12;
    int runs = 5;
    bool smoke = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--smoke")) {
            smoke = true;
        } else if (!std::strcmp(argv[i], "--mib") && i + 1 < argc) {
            mib = static_cast<std::size_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            return Usage();
        }
    }
    if (smoke) {
        mib = 1;
        runs = 1;
    }
    if (mib == 0 || runs <= 0) return Usage();

    static const Platform memoryPlatform = MakeMemoryPlatform();
    g_platform = &memoryPlatform;
    ResetGlobals();

    std::size_t binaryBytes = 0;
    std::vector<std::uint8_t> corpus = BuildCorpus(mib * 1048576, &binaryBytes);
    if (corpus.size() < mib * 1048576) {
        std::fprintf(stderr, "glimmer-bench: only %zu bytes of corpus found on this machine\n", corpus.size());
        if (corpus.empty()) return 1;
    }
    std::printf("corpus: %zu bytes (%zu binary, %zu text)\n", corpus.size(), binaryBytes, corpus.size() - binaryBytes);

    EncodeResult greedy = TimeEncode(corpus, LzhufParse::Greedy, runs);
    EncodeResult lazy = TimeEncode(corpus, LzhufParse::Lazy, runs);
    EncodeResult optimal = TimeEncode(corpus, LzhufParse::Optimal, runs);

    // Every stream must decode to the corpus; the speed is that of the
    // default (optimal) stream.
    std::vector<std::uint8_t> out(corpus.size());
    Timing decode;
    std::size_t allocationsBefore = g_allocations;
    const struct {
        const char* name;
        const EncodeResult* result;
    } parses[] = {{"greedy", &greedy}, {"lazy", &lazy}, {"optimal", &optimal}};
    for (const auto& parse : parses) {
        for (int i = 0; i < runs; ++i) {
            Timing other;
            if (!DecodeOnce(parse.result->packed, corpus, out, parse.result == &optimal ? &decode : &other)) {
                std::fprintf(stderr, "glimmer-bench: decode does not give the corpus back (%s parse)\n", parse.name);
                return 1;
            }
        }
    }
    std::size_t decodeAllocations = g_allocations - allocationsBefore;

    auto gain = [&](const EncodeResult& e) {
        return 100.0 * (static_cast<double>(greedy.packed.size()) - static_cast<double>(e.packed.size())) /
               static_cast<double>(greedy.packed.size());
    };
    for (const auto& parse : parses) {
        std::printf("compressed %-8s %zu bytes (%.2f%% of corpus)\n", parse.name, parse.result->packed.size(),
                    100.0 * static_cast<double>(parse.result->packed.size()) / static_cast<double>(corpus.size()));
    }
    std::printf("gain over greedy: lazy %.2f%%, optimal %.2f%% fewer bytes\n", gain(lazy), gain(optimal));
    std::printf("speeds in MB/s (10^6 bytes of unpacked data per second), best of %d runs; wall clock, and in\n"
                "brackets per second of CPU time of the thread (the same on an idle machine)\n",
                runs);
    for (const auto& parse : parses)
        std::printf("encode %-8s %6.1f MB/s  (%.1f)\n", parse.name, MBPerSecond(corpus.size(), parse.result->time.wall),
                    MBPerSecond(corpus.size(), parse.result->time.cpu));
    std::printf("decode           %6.1f MB/s  (%.1f)  optimal stream\n", MBPerSecond(corpus.size(), decode.wall),
                MBPerSecond(corpus.size(), decode.cpu));
    std::printf("round trip: ok (all three streams)\n");
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("allocations during %d decodes: %zu (the decoder's state is fixed and global)\n", 3 * runs,
                decodeAllocations);
    std::printf("peak resident memory of the whole run: %ld KiB (corpus, packed copies and output included)\n",
                usage.ru_maxrss);
    if (decodeAllocations != 0) {
        std::fprintf(stderr, "glimmer-bench: decoding allocated memory\n");
        return 1;
    }
    return 0;
}
