// Writing installer packages: locating the payload anchor in a stub, checking
// that the stub may be cut there, and laying out the catalogue and the
// entries' data behind it.
//
// A package is the stub cut at the first byte of its anchor resource's data,
// then the catalogue (see src/payload/payload.h for its layout), then every
// entry's data back to back in record order. Record offsets are absolute
// file offsets, so the catalogue is laid out knowing where it will start.
//
// Shared by glimmer-pack and the tests' package builder; never part of the
// stub, so it uses the standard library freely.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload.h"

// Where the payload of a stub begins, found the way OpenPayload finds it:
// the first entry at each level of the first ".rsrc" section's resource
// tree, its data placed by that section's address and file offset.
struct StubAnchor {
    std::uint32_t dataOffset = 0;  // file offset of the anchor's data
};

// Reads the stub with the tools' PE reader (tools/stublayout) and finds the
// anchor. Returns "" on success, else a short description of why the stub
// is not usable: its headers or its resource tree cannot be read whole, its
// optional header is not the 224 bytes the installer assumes, or its first
// resource is not a type, a name and a language.
std::string FindStubAnchor(const std::string& stub, StubAnchor* anchor);

// Checks that the anchor's data lie in the resource section and nothing the
// stub needs lies at or after them (see FindCutFault in pe_layout.h).
// Returns "" when the stub may be cut at the anchor, else the first problem
// found.
std::string CheckStubCut(const std::string& stub, const StubAnchor& anchor);

// How an entry goes into the package.
enum class PackChoice {
    Smaller,  // packed when that makes it smaller, else stored
    Store,    // always stored verbatim
    Pack,     // always packed
};

// One entry ready to be laid out: its bytes as they go into the file.
struct CatalogueEntry {
    std::string stored;               // the data in the file
    std::uint32_t unpackedSize = 0;   // 0 when stored verbatim
    char extension[kExtensionSize];   // blank-padded, no NUL
    std::uint8_t kind = ' ';
};

// Packs or stores `data` as `choice` asks. `extension` is copied into the
// 15-byte field and blank-padded; a longer one is cut (callers that must not
// cut check ExtensionProblem first).
CatalogueEntry PrepareEntry(const std::string& data, PackChoice choice,
                            const std::string& extension, std::uint8_t kind);

// The catalogue followed by every entry's data, for a payload starting at
// absolute file offset `payloadStart`. The title field is the title's first
// 260 bytes NUL-padded (a title of 260 bytes or more is written without a NUL;
// callers that must not check TitleProblem). The license length field holds
// the license's length modulo 65536.
std::string LayOutPayload(std::uint64_t payloadStart, const std::string& title,
                          const std::string& license, std::uint16_t numberingBase,
                          const std::vector<CatalogueEntry>& entries);

// The catalogue alone, for records whose offsets and sizes are known: the
// license length (modulo 65536) and text, the title field as LayOutPayload
// writes it, the numbering base, the records and the terminator record.
std::string LayOutCatalogue(const std::string& title, const std::string& license, std::uint16_t numberingBase,
                            const std::vector<FileRecord>& records);

// The payload offset of the first file record for a license of `length`.
inline std::uint32_t FirstRecordOffset(std::uint32_t licenseLength) {
    return 2 + licenseLength + kTitleSize + 2;
}

// Longest license text and title the catalogue can carry.
inline constexpr std::size_t kMaxLicenseLength = 65535;
inline constexpr std::size_t kMaxTitleLength = kTitleSize - 1;

// Largest package: record sizes and offsets must stay below 2^31.
inline constexpr std::uint64_t kMaxPackageSize = kSizeLimit - 1;

// The end of the last section's raw data in the stub's file (0 when the
// headers cannot be read). A package must be at least this long.
std::uint64_t SectionsEnd(const std::string& stub);

// Problems with a title (code page 1252 bytes) as the screen saver's name:
// whatever the installer refuses (see CheckTitle), said in English, and
// also a final dot or a DEL character, which glimmer-pack refuses as an
// authoring rule. "" when it is fine.
std::string TitleProblem(const std::string& title);

// The English reason for a title fault of the installer's rules; "" for
// kTitleSound.
std::string TitleRuleText(TitleFault fault);

// Problems with a media file's extension field (with its dot): longer than
// 15 bytes, a character Windows forbids in file names, or a control
// character. "" when it is fine.
std::string ExtensionProblem(const std::string& extension);

// A refusal when some path the installer forms for this package would
// exceed 259 characters even under the shortest folders a machine can have
// (C:\ for both): no machine could install it. Names the longest title that
// fits. "" when the paths fit there.
std::string PathLengthProblem(const std::string& title, std::uint16_t numberingBase,
                              const std::vector<FileRecord>& records);

// A warning when, under the folders that Windows XP and later use by
// default, some path the installer forms for this package (the title with
// its trailing blanks removed, these records) would exceed 259 characters;
// names the longest title that fits. "" when every path fits.
std::string PathLengthWarning(const std::string& title, std::uint16_t numberingBase,
                              const std::vector<FileRecord>& records);

// Text conversions between UTF-8 (the host's) and Windows code page 1252 (the
// catalogue's). Utf8ToCp1252 returns false when the text is not valid UTF-8
// or holds a character code page 1252 lacks.
bool Utf8ToCp1252(const std::string& utf8, std::string* cp1252);
bool IsValidUtf8(const std::string& text);
// Decodes the UTF-8 character at text[*i] and moves *i past it; false,
// with *i unmoved, for an invalid, cut, overlong or surrogate sequence or a
// value above U+10FFFF. The tool's one UTF-8 decoder.
bool NextUtf8(const std::string& text, std::size_t* i, std::uint32_t* c);
std::string Cp1252ToUtf8(const std::string& cp1252);
// Appends the character `c` (below 0x110000) to `out` in UTF-8: the tool's
// one UTF-8 encoder.
void AppendUtf8(std::string& out, std::uint32_t c);
