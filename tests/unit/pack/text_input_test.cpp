// Texts an author gives glimmer-pack: license files in the encodings editors
// write, and media extensions, made into code page 1252.
#include <gtest/gtest.h>

#include <string>

#include "text_input.h"

namespace {

TEST(LicenseText, EncodingsAndLineEndsAsStored) {
    struct Case {
        const char* what;
        std::string raw;
        std::string stored;  // "" when refused
        std::string reason;  // part of the refusal
    };
    const Case cases[] = {
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBFPerch\xC3\xA8\n", "Perch\xE8\r\n", ""},
        {"UTF-16 little-endian", std::string("\xFF\xFE" "A\0\xE8\0\n\0\xAC\x20", 10), "A\xE8\r\n\x80", ""},
        {"UTF-16 big-endian", std::string("\xFE\xFF\0A\0\r\0\n\0B", 10), "A\r\nB", ""},
        {"lone CR and lone LF", "a\rb\nc\r\nd\n\re", "a\r\nb\r\nc\r\nd\r\n\r\ne", ""},
        {"code page 1252 as it stands", "caf\xE9\r", "caf\xE9\r\n", ""},
        {"a character the code page lacks", "ok\nsecond \xCE\xA9 line", "", "line 2, column 8: U+03A9"},
        {"beyond the basic plane in UTF-16", std::string("\xFF\xFE" "a\0\n\0=\xD8\x00\xDE", 10), "",
         "line 2, column 1: U+1F600"},
        {"an unpaired surrogate", std::string("\xFF\xFE\x00\xDC", 4), "", "a low surrogate without its high surrogate (byte 2)"},
        {"an unpaired high surrogate", std::string("\xFF\xFE" "a\0\x00\xD8" "b\0", 8), "", "a high surrogate without its low surrogate (byte 4)"},
        {"an odd number of UTF-16 bytes", std::string("\xFF\xFE" "a\0b", 5), "", "cut short by the end of the text (byte 4)"},
        {"a lead byte where a continuation byte must be", "\xEF\xBB\xBF" "a\xC3\xC3", "", "not valid UTF-8 (byte 4)"},
        {"UTF-16 without a byte-order mark", std::string("a\0b\0", 4), "", "line 1, column 2: a NUL"},
        {"longer than 65535 once stored", std::string(40000, '\n'), "", "80000 bytes"},
    };
    for (const Case& c : cases) {
        std::string text, problem;
        bool ok = PrepareLicenseText(c.raw, &text, &problem);
        EXPECT_EQ(ok, !c.stored.empty()) << c.what << ": " << problem;
        if (ok) EXPECT_EQ(text, c.stored) << c.what;
        else EXPECT_NE(problem.find(c.reason), std::string::npos) << c.what << ": " << problem;
    }
}

TEST(MediaExtension, ConvertedToCodePage1252OrRefused) {
    struct Case {
        const char* name;
        const char* field;   // nullptr when refused
        const char* reason;  // part of the refusal
    };
    const Case cases[] = {
        {"dir.v2/Song.mp3", ".MP3", ""},
        {"a.b/noext", "", ""},
        {".hidden", "", ""},
        {"x.tar.Gz", ".GZ", ""},
        {"noext", "", ""},
        {"clip.w\xC3\xA9v", ".W\xE9V", ""},  // é is 0xE9; only ASCII letters are upper-cased
        {"clip.\xD0\xB6", nullptr, "U+0436"},
        {"clip.m\xFFp", nullptr, "not valid UTF-8"},
        {"clip.abcdefghijklmno", nullptr, "longer than 15"},
    };
    for (const Case& c : cases) {
        std::string field = "unchanged";
        std::string problem = MediaExtensionField(c.name, &field);
        if (c.field) {
            EXPECT_EQ(problem, "") << c.name;
            EXPECT_EQ(field, c.field) << c.name;
        } else {
            EXPECT_NE(problem.find(c.reason), std::string::npos) << c.name << ": " << problem;
        }
    }
}

TEST(TitleText, TheFirstCharacterTheCodePageLacksIsNamed) {
    EXPECT_EQ(Cp1252Problem("Perch\xC3\xA8 \xE2\x82\xAC"), "");
    EXPECT_EQ(Cp1252Problem("Aurora \xD0\xB6\xD0\xB6"), "character 8, U+0436 '\xD0\xB6', is not in code page 1252");
    EXPECT_EQ(Cp1252Problem("ab\xC3"), "not valid UTF-8 (byte 3)");
    EXPECT_EQ(Cp1252Problem("a\xC3\xFF"), "not valid UTF-8 (byte 2)");
}

}  // namespace
