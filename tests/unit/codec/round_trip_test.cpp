// Encoder and decoder together: whatever the encoder packs, the decoder
// gives back byte for byte, for every kind of data and size, in both parses.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "support/fake_platform.h"

namespace {

void ExpectRoundTrip(const std::string& data, LzhufParse parse) {
    std::string packed = Encode(data, parse);
    DecodeRun run = RunDecode(packed, static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(run.produced, static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(run.writeFailed, 0);
    ASSERT_EQ(run.output.size(), data.size());
    EXPECT_TRUE(run.output == data) << "first difference at "
                                    << std::mismatch(data.begin(), data.end(), run.output.begin()).first -
                                           data.begin();
}

class RoundTrip : public ::testing::TestWithParam<LzhufParse> {
  protected:
    void SetUp() override { InstallFakePlatform(); }
};

TEST_P(RoundTrip, SmallSizesAroundTheWindow) {
    for (std::size_t size : {1u, 2u, 3u, 4u, 29u, 30u, 31u, 4095u, 4096u, 4097u}) {
        SCOPED_TRACE(size);
        ExpectRoundTrip(SampleText(size), GetParam());
        ExpectRoundTrip(RandomBytes(size, static_cast<std::uint32_t>(size)), GetParam());
    }
}

TEST_P(RoundTrip, ZerosBlanksAndRuns) {
    ExpectRoundTrip(std::string(100000, '\0'), GetParam());
    ExpectRoundTrip(std::string(5000, ' '), GetParam());
    std::string runs;
    for (int i = 0; i < 3000; ++i) runs += std::string(static_cast<std::size_t>(i % 37 + 1), static_cast<char>(i));
    ExpectRoundTrip(runs, GetParam());
}

TEST_P(RoundTrip, TextRandomAndMixed) {
    ExpectRoundTrip(SampleText(300000), GetParam());
    ExpectRoundTrip(RandomBytes(70000, 99), GetParam());
    ExpectRoundTrip(SampleText(50000) + RandomBytes(50000, 3) + std::string(50000, 'x') + SampleText(50000),
                    GetParam());
}

TEST_P(RoundTrip, ProgramBinaries) {
    for (const char* path : {"/bin/ls", "/bin/sh"}) {
        std::string data = ReadHostFile(path);
        if (data.empty()) continue;
        SCOPED_TRACE(path);
        ExpectRoundTrip(data, GetParam());
    }
}

TEST_P(RoundTrip, StreamsNeverLeanOnTheWindowsKeptPositions) {
    // Leave junk in the window's last 30 positions, then decode data whose
    // best matches at the start would be blanks 4096 bytes back: a stream
    // that read the kept positions would pick up the junk.
    std::string junk = RandomBytes(4096 + 30, 12);
    RunDecode(Encode(junk, GetParam()), static_cast<std::int32_t>(junk.size()));
    ExpectRoundTrip(std::string(64, ' ') + SampleText(5000), GetParam());
    RunDecode(Encode(junk, GetParam()), static_cast<std::int32_t>(junk.size()));
    ExpectRoundTrip(std::string(8000, ' '), GetParam());
}

TEST_P(RoundTrip, MatchesReachBackExactlyOneWindow) {
    // Random bytes whose first 30 bytes come back once, `distance` bytes
    // later, with nothing like them in between: only a match from exactly
    // that far back can save anything. 4096 is the farthest the window
    // reaches (offset 4095); 4097 is one too far and must stay literals.
    for (std::size_t distance : {4096u, 4097u}) {
        SCOPED_TRACE(distance);
        std::string data = RandomBytes(distance + 30, 17);
        data.replace(distance, 30, data.substr(0, 30));
        ExpectRoundTrip(data, GetParam());
        std::string plain = RandomBytes(distance + 30, 17);
        std::size_t saved = Encode(plain, GetParam()).size() - Encode(data, GetParam()).size();
        if (distance == 4096)
            EXPECT_GT(saved, 20u);
        else
            EXPECT_LT(saved, 3u);
    }
}

TEST_P(RoundTrip, RepetitiveDataShrinksToAFewBitsPerMatch) {
    // 100000 zeros are 3334 matches of at most 30 bytes; with the match
    // symbol's code down to a bit or two and 9 bits of offset that is
    // about 4.5 KB, where literals alone would take over 12 KB.
    EXPECT_LT(Encode(std::string(100000, '\0'), GetParam()).size(), 5000u);
    std::string text = SampleText(200000);
    EXPECT_LT(Encode(text, GetParam()).size(), text.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Parses, RoundTrip, 
                         ::testing::Values(LzhufParse::Greedy, LzhufParse::Lazy, LzhufParse::Optimal),
                         [](const auto& info) {
                             return info.param == LzhufParse::Greedy ? "Greedy"
                                    : info.param == LzhufParse::Lazy ? "Lazy"
                                                                     : "Optimal";
                         });

}  // namespace

namespace {

TEST(Parse, BetterParsesGiveSmallerStreams) {
    // Not guaranteed for every input, but on text and programs each step up
    // from greedy must pay.
    std::vector<std::string> inputs = {SampleText(300000)};
    std::string program = ReadHostFile("/bin/ls");
    if (!program.empty()) inputs.push_back(program);
    for (const std::string& data : inputs) {
        std::size_t greedy = Encode(data, LzhufParse::Greedy).size();
        std::size_t lazy = Encode(data, LzhufParse::Lazy).size();
        std::size_t optimal = Encode(data, LzhufParse::Optimal).size();
        EXPECT_LT(lazy, greedy);
        EXPECT_LT(optimal, lazy);
    }
    // The default is the optimal parse.
    std::string text = SampleText(10000);
    std::vector<std::uint8_t> byDefault = LzhufEncode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(std::string(byDefault.begin(), byDefault.end()), Encode(text, LzhufParse::Optimal));
}

}  // namespace
