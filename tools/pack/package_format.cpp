#include "package_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include "payload/encoder.h"
#include "payload/naming.h"
#include "payload/pe_format.h"

namespace {

constexpr std::uint32_t kSymbolSize = 18;
constexpr std::uint32_t kDebugEntrySize = 28;

// Data directory slots whose value is not an RVA or is checked elsewhere.
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint32_t kDebugDirectory = 6;

const char* const kDirectoryNames[16] = {
    "export",       "import",       "resource",     "exception",
    "certificate",  "base relocation", "debug",     "architecture",
    "global pointer", "TLS",        "load configuration", "bound import",
    "import address", "delay import", "CLR runtime", "reserved",
};

bool Has(const std::string& bytes, std::uint64_t offset, std::uint64_t size) {
    return offset <= bytes.size() && size <= bytes.size() - offset;
}

std::uint16_t U16(const std::string& b, std::uint64_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) |
                                      static_cast<std::uint8_t>(b[at + 1]) << 8);
}

std::uint32_t U32(const std::string& b, std::uint64_t at) {
    return static_cast<std::uint32_t>(U16(b, at)) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

void PutU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

std::string Hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

struct Section {
    std::string name;
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawPointer;
};

// The parts of a stub's headers that the checks need.
struct StubHeaders {
    std::uint32_t peOffset = 0;
    std::uint16_t optionalHeaderSize = 0;
    std::uint32_t symbolTable = 0;
    std::uint32_t symbolCount = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t directoryCount = 0;
    std::uint32_t directories[16][2] = {};
    std::vector<Section> sections;
    int rsrc = -1;  // index of the first ".rsrc" section
};

std::string ParseHeaders(const std::string& stub, StubHeaders* h) {
    if (!Has(stub, 0, 64)) return "too short for a DOS header";
    if (stub[0] != 'M' || stub[1] != 'Z') return "not an executable (no \"MZ\" signature)";
    h->peOffset = U32(stub, kLfanewOffset);
    std::uint64_t fileHeader = static_cast<std::uint64_t>(h->peOffset) + 4;
    if (!Has(stub, h->peOffset, 4 + kFileHeaderSize + kOptionalHeaderSize))
        return "ends inside its PE headers";
    if (stub.compare(h->peOffset, 4, std::string("PE\0\0", 4)) != 0)
        return "not a PE file (no \"PE\" signature)";
    std::uint16_t sectionCount = U16(stub, fileHeader + 2);
    h->symbolTable = U32(stub, fileHeader + 8);
    h->symbolCount = U32(stub, fileHeader + 12);
    h->optionalHeaderSize = U16(stub, fileHeader + 16);
    std::uint64_t optional = fileHeader + kFileHeaderSize;
    if (U16(stub, optional) != 0x10B) return "not a 32-bit image (optional header magic is not 0x10B)";
    if (h->optionalHeaderSize != kOptionalHeaderSize)
        return "optional header is " + std::to_string(h->optionalHeaderSize) +
               " bytes, not the 224 the installer expects";
    h->sizeOfHeaders = U32(stub, optional + 60);
    h->directoryCount = std::min<std::uint32_t>(U32(stub, optional + 92), 16);
    for (std::uint32_t i = 0; i < h->directoryCount; ++i) {
        h->directories[i][0] = U32(stub, optional + 96 + 8 * i);
        h->directories[i][1] = U32(stub, optional + 96 + 8 * i + 4);
    }
    std::uint64_t table = optional + kOptionalHeaderSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        std::uint64_t at = table + static_cast<std::uint64_t>(i) * kSectionHeaderSize;
        if (!Has(stub, at, kSectionHeaderSize)) return "ends inside its section table";
        Section s;
        s.name = std::string(stub.data() + at, 8).c_str();
        s.virtualSize = U32(stub, at + 8);
        s.virtualAddress = U32(stub, at + 12);
        s.rawSize = U32(stub, at + 16);
        s.rawPointer = U32(stub, at + 20);
        if (h->rsrc < 0 && s.name == ".rsrc") h->rsrc = static_cast<int>(h->sections.size());
        h->sections.push_back(s);
    }
    if (h->rsrc < 0) return "has no \".rsrc\" section";
    return "";
}

// The file offset of an RVA, or false when no section's raw data hold it.
bool RvaToFile(const StubHeaders& h, std::uint32_t rva, std::uint64_t* file) {
    if (rva < h.sizeOfHeaders) {
        *file = rva;
        return true;
    }
    for (const Section& s : h.sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
            *file = static_cast<std::uint64_t>(s.rawPointer) + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

// Walks the resource tree below `directory` (offset from the section start)
// and reports the first structure or data that lies at or after the cut.
std::string CheckResourceDirectory(const std::string& stub, const StubHeaders& h,
                                   std::uint32_t directory, int level,
                                   std::uint64_t anchorEntry, std::uint64_t cut,
                                   std::set<std::uint32_t>& seen) {
    const Section& rsrc = h.sections[static_cast<std::size_t>(h.rsrc)];
    std::uint64_t base = rsrc.rawPointer;
    if (level > 3 || !seen.insert(directory).second) return "the resource tree loops or is too deep";
    std::uint64_t at = base + directory;
    if (!Has(stub, at, kResourceDirectorySize)) return "the resource tree runs past the end of the stub";
    std::uint32_t count = static_cast<std::uint32_t>(U16(stub, at + 12)) + U16(stub, at + 14);
    std::uint64_t end = at + kResourceDirectorySize + static_cast<std::uint64_t>(count) * kResourceEntrySize;
    if (end > cut) return "a resource directory lies at or after the payload anchor's data";
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t entry = at + kResourceDirectorySize + static_cast<std::uint64_t>(i) * kResourceEntrySize;
        std::uint32_t name = U32(stub, entry);
        std::uint32_t offset = U32(stub, entry + 4);
        if (name & kSubdirectoryFlag) {
            std::uint64_t text = base + (name & ~kSubdirectoryFlag);
            if (!Has(stub, text, 2)) return "a resource name lies past the end of the stub";
            if (text + 2 + 2ull * U16(stub, text) > cut)
                return "a resource name lies at or after the payload anchor's data";
        }
        if (offset & kSubdirectoryFlag) {
            std::string problem = CheckResourceDirectory(stub, h, offset & ~kSubdirectoryFlag, level + 1,
                                                         anchorEntry, cut, seen);
            if (!problem.empty()) return problem;
            continue;
        }
        std::uint64_t dataEntry = base + offset;
        if (!Has(stub, dataEntry, kResourceDataEntrySize)) return "a resource entry lies past the end of the stub";
        if (dataEntry + kResourceDataEntrySize > cut)
            return "a resource data entry lies at or after the payload anchor's data";
        if (dataEntry == anchorEntry) continue;
        std::uint64_t file = 0;
        std::uint32_t size = U32(stub, dataEntry + 4);
        if (size != 0 && RvaToFile(h, U32(stub, dataEntry), &file) && file + size > cut)
            return "another resource's data (file offset " + Hex(file) + ", " + std::to_string(size) +
                   " bytes) lie at or after the payload anchor's data at " + Hex(cut);
    }
    return "";
}

// Code page 1252's characters for the bytes 0x80 to 0x9F (0 where the code
// page has none); every other byte is the Unicode character of its value.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Decodes the character at text[*i] and moves *i past it; false for an
// invalid, overlong or surrogate sequence.
bool NextUtf8(const std::string& text, std::size_t* i, std::uint32_t* c) {
    unsigned char lead = static_cast<unsigned char>(text[*i]);
    std::size_t extra = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
        *c = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        *c = lead & 0x1F;
        extra = 1;
        least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        *c = lead & 0x0F;
        extra = 2;
        least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        *c = lead & 0x07;
        extra = 3;
        least = 0x10000;
    } else {
        return false;
    }
    if (*i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
        unsigned char next = static_cast<unsigned char>(text[*i + k]);
        if ((next & 0xC0) != 0x80) return false;
        *c = *c << 6 | (next & 0x3F);
    }
    if (*c < least || (*c >= 0xD800 && *c < 0xE000) || *c > 0x10FFFF) return false;
    *i += extra + 1;
    return true;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::string FindStubAnchor(const std::string& stub, StubAnchor* anchor) {
    StubHeaders h;
    std::string problem = ParseHeaders(stub, &h);
    if (!problem.empty()) return problem;
    const Section& rsrc = h.sections[static_cast<std::size_t>(h.rsrc)];
    // The first entry at each level; offsets masked at the type and name
    // levels, used as they stand at the language level.
    std::uint64_t base = rsrc.rawPointer;
    std::uint64_t entry = base + kResourceDirectorySize;
    for (int level = 1; level <= 3; ++level) {
        if (!Has(stub, entry, kResourceEntrySize)) return "its resource tree runs past the end of the file";
        std::uint32_t offset = U32(stub, entry + 4);
        if (level < 3) {
            if (!(offset & kSubdirectoryFlag))
                return "its first resource is not three levels deep (type, name, language)";
            entry = base + kResourceDirectorySize + (offset & ~kSubdirectoryFlag);
        } else {
            if (offset & kSubdirectoryFlag) return "its first resource is more than three levels deep";
            entry = base + offset;
        }
    }
    if (!Has(stub, entry, kResourceDataEntrySize)) return "its resource tree runs past the end of the file";
    std::int64_t data = static_cast<std::int64_t>(U32(stub, entry)) - rsrc.virtualAddress + rsrc.rawPointer;
    if (data < 0 || static_cast<std::uint64_t>(data) > stub.size())
        return "its first resource's data lie outside the file";
    anchor->dataOffset = static_cast<std::uint32_t>(data);
    anchor->dataSize = U32(stub, entry + 4);
    return "";
}

std::string CheckStubCut(const std::string& stub, const StubAnchor& anchor) {
    StubHeaders h;
    std::string problem = ParseHeaders(stub, &h);
    if (!problem.empty()) return problem;
    const std::uint64_t cut = anchor.dataOffset;
    std::uint64_t headersEnd = static_cast<std::uint64_t>(h.peOffset) + 4 + kFileHeaderSize +
                               kOptionalHeaderSize + h.sections.size() * kSectionHeaderSize;
    if (cut < headersEnd) return "the payload anchor's data lie inside the PE headers";

    for (std::size_t i = 0; i < h.sections.size(); ++i) {
        const Section& s = h.sections[i];
        if (s.rawSize == 0) continue;
        std::uint64_t end = static_cast<std::uint64_t>(s.rawPointer) + s.rawSize;
        if (static_cast<int>(i) == h.rsrc) {
            if (cut < s.rawPointer || cut > end)
                return "the payload anchor's data lie outside the \".rsrc\" section";
            continue;  // its bytes after the anchor are checked resource by resource
        }
        if (end > cut)
            return "section \"" + s.name + "\" has data (file offsets " + Hex(s.rawPointer) + " to " +
                   Hex(end) + ") at or after the payload anchor's data at " + Hex(cut);
    }

    if (h.symbolTable != 0) {
        std::uint64_t end = static_cast<std::uint64_t>(h.symbolTable) +
                            static_cast<std::uint64_t>(h.symbolCount) * kSymbolSize;
        if (Has(stub, end, 4)) end += U32(stub, end);  // the string table follows
        if (end > cut) return "its symbol table lies at or after the payload anchor's data (strip the stub)";
    }

    for (std::uint32_t i = 0; i < h.directoryCount; ++i) {
        std::uint32_t rva = h.directories[i][0], size = h.directories[i][1];
        if (rva == 0 || size == 0 || i == kResourceDirectory) continue;
        std::uint64_t file = 0;
        if (i == kCertificateDirectory) {
            file = rva;  // a file offset, not an RVA
        } else if (!RvaToFile(h, rva, &file)) {
            continue;  // not backed by file data
        }
        if (file + size > cut)
            return std::string("its ") + kDirectoryNames[i] + " data directory points at or after the payload "
                   "anchor's data at " + Hex(cut);
        if (i == kDebugDirectory && Has(stub, file, size)) {
            for (std::uint64_t d = file; d + kDebugEntrySize <= file + size; d += kDebugEntrySize) {
                std::uint64_t raw = U32(stub, d + 24), rawSize = U32(stub, d + 16);
                if (raw != 0 && rawSize != 0 && raw + rawSize > cut)
                    return "its debug data lie at or after the payload anchor's data (strip the stub)";
            }
        }
    }

    // The anchor's data entry, as FindStubAnchor reached it.
    const Section& rsrc = h.sections[static_cast<std::size_t>(h.rsrc)];
    std::uint64_t base = rsrc.rawPointer;
    std::uint64_t entry = base + kResourceDirectorySize;
    for (int level = 1; level <= 3 && Has(stub, entry, kResourceEntrySize); ++level) {
        std::uint32_t offset = U32(stub, entry + 4);
        entry = level < 3 ? base + kResourceDirectorySize + (offset & ~kSubdirectoryFlag) : base + offset;
    }
    std::set<std::uint32_t> seen;
    return CheckResourceDirectory(stub, h, 0, 1, entry, cut, seen);
}

CatalogueEntry PrepareEntry(const std::string& data, PackChoice choice, const std::string& extension,
                            std::uint8_t kind) {
    CatalogueEntry entry;
    std::memset(entry.extension, ' ', kExtensionSize);
    std::memcpy(entry.extension, extension.data(), std::min<std::size_t>(extension.size(), kExtensionSize));
    entry.kind = kind;
    entry.stored = data;
    if (choice != PackChoice::Store && !data.empty()) {
        std::vector<std::uint8_t> packed =
            LzhufEncode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        if (choice == PackChoice::Pack || packed.size() < data.size()) {
            entry.stored.assign(packed.begin(), packed.end());
            entry.unpackedSize = static_cast<std::uint32_t>(data.size());
        }
    }
    return entry;
}

std::string LayOutPayload(std::uint64_t payloadStart, const std::string& title, const std::string& license,
                          std::uint16_t numberingBase, const std::vector<CatalogueEntry>& entries) {
    std::string out;
    PutU16(out, static_cast<std::uint16_t>(license.size() & 0xFFFF));
    out += license;
    std::string titleField = title.substr(0, kTitleSize);
    titleField.resize(kTitleSize, '\0');
    out += titleField;
    PutU16(out, numberingBase);
    std::uint64_t offset = payloadStart + out.size() + (entries.size() + 1) * kRecordSize;
    for (const CatalogueEntry& e : entries) {
        if (offset > 0xFFFFFFFFu || e.stored.size() > 0xFFFFFFFFu)
            throw std::length_error("package larger than 4 GB");
        PutU32(out, static_cast<std::uint32_t>(offset));
        PutU32(out, static_cast<std::uint32_t>(e.stored.size()));
        PutU32(out, e.unpackedSize);
        out.append(e.extension, kExtensionSize);
        out.push_back(static_cast<char>(e.kind));
        offset += e.stored.size();
    }
    out.append(kRecordSize, '\0');
    for (const CatalogueEntry& e : entries) out += e.stored;
    return out;
}

std::uint64_t SectionsEnd(const std::string& stub) {
    StubHeaders h;
    if (!ParseHeaders(stub, &h).empty()) return 0;
    std::uint64_t end = 0;
    for (const Section& s : h.sections)
        if (s.rawSize != 0) end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(s.rawPointer) + s.rawSize);
    return end;
}

std::string TitleRuleText(TitleFault fault) {
    switch (fault) {
    case kTitleSound: return "";
    case kTitleEmpty: return "the title is empty, or only dots and blanks, which Windows drops from a name";
    case kTitleTooLong:
        return "the title is longer than " + std::to_string(kLongestTitle) +
               " bytes, so the installer cannot name \"TITLE.scr\" in 259 characters";
    case kTitleForbidden: return "the title holds one of \\ / : * ? \" < > |, which Windows forbids in file names";
    case kTitleControl: return "the title holds a control character";
    case kTitleDevice: return "the title is a name Windows reserves for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    }
    return "the title cannot name a Windows file";
}

std::string TitleProblem(const std::string& title) {
    if (title.size() > kMaxTitleLength)
        return "the title is " + std::to_string(title.size()) + " bytes long; at most 259 fit";
    if (title.find('\0') != std::string::npos) return "the title holds a control character";
    // The installer strips trailing blanks before it names any file.
    std::string name = title.substr(0, title.find_last_not_of(' ') + 1);
    std::string installer = TitleRuleText(CheckTitle(name.c_str()));
    if (!installer.empty()) return installer;
    // Stricter than the installer: Windows would drop a final dot from the
    // data folder's name, and DEL shows as a box in every dialog.
    if (name.back() == '.') return "the title may not end with a dot (Windows drops it from the folder's name)";
    if (name.find('\x7f') != std::string::npos) return "the title holds a control character";
    return "";
}

std::string ExtensionProblem(const std::string& extension) {
    if (extension.size() > kExtensionSize)
        return "the extension \"" + extension + "\" is longer than 15 characters";
    char field[kExtensionSize] = {};
    std::memcpy(field, extension.data(), extension.size());
    if (extension.find('\0') != std::string::npos) return "the extension \"" + extension + "\" holds a control character";
    switch (CheckExtension(field)) {
    case kExtensionSound: break;
    case kExtensionForbidden:
        return "the extension \"" + extension + "\" holds a character Windows forbids in file names";
    case kExtensionControl: return "the extension \"" + extension + "\" holds a control character";
    }
    if (extension.find('\x7f') != std::string::npos) return "the extension \"" + extension + "\" holds a control character";
    return "";
}

namespace {

// A Windows folder and a common application-data folder.
struct Folders {
    const char* windows;
    const char* commonAppData;
};

// The folders the installer uses by default on the Windows versions it
// supports.
constexpr Folders kDefaultFolders[] = {
    {"C:\\WINDOWS", "C:\\Documents and Settings\\All Users\\Application Data"},  // XP
    {"C:\\Windows", "C:\\ProgramData"},                                             // Vista and later
};

// The shortest folders any machine can have: the root of a drive for both.
constexpr Folders kShortestFolders[] = {{"C:\\", "C:\\"}};

template <std::size_t N>
bool PathsFit(const std::string& title, std::uint16_t numberingBase, const std::vector<FileRecord>& records,
              const Folders (&folders)[N]) {
    for (const Folders& f : folders)
        if (!PackagePathsFit(title.c_str(), f.windows, f.commonAppData, numberingBase, records.data(),
                             static_cast<std::uint32_t>(records.size())))
            return false;
    return true;
}

// The longest title whose paths fit under `folders`: every path grows with
// the title's length only, not with its letters.
template <std::size_t N>
std::size_t LongestFittingTitle(std::size_t from, std::uint16_t numberingBase, const std::vector<FileRecord>& records,
                                const Folders (&folders)[N]) {
    std::size_t longest = from;
    while (longest > 0 && !PathsFit(std::string(longest, 'x'), numberingBase, records, folders)) --longest;
    return longest;
}

std::string StripBlanks(const std::string& title) { return title.substr(0, title.find_last_not_of(' ') + 1); }

}  // namespace

std::string PathLengthProblem(const std::string& title, std::uint16_t numberingBase,
                              const std::vector<FileRecord>& records) {
    std::string name = StripBlanks(title);
    if (PathsFit(name, numberingBase, records, kShortestFolders)) return "";
    return "with this title the installed paths exceed 259 characters even under C:\\, so no machine can "
           "install the package; titles of at most " +
           std::to_string(LongestFittingTitle(name.size(), numberingBase, records, kShortestFolders)) +
           " bytes fit";
}

std::string PathLengthWarning(const std::string& title, std::uint16_t numberingBase,
                              const std::vector<FileRecord>& records) {
    std::string name = StripBlanks(title);
    if (PathsFit(name, numberingBase, records, kDefaultFolders)) return "";
    return "with this title some installed paths exceed 259 characters under Windows' default folders "
           "(C:\\Documents and Settings\\All Users\\Application Data on Windows XP), where the installer "
           "refuses the package; titles of at most " +
           std::to_string(LongestFittingTitle(name.size(), numberingBase, records, kDefaultFolders)) +
           " bytes fit";
}

std::string MediaExtension(const std::string& fileName) {
    std::string name = fileName.substr(fileName.find_last_of('/') + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string extension = name.substr(dot);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return extension;
}

bool Utf8ToCp1252(const std::string& utf8, std::string* cp1252) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t c = 0;
        if (!NextUtf8(utf8, &i, &c)) return false;
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const std::uint16_t* found = std::find(kCp1252High, kCp1252High + 32, static_cast<std::uint16_t>(c));
        if (c > 0xFFFF || found == kCp1252High + 32) return false;
        out.push_back(static_cast<char>(0x80 + (found - kCp1252High)));
    }
    *cp1252 = out;
    return true;
}

bool IsValidUtf8(const std::string& text) {
    std::uint32_t c = 0;
    for (std::size_t i = 0; i < text.size();)
        if (!NextUtf8(text, &i, &c)) return false;
    return true;
}

std::string Cp1252ToUtf8(const std::string& cp1252) {
    std::string out;
    for (unsigned char c : cp1252) {
        std::uint32_t code = c;
        if (c >= 0x80 && c < 0xA0) code = kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : 0xFFFD;
        AppendUtf8(out, code);
    }
    return out;
}
