#include "text_input.h"

#include <cstdio>
#include <cstdint>
#include <vector>

#include "package_format.h"
#include "tool_files.h"

namespace {

// Decodes UTF-8 into characters; false at the first invalid sequence, with
// *bad its index.
bool DecodeUtf8(const std::string& text, std::u32string* out, std::size_t* bad) {
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t c = 0;
        if (!NextUtf8(text, &i, &c)) {
            *bad = i;
            return false;
        }
        out->push_back(c);
    }
    return true;
}

// Decodes UTF-16 after its byte-order mark. On a fault, false with *bad
// the unit's byte index and *why what is wrong there: a unit cut short by
// the end of the text, or a surrogate without its other half.
bool DecodeUtf16(const std::string& text, bool bigEndian, std::u32string* out, std::size_t* bad, const char** why) {
    auto unit = [&](std::size_t i) -> char32_t {
        unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 2; i < text.size(); i += 2) {
        *bad = i;
        *why = "a character cut short by the end of the text";
        if (i + 1 >= text.size()) return false;
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00) {
            *why = "a high surrogate without its low surrogate";
            if (i + 3 >= text.size()) return false;
            char32_t low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c < 0xE000) {
            *why = "a low surrogate without its high surrogate";
            return false;
        }
        out->push_back(c);
    }
    return true;
}

// Code page 1252's byte for a character, or -1.
int Cp1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return static_cast<int>(c);
    if (c >= 0x10000) return -1;
    // The table lives with the UTF-8 conversion; go through it.
    std::string utf8;
    AppendUtf8(utf8, static_cast<std::uint32_t>(c));
    std::string byte;
    if (!Utf8ToCp1252(utf8, &byte) || byte.size() != 1) return -1;
    return static_cast<unsigned char>(byte[0]);
}

std::string Position(std::size_t line, std::size_t column) {
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string DescribeCharacter(char32_t c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    std::string text = code;
    if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0)) {
        std::string utf8;
        AppendUtf8(utf8, static_cast<std::uint32_t>(c));
        text += " '" + utf8 + "'";
    }
    return text;
}

bool PrepareLicenseText(const std::string& raw, std::string* text, std::string* problem) {
    // The text as characters. Text that is not UTF-8 is code page 1252
    // already: its bytes stand for themselves.
    std::u32string chars;
    std::size_t bad = 0;
    bool utf16 = false, cp1252 = false;
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        if (!DecodeUtf8(raw.substr(3), &chars, &bad)) {
            *problem = "starts with a UTF-8 byte-order mark but is not valid UTF-8 (byte " + std::to_string(bad + 3) +
                       ")";
            return false;
        }
    } else if (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0) {
        utf16 = true;
        const char* why = "";
        if (!DecodeUtf16(raw, raw[0] == '\xFE', &chars, &bad, &why)) {
            *problem = "starts with a UTF-16 byte-order mark but is not valid UTF-16: " + std::string(why) +
                       " (byte " + std::to_string(bad) + ")";
            return false;
        }
    } else if (!DecodeUtf8(raw, &chars, &bad)) {
        cp1252 = true;
        chars.clear();
        for (unsigned char c : raw) chars.push_back(c);
    }

    text->clear();
    std::size_t line = 1, column = 0;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        ++column;
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < chars.size() && chars[i + 1] == '\n') ++i;
            *text += "\r\n";
            ++line;
            column = 0;
            continue;
        }
        if (c == 0) {
            *problem = Position(line, column) + ": a NUL character; the installer would show only the text before it";
            if (!utf16) *problem += " (UTF-16 without a byte-order mark? save it as UTF-8)";
            return false;
        }
        int byte = cp1252 ? static_cast<int>(c) : Cp1252Byte(c);
        if (byte < 0) {
            *problem = Position(line, column) + ": " + DescribeCharacter(c) + " is not in code page 1252";
            return false;
        }
        *text += static_cast<char>(byte);
    }
    if (text->size() > kMaxLicenseLength) {
        *problem = "is " + std::to_string(text->size()) + " bytes long as stored; at most 65535 fit";
        return false;
    }
    return true;
}

std::string Cp1252Problem(const std::string& utf8) {
    std::u32string chars;
    std::size_t bad = 0;
    if (!DecodeUtf8(utf8, &chars, &bad)) return "not valid UTF-8 (byte " + std::to_string(bad + 1) + ")";
    for (std::size_t i = 0; i < chars.size(); ++i)
        if (Cp1252Byte(chars[i]) < 0)
            return "character " + std::to_string(i + 1) + ", " + DescribeCharacter(chars[i]) +
                   ", is not in code page 1252";
    return "";
}

std::string MediaExtensionField(const std::string& fileName, std::string* extension) {
    // The name after the folders, whichever separator the system takes.
    std::string name = fileName.substr(fileName.find_last_of(kPathSeparators) + 1);
    std::size_t dot = name.find_last_of('.');
    extension->clear();
    if (dot == std::string::npos || dot == 0) return "";
    std::string utf8 = name.substr(dot);
    std::u32string chars;
    std::size_t bad = 0;
    if (!DecodeUtf8(utf8, &chars, &bad)) return "the extension of the file's name is not valid UTF-8";
    std::string field;
    for (char32_t c : chars) {
        int byte = Cp1252Byte(c);
        if (byte < 0)
            return "the extension \"" + utf8 + "\" holds " + DescribeCharacter(c) +
                   ", which code page 1252 lacks; the installer could not name the file";
        if (byte >= 'a' && byte <= 'z') byte -= 'a' - 'A';
        field += static_cast<char>(byte);
    }
    std::string problem = ExtensionProblem(field);
    if (!problem.empty()) return problem;
    *extension = field;
    return "";
}
