// Finding the payload inside an installer file and reading its catalogue.
//
// An installer is a 32-bit PE file. The catalogue begins at the data of the
// first resource of its resource tree (first entry at the type, name and
// language levels: the "LASTRES" 1000 anchor in a built installer) and runs
// on to the end of the file, followed by every entry's data:
//
//   payload offset   width        field
//   0                u16          license length L (0 = no license text)
//   2                L bytes      license text, code page 1252, no NUL
//   2 + L            260 bytes    title, NUL-terminated, NUL-padded
//   262 + L          u16          numbering base of the first media file
//   264 + L          28 each      file records, up to and including a
//                                 terminator record whose stored size is 0
//
//   file record:  u32 offset (absolute, from the start of the file)
//                 u32 stored size (bytes in the file; 0 = terminator)
//                 u32 unpacked size (0 = stored verbatim, else packed)
//                 15 bytes extension with its dot, blank-padded, no NUL
//                 u8 kind byte (0, '_' or other: the media name prefix)
//
// Record 0 is the screen saver, 1 its data file, 2 the uninstaller, 3 and up
// media files. All integers are little-endian.
//
// Every operation takes the installer file's path, opens it anew and closes
// it again. All file access goes through g_platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

inline constexpr std::uint32_t kTitleSize = 260;
inline constexpr std::uint32_t kRecordSize = 28;
inline constexpr std::uint32_t kExtensionSize = 15;

struct FileRecord {
    std::uint32_t offset;
    std::uint32_t storedSize;
    std::uint32_t unpackedSize;
    char extension[kExtensionSize];  // blank-padded, not NUL-terminated
    std::uint8_t kind;
};

// Finds the payload: a stream on the file positioned at payload offset 0, or
// kNoFile when the file cannot be opened, is not a PE file, is too short, or
// has no ".rsrc" section among its NumberOfSections headers.
OsFile OpenPayload(const char* path);

// Copies the catalogue's 260-byte title field into `title` as it stands;
// leaves it untouched when the payload cannot be opened.
void ReadTitle(const char* path, char* title);

// The license text as a block of L + 1 bytes from g_platform->TextAlloc,
// ending with a NUL, with *length = L; nullptr when there is none, the
// payload cannot be opened, memory cannot be had, or fewer than L bytes
// could be read. The caller frees the block with g_platform->TextFree.
char* ReadLicenseText(const char* path, std::uint32_t* length);

// Sums, over the records up to and including the terminator, each record's
// unpacked size, or its stored size when the unpacked size is 0, modulo
// 2^32. Returns 1, or 0 (with *total = 0) when the payload cannot be opened.
// A record read that delivers fewer than 28 bytes ends the sum.
int SumEntrySizes(const char* path, std::uint32_t* total);

// Reads the catalogue's head from a stream that OpenPayload returned: the
// license length, the license text (skipped), the title (skipped) and the
// numbering base. Leaves the stream at the first file record. 1 on success.
int ReadCatalogueHead(OsFile payload, std::uint16_t* licenseLength, std::uint16_t* numberingBase);

// Reads the next 28-byte record. 1 when all 28 bytes were read; 0 otherwise,
// which ends every walk (a previous record is never reused).
int ReadRecord(OsFile payload, FileRecord* record);

// Validation, run before anything is written: the catalogue is complete (a
// terminator record is present), the title field holds a NUL, and every
// record's data lie inside the file. 1 when sound; otherwise 0 with a short
// English description of the first fault in `message` (NUL-terminated,
// truncated to `size`).
int ValidatePayload(const char* path, char* message, std::size_t size);
