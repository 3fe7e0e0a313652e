// glimmer-bench: speed of the packed-entry decoder side by side with a plain
// decoder of the same coding (plain_decoder.h), and the coding's ratio, on
// three corpora made from files on this machine:
//
//   text    text files (/usr/include, /usr/share/doc), compressed ones left out
//   media   files that are compressed already (.gz, .xz, .bz2, .png, .jpg
//           under /usr/share): packing barely shrinks them
//   mix     program binaries (/usr/bin, /usr/lib), text and media in turn
//
// Each corpus takes at most 64 KiB from each file, files in sorted path
// order, the next piece always from the kind that has given fewer bytes so
// far, until a fixed total is reached: the same machine always gives the
// same corpora.
//
// Each corpus is packed with the default (optimal) parse and the stream is
// decoded by both decoders from memory into memory: the installer's decoder
// through an in-memory file table, the plain one through C streams opened
// on memory buffers. Every decode is checked against the corpus. The figures
// are MB/s of unpacked output, best of several runs, in CPU time of the
// thread (which leaves out the moments a shared machine gave the thread no
// processor) and in wall-clock time.
//
//   glimmer-bench [--mib N] [--runs N] [--corpus NAME]
//                                          full run (default 4 MiB a corpus, 5 runs),
//                                          of every corpus or only the one named
//   glimmer-bench --smoke                  small corpora, one run: round trips only, and
//                                          both decoders on damaged streams
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
#include "encoder/encoder.h"
#include "plain_decoder.h"

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

bool IsCompressedName(const std::string& path) {
    static const char* const kExtensions[] = {".gz", ".xz", ".bz2", ".zst", ".png", ".jpg", ".jpeg"};
    std::string ext = fs::path(path).extension().string();
    for (const char* e : kExtensions)
        if (ext == e) return true;
    return false;
}

// Regular files under `roots` in sorted path order; `compressed`: only
// those whose name says they are compressed, else only the others.
std::vector<std::string> SortedFiles(const std::vector<std::string>& roots, int compressed) {
    std::vector<std::string> files;
    for (const std::string& root : roots) {
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
        for (; !error && it != end; it.increment(error)) {
            std::error_code statError;
            if (it->is_regular_file(statError) && !it->is_symlink(statError) && it->file_size(statError) > 0 &&
                IsCompressedName(it->path().string()) == (compressed != 0))
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

// Up to `total` bytes from the kinds of files in `kinds`, the next piece
// always from the kind that has given the fewest bytes so far.
std::vector<std::uint8_t> BuildCorpus(const std::vector<std::vector<std::string>>& kinds, std::size_t total) {
    std::vector<std::uint8_t> corpus;
    corpus.reserve(total);
    std::vector<std::size_t> next(kinds.size(), 0), given(kinds.size(), 0);
    while (corpus.size() < total) {
        std::size_t pick = kinds.size();
        for (std::size_t k = 0; k < kinds.size(); ++k)
            if (next[k] < kinds[k].size() && (pick == kinds.size() || given[k] < given[pick])) pick = k;
        if (pick == kinds.size()) break;
        std::size_t before = corpus.size();
        AppendPiece(corpus, kinds[pick][next[pick]++], total);
        given[pick] += corpus.size() - before;
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

void NoPump(OsWindow) {}

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

// Decodes `unpacked` bytes from `packed` with the installer's decoder into
// `out` (room for more), timed into `timing` when given; false when it did
// not give `unpacked` bytes.
bool InstallerDecode(const std::vector<std::uint8_t>& packed, std::int32_t unpacked, std::vector<std::uint8_t>& out,
                     Timing* timing) {
    g_mem = MemFiles{packed.data(), packed.size(), 0, out.data(), out.size(), 0};
    Clock a = Now();
    static DecoderState decoder;
    StreamResult result =
        DecodeStream(&decoder, kMemInput, kMemOutput, unpacked, static_cast<std::int32_t>(packed.size()), nullptr);
    Clock b = Now();
    if (timing) timing->Add(a, b);
    return !result.writeFailed && result.produced == unpacked && g_mem.outputSize == static_cast<std::size_t>(unpacked);
}

// The same with the plain decoder, from and to C streams on memory; `out`
// has room for a last match that runs past the end, and a terminating zero.
bool PlainDecodeInto(std::vector<std::uint8_t>& packed, std::int32_t unpacked, std::vector<std::uint8_t>& out,
                     Timing* timing) {
    std::FILE* in = fmemopen(packed.data(), packed.size(), "rb");
    std::FILE* to = fmemopen(out.data(), out.size(), "wb");
    if (!in || !to) return false;
    Clock a = Now();
    std::int32_t produced = PlainDecode(in, to, unpacked, static_cast<std::int32_t>(packed.size()));
    std::fflush(to);
    Clock b = Now();
    if (timing) timing->Add(a, b);
    std::fclose(in);
    std::fclose(to);
    return produced >= unpacked;
}

// ---- Damaged streams -------------------------------------------------------------------

// Both decoders on streams no encoder wrote: random bytes, and packed pieces
// of `sample` with a few bytes changed. Any stream decodes to something, and
// the two decoders must agree on it byte for byte, so that the installer's
// decoder is checked on trees, trades and rebuilds that round trips never
// reach, in whatever build this bench is (the stub's 32-bit build has code
// paths of its own). Both keep the window's last positions from one stream
// to the next, so the streams run in one sequence. False, with a message,
// at the first difference.
bool DamagedStreamsAgree(const std::vector<std::uint8_t>& sample, int streams) {
    std::uint32_t seed = 0x9E3779B9u;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    std::vector<std::uint8_t> mine, plain;
    for (int i = 0; i < streams; ++i) {
        std::vector<std::uint8_t> stream;
        std::int32_t unpacked;
        if (i % 2 == 0 || sample.empty()) {
            // Now and then long enough that the model is rebuilt.
            stream.resize(1 + next() % (i % 10 == 0 ? 16384 : 4096));
            for (std::uint8_t& byte : stream) byte = static_cast<std::uint8_t>(next());
            // Often more than the bits give: the decode goes on with zeros.
            unpacked = static_cast<std::int32_t>(1 + next() % (16 * stream.size()));
        } else {
            const std::size_t size = std::min<std::size_t>(sample.size(), 1 + next() % 65536);
            const std::size_t from = next() % (sample.size() - size + 1);
            stream = LzhufEncode(sample.data() + from, size);
            for (int k = 1 + static_cast<int>(next() % 4); k > 0 && !stream.empty(); --k)
                stream[next() % stream.size()] ^= static_cast<std::uint8_t>(1 + next() % 255);
            unpacked = static_cast<std::int32_t>(size);
        }
        const auto size = static_cast<std::size_t>(unpacked);
        mine.assign(size + 64, 0);
        plain.assign(size + 64, 0);
        if (!InstallerDecode(stream, unpacked, mine, nullptr) || !PlainDecodeInto(stream, unpacked, plain, nullptr) ||
            std::memcmp(mine.data(), plain.data(), size) != 0) {
            std::fprintf(stderr, "glimmer-bench: damaged stream %d (%zu bytes, %d unpacked): the decoders differ\n",
                         i, stream.size(), unpacked);
            return false;
        }
    }
    return true;
}

struct CorpusResult {
    const char* name;
    std::size_t size;
    std::size_t packed;
    Timing encode, installer, plain;
};

int Usage() {
    std::fprintf(stderr, "usage: glimmer-bench [--mib N] [--runs N] [--corpus text|media|mix] | --smoke\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 4;
    int runs = 5;
    bool smoke = false;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--smoke")) {
            smoke = true;
        } else if (!std::strcmp(argv[i], "--mib") && i + 1 < argc) {
            mib = static_cast<std::size_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--corpus") && i + 1 < argc) {
            only = argv[++i];
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

    const std::vector<std::string> binaries = SortedFiles({"/usr/bin", "/usr/lib"}, 0);
    const std::vector<std::string> texts = SortedFiles({"/usr/include", "/usr/share/doc"}, 0);
    const std::vector<std::string> media = SortedFiles({"/usr/share"}, 1);
    const struct {
        const char* name;
        std::vector<std::vector<std::string>> kinds;
    } corpora[] = {{"text", {texts}}, {"media", {media}}, {"mix", {binaries, texts, media}}};

    std::vector<CorpusResult> results;
    std::size_t decodeAllocations = 0;
    for (const auto& c : corpora) {
        if (only && std::strcmp(only, c.name) != 0) continue;
        const std::size_t total = mib * 1048576;
        std::vector<std::uint8_t> corpus = BuildCorpus(c.kinds, total);
        if (corpus.size() < total)
            std::fprintf(stderr, "glimmer-bench: only %zu bytes of %s found on this machine\n", corpus.size(), c.name);
        if (corpus.empty()) return 1;
        CorpusResult r{c.name, corpus.size(), 0, {}, {}, {}};
        Clock a = Now();
        std::vector<std::uint8_t> packed = LzhufEncode(corpus.data(), corpus.size());
        r.encode.Add(a, Now());
        r.packed = packed.size();

        std::vector<std::uint8_t> out(corpus.size() + 64);
        for (int i = 0; i < runs; ++i) {
            // In turns, so that both decoders see the same moods of a shared
            // machine.
            std::size_t before = g_allocations;
            const auto unpacked = static_cast<std::int32_t>(corpus.size());
            bool ok = InstallerDecode(packed, unpacked, out, &r.installer) &&
                      std::memcmp(out.data(), corpus.data(), corpus.size()) == 0;
            decodeAllocations += g_allocations - before;
            std::fill(out.begin(), out.end(), 0);
            ok = ok && PlainDecodeInto(packed, unpacked, out, &r.plain) &&
                 std::memcmp(out.data(), corpus.data(), corpus.size()) == 0;
            if (!ok) {
                std::fprintf(stderr, "glimmer-bench: a decode does not give the %s corpus back\n", c.name);
                return 1;
            }
        }
        results.push_back(r);
        if (smoke && !DamagedStreamsAgree(corpus, 200)) return 1;
    }

    std::printf("MB/s of unpacked output (10^6 bytes a second), best of %d runs; CPU time of the thread,\n"
                "and wall clock in brackets. installer: the installer's decoder; plain: a plain decoder\n"
                "of the coding (one bit at a time down the tree, bytes through C streams)\n\n",
                runs);
    std::printf("%-6s %10s %8s %9s %18s %18s %14s\n", "corpus", "bytes", "packed", "encode", "installer",
                "plain", "ratio");
    for (const CorpusResult& r : results) {
        std::printf("%-6s %10zu %7.2f%% %9.1f %8.1f (%7.1f) %8.1f (%7.1f) %5.2f (%5.2f)\n", r.name, r.size,
                    100.0 * static_cast<double>(r.packed) / static_cast<double>(r.size),
                    MBPerSecond(r.size, r.encode.cpu), MBPerSecond(r.size, r.installer.cpu),
                    MBPerSecond(r.size, r.installer.wall), MBPerSecond(r.size, r.plain.cpu),
                    MBPerSecond(r.size, r.plain.wall), r.plain.cpu / r.installer.cpu, r.plain.wall / r.installer.wall);
    }
    std::printf("round trips: ok (both decoders, every corpus)\n");
    if (smoke) std::printf("damaged streams: both decoders agree\n");
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("allocations during the installer's decodes: %zu (its state is fixed, the caller's)\n",
                decodeAllocations);
    std::printf("peak resident memory of the whole run: %ld KiB\n", usage.ru_maxrss);
    if (decodeAllocations != 0) {
        std::fprintf(stderr, "glimmer-bench: decoding allocated memory\n");
        return 1;
    }
    return 0;
}
