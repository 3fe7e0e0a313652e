// Texts formed into buffers of fixed size: whole when they fit exactly,
// cut and still ended when they do not, never written past the buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "install/text.h"

namespace {

TEST(Text, FormattingFillsTheBufferExactlyAndCutsBeyondIt) {
    const struct {
        std::size_t size;
        const char* expected;
        int whole;
    } rows[] = {{8, "abxyzcd", 1}, {7, "abxyzc", 0}, {3, "ab", 0}, {1, "", 0}};
    for (const auto& row : rows) {
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(FormatText(out, row.size, "ab%scd", "xyz"), row.whole) << row.size;
        EXPECT_STREQ(out, row.expected) << row.size;
        EXPECT_EQ(out[row.size], '#') << row.size;
    }
}

TEST(Text, AppendingFillsTheBufferExactlyOrLeavesItAsItWas) {
    char out[9] = "abc";
    std::memset(out + 4, '#', 5);
    EXPECT_EQ(AppendText(out, 8, "defg"), 1);  // 7 characters and the zero
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_EQ(AppendText(out, 8, "h"), 0);
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_EQ(out[8], '#');
}

}  // namespace
