// Hand-made bit streams: what the decoder must produce for streams written
// bit by bit from the coding's rules, independent of the encoder.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "support/fake_platform.h"

namespace {

class Stream : public ::testing::Test {
  protected:
    void SetUp() override { InstallFakePlatform(); }
};

TEST_F(Stream, TheFirstTwoCodesOfAnExecutableSpellMZ) {
    DecodeRun run = RunDecode(std::string("\x15\x22", 2), 2);
    EXPECT_EQ(run.output, "MZ");
    EXPECT_EQ(run.produced, 2);
}

}  // namespace
