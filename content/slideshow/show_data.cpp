// The slideshow's data file: reading its index with every bound checked, and
// writing it. The layout is drawn in show_data.h.
#include "show_data.h"

#include <cstring>
#include <utility>

namespace {

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put16(std::uint8_t* p, unsigned value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::size_t kVersionAt = 8, kSecondsAt = 10, kOrderAt = 12, kFitAt = 13, kMusicAt = 14, kCountAt = 16,
                      kTitleLengthAt = 20;

bool HasMagic(const std::uint8_t* bytes) {
    return std::memcmp(bytes, kShowMagic, sizeof kShowMagic) == 0;
}

}  // namespace

std::size_t ShowIndexSize(const std::uint8_t* bytes, std::size_t size) {
    if (bytes == nullptr || size < kShowHeaderSize || !HasMagic(bytes)) return 0;
    const unsigned version = Get16(bytes + kVersionAt);
    if (version == 0 || version > kShowVersion) return 0;
    const std::uint32_t count = Get32(bytes + kCountAt);
    const std::size_t titleLength = Get16(bytes + kTitleLengthAt);
    // Counts beyond the limits would ask the caller to read up to half a
    // megabyte of rows for a file that is refused anyway: the header alone
    // lets ReadShowIndex say so.
    if (count > kMaxPictures || titleLength > kMaxShowTitle) return kShowHeaderSize;
    return kShowHeaderSize + titleLength + static_cast<std::size_t>(count) * kShowRowSize;
}

ShowReadResult ReadShowIndex(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize,
                             ShowIndex* out) {
    if (bytes == nullptr || size < kShowHeaderSize || !HasMagic(bytes)) return kShowNotShowFile;
    const unsigned version = Get16(bytes + kVersionAt);
    if (version > kShowVersion) return kShowNewerVersion;
    if (version == 0) return kShowDamaged;

    const unsigned seconds = Get16(bytes + kSecondsAt);
    const unsigned order = bytes[kOrderAt], fit = bytes[kFitAt], music = bytes[kMusicAt];
    if (seconds < kMinSeconds || seconds > kMaxSeconds || order > kOrderShuffled || fit > kFitFill || music > 1)
        return kShowDamaged;

    const std::uint32_t count = Get32(bytes + kCountAt);
    const std::size_t titleLength = Get16(bytes + kTitleLengthAt);
    if (count > kMaxPictures || titleLength > kMaxShowTitle) return kShowDamaged;
    const std::size_t indexSize = kShowHeaderSize + titleLength + static_cast<std::size_t>(count) * kShowRowSize;
    if (size < indexSize || fileSize < indexSize || fileSize >= kShowFileLimit) return kShowDamaged;

    const char* title = reinterpret_cast<const char*>(bytes + kShowHeaderSize);
    if (std::memchr(title, 0, titleLength) != nullptr) return kShowDamaged;

    std::vector<PictureSpan> pictures(count);
    const std::uint8_t* row = bytes + kShowHeaderSize + titleLength;
    for (std::uint32_t i = 0; i < count; ++i, row += kShowRowSize) {
        const PictureSpan span{Get32(row), Get32(row + 4)};
        // In 64 bits, so that an offset and a size that wrap around 2^32
        // cannot pass as a span inside the file.
        if (span.size == 0 || span.offset < indexSize ||
            static_cast<std::uint64_t>(span.offset) + span.size > fileSize)
            return kShowDamaged;
        pictures[i] = span;
    }

    out->defaults.seconds = seconds;
    out->defaults.order = static_cast<ShowOrder>(order);
    out->defaults.fit = static_cast<ShowFit>(fit);
    out->defaults.music = music != 0;
    out->title.assign(title, titleLength);
    out->pictures = std::move(pictures);
    return kShowOk;
}

bool WriteShowIndex(const ShowSettings& settings, std::string_view title,
                    const std::vector<std::uint32_t>& pictureSizes, std::vector<std::uint8_t>* out) {
    if (settings.seconds < kMinSeconds || settings.seconds > kMaxSeconds || settings.order > kOrderShuffled ||
        settings.fit > kFitFill)
        return false;
    if (title.size() > kMaxShowTitle || title.find('\0') != std::string_view::npos) return false;
    if (pictureSizes.size() > kMaxPictures) return false;

    const std::size_t indexSize = kShowHeaderSize + title.size() + pictureSizes.size() * kShowRowSize;
    std::uint64_t end = indexSize;
    for (std::uint32_t pictureSize : pictureSizes) {
        if (pictureSize == 0) return false;
        end += pictureSize;
        if (end >= kShowFileLimit) return false;
    }

    std::vector<std::uint8_t> index(indexSize, 0);
    std::memcpy(index.data(), kShowMagic, sizeof kShowMagic);
    Put16(&index[kVersionAt], kShowVersion);
    Put16(&index[kSecondsAt], settings.seconds);
    index[kOrderAt] = settings.order;
    index[kFitAt] = settings.fit;
    index[kMusicAt] = settings.music ? 1 : 0;
    Put32(&index[kCountAt], static_cast<std::uint32_t>(pictureSizes.size()));
    Put16(&index[kTitleLengthAt], static_cast<unsigned>(title.size()));
    if (!title.empty()) std::memcpy(&index[kShowHeaderSize], title.data(), title.size());

    std::uint32_t offset = static_cast<std::uint32_t>(indexSize);
    std::uint8_t* row = index.data() + kShowHeaderSize + title.size();
    for (std::uint32_t pictureSize : pictureSizes) {
        Put32(row, offset);
        Put32(row + 4, pictureSize);
        offset += pictureSize;
        row += kShowRowSize;
    }
    *out = std::move(index);
    return true;
}
