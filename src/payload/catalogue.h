// The package format: the catalogue that an installer carries in its own
// file, the roles of its records, a cursor that walks them, and the rules a
// package must follow to be installed. The installer and glimmer-pack share
// every rule here; each words the reasons in its own language.
//
// The catalogue begins at the data of the first resource of the installer's
// resource tree (see payload.h for how it is found) and runs on to the end
// of the file, followed by every entry's data:
//
//   payload offset   width        field
//   0                u16          license length L (0 = no license text)
//   2                L bytes      license text, code page 1252, no NUL
//   2 + L            260 bytes    title, NUL-terminated, NUL-padded
//   262 + L          u16          numbering base of the first media file
//   264 + L          28 each      file records, up to and including a
//                                 terminator record whose stored size is 0
//
//   file record:  0  u32 offset (absolute, from the start of the file)
//                 4  u32 stored size (bytes in the file; 0 = terminator)
//                 8  u32 unpacked size (0 = stored verbatim, else packed)
//                 12 15 bytes extension with its dot, blank-padded, no NUL
//                 27 u8 kind byte (0, '_' or other: the media name prefix)
//
// All integers are little-endian. Sizes stay below 2^31.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr std::uint32_t kTitleSize = 260;
inline constexpr std::uint32_t kRecordSize = 28;
inline constexpr std::uint32_t kExtensionSize = 15;

// Stored and unpacked sizes must stay below this bound: the decoder compares
// them as signed 32-bit counts.
inline constexpr std::uint32_t kSizeLimit = 0x80000000u;

struct FileRecord {
    std::uint32_t offset;
    std::uint32_t storedSize;
    std::uint32_t unpackedSize;
    char extension[kExtensionSize];  // blank-padded, not NUL-terminated
    std::uint8_t kind;
};

// What a record is follows from its place in the list.
enum RecordRole : int {
    kRoleScreenSaver = 0,  // record 0: installed in the Windows folder
    kRoleData = 1,         // record 1: the screen saver's data file
    kRoleUninstaller = 2,  // record 2: written with the uninstall entry
    kRoleMedia = 3,        // records 3 and later, numbered from the numbering base
};

inline RecordRole RoleOf(std::uint32_t index) {
    return index < kRoleMedia ? static_cast<RecordRole>(index) : kRoleMedia;
}

// The installed size of an entry: its unpacked size, or its stored size when
// it is stored verbatim.
inline std::uint32_t InstalledSize(const FileRecord& record) {
    return record.unpackedSize != 0 ? record.unpackedSize : record.storedSize;
}

// ---- Walking the records --------------------------------------------------------

// A walk over the file records of an installer file. OpenCatalogue reads the
// head; each NextRecord reads one more record. The walk ends at the
// terminator record or at a record that cannot be read whole (a previous
// record is never reused).
struct CatalogueCursor {
    OsFile file;                   // the payload stream, kNoFile when closed
    std::uint16_t licenseLength;
    std::uint16_t numberingBase;
    std::uint32_t index;           // index of `record` in the list
    FileRecord record;             // the record just read
    int atTerminator;              // 1 once the terminator has been read
};

// Opens the payload of `path` and reads the catalogue's head, leaving the
// cursor before record 0. 1 on success; 0 (and nothing open) when the payload
// cannot be opened or its head read.
int OpenCatalogue(const char* path, CatalogueCursor* cursor);

// Reads the next record. 1 with a file record in cursor->record; 0 when the
// terminator has been read (cursor->atTerminator is 1 and cursor->record
// holds it) or the record could not be read whole (atTerminator stays 0).
int NextRecord(CatalogueCursor* cursor);

// Closes the cursor's stream if it is open.
void CloseCatalogue(CatalogueCursor* cursor);

// Sums, over the records up to and including the terminator, each record's
// installed size (the terminator's unpacked size included), in 64 bits.
// Returns 1, or 0 (with *total = 0) when the payload cannot be opened or its
// head read. A record that cannot be read whole ends the sum.
int SumEntrySizes(const char* path, std::uint64_t* total);

// ---- Rules of a package that can be installed -------------------------------------

// What keeps a title from naming the installed screen saver, its folder and
// its uninstall key.
enum TitleFault : int {
    kTitleSound = 0,
    kTitleEmpty,      // empty, only blanks, or only dots and blanks (Windows trims those)
    kTitleTooLong,    // "<title>.scr" would not fit 259 characters
    kTitleForbidden,  // holds \ / : * ? " < > |
    kTitleControl,    // holds a control character (below 32)
    kTitleDevice,     // CON, PRN, AUX, NUL, COM1-9 or LPT1-9, also before a '.'
};

// The longest title whose base name "<title>.scr" fits a path buffer.
inline constexpr std::uint32_t kLongestTitle = kPathSize - 1 - 4;

// Judges a title as the installer uses it: with its trailing blanks removed.
// Trailing dots are allowed: Windows drops them from a folder's name the same
// way for every program, so the data folder is still found.
TitleFault CheckTitle(const char* title);

// What keeps a media record's extension from ending a file name.
enum ExtensionFault : int {
    kExtensionSound = 0,
    kExtensionForbidden,  // holds \ / : * ? " < > |
    kExtensionControl,    // holds a control character (below 32)
};

// Judges a media record's 15-byte extension field, which ends early at a
// zero byte.
ExtensionFault CheckExtension(const char* field);

// 1 when `name` is a name Windows reserves for a device: CON, PRN, AUX, NUL,
// COM1-9 or LPT1-9 (also with the superscript digits of code page 1252),
// whatever follows its first '.', blanks before that '.' ignored.
int IsDeviceName(const char* name);
