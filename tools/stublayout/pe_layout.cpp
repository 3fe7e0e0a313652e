#include "pe_layout.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <set>

std::uint16_t ReadLe16(const Bytes& f, std::size_t at) {
    return static_cast<std::uint16_t>(f[at] | (f[at + 1] << 8));
}

std::uint32_t ReadLe32(const Bytes& f, std::size_t at) {
    return static_cast<std::uint32_t>(f[at]) | (static_cast<std::uint32_t>(f[at + 1]) << 8) |
           (static_cast<std::uint32_t>(f[at + 2]) << 16) | (static_cast<std::uint32_t>(f[at + 3]) << 24);
}

namespace {

void Put16(Bytes& f, std::size_t at, std::uint16_t v) {
    f[at] = static_cast<std::uint8_t>(v);
    f[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& f, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool Fits(const Bytes& f, std::uint64_t at, std::uint64_t length) { return at <= f.size() && length <= f.size() - at; }

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// Section-relative reader of the resource tree, with bounds against the
// section's raw data.
struct ResourceReader {
    const Bytes& file;
    const PeImage& image;
    std::uint32_t base;   // file offset of the section's raw data
    std::uint32_t limit;  // bytes of raw data present in the file
    std::vector<FileRange>* structure;
    std::vector<FileRange>* data;
    std::set<std::uint32_t> visited;
    std::string error;

    bool Inside(std::uint32_t offset, std::uint32_t length) const {
        return offset <= limit && length <= limit - offset;
    }

    void Note(std::vector<FileRange>* ranges, std::uint64_t begin, std::uint64_t length, const std::string& what) {
        if (ranges) ranges->push_back({begin, begin + length, what});
    }

    bool ReadName(std::uint32_t field, ResourceName* name) {
        if (!(field & 0x80000000u)) {
            name->named = false;
            name->id = field;
            return true;
        }
        const std::uint32_t at = field & 0x7FFFFFFFu;
        if (!Inside(at, 2)) return Fail(&error, "a resource name lies outside the resource section");
        const std::uint32_t length = ReadLe16(file, base + at);
        if (!Inside(at, 2 + 2 * length)) return Fail(&error, "a resource name lies outside the resource section");
        name->named = true;
        name->name.clear();
        for (std::uint32_t i = 0; i < length; ++i)
            name->name.push_back(static_cast<char16_t>(ReadLe16(file, base + at + 2 + 2 * i)));
        Note(structure, base + at, 2 + 2 * length, "resource name \"" + Describe(*name) + "\"");
        return true;
    }

    bool ReadLeaf(std::uint32_t at, ResourceNode* node) {
        if (!Inside(at, 16)) return Fail(&error, "a resource data entry lies outside the resource section");
        node->isDirectory = false;
        node->dataRva = ReadLe32(file, base + at);
        const std::uint32_t size = ReadLe32(file, base + at + 4);
        node->codePage = ReadLe32(file, base + at + 8);
        node->reserved = ReadLe32(file, base + at + 12);
        Note(structure, base + at, 16, "resource data entry");
        std::uint32_t offset = 0;
        if (!image.FileOffsetOf(node->dataRva, &offset) || !Fits(file, offset, size))
            return Fail(&error, "a resource's data lie outside the file's sections");
        node->data.assign(file.begin() + offset, file.begin() + offset + size);
        Note(data, offset, size, "resource data");
        return true;
    }

    bool ReadDirectory(std::uint32_t at, int depth, ResourceNode* node) {
        // The root is depth 0; type, name and language entries are the
        // three levels, so no directory lies deeper than 2.
        if (depth > 2) return Fail(&error, "the resource tree is more than three levels deep");
        if (!visited.insert(at).second) return Fail(&error, "the resource tree loops (a directory is reached twice)");
        if (!Inside(at, 16)) return Fail(&error, "a resource directory lies outside the resource section");
        node->isDirectory = true;
        node->characteristics = ReadLe32(file, base + at);
        node->timeDateStamp = ReadLe32(file, base + at + 4);
        node->majorVersion = ReadLe16(file, base + at + 8);
        node->minorVersion = ReadLe16(file, base + at + 10);
        const std::uint32_t count = static_cast<std::uint32_t>(ReadLe16(file, base + at + 12)) + ReadLe16(file, base + at + 14);
        if (!Inside(at, 16 + 8 * count)) return Fail(&error, "a resource directory lies outside the resource section");
        Note(structure, base + at, 16 + 8 * count, "resource directory");
        node->children.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t entry = base + at + 16 + 8 * i;
            ResourceNode& child = node->children[i];
            if (!ReadName(ReadLe32(file, entry), &child.name)) return false;
            const std::uint32_t target = ReadLe32(file, entry + 4);
            const bool ok = (target & 0x80000000u) ? ReadDirectory(target & 0x7FFFFFFFu, depth + 1, &child)
                                                   : ReadLeaf(target, &child);
            if (!ok) return false;
        }
        return true;
    }
};

// Appends the file's bytes [begin, begin + length) to `out`.
void AppendRange(Bytes& out, const Bytes& file, std::size_t begin, std::size_t length) {
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(begin),
               file.begin() + static_cast<std::ptrdiff_t>(begin + length));
}

}  // namespace

const PeSection* PeImage::Find(const std::string& name) const {
    for (const PeSection& s : sections)
        if (s.name == name) return &s;
    return nullptr;
}

const PeSection* PeImage::SectionOf(std::uint32_t rva) const {
    for (const PeSection& s : sections) {
        const std::uint32_t span = std::max(s.virtualSize, s.sizeOfRawData);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span) return &s;
    }
    return nullptr;
}

bool PeImage::FileOffsetOf(std::uint32_t rva, std::uint32_t* offset) const {
    if (rva < sizeOfHeaders) {
        *offset = rva;
        return true;
    }
    const PeSection* s = SectionOf(rva);
    if (!s || rva - s->virtualAddress >= s->sizeOfRawData) return false;
    *offset = s->pointerToRawData + (rva - s->virtualAddress);
    return true;
}

bool ParsePe(const Bytes& file, PeImage* image, std::string* error) {
    *image = PeImage{};
    if (file.size() < 64) return Fail(error, "too short for a DOS header");
    if (file[0] != 'M' || file[1] != 'Z') return Fail(error, "not an executable (no \"MZ\" signature)");
    image->peOffset = ReadLe32(file, 60);
    if (!Fits(file, image->peOffset, 24)) return Fail(error, "ends inside its PE headers");
    if (ReadLe32(file, image->peOffset) != 0x00004550u) return Fail(error, "not a PE file (no \"PE\" signature)");
    const std::size_t fileHeader = image->peOffset + 4;
    image->machine = ReadLe16(file, fileHeader);
    const std::uint16_t sectionCount = ReadLe16(file, fileHeader + 2);
    image->pointerToSymbolTable = ReadLe32(file, fileHeader + 8);
    image->numberOfSymbols = ReadLe32(file, fileHeader + 12);
    const std::uint16_t optionalSize = ReadLe16(file, fileHeader + 16);
    image->sizeOfOptionalHeader = optionalSize;
    image->characteristics = ReadLe16(file, fileHeader + 18);
    image->optionalOffset = fileHeader + 20;
    const std::size_t opt = image->optionalOffset;
    if (!Fits(file, opt, std::max<std::uint16_t>(optionalSize, 2))) return Fail(error, "ends inside its PE headers");
    if (ReadLe16(file, opt) != 0x010B) return Fail(error, "not a 32-bit image (optional header magic is not 0x10B)");
    if (optionalSize < 96) return Fail(error, "its optional header is too short for a 32-bit image");
    image->sizeOfInitializedData = ReadLe32(file, opt + 8);
    image->sectionAlignment = ReadLe32(file, opt + 32);
    image->fileAlignment = ReadLe32(file, opt + 36);
    image->sizeOfImage = ReadLe32(file, opt + 56);
    image->sizeOfHeaders = ReadLe32(file, opt + 60);
    image->checkSum = ReadLe32(file, opt + 64);
    image->subsystem = ReadLe16(file, opt + 68);
    image->dllCharacteristics = ReadLe16(file, opt + 70);
    const std::uint32_t directoryCount = std::min<std::uint32_t>(ReadLe32(file, opt + 92), 16);
    if (96 + 8 * directoryCount > optionalSize) return Fail(error, "its data directories run past its optional header");
    for (std::uint32_t i = 0; i < directoryCount; ++i)
        image->directories.push_back({ReadLe32(file, opt + 96 + 8 * i), ReadLe32(file, opt + 100 + 8 * i)});
    image->directories.resize(16);
    const std::size_t table = opt + optionalSize;
    if (!Fits(file, table, 40ull * sectionCount)) return Fail(error, "ends inside its section table");
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = table + 40ull * i;
        PeSection s;
        for (std::size_t c = 0; c < 8 && file[at + c]; ++c) s.name.push_back(static_cast<char>(file[at + c]));
        s.virtualSize = ReadLe32(file, at + 8);
        s.virtualAddress = ReadLe32(file, at + 12);
        s.sizeOfRawData = ReadLe32(file, at + 16);
        s.pointerToRawData = ReadLe32(file, at + 20);
        s.characteristics = ReadLe32(file, at + 36);
        s.headerOffset = at;
        image->sections.push_back(s);
    }
    return true;
}

bool ParseResources(const Bytes& file, const PeImage& image, ResourceNode* root, std::string* error,
                    std::vector<FileRange>* structure, std::vector<FileRange>* data) {
    *root = ResourceNode{};
    const PeSection* rsrc = image.Find(".rsrc");
    if (!rsrc) return Fail(error, "has no \".rsrc\" section");
    if (rsrc->pointerToRawData > file.size()) return Fail(error, "its resource section lies past the end of the file");
    const std::uint32_t present =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(rsrc->sizeOfRawData, file.size() - rsrc->pointerToRawData));
    ResourceReader reader{file, image, rsrc->pointerToRawData, present, structure, data, {}, {}};
    if (!reader.ReadDirectory(0, 0, root)) return Fail(error, reader.error);
    return true;
}

const ResourceNode* FirstResource(const ResourceNode& root, std::vector<const ResourceNode*>* path) {
    const ResourceNode* node = &root;
    if (path) path->clear();
    while (node->isDirectory) {
        if (node->children.empty()) return nullptr;
        node = &node->children.front();
        if (path) path->push_back(node);
    }
    return node;
}

std::string Describe(const ResourceName& name) {
    if (!name.named) {
        char number[16];
        std::snprintf(number, sizeof number, "#%u", static_cast<unsigned>(name.id));
        return number;
    }
    std::string text;
    for (char16_t c : name.name) text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    return text;
}

Bytes BuildResourceSection(const ResourceNode& root, std::uint32_t sectionRva, std::uint32_t alignment,
                           std::uint32_t* anchorOffset) {
    // Directories breadth first, as the resource compiler lays them out:
    // the root, the types, the names, the languages.
    std::vector<const ResourceNode*> directories;
    std::vector<const ResourceNode*> leaves;  // tree order
    std::map<const ResourceNode*, std::uint32_t> where;
    std::deque<const ResourceNode*> queue{&root};
    std::uint32_t cursor = 0;
    while (!queue.empty()) {
        const ResourceNode* node = queue.front();
        queue.pop_front();
        directories.push_back(node);
        where[node] = cursor;
        cursor += 16 + 8 * static_cast<std::uint32_t>(node->children.size());
        for (const ResourceNode& child : node->children)
            if (child.isDirectory) queue.push_back(&child);
    }
    // Leaves in tree order (depth first), which makes the first resource
    // the first leaf.
    struct Walk {
        static void Leaves(const ResourceNode& n, std::vector<const ResourceNode*>& out) {
            for (const ResourceNode& c : n.children) {
                if (c.isDirectory) Leaves(c, out);
                else out.push_back(&c);
            }
        }
    };
    Walk::Leaves(root, leaves);
    const ResourceNode* anchor = FirstResource(root);

    // Name strings.
    std::map<const ResourceNode*, std::uint32_t> nameAt;
    for (const ResourceNode* dir : directories)
        for (const ResourceNode& child : dir->children)
            if (child.name.named) {
                cursor = AlignUp(cursor, 2);
                nameAt[&child] = cursor;
                cursor += 2 + 2 * static_cast<std::uint32_t>(child.name.name.size());
            }
    // Data entries.
    cursor = AlignUp(cursor, 4);
    std::map<const ResourceNode*, std::uint32_t> entryAt;
    for (const ResourceNode* leaf : leaves) {
        entryAt[leaf] = cursor;
        cursor += 16;
    }
    // Data: every resource but the first in tree order, then the first one,
    // ending on the alignment.
    std::map<const ResourceNode*, std::uint32_t> dataAt;
    for (const ResourceNode* leaf : leaves) {
        if (leaf == anchor) continue;
        cursor = AlignUp(cursor, 8);
        dataAt[leaf] = cursor;
        cursor += static_cast<std::uint32_t>(leaf->data.size());
    }
    if (anchor) {
        const std::uint32_t size = static_cast<std::uint32_t>(anchor->data.size());
        const std::uint32_t start = AlignUp(cursor, 4);
        std::uint32_t end = AlignUp(start + size, alignment ? alignment : 1);
        dataAt[anchor] = end - size;
        cursor = end;
        if (anchorOffset) *anchorOffset = end - size;
    }

    Bytes out(cursor, 0);
    for (const ResourceNode* dir : directories) {
        const std::uint32_t at = where[dir];
        Put32(out, at, dir->characteristics);
        Put32(out, at + 4, dir->timeDateStamp);
        Put16(out, at + 8, dir->majorVersion);
        Put16(out, at + 10, dir->minorVersion);
        std::uint16_t named = 0, numbered = 0;
        for (const ResourceNode& child : dir->children) (child.name.named ? named : numbered)++;
        Put16(out, at + 12, named);
        Put16(out, at + 14, numbered);
        std::uint32_t entry = at + 16;
        for (const ResourceNode& child : dir->children) {
            Put32(out, entry, child.name.named ? (0x80000000u | nameAt[&child]) : child.name.id);
            Put32(out, entry + 4, child.isDirectory ? (0x80000000u | where[&child]) : entryAt[&child]);
            entry += 8;
        }
    }
    for (const auto& [node, at] : nameAt) {
        Put16(out, at, static_cast<std::uint16_t>(node->name.name.size()));
        for (std::size_t i = 0; i < node->name.name.size(); ++i)
            Put16(out, at + 2 + 2 * i, static_cast<std::uint16_t>(node->name.name[i]));
    }
    for (const ResourceNode* leaf : leaves) {
        const std::uint32_t at = entryAt[leaf];
        Put32(out, at, sectionRva + dataAt[leaf]);
        Put32(out, at + 4, static_cast<std::uint32_t>(leaf->data.size()));
        Put32(out, at + 8, leaf->codePage);
        Put32(out, at + 12, leaf->reserved);
        std::copy(leaf->data.begin(), leaf->data.end(), out.begin() + dataAt[leaf]);
    }
    return out;
}

std::uint32_t PeChecksum(const Bytes& file, std::size_t checkSumOffset) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        std::uint32_t word = file[i];
        if (i + 1 < file.size()) word |= static_cast<std::uint32_t>(file[i + 1]) << 8;
        if (i >= checkSumOffset && i < checkSumOffset + 4) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

bool MakeAnchorLast(Bytes& file, const std::string& anchorType, std::string* error) {
    PeImage image;
    if (!ParsePe(file, &image, error)) return false;
    if (image.pointerToSymbolTable != 0 || image.numberOfSymbols != 0)
        return Fail(error, "the image still has a symbol table (link with -s)");
    if (image.directories[kDirSecurity].size != 0)
        return Fail(error, "the image carries a certificate; sign it after the layout step");
    if (image.fileAlignment == 0 || image.sectionAlignment == 0) return Fail(error, "zero alignment");

    // The sections that move: .rsrc and, when it follows .rsrc, .reloc. They
    // must be the last in the table, in address order and in the file.
    const std::size_t count = image.sections.size();
    std::size_t rsrcIndex = count;
    for (std::size_t i = 0; i < count && rsrcIndex == count; ++i)
        if (image.sections[i].name == ".rsrc") rsrcIndex = i;
    if (rsrcIndex == count) return Fail(error, "no .rsrc section");
    const bool relocFollows = rsrcIndex + 1 < count && image.sections[rsrcIndex + 1].name == ".reloc";
    if (rsrcIndex + (relocFollows ? 2 : 1) != count)
        return Fail(error, "sections other than .reloc follow .rsrc: " + image.sections[rsrcIndex + 1].name);
    const PeSection rsrc = image.sections[rsrcIndex];
    const PeSection reloc = relocFollows ? image.sections[rsrcIndex + 1] : PeSection{};
    if (relocFollows && (reloc.virtualAddress < rsrc.virtualAddress || reloc.pointerToRawData < rsrc.pointerToRawData))
        return Fail(error, ".reloc does not follow .rsrc in the file");
    const std::uint64_t tailEnd = relocFollows ? static_cast<std::uint64_t>(reloc.pointerToRawData) + reloc.sizeOfRawData
                                               : static_cast<std::uint64_t>(rsrc.pointerToRawData) + rsrc.sizeOfRawData;
    if (tailEnd > file.size()) return Fail(error, "section raw data past the end of the file");
    for (std::size_t i = 0; i < rsrcIndex; ++i) {
        const PeSection& s = image.sections[i];
        if (s.sizeOfRawData && s.pointerToRawData + static_cast<std::uint64_t>(s.sizeOfRawData) > rsrc.pointerToRawData)
            return Fail(error, "section " + s.name + " has raw data after .rsrc");
        if (s.virtualAddress >= rsrc.virtualAddress) return Fail(error, "section " + s.name + " lies after .rsrc");
    }
    for (std::size_t i = static_cast<std::size_t>(tailEnd); i < file.size(); ++i)
        if (file[i] != 0) return Fail(error, "data after the last section");

    ResourceNode root;
    if (!ParseResources(file, image, &root, error)) return false;
    std::vector<const ResourceNode*> path;
    const ResourceNode* anchor = FirstResource(root, &path);
    if (!anchor || path.size() != 3) return Fail(error, "the resource tree has no three-level first resource");
    if (!path[0]->name.named || Describe(path[0]->name) != anchorType)
        return Fail(error, "the first resource is of type " + Describe(path[0]->name) + ", not " + anchorType);

    // New places: .reloc where .rsrc was, .rsrc after it.
    PeSection newReloc = reloc;
    PeSection newRsrc = rsrc;
    if (relocFollows) {
        newReloc.virtualAddress = rsrc.virtualAddress;
        newReloc.pointerToRawData = rsrc.pointerToRawData;
        const std::uint32_t relocSpan = reloc.virtualSize ? reloc.virtualSize : reloc.sizeOfRawData;
        newRsrc.virtualAddress = AlignUp(newReloc.virtualAddress + relocSpan, image.sectionAlignment);
        newRsrc.pointerToRawData = newReloc.pointerToRawData + reloc.sizeOfRawData;
    }
    std::uint32_t anchorOffset = 0;
    Bytes resources = BuildResourceSection(root, newRsrc.virtualAddress, image.fileAlignment, &anchorOffset);
    newRsrc.virtualSize = static_cast<std::uint32_t>(resources.size());
    newRsrc.sizeOfRawData = AlignUp(newRsrc.virtualSize, image.fileAlignment);
    resources.resize(newRsrc.sizeOfRawData, 0);

    // The data directories: the resource directory is the new section; the
    // relocation table moves with .reloc (its contents name places in other
    // sections and do not depend on where the table itself lies); nothing
    // else may point into the moved sections.
    std::vector<PeDirectory> directories = image.directories;
    for (int i = 0; i < 16; ++i) {
        PeDirectory& d = directories[static_cast<std::size_t>(i)];
        if (i == kDirSecurity || d.virtualAddress == 0) continue;
        if (i == kDirResource) {
            d.virtualAddress = newRsrc.virtualAddress;
            d.size = newRsrc.virtualSize;
            continue;
        }
        const std::uint32_t relocSpan = std::max(reloc.virtualSize, reloc.sizeOfRawData);
        if (relocFollows && d.virtualAddress >= reloc.virtualAddress &&
            d.virtualAddress - reloc.virtualAddress < relocSpan) {
            d.virtualAddress = d.virtualAddress - reloc.virtualAddress + newReloc.virtualAddress;
            continue;
        }
        const std::uint32_t rsrcSpan = std::max(rsrc.virtualSize, rsrc.sizeOfRawData);
        if (d.virtualAddress >= rsrc.virtualAddress && d.virtualAddress - rsrc.virtualAddress < rsrcSpan)
            return Fail(error, "data directory " + std::to_string(i) + " points into .rsrc");
    }

    Bytes out(file.begin(), file.begin() + rsrc.pointerToRawData);
    if (relocFollows) AppendRange(out, file, reloc.pointerToRawData, reloc.sizeOfRawData);
    out.insert(out.end(), resources.begin(), resources.end());

    // Section table: .reloc (when it moved) in .rsrc's slot, .rsrc last.
    auto writeHeader = [&](std::size_t slot, const PeSection& original, const PeSection& moved) {
        const std::size_t at = image.sections[slot].headerOffset;
        std::copy(file.begin() + static_cast<std::ptrdiff_t>(original.headerOffset),
                  file.begin() + static_cast<std::ptrdiff_t>(original.headerOffset + 40),
                  out.begin() + static_cast<std::ptrdiff_t>(at));
        Put32(out, at + 8, moved.virtualSize);
        Put32(out, at + 12, moved.virtualAddress);
        Put32(out, at + 16, moved.sizeOfRawData);
        Put32(out, at + 20, moved.pointerToRawData);
    };
    if (relocFollows) {
        writeHeader(rsrcIndex, reloc, newReloc);
        writeHeader(rsrcIndex + 1, rsrc, newRsrc);
    } else {
        writeHeader(rsrcIndex, rsrc, newRsrc);
    }
    for (int i = 0; i < 16; ++i) {
        Put32(out, image.DirectoryOffset(i), directories[static_cast<std::size_t>(i)].virtualAddress);
        Put32(out, image.DirectoryOffset(i) + 4, directories[static_cast<std::size_t>(i)].size);
    }

    // Sizes: the image ends with the last section rounded to the section
    // alignment; initialized data change by the change of .rsrc's raw size.
    std::uint32_t imageEnd = 0;
    for (std::size_t i = 0; i < rsrcIndex; ++i) {
        const PeSection& s = image.sections[i];
        imageEnd = std::max(imageEnd, AlignUp(s.virtualAddress + std::max(s.virtualSize, 1u), image.sectionAlignment));
    }
    if (relocFollows)
        imageEnd = std::max(imageEnd, AlignUp(newReloc.virtualAddress + (reloc.virtualSize ? reloc.virtualSize : reloc.sizeOfRawData),
                                              image.sectionAlignment));
    imageEnd = std::max(imageEnd, AlignUp(newRsrc.virtualAddress + newRsrc.virtualSize, image.sectionAlignment));
    Put32(out, image.SizeOfImageOffset(), imageEnd);
    Put32(out, image.SizeOfInitializedDataOffset(),
          image.sizeOfInitializedData - rsrc.sizeOfRawData + newRsrc.sizeOfRawData);

    Put32(out, image.CheckSumOffset(), 0);
    Put32(out, image.CheckSumOffset(), PeChecksum(out, image.CheckSumOffset()));

    const std::string fault = FindLayoutFault(out);
    if (!fault.empty()) return Fail(error, "layout still wrong after rearranging: " + fault);
    file.swap(out);
    return true;
}

std::string FindCutFault(const Bytes& file, const PeImage& image, const std::vector<FileRange>& structure,
                         const std::vector<FileRange>& data, std::uint64_t cut) {
    static const char* const kDirectoryNames[16] = {
        "export",         "import",        "resource",           "exception",
        "certificate",    "base relocation", "debug",            "architecture",
        "global pointer", "TLS",           "load configuration", "bound import",
        "import address", "delay import",  "CLR runtime",        "reserved",
    };
    auto hex = [](std::uint64_t v) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
        return std::string(text);
    };
    if (cut < image.HeadersEnd()) return "the payload anchor's data lie inside the PE headers";

    const PeSection* rsrc = image.Find(".rsrc");
    for (const PeSection& s : image.sections) {
        if (s.sizeOfRawData == 0) continue;
        const std::uint64_t end = static_cast<std::uint64_t>(s.pointerToRawData) + s.sizeOfRawData;
        if (&s == rsrc) {
            if (cut < s.pointerToRawData || cut > end)
                return "the payload anchor's data lie outside the \".rsrc\" section";
            continue;  // its bytes after the anchor are checked resource by resource
        }
        if (end > cut)
            return "section \"" + s.name + "\" has data (file offsets " + hex(s.pointerToRawData) + " to " +
                   hex(end) + ") at or after the payload anchor's data at " + hex(cut);
    }

    if (image.pointerToSymbolTable != 0) {
        std::uint64_t end = image.pointerToSymbolTable + 18ull * image.numberOfSymbols;
        if (Fits(file, end, 4)) end += ReadLe32(file, static_cast<std::size_t>(end));  // the string table follows
        if (end > cut) return "its symbol table lies at or after the payload anchor's data (strip the stub)";
    }

    for (int i = 0; i < 16; ++i) {
        const PeDirectory& d = image.directories[static_cast<std::size_t>(i)];
        if (d.virtualAddress == 0 || d.size == 0 || i == kDirResource) continue;
        std::uint32_t at = d.virtualAddress;  // the certificate's is a file offset
        if (i != kDirSecurity && !image.FileOffsetOf(d.virtualAddress, &at)) continue;  // no file data
        if (static_cast<std::uint64_t>(at) + d.size > cut)
            return std::string("its ") + kDirectoryNames[i] + " data directory points at or after the payload "
                   "anchor's data at " + hex(cut);
        if (i != kDirDebug || !Fits(file, at, d.size)) continue;
        // Each 28-byte debug entry names the file offset of its data.
        for (std::uint64_t e = at; e + 28 <= static_cast<std::uint64_t>(at) + d.size; e += 28) {
            const std::uint64_t size = ReadLe32(file, static_cast<std::size_t>(e + 16));
            const std::uint64_t raw = ReadLe32(file, static_cast<std::size_t>(e + 24));
            if (raw != 0 && size != 0 && raw + size > cut)
                return "its debug data lie at or after the payload anchor's data (strip the stub)";
        }
    }

    for (const FileRange& r : structure)
        if (r.end > cut) return "a " + r.what + " lies at or after the payload anchor's data";
    // data.front() is the anchor itself.
    for (std::size_t i = 1; i < data.size(); ++i)
        if (data[i].end > data[i].begin && data[i].end > cut)
            return "another resource's data (file offset " + hex(data[i].begin) + ", " +
                   std::to_string(data[i].end - data[i].begin) + " bytes) lie at or after the payload anchor's data at " +
                   hex(cut);
    return "";
}

std::string FindLayoutFault(const Bytes& file, std::uint32_t* anchorFileOffset) {
    PeImage image;
    std::string error;
    if (!ParsePe(file, &image, &error)) return error;
    ResourceNode root;
    std::vector<FileRange> structure, data;
    if (!ParseResources(file, image, &root, &error, &structure, &data)) return error;
    if (!FirstResource(root) || data.empty()) return "the resource tree holds no resource";
    const std::uint64_t anchor = data.front().begin;
    if (anchorFileOffset) *anchorFileOffset = static_cast<std::uint32_t>(anchor);
    const std::string fault = FindCutFault(file, image, structure, data, anchor);
    if (!fault.empty()) return fault;
    // The resource directory may span the anchor's data, not more.
    const PeDirectory& resources = image.directories[kDirResource];
    std::uint32_t offset = 0;
    if (resources.size != 0 && image.FileOffsetOf(resources.virtualAddress, &offset) &&
        static_cast<std::uint64_t>(offset) + resources.size > data.front().end)
        return "the resource data directory reaches past the payload anchor's data";
    return "";
}
