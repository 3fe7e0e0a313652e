// The paths an interrupt removes, kept where a signal handler (or, on
// Windows, the console's handler thread) can read them at any moment.
//
// One fixed block of characters, never reallocated. An entry is a state
// character (kFileEntry, kFolderEntry, or 0 once taken out), the path and a
// terminating 0. The main code writes an entry whole and only then publishes
// the new end with a release store; the handler reads the end with an
// acquire load, so it never sees a path that is half written. Taking an
// entry out clears its state character; its room is not used again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>

template <typename Char, std::size_t Room>
struct InterruptTable {
    static constexpr Char kFileEntry = 'F';
    static constexpr Char kFolderEntry = 'D';

    Char text[Room];
    std::atomic<std::size_t> used{0};

    // Adds `path` (`length` characters, no 0 among them); its slot, or -1
    // when the table is full or the path empty.
    int Add(const Char* path, std::size_t length, bool folder) {
        const std::size_t at = used.load(std::memory_order_relaxed);
        if (length == 0 || length + 2 > Room - at) return -1;
        std::memcpy(text + at + 1, path, length * sizeof(Char));
        text[at + 1 + length] = 0;
        std::atomic_ref<Char>(text[at]).store(folder ? kFolderEntry : kFileEntry, std::memory_order_relaxed);
        used.store(at + length + 2, std::memory_order_release);
        return static_cast<int>(at);
    }

    void Take(int slot) {
        if (slot >= 0) std::atomic_ref<Char>(text[slot]).store(0, std::memory_order_release);
    }

    // Calls `remove` on every file still in the table, then on every folder,
    // the latest first (a folder added after another may lie inside it).
    template <typename RemoveFile, typename RemoveFolder>
    void RemoveAll(RemoveFile removeFile, RemoveFolder removeFolder) {
        const std::size_t end = used.load(std::memory_order_acquire);
        std::size_t folders[64];
        std::size_t folderCount = 0;
        for (std::size_t at = 0; at < end;) {
            const Char state = std::atomic_ref<Char>(text[at]).load(std::memory_order_acquire);
            if (state == kFileEntry) removeFile(text + at + 1);
            else if (state == kFolderEntry && folderCount < 64) folders[folderCount++] = at;
            at += 1;
            while (text[at] != 0) ++at;
            ++at;
        }
        while (folderCount > 0) {
            const std::size_t at = folders[--folderCount];
            if (std::atomic_ref<Char>(text[at]).load(std::memory_order_acquire) == kFolderEntry)
                removeFolder(text + at + 1);
        }
    }
};
