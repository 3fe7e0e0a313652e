// The post-link layout step rewrites the stub's headers, sections and
// resource tree. A slip leaves an exe that Windows refuses, resources that
// point at the wrong bytes, or a payload anchor with data behind it that
// glimmer-pack would cut off. These tests run it on small hand-made images.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pe_layout.h"

namespace {

void Put16(Bytes& f, std::size_t at, std::uint32_t v) {
    f[at] = static_cast<std::uint8_t>(v);
    f[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& f, std::size_t at, std::uint32_t v) {
    Put16(f, at, v & 0xFFFF);
    Put16(f, at + 2, v >> 16);
}
std::uint32_t Get32(const Bytes& f, std::size_t at) {
    return static_cast<std::uint32_t>(f[at] | (f[at + 1] << 8) | (f[at + 2] << 16)) |
           (static_cast<std::uint32_t>(f[at + 3]) << 24);
}

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::size_t kOptional = 64 + 4 + 20;     // optional header offset
constexpr std::size_t kSectionTable = kOptional + 224;

struct Section {
    const char* name;
    std::uint32_t va, virtualSize, raw, rawSize, characteristics;
};

// The bytes of the resource section of a small stub, laid out the way ld
// leaves it: the anchor's data first among the data, two dialogs after it.
//   root  @0    "LASTRES" -> A, #5 -> B
//   A     @32   #1000 -> A2          B @56  #103 -> B1, #104 -> B2
//   A2    @88   #1033 -> entry 176   B1 @112 #1033 -> entry 192
//   B2    @136  #1033 -> entry 208   "LASTRES" @160
//   data: anchor @224 (4 bytes), dialog 103 @232 (10), dialog 104 @248 (7)
Bytes ResourceSection(std::uint32_t va, const std::string& firstType = "LASTRES") {
    Bytes r(kFileAlignment, 0);
    auto dir = [&](std::size_t at, int named, int ids) {
        Put16(r, at + 12, static_cast<std::uint32_t>(named));
        Put16(r, at + 14, static_cast<std::uint32_t>(ids));
    };
    auto entry = [&](std::size_t at, std::uint32_t name, std::uint32_t target) {
        Put32(r, at, name);
        Put32(r, at + 4, target);
    };
    dir(0, 1, 1);
    entry(16, 0x80000000u | 160, 0x80000000u | 32);
    entry(24, 5, 0x80000000u | 56);
    dir(32, 0, 1);
    entry(48, 1000, 0x80000000u | 88);
    dir(56, 0, 2);
    entry(72, 103, 0x80000000u | 112);
    entry(80, 104, 0x80000000u | 136);
    dir(88, 0, 1);
    entry(104, 1033, 176);
    dir(112, 0, 1);
    entry(128, 1033, 192);
    dir(136, 0, 1);
    entry(152, 1033, 208);
    Put16(r, 160, static_cast<std::uint32_t>(firstType.size()));
    for (std::size_t i = 0; i < firstType.size(); ++i) Put16(r, 162 + 2 * i, static_cast<unsigned char>(firstType[i]));
    auto data = [&](std::size_t at, std::uint32_t offset, std::uint32_t size) {
        Put32(r, at, va + offset);
        Put32(r, at + 4, size);
        Put32(r, at + 8, 1252);
    };
    data(176, 224, 4);
    data(192, 232, 10);
    data(208, 248, 7);
    const char anchor[] = "\xA1\xA2\xA3\xA4";
    std::memcpy(&r[224], anchor, 4);
    std::memcpy(&r[232], "dialog-103", 10);
    std::memcpy(&r[248], "dlg-104", 7);
    return r;
}

// A relocation table of one block: page 0x1000, two HIGHLOW fixups.
Bytes RelocationSection() {
    Bytes r(kFileAlignment, 0);
    Put32(r, 0, 0x1000);
    Put32(r, 4, 12);
    Put16(r, 8, 0x3010);
    Put16(r, 10, 0x3020);
    return r;
}

struct Image {
    Bytes file;
    std::vector<Section> sections;
};

// A PE32 image with .text, then .rsrc and .reloc in the order given.
Image MakeImage(bool relocAfterResources = true, const std::string& firstType = "LASTRES") {
    Image image;
    image.sections.push_back({".text", 0x1000, 0x120, 0x200, 0x200, 0x60000020});
    if (relocAfterResources) {
        image.sections.push_back({".rsrc", 0x2000, 0xFF, 0x400, 0x200, 0x40000040});
        image.sections.push_back({".reloc", 0x3000, 12, 0x600, 0x200, 0x42000040});
    } else {
        image.sections.push_back({".reloc", 0x2000, 12, 0x400, 0x200, 0x42000040});
        image.sections.push_back({".rsrc", 0x3000, 0xFF, 0x600, 0x200, 0x40000040});
    }
    Bytes& f = image.file;
    f.assign(0x800, 0);
    f[0] = 'M';
    f[1] = 'Z';
    Put32(f, 60, 64);
    std::memcpy(&f[64], "PE\0\0", 4);
    Put16(f, 68, 0x014C);
    Put16(f, 70, static_cast<std::uint32_t>(image.sections.size()));
    Put16(f, 84, 224);
    Put16(f, 86, 0x0102);
    Put16(f, kOptional, 0x010B);
    Put32(f, kOptional + 8, 0x400);  // SizeOfInitializedData: .rsrc + .reloc
    Put32(f, kOptional + 32, kSectionAlignment);
    Put32(f, kOptional + 36, kFileAlignment);
    Put32(f, kOptional + 56, 0x4000);
    Put32(f, kOptional + 60, 0x200);
    Put16(f, kOptional + 68, 2);
    Put16(f, kOptional + 70, 0x0140);
    Put32(f, kOptional + 92, 16);
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        const std::size_t at = kSectionTable + 40 * i;
        std::memcpy(&f[at], s.name, std::strlen(s.name));
        Put32(f, at + 8, s.virtualSize);
        Put32(f, at + 12, s.va);
        Put32(f, at + 16, s.rawSize);
        Put32(f, at + 20, s.raw);
        Put32(f, at + 36, s.characteristics);
        Bytes body;
        if (std::string(s.name) == ".rsrc") {
            body = ResourceSection(s.va, firstType);
            Put32(f, kOptional + 96 + 8 * kDirResource, s.va);
            Put32(f, kOptional + 100 + 8 * kDirResource, s.virtualSize);
        } else if (std::string(s.name) == ".reloc") {
            body = RelocationSection();
            Put32(f, kOptional + 96 + 8 * kDirBaseReloc, s.va);
            Put32(f, kOptional + 100 + 8 * kDirBaseReloc, 12);
        } else {
            body.assign(s.rawSize, 0xCC);
        }
        std::copy(body.begin(), body.end(), f.begin() + s.raw);
    }
    return image;
}

PeImage Parse(const Bytes& file) {
    PeImage image;
    std::string error;
    EXPECT_TRUE(ParsePe(file, &image, &error)) << error;
    return image;
}

// name -> data of every leaf, for comparing trees across the layout.
std::vector<std::pair<std::string, Bytes>> Leaves(const Bytes& file) {
    PeImage image = Parse(file);
    ResourceNode root;
    std::string error;
    EXPECT_TRUE(ParseResources(file, image, &root, &error)) << error;
    std::vector<std::pair<std::string, Bytes>> out;
    for (const ResourceNode& t : root.children)
        for (const ResourceNode& n : t.children)
            for (const ResourceNode& l : n.children)
                out.push_back({Describe(t.name) + "/" + Describe(n.name) + "/" + Describe(l.name) + "/" +
                                   std::to_string(l.codePage),
                               l.data});
    return out;
}

}  // namespace

TEST(PeLayout, LinkerLayoutIsFoundWrong) {
    Image image = MakeImage();
    std::uint32_t anchor = 0;
    std::string fault = FindLayoutFault(image.file, &anchor);
    EXPECT_EQ(anchor, 0x400u + 224);
    EXPECT_NE(fault.find(".reloc"), std::string::npos) << fault;

    // With .reloc already in front, the dialogs' data behind the anchor are
    // still a fault.
    Image swapped = MakeImage(false);
    fault = FindLayoutFault(swapped.file);
    EXPECT_NE(fault.find("another resource's data"), std::string::npos) << fault;
}

TEST(PeLayout, MovesRelocationsInFrontAndTheAnchorDataLast) {
    Image image = MakeImage();
    const auto before = Leaves(image.file);
    Bytes file = image.file;
    std::string error;
    ASSERT_TRUE(MakeAnchorLast(file, "LASTRES", &error)) << error;

    std::uint32_t anchor = 0;
    EXPECT_EQ(FindLayoutFault(file, &anchor), "");
    PeImage pe = Parse(file);
    ASSERT_EQ(pe.sections.size(), 3u);
    EXPECT_EQ(pe.sections[1].name, ".reloc");
    EXPECT_EQ(pe.sections[2].name, ".rsrc");

    // .reloc takes the old place of .rsrc, byte for byte, and the
    // relocation directory follows it.
    EXPECT_EQ(pe.sections[1].virtualAddress, 0x2000u);
    EXPECT_EQ(pe.sections[1].pointerToRawData, 0x400u);
    EXPECT_EQ(pe.sections[1].virtualSize, 12u);
    EXPECT_EQ(pe.directories[kDirBaseReloc].virtualAddress, 0x2000u);
    EXPECT_EQ(pe.directories[kDirBaseReloc].size, 12u);
    EXPECT_TRUE(std::equal(file.begin() + 0x400, file.begin() + 0x600, image.file.begin() + 0x600));
    // Characteristics travel with their sections.
    EXPECT_EQ(pe.sections[1].characteristics, 0x42000040u);
    EXPECT_EQ(pe.sections[2].characteristics, 0x40000040u);

    // .rsrc follows at the next section alignment and ends the file with
    // the anchor's 4 bytes, which end on the file alignment.
    EXPECT_EQ(pe.sections[2].virtualAddress, 0x3000u);
    EXPECT_EQ(pe.sections[2].pointerToRawData, 0x600u);
    EXPECT_EQ(pe.directories[kDirResource].virtualAddress, 0x3000u);
    EXPECT_EQ(pe.directories[kDirResource].size, pe.sections[2].virtualSize);
    EXPECT_EQ(anchor + 4, file.size());
    EXPECT_EQ(file.size() % kFileAlignment, 0u);
    EXPECT_EQ(Get32(file, anchor), 0xA4A3A2A1u);
    EXPECT_EQ(pe.sections[2].pointerToRawData + pe.sections[2].sizeOfRawData, file.size());

    // Every resource keeps its name, language, code page and bytes.
    EXPECT_EQ(Leaves(file), before);

    // Header sums.
    EXPECT_EQ(pe.sizeOfImage, 0x4000u);
    EXPECT_EQ(pe.sizeOfInitializedData, 0x400u - 0x200u + pe.sections[2].sizeOfRawData);
    EXPECT_EQ(pe.checkSum, PeChecksum(file, pe.CheckSumOffset()));
    EXPECT_NE(pe.checkSum, 0u);
    // The code section is untouched.
    EXPECT_TRUE(std::equal(file.begin() + 0x200, file.begin() + 0x400, image.file.begin() + 0x200));
}

TEST(PeLayout, DataEntriesPointAtTheirBytesInTheMovedSection) {
    Image image = MakeImage();
    Bytes file = image.file;
    std::string error;
    ASSERT_TRUE(MakeAnchorLast(file, "LASTRES", &error)) << error;
    PeImage pe = Parse(file);
    ResourceNode root;
    std::vector<FileRange> structure, data;
    ASSERT_TRUE(ParseResources(file, pe, &root, &error, &structure, &data)) << error;
    const PeSection* rsrc = pe.Find(".rsrc");
    ASSERT_NE(rsrc, nullptr);
    for (const ResourceNode& t : root.children)
        for (const ResourceNode& n : t.children)
            for (const ResourceNode& l : n.children) {
                EXPECT_GE(l.dataRva, rsrc->virtualAddress);
                EXPECT_LT(l.dataRva - rsrc->virtualAddress, rsrc->virtualSize);
            }
    // Structures first, anchor data last, nothing overlapping.
    for (const FileRange& s : structure) EXPECT_LE(s.end, data[1].begin);
    EXPECT_LE(data[1].end, data[2].begin);
    EXPECT_LE(data[2].end, data[0].begin);
}

TEST(PeLayout, RunningTwiceChangesNothing) {
    Image image = MakeImage();
    Bytes once = image.file;
    std::string error;
    ASSERT_TRUE(MakeAnchorLast(once, "LASTRES", &error)) << error;
    Bytes twice = once;
    ASSERT_TRUE(MakeAnchorLast(twice, "LASTRES", &error)) << error;
    EXPECT_EQ(once, twice);
}

TEST(PeLayout, ResourcesAloneAreRebuiltWhenRelocationsAlreadyPrecede) {
    Image image = MakeImage(false);
    Bytes file = image.file;
    std::string error;
    ASSERT_TRUE(MakeAnchorLast(file, "LASTRES", &error)) << error;
    EXPECT_EQ(FindLayoutFault(file), "");
    PeImage pe = Parse(file);
    EXPECT_EQ(pe.directories[kDirBaseReloc].virtualAddress, 0x2000u);
    EXPECT_EQ(pe.sections[2].virtualAddress, 0x3000u);
    EXPECT_EQ(Leaves(file), Leaves(image.file));
}

TEST(PeLayout, RefusesImagesItCannotLayOutSafely) {
    std::string error;
    {
        // Another named type sorts ahead of the anchor: the installer would
        // read the wrong resource as its payload.
        Bytes file = MakeImage(true, "AAAA").file;
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_NE(error.find("AAAA"), std::string::npos) << error;
    }
    {
        Bytes file = MakeImage().file;
        Put32(file, 64 + 4 + 8, 0x700);  // PointerToSymbolTable
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_NE(error.find("symbol table"), std::string::npos) << error;
    }
    {
        Bytes file = MakeImage().file;
        Put32(file, kOptional + 96 + 8 * kDirSecurity, 0x800);
        Put32(file, kOptional + 100 + 8 * kDirSecurity, 0x10);
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_NE(error.find("certificate"), std::string::npos) << error;
    }
    {
        Bytes file = MakeImage().file;
        file.push_back(0x55);  // an overlay behind the last section
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_NE(error.find("after the last section"), std::string::npos) << error;
    }
    {
        // A section that is not .reloc behind .rsrc cannot be moved.
        Bytes file = MakeImage().file;
        std::memcpy(&file[kSectionTable + 80], ".tls\0\0\0\0", 8);
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_NE(error.find(".tls"), std::string::npos) << error;
    }
    {
        Bytes file = MakeImage().file;
        file.resize(100);
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
    }
}

TEST(PeLayout, DamagedResourceTreesAreRejected) {
    std::string error;
    {
        // A directory that points back at the root would loop forever.
        Image image = MakeImage();
        Put32(image.file, 0x400 + 48 + 4, 0x80000000u | 0);
        PeImage pe = Parse(image.file);
        ResourceNode root;
        EXPECT_FALSE(ParseResources(image.file, pe, &root, &error));
    }
    {
        // Data said to lie past the end of the file.
        Image image = MakeImage();
        Put32(image.file, 0x400 + 192 + 4, 0x10000);
        PeImage pe = Parse(image.file);
        ResourceNode root;
        EXPECT_FALSE(ParseResources(image.file, pe, &root, &error));
        Bytes file = image.file;
        EXPECT_FALSE(MakeAnchorLast(file, "LASTRES", &error));
        EXPECT_EQ(file, image.file);  // left as it was
    }
}

TEST(PeLayout, ChecksumFoldsCarriesAndSkipsItsOwnField) {
    // 0x0001 + 0x0002 + length 4.
    EXPECT_EQ(PeChecksum(Bytes{0x01, 0x00, 0x02, 0x00}, 100), 7u);
    // 0xFFFF + 0x0002 = 0x10001, folded to 0x0002, + length 4.
    EXPECT_EQ(PeChecksum(Bytes{0xFF, 0xFF, 0x02, 0x00}, 100), 6u);
    // The field's own bytes count as zero; an odd last byte is padded.
    EXPECT_EQ(PeChecksum(Bytes{0x05, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x07}, 2), 5u + 7u + 7u);
}
