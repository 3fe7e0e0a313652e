#include "script.h"

#include <cstdlib>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Parses a whole decimal number, possibly negative; false for anything else.
bool ParseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 10) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = static_cast<int>(text[0] == '-' ? -v : v);
    return true;
}

struct StepName {
    const char* name;
    StepKind kind;
    int minArgs, maxArgs;
};

constexpr StepName kStepNames[] = {
    {"backdrop", StepKind::Backdrop, 0, 0}, {"window", StepKind::Window, 1, 1},
    {"progress", StepKind::Progress, 1, 1},
    {"press", StepKind::Press, 1, 1},       {"click", StepKind::Click, 1, 1},
    {"key", StepKind::Key, 1, 1},           {"close", StepKind::Close, 0, 0},
    {"shot", StepKind::Shot, 1, 1},         {"end", StepKind::End, 0, 1},
    {"timeout", StepKind::Timeout, 1, 1},   {"pause", StepKind::Pause, 1, 1},
    {"nudge", StepKind::Nudge, 0, 0},       {"process", StepKind::Process, 2, 2},
    {"shows", StepKind::Shows, 1, 1},       {"stroke", StepKind::Stroke, 1, 1},
};

// A shot name becomes a file name on both sides of the harness.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

}  // namespace

bool SplitLine(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) return true;
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && !IsBlank(line[i])) word += line[i++];
            words.push_back(word);
            continue;
        }
        ++i;  // opening quote
        bool closed = false;
        while (i < line.size()) {
            char c = line[i++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\') {
                word += c;
                continue;
            }
            if (i == line.size()) break;
            char e = line[i++];
            switch (e) {
                case '"': word += '"'; break;
                case '\\': word += '\\'; break;
                case 'r': word += '\r'; break;
                case 'n': word += '\n'; break;
                case 't': word += '\t'; break;
                case 'x': {
                    int hi = i < line.size() ? HexValue(line[i]) : -1;
                    int lo = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
                    if (hi < 0 || lo < 0) {
                        error = "bad \\x escape";
                        return false;
                    }
                    word += static_cast<char>(hi * 16 + lo);
                    i += 2;
                    break;
                }
                default:
                    error = std::string("unknown escape \\") + e;
                    return false;
            }
        }
        if (!closed) {
            error = "unterminated quote";
            return false;
        }
        if (i < line.size() && !IsBlank(line[i])) {
            error = "text right after a closing quote";
            return false;
        }
        words.push_back(word);
    }
}

bool ParseScript(const std::string& content, std::vector<Step>& steps, std::string& error) {
    steps.clear();
    std::size_t start = 0;
    int lineNumber = 0;
    while (start < content.size()) {
        std::size_t stop = content.find('\n', start);
        if (stop == std::string::npos) stop = content.size();
        std::string line = content.substr(start, stop - start);
        start = stop + 1;
        ++lineNumber;

        std::vector<std::string> words;
        std::string why;
        if (!SplitLine(line, words, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        if (words.empty() || words[0][0] == '#') continue;

        const StepName* name = nullptr;
        for (const StepName& n : kStepNames)
            if (words[0] == n.name) name = &n;
        if (!name) {
            error = "line " + std::to_string(lineNumber) + ": unknown step \"" + words[0] + "\"";
            return false;
        }
        int args = static_cast<int>(words.size()) - 1;
        if (args < name->minArgs || args > name->maxArgs) {
            error = "line " + std::to_string(lineNumber) + ": wrong number of arguments to " +
                    name->name;
            return false;
        }
        Step step;
        step.kind = name->kind;
        step.line = lineNumber;
        if (args >= 1) step.text = words[1];

        bool ok = true;
        switch (step.kind) {
            case StepKind::End:
                if (args == 1) ok = ParseNumber(step.text, step.number);
                break;
            case StepKind::Timeout:
                ok = ParseNumber(step.text, step.number) && step.number > 0;
                break;
            case StepKind::Key:
            case StepKind::Stroke:
                ok = KeyCode(step.text) != 0;
                break;
            case StepKind::Shot:
                ok = IsPlainName(step.text);
                break;
            case StepKind::Pause:
                ok = ParseNumber(step.text, step.number) && step.number >= 0 && step.number <= 600000;
                break;
            case StepKind::Process:
                step.number = words[2] == "running" ? 1 : words[2] == "ended" ? 0 : -1;
                ok = !step.text.empty() && step.number >= 0;
                if (step.number < 0) step.text = words[2];
                break;
            default:
                break;
        }
        if (!ok) {
            error = "line " + std::to_string(lineNumber) + ": bad argument \"" + step.text +
                    "\" to " + name->name;
            return false;
        }
        steps.push_back(step);
    }
    return true;
}

std::string Quote(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string ButtonLabel(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

int KeyCode(const std::string& name) {
    // Virtual-key codes as Windows numbers them.
    if (name == "enter") return 0x0D;
    if (name == "escape") return 0x1B;
    if (name == "tab") return 0x09;
    if (name == "space") return 0x20;
    return 0;
}
