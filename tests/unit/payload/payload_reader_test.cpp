// The payload reader against packages built in memory: where the catalogue
// is found, what each operation reads, and how damaged files are handled.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/payload.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

// The test stub's layout, from its builder: ".rsrc" raw data at 0x400, 0x200
// bytes long, the anchor's 4 data bytes last (0x5FC).
constexpr std::uint32_t kStubAnchor = 0x5FC;

class PayloadReader : public ::testing::Test {
protected:
    void SetUp() override { InstallFakePlatform(); }

    std::string Write(const std::string& bytes, const std::string& name = "package.exe") {
        std::string path = g_fake.root + "/" + name;
        WriteBytesFile(bytes, path);
        return path;
    }

    static TestPackage FourFiles(const std::string& license = "") {
        TestPackage p;
        p.title = "Aurora Boreale";
        p.license = license;
        p.base = 14;
        p.entries = {{"screen saver"}, {"data file!"}, {"uninstaller"}, {"MEDIA", false, ".MP3"}};
        return p;
    }

    // The stream position OpenPayload leaves, or -1 when it fails.
    static std::int64_t PayloadPosition(const std::string& path) {
        OsFile file = OpenPayload(path.c_str());
        if (file == kNoFile) return -1;
        std::int64_t position = g_platform->FileTell(file);
        g_platform->FileClose(file);
        return position;
    }
};

TEST_F(PayloadReader, CatalogueWithoutLicenseTakes404BytesForFourFiles) {
    std::string bytes = BuildPackageBytes(FourFiles());
    std::string path = Write(bytes);
    ASSERT_EQ(PayloadPosition(path), kStubAnchor);

    OsFile file = OpenPayload(path.c_str());
    ASSERT_NE(file, kNoFile);
    std::uint16_t license = 99, base = 0;
    ASSERT_EQ(ReadCatalogueHead(file, &license, &base), 1);
    EXPECT_EQ(license, 0);
    EXPECT_EQ(base, 14);
    EXPECT_EQ(g_platform->FileTell(file), kStubAnchor + 264);

    const char* contents[] = {"screen saver", "data file!", "uninstaller", "MEDIA"};
    std::uint32_t expectedOffset = kStubAnchor + 404;
    for (int i = 0; i < 4; ++i) {
        FileRecord record;
        ASSERT_EQ(ReadRecord(file, &record), 1) << i;
        EXPECT_EQ(record.offset, expectedOffset) << i;
        EXPECT_EQ(record.storedSize, std::strlen(contents[i])) << i;
        EXPECT_EQ(record.unpackedSize, 0u) << i;
        EXPECT_EQ(bytes.substr(record.offset, record.storedSize), contents[i]);
        expectedOffset += record.storedSize;
    }
    FileRecord last;
    ASSERT_EQ(ReadRecord(file, &last), 1);
    EXPECT_EQ(last.storedSize, 0u);
    EXPECT_EQ(g_platform->FileTell(file), kStubAnchor + 404);
    g_platform->FileClose(file);
    EXPECT_EQ(expectedOffset, bytes.size());  // the last entry ends the file
}

TEST_F(PayloadReader, LicenseOf1000BytesMovesTitleAndRecords) {
    std::string license = SampleText(1000, 3);
    std::string bytes = BuildPackageBytes(FourFiles(license));
    std::string path = Write(bytes);

    char title[kTitleSize];
    std::memset(title, 'x', sizeof title);
    ReadTitle(path.c_str(), title);
    EXPECT_STREQ(title, "Aurora Boreale");
    EXPECT_EQ(bytes.compare(kStubAnchor + 1002, 14, "Aurora Boreale"), 0);

    OsFile file = OpenPayload(path.c_str());
    ASSERT_NE(file, kNoFile);
    std::uint16_t length = 0, base = 0;
    ASSERT_EQ(ReadCatalogueHead(file, &length, &base), 1);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(base, 14);
    EXPECT_EQ(g_platform->FileTell(file), kStubAnchor + 1264);
    FileRecord first;
    ASSERT_EQ(ReadRecord(file, &first), 1);
    EXPECT_EQ(first.offset, kStubAnchor + 1264 + 5 * kRecordSize);
    g_platform->FileClose(file);

    std::uint32_t textLength = 0;
    char* text = ReadLicenseText(path.c_str(), &textLength);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(textLength, 1000u);
    EXPECT_EQ(std::string(text, 1000), license);
    EXPECT_EQ(text[1000], '\0');
    EXPECT_EQ(g_fake.CallsStartingWith("TextAlloc"), std::vector<std::string>{"TextAlloc 1001"});
    g_platform->TextFree(text);
}

TEST_F(PayloadReader, LicenseTextAbsentUnreadableOrUnallocatable) {
    std::uint32_t length = 7;
    std::string none = Write(BuildPackageBytes(FourFiles()), "none.exe");
    EXPECT_EQ(ReadLicenseText(none.c_str(), &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(g_fake.CallsStartingWith("TextAlloc").empty());

    // A length of 50 with only 20 bytes left in the file: the block is
    // freed again and nothing is returned.
    std::string bytes = BuildPackageBytes(FourFiles());
    bytes.resize(kStubAnchor + 2);
    bytes += std::string(20, 'L');
    PokeU16(bytes, kStubAnchor, 50);
    std::string shortText = Write(bytes, "short.exe");
    EXPECT_EQ(ReadLicenseText(shortText.c_str(), &length), nullptr);
    EXPECT_EQ(g_fake.CallsStartingWith("TextAlloc").size(), 1u);
    EXPECT_EQ(g_fake.CallsStartingWith("TextFree").size(), 1u);

    std::string withText = Write(BuildPackageBytes(FourFiles("Leggi")), "text.exe");
    g_fake.textAllocFails = true;
    EXPECT_EQ(ReadLicenseText(withText.c_str(), &length), nullptr);
    EXPECT_EQ(length, 0u);

    EXPECT_EQ(ReadLicenseText((g_fake.root + "/missing.exe").c_str(), &length), nullptr);
    EXPECT_EQ(g_fake.CallsStartingWith("FileOpenRead").size(), g_fake.CallsStartingWith("FileClose").size() + 1)
        << "every opened file is closed again; only the missing one never opened";
}

TEST_F(PayloadReader, TitleOf259CharactersKeepsItsNulLast) {
    TestPackage p = FourFiles();
    p.title = std::string(259, 'T');
    std::string path = Write(BuildPackageBytes(p));
    char title[kTitleSize];
    std::memset(title, 'x', sizeof title);
    ReadTitle(path.c_str(), title);
    EXPECT_EQ(std::strlen(title), 259u);
    EXPECT_EQ(title[258], 'T');
}

TEST_F(PayloadReader, TitleIsNeverLeftUnterminated) {
    TestPackage p = FourFiles();
    p.title = std::string(260, 'T');  // a damaged field with no NUL at all
    std::string path = Write(BuildPackageBytes(p));
    char title[kTitleSize + 8];
    std::memset(title, 'x', sizeof title);
    ReadTitle(path.c_str(), title);
    EXPECT_EQ(std::strlen(title), 259u);
    EXPECT_EQ(title[kTitleSize], 'x') << "nothing written past the 260-byte field";
}

TEST_F(PayloadReader, TitleUnchangedWhenThereIsNoPayload) {
    char title[kTitleSize] = "previous";
    ReadTitle((g_fake.root + "/missing.exe").c_str(), title);
    EXPECT_STREQ(title, "previous");
    std::string notPe = Write(std::string(4096, 'Z'), "plain.bin");
    ReadTitle(notPe.c_str(), title);
    EXPECT_STREQ(title, "previous");
}

TEST_F(PayloadReader, SumCountsUnpackedSizeOfPackedRecordsAndStoredSizeOfOthers) {
    std::string bytes = BuildPackageBytes(FourFiles());
    // 12 + 10 + 11 + 5 stored bytes; record 1 claims 5000 unpacked bytes.
    PokeU32(bytes, RecordOffsetOf(bytes, 1) + 8, 5000);
    std::uint64_t total = 1;
    ASSERT_EQ(SumEntrySizes(Write(bytes).c_str(), &total), 1);
    EXPECT_EQ(total, 12u + 5000u + 11u + 5u);
}

TEST_F(PayloadReader, SumCountsTerminatorsUnpackedSizeInSixtyFourBits) {
    std::string bytes = BuildPackageBytes(FourFiles());
    PokeU32(bytes, RecordOffsetOf(bytes, 4) + 8, 1000);
    std::uint64_t total = 0;
    ASSERT_EQ(SumEntrySizes(Write(bytes, "a.exe").c_str(), &total), 1);
    EXPECT_EQ(total, 12u + 10u + 11u + 5u + 1000u);

    PokeU32(bytes, RecordOffsetOf(bytes, 0) + 8, 0xFFFFFFF0u);
    ASSERT_EQ(SumEntrySizes(Write(bytes, "b.exe").c_str(), &total), 1);
    EXPECT_EQ(total, 0xFFFFFFF0ull + 10u + 11u + 5u + 1000u);
}

TEST_F(PayloadReader, PackageWithoutFilesSumsToZero) {
    TestPackage p = FourFiles();
    p.entries.clear();
    std::string bytes = BuildPackageBytes(p);
    EXPECT_EQ(bytes.size(), kStubAnchor + 264 + kRecordSize);
    std::uint64_t total = 5;
    ASSERT_EQ(SumEntrySizes(Write(bytes).c_str(), &total), 1);
    EXPECT_EQ(total, 0u);
}

TEST_F(PayloadReader, SumFailsWithZeroWhenThereIsNoPayload) {
    std::uint64_t total = 5;
    EXPECT_EQ(SumEntrySizes((g_fake.root + "/missing.exe").c_str(), &total), 0);
    EXPECT_EQ(total, 0u);
}

TEST_F(PayloadReader, ShortRecordEndsTheWalkAndIsNeverReused) {
    std::string bytes = BuildPackageBytes(FourFiles());
    // Keep records 0 and 1 whole and 10 bytes of record 2.
    bytes.resize(RecordOffsetOf(bytes, 2) + 10);
    std::string path = Write(bytes);
    std::uint64_t total = 0;
    ASSERT_EQ(SumEntrySizes(path.c_str(), &total), 1);
    EXPECT_EQ(total, 12u + 10u);

    OsFile file = OpenPayload(path.c_str());
    ASSERT_NE(file, kNoFile);
    std::uint16_t length, base;
    ASSERT_EQ(ReadCatalogueHead(file, &length, &base), 1);
    FileRecord record;
    EXPECT_EQ(ReadRecord(file, &record), 1);
    EXPECT_EQ(ReadRecord(file, &record), 1);
    EXPECT_EQ(ReadRecord(file, &record), 0);
    EXPECT_EQ(ReadRecord(file, &record), 0);
    g_platform->FileClose(file);
}

TEST_F(PayloadReader, FailedReadEndsTheSum) {
    std::string path = Write(BuildPackageBytes(FourFiles()));
    // Fail the third record read: only records 0 and 1 count.
    int recordReads = 0;
    g_fake.failWhen = [&](const std::string& op, std::size_t index) {
        return op == "FileRead" && g_fake.calls[index] == "FileRead 28" && ++recordReads == 3;
    };
    std::uint64_t total = 0;
    ASSERT_EQ(SumEntrySizes(path.c_str(), &total), 1);
    EXPECT_EQ(total, 12u + 10u);
}

TEST_F(PayloadReader, ResourceSectionNeedNotHeadTheSectionTable) {
    TestStubOptions options;
    options.rsrcFirst = true;
    std::string path = Write(BuildPackageBytes(FourFiles(), MakeTestStub(options)));
    EXPECT_EQ(PayloadPosition(path), kStubAnchor);
    char title[kTitleSize] = {};
    ReadTitle(path.c_str(), title);
    EXPECT_STREQ(title, "Aurora Boreale");
}

TEST_F(PayloadReader, NamedTypeSortingFirstBecomesTheCatalogue) {
    TestStubOptions options;
    options.namedTypeFirst = true;  // "AAAA" data last, "LASTRES" data 12 bytes earlier
    std::string stub = MakeTestStub(options);
    ASSERT_EQ(stub.compare(kStubAnchor - 12, 4, "ANCR"), 0);
    std::string path = Write(BuildPackageBytes(FourFiles(), stub));
    EXPECT_EQ(PayloadPosition(path), kStubAnchor);
    char title[kTitleSize] = {};
    ReadTitle(path.c_str(), title);
    EXPECT_STREQ(title, "Aurora Boreale");
}

TEST_F(PayloadReader, SearchStopsAfterNumberOfSections) {
    std::string bytes = BuildPackageBytes(FourFiles());
    ASSERT_EQ(PeekU16(bytes, 0x46), 2);  // ".text", ".rsrc"
    PokeU16(bytes, 0x46, 1);             // ".rsrc" no longer counted
    EXPECT_EQ(PayloadPosition(Write(bytes)), -1);
}

// The walk takes the headers as they stand: the optional header is always
// 224 bytes whatever SizeOfOptionalHeader says, a section name is compared
// up to its first NUL, and only the type and name levels of the resource
// tree carry a subdirectory flag to strip; the language entry's offset is
// taken unmasked.
TEST_F(PayloadReader, ResourceWalkTakesTheHeadersAsTheyStand) {
    const std::string good = BuildPackageBytes(FourFiles());
    const std::uint32_t fileHeader = PeekU32(good, 60) + 4;
    const std::size_t rsrcName = good.find(".rsrc");
    ASSERT_NE(rsrcName, std::string::npos);

    std::string otherOptionalSize = good;
    PokeU16(otherOptionalSize, fileHeader + 16, 240);
    EXPECT_EQ(PayloadPosition(Write(otherOptionalSize, "1.exe")), kStubAnchor);

    std::string bytesAfterNul = good;  // ".rsrc", NUL, then two stray bytes
    bytesAfterNul[rsrcName + 6] = 'z';
    bytesAfterNul[rsrcName + 7] = 'z';
    EXPECT_EQ(PayloadPosition(Write(bytesAfterNul, "2.exe")), kStubAnchor);

    std::string longerName = good;  // ".rsrcz": another section
    longerName[rsrcName + 5] = 'z';
    EXPECT_EQ(PayloadPosition(Write(longerName, "3.exe")), -1);

    // Root entry -> name directory -> language directory -> data entry.
    const std::uint32_t tree = 0x400;
    const std::uint32_t nameEntry = tree + 16 + (PeekU32(good, tree + 16 + 4) & 0x7FFFFFFFu);
    const std::uint32_t languageEntry = tree + 16 + (PeekU32(good, nameEntry + 4) & 0x7FFFFFFFu);
    ASSERT_EQ(PeekU32(good, languageEntry), 1033u);
    std::string flaggedLanguage = good;
    PokeU32(flaggedLanguage, languageEntry + 4, 0x80000000u | PeekU32(good, languageEntry + 4));
    EXPECT_EQ(PayloadPosition(Write(flaggedLanguage, "4.exe")), -1);

    // Without their flags the upper levels are followed all the same.
    std::string unflagged = good;
    PokeU32(unflagged, tree + 16 + 4, PeekU32(good, tree + 16 + 4) & 0x7FFFFFFFu);
    PokeU32(unflagged, nameEntry + 4, PeekU32(good, nameEntry + 4) & 0x7FFFFFFFu);
    EXPECT_EQ(PayloadPosition(Write(unflagged, "5.exe")), kStubAnchor);
}

TEST_F(PayloadReader, FilesThatAreNotInstallersFail) {
    std::string good = BuildPackageBytes(FourFiles());
    std::string noMz = good;
    noMz[0] = 'X';
    std::string noPe = good;
    noPe[0x41] = 'X';
    std::string noRsrc = good;
    std::size_t rsrcHeader = good.find(".rsrc");
    ASSERT_NE(rsrcHeader, std::string::npos);
    noRsrc[rsrcHeader + 1] = 'x';
    std::string lfanewPastEnd = good;
    PokeU32(lfanewPastEnd, 60, 0x7FFFFF00u);

    EXPECT_EQ(PayloadPosition(Write(noMz, "1.exe")), -1);
    EXPECT_EQ(PayloadPosition(Write(noPe, "2.exe")), -1);
    EXPECT_EQ(PayloadPosition(Write(noRsrc, "3.exe")), -1);
    EXPECT_EQ(PayloadPosition(Write(lfanewPastEnd, "4.exe")), -1);
    EXPECT_EQ(PayloadPosition(Write("", "5.exe")), -1);
    EXPECT_EQ(PayloadPosition(g_fake.root + "/missing.exe"), -1);
    EXPECT_EQ(g_fake.CallsStartingWith("FileOpenRead").size() - 1, g_fake.CallsStartingWith("FileClose").size());
}

// Cuts a package at every length: nothing may crash, the payload is found
// only once the whole resource tree path is present, the title only once its
// field is whole, and the sum counts whole records only.
TEST_F(PayloadReader, TruncatedAtEveryLength) {
    std::string full = BuildPackageBytes(FourFiles("Licenza"));
    const std::uint32_t titleEnd = TitleOffsetOf(full) + kTitleSize;
    const std::uint32_t baseEnd = titleEnd + 2;
    // The last structure the tree walk reads is the anchor's data entry at
    // .rsrc + 72 (root entry, name directory, language directory before it).
    const std::uint32_t treeEnd = 0x400 + 72 + 16;
    const std::uint32_t recordSizes[] = {12, 10, 11, 5, 0};

    for (std::size_t n = 0; n < full.size(); ++n) {
        std::string path = Write(full.substr(0, n), "cut.exe");
        SCOPED_TRACE("length " + std::to_string(n));
        EXPECT_EQ(PayloadPosition(path) != -1, n >= treeEnd);

        char title[kTitleSize] = "before";
        ReadTitle(path.c_str(), title);
        EXPECT_STREQ(title, n >= titleEnd ? "Aurora Boreale" : "before");

        std::uint32_t expected = 0;
        for (std::uint32_t i = 0; i < 5; ++i)
            if (n >= baseEnd + (i + 1) * kRecordSize) expected += recordSizes[i];
        std::uint64_t total = 99;
        EXPECT_EQ(SumEntrySizes(path.c_str(), &total), n >= baseEnd ? 1 : 0);
        EXPECT_EQ(total, expected);

        char message[200];
        EXPECT_EQ(ValidatePayload(path.c_str(), message, sizeof message), 0);
        EXPECT_NE(message[0], '\0');
    }
}

}  // namespace
