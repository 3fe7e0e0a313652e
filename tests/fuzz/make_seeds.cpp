// Writes the seed corpus of the fuzz targets:
//   make_fuzz_seeds <corpus folder>
// into <corpus folder>/<target>/<name>. Packages are laid out by the test
// package builder (glimmer-pack's own layout code) and then damaged on
// purpose: cut short, resource trees that point back into themselves or out
// of the file, catalogues without a terminator, records past the end.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/encoder.h"
#include "show_data.h"
#include "support/package_builder.h"

namespace fs = std::filesystem;

namespace {

fs::path g_corpus;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(g_corpus / target);
    WriteBytesFile(bytes, (g_corpus / target / name).string());
}

TestEntry Entry(const std::string& data, bool pack, const std::string& extension = ".TMP", std::uint8_t kind = ' ') {
    TestEntry e;
    e.data = data;
    e.pack = pack;
    e.extension = extension;
    e.kind = kind;
    return e;
}

TestPackage Small() {
    TestPackage p;
    p.title = "Aurora";
    p.entries = {Entry(SampleText(700, 1), true), Entry(SampleText(90, 2), false), Entry(SampleNoise(120, 3), false),
                 Entry(SampleText(400, 4), true, ".MP3")};
    return p;
}

TestPackage WithLicense() {
    TestPackage p = Small();
    p.title = "Notte stellata";
    p.license = "Licenza d'uso\r\n" + SampleText(300, 5);
    p.entries.resize(3);
    return p;
}

TestPackage Empty() {
    TestPackage p;
    p.title = "Vuoto";
    return p;
}

TestPackage Many() {
    TestPackage p;
    p.title = "Juke";
    p.base = 9998;
    p.entries = {Entry("saver", false), Entry("data", false), Entry("uninstaller", false),
                 Entry(SampleText(200, 6), true, ".MP3", ' '), Entry(SampleText(50, 7), false, ".WAV", '_'),
                 Entry(SampleNoise(40, 8), true, ".MID", 0), Entry("x", false, ".AVI", ' ')};
    return p;
}

// Payload bytes only: what the catalogue target appends to the stub.
std::string Catalogue(const std::string& package) { return package.substr(PayloadStartOf(package)); }

void PeWalkSeeds() {
    const std::string stub = MakeTestStub();
    TestStubOptions o;
    Seed("pe_walk", "stub", stub);
    o = {};
    o.rsrcFirst = true;
    Seed("pe_walk", "stub-rsrc-first", MakeTestStub(o));
    o = {};
    o.namedTypeFirst = true;
    Seed("pe_walk", "stub-named-type-first", MakeTestStub(o));
    o = {};
    o.resourceAfterAnchor = true;
    Seed("pe_walk", "stub-resource-after-anchor", MakeTestStub(o));
    o = {};
    o.relocAfterAnchor = true;
    o.symbolTable = true;
    Seed("pe_walk", "stub-reloc-symbols", MakeTestStub(o));

    const std::string small = BuildPackageBytes(Small());
    Seed("pe_walk", "package", small);
    Seed("pe_walk", "package-license", BuildPackageBytes(WithLicense()));

    // Cut short at every layer.
    const std::uint32_t lfanew = PeekU32(small, 60);
    const std::uint32_t start = PayloadStartOf(small);
    const std::vector<std::pair<std::string, std::size_t>> cuts = {
        {"cut-dos-header", 40},
        {"cut-file-header", lfanew + 10},
        {"cut-section-table", lfanew + 248 + 50},
        {"cut-resource-tree", 0x400 + 20},
        {"cut-payload-length", start + 1},
        {"cut-title", start + 100},
        {"cut-record", RecordOffsetOf(small, 1) + 10},
    };
    for (const auto& [name, at] : cuts) Seed("pe_walk", name, small.substr(0, at));

    // Resource trees pointing back into themselves or out of the file.
    const std::size_t rootEntry = 0x400 + 16;
    std::string loop = small;
    PokeU32(loop, rootEntry + 4, 0x80000000u);  // the name level is the root again
    Seed("pe_walk", "resource-root-loop", loop);
    std::string self = small;
    PokeU32(self, rootEntry + 4, 0x80000000u);
    PokeU32(self, rootEntry, 0x80000000u);
    Seed("pe_walk", "resource-named-root-loop", self);
    std::string far = small;
    PokeU32(far, rootEntry + 4, 0xFFFFFFF0u);
    Seed("pe_walk", "resource-offset-past-end", far);
    std::string lowRva = small;  // the name level's entry leads back to the root
    PokeU32(lowRva, PeekU32(small, rootEntry + 4) + 0x400 - 0x80000000u + 16 + 4, 0);
    Seed("pe_walk", "resource-name-level-to-root", lowRva);

    // No ".rsrc" among a huge section count; headers far out.
    std::string noRsrc = small;
    const std::size_t table = lfanew + 248;
    for (int i = 0; i < 2; ++i) noRsrc[table + 40 * i + 4] = 'X';
    PokeU16(noRsrc, lfanew + 6, 0xFFFF);
    Seed("pe_walk", "no-rsrc-many-sections", noRsrc);
    std::string farPe = small;
    PokeU32(farPe, 60, 0xFFFFFFF0u);
    Seed("pe_walk", "pe-header-past-end", farPe);
}

void CatalogueSeeds() {
    const std::string small = BuildPackageBytes(Small());
    Seed("catalogue", "package", Catalogue(small));
    Seed("catalogue", "license", Catalogue(BuildPackageBytes(WithLicense())));
    Seed("catalogue", "no-files", Catalogue(BuildPackageBytes(Empty())));
    Seed("catalogue", "media", Catalogue(BuildPackageBytes(Many())));

    TestPackage big;
    big.title = "Grande";
    big.entries = {Entry(SampleText(40000, 9), true), Entry(std::string(20000, '\0'), true),
                   Entry("u", false)};
    Seed("catalogue", "chunks", Catalogue(BuildPackageBytes(big)));

    std::string noTerminator = small;
    noTerminator.resize(RecordOffsetOf(small, 4));
    Seed("catalogue", "no-terminator", Catalogue(noTerminator));
    std::string cutRecord = small.substr(0, RecordOffsetOf(small, 2) + 13);
    Seed("catalogue", "cut-in-record", Catalogue(cutRecord));
    std::string pastEnd = small;
    PokeU32(pastEnd, RecordOffsetOf(small, 1), 0xFFFFFF00u);
    Seed("catalogue", "record-past-end", Catalogue(pastEnd));
    std::string huge = small;
    PokeU32(huge, RecordOffsetOf(small, 0) + 8, 0x80000000u);
    Seed("catalogue", "unpacked-2-31", Catalogue(huge));
    std::string terminatorSize = small;
    PokeU32(terminatorSize, RecordOffsetOf(small, 4) + 8, 0x12345678u);
    Seed("catalogue", "terminator-unpacked", Catalogue(terminatorSize));
    std::string longTitle = small;
    for (std::uint32_t k = 0; k < 260; ++k) longTitle[TitleOffsetOf(small) + k] = 'T';
    Seed("catalogue", "title-without-nul", Catalogue(longTitle));
    std::string longLicense = small;
    PokeU16(longLicense, PayloadStartOf(small), 0xFFFF);
    Seed("catalogue", "license-past-end", Catalogue(longLicense));
}

// Decode seeds: flags, unpacked size, stored size, stream.
std::string DecodeSeed(std::uint8_t flags, std::uint32_t unpacked, std::int32_t stored, const std::string& stream) {
    std::string s(8, '\0');
    s[0] = static_cast<char>(flags);
    for (int k = 0; k < 3; ++k) s[1 + k] = static_cast<char>(unpacked >> (8 * k));
    for (int k = 0; k < 4; ++k) s[4 + k] = static_cast<char>(static_cast<std::uint32_t>(stored) >> (8 * k));
    return s + stream;
}

std::string Packed(const std::string& data, LzhufParse parse = LzhufParse::Optimal) {
    std::vector<std::uint8_t> packed =
        LzhufEncode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), parse);
    return std::string(packed.begin(), packed.end());
}

void DecodeSeeds() {
    constexpr std::uint8_t kLarge = 0x10, kRawStored = 0x80, kUninstaller = 1;
    constexpr std::uint8_t kGreedy = 0x00, kLazy = 0x20, kOptimal = 0x40;
    const std::string text = SampleText(3000, 10);
    Seed("decode", "text", DecodeSeed(kOptimal, 3000, 0, Packed(text)));
    Seed("decode", "text-greedy", DecodeSeed(kGreedy, 3000, 0, Packed(text, LzhufParse::Greedy)));
    Seed("decode", "noise-lazy", DecodeSeed(kLazy, 500, 0, Packed(SampleNoise(500, 11), LzhufParse::Lazy)));
    Seed("decode", "chunk-and-one", DecodeSeed(kOptimal, 16385, 0, Packed(std::string(16385, 'a'))));
    std::string truncated = Packed(text);
    Seed("decode", "stored-short", DecodeSeed(kOptimal, 3000, -40, truncated));
    Seed("decode", "stored-long", DecodeSeed(kOptimal, 3000, 100, truncated));
    Seed("decode", "stored-negative", DecodeSeed(kRawStored, 3000, -1, truncated));
    Seed("decode", "unpacked-zero", DecodeSeed(kOptimal, 0, 0, truncated));
    // "MZ" from the two bytes 0x15 0x22 of a fresh tree.
    Seed("decode", "two-literals", DecodeSeed(0, 2, 0, std::string("\x15\x22", 2)));
    // Large entries need long inputs: 32 unpacked bytes per stream byte at
    // most, beyond the first 4096. Zero bits all through an entry that
    // reaches a second pump, cancelled there.
    Seed("decode", "cancel-large", DecodeSeed(kLarge | (2 << 1), 110000, 0, std::string(3400, '\0')));
    // Cancelled at the first pump; the uninstaller is not cut short.
    const std::string zs = Packed(std::string(40000, 'z'));
    Seed("decode", "cancel-first-pump", DecodeSeed(1 << 1, 40000, 0, zs));
    Seed("decode", "cancel-uninstaller", DecodeSeed((1 << 1) | kUninstaller, 40000, 0, zs));
}

void PackSeeds() {
    Seed("pack_list_extract", "package", BuildPackageBytes(Small()));
    Seed("pack_list_extract", "license", BuildPackageBytes(WithLicense()));
    Seed("pack_list_extract", "no-files", BuildPackageBytes(Empty()));
    Seed("pack_list_extract", "media", BuildPackageBytes(Many()));
    // "signed" is "package" after glimmer-pack sign with a throw-away
    // certificate: kept as it is, since signing needs osslsigncode.

    const std::vector<std::pair<std::string, std::string>> titles = {
        {"title-dots", ".."}, {"title-slash", "a/b"}, {"title-backslash", "..\\..\\x"},
        {"title-cp1252", "L\x92" "aurora \xe8 bella"}, {"title-259", std::string(259, 'x')},
        {"title-blanks", "Aurora   "},
    };
    for (const auto& [name, title] : titles) {
        TestPackage p = Small();
        p.title = title;
        Seed("pack_list_extract", name, BuildPackageBytes(p));
    }
    // A media file named like the screen saver.
    TestPackage twins = Small();
    twins.title = "FILE0001";
    twins.entries[3].extension = ".scr";
    Seed("pack_list_extract", "two-alike", BuildPackageBytes(twins));
    // A media extension that climbs out of the folder.
    TestPackage climb = Small();
    climb.entries[3].extension = "/../../x";
    Seed("pack_list_extract", "extension-slash", BuildPackageBytes(climb));
    // A packed entry claiming far more than it holds.
    std::string greedy = BuildPackageBytes(Small());
    PokeU32(greedy, RecordOffsetOf(greedy, 0) + 8, 0x7FFFFFFFu);
    Seed("pack_list_extract", "unpacked-huge", greedy);
    std::string cut = BuildPackageBytes(Small());
    cut.resize(cut.size() - 10);
    Seed("pack_list_extract", "cut-data", cut);
}

}  // namespace

// Slideshow data files: a sound one with three small pictures, one without
// pictures, and the sound one cut inside its rows and with a picture row
// pointing back into the index.
void ShowDataSeeds() {
    std::vector<std::uint8_t> index;
    const std::string pictures[] = {SampleNoise(40, 7), SampleNoise(25, 8), SampleText(60, 9)};
    std::vector<std::uint32_t> sizes;
    for (const auto& p : pictures) sizes.push_back(static_cast<std::uint32_t>(p.size()));
    if (!WriteShowIndex({8, kOrderShuffled, kFitWhole, true}, "Lago", sizes, &index)) std::abort();
    std::string sound(index.begin(), index.end());
    for (const auto& p : pictures) sound += p;
    Seed("show_data", "three-pictures", sound);
    Seed("show_data", "cut-in-rows", sound.substr(0, kShowHeaderSize + 4 + kShowRowSize + 2));
    std::string back = sound;
    back[kShowHeaderSize + 4] = 0;
    Seed("show_data", "picture-in-index", back);
    if (!WriteShowIndex({1, kOrderGiven, kFitFill, false}, "Vuoto", {}, &index)) std::abort();
    Seed("show_data", "no-pictures", std::string(index.begin(), index.end()));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_FOLDER\n");
        return 2;
    }
    g_corpus = argv[1];
    PeWalkSeeds();
    CatalogueSeeds();
    DecodeSeeds();
    PackSeeds();
    ShowDataSeeds();
    return 0;
}
