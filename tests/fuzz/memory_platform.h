// An in-memory file table behind g_platform for the fuzz targets: one
// read-only file (the installer under test, its bytes owned by the caller)
// and one write-only sink. Every other operation is the POSIX table's.
//
// Files behave as the C library's do: a seek past the end succeeds and later
// reads there deliver 0 bytes; a negative position fails. Misuse that a real
// file system would tolerate silently (a read or write on a closed handle, a
// handle closed twice, an open of an unknown path for reading) aborts the
// process, so that the fuzzer reports it.
//
// Nothing here allocates once MemoryFilesInstall has run, so that the
// decoder's "no allocation during a decode" can be checked with it in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The path under which the installer bytes can be opened for reading, and
// the path FileCreate accepts for the sink.
inline constexpr const char* kMemoryInstallerPath = "memory:installer";
inline constexpr const char* kMemorySinkPath = "memory:sink";

// Counters and limits of the table, reset by MemoryFilesReset.
struct MemoryFileStats {
    int opens = 0;            // handles opened (installer or sink)
    int closes = 0;           // handles closed
    int textBlocks = 0;       // TextAlloc blocks not yet freed
    int pumps = 0;            // PumpMessages calls
    std::uint64_t bytesRead = 0;  // delivered by FileRead on the installer

    // When readLimit > 0, every FileRead on the installer must request a
    // range inside [readFrom, readFrom + readLimit); otherwise the process
    // aborts. Used to prove that a decode never reads beyond its entry.
    std::uint64_t readFrom = 0;
    std::uint64_t readLimit = 0;

    // Sink: bytes written land in `sink` (capacity `sinkCapacity`, given by
    // the caller); sizes of the write calls are kept in order.
    std::uint8_t* sink = nullptr;
    std::size_t sinkCapacity = 0;
    std::size_t sinkSize = 0;
    std::uint64_t sinkTotal = 0;  // bytes written, also those beyond capacity
    static constexpr int kMaxWrites = 256;
    std::uint32_t writeSizes[kMaxWrites] = {};
    int writes = 0;
    // A write call that would take the sink past this many bytes reports
    // fewer bytes written (a full disk); 0 means no limit.
    std::uint64_t sinkRefuseAfter = 0;
};

extern MemoryFileStats g_memoryStats;

// Puts the table in g_platform (once per process).
void MemoryFilesInstall();

// Makes `data` (not copied; it must outlive its use) the installer's bytes
// and resets every counter and the sink. Aborts when a handle is still open.
void MemoryFilesReset(const std::uint8_t* data, std::size_t size);

// Handles opened and not yet closed.
int MemoryFilesOpen();

// Opens the installer or the sink directly (as FileOpenRead/FileCreate).
OsFile MemoryOpenInstaller();
OsFile MemoryOpenSink();
