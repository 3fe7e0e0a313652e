// Helpers shared by the codec tests: running DecodeStream over byte strings
// through the recording fake, and making test data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/decoder.h"
#include "payload/encoder.h"

// What one decode through the fake did.
struct DecodeRun {
    std::string output;        // the target's contents afterwards
    std::int32_t produced = 0;  // DecodeStream's result
    int writeFailed = 0;
    std::vector<std::string> reads;   // "FileRead n" lines, in order
    std::vector<std::string> writes;  // "FileWrite n" lines, in order
};

// Writes `stream` to a file, opens it and a target through g_platform (the
// fake must be installed) and runs DecodeStream with the given sizes.
DecodeRun RunDecode(const std::string& stream, std::int32_t unpackedSize, std::int32_t storedSize);
inline DecodeRun RunDecode(const std::string& stream, std::int32_t unpackedSize) {
    return RunDecode(stream, unpackedSize, static_cast<std::int32_t>(stream.size()));
}

std::string Encode(const std::string& data, LzhufParse parse = LzhufParse::Lazy);

// A stream written bit by bit: "0101 1" style strings, blanks ignored.
std::string BitsToBytes(const std::string& bits);

// Deterministic test data.
std::string RandomBytes(std::size_t size, std::uint32_t seed);
std::string SampleText(std::size_t size);
std::string ReadHostFile(const std::string& path);  // "" when unreadable

// The code of `symbol` in `tree` as a string of '0'/'1', root first.
std::string CodeOf(const LzhufTree& tree, int symbol);
