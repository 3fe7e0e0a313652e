// Decoder of packed entries: LZSS with a 4096-byte window, a longest match of
// 30 bytes, literals and lengths coded by an adaptive Huffman code over 284
// symbols, offsets by a fixed prefix code for their upper six bits. A stream
// has no header: both sizes come from the file record.
//
// The decoder's state is global, exists once and is not re-entrant: one
// entry is decoded at a time. It lets the user interface run only through
// g_platform->PumpMessages, after the first symbol and then each time the
// output passes a further 102400 bytes, and stops early when g_cancel is set
// and g_uninstaller is clear.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Results of DecodeEntry.
enum DecodeResult : int {
    kDecodeNoInstaller = 0,     // the installer's own file name cannot be had
    kDecodeDone = 1,            // decoded (to the end, or cut short by Cancel)
    kDecodeInstallerUnreadable = -1,  // the installer file cannot be opened
    kDecodeTargetUnwritable = -2,     // the target cannot be created
    kDecodeWriteFailed = -3,          // a chunk could not be written whole
};

// Decodes one packed entry of `installerPath` (nullptr: this program's own
// file, from g_platform->GetModuleFileName) at the absolute `offset` into a
// newly created or truncated `targetPath`.
int DecodeEntry(const char* installerPath, std::uint32_t offset, std::uint32_t unpackedSize,
                std::uint32_t storedSize, const char* targetPath);

// Decodes from `in` (positioned at the stream) to `out`. Returns the number
// of bytes produced: the unpacked size, or less after a Cancel. Sets
// *writeFailed to 1 when a chunk could not be written whole (decoding stops
// there), else 0. Sizes are compared as signed 32-bit values.
std::int32_t DecodeStream(OsFile in, OsFile out, std::int32_t unpackedSize, std::int32_t storedSize,
                          int* writeFailed);
