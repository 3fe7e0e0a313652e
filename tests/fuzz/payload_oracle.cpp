#include "payload_oracle.h"

#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "memory_platform.h"

namespace {

// Bounds-checked little-endian reads: false when the field does not lie
// wholly inside the file.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size;

    bool Has(std::uint64_t at, std::uint64_t width) const { return at <= size && width <= size - at; }
    std::uint32_t U16(std::uint64_t at) const { return data[at] | data[at + 1] << 8; }
    std::uint32_t U32(std::uint64_t at) const {
        return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
               static_cast<std::uint32_t>(data[at + 2]) << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
    }
};

// The file offset of the first resource's data, or false.
bool FindPayload(const Bytes& b, std::uint64_t* start) {
    if (!b.Has(0, 64) || b.data[0] != 'M' || b.data[1] != 'Z') return false;
    const std::uint64_t pe = b.U32(60);
    // Signature, file header and the 224-byte optional header must all be
    // there, even though only the first two are looked at.
    if (!b.Has(pe, 4 + 20 + 224) || std::memcmp(b.data + pe, "PE\0\0", 4) != 0) return false;
    const std::uint32_t sections = b.U16(pe + 6);
    std::uint64_t header = pe + 4 + 20 + 224;
    bool found = false;
    std::uint32_t virtualAddress = 0, rawPointer = 0;
    for (std::uint32_t i = 0; i < sections && !found; ++i, header += 40) {
        if (!b.Has(header, 40)) return false;
        char name[9] = {};
        std::memcpy(name, b.data + header, 8);
        if (std::strcmp(name, ".rsrc") == 0) {
            virtualAddress = b.U32(header + 12);
            rawPointer = b.U32(header + 20);
            found = true;
        }
    }
    if (!found) return false;
    const std::uint64_t base = rawPointer;
    std::uint64_t entry = base + 16;  // first entry of the type level
    for (int level = 0; level < 2; ++level) {
        if (!b.Has(entry, 8)) return false;
        entry = base + 16 + (b.U32(entry + 4) & 0x7FFFFFFFu);
    }
    if (!b.Has(entry, 8)) return false;
    const std::uint64_t dataEntry = base + b.U32(entry + 4);
    if (!b.Has(dataEntry, 16)) return false;
    const std::int64_t payload = static_cast<std::int64_t>(b.U32(dataEntry)) - virtualAddress + rawPointer;
    if (payload < 0) return false;
    *start = static_cast<std::uint64_t>(payload);
    return true;
}

FileRecord RecordAt(const Bytes& b, std::uint64_t at) {
    FileRecord r;
    r.offset = b.U32(at);
    r.storedSize = b.U32(at + 4);
    r.unpackedSize = b.U32(at + 8);
    std::memcpy(r.extension, b.data + at + 12, kExtensionSize);
    r.kind = b.data[at + 27];
    return r;
}

bool SameRecord(const FileRecord& a, const FileRecord& b) {
    return a.offset == b.offset && a.storedSize == b.storedSize && a.unpackedSize == b.unpackedSize &&
           std::memcmp(a.extension, b.extension, kExtensionSize) == 0 && a.kind == b.kind;
}

// Every operation opens the installer anew and must close it again.
void CheckClosed() {
    FUZZ_CHECK(MemoryFilesOpen() == 0, "an operation left the installer file open");
    FUZZ_CHECK(g_memoryStats.textBlocks == 0, "a license block was lost or freed twice");
}

}  // namespace

ExpectedPayload ReadExpectedPayload(const std::uint8_t* data, std::size_t size) {
    ExpectedPayload e;
    const Bytes b{data, size};
    e.found = FindPayload(b, &e.start);
    if (!e.found) return e;

    std::uint64_t at = e.start;
    e.hasLength = b.Has(at, 2);
    if (!e.hasLength) return e;
    e.licenseLength = static_cast<std::uint16_t>(b.U16(at));
    at += 2 + e.licenseLength;
    e.hasTitle = b.Has(at, kTitleSize);
    if (e.hasTitle) std::memcpy(e.title, data + at, kTitleSize);
    at += kTitleSize;
    e.hasHead = b.Has(at, 2);
    if (!e.hasHead) return e;
    e.numberingBase = static_cast<std::uint16_t>(b.U16(at));
    at += 2;
    for (; b.Has(at, kRecordSize); at += kRecordSize) {
        e.records.push_back(RecordAt(b, at));
        if (e.records.back().storedSize == 0) {
            e.terminated = true;
            break;
        }
    }

    // Validation: license inside the file, a NUL in the title, a terminator,
    // and every record before it inside the file with sizes below 2^31.
    e.sound = e.hasTitle && std::memchr(e.title, 0, kTitleSize) != nullptr && e.terminated;
    for (std::size_t i = 0; e.sound && i + 1 < e.records.size(); ++i) {
        const FileRecord& r = e.records[i];
        e.sound = static_cast<std::uint64_t>(r.offset) + r.storedSize <= size && r.storedSize < 0x80000000u &&
                  r.unpackedSize < 0x80000000u;
    }
    return e;
}

ExpectedPayload CheckPayloadOperations(const std::uint8_t* data, std::size_t size, std::size_t messageSize) {
    const ExpectedPayload e = ReadExpectedPayload(data, size);

    // OpenPayload: found where expected, or not at all.
    MemoryFilesReset(data, size);
    OsFile payload = OpenPayload(kMemoryInstallerPath);
    FUZZ_CHECK((payload != kNoFile) == e.found, "OpenPayload's success differs from the expected reading");
    if (payload != kNoFile) {
        FUZZ_CHECK(g_platform->FileTell(payload) == static_cast<std::int64_t>(e.start),
                   "OpenPayload stopped at another position than the first resource's data");
        g_platform->FileClose(payload);
    }
    CheckClosed();

    // ReadTitle: the field with its last byte forced to NUL, or the buffer
    // untouched.
    MemoryFilesReset(data, size);
    char title[kTitleSize];
    std::memset(title, 0xA5, sizeof title);
    ReadTitle(kMemoryInstallerPath, title);
    if (e.hasTitle) {
        FUZZ_CHECK(std::memcmp(title, e.title, kTitleSize - 1) == 0, "ReadTitle copied other bytes than the title field");
        FUZZ_CHECK(title[kTitleSize - 1] == '\0', "ReadTitle left the title unterminated");
    } else {
        for (char c : title) FUZZ_CHECK(static_cast<std::uint8_t>(c) == 0xA5, "ReadTitle wrote without a whole title field");
    }
    CheckClosed();

    // ReadLicenseText: L + 1 bytes ending with a NUL, or nothing.
    MemoryFilesReset(data, size);
    std::uint32_t length = 12345;
    char* text = ReadLicenseText(kMemoryInstallerPath, &length);
    const bool licenseExpected = e.hasLength && e.licenseLength > 0 && Bytes{data, size}.Has(e.start + 2, e.licenseLength);
    FUZZ_CHECK((text != nullptr) == licenseExpected, "ReadLicenseText's result differs from the expected reading");
    if (text) {
        FUZZ_CHECK(length == e.licenseLength, "ReadLicenseText reported another length");
        FUZZ_CHECK(std::memcmp(text, data + e.start + 2, length) == 0, "ReadLicenseText read other bytes");
        FUZZ_CHECK(text[length] == '\0', "the license block does not end with a NUL");
        g_platform->TextFree(text);
    } else {
        FUZZ_CHECK(length == 0, "ReadLicenseText without a text reported a length");
    }
    CheckClosed();

    // SumEntrySizes: every record read, terminator included, in 64 bits.
    MemoryFilesReset(data, size);
    std::uint64_t total = 777;
    int opened = SumEntrySizes(kMemoryInstallerPath, &total);
    FUZZ_CHECK(opened == (e.found && e.hasHead ? 1 : 0),
               "SumEntrySizes reported another outcome of opening the catalogue");
    std::uint64_t expectedTotal = 0;
    for (const FileRecord& r : e.records) expectedTotal += r.unpackedSize != 0 ? r.unpackedSize : r.storedSize;
    FUZZ_CHECK(total == expectedTotal, "SumEntrySizes gave another total");
    CheckClosed();

    // ValidatePayload, with a message buffer of exactly the given size so
    // that a write past it is caught.
    MemoryFilesReset(data, size);
    std::unique_ptr<char[]> message(new char[messageSize ? messageSize : 1]);
    std::memset(message.get(), 'x', messageSize ? messageSize : 1);
    int sound = ValidatePayload(kMemoryInstallerPath, message.get(), messageSize);
    FUZZ_CHECK(sound == (e.sound ? 1 : 0), "ValidatePayload's verdict differs from the expected reading");
    if (messageSize == 0) {
        FUZZ_CHECK(message[0] == 'x', "ValidatePayload wrote into a buffer of size 0");
    } else {
        FUZZ_CHECK(std::memchr(message.get(), 0, messageSize) != nullptr, "the validation message is not terminated");
        if (sound)
            FUZZ_CHECK(message[0] == '\0', "a sound package came with a fault message");
        else if (messageSize > 1)
            FUZZ_CHECK(message[0] != '\0', "a refused package came without a message");
    }
    CheckClosed();

    // The catalogue walk as the extraction does it.
    MemoryFilesReset(data, size);
    payload = OpenPayload(kMemoryInstallerPath);
    if (payload != kNoFile) {
        std::uint16_t licenseLength = 0, base = 0;
        if (ReadCatalogueHead(payload, &licenseLength, &base)) {
            FUZZ_CHECK(e.hasHead, "ReadCatalogueHead succeeded on a catalogue cut short");
            FUZZ_CHECK(licenseLength == e.licenseLength && base == e.numberingBase,
                       "ReadCatalogueHead read other fields");
            std::size_t count = 0;
            FileRecord record;
            while (ReadRecord(payload, &record)) {
                FUZZ_CHECK(count < e.records.size(), "the walk went on past the last whole record");
                FUZZ_CHECK(SameRecord(record, e.records[count]), "ReadRecord read another record");
                ++count;
                if (record.storedSize == 0) break;
            }
            FUZZ_CHECK(count == e.records.size(), "the walk ended before the last whole record");
        } else {
            FUZZ_CHECK(!e.hasHead, "ReadCatalogueHead failed on a whole catalogue head");
        }
        g_platform->FileClose(payload);
    }
    CheckClosed();
    return e;
}
