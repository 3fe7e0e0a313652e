// Fuzz target: the check glimmer-pack runs on every picture before it packs
// it, and the scaling of a picture it accepts. The input is the picture's
// bytes, under whatever name an author gave it. An accepted picture keeps
// the size limits, and scales and encodes again into a picture that the
// check accepts at the size asked for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    PictureFacts facts;
    if (!CheckPicture(bytes, &facts).empty()) return 0;
    FUZZ_CHECK(facts.format != PictureFormat::Unknown && facts.format == PictureFormatOf(bytes),
               "an accepted picture is of a known format by its bytes");
    FUZZ_CHECK(facts.width >= 1 && facts.height >= 1 && facts.width <= kMaxPictureSide &&
                   facts.height <= kMaxPictureSide &&
                   std::uint64_t(facts.width) * std::uint64_t(facts.height) <= kMaxPicturePixels,
               "an accepted picture keeps the size limits");
    int width = 0, height = 0;
    ScaledSize(facts.width, facts.height, PictureLimit{48, 32}, kFitWhole, &width, &height);
    FUZZ_CHECK((width >= 1 && height >= 1 && width <= 48 && height <= 32) ||
                   (width == facts.width && height == facts.height),
               "a scaled picture fits the box");
    std::string scaled;
    const std::string problem = ScalePicture(bytes, width, height, &scaled);
    if (!problem.empty()) std::fprintf(stderr, "scaling: %s\n", problem.c_str());
    FUZZ_CHECK(problem.empty(), "an accepted picture scales");
    PictureFacts again;
    FUZZ_CHECK(CheckPicture(scaled, &again).empty() && again.width == width && again.height == height,
               "the scaled picture is accepted at the size asked for");
    return 0;
}
