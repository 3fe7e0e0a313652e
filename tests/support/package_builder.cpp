#include "support/package_builder.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "package_format.h"

namespace {

// Layout of the test stub.
constexpr std::uint32_t kPeOffset = 0x40;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kImageBase = 0x400000;
constexpr std::uint32_t kTextRaw = 0x200, kTextRva = 0x1000;
constexpr std::uint32_t kRsrcRaw = 0x400, kRsrcRva = 0x2000;
constexpr std::uint32_t kRelocRaw = 0x600, kRelocRva = 0x3000;

struct StubResource {
    std::string typeName;  // empty: numbered type `typeId`
    std::uint32_t typeId;
    std::uint32_t nameId;
    std::uint32_t language;
    std::uint32_t dataOffset;  // from the start of the section
    std::uint32_t size;
};

void Put(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    if (bytes.size() < at + width) bytes.resize(at + width, '\0');
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// A resource section of `size` bytes: the root directory holds one type per
// resource (named ones first, in the order given), each with one name and
// one language; directories, data entries and name strings come first, the
// data where each resource says.
std::string ResourceSection(const std::vector<StubResource>& resources, std::uint32_t size) {
    std::string s(size, '\0');
    std::uint32_t named = 0;
    for (const StubResource& r : resources) named += r.typeName.empty() ? 0 : 1;
    Put(s, 12, named, 2);
    Put(s, 14, static_cast<std::uint32_t>(resources.size()) - named, 2);
    std::uint32_t next = 16 + 8 * static_cast<std::uint32_t>(resources.size());
    std::uint32_t strings = next + 64 * static_cast<std::uint32_t>(resources.size());
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const StubResource& r = resources[i];
        std::uint32_t entry = 16 + 8 * static_cast<std::uint32_t>(i);
        if (r.typeName.empty()) {
            Put(s, entry, r.typeId, 4);
        } else {
            Put(s, entry, 0x80000000u | strings, 4);
            Put(s, strings, static_cast<std::uint32_t>(r.typeName.size()), 2);
            for (std::size_t k = 0; k < r.typeName.size(); ++k)
                Put(s, strings + 2 + 2 * k, static_cast<unsigned char>(r.typeName[k]), 2);
            strings += 2 + 2 * static_cast<std::uint32_t>(r.typeName.size());
        }
        std::uint32_t nameDir = next, languageDir = next + 24, dataEntry = next + 48;
        next += 64;
        Put(s, entry + 4, 0x80000000u | nameDir, 4);
        Put(s, nameDir + 14, 1, 2);
        Put(s, nameDir + 16, r.nameId, 4);
        Put(s, nameDir + 20, 0x80000000u | languageDir, 4);
        Put(s, languageDir + 14, 1, 2);
        Put(s, languageDir + 16, r.language, 4);
        Put(s, languageDir + 20, dataEntry, 4);
        Put(s, dataEntry, kRsrcRva + r.dataOffset, 4);
        Put(s, dataEntry + 4, r.size, 4);
    }
    if (strings > size) throw std::logic_error("test stub resource section too small");
    return s;
}

struct StubSection {
    const char* name;
    std::uint32_t rva, raw, size, characteristics;
};

std::string ReadOrThrow(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

std::string MakeTestStub() { return MakeTestStub(TestStubOptions{}); }

std::string MakeTestStub(const TestStubOptions& options) {
    std::vector<StubResource> resources;
    constexpr std::uint32_t kLast = kFileAlignment - 4;
    if (options.namedTypeFirst) {
        resources.push_back({"AAAA", 0, 1, 1033, kLast, 4});
        resources.push_back({"LASTRES", 0, 1000, 1033, kLast - 12, 4});
    } else if (options.resourceAfterAnchor) {
        resources.push_back({"LASTRES", 0, 1000, 1033, kLast - 12, 4});
        resources.push_back({"", 3, 1, 1033, kLast, 4});
    } else {
        resources.push_back({"LASTRES", 0, 1000, 1033, kLast, 4});
    }
    std::string rsrc = ResourceSection(resources, kFileAlignment);

    std::vector<StubSection> sections;
    StubSection text{".text", kTextRva, kTextRaw, kFileAlignment, 0x60000020u};
    StubSection resource{".rsrc", kRsrcRva, kRsrcRaw, kFileAlignment, 0x40000040u};
    if (options.rsrcFirst) {
        sections = {resource, text};
    } else {
        sections = {text, resource};
    }
    if (options.relocAfterAnchor) sections.push_back({".reloc", kRelocRva, kRelocRaw, kFileAlignment, 0x42000040u});

    std::string stub(kRsrcRaw + kFileAlignment, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    Put(stub, 60, kPeOffset, 4);
    stub.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    std::uint32_t fh = kPeOffset + 4;
    Put(stub, fh, 0x14C, 2);  // i386
    Put(stub, fh + 2, static_cast<std::uint32_t>(sections.size()), 2);
    Put(stub, fh + 16, 224, 2);
    Put(stub, fh + 18, 0x0102, 2);  // executable, 32-bit machine
    std::uint32_t oh = fh + 20;
    Put(stub, oh, 0x10B, 2);
    Put(stub, oh + 16, kTextRva, 4);  // entry point
    Put(stub, oh + 28, kImageBase, 4);
    Put(stub, oh + 32, kSectionAlignment, 4);
    Put(stub, oh + 36, kFileAlignment, 4);
    Put(stub, oh + 40, 4, 2);  // operating system version 4.0
    Put(stub, oh + 48, 4, 2);  // subsystem version 4.0
    Put(stub, oh + 56, kRelocRva + kSectionAlignment, 4);  // size of image
    Put(stub, oh + 60, kFileAlignment, 4);                 // size of headers
    Put(stub, oh + 68, 2, 2);                              // Windows GUI
    Put(stub, oh + 72, 0x100000, 4);
    Put(stub, oh + 76, 0x1000, 4);
    Put(stub, oh + 80, 0x100000, 4);
    Put(stub, oh + 84, 0x1000, 4);
    Put(stub, oh + 92, 16, 4);
    Put(stub, oh + 96 + 8 * 2, kRsrcRva, 4);
    Put(stub, oh + 96 + 8 * 2 + 4, kFileAlignment, 4);
    std::uint32_t table = oh + 224;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const StubSection& s = sections[i];
        std::uint32_t at = table + 40 * static_cast<std::uint32_t>(i);
        stub.replace(at, std::string(s.name).size(), s.name);
        Put(stub, at + 8, s.size, 4);
        Put(stub, at + 12, s.rva, 4);
        Put(stub, at + 16, s.size, 4);
        Put(stub, at + 20, s.raw, 4);
        Put(stub, at + 36, s.characteristics, 4);
    }
    stub[kTextRaw] = static_cast<char>(0xC3);  // ret
    stub.replace(kRsrcRaw, rsrc.size(), rsrc);
    for (const StubResource& r : resources) stub.replace(kRsrcRaw + r.dataOffset, 4, "ANCR");

    if (options.relocAfterAnchor) {
        stub.resize(kRelocRaw + kFileAlignment, '\0');
        Put(stub, kRelocRaw, kTextRva, 4);  // one empty block for the code page
        Put(stub, kRelocRaw + 4, 8, 4);
        Put(stub, oh + 96 + 8 * 5, kRelocRva, 4);
        Put(stub, oh + 96 + 8 * 5 + 4, 8, 4);
    }
    if (options.symbolTable) {
        Put(stub, fh + 8, static_cast<std::uint32_t>(stub.size()), 4);
        Put(stub, fh + 12, 1, 4);
        std::string symbol("_start\0\0", 8);
        symbol.append(10, '\0');
        stub += symbol;
        Put(stub, stub.size(), 4, 4);  // an empty string table
    }
    return stub;
}

std::string BuildPackageBytes(const TestPackage& package, const std::string& stub) {
    StubAnchor anchor;
    std::string problem = FindStubAnchor(stub, &anchor);
    if (!problem.empty()) throw std::invalid_argument("test stub unusable: " + problem);
    std::vector<CatalogueEntry> entries;
    for (const TestEntry& e : package.entries)
        entries.push_back(PrepareEntry(e.data, e.pack ? PackChoice::Pack : PackChoice::Store, e.extension, e.kind));
    return stub.substr(0, anchor.dataOffset) +
           LayOutPayload(anchor.dataOffset, package.title, package.license, package.base, entries);
}

std::string WritePackageFile(const TestPackage& package, const std::string& path) {
    WriteBytesFile(BuildPackageBytes(package), path);
    return path;
}

void WriteBytesFile(const std::string& bytes, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadBytesFile(const std::string& path) { return ReadOrThrow(path); }

std::uint32_t PayloadStartOf(const std::string& packageOrStub) {
    StubAnchor anchor;
    std::string problem = FindStubAnchor(packageOrStub, &anchor);
    if (!problem.empty()) throw std::invalid_argument("no payload: " + problem);
    return anchor.dataOffset;
}

std::uint32_t TitleOffsetOf(const std::string& package) {
    std::uint32_t start = PayloadStartOf(package);
    return start + 2 + PeekU16(package, start);
}

std::uint32_t BaseOffsetOf(const std::string& package) { return TitleOffsetOf(package) + kTitleSize; }

std::uint32_t RecordOffsetOf(const std::string& package, std::size_t index) {
    return BaseOffsetOf(package) + 2 + kRecordSize * static_cast<std::uint32_t>(index);
}

void PokeU16(std::string& bytes, std::size_t at, std::uint16_t value) { Put(bytes, at, value, 2); }
void PokeU32(std::string& bytes, std::size_t at, std::uint32_t value) { Put(bytes, at, value, 4); }

std::uint16_t PeekU16(const std::string& bytes, std::size_t at) {
    if (at + 2 > bytes.size()) throw std::out_of_range("PeekU16 past the end");
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t PeekU32(const std::string& bytes, std::size_t at) {
    return PeekU16(bytes, at) | static_cast<std::uint32_t>(PeekU16(bytes, at + 2)) << 16;
}

std::string SampleText(std::size_t size, unsigned seed) {
    static const char* const kWords[] = {"aurora ", "glimmer ", "night ", "sky ", "lights\r\n",
                                         "salvaschermo ", "stelle ", "blu "};
    std::string out;
    std::uint32_t state = seed * 2654435761u + 1;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        out += kWords[(state >> 16) % 8];
    }
    out.resize(size);
    return out;
}

std::string SampleNoise(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 7;
    for (char& c : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state >> 24);
    }
    return out;
}
