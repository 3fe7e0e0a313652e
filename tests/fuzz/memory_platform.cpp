#include "memory_platform.h"

#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"

MemoryFileStats g_memoryStats;

namespace {

enum class Kind { Closed, Installer, Sink };

struct Handle {
    Kind kind = Kind::Closed;
    std::int64_t position = 0;
    int emptyReads = 0;  // reads that delivered nothing
};

// A reader that stops at the end of the file needs one read that delivers
// nothing; one that keeps reading there is in a loop that would never end.
constexpr int kMostEmptyReads = 16;

// Handles are small numbers well away from kNoFile and from real streams.
constexpr OsFile kFirstHandle = 1000;
constexpr int kHandleCount = 8;
Handle g_handles[kHandleCount];

const std::uint8_t* g_data = nullptr;
std::size_t g_size = 0;

Handle& Get(OsFile file) {
    FUZZ_CHECK(file >= kFirstHandle && file < kFirstHandle + kHandleCount, "an operation on a handle never opened");
    Handle& h = g_handles[file - kFirstHandle];
    FUZZ_CHECK(h.kind != Kind::Closed, "an operation on a closed handle");
    return h;
}

OsFile Open(Kind kind) {
    for (int i = 0; i < kHandleCount; ++i) {
        if (g_handles[i].kind == Kind::Closed) {
            g_handles[i] = Handle{kind, 0, 0};
            ++g_memoryStats.opens;
            return kFirstHandle + i;
        }
    }
    FUZZ_CHECK(false, "more than 8 files open at once: a handle is leaking");
    return kNoFile;
}

OsFile MemOpenRead(const char* path) {
    if (std::strcmp(path, kMemoryInstallerPath) == 0) return Open(Kind::Installer);
    return kNoFile;
}

OsFile MemCreate(const char* path) {
    FUZZ_CHECK(std::strcmp(path, kMemorySinkPath) == 0, "a file created at a path other than the sink's");
    return Open(Kind::Sink);
}

OsFile MemOpenAppend(const char*) {
    FUZZ_CHECK(false, "a file opened for appending");
    return kNoFile;
}

std::int32_t MemRead(OsFile file, void* buffer, std::uint32_t size) {
    Handle& h = Get(file);
    FUZZ_CHECK(h.kind == Kind::Installer, "a read from the sink");
    MemoryFileStats& s = g_memoryStats;
    if (s.readLimit > 0) {
        FUZZ_CHECK(static_cast<std::uint64_t>(h.position) >= s.readFrom &&
                       static_cast<std::uint64_t>(h.position) + size <= s.readFrom + s.readLimit,
                   "a read outside the entry being decoded");
    }
    std::size_t n = 0;
    if (static_cast<std::uint64_t>(h.position) < g_size) {
        std::size_t left = g_size - static_cast<std::size_t>(h.position);
        n = size < left ? size : left;
        std::memcpy(buffer, g_data + h.position, n);
    }
    if (n == 0 && size > 0)
        FUZZ_CHECK(++h.emptyReads <= kMostEmptyReads, "reading on and on at the end of the file");
    h.position += static_cast<std::int64_t>(n);
    s.bytesRead += n;
    return static_cast<std::int32_t>(n);
}

std::int32_t MemWrite(OsFile file, const void* buffer, std::uint32_t size) {
    Handle& h = Get(file);
    FUZZ_CHECK(h.kind == Kind::Sink, "a write to the installer");
    MemoryFileStats& s = g_memoryStats;
    std::uint32_t put = size;
    if (s.sinkRefuseAfter > 0 && s.sinkTotal + size > s.sinkRefuseAfter)
        put = static_cast<std::uint32_t>(s.sinkRefuseAfter - s.sinkTotal);
    if (s.writes < MemoryFileStats::kMaxWrites) s.writeSizes[s.writes] = size;
    ++s.writes;
    for (std::uint32_t i = 0; i < put && s.sinkSize < s.sinkCapacity; ++i)
        s.sink[s.sinkSize++] = static_cast<const std::uint8_t*>(buffer)[i];
    s.sinkTotal += put;
    h.position += put;
    return static_cast<std::int32_t>(put);
}

std::int64_t MemSeek(OsFile file, std::int64_t position) {
    Handle& h = Get(file);
    if (position < 0) return -1;
    h.position = position;
    return position;
}

std::int64_t MemTell(OsFile file) { return Get(file).position; }

std::int64_t MemSize(OsFile file) {
    Handle& h = Get(file);
    return h.kind == Kind::Installer ? static_cast<std::int64_t>(g_size)
                                     : static_cast<std::int64_t>(g_memoryStats.sinkTotal);
}

void MemClose(OsFile file) {
    Handle& h = Get(file);
    h.kind = Kind::Closed;
    ++g_memoryStats.closes;
}

void MemPump(OsWindow) {
    MemoryFileStats& s = g_memoryStats;
    ++s.pumps;
}

// The license block: counted, so that every block handed out is seen freed.
char* MemTextAlloc(std::uint32_t size) {
    char* text = static_cast<char*>(std::calloc(size, 1));
    if (text) ++g_memoryStats.textBlocks;
    return text;
}

void MemTextFree(char* text) {
    FUZZ_CHECK(text != nullptr, "TextFree of a null block");
    --g_memoryStats.textBlocks;
    std::free(text);
}

Platform MakeTable() {
    Platform p = kPosixPlatform;
    p.FileOpenRead = MemOpenRead;
    p.FileCreate = MemCreate;
    p.FileOpenAppend = MemOpenAppend;
    p.FileRead = MemRead;
    p.FileWrite = MemWrite;
    p.FileSeek = MemSeek;
    p.FileTell = MemTell;
    p.FileSize = MemSize;
    p.FileClose = MemClose;
    p.PumpMessages = MemPump;
    p.TextAlloc = MemTextAlloc;
    p.TextFree = MemTextFree;
    return p;
}

}  // namespace

void MemoryFilesInstall() {
    // Built on first use, after every static table of the program exists.
    static const Platform table = MakeTable();
    g_platform = &table;
}

void MemoryFilesReset(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(MemoryFilesOpen() == 0, "a file left open by the previous operation");
    FUZZ_CHECK(g_memoryStats.textBlocks == 0, "a license block never freed");
    g_data = data;
    g_size = size;
    g_memoryStats = MemoryFileStats{};
}

int MemoryFilesOpen() {
    int open = 0;
    for (const Handle& h : g_handles) open += h.kind != Kind::Closed ? 1 : 0;
    return open;
}

OsFile MemoryOpenInstaller() { return Open(Kind::Installer); }
OsFile MemoryOpenSink() { return Open(Kind::Sink); }
