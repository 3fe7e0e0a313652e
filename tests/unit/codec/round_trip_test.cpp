// Encoder and decoder together: whatever the encoder packs, the decoder
// gives back byte for byte, for every kind of data and size, in every parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "codec_support.h"
#include "support/fake_platform.h"

namespace {

class RoundTrip : public ::testing::TestWithParam<LzhufParse> {
  protected:
    void SetUp() override { InstallFakePlatform(); }
    void Expect(const std::string& data) {
        DecodeRun run = RunDecode(Encode(data, GetParam()), static_cast<std::int32_t>(data.size()));
        EXPECT_EQ(run.produced, static_cast<std::int32_t>(data.size()));
        ASSERT_EQ(run.output.size(), data.size());
        EXPECT_TRUE(run.output == data) << "first difference at "
                                        << std::mismatch(data.begin(), data.end(), run.output.begin()).first -
                                               data.begin();
    }
};

TEST_P(RoundTrip, SizesAroundTheWindowAndTheLongestMatch) {
    EXPECT_TRUE(Encode("", GetParam()).empty());
    for (std::size_t size : {1u, 2u, 3u, 4u, 29u, 30u, 31u, 4095u, 4096u, 4097u}) {
        SCOPED_TRACE(size);
        Expect(SampleText(size));
        Expect(RandomBytes(size, static_cast<std::uint32_t>(size)));
    }
}

TEST_P(RoundTrip, RunsTextRandomAndProgramBinaries) {
    std::string runs;
    for (int i = 0; i < 3000; ++i) runs += std::string(static_cast<std::size_t>(i % 37 + 1), static_cast<char>(i));
    Expect(runs);
    Expect(std::string(100000, '\0'));
    Expect(std::string(5000, ' '));
    Expect(SampleText(50000) + RandomBytes(70000, 3) + std::string(50000, 'x') + SampleText(300000));
    // The data end inside a match: the tail repeats an earlier stretch, so
    // the last match must stop at the end, whatever its length.
    for (std::size_t tail : {2u, 3u, 4u, 17u, 59u, 60u, 61u, 200u}) {
        SCOPED_TRACE(tail);
        std::string data = RandomBytes(300, static_cast<std::uint32_t>(tail));
        Expect(data + data.substr(40, std::min<std::size_t>(tail, 260)));
    }
    for (const char* path : {"/bin/ls", "/bin/sh"}) {
        SCOPED_TRACE(path);
        if (std::string data = ReadHostFile(path); !data.empty()) Expect(data);
    }
}

TEST_P(RoundTrip, MatchesReachBackExactlyOneWindow) {
    // Random bytes whose first 30 come back once, `distance` bytes later:
    // only a match from exactly that far saves anything. 4096 is as far as
    // the window reaches (offset 4095); 4097 is one too far.
    for (std::size_t distance : {4096u, 4097u}) {
        SCOPED_TRACE(distance);
        std::string plain = RandomBytes(distance + 30, 17);
        std::string data = plain;
        data.replace(distance, 30, data.substr(0, 30));
        Expect(data);
        std::size_t saved = Encode(plain, GetParam()).size() - Encode(data, GetParam()).size();
        if (distance == 4096)
            EXPECT_GT(saved, 20u);
        else
            EXPECT_LT(saved, 3u);
    }
}

TEST_P(RoundTrip, RepetitiveDataShrinksToAFewBitsPerMatch) {
    // 100000 zeros are 3334 matches; with the match code down to a bit or
    // two and 9 bits of offset that is about 4.5 KB, literals would be 12.
    EXPECT_LT(Encode(std::string(100000, '\0'), GetParam()).size(), 5000u);
    // Words repeated at every distance: the match search must follow its
    // chains far back to find the longest. Packed today to 16.9% (greedy),
    // 16.7% (lazy) and 15.8% (optimal) of the text; searches that stop at
    // the nearest candidate give 22.2%, 21.5% and 20.6%.
    const double floor = GetParam() == LzhufParse::Optimal ? 0.165 : 0.175;
    EXPECT_LE(static_cast<double>(Encode(SampleText(300000), GetParam()).size()), floor * 300000);
}

TEST_P(RoundTrip, InputHandedOverInAnyPiecesGivesTheSameStream) {
    // The encoder holds only a stretch of its input and reads the rest as
    // it goes; where the pieces end must change nothing, at block, window
    // and buffer edges alike. The packed stream arrives in pieces too.
    std::string mixed = SampleText(70000) + RandomBytes(20000, 5) + std::string(40000, '\0') + SampleText(100000);
    for (const std::string& data : {mixed, SampleText(16385), RandomBytes(4097, 9), std::string(69633, 'a')}) {
        std::string whole = Encode(data, GetParam());
        for (std::size_t piece : {1u, 7u, 4095u, 16385u, 65537u}) {
            SCOPED_TRACE(std::to_string(data.size()) + " bytes in pieces of " + std::to_string(piece));
            if (piece == 1 && data.size() > 20000) continue;
            std::size_t taken = 0;
            std::string stream;
            bool done = LzhufEncodeStream(
                data.size(), GetParam(),
                [&](std::uint8_t* into, std::size_t most) {
                    std::size_t n = std::min({most, piece, data.size() - taken});
                    std::memcpy(into, data.data() + taken, n);
                    taken += n;
                    return n;
                },
                [&](const std::uint8_t* bytes, std::size_t n) {
                    stream.append(reinterpret_cast<const char*>(bytes), n);
                    return true;
                });
            EXPECT_TRUE(done);
            EXPECT_EQ(taken, data.size());
            EXPECT_TRUE(stream == whole) << "first difference at "
                                         << std::mismatch(whole.begin(), whole.end(), stream.begin()).first -
                                                whole.begin();
        }
    }
    // Input that ends early is a failure, not a shorter stream.
    std::size_t given = 0;
    EXPECT_FALSE(LzhufEncodeStream(
        mixed.size(), GetParam(),
        [&](std::uint8_t* into, std::size_t most) {
            std::size_t n = std::min(most, 100000 - given);
            std::memcpy(into, mixed.data() + given, n);
            given += n;
            return n;
        },
        [](const std::uint8_t*, std::size_t) { return true; }));
}

INSTANTIATE_TEST_SUITE_P(Parses, RoundTrip,
                         ::testing::Values(LzhufParse::Greedy, LzhufParse::Lazy, LzhufParse::Optimal),
                         [](const auto& info) {
                             return info.param == LzhufParse::Greedy ? "Greedy"
                                    : info.param == LzhufParse::Lazy ? "Lazy"
                                                                     : "Optimal";
                         });

TEST(Parse, EachBetterParseGivesASmallerStream) {
    // Not promised for every input, but on text and programs each step up
    // from greedy must pay; the default is the optimal parse.
    for (const std::string& data : {SampleText(300000), ReadHostFile("/bin/ls")}) {
        if (data.empty()) continue;
        std::size_t greedy = Encode(data, LzhufParse::Greedy).size();
        std::size_t lazy = Encode(data, LzhufParse::Lazy).size();
        std::size_t optimal = Encode(data, LzhufParse::Optimal).size();
        EXPECT_LT(lazy, greedy);
        EXPECT_LT(optimal, lazy);
    }
    std::string text = SampleText(10000);
    std::vector<std::uint8_t> byDefault = LzhufEncode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(std::string(byDefault.begin(), byDefault.end()), Encode(text, LzhufParse::Optimal));
}

}  // namespace
