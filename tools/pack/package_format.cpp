#include "package_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "encoder/encoder.h"
#include "payload/naming.h"
#include "payload/pe_format.h"
#include "pe_layout.h"

namespace {

void PutU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

// The stub read with the tools' PE reader, with what the installer's own
// walk assumes of it: a 224-byte optional header (it reads the section
// table right after one, whatever SizeOfOptionalHeader says) and a
// resource tree in the first ".rsrc" section.
std::string ReadStub(const Bytes& file, PeImage* image, std::vector<FileRange>* structure,
                     std::vector<FileRange>* data, ResourceNode* root) {
    std::string problem;
    if (!ParsePe(file, image, &problem)) return problem;
    if (image->sizeOfOptionalHeader != kOptionalHeaderSize)
        return "optional header is " + std::to_string(image->sizeOfOptionalHeader) +
               " bytes, not the 224 the installer expects";
    if (!ParseResources(file, *image, root, &problem, structure, data)) return problem;
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

}  // namespace

std::string FindStubAnchor(const std::string& stub, StubAnchor* anchor) {
    const Bytes file(stub.begin(), stub.end());
    PeImage image;
    ResourceNode root;
    std::string problem = ReadStub(file, &image, nullptr, nullptr, &root);
    if (!problem.empty()) return problem;
    // The installer takes the first entry at the type, name and language
    // levels: the root's first entry and each directory's first entry are
    // the 8 bytes right after its 16-byte header, whatever the entry counts
    // say. On a tree read whole, with a directory at the first two levels
    // and a data entry at the third, that is the tree's first resource.
    std::vector<const ResourceNode*> path;
    const ResourceNode* first = FirstResource(root, &path);
    if (!first || path.size() != 3) return "its first resource is not three levels deep (type, name, language)";
    // The installer places the data by the first ".rsrc" section's address
    // and file offset alone; CheckStubCut makes sure they lie in it.
    const PeSection& rsrc = *image.Find(".rsrc");
    const std::int64_t data = static_cast<std::int64_t>(first->dataRva) - rsrc.virtualAddress + rsrc.pointerToRawData;
    if (data < 0 || static_cast<std::uint64_t>(data) > stub.size())
        return "its first resource's data lie outside the file";
    anchor->dataOffset = static_cast<std::uint32_t>(data);
    return "";
}

std::string CheckStubCut(const std::string& stub, const StubAnchor& anchor) {
    const Bytes file(stub.begin(), stub.end());
    PeImage image;
    ResourceNode root;
    std::vector<FileRange> structure, data;
    std::string problem = ReadStub(file, &image, &structure, &data, &root);
    if (!problem.empty()) return problem;
    return FindCutFault(file, image, structure, data, anchor.dataOffset);
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
    std::vector<FileRecord> records;
    std::uint64_t offset = payloadStart + FirstRecordOffset(static_cast<std::uint32_t>(license.size())) +
                           (entries.size() + 1) * kRecordSize;
    for (const CatalogueEntry& e : entries) {
        if (offset > 0xFFFFFFFFu || e.stored.size() > 0xFFFFFFFFu)
            throw std::length_error("package larger than 4 GB");
        FileRecord r{};
        r.offset = static_cast<std::uint32_t>(offset);
        r.storedSize = static_cast<std::uint32_t>(e.stored.size());
        r.unpackedSize = e.unpackedSize;
        std::memcpy(r.extension, e.extension, kExtensionSize);
        r.kind = e.kind;
        records.push_back(r);
        offset += e.stored.size();
    }
    std::string out = LayOutCatalogue(title, license, numberingBase, records);
    for (const CatalogueEntry& e : entries) out += e.stored;
    return out;
}

std::string LayOutCatalogue(const std::string& title, const std::string& license, std::uint16_t numberingBase,
                            const std::vector<FileRecord>& records) {
    std::string out;
    PutU16(out, static_cast<std::uint16_t>(license.size() & 0xFFFF));
    out += license;
    std::string titleField = title.substr(0, kTitleSize);
    titleField.resize(kTitleSize, '\0');
    out += titleField;
    PutU16(out, numberingBase);
    for (const FileRecord& r : records) {
        PutU32(out, r.offset);
        PutU32(out, r.storedSize);
        PutU32(out, r.unpackedSize);
        out.append(r.extension, kExtensionSize);
        out.push_back(static_cast<char>(r.kind));
    }
    out.append(kRecordSize, '\0');
    return out;
}

std::uint64_t SectionsEnd(const std::string& stub) {
    PeImage image;
    std::string problem;
    if (!ParsePe(Bytes(stub.begin(), stub.end()), &image, &problem)) return 0;
    std::uint64_t end = 0;
    for (const PeSection& s : image.sections)
        if (s.sizeOfRawData != 0)
            end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(s.pointerToRawData) + s.sizeOfRawData);
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

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
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
