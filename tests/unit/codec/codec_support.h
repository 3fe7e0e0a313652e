// Helpers shared by the codec tests: DecodeStream over byte strings through
// the recording fake, and deterministic test data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/decoder.h"
#include "encoder/encoder.h"

struct DecodeRun {
    std::string output;               // the target's contents afterwards
    std::int32_t produced = 0;        // DecodeStream's result
    int writeFailed = 0;
    int faults = 0;                   // the decode's own StreamFault bits
    std::vector<std::string> reads;   // "FileRead n" lines, in order
    std::vector<std::string> writes;  // "FileWrite n" lines, in order
};

// The decoder's pump in the codec tests: the fake platform's PumpMessages
// (which counts pumps and runs g_fake.onPump), then a stop once
// g_stopDecode is set.
extern int g_stopDecode;
extern const PumpControl kFakePump;

// Runs DecodeStream from a file holding `stream` into a fresh target, with
// the fake installed and kFakePump; the stored size defaults to the
// stream's length.
DecodeRun RunDecode(const std::string& stream, std::int32_t unpackedSize, std::int32_t storedSize = -1);

std::string Encode(const std::string& data, LzhufParse parse = LzhufParse::Optimal);
std::string RandomBytes(std::size_t size, std::uint32_t seed);
std::string SampleText(std::size_t size);
std::string ReadHostFile(const std::string& path);  // "" when unreadable
// The code of `symbol` in `tree`, '0'/'1' characters, root first.
std::string CodeOf(const LzhufTree& tree, int symbol);
