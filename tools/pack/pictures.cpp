#include "pictures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

// The decoder, the scaler and the encoder are compiled here, once, from the
// header-only stb library: the decoder reads the four formats the screen
// saver shows and nothing else, from memory only, and refuses a side longer
// than kMaxPictureSide on its own too.
//
// Its memory comes zeroed: a damaged JPEG can make the decoder read a table
// it never filled, and the same bytes must then decode the same way every
// time (when they are checked, and again when they are scaled).
#define STBI_MALLOC(size) std::calloc(1, size)
#define STBI_REALLOC(block, size) std::realloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS 32768
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

static_assert(STBI_MAX_DIMENSIONS == kMaxPictureSide);

namespace {

struct PixelsFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using Pixels = std::unique_ptr<stbi_uc, PixelsFree>;

const stbi_uc* Bytes(const std::string& bytes) { return reinterpret_cast<const stbi_uc*>(bytes.data()); }

// stb_image takes the length as an int; a picture of 2 GB or more is
// refused before it is read at all (no installed file may be that long).
bool FitsDecoder(const std::string& bytes) { return bytes.size() < 0x7FFFFFFFu; }

std::string DecoderWords() {
    const char* reason = stbi_failure_reason();
    return reason && *reason ? reason : "unknown reason";
}

void Append(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Whether an uncompressed BMP holds all the pixel rows its header
// promises. The decoder takes missing rows as black, where the screen
// saver's decoder refuses the picture.
bool BmpComplete(const std::string& bytes) {
    if (bytes.size() < 26) return false;
    const std::uint32_t offset = Le(bytes, 10, 4), header = Le(bytes, 14, 4);
    std::uint64_t width, height, bits, compression = 0;
    if (header == 12) {
        width = Le(bytes, 18, 2);
        height = Le(bytes, 20, 2);
        bits = Le(bytes, 24, 2);
    } else {
        if (bytes.size() < 34) return false;
        width = Le(bytes, 18, 4);
        const std::int32_t rows = static_cast<std::int32_t>(Le(bytes, 22, 4));
        height = rows < 0 ? 0 - static_cast<std::int64_t>(rows) : rows;
        bits = Le(bytes, 28, 2);
        compression = Le(bytes, 30, 4);
    }
    if (compression != 0 && compression != 3) return true;  // packed rows: the decoder checks them
    const std::uint64_t row = (width * bits + 31) / 32 * 4;
    return offset + row * height <= bytes.size();
}

// Whether every Huffman table of a JPEG holds at most 256 codes. The
// decoder builds its tables into arrays of 256 without counting, so a table
// that claims more would overrun them: such a picture is refused before it
// reaches the decoder. Up to the frame header the segments are walked as the
// decoder walks them (bytes between segments skipped); from there on, where
// tables may also follow a scan and a legitimate file holds the two bytes
// FF C4 only as the start of a table, every FF C4 is taken for one.
bool JpegTablesFit(const std::string& bytes) {
    auto at = [&](std::size_t i) -> unsigned { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
    // The tables of the segment whose length field lies at `pos`, read as
    // the decoder reads them: table after table while the length lasts,
    // bytes past the end taken as 0.
    auto tablesFit = [&](std::size_t pos) {
        long left = static_cast<long>(at(pos) << 8 | at(pos + 1)) - 2;
        std::size_t table = pos + 2;
        while (left > 0) {
            unsigned codes = 0;
            for (std::size_t i = 0; i < 16; ++i) codes += at(table + 1 + i);
            if (codes > 256) return false;
            table += 17 + codes;
            left -= 17 + static_cast<long>(codes);
        }
        return true;
    };
    std::size_t pos = 2;  // past the start-of-image marker
    bool first = true;
    for (;;) {
        if (pos >= bytes.size()) return true;
        if (at(pos) != 0xFF) {
            if (first) return true;  // the decoder refuses it
            ++pos;
            continue;
        }
        first = false;
        while (pos < bytes.size() && at(pos) == 0xFF) ++pos;
        const unsigned marker = at(pos++);
        const bool known = (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE || marker == 0xDB ||
                           marker == 0xC4 || marker == 0xDD;
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) break;
        if (!known) return true;  // the decoder refuses it
        const std::size_t length = at(pos) << 8 | at(pos + 1);
        if (length < 2) return true;
        if (marker == 0xC4 && !tablesFit(pos)) return false;
        pos += length;
    }
    for (std::size_t i = pos; i + 1 < bytes.size(); ++i)
        if (at(i) == 0xFF && at(i + 1) == 0xC4 && !tablesFit(i + 2)) return false;
    return true;
}

}  // namespace

PictureFormat PictureFormatOf(const std::string& bytes) {
    auto starts = [&](const char* magic, std::size_t n) { return bytes.size() >= n && bytes.compare(0, n, magic, n) == 0; };
    if (starts("\xFF\xD8\xFF", 3)) return PictureFormat::Jpeg;
    if (starts("\x89PNG\r\n\x1A\n", 8)) return PictureFormat::Png;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return PictureFormat::Gif;
    if (starts("BM", 2) && bytes.size() >= 26) return PictureFormat::Bmp;
    return PictureFormat::Unknown;
}

std::string CheckPicture(const std::string& bytes, PictureFacts* facts) {
    PictureFacts found;
    found.format = PictureFormatOf(bytes);
    if (found.format == PictureFormat::Unknown) return "not a JPEG, PNG, GIF or BMP picture (by its first bytes)";
    if (!FitsDecoder(bytes)) return "too large a file for a picture (2 GB or more)";
    if (found.format == PictureFormat::Jpeg && !JpegTablesFit(bytes))
        return "does not decode: a Huffman table holds more than 256 codes";
    int channels = 0;
    if (!stbi_info_from_memory(Bytes(bytes), static_cast<int>(bytes.size()), &found.width, &found.height, &channels))
        return "its width and height cannot be read: " + DecoderWords();
    const std::uint64_t pixels = std::uint64_t(found.width) * std::uint64_t(found.height);
    if (found.width <= 0 || found.height <= 0 || found.width > kMaxPictureSide || found.height > kMaxPictureSide ||
        pixels > kMaxPicturePixels)
        return std::to_string(found.width) + "x" + std::to_string(found.height) + " pixels is too large (at most " +
               Grouped(kMaxPicturePixels) + " pixels, " + std::to_string(kMaxPictureSide) + " on a side)";
    if (found.format == PictureFormat::Bmp && !BmpComplete(bytes)) return "does not decode: its pixels are cut short";
    int width = 0, height = 0;
    Pixels decoded(stbi_load_from_memory(Bytes(bytes), static_cast<int>(bytes.size()), &width, &height, &channels, 0));
    if (!decoded) return "does not decode: " + DecoderWords();
    if (width != found.width || height != found.height) return "its header and its pixels disagree on its size";
    *facts = found;
    return "";
}

bool ParsePictureLimit(const std::string& text, PictureLimit* limit) {
    if (text == "off") {
        *limit = PictureLimit{0, 0};
        return true;
    }
    std::size_t x = text.find('x');
    if (x == std::string::npos) return false;
    auto side = [](const std::string& digits, int* value) {
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        long n = std::strtol(digits.c_str(), nullptr, 10);
        if (n < 1 || n > kMaxPictureSide) return false;
        *value = static_cast<int>(n);
        return true;
    };
    PictureLimit read;
    if (!side(text.substr(0, x), &read.width) || !side(text.substr(x + 1), &read.height)) return false;
    *limit = read;
    return true;
}

void ScaledSize(int width, int height, const PictureLimit& limit, ShowFit fit, int* scaledWidth, int* scaledHeight) {
    *scaledWidth = width;
    *scaledHeight = height;
    if (limit.width <= 0 || limit.height <= 0 || width <= 0 || height <= 0) return;
    const std::uint64_t w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
    const std::uint64_t boxW = static_cast<std::uint64_t>(limit.width), boxH = static_cast<std::uint64_t>(limit.height);
    // The side that decides: for a whole picture the one that reaches the box
    // first, for a filled screen the one that covers it last.
    const bool widthDecides = fit == kFitFill ? boxW * h >= boxH * w : boxW * h <= boxH * w;
    if (widthDecides ? w <= boxW : h <= boxH) return;
    auto rounded = [](std::uint64_t numerator, std::uint64_t denominator) {
        return static_cast<int>(std::max<std::uint64_t>(1, (numerator + denominator / 2) / denominator));
    };
    if (widthDecides) {
        *scaledWidth = limit.width;
        *scaledHeight = rounded(h * boxW, w);
    } else {
        *scaledHeight = limit.height;
        *scaledWidth = rounded(w * boxH, h);
    }
}

std::string ScalePicture(const std::string& bytes, int width, int height, std::string* out) {
    if (!FitsDecoder(bytes)) return "too large a file for a picture (2 GB or more)";
    if (PictureFormatOf(bytes) == PictureFormat::Jpeg && !JpegTablesFit(bytes))
        return "does not decode: a Huffman table holds more than 256 codes";
    // A JPEG has no transparency; every other format is decoded with its
    // alpha channel, which decides the encoding afterwards.
    const int channels = PictureFormatOf(bytes) == PictureFormat::Jpeg ? 3 : 4;
    int fromWidth = 0, fromHeight = 0, inFile = 0;
    Pixels decoded(stbi_load_from_memory(Bytes(bytes), static_cast<int>(bytes.size()), &fromWidth, &fromHeight,
                                         &inFile, channels));
    if (!decoded) return "does not decode: " + DecoderWords();
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::unique_ptr<std::uint8_t[]> scaled(new (std::nothrow) std::uint8_t[size * channels]);
    if (!scaled) return "not enough memory to scale it";
    if (!stbir_resize_uint8_srgb(decoded.get(), fromWidth, fromHeight, 0, scaled.get(), width, height, 0, channels,
                                 channels == 4 ? 3 : STBIR_ALPHA_CHANNEL_NONE, 0))
        return "not enough memory to scale it";
    decoded.reset();
    bool opaque = true;
    for (std::size_t i = 0; channels == 4 && opaque && i < size; ++i) opaque = scaled[i * 4 + 3] == 255;
    if (channels == 4 && !opaque) {
        *out = EncodePng(scaled.get(), width, height, 4);
    } else {
        if (channels == 4)
            for (std::size_t i = 0; i < size; ++i) std::memmove(&scaled[i * 3], &scaled[i * 4], 3);
        *out = EncodeJpeg(scaled.get(), width, height, 3, kScaledJpegQuality);
    }
    return out->empty() ? "cannot be encoded again" : "";
}

std::string EncodePng(const std::uint8_t* pixels, int width, int height, int channels) {
    std::string out;
    if (!stbi_write_png_to_func(Append, &out, width, height, channels, pixels, width * channels)) out.clear();
    return out;
}

std::string EncodeJpeg(const std::uint8_t* pixels, int width, int height, int channels, int quality) {
    std::string out;
    if (!stbi_write_jpg_to_func(Append, &out, width, height, channels, pixels, quality)) out.clear();
    return out;
}
