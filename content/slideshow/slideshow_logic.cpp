// The slideshow screen saver's decisions (see slideshow_logic.h).
#include "slideshow_logic.h"

#include <algorithm>

namespace slideshow {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

}  // namespace

Command ParseCommandLine(std::string_view line) {
    std::size_t i = 0;
    // The program's own name, quoted or not.
    if (i < line.size() && line[i] == '"') {
        i = line.find('"', 1);
        i = i == std::string_view::npos ? line.size() : i + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    // Some programs quote every argument ("/c").
    if (i < line.size() && line[i] == '"') ++i;

    Command command;
    if (i >= line.size() || (line[i] != '/' && line[i] != '-') || i + 1 >= line.size()) return command;
    const char letter = Lower(line[i + 1]);
    i += 2;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ':' || line[i] == '"')) ++i;
    std::uintptr_t window = 0;
    for (; i < line.size() && IsDigit(line[i]); ++i) {
        const std::uintptr_t next = window * 10 + static_cast<unsigned>(line[i] - '0');
        if (next / 10 != window) {
            window = 0;  // no handle is that large
            break;
        }
        window = next;
    }
    command.window = window;
    switch (letter) {
        case 's': command.mode = Mode::kFullScreen; break;
        case 'p':
        case 'l':  // the preview's letter in the oldest Windows
            command.mode = window != 0 ? Mode::kPreview : Mode::kNothing;
            break;
        case 'c': command.mode = Mode::kSettings; break;
        default: command.mode = Mode::kNothing; break;  // /a: no password to set
    }
    return command;
}

std::string TitleFromPath(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/:");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
    return std::string(name);
}

void ApplyStoredValue(ShowSettings* settings, std::string_view name, std::uint32_t value) {
    if (name == kSecondsValue) {
        settings->seconds = std::clamp<std::uint32_t>(value, kMinSeconds, kMaxSeconds);
    } else if (value > 1) {
        return;
    } else if (name == kOrderValue) {
        settings->order = static_cast<ShowOrder>(value);
    } else if (name == kFitValue) {
        settings->fit = static_cast<ShowFit>(value);
    } else if (name == kMusicValue) {
        settings->music = value != 0;
    }
}

bool ParseSecondsText(std::string_view text, unsigned* seconds) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return false;
    text.remove_prefix(first);
    text = text.substr(0, text.find_last_not_of(" \t") + 1);
    unsigned long value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        value = std::min<unsigned long>(value * 10 + static_cast<unsigned>(c - '0'), kMaxSeconds + 1ul);
    }
    *seconds = static_cast<unsigned>(std::clamp<unsigned long>(value, kMinSeconds, kMaxSeconds));
    return true;
}

bool PictureSizeAcceptable(std::uint32_t bytes) {
    return bytes != 0 && bytes <= kMaxPictureBytes;
}

bool PictureDimensionsAcceptable(std::uint32_t width, std::uint32_t height) {
    return width != 0 && height != 0 && static_cast<std::uint64_t>(width) * height <= kMaxPicturePixels;
}

std::vector<std::uint32_t> PictureOrder(std::uint32_t count, ShowOrder order, std::uint32_t seed) {
    std::vector<std::uint32_t> result(count);
    for (std::uint32_t i = 0; i < count; ++i) result[i] = i;
    if (order != kOrderShuffled) return result;
    // Fisher-Yates with a small xorshift generator: the seed alone decides.
    std::uint32_t state = seed != 0 ? seed : 0x9e3779b9u;
    for (std::uint32_t i = count; i > 1; --i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        std::swap(result[i - 1], result[state % i]);
    }
    return result;
}

Rect PlacePicture(std::uint32_t pictureWidth, std::uint32_t pictureHeight, int areaWidth, int areaHeight,
                  ShowFit fit) {
    if (pictureWidth == 0 || pictureHeight == 0 || areaWidth <= 0 || areaHeight <= 0) return {0, 0, 0, 0};
    const std::uint64_t pw = pictureWidth, ph = pictureHeight;
    const std::uint64_t aw = static_cast<std::uint64_t>(areaWidth), ah = static_cast<std::uint64_t>(areaHeight);
    // Compare aw/pw with ah/ph without division: the width decides when the
    // area is relatively narrower (whole) or wider (fill) than the picture.
    const bool byWidth = (aw * ph <= ah * pw) == (fit == kFitWhole);
    std::uint64_t w, h;
    if (byWidth) {
        w = aw;
        h = (ph * aw + pw / 2) / pw;
    } else {
        h = ah;
        w = (pw * ah + ph / 2) / ph;
    }
    // Bounded by the area times the picture's aspect ratio, at most 2^32
    // pixels by 2^16: the results stay far inside int for any real screen,
    // and are kept there for any input.
    w = std::clamp<std::uint64_t>(w, 1, 1u << 30);
    h = std::clamp<std::uint64_t>(h, 1, 1u << 30);
    const auto offset = [](std::uint64_t area, std::uint64_t size) {
        return static_cast<int>((static_cast<std::int64_t>(area) - static_cast<std::int64_t>(size)) / 2);
    };
    return {offset(aw, w), offset(ah, h), static_cast<int>(w), static_cast<int>(h)};
}

unsigned FadeMs(unsigned seconds) {
    return std::min<unsigned>(kFadeMs, seconds * 1000u / 4);
}

std::vector<std::string> MusicFiles(const std::vector<std::string>& names, std::string_view dataFile) {
    struct Found {
        std::uint64_t number;
        const std::string* name;
    };
    std::vector<Found> found;
    for (const std::string& name : names) {
        if (EqualNoCase(name, dataFile)) continue;
        if (!StartsWithNoCase(name, "FILE") && !StartsWithNoCase(name, "JUKE") && !StartsWithNoCase(name, "JUK_"))
            continue;
        std::size_t i = 4;
        std::uint64_t number = 0;
        while (i < name.size() && IsDigit(name[i])) {
            // Beyond 18 digits every number counts as the same large one.
            number = std::min<std::uint64_t>(number * 10 + static_cast<unsigned>(name[i] - '0'), 999999999999999999u);
            ++i;
        }
        if (i - 4 < 4) continue;
        found.push_back({number, &name});
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.number != b.number ? a.number < b.number : *a.name < *b.name;
    });
    std::vector<std::string> result;
    for (const Found& f : found) result.push_back(*f.name);
    return result;
}

bool MouseEnds(int startX, int startY, int x, int y) {
    const std::int64_t dx = static_cast<std::int64_t>(x) - startX, dy = static_cast<std::int64_t>(y) - startY;
    return dx > kMoveTolerance || -dx > kMoveTolerance || dy > kMoveTolerance || -dy > kMoveTolerance;
}

}  // namespace slideshow
