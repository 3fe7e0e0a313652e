// The parts of the 32-bit PE/COFF layout through which an installer finds
// its payload: e_lfanew at 60, a 4-byte signature, a 20-byte file header, a
// 224-byte optional header (a 32-bit image's; SizeOfOptionalHeader is not
// consulted), then 40-byte section headers; in the resource section,
// 16-byte directory headers followed by 8-byte entries, and 16-byte data
// entries. Shared by the installer's reader and glimmer-pack's stub check.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kLfanewOffset = 60;
inline constexpr std::uint32_t kDosHeaderSize = 64;
inline constexpr std::uint32_t kSignatureSize = 4;
inline constexpr std::uint32_t kFileHeaderSize = 20;
inline constexpr std::uint32_t kOptionalHeaderSize = 224;
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kResourceDirectorySize = 16;
inline constexpr std::uint32_t kResourceEntrySize = 8;
inline constexpr std::uint32_t kResourceDataEntrySize = 16;
// Set in a resource entry's offset when it names a subdirectory.
inline constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
