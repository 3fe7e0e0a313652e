// Building installer stubs and packages in memory for tests, sound ones and
// deliberately broken ones.
//
// A package is laid out exactly as glimmer-pack lays it out (the same code
// writes the catalogue): the stub cut at its anchor's data, the catalogue,
// then every entry's data back to back. Broken packages are made by editing
// the bytes afterwards with the Poke helpers and the offsets below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TestEntry {
    std::string data;
    bool pack = false;              // packed (always, even when larger) or stored
    std::string extension = ".TMP"; // blank-padded to 15; a longer one is cut
    std::uint8_t kind = ' ';
};

struct TestPackage {
    std::string title;    // its first 260 bytes, NUL-padded, become the title field
    std::string license;  // length written modulo 65536
    std::uint16_t base = 1;
    std::vector<TestEntry> entries;
};

// Variants of the test stub. The default is a minimal 32-bit PE (".text"
// then ".rsrc", file alignment 0x200) whose only resource, "LASTRES" 1000
// language 1033 of 4 bytes, has its data as the last 4 bytes of the file.
struct TestStubOptions {
    // ".rsrc" heads the section table instead of coming second.
    bool rsrcFirst = false;
    // A second named type "AAAA" (1, 1033) sorts ahead of "LASTRES"; its 4
    // data bytes are the last of the file and the payload begins there,
    // while "LASTRES"'s data lie 12 bytes earlier.
    bool namedTypeFirst = false;
    // A numbered type (3, icon) follows "LASTRES" and its 4 data bytes lie
    // behind the anchor's: a stub that may not be cut at the anchor.
    bool resourceAfterAnchor = false;
    // A ".reloc" section with a base relocation directory behind ".rsrc".
    bool relocAfterAnchor = false;
    // A COFF symbol table (one symbol, empty string table) at the end.
    bool symbolTable = false;
};

std::string MakeTestStub();
std::string MakeTestStub(const TestStubOptions& options);

// The stub cut at its anchor, the catalogue and the entries' data.
std::string BuildPackageBytes(const TestPackage& package, const std::string& stub = MakeTestStub());

// Builds the package into `path` (a host path); returns `path`.
std::string WritePackageFile(const TestPackage& package, const std::string& path);

// File helpers on host paths.
void WriteBytesFile(const std::string& bytes, const std::string& path);
std::string ReadBytesFile(const std::string& path);

// Offsets inside a built package (or a stub): the anchor's data, that is
// payload offset 0; the catalogue's fields; and file record `index`.
std::uint32_t PayloadStartOf(const std::string& packageOrStub);
std::uint32_t TitleOffsetOf(const std::string& package);
std::uint32_t BaseOffsetOf(const std::string& package);
std::uint32_t RecordOffsetOf(const std::string& package, std::size_t index);

// Little-endian reads and writes at an absolute offset of `bytes`.
void PokeU16(std::string& bytes, std::size_t at, std::uint16_t value);
void PokeU32(std::string& bytes, std::size_t at, std::uint32_t value);
std::uint16_t PeekU16(const std::string& bytes, std::size_t at);
std::uint32_t PeekU32(const std::string& bytes, std::size_t at);

// Deterministic test contents: `size` bytes from a seed, compressible
// (text-like) or not (noise).
std::string SampleText(std::size_t size, unsigned seed = 1);
std::string SampleNoise(std::size_t size, unsigned seed = 1);
