// Checks the built installer stub (stub.exe) as Windows will see it and as
// glimmer-pack will cut it: size, security flags, relocation table, the
// payload anchor first in the resource tree and last in the file, the
// dialog templates byte for byte, the icon, the manifest and the imported
// libraries. Host program, run by CTest in the win32 build:
//
//   check_stub_exe STUB.exe LIMIT_BYTES
//
// Prints one line per failed check and a closing "N passed, N failed";
// exits 1 when anything failed or the stub cannot be read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pe_layout.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::uint16_t Get16(const Bytes& f, std::size_t at) { return static_cast<std::uint16_t>(f[at] | (f[at + 1] << 8)); }
std::uint32_t Get32(const Bytes& f, std::size_t at) {
    return static_cast<std::uint32_t>(Get16(f, at)) | (static_cast<std::uint32_t>(Get16(f, at + 2)) << 16);
}

// Windows values, written out here rather than taken from a Windows header,
// so the check does not share its numbers with the resource compiler.
constexpr std::uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                        WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000,
                        WS_VSCROLL = 0x00200000, WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000;
constexpr std::uint32_t DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, DS_CENTER = 0x0800;
constexpr std::uint32_t BS_PUSHBUTTON = 0, BS_DEFPUSHBUTTON = 1;
constexpr std::uint32_t SS_LEFT = 0, SS_CENTER = 1, SS_NOPREFIX = 0x80;
constexpr std::uint32_t ES_MULTILINE = 4, ES_NOHIDESEL = 0x100, ES_READONLY = 0x800;
constexpr std::uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
constexpr std::uint32_t RT_ICON = 3, RT_DIALOG = 5, RT_GROUP_ICON = 14, RT_MANIFEST = 24;
constexpr std::uint32_t kEnglishUs = 1033;

struct Control {
    std::uint16_t id;
    std::uint16_t classAtom;
    std::string text;  // code page 1252
    std::uint32_t style;
    short x, y, cx, cy;
};

struct Template {
    std::uint32_t id;
    std::uint32_t style;
    short cx, cy;
    std::string caption;
    std::vector<Control> controls;
};

constexpr std::uint16_t kStaticId = 0xFFFF;  // -1

const std::vector<Template>& ExpectedDialogs() {
    static const std::vector<Template> dialogs = {
        {103, WS_POPUP | DS_CENTER | DS_MODALFRAME | DS_SETFONT, 187, 99, "",
         {
             {1, kButton, "OK", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 131, 6, 50, 14},
             {2, kButton, "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 68, 78, 50, 14},
             {kStaticId, kStatic, "Installaizone", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 50, 15, 86, 8},
             {kStaticId, kStatic, "Attendere prego...", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 48, 50, 90, 8},
             {1001, kStatic, "", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER | SS_NOPREFIX, 4, 31, 178, 8},
         }},
        {104, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 205, 154,
         "Glimmerwick Orvella",
         {
             {kStaticId, kStatic, "*** GLIMMERWICK ORVELLA ***", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 23, 25, 158, 10},
             {kStaticId, kStatic, "TM", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 157, 18, 11, 8},
             {1, kButton, "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 78, 134, 50, 14},
             {kStaticId, kStatic, "Questo screen saver \xe8 stato creato con", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 23, 7, 158, 10},
             {kStaticId, kStatic, "Non richiede conoscenze di programmazione", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 23, 42, 158, 8},
             {kStaticId, kStatic, "", WS_CHILD | WS_GROUP | SS_CENTER, 23, 59, 158, 8},
             {kStaticId, kStatic, "www.glimmerwick.example", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 23, 83, 158, 8},
             {kStaticId, kStatic, "", WS_CHILD | WS_GROUP | SS_CENTER, 23, 91, 158, 36},
         }},
        {106, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 391, 262,
         "License Agreement",
         {
             {1, kButton, "Accept", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 137, 240, 50, 14},
             {2, kButton, "Decline", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 203, 240, 50, 14},
             {1009, kEdit, "",
              WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_NOHIDESEL | ES_READONLY,
              12, 12, 366, 216},
         }},
    };
    return dialogs;
}

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A code page 1252 text as NUL-terminated UTF-16. Bytes 0x80 to 0x9F are
// not identical to their code points and the templates do not use them.
void PutText(Bytes& out, const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80 && c < 0xA0) {
            std::fprintf(stderr, "unexpected byte 0x%02X in an expected text\n", c);
            std::exit(2);
        }
        Put16(out, c);
    }
    Put16(out, 0);
}

// The classic (not extended) DLGTEMPLATE that a resource compiler writes.
Bytes EncodeTemplate(const Template& t) {
    Bytes out;
    Put32(out, t.style);
    Put32(out, 0);  // extended style
    Put16(out, static_cast<std::uint32_t>(t.controls.size()));
    Put16(out, 0);  // x
    Put16(out, 0);  // y
    Put16(out, static_cast<std::uint16_t>(t.cx));
    Put16(out, static_cast<std::uint16_t>(t.cy));
    Put16(out, 0);  // no menu
    Put16(out, 0);  // no class
    PutText(out, t.caption);
    Put16(out, 8);
    PutText(out, "MS Sans Serif");
    for (const Control& c : t.controls) {
        while (out.size() % 4) out.push_back(0);
        Put32(out, c.style);
        Put32(out, 0);  // extended style
        Put16(out, static_cast<std::uint16_t>(c.x));
        Put16(out, static_cast<std::uint16_t>(c.y));
        Put16(out, static_cast<std::uint16_t>(c.cx));
        Put16(out, static_cast<std::uint16_t>(c.cy));
        Put16(out, c.id);
        Put16(out, 0xFFFF);
        Put16(out, c.classAtom);
        PutText(out, c.text);
        Put16(out, 0);  // no creation data
    }
    return out;
}

std::string Hex(const Bytes& b, std::size_t from, std::size_t count) {
    std::string s;
    char buf[4];
    for (std::size_t i = from; i < b.size() && i < from + count; ++i) {
        std::snprintf(buf, sizeof buf, "%02x ", b[i]);
        s += buf;
    }
    return s;
}

const ResourceNode* Child(const ResourceNode& dir, std::uint32_t id) {
    for (const ResourceNode& c : dir.children)
        if (!c.name.named && c.name.id == id) return &c;
    return nullptr;
}

// The single language entry of resource `type`/`id`, or nullptr.
const ResourceNode* Resource(const ResourceNode& root, std::uint32_t type, std::uint32_t id) {
    const ResourceNode* t = Child(root, type);
    const ResourceNode* n = t ? Child(*t, id) : nullptr;
    if (!n || n->children.size() != 1) return nullptr;
    return &n->children.front();
}

void CheckDialogs(const ResourceNode& root) {
    for (const Template& t : ExpectedDialogs()) {
        const std::string name = "dialog " + std::to_string(t.id);
        const ResourceNode* leaf = Resource(root, RT_DIALOG, t.id);
        Check(leaf != nullptr, name + " present");
        if (!leaf) continue;
        const Bytes expected = EncodeTemplate(t);
        const Bytes& actual = leaf->data;
        std::size_t differ = 0;
        while (differ < expected.size() && differ < actual.size() && expected[differ] == actual[differ]) ++differ;
        const bool same = actual.size() == expected.size() && differ == expected.size();
        Check(same, name + " matches its table byte for byte (size " + std::to_string(actual.size()) + ", expected " +
                        std::to_string(expected.size()) + ", first difference at " + std::to_string(differ) +
                        ": actual " + Hex(actual, differ, 8) + "expected " + Hex(expected, differ, 8) + ")");
    }
}

void CheckIcon(const ResourceNode& root) {
    const ResourceNode* group = Resource(root, RT_GROUP_ICON, 101);
    Check(group != nullptr, "icon group 101 present");
    if (!group) return;
    const Bytes& g = group->data;
    Check(g.size() == 6 + 14, "icon group holds one image");
    if (g.size() != 20) return;
    Check(Get16(g, 2) == 1 && Get16(g, 4) == 1, "icon group header: type 1, one image");
    Check(g[6] == 32 && g[7] == 32, "icon image is 32 x 32");
    Check(g[8] == 16, "icon image has 16 colours");
    Check(Get16(g, 10) == 1 && Get16(g, 12) == 4, "icon image: one plane, 4 bits per pixel");
    const std::uint16_t imageId = Get16(g, 18);
    const ResourceNode* image = Resource(root, RT_ICON, imageId);
    Check(imageId == 1 && image != nullptr, "icon image stored as icon 1");
    if (!image) return;
    const Bytes& i = image->data;
    Check(Get32(g, 14) == i.size(), "icon group states the image's size");
    // BITMAPINFOHEADER, 16-entry palette, 32 rows of 16 bytes, 32 rows of
    // the 1-bit mask padded to 4 bytes.
    Check(i.size() == 40 + 64 + 512 + 128, "icon image size for 32 x 32 x 4 bits with mask");
    if (i.size() < 40) return;
    Check(Get32(i, 0) == 40 && Get32(i, 4) == 32 && Get32(i, 8) == 64 && Get16(i, 12) == 1 && Get16(i, 14) == 4,
          "icon bitmap header: 32 x (2 x 32), one plane, 4 bits");
    // A picture, not a blank: the colour bitmap uses several palette entries.
    bool used[16] = {};
    for (std::size_t at = 40 + 64; at < 40 + 64 + 512 && at < i.size(); ++at) {
        used[i[at] >> 4] = true;
        used[i[at] & 15] = true;
    }
    Check(std::count(std::begin(used), std::end(used), true) >= 6, "icon image uses at least six colours");
}

void CheckManifest(const ResourceNode& root) {
    const ResourceNode* leaf = Resource(root, RT_MANIFEST, 1);
    Check(leaf != nullptr, "application manifest 1 present");
    if (!leaf) return;
    const std::string text(leaf->data.begin(), leaf->data.end());
    auto has = [&](const std::string& s) { return text.find(s) != std::string::npos; };
    Check(has("level=\"requireAdministrator\""), "manifest asks for administrator rights");
    Check(has(">true</dpiAware>"), "manifest declares system DPI awareness");
    const char* systems[] = {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"};
    for (const char* id : systems) Check(has(id), std::string("manifest lists supported OS ") + id);
}

void CheckTree(const ResourceNode& root) {
    std::vector<const ResourceNode*> path;
    const ResourceNode* anchor = FirstResource(root, &path);
    Check(anchor && path.size() == 3, "a first resource three levels deep");
    if (!anchor || path.size() != 3) return;
    Check(path[0]->name.named && Describe(path[0]->name) == "LASTRES", "first type is \"LASTRES\"");
    Check(!path[1]->name.named && path[1]->name.id == 1000, "first name is 1000");
    Check(!path[2]->name.named && path[2]->name.id == kEnglishUs, "first language is 1033");
    Check(anchor->data.size() == 4, "payload anchor holds 4 bytes");
    Check(path[0]->children.size() == 1 && path[1]->children.size() == 1, "the anchor is alone under its type");

    std::vector<std::string> types;
    for (const ResourceNode& t : root.children) types.push_back(Describe(t.name));
    const std::vector<std::string> expected = {"LASTRES", "#3", "#5", "#14", "#24"};
    std::string list;
    for (const std::string& t : types) list += t + " ";
    Check(types == expected, "resource types are exactly LASTRES, icon, dialog, icon group, manifest (" + list + ")");

    for (const ResourceNode& t : root.children)
        for (const ResourceNode& n : t.children)
            for (const ResourceNode& l : n.children)
                Check(!l.name.named && l.name.id == kEnglishUs,
                      "resource " + Describe(t.name) + "/" + Describe(n.name) + " is in language 1033");
}

void CheckRelocations(const Bytes& file, const PeImage& image) {
    const PeDirectory& dir = image.directories[kDirBaseReloc];
    Check(dir.virtualAddress != 0 && dir.size != 0, "relocation table present");
    Check(!(image.characteristics & kRelocsStripped), "relocations not marked stripped");
    const PeSection* reloc = image.SectionOf(dir.virtualAddress);
    Check(reloc && reloc->name == ".reloc", "relocation table lies in .reloc");
    std::uint32_t offset = 0;
    if (!image.FileOffsetOf(dir.virtualAddress, &offset) || offset + static_cast<std::uint64_t>(dir.size) > file.size()) {
        Check(false, "relocation table inside the file");
        return;
    }
    // Blocks of (page RVA, block size, 16-bit entries) must tile the table
    // exactly, and every entry must fix a place inside the image.
    std::uint32_t at = 0;
    bool sound = true;
    int entries = 0;
    while (at + 8 <= dir.size) {
        const std::uint32_t page = Get32(file, offset + at);
        const std::uint32_t size = Get32(file, offset + at + 4);
        if (size < 8 || at + size > dir.size || size % 2) {
            sound = false;
            break;
        }
        for (std::uint32_t e = 8; e + 2 <= size; e += 2) {
            const std::uint16_t entry = Get16(file, offset + at + e);
            const unsigned type = entry >> 12;
            if (type == 0) continue;  // padding
            ++entries;
            if (type != 3 || page + (entry & 0xFFF) + 4 > image.sizeOfImage) sound = false;
        }
        at += size;
    }
    Check(sound && at == dir.size, "relocation blocks tile the table and stay inside the image");
    Check(entries > 0, "relocation table holds fixups");
}

void CheckImports(const Bytes& file, const PeImage& image) {
    // Only libraries that Windows maps from its own list (KnownDLLs) or that
    // every process has; the rest are loaded at run time by full path.
    const std::vector<std::string> allowed = {"ADVAPI32.DLL", "GDI32.DLL", "KERNEL32.DLL",
                                              "MSVCRT.DLL",   "SHELL32.DLL", "USER32.DLL"};
    const PeDirectory& dir = image.directories[1];
    std::uint32_t offset = 0;
    Check(dir.size != 0 && image.FileOffsetOf(dir.virtualAddress, &offset), "import directory present");
    if (dir.size == 0) return;
    std::vector<std::string> names;
    for (std::uint32_t at = offset; at + 20 <= file.size(); at += 20) {
        const std::uint32_t nameRva = Get32(file, at + 12);
        if (nameRva == 0) break;
        std::uint32_t nameAt = 0;
        if (!image.FileOffsetOf(nameRva, &nameAt)) break;
        std::string name;
        while (nameAt < file.size() && file[nameAt]) name.push_back(static_cast<char>(std::toupper(file[nameAt++])));
        names.push_back(name);
    }
    Check(!names.empty(), "imports listed");
    for (const std::string& n : names)
        Check(std::find(allowed.begin(), allowed.end(), n) != allowed.end(), "imported library " + n + " is a known one");
    for (const char* lazy : {"WINMM.DLL", "SHFOLDER.DLL"})
        Check(std::find(names.begin(), names.end(), lazy) == names.end(), std::string(lazy) + " is not imported");
}

bool Holds(const Bytes& file, const std::string& text) {
    return std::search(file.begin(), file.end(), text.begin(), text.end()) != file.end();
}

// No library may be found through the default search order, which starts in
// the folder the installer was started from.
void CheckLibrarySearch(const Bytes& file, const PeImage& image) {
    constexpr int kDirDelayImport = 13;
    Check(image.directories.size() <= kDirDelayImport || image.directories[kDirDelayImport].size == 0,
          "no delay-loaded imports");
    // The program limits later loads to the system folder first thing; it
    // looks both calls up by name.
    Check(Holds(file, std::string("SetDefaultDllDirectories") + '\0'), "looks up SetDefaultDllDirectories");
    Check(Holds(file, std::string("SetDllDirectoryA") + '\0'), "looks up SetDllDirectoryA");
    // Libraries loaded at run time are named for the system folder. The
    // runtime links statically: none of its libraries is loaded by name
    // (libgcc_s_dw2-1.dll is named, but only asked for when it is already
    // in the process, with GetModuleHandleA).
    Check(Holds(file, "GetSystemDirectoryA"), "forms system-folder paths (GetSystemDirectoryA)");
    // Libraries that system libraries load later by name are loaded first
    // from the system folder (two of them stand for the list).
    for (const char* dll : {"UXTHEME.DLL", "MSIMG32.DLL"})
        Check(Holds(file, std::string(dll) + '\0'), std::string("loads ") + dll + " from the system folder first");
    for (const char* dll : {"libstdc++-6.dll", "libwinpthread-1.dll", "mingwm10.dll"})
        Check(!Holds(file, dll), std::string("does not name ") + dll);
}

void CheckLayout(const Bytes& file, const PeImage& image) {
    std::uint32_t anchor = 0;
    const std::string fault = FindLayoutFault(file, &anchor);
    Check(fault.empty(), "payload anchor's data are the last needed bytes" + (fault.empty() ? "" : ": " + fault));
    Check(!image.sections.empty() && image.sections.back().name == ".rsrc", ".rsrc is the last section");
    Check(image.pointerToSymbolTable == 0 && image.numberOfSymbols == 0, "no symbol table");
    Check(image.directories[kDirSecurity].size == 0, "no certificate");
    // Only padding may follow the anchor's 4 bytes, and a file cut at the
    // anchor and given a payload still holds every section's raw data.
    bool padding = true;
    for (std::size_t i = anchor + 4; i < file.size(); ++i) padding = padding && file[i] == 0;
    Check(anchor + 4 <= file.size() && padding, "only zero padding follows the payload anchor");
    for (const PeSection& s : image.sections)
        Check(s.pointerToRawData + static_cast<std::uint64_t>(s.sizeOfRawData) <= anchor + 4ull,
              "section " + s.name + " raw data end by the anchor's end");

    std::uint32_t end = 0;
    for (const PeSection& s : image.sections) {
        const std::uint32_t span = std::max(s.virtualSize, s.sizeOfRawData);
        end = std::max(end, (s.virtualAddress + span + image.sectionAlignment - 1) / image.sectionAlignment *
                                image.sectionAlignment);
    }
    Check(image.sizeOfImage == end, "SizeOfImage covers the last section");
    Check(image.checkSum == 0 || image.checkSum == PeChecksum(file, image.CheckSumOffset()), "checksum consistent");
    for (std::size_t i = 1; i < image.sections.size(); ++i)
        Check(image.sections[i].virtualAddress > image.sections[i - 1].virtualAddress,
              "section " + image.sections[i].name + " follows the one before it in memory");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: check_stub_exe STUB.exe LIMIT_BYTES\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::printf("FAILED: cannot read %s (build the stub first)\n0 passed, 1 failed\n", argv[1]);
        return 1;
    }
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const unsigned long limit = std::strtoul(argv[2], nullptr, 10);

    Check(file.size() <= limit, "stub is " + std::to_string(file.size()) + " bytes, at most " + std::to_string(limit));
    PeImage image;
    std::string error;
    const bool parsed = ParsePe(file, &image, &error);
    Check(parsed, "stub parses as a PE32 image" + (parsed ? "" : ": " + error));
    if (parsed) {
        Check(image.machine == 0x014C, "machine is i386");
        Check(image.subsystem == 2, "Windows GUI subsystem");
        Check((image.dllCharacteristics & kDynamicBase) != 0, "dynamic base (ASLR) flag set");
        Check((image.dllCharacteristics & kNxCompat) != 0, "NX compatible (DEP) flag set");
        CheckRelocations(file, image);
        CheckImports(file, image);
        CheckLibrarySearch(file, image);
        CheckLayout(file, image);
        ResourceNode root;
        const bool tree = ParseResources(file, image, &root, &error);
        Check(tree, "resource tree parses" + (tree ? "" : ": " + error));
        if (tree) {
            CheckTree(root);
            CheckDialogs(root);
            CheckIcon(root);
            CheckManifest(root);
        }
    }
    std::printf("stub.exe: %zu bytes\n%d passed, %d failed\n", file.size(), g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
