// Reading and rearranging the 32-bit PE image of the installer stub: the one
// PE reader of the tools, shared by the post-link layout step, the checks of
// the built stub and glimmer-pack's check of the stub it cuts. Host code: it
// runs on the build machine, never inside the stub.
//
// The installer finds its payload at the data of the first resource of its
// own file and reads on from there to the end of the file; glimmer-pack cuts
// the stub at that point and appends the payload. So the stub's layout must
// end with that resource's data: every section's raw data, the relocation
// table, the symbol table and every other resource byte must come before
// it. ld puts .reloc after .rsrc and orders resource data by the directory;
// MakeAnchorLast moves .reloc in front of .rsrc and rebuilds .rsrc with the
// first resource's data last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Little-endian fields of bytes read whole: the tools' one reader of them.
// The caller makes sure the field lies inside `f`.
std::uint16_t ReadLe16(const Bytes& f, std::size_t at);
std::uint32_t ReadLe32(const Bytes& f, std::size_t at);

// Indices of the optional header's data directories.
inline constexpr int kDirResource = 2;
inline constexpr int kDirSecurity = 4;  // a file offset, not an address
inline constexpr int kDirBaseReloc = 5;
inline constexpr int kDirDebug = 6;

// DllCharacteristics flags.
inline constexpr std::uint16_t kDynamicBase = 0x0040;
inline constexpr std::uint16_t kNxCompat = 0x0100;
// File header Characteristics: relocations removed.
inline constexpr std::uint16_t kRelocsStripped = 0x0001;
// Section characteristics: initialized data.
inline constexpr std::uint32_t kInitializedData = 0x00000040;

struct PeSection {
    std::string name;  // up to 8 characters
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;
    std::size_t headerOffset = 0;  // file offset of its 40-byte header
};

struct PeDirectory {
    std::uint32_t virtualAddress = 0;
    std::uint32_t size = 0;
};

// The headers of a PE32 image, with the file offsets of the fields that the
// layout step rewrites.
struct PeImage {
    std::size_t peOffset = 0;        // e_lfanew: "PE\0\0"
    std::size_t optionalOffset = 0;  // start of the optional header
    std::uint16_t machine = 0;
    std::uint16_t sizeOfOptionalHeader = 0;
    std::uint16_t characteristics = 0;
    std::uint32_t pointerToSymbolTable = 0;
    std::uint32_t numberOfSymbols = 0;
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t checkSum = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t dllCharacteristics = 0;
    std::vector<PeDirectory> directories;
    std::vector<PeSection> sections;  // in table order

    // Offsets of header fields, from the start of the file.
    std::size_t SizeOfInitializedDataOffset() const { return optionalOffset + 8; }
    std::size_t SizeOfImageOffset() const { return optionalOffset + 56; }
    std::size_t CheckSumOffset() const { return optionalOffset + 64; }
    std::size_t DirectoryOffset(int index) const { return optionalOffset + 96 + 8 * static_cast<std::size_t>(index); }

    // The first section named `name` in table order, or nullptr.
    const PeSection* Find(const std::string& name) const;
    // The section whose virtual range holds `rva`, or nullptr.
    const PeSection* SectionOf(std::uint32_t rva) const;
    // File offset of `rva`: inside the headers (below SizeOfHeaders) the
    // same number, else inside a section's raw data; false when neither
    // holds it.
    bool FileOffsetOf(std::uint32_t rva, std::uint32_t* offset) const;
    // The end of the headers proper: the last section header's end.
    std::uint64_t HeadersEnd() const { return optionalOffset + sizeOfOptionalHeader + 40ull * sections.size(); }
};

// Parses the DOS, file, optional (PE32) and section headers. The errors
// complete a sentence about the file ("ends inside its section table").
bool ParsePe(const Bytes& file, PeImage* image, std::string* error);

// ---- Resources --------------------------------------------------------------

struct ResourceName {
    bool named = false;
    std::uint32_t id = 0;
    std::u16string name;
};

// A node of the resource tree: a directory (the root, a type, a name) or a
// leaf (a language entry with its data).
struct ResourceNode {
    ResourceName name;  // unused for the root
    bool isDirectory = true;
    // Directory header.
    std::uint32_t characteristics = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint16_t majorVersion = 0;
    std::uint16_t minorVersion = 0;
    std::vector<ResourceNode> children;
    // Leaf: its data entry and data.
    std::uint32_t dataRva = 0;
    std::uint32_t codePage = 0;
    std::uint32_t reserved = 0;
    Bytes data;
};

// A byte range of the file, [begin, end).
struct FileRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::string what;
};

// Reads the whole resource tree of the first ".rsrc" section in the table
// (the one the installer reads), at most three levels of directories below
// the root's entries (type, name, language), every structure and every
// leaf's data inside the file. `structure`, when given, receives the file
// ranges of every directory table, name string (with its 2-byte length) and
// data entry; `data` those of every leaf's data (in tree order, so the
// first resource's come first).
bool ParseResources(const Bytes& file, const PeImage& image, ResourceNode* root, std::string* error,
                    std::vector<FileRange>* structure = nullptr, std::vector<FileRange>* data = nullptr);

// The leaf reached by taking the first entry at every level, with the nodes
// on the way (type, name, language); nullptr for an empty tree.
const ResourceNode* FirstResource(const ResourceNode& root, std::vector<const ResourceNode*>* path = nullptr);

// "LASTRES", or "#1000" for a numbered name; '?' stands for a character
// outside printable ASCII.
std::string Describe(const ResourceName& name);

// Lays out the tree as a resource section that will sit at `sectionRva`:
// directories, name strings, data entries, then the data of every resource
// in tree order except the first resource, whose data come last and end on
// a multiple of `alignment` (padding goes in front of them). Returns the
// section's bytes; *anchorOffset is the first resource's data offset in it.
Bytes BuildResourceSection(const ResourceNode& root, std::uint32_t sectionRva, std::uint32_t alignment,
                           std::uint32_t* anchorOffset);

// ---- Layout ------------------------------------------------------------------

// The PE checksum of `file`, with the 4 bytes at `checkSumOffset` taken as 0.
std::uint32_t PeChecksum(const Bytes& file, std::size_t checkSumOffset);

// Rearranges a linked stub so that the first resource's data are the last
// bytes that the program needs: .reloc (when it follows .rsrc) moves in
// front of it, .rsrc is rebuilt by BuildResourceSection, and the section
// table, the resource and relocation directories, SizeOfImage,
// SizeOfInitializedData and the checksum follow. The first resource must
// be of type `anchorType`. Running it on its own output changes nothing.
bool MakeAnchorLast(Bytes& file, const std::string& anchorType, std::string* error);

// Whether `file` may be cut at file offset `cut`, the first byte of the
// first resource's data (data.front(); `structure` and `data` as
// ParseResources gives them): "" when the cut lies inside the resource
// section's raw data and nothing the program needs lies at or after it (the
// headers, other sections' raw data, the symbol and string tables, what a
// data directory or a debug directory entry points at, the certificate,
// other resource structures or non-empty data), else a description of the
// first fault found.
std::string FindCutFault(const Bytes& file, const PeImage& image, const std::vector<FileRange>& structure,
                         const std::vector<FileRange>& data, std::uint64_t cut);

// Where the first resource's data lie in `file` (file offset), and whether
// they are the last bytes needed: FindCutFault at them, and the resource
// directory ending no later than they do.
std::string FindLayoutFault(const Bytes& file, std::uint32_t* anchorFileOffset = nullptr);
