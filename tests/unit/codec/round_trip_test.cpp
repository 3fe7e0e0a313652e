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

INSTANTIATE_TEST_SUITE_P(Parses, RoundTrip, 
                         ::testing::Values(LzhufParse::Greedy, LzhufParse::Lazy, LzhufParse::Optimal),
                         [](const auto& info) {
                             return info.param == LzhufParse::Greedy ? "Greedy"
                                    : info.param == LzhufParse::Lazy ? "Lazy"
                                                                     : "Optimal";
                         });

}  // namespace
