// Fuzz target: the slideshow's data file reader, which the screen saver runs
// on whatever file lies in its data folder. The input is the whole file; an
// index the reader accepts must keep every picture after the index and
// inside the file, and must come back the same through the writer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "show_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t indexSize = ShowIndexSize(data, size);
    FUZZ_CHECK(indexSize <= kShowHeaderSize + kMaxShowTitle + kMaxPictures * kShowRowSize,
               "the index size stays within the limits");
    ShowIndex index;
    // The screen saver hands over only the index's bytes: the same must hold
    // for them as for the whole file.
    const ShowReadResult whole = ReadShowIndex(data, size, size, &index);
    if (indexSize != 0 && indexSize <= size) {
        ShowIndex part;
        FUZZ_CHECK(ReadShowIndex(data, indexSize, size, &part) == whole, "the index alone reads as the whole file");
    }
    if (whole != kShowOk) return 0;

    FUZZ_CHECK(indexSize != 0 && indexSize <= size, "an accepted file has an index inside it");
    FUZZ_CHECK(index.title.size() <= kMaxShowTitle && index.pictures.size() <= kMaxPictures, "limits kept");
    for (const PictureSpan& span : index.pictures) {
        FUZZ_CHECK(span.size != 0 && span.offset >= indexSize, "a picture lies after the index");
        FUZZ_CHECK(static_cast<std::uint64_t>(span.offset) + span.size <= size, "a picture lies inside the file");
    }

    // Pictures laid one after another, as the writer lays them, give the
    // same index bytes back.
    std::vector<std::uint32_t> sizes;
    std::uint64_t expected = indexSize;
    bool consecutive = true;
    for (const PictureSpan& span : index.pictures) {
        consecutive = consecutive && span.offset == expected;
        expected += span.size;
        sizes.push_back(span.size);
    }
    std::vector<std::uint8_t> written;
    FUZZ_CHECK(WriteShowIndex(index.defaults, index.title, sizes, &written), "the writer takes what the reader took");
    FUZZ_CHECK(written.size() == indexSize, "the writer's index has the reader's size");
    if (consecutive) {
        // Reserved bytes are not compared: the writer always writes zero.
        std::vector<std::uint8_t> original(data, data + indexSize);
        original[15] = original[22] = original[23] = 0;
        FUZZ_CHECK(std::memcmp(original.data(), written.data(), indexSize) == 0, "the writer gives the same index back");
    }
    return 0;
}
