// The package-writing library: stub checks, entry preparation, the layout
// read back by the installer's reader, names and text conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "package_format.h"
#include "payload/payload.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

// The test stub's layout: PE header at 0x40, file header at 0x44, optional
// header at 0x58 with its data directories at 0xB8, section headers from
// 0x138; ".text" at RVA 0x1000, file 0x200, ".rsrc" at RVA 0x2000, file
// 0x400, 0x200 bytes each; headers 0x200 bytes. With one resource, its name
// string is at 0x458 and its data entry at 0x448; with "AAAA" first,
// "LASTRES"'s language directory is at 0x478 and its data entry at 0x490.
// The anchor's data are the file's last 4 bytes, at 0x5FC.
TEST(StubCheck, EditsToTheStubThatDecideWhetherItMayBeCut) {
    auto put32 = [](std::size_t at, std::uint32_t v) { return [=](std::string& s) { PokeU32(s, at, v); }; };
    struct Case {
        const char* what;
        TestStubOptions options;
        std::function<void(std::string&)> edit;
        const char* refusal;  // "" when the stub may be cut at its last 4 bytes
    };
    const Case cases[] = {
        {"as built", {}, nullptr, ""},
        {"a named type sorting first is the anchor", {.namedTypeFirst = true}, nullptr, ""},
        {"a later section also named .rsrc is not read", {.rsrcFirst = true},
         [](std::string& s) { s.replace(0x160, 8, std::string(".rsrc\0\0\0", 8)); }, ""},
        {"a directory at a section's raw end is not in its raw data", {},
         [&](std::string& s) { put32(0x138 + 8, 0x300)(s); put32(0xB8 + 8, 0x1200)(s); put32(0xBC + 8, 0x200)(s); }, ""},
        {"a directory at a section's last raw byte is", {},
         [&](std::string& s) { put32(0x138 + 8, 0x300)(s); put32(0xB8 + 8, 0x11FF)(s); put32(0xBC + 8, 0x200)(s); },
         "import data directory"},
        {"an import directory before the anchor", {},
         [&](std::string& s) { put32(0xB8 + 8, 0x1000)(s); put32(0xBC + 8, 0x40)(s); }, ""},
        {"a resource ends exactly at the anchor", {.namedTypeFirst = true}, put32(0x490 + 4, 12), ""},
        {"a resource ends one byte into the anchor", {.namedTypeFirst = true}, put32(0x490 + 4, 13),
         "another resource's data"},
        {"a resource behind the anchor", {.resourceAfterAnchor = true}, nullptr, "another resource's data"},
        {"a fourth level in another resource", {.namedTypeFirst = true},
         [&](std::string& s) {
             put32(0x478 + 20, 0x80000000u | 0x100)(s);  // the language entry leads to a directory
             put32(0x500 + 12, 0x10000)(s);               // of one numbered entry
             put32(0x500 + 16, 1033)(s);
             put32(0x500 + 20, 0x90)(s);
         },
         "three levels"},
        {"a name whose length prefix reaches the anchor", {},
         [&](std::string& s) { put32(0x410, 0x80000000u | 0x1EE)(s); PokeU16(s, 0x5EE, 7); }, "resource name"},
        {"a name whose characters, counted in 2 bytes, run past the section", {},
         [&](std::string& s) { put32(0x410, 0x80000000u | 0x1F8)(s); PokeU16(s, 0x5F8, 4); },
         "a resource name lies outside the resource section"},
        {"a section overlapping .rsrc up to the anchor", {}, put32(0x138 + 16, 0x3FC), ""},
        {"a section overlapping .rsrc one byte into the anchor", {}, put32(0x138 + 16, 0x3FD), "section \".text\""},
        {"an anchor placed by its address in another section", {},
         [&](std::string& s) {
             put32(0x138 + 12, 0x2200)(s);  // .text right behind .rsrc's addresses
             put32(0x448, 0x2300)(s);       // the anchor's data in .text by address, 0x700 by .rsrc
             s.append(0x200, '\0');
         },
         "outside the \".rsrc\" section"},
        {"a relocation section behind the anchor", {.relocAfterAnchor = true}, nullptr, ".reloc"},
        {"a symbol table behind the anchor", {.symbolTable = true}, nullptr, "symbol table"},
        {"a string table reaching the anchor", {},
         [&](std::string& s) { put32(0x4C, 0x5C0)(s); put32(0x50, 1)(s); put32(0x5C0 + 18, 0x40)(s); },
         "symbol table"},
        {"a certificate at the anchor (a file offset)", {},
         [&](std::string& s) { put32(0xB8 + 32, 0x5FC)(s); put32(0xBC + 32, 4)(s); }, "certificate"},
        {"a debug directory at the anchor", {},
         [&](std::string& s) { put32(0xB8 + 48, 0x21FC)(s); put32(0xBC + 48, 4)(s); }, "debug data directory"},
        {"debug data at the anchor", {},
         [&](std::string& s) {
             put32(0xB8 + 48, 0x1100)(s);  // one 28-byte entry in .text, at 0x300
             put32(0xBC + 48, 28)(s);
             put32(0x300 + 16, 0x10)(s);   // SizeOfData
             put32(0x300 + 24, 0x5F8)(s);  // PointerToRawData
         },
         "debug data lie"},
    };
    for (const Case& c : cases) {
        std::string stub = MakeTestStub(c.options);
        if (c.edit) c.edit(stub);
        StubAnchor anchor;
        std::string problem = FindStubAnchor(stub, &anchor);
        if (problem.empty()) problem = CheckStubCut(stub, anchor);
        if (*c.refusal == '\0') {
            EXPECT_EQ(problem, "") << c.what;
            EXPECT_EQ(anchor.dataOffset, 0x5FCu) << c.what;
        } else {
            EXPECT_NE(problem.find(c.refusal), std::string::npos) << c.what << ": " << problem;
        }
    }
}

TEST(StubCheck, BrokenStubsAreDescribed) {
    std::string good = MakeTestStub();
    StubAnchor anchor;
    std::string noMz = good;
    noMz[0] = 'Z';
    EXPECT_NE(FindStubAnchor(noMz, &anchor), "");
    std::string pe64 = good;
    PokeU16(pe64, 0x58, 0x20B);
    EXPECT_NE(FindStubAnchor(pe64, &anchor).find("32-bit"), std::string::npos);
    std::string optional240 = good;
    PokeU16(optional240, 0x44 + 16, 240);
    EXPECT_NE(FindStubAnchor(optional240, &anchor).find("224"), std::string::npos);
    std::string noRsrc = good;
    noRsrc.replace(noRsrc.find(".rsrc"), 5, ".data");
    EXPECT_NE(FindStubAnchor(noRsrc, &anchor).find(".rsrc"), std::string::npos);
    for (std::size_t n : {std::size_t{0}, std::size_t{63}, std::size_t{0x100}, std::size_t{0x1D0},
                          std::size_t{0x410}, std::size_t{0x450}})
        EXPECT_NE(FindStubAnchor(good.substr(0, n), &anchor), "") << "cut at " << n;
}

TEST(EntryPreparation, ChoiceDecidesBetweenStoredAndPacked) {
    std::string text = SampleText(5000);
    std::string noise = SampleNoise(5000);
    CatalogueEntry smallerText = PrepareEntry(text, PackChoice::Smaller, ".TMP", ' ');
    EXPECT_EQ(smallerText.unpackedSize, 5000u);
    EXPECT_LT(smallerText.stored.size(), text.size());
    CatalogueEntry smallerNoise = PrepareEntry(noise, PackChoice::Smaller, ".TMP", ' ');
    EXPECT_EQ(smallerNoise.unpackedSize, 0u);
    EXPECT_EQ(smallerNoise.stored, noise);
    CatalogueEntry packedNoise = PrepareEntry(noise, PackChoice::Pack, ".TMP", ' ');
    EXPECT_EQ(packedNoise.unpackedSize, 5000u);
    EXPECT_NE(packedNoise.stored, noise);
    CatalogueEntry storedText = PrepareEntry(text, PackChoice::Store, ".TMP", ' ');
    EXPECT_EQ(storedText.unpackedSize, 0u);
    EXPECT_EQ(storedText.stored, text);
}

TEST(EntryPreparation, ExtensionIsBlankPaddedWithoutNul) {
    CatalogueEntry e = PrepareEntry("x", PackChoice::Store, ".MP3", '_');
    EXPECT_EQ(std::string(e.extension, kExtensionSize), ".MP3" + std::string(11, ' '));
    EXPECT_EQ(e.kind, '_');
    CatalogueEntry full = PrepareEntry("x", PackChoice::Store, ".ABCDEFGHIJKLMN", 0);
    EXPECT_EQ(std::string(full.extension, kExtensionSize), ".ABCDEFGHIJKLMN");
}

class Layout : public ::testing::Test {
protected:
    void SetUp() override { InstallFakePlatform(); }
};

// The layout as the installer's reader sees it: every record, stored or
// packed, points at its own bytes, back to back up to the end of the file.
TEST_F(Layout, ReaderFindsEveryEntryBackToBack) {
    std::string stub = MakeTestStub();
    std::vector<CatalogueEntry> entries = {
        PrepareEntry(SampleText(4000, 1), PackChoice::Pack, ".TMP", ' '),
        PrepareEntry("dat", PackChoice::Store, ".TMP", ' '),
        PrepareEntry(SampleNoise(700), PackChoice::Store, ".TMP", ' '),
        PrepareEntry(SampleText(900, 2), PackChoice::Smaller, ".OGG", 0),
    };
    std::string license(1000, 'L');
    std::string bytes = stub.substr(0, stub.size() - 4) +
                        LayOutPayload(stub.size() - 4, "Titolo", license, 9998, entries);
    std::string path = g_fake.root + "/layout.exe";
    WriteBytesFile(bytes, path);

    OsFile file = OpenPayload(path.c_str());
    ASSERT_NE(file, kNoFile);
    std::uint16_t length = 0, base = 0;
    ASSERT_EQ(ReadCatalogueHead(file, &length, &base), 1);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(base, 9998);
    std::uint64_t expected = stub.size() - 4 + FirstRecordOffset(1000) + 5 * kRecordSize;
    for (const CatalogueEntry& e : entries) {
        FileRecord r;
        ASSERT_EQ(ReadRecord(file, &r), 1);
        EXPECT_EQ(r.offset, expected);
        EXPECT_EQ(r.storedSize, e.stored.size());
        EXPECT_EQ(r.unpackedSize, e.unpackedSize);
        EXPECT_EQ(std::memcmp(r.extension, e.extension, kExtensionSize), 0);
        EXPECT_EQ(r.kind, e.kind);
        EXPECT_EQ(bytes.substr(r.offset, r.storedSize), e.stored);
        expected += r.storedSize;
    }
    FileRecord terminator;
    ASSERT_EQ(ReadRecord(file, &terminator), 1);
    EXPECT_EQ(terminator.offset, 0u);
    EXPECT_EQ(terminator.storedSize, 0u);
    EXPECT_EQ(terminator.unpackedSize, 0u);
    EXPECT_EQ(terminator.kind, 0);
    g_platform->FileClose(file);
    EXPECT_EQ(expected, bytes.size());
    char message[128];
    EXPECT_EQ(ValidatePayload(path.c_str(), message, sizeof message), 1) << message;
}

// The installer's own rules are pinned with CheckTitle; these rows are what
// glimmer-pack adds: the raw field's length, blanks it strips as the
// installer does, and the authoring rules (a final dot, DEL).
TEST(Names, TitlesGlimmerPackRefuses) {
    EXPECT_EQ(TitleProblem("Aurora Boreale"), "");
    EXPECT_EQ(TitleProblem("  spazi  "), "");
    EXPECT_EQ(TitleProblem(std::string(kLongestTitle, 'a') + "    "), "") << "blanks are stripped first";
    EXPECT_NE(TitleProblem(std::string(kLongestTitle + 1, 'a')), "");
    EXPECT_NE(TitleProblem(std::string(260, ' ')), "");
    EXPECT_NE(TitleProblem("Aurora."), "");
    EXPECT_NE(TitleProblem("Aurora.  "), "") << "a trailing dot once the blanks are stripped";
    EXPECT_NE(TitleProblem("NUL "), "");
    EXPECT_NE(TitleProblem("a\x7f" "b"), "");
    EXPECT_NE(TitleProblem(std::string("a\0b", 3)), "");
}

TEST(Names, ExtensionFields) {
    EXPECT_EQ(ExtensionProblem(".MP3"), "");
    EXPECT_EQ(ExtensionProblem(""), "");
    EXPECT_EQ(ExtensionProblem(".ABCDEFGHIJKLMN"), "");
    EXPECT_NE(ExtensionProblem(".ABCDEFGHIJKLMNO"), "");
    EXPECT_NE(ExtensionProblem(".M:P3"), "");
    EXPECT_NE(ExtensionProblem(".M\\P3"), "");
    EXPECT_NE(ExtensionProblem(std::string(".M\0P3", 5)), "");  // a package file's "\u0000"
}

TEST(TextConversion, Utf8AndCodePage1252) {
    std::string out;
    ASSERT_TRUE(Utf8ToCp1252("Perch\xc3\xa8 l\xe2\x80\x99installazione \xe2\x82\xac", &out));
    EXPECT_EQ(out, "Perch\xe8 l\x92installazione \x80");
    EXPECT_EQ(Cp1252ToUtf8(out), "Perch\xc3\xa8 l\xe2\x80\x99installazione \xe2\x82\xac");
    for (int c = 0x20; c < 0x100; ++c) {
        std::string one(1, static_cast<char>(c));
        std::string back;
        bool undefined = c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
        if (undefined) continue;
        ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(one), &back)) << c;
        EXPECT_EQ(back, one) << c;
    }
    EXPECT_FALSE(Utf8ToCp1252("\xe4\xb8\xad", &out));   // a CJK character
    EXPECT_FALSE(Utf8ToCp1252("\xc2\x81", &out));       // U+0081, not in the code page
    EXPECT_FALSE(Utf8ToCp1252("caf\xe8", &out));        // code page 1252, not UTF-8
    EXPECT_FALSE(Utf8ToCp1252("\xc3", &out));           // cut short
    // Overlong forms, each one step below the least value of its length.
    for (const char* overlong : {"\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xe0\x9f\xbf", "\xf0\x80\x80\xaf",
                                 "\xf0\x8f\xbf\xbf"}) {
        EXPECT_FALSE(Utf8ToCp1252(overlong, &out)) << overlong;
        EXPECT_FALSE(IsValidUtf8(overlong)) << overlong;
    }
    EXPECT_TRUE(IsValidUtf8("\xe0\xa0\x80 \xf0\x90\x80\x80"));  // U+0800 and U+10000: the least
    EXPECT_TRUE(IsValidUtf8("\xe4\xb8\xad \xf0\x9f\x8c\x8c"));
    EXPECT_FALSE(IsValidUtf8("caf\xe8"));
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // a surrogate
}

TEST(StubCheck, SectionsEndCoversEverySection) {
    TestStubOptions options;
    options.relocAfterAnchor = true;
    EXPECT_EQ(SectionsEnd(MakeTestStub()), 0x600u);
    EXPECT_EQ(SectionsEnd(MakeTestStub(options)), 0x800u);
    EXPECT_EQ(SectionsEnd("not a stub"), 0u);
}

}  // namespace
