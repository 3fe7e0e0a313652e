// The package-writing library: stub checks, entry preparation, the layout
// read back by the installer's reader, names and text conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package_format.h"
#include "payload/payload.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

TEST(StubCheck, DefaultTestStubMayBeCutAtItsAnchor) {
    std::string stub = MakeTestStub();
    StubAnchor anchor;
    ASSERT_EQ(FindStubAnchor(stub, &anchor), "");
    EXPECT_EQ(anchor.dataOffset, stub.size() - 4);
    EXPECT_EQ(anchor.dataSize, 4u);
    EXPECT_EQ(CheckStubCut(stub, anchor), "");
}

TEST(StubCheck, NamedTypeFirstIsTheAnchorAndMayBeCut) {
    TestStubOptions options;
    options.namedTypeFirst = true;
    std::string stub = MakeTestStub(options);
    StubAnchor anchor;
    ASSERT_EQ(FindStubAnchor(stub, &anchor), "");
    EXPECT_EQ(anchor.dataOffset, stub.size() - 4);
    EXPECT_EQ(CheckStubCut(stub, anchor), "") << "LASTRES's data lie before the cut";
}

TEST(StubCheck, AnythingTheStubNeedsBehindTheAnchorIsRefused) {
    struct Case {
        const char* what;
        TestStubOptions options;
        const char* expected;
    };
    Case cases[3];
    cases[0] = {"resource behind the anchor", {}, "resource"};
    cases[0].options.resourceAfterAnchor = true;
    cases[1] = {"relocation section behind the anchor", {}, ".reloc"};
    cases[1].options.relocAfterAnchor = true;
    cases[2] = {"symbol table behind the anchor", {}, "symbol table"};
    cases[2].options.symbolTable = true;
    for (const Case& c : cases) {
        std::string stub = MakeTestStub(c.options);
        StubAnchor anchor;
        ASSERT_EQ(FindStubAnchor(stub, &anchor), "") << c.what;
        std::string problem = CheckStubCut(stub, anchor);
        EXPECT_NE(problem.find(c.expected), std::string::npos) << c.what << ": " << problem;
    }
}

TEST(StubCheck, DataDirectoryPointingBehindTheAnchorIsRefused) {
    std::string stub = MakeTestStub();
    StubAnchor anchor;
    ASSERT_EQ(FindStubAnchor(stub, &anchor), "");
    // The optional header starts at 0x58; its data directories at +96. A
    // certificate directory holds a file offset, here the anchor's data.
    std::string withCertificate = stub;
    PokeU32(withCertificate, 0x58 + 96 + 8 * 4, anchor.dataOffset);
    PokeU32(withCertificate, 0x58 + 96 + 8 * 4 + 4, 4);
    EXPECT_NE(CheckStubCut(withCertificate, anchor).find("certificate"), std::string::npos);
    // A debug directory inside ".rsrc" at the anchor's RVA.
    std::string withDebug = stub;
    PokeU32(withDebug, 0x58 + 96 + 8 * 6, 0x2000 + 0x1FC);
    PokeU32(withDebug, 0x58 + 96 + 8 * 6 + 4, 4);
    EXPECT_NE(CheckStubCut(withDebug, anchor).find("debug"), std::string::npos);
    // Directories wholly before the anchor are fine.
    std::string withImport = stub;
    PokeU32(withImport, 0x58 + 96 + 8 * 1, 0x1000);
    PokeU32(withImport, 0x58 + 96 + 8 * 1 + 4, 0x40);
    EXPECT_EQ(CheckStubCut(withImport, anchor), "");
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

TEST(Names, TitlesWindowsRefuses) {
    EXPECT_EQ(TitleProblem("Aurora Boreale"), "");
    EXPECT_EQ(TitleProblem(std::string(259, 'a')), "");
    EXPECT_EQ(TitleProblem("Perch\xe8 no"), "");
    EXPECT_EQ(TitleProblem(".hidden"), "");
    EXPECT_EQ(TitleProblem("  spazi  "), "");
    EXPECT_NE(TitleProblem(std::string(260, 'a')), "");
    EXPECT_NE(TitleProblem(""), "");
    EXPECT_NE(TitleProblem("   "), "");
    EXPECT_NE(TitleProblem("."), "");
    EXPECT_NE(TitleProblem(".."), "");
    EXPECT_NE(TitleProblem("Aurora."), "");
    EXPECT_NE(TitleProblem("Aurora.  "), "") << "a trailing dot once the blanks are stripped";
    EXPECT_NE(TitleProblem(".. "), "");
    EXPECT_NE(TitleProblem("con"), "");
    EXPECT_NE(TitleProblem("Lpt1.saver"), "");
    EXPECT_NE(TitleProblem("NUL "), "");
    EXPECT_NE(TitleProblem("NUL .x"), "") << "blanks before the dot, as the installer reads it";
    EXPECT_EQ(TitleProblem("Console"), "");
    EXPECT_EQ(TitleProblem("COM10"), "");
    for (char c : std::string("\\/:*?\"<>|\t\x01\x1f\x7f"))
        EXPECT_NE(TitleProblem(std::string("a") + c + "b"), "") << static_cast<int>(c);
}

TEST(Names, ExtensionsFromFileNames) {
    EXPECT_EQ(MediaExtension("music/Song.mp3"), ".MP3");
    EXPECT_EQ(MediaExtension("clip.Mpeg"), ".MPEG");
    EXPECT_EQ(MediaExtension("a.b/noext"), "");
    EXPECT_EQ(MediaExtension(".hidden"), "");
    EXPECT_EQ(MediaExtension("x.tar.gz"), ".GZ");
    EXPECT_EQ(ExtensionProblem(".MP3"), "");
    EXPECT_EQ(ExtensionProblem(""), "");
    EXPECT_EQ(ExtensionProblem(".ABCDEFGHIJKLMN"), "");
    EXPECT_NE(ExtensionProblem(".ABCDEFGHIJKLMNO"), "");
    EXPECT_NE(ExtensionProblem(".M:P3"), "");
    EXPECT_NE(ExtensionProblem(".M\\P3"), "");
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
