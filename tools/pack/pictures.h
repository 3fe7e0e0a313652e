// The slideshow's pictures as glimmer-pack takes them: which bytes are a
// picture the screen saver can show, and how a picture larger than any
// screen is made smaller before it is packed.
//
// The screen saver decodes JPEG, PNG, GIF and BMP and holds each picture
// it shows whole in memory, four bytes a pixel: a camera's 24-megapixel
// photo costs it 96 MB. glimmer-pack therefore decodes every picture once
// before it writes anything (a picture that does not decode here would be
// skipped by the screen saver, silently), and packs a picture larger than
// the limit as a smaller copy: decoded, scaled down keeping its proportions,
// and encoded again. A picture within the limit is packed byte for byte.
#pragma once

#include <cstdint>
#include <string>

#include "show_data.h"

enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp };

// The format that a picture's first bytes announce, whatever its name says.
PictureFormat PictureFormatOf(const std::string& bytes);

// The largest picture glimmer-pack decodes: a side of kMaxPictureSide
// pixels and kMaxPicturePixels pixels in all (256 MB decoded at four bytes a
// pixel). A larger one is refused from its header, before any decoding, so
// that a damaged or hostile header never asks for gigabytes.
inline constexpr int kMaxPictureSide = 32768;
inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t(1) << 26;

struct PictureFacts {
    PictureFormat format = PictureFormat::Unknown;
    int width = 0, height = 0;
};

// Checks that `bytes` are a picture the screen saver can show: JPEG, PNG,
// GIF or BMP by its bytes, its width and height readable and within the
// limits above, and the whole picture decodable (a GIF's first frame).
// Returns "" with `facts` filled, or the reason in a few words.
std::string CheckPicture(const std::string& bytes, PictureFacts* facts);

// The box that pictures are scaled into; 0 by 0 when pictures are never
// scaled. By default the largest common screen, 3840 by 2160 pixels.
struct PictureLimit {
    int width = 3840, height = 2160;
};

// Reads a limit written "WIDTHxHEIGHT" (each 1 to kMaxPictureSide) or
// "off". False for any other text.
bool ParsePictureLimit(const std::string& text, PictureLimit* limit);

// The size a picture of `width` by `height` pixels is packed at. A picture
// shown whole (kFitWhole) is made just small enough to fit the box; a
// picture that fills the screen (kFitFill) just small enough to still cover
// it, since the screen saver crops it. A picture that needs no scaling, or a
// limit of 0 by 0, keeps its size.
void ScaledSize(int width, int height, const PictureLimit& limit, ShowFit fit, int* scaledWidth, int* scaledHeight);

// Quality of the JPEG that a scaled photo is encoded as.
inline constexpr int kScaledJpegQuality = 90;

// Decodes a picture that CheckPicture accepted, scales it to `width` by
// `height` pixels and encodes it again: as a PNG when some pixel is not
// fully opaque, else as a JPEG. Returns "" with the bytes in `out`, or the
// reason.
std::string ScalePicture(const std::string& bytes, int width, int height, std::string* out);

// Encodes `pixels`, `width` by `height` pixels of `channels` bytes each
// (1 grey, 3 RGB, 4 RGBA) row after row, as a PNG, or as a JPEG of the given
// quality (1 or 3 channels only). Empty when the encoder fails.
std::string EncodePng(const std::uint8_t* pixels, int width, int height, int channels);
std::string EncodeJpeg(const std::uint8_t* pixels, int width, int height, int channels, int quality);
