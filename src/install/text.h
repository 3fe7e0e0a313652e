// Forming the texts the installer shows from fixed formats. Every text is
// built into a buffer of known size and never written past it; the buffers
// are sized for the longest case (a 259-character title, a 259-character
// folder, a full missing-types list), so nothing is cut in practice.
#pragma once

#include <cstddef>

// Copies `format` into `out` (`size` bytes, size > 0), replacing each "%s"
// with the next of the arguments (a missing argument counts as empty). The
// result always ends with a zero. Returns 1 when the whole text fit, 0 when
// it had to be cut.
int FormatText(char* out, std::size_t size, const char* format, const char* first = nullptr,
               const char* second = nullptr, const char* third = nullptr);

// Appends `text` to the zero-terminated text in `out` (`size` bytes).
// Returns 1 when it fit whole; otherwise leaves `out` unchanged and returns 0.
int AppendText(char* out, std::size_t size, const char* text);
