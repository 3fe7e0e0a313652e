// Texts an author hands to glimmer-pack, made into what the catalogue holds:
// the license text and media extensions in Windows code page 1252.
#pragma once

#include <string>

// The license file's bytes as the catalogue stores them: code page 1252 with
// CR LF line ends (the license dialog breaks lines only there).
//
// A UTF-8 byte-order mark is dropped; UTF-16 with a byte-order mark (either
// order) is converted; other text is UTF-8 when it is valid UTF-8, else taken
// as code page 1252 already. A lone CR and a lone LF become CR LF. Returns
// false with the reason in *problem (a character code page 1252 lacks or a
// NUL named with its line and column, or a text too long to store).
bool PrepareLicenseText(const std::string& raw, std::string* text, std::string* problem);

// The extension field for a media file named `fileName` (UTF-8, a path may
// lead it, its folders separated by any of kPathSeparators): from its last '.', dot included, in code page 1252, with ASCII
// letters upper-cased; "" when the name has none. Returns "" with the field
// in *extension, or why no field can be made (a character code page 1252
// lacks, or whatever ExtensionProblem finds).
std::string MediaExtensionField(const std::string& fileName, std::string* extension);

// Why UTF-8 text cannot become code page 1252 text: "not valid UTF-8", or
// the first character the code page lacks with its place ("character 3,
// U+0436 'ж', is not in code page 1252"); "" when it can.
std::string Cp1252Problem(const std::string& utf8);

// "U+03A9 'Ω'": a character for messages.
std::string DescribeCharacter(char32_t c);
