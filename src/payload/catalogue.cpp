#include "payload/catalogue.h"

#include <cstring>

#include "payload/payload.h"

int OpenCatalogue(const char* path, CatalogueCursor* cursor) {
    *cursor = CatalogueCursor{};
    cursor->file = OpenPayload(path);
    if (cursor->file == kNoFile) return 0;
    if (!ReadCatalogueHead(cursor->file, &cursor->licenseLength, &cursor->numberingBase)) {
        CloseCatalogue(cursor);
        return 0;
    }
    cursor->index = ~std::uint32_t{0};  // the first NextRecord reads record 0
    return 1;
}

int NextRecord(CatalogueCursor* cursor) {
    if (cursor->file == kNoFile || cursor->atTerminator) return 0;
    if (!ReadRecord(cursor->file, &cursor->record)) {
        std::memset(&cursor->record, 0, sizeof cursor->record);
        return 0;
    }
    ++cursor->index;
    if (cursor->record.storedSize == 0) {
        cursor->atTerminator = 1;
        return 0;
    }
    return 1;
}

void CloseCatalogue(CatalogueCursor* cursor) {
    if (cursor->file != kNoFile) g_platform->FileClose(cursor->file);
    cursor->file = kNoFile;
}

int SumEntrySizes(const char* path, std::uint64_t* total) {
    *total = 0;
    CatalogueCursor cursor;
    if (!OpenCatalogue(path, &cursor)) return 0;
    while (NextRecord(&cursor)) *total += InstalledSize(cursor.record);
    if (cursor.atTerminator) *total += cursor.record.unpackedSize;  // the terminator counts too
    CloseCatalogue(&cursor);
    return 1;
}

namespace {

int IsForbidden(unsigned char c) { return c != 0 && std::strchr("\\/:*?\"<>|", c) != nullptr; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

int IsDeviceName(const char* name) {
    std::size_t n = std::strcspn(name, ".");
    while (n > 0 && name[n - 1] == ' ') --n;
    if (n != 3 && n != 4) return 0;
    char device[5] = {};
    for (std::size_t i = 0; i < n; ++i) device[i] = Upper(name[i]);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* d : kDevices)
        if (std::strcmp(device, d) == 0) return 1;
    if (n == 4 && (std::strncmp(device, "COM", 3) == 0 || std::strncmp(device, "LPT", 3) == 0)) {
        unsigned char digit = static_cast<unsigned char>(device[3]);
        // 1 to 9, and the superscript digits 1, 2 and 3 of code page 1252.
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return 0;
}

TitleFault CheckTitle(const char* title) {
    std::size_t length = std::strlen(title);
    // Windows drops trailing dots and blanks from a name; nothing may be left
    // of it then ("", ".", "..", " . " would name the vendor's own folder).
    std::size_t kept = length;
    while (kept > 0 && (title[kept - 1] == '.' || title[kept - 1] == ' ')) --kept;
    if (kept == 0) return kTitleEmpty;
    if (length > kLongestTitle) return kTitleTooLong;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(title[i]);
        if (c < 32) return kTitleControl;
        if (IsForbidden(c)) return kTitleForbidden;
    }
    return IsDeviceName(title) ? kTitleDevice : kTitleSound;
}

ExtensionFault CheckExtension(const char* field) {
    for (std::uint32_t i = 0; i < kExtensionSize && field[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (c < 32) return kExtensionControl;
        if (IsForbidden(c)) return kExtensionForbidden;
    }
    return kExtensionSound;
}
