#include "payload/payload.h"

#include <cstdio>
#include <cstring>

#include "payload/pe_format.h"

namespace {

std::uint16_t GetU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t GetU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// 1 when exactly `size` bytes were read.
int ReadExactly(OsFile file, void* buffer, std::uint32_t size) {
    return g_platform->FileRead(file, buffer, size) == static_cast<std::int32_t>(size) ? 1 : 0;
}

int ReadAt(OsFile file, std::int64_t position, void* buffer, std::uint32_t size) {
    return g_platform->FileSeek(file, position) == position && ReadExactly(file, buffer, size);
}

// Moves `count` bytes forward from the current position.
int Skip(OsFile file, std::uint32_t count) {
    std::int64_t here = g_platform->FileTell(file);
    if (here < 0) return 0;
    return g_platform->FileSeek(file, here + count) == here + count ? 1 : 0;
}

// Walks the PE headers and the resource tree of an open file and leaves it
// positioned at the first byte of the first resource's data. 1 on success.
int SeekToPayload(OsFile file) {
    unsigned char dos[kDosHeaderSize];
    if (!ReadAt(file, 0, dos, sizeof dos)) return 0;
    if (dos[0] != 'M' || dos[1] != 'Z') return 0;
    std::uint32_t lfanew = GetU32(dos + kLfanewOffset);

    unsigned char headers[kSignatureSize + kFileHeaderSize + kOptionalHeaderSize];
    if (!ReadAt(file, lfanew, headers, sizeof headers)) return 0;
    if (std::memcmp(headers, "PE\0\0", kSignatureSize) != 0) return 0;
    std::uint16_t sectionCount = GetU16(headers + kSignatureSize + 2);

    // The section table follows the optional header at once. The search
    // stops after the file header's NumberOfSections headers.
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawPointer = 0;
    int found = 0;
    for (std::uint16_t i = 0; i < sectionCount && !found; ++i) {
        unsigned char section[kSectionHeaderSize];
        if (!ReadExactly(file, section, sizeof section)) return 0;
        char name[9] = {};
        std::memcpy(name, section, 8);
        if (std::strcmp(name, ".rsrc") == 0) {
            virtualAddress = GetU32(section + 12);
            rawPointer = GetU32(section + 20);
            found = 1;
        }
    }
    if (!found) return 0;

    // The first entry at the type and name levels leads, its offset masked,
    // to the next directory; the language level's offset, unmasked, to the
    // data entry.
    const std::int64_t base = rawPointer;
    unsigned char entry[kResourceEntrySize];
    if (!ReadAt(file, base + kResourceDirectorySize, entry, sizeof entry)) return 0;
    if (!ReadAt(file, base + kResourceDirectorySize + (GetU32(entry + 4) & ~kSubdirectoryFlag), entry,
                sizeof entry))
        return 0;
    if (!ReadAt(file, base + kResourceDirectorySize + (GetU32(entry + 4) & ~kSubdirectoryFlag), entry,
                sizeof entry))
        return 0;
    unsigned char dataEntry[kResourceDataEntrySize];
    if (!ReadAt(file, base + GetU32(entry + 4), dataEntry, sizeof dataEntry)) return 0;

    std::int64_t payload = static_cast<std::int64_t>(GetU32(dataEntry)) - virtualAddress + rawPointer;
    if (payload < 0) return 0;
    return g_platform->FileSeek(file, payload) == payload ? 1 : 0;
}

void DecodeRecord(const unsigned char* raw, FileRecord* record) {
    record->offset = GetU32(raw);
    record->storedSize = GetU32(raw + 4);
    record->unpackedSize = GetU32(raw + 8);
    std::memcpy(record->extension, raw + 12, kExtensionSize);
    record->kind = raw[27];
}

// Writes the description of a fault into the caller's message buffer.
int Fault(char* message, std::size_t size, const char* text) {
    if (size > 0) std::snprintf(message, size, "%s", text);
    return 0;
}

}  // namespace

OsFile OpenPayload(const char* path) {
    OsFile file = g_platform->FileOpenRead(path);
    if (file == kNoFile) return kNoFile;
    if (!SeekToPayload(file)) {
        g_platform->FileClose(file);
        return kNoFile;
    }
    return file;
}

void ReadTitle(const char* path, char* title) {
    OsFile file = OpenPayload(path);
    if (file == kNoFile) return;
    unsigned char length[2];
    char field[kTitleSize];
    if (ReadExactly(file, length, sizeof length) && Skip(file, GetU16(length)) &&
        ReadExactly(file, field, sizeof field)) {
        // The field is copied as it stands; its last byte is forced to NUL so
        // that a damaged catalogue can never leave an unterminated title.
        std::memcpy(title, field, kTitleSize);
        title[kTitleSize - 1] = '\0';
    }
    g_platform->FileClose(file);
}

char* ReadLicenseText(const char* path, std::uint32_t* length) {
    *length = 0;
    OsFile file = OpenPayload(path);
    if (file == kNoFile) return nullptr;
    char* text = nullptr;
    unsigned char field[2];
    if (ReadExactly(file, field, sizeof field)) {
        std::uint32_t count = GetU16(field);
        if (count != 0) text = g_platform->TextAlloc(count + 1);
        if (text && !ReadExactly(file, text, count)) {
            g_platform->TextFree(text);
            text = nullptr;
        }
        if (text) {
            text[count] = '\0';
            *length = count;
        }
    }
    g_platform->FileClose(file);
    return text;
}

int ReadCatalogueHead(OsFile payload, std::uint16_t* licenseLength, std::uint16_t* numberingBase) {
    unsigned char field[2];
    if (!ReadExactly(payload, field, sizeof field)) return 0;
    *licenseLength = GetU16(field);
    if (!Skip(payload, *licenseLength + kTitleSize)) return 0;
    if (!ReadExactly(payload, field, sizeof field)) return 0;
    *numberingBase = GetU16(field);
    return 1;
}

int ReadRecord(OsFile payload, FileRecord* record) {
    unsigned char raw[kRecordSize];
    if (!ReadExactly(payload, raw, sizeof raw)) return 0;
    DecodeRecord(raw, record);
    return 1;
}

int ValidatePayload(const char* path, char* message, std::size_t size) {
    if (size > 0) message[0] = '\0';
    OsFile file = OpenPayload(path);
    if (file == kNoFile) return Fault(message, size, "no payload: not a PE file with a resource section");

    char text[160];
    int sound = 0;
    const std::int64_t fileSize = g_platform->FileSize(file);
    const std::int64_t start = g_platform->FileTell(file);
    unsigned char field[2];
    char title[kTitleSize];
    if (fileSize < 0 || start < 0) {
        Fault(message, size, "the package's size cannot be had");
    } else if (!ReadExactly(file, field, sizeof field)) {
        Fault(message, size, "the catalogue ends inside the license length");
    } else if (start + 2 + GetU16(field) > fileSize) {
        std::snprintf(text, sizeof text, "the license text (%u bytes) runs past the end of the file",
                      static_cast<unsigned>(GetU16(field)));
        Fault(message, size, text);
    } else if (!Skip(file, GetU16(field)) || !ReadExactly(file, title, sizeof title)) {
        Fault(message, size, "the catalogue ends inside the title");
    } else if (std::memchr(title, '\0', sizeof title) == nullptr) {
        Fault(message, size, "the title has no terminating NUL within its 260 bytes");
    } else if (!ReadExactly(file, field, sizeof field)) {
        Fault(message, size, "the catalogue ends inside the numbering base");
    } else {
        FileRecord record;
        for (std::uint32_t index = 0;; ++index) {
            if (!ReadRecord(file, &record)) {
                std::snprintf(text, sizeof text,
                              "the catalogue ends at record %lu before its terminator record",
                              static_cast<unsigned long>(index));
                Fault(message, size, text);
                break;
            }
            if (record.storedSize == 0) {
                sound = 1;
                break;
            }
            // In 64 bits, so that offset + size cannot wrap.
            std::uint64_t end = static_cast<std::uint64_t>(record.offset) + record.storedSize;
            if (end > static_cast<std::uint64_t>(fileSize)) {
                std::snprintf(text, sizeof text,
                              "record %lu's data (offset %lu, %lu bytes) run past the end of the file "
                              "(%llu bytes)",
                              static_cast<unsigned long>(index), static_cast<unsigned long>(record.offset),
                              static_cast<unsigned long>(record.storedSize),
                              static_cast<unsigned long long>(fileSize));
                Fault(message, size, text);
                break;
            }
            if (record.unpackedSize >= kSizeLimit || record.storedSize >= kSizeLimit) {
                std::snprintf(text, sizeof text, "record %lu's sizes are not below 2^31",
                              static_cast<unsigned long>(index));
                Fault(message, size, text);
                break;
            }
        }
    }
    g_platform->FileClose(file);
    return sound;
}
