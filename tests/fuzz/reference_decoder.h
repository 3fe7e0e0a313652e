// A slow, literal decoder of packed entries for differential fuzzing: a
// 16-bit bit buffer refilled a byte at a time, linear scans in the tree
// update and rebuild, a byte-at-a-time ring window. It shares no code with
// the decoder under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReferenceDecodeInput {
    const std::uint8_t* stream = nullptr;  // the bytes in the file from the entry's start
    std::size_t streamBytes = 0;           // bytes in the file; later ones read as zeros
    std::int32_t unpackedSize = 0;
    std::int32_t storedSize = 0;
    // Window positions 4066..4095 as a previous entry left them.
    std::uint8_t windowTail[30] = {};
    // The cancel flag is set during this UI pump (1-based); 0: never.
    int cancelAtPump = 0;
    bool uninstaller = false;               // a Cancel does not cut the entry short
};

struct ReferenceDecodeResult {
    std::int32_t produced = 0;           // DecodeStream's result
    int pumps = 0;                       // UI pumps run
    std::vector<std::uint8_t> written;   // what reaches the target
    std::uint8_t windowTail[30] = {};    // positions 4066..4095 afterwards
};

// Decodes into `result`, whose buffer is reused (a caller that keeps one
// result allocates only while its outputs grow).
void ReferenceDecode(const ReferenceDecodeInput& input, ReferenceDecodeResult* result);

// A stream whose first symbol is a match of 30 bytes at offset 4095: decoded
// with an unpacked size of 30 it gives back window positions 4066..4095 as
// the previous entry left them.
std::vector<std::uint8_t> TailProbeStream();
