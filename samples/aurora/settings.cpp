#include "settings.h"

#include <cmath>

namespace aurora {

namespace {

constexpr double kPi = 3.14159265358979323846;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A whole decimal number within [least, most]; false otherwise.
bool ParseNumber(std::string_view text, int least, int most, int* value) {
    if (text.empty() || text.size() > 4) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < least || n > most) return false;
    *value = n;
    return true;
}

void ParseColours(std::string_view text, Settings* settings) {
    Colour found[kMaxColours];
    int count = 0;
    while (!text.empty() && count < kMaxColours) {
        std::size_t comma = text.find(',');
        std::string_view name = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (ColourByName(name, &found[count])) ++count;
    }
    if (count == 0) return;
    settings->colourCount = count;
    for (int i = 0; i < count; ++i) settings->colours[i] = found[i];
}

double Clamp(double v, double least, double most) { return v < least ? least : v > most ? most : v; }

}  // namespace

bool ColourByName(std::string_view name, Colour* colour) {
    static const struct {
        const char* name;
        Colour colour;
    } kColours[] = {
        {"green", 0x0060D040}, {"violet", 0x00C04090}, {"blue", 0x00E08030}, {"teal", 0x00B0B020},
        {"pink", 0x00A060F0},  {"red", 0x003030E0},    {"white", 0x00F0F0F0},
    };
    for (const auto& c : kColours)
        if (SameText(name, c.name)) {
            *colour = c.colour;
            return true;
        }
    return false;
}

Settings ParseSettings(std::string_view text) {
    Settings settings;
    bool inSection = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            inSection = line.back() == ']' && SameText(Trim(line.substr(1, line.size() - 2)), "Aurora");
            continue;
        }
        std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, equals));
        std::string_view value = Trim(line.substr(equals + 1));
        if (SameText(key, "Speed"))
            ParseNumber(value, 1, 10, &settings.speed);
        else if (SameText(key, "Curtains"))
            ParseNumber(value, 1, 8, &settings.curtains);
        else if (SameText(key, "Colours"))
            ParseColours(value, &settings);
    }
    return settings;
}

CurtainColumn CurtainAt(const Settings& settings, int curtain, int x, int width, int step) {
    // One full cycle of the animation takes 1200 / speed steps; each curtain
    // has its own phase and wave length, so that they drift past each other.
    double cycle = 1200.0 / settings.speed;
    double phase = 2 * kPi * (step / cycle + curtain * 0.37);
    double u = width > 0 ? static_cast<double>(x) / width : 0;
    double waves = 1.5 + curtain % 3;
    double top = 0.15 + 0.06 * curtain / settings.curtains +
                 0.1 * std::sin(2 * kPi * waves * u + phase) +
                 0.04 * std::sin(2 * kPi * 7 * u - 2 * phase);
    double brightness = 0.55 + 0.45 * std::sin(2 * kPi * (2 * u + 0.5 * curtain) - phase);
    return {Clamp(top, 0.05, 0.6), Clamp(brightness, 0, 1)};
}

Colour Dim(Colour colour, double brightness) {
    brightness = Clamp(brightness, 0, 1);
    Colour out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        auto channel = static_cast<Colour>(((colour >> shift) & 0xFF) * brightness + 0.5);
        out |= (channel > 255 ? 255 : channel) << shift;
    }
    return out;
}

}  // namespace aurora
