// The checks the install sequence runs before it asks for confirmation:
// whether a screen saver of the installer's own name is already in the
// Windows folder, and whether the Windows folder's volume has room for the
// payload. Both return 1 to go on and 0 to stop; a failing system call counts
// as go on.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for any 64-bit count written with thousands separators
// (20 digits, 6 commas and the terminating zero).
inline constexpr int kGroupedSize = 32;

// Free kilobytes of a volume whose free space cannot be had. Larger than any
// need, so it never leads to a question.
inline constexpr std::uint64_t kFreeSpaceUnknown = ~std::uint64_t{0};

// Asks before replacing <Windows folder>\<installer file name>.SCR. The name
// comes from the installer's own file: its name without the text from its
// last '.' on (the whole name when it holds no '.'), then ".SCR". Asked only
// when `showPrompts` is 2; "No" stops.
int OverwriteCheck(std::int32_t showPrompts);

// Sums the payload's size once installed (each record's unpacked size, or
// its stored size for a stored entry, up to and including the terminator
// record) into *byteTotal, in 64 bits so that it never wraps. When the
// needed kilobytes are not below the free kilobytes of the Windows folder's
// volume, asks whether to go on anyway, whatever the show-prompts setting;
// "Cancel" stops. A payload that cannot be opened passes with a total of 0.
int SpaceCheck(std::uint64_t* byteTotal);

// Free kilobytes available to the caller on the volume of `path`, measured at
// `path` cut right after its last backslash (D:\WINDOWS is measured at D:\).
// kFreeSpaceUnknown when neither free-space call succeeds.
std::uint64_t FreeKilobytes(const char* path);

// Writes `value` in decimal with a ',' between groups of three digits,
// counted from the right (1234567 gives 1,234,567), into `out`, which holds
// kGroupedSize bytes. Returns `out`.
char* FormatThousands(std::uint64_t value, char* out);
