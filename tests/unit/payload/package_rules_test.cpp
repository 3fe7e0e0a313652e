// The rules a package must follow to be installed, shared by the installer
// and glimmer-pack: titles and media extensions.
#include <gtest/gtest.h>

#include <string>

#include "payload/catalogue.h"

namespace {

TEST(TitleRules, AcceptOrdinaryNamesAndRefuseWhatWindowsCannotName) {
    for (const char* good : {"Aurora", "Mr. X", "Caff\xe8 & Co", "CONSOLE", "COM10", "Aurora.", "Aurora...",
                             ".hidden", "a\x7f" "b"})
        EXPECT_EQ(CheckTitle(good), kTitleSound) << '"' << good << '"';
    EXPECT_EQ(CheckTitle(std::string(kLongestTitle, 'a').c_str()), kTitleSound);
    EXPECT_EQ(CheckTitle(std::string(kLongestTitle + 1, 'a').c_str()), kTitleTooLong);

    const struct {
        const char* title;
        TitleFault fault;
    } kRefused[] = {
        {"", kTitleEmpty},          {" ", kTitleEmpty},         {".", kTitleEmpty},
        {"..", kTitleEmpty},        {" . .", kTitleEmpty},      {"a\\b", kTitleForbidden},
        {"a/b", kTitleForbidden},   {"..\\..\\x", kTitleForbidden}, {"C:x", kTitleForbidden},
        {"a*", kTitleForbidden},    {"a?", kTitleForbidden},    {"a\"b", kTitleForbidden},
        {"<a>", kTitleForbidden},   {"a|b", kTitleForbidden},   {"a\tb", kTitleControl},
        {"a\x1f" "b", kTitleControl}, {"CON", kTitleDevice},    {"con", kTitleDevice},
        {"PRN", kTitleDevice},      {"AUX", kTitleDevice},      {"NUL", kTitleDevice},
        {"COM1", kTitleDevice},     {"com9", kTitleDevice},     {"LPT1", kTitleDevice},
        {"LPT9", kTitleDevice},     {"NUL.txt", kTitleDevice},  {"CON .x", kTitleDevice},
        {"NUL .x", kTitleDevice},   {"NUL.", kTitleDevice},     {"COM\xb9", kTitleDevice},
        {"LPT\xb2", kTitleDevice},
    };
    for (const auto& row : kRefused) EXPECT_EQ(CheckTitle(row.title), row.fault) << '"' << row.title << '"';
}

TEST(ExtensionRules, RefuseSeparatorsAndForbiddenCharactersUpToTheFirstZero) {
    for (const char* good : {".MP3           ", "               ", ".ABCDEFGHIJKLMN", ".MP3\0\\\\\\\\\\\\\\\\\\\\"})
        EXPECT_EQ(CheckExtension(good), kExtensionSound) << good;
    EXPECT_EQ(CheckExtension("\\..\\..\\x      "), kExtensionForbidden);
    EXPECT_EQ(CheckExtension("/x             "), kExtensionForbidden);
    EXPECT_EQ(CheckExtension(".a:b           "), kExtensionForbidden);
    EXPECT_EQ(CheckExtension(".MP3          \x01"), kExtensionControl);
}

}  // namespace
