// ValidatePayload: every fault of a damaged catalogue is found and described
// before anything would be written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/payload.h"
#include "support/fake_platform.h"
#include "support/package_builder.h"

namespace {

class PayloadValidation : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFakePlatform();
        TestPackage p;
        p.title = "Notte Stellata";
        p.license = "Condizioni d'uso";
        p.base = 1;
        p.entries = {{SampleText(3000)}, {"dati"}, {"MZ uninstaller"}, {"OggS", false, ".OGG"},
                     {"RIFF", false, ".WAV", '_'}};
        good = BuildPackageBytes(p);
    }

    // The verdict on `bytes` and the message it came with.
    int Validate(const std::string& bytes, std::string* message = nullptr) {
        std::string path = g_fake.root + "/package" + std::to_string(++files) + ".exe";
        WriteBytesFile(bytes, path);
        char text[256];
        std::memset(text, 'x', sizeof text);
        int sound = ValidatePayload(path.c_str(), text, sizeof text);
        if (message) *message = text;
        return sound;
    }

    // `good` cut just before its terminator record, with every record's data
    // moved to the start of the file so that only the terminator is missing.
    std::string WithoutTerminator() const {
        std::string bytes = good.substr(0, RecordOffsetOf(good, 5));
        for (int i = 0; i < 5; ++i) {
            PokeU32(bytes, RecordOffsetOf(bytes, i), 0);
            PokeU32(bytes, RecordOffsetOf(bytes, i) + 4, 16);
        }
        return bytes;
    }

    std::string good;
    int files = 0;
};

TEST_F(PayloadValidation, SoundPackagePassesWithEmptyMessage) {
    std::string message;
    EXPECT_EQ(Validate(good, &message), 1);
    EXPECT_EQ(message, "");
}

TEST_F(PayloadValidation, PackageWithoutFilesIsSound) {
    TestPackage p;
    p.title = "Vuoto";
    EXPECT_EQ(Validate(BuildPackageBytes(p)), 1);
}

TEST_F(PayloadValidation, MissingTerminatorIsReported) {
    std::string message;
    std::string bytes = WithoutTerminator();
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("record 5"), std::string::npos) << message;
    EXPECT_NE(message.find("terminator"), std::string::npos) << message;
}

TEST_F(PayloadValidation, TitleWithoutNulIsReported) {
    std::string bytes = good;
    bytes.replace(TitleOffsetOf(bytes), kTitleSize, std::string(kTitleSize, 'A'));
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("title"), std::string::npos) << message;
}

TEST_F(PayloadValidation, RecordDataPastTheEndIsReported) {
    std::string bytes = good;
    PokeU32(bytes, RecordOffsetOf(bytes, 4) + 4, 5);  // one byte more than the file holds
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("record 4"), std::string::npos) << message;

    // The last entry ends exactly at the end of the file: still sound.
    std::string exact = good;
    EXPECT_EQ(PeekU32(exact, RecordOffsetOf(exact, 4)) + PeekU32(exact, RecordOffsetOf(exact, 4) + 4),
              exact.size());
    EXPECT_EQ(Validate(exact), 1);
}

TEST_F(PayloadValidation, OffsetPlusSizeThatWrapsIn32BitsIsReported) {
    std::string bytes = good;
    // 0xFFFFFFF0 + 0x20 wraps to 0x10, inside the file in 32-bit arithmetic.
    PokeU32(bytes, RecordOffsetOf(bytes, 1), 0xFFFFFFF0u);
    PokeU32(bytes, RecordOffsetOf(bytes, 1) + 4, 0x20);
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("record 1"), std::string::npos) << message;
}

TEST_F(PayloadValidation, LicenseLengthPastTheEndIsReported) {
    std::string bytes = good;
    PokeU16(bytes, PayloadStartOf(bytes), 0xFFFF);
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("license"), std::string::npos) << message;
}

TEST_F(PayloadValidation, UnpackedSizeOf2To31IsReported) {
    std::string bytes = good;
    PokeU32(bytes, RecordOffsetOf(bytes, 0) + 8, 0x80000000u);
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("record 0"), std::string::npos) << message;
}

TEST_F(PayloadValidation, FirstFaultWins) {
    std::string bytes = good;
    PokeU32(bytes, RecordOffsetOf(bytes, 4) + 4, 1u << 20);
    PokeU32(bytes, RecordOffsetOf(bytes, 2) + 4, 1u << 20);
    std::string message;
    EXPECT_EQ(Validate(bytes, &message), 0);
    EXPECT_NE(message.find("record 2"), std::string::npos) << message;
}

TEST_F(PayloadValidation, NotAnInstallerIsReported) {
    std::string message;
    EXPECT_EQ(Validate(std::string(2000, 'x'), &message), 0);
    EXPECT_NE(message.find("payload"), std::string::npos) << message;
    char text[64] = "unchanged";
    EXPECT_EQ(ValidatePayload((g_fake.root + "/missing.exe").c_str(), text, sizeof text), 0);
    EXPECT_STRNE(text, "unchanged");
}

TEST_F(PayloadValidation, MessageIsCutToTheCallersBuffer) {
    std::string path = g_fake.root + "/cut.exe";
    WriteBytesFile(WithoutTerminator(), path);
    char text[12];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(ValidatePayload(path.c_str(), text, 8), 0);
    EXPECT_EQ(std::string(text), "the cat");
    EXPECT_EQ(text[8], 'x');
}

TEST_F(PayloadValidation, EveryOpenedFileIsClosed) {
    Validate(good);
    Validate(good.substr(0, good.size() - 1));
    EXPECT_EQ(g_fake.CallsStartingWith("FileOpenRead").size(), 2u);
    EXPECT_EQ(g_fake.CallsStartingWith("FileClose").size(), 2u);
}

}  // namespace
