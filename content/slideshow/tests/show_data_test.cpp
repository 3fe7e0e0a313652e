// The slideshow's data file: what the writer lays out the reader gives back,
// and every file that breaks the layout's rules is refused before a picture
// is touched.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "show_data.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A whole data file: the index the writer makes, then the pictures' bytes.
Bytes MakeFile(const ShowSettings& settings, const std::string& title, const std::vector<std::string>& pictures) {
    std::vector<std::uint32_t> sizes;
    for (const auto& p : pictures) sizes.push_back(static_cast<std::uint32_t>(p.size()));
    Bytes file;
    EXPECT_TRUE(WriteShowIndex(settings, title, sizes, &file));
    for (const auto& p : pictures) file.insert(file.end(), p.begin(), p.end());
    return file;
}

ShowReadResult Read(const Bytes& file, ShowIndex* index) {
    return ReadShowIndex(file.data(), file.size(), file.size(), index);
}

void Put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(ShowData, WhatTheWriterLaysOutTheReaderGivesBack) {
    const ShowSettings settings{17, kOrderShuffled, kFitFill, false};
    const std::string title = "Lago di Garda \xe8 bello";
    const std::vector<std::string> pictures = {"RED", std::string(1000, '\x5a'), "B"};
    const Bytes file = MakeFile(settings, title, pictures);

    EXPECT_EQ(ShowIndexSize(file.data(), kShowHeaderSize), kShowHeaderSize + title.size() + 3 * kShowRowSize);
    ShowIndex index;
    ASSERT_EQ(Read(file, &index), kShowOk);
    EXPECT_EQ(index.title, title);
    EXPECT_EQ(index.defaults.seconds, 17u);
    EXPECT_EQ(index.defaults.order, kOrderShuffled);
    EXPECT_EQ(index.defaults.fit, kFitFill);
    EXPECT_FALSE(index.defaults.music);
    ASSERT_EQ(index.pictures.size(), pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const PictureSpan span = index.pictures[i];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()) + span.offset, span.size), pictures[i]);
    }

    // The extremes of each value, and a file with no picture and no title.
    const Bytes bare = MakeFile({kMaxSeconds, kOrderGiven, kFitWhole, true}, "", {});
    ASSERT_EQ(Read(bare, &index), kShowOk);
    EXPECT_EQ(index.defaults.seconds, kMaxSeconds);
    EXPECT_TRUE(index.defaults.music);
    EXPECT_TRUE(index.title.empty());
    EXPECT_TRUE(index.pictures.empty());
    const Bytes longest = MakeFile({kMinSeconds}, std::string(kMaxShowTitle, 'a'), {"x"});
    EXPECT_EQ(Read(longest, &index), kShowOk);
}

TEST(ShowData, TheWriterRefusesWhatTheReaderWouldRefuse) {
    Bytes out = {1, 2, 3};
    const struct {
        const char* what;
        ShowSettings settings;
        std::string title;
        std::vector<std::uint32_t> sizes;
    } kRefused[] = {
        {"seconds 0", {0}, "T", {1}},
        {"seconds above the limit", {kMaxSeconds + 1}, "T", {1}},
        {"an unknown order", {8, static_cast<ShowOrder>(2)}, "T", {1}},
        {"an unknown fit", {8, kOrderGiven, static_cast<ShowFit>(2)}, "T", {1}},
        {"a title too long", {}, std::string(kMaxShowTitle + 1, 'a'), {1}},
        {"a title holding NUL", {}, std::string("a\0b", 3), {1}},
        {"an empty picture", {}, "T", {5, 0}},
        {"too many pictures", {}, "T", std::vector<std::uint32_t>(kMaxPictures + 1, 1)},
        {"a file of 2^31 bytes", {}, "T", {0x7fffff00u, 0x100u}},
        {"sizes whose sum wraps", {}, "T", {0xffffffffu, 0xffffffffu, 3}},
    };
    for (const auto& row : kRefused) {
        EXPECT_FALSE(WriteShowIndex(row.settings, row.title, row.sizes, &out)) << row.what;
        EXPECT_EQ(out, (Bytes{1, 2, 3})) << row.what;
    }
}

TEST(ShowData, TheReaderRefusesEveryBrokenRule) {
    const Bytes good = MakeFile({8}, "Lago", {"AAAA", "BBBBBB"});
    const std::size_t index = kShowHeaderSize + 4 + 2 * kShowRowSize;  // header, title, two rows
    const struct {
        const char* what;
        void (*damage)(Bytes&);
        ShowReadResult expected;
    } kRows[] = {
        {"a short header", [](Bytes& b) { b.resize(kShowHeaderSize - 1); }, kShowNotShowFile},
        {"another magic", [](Bytes& b) { b[7] = 'X'; }, kShowNotShowFile},
        {"a newer version", [](Bytes& b) { Put16(b, 8, kShowVersion + 1); }, kShowNewerVersion},
        {"version 0", [](Bytes& b) { Put16(b, 8, 0); }, kShowDamaged},
        {"seconds 0", [](Bytes& b) { Put16(b, 10, 0); }, kShowDamaged},
        {"seconds above the limit", [](Bytes& b) { Put16(b, 10, kMaxSeconds + 1); }, kShowDamaged},
        {"an unknown order", [](Bytes& b) { b[12] = 2; }, kShowDamaged},
        {"an unknown fit", [](Bytes& b) { b[13] = 2; }, kShowDamaged},
        {"music neither on nor off", [](Bytes& b) { b[14] = 2; }, kShowDamaged},
        {"too many pictures", [](Bytes& b) { Put32(b, 16, kMaxPictures + 1); }, kShowDamaged},
        {"a title too long", [](Bytes& b) { Put16(b, 20, kMaxShowTitle + 1); }, kShowDamaged},
        {"a title holding NUL", [](Bytes& b) { b[kShowHeaderSize + 1] = 0; }, kShowDamaged},
        {"rows cut short", [](Bytes& b) { b.resize(kShowHeaderSize + 4 + kShowRowSize + 3); }, kShowDamaged},
        {"a count whose rows run past the file", [](Bytes& b) { Put32(b, 16, 4); }, kShowDamaged},
        {"a picture inside the header", [](Bytes& b) { Put32(b, kShowHeaderSize + 4, 0); }, kShowDamaged},
        {"a picture over the rows",
         [](Bytes& b) { Put32(b, kShowHeaderSize + 4 + kShowRowSize, kShowHeaderSize + 4 + kShowRowSize); },
         kShowDamaged},
        {"a picture beyond the file", [](Bytes& b) { Put32(b, kShowHeaderSize + 4 + kShowRowSize + 4, 7); }, kShowDamaged},
        {"a picture of size 0", [](Bytes& b) { Put32(b, kShowHeaderSize + 4 + 4, 0); }, kShowDamaged},
        {"offset and size that wrap",
         [](Bytes& b) {
             Put32(b, kShowHeaderSize + 4, 0xfffffff0u);
             Put32(b, kShowHeaderSize + 4 + 4, 0x40u);
         },
         kShowDamaged},
    };
    for (const auto& row : kRows) {
        Bytes file = good;
        row.damage(file);
        ShowIndex out;
        out.title = "untouched";
        EXPECT_EQ(Read(file, &out), row.expected) << row.what;
        EXPECT_EQ(out.title, "untouched") << row.what;
    }

    // The index handed over shorter than the file says, and a file that
    // claims 2^31 bytes or more.
    ShowIndex out;
    EXPECT_EQ(ReadShowIndex(good.data(), index - 1, good.size(), &out), kShowDamaged);
    EXPECT_EQ(ReadShowIndex(good.data(), good.size(), kShowFileLimit, &out), kShowDamaged);
    EXPECT_EQ(ReadShowIndex(good.data(), index, good.size(), &out), kShowOk);
}

TEST(ShowData, TheIndexSizeAsksForNoMoreThanTheLimitsAllow) {
    Bytes header = MakeFile({8}, "Lago", {"AAAA"});
    EXPECT_EQ(ShowIndexSize(header.data(), kShowHeaderSize - 1), 0u);
    Bytes other = header;
    other[0] = 'X';
    EXPECT_EQ(ShowIndexSize(other.data(), other.size()), 0u);
    Put16(other = header, 8, kShowVersion + 1);
    EXPECT_EQ(ShowIndexSize(other.data(), other.size()), 0u);
    Put32(other = header, 16, 0xffffffffu);
    EXPECT_EQ(ShowIndexSize(other.data(), other.size()), kShowHeaderSize);
    Put16(other = header, 20, 0xffff);
    EXPECT_EQ(ShowIndexSize(other.data(), other.size()), kShowHeaderSize);
}

}  // namespace
