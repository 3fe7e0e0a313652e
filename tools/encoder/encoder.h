// Encoder for the packed-entry coding that decoder.h reads. Used by
// glimmer-pack and the tests; never linked into the stub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class LzhufParse {
    Greedy,   // take the longest match at every position
    Lazy,     // hold a match back while the next position has a longer one
    Optimal,  // cheapest path in bits through each block (the default)
};

// Packs `size` bytes (below 2^31, as a file record's sizes are). The
// stream has no header; decoding it with the unpacked size `size` gives the
// input back byte for byte. Matches reach no further back than 4096 bytes
// and into nothing but the blanks of the fresh window and bytes already
// produced, so any decoder of the coding with a longest match of 30 reads
// the stream, whatever its window held before.
std::vector<std::uint8_t> LzhufEncode(const std::uint8_t* data, std::size_t size,
                                      LzhufParse parse = LzhufParse::Optimal);

// Fills `into` with the next bytes of the input, at most `most` of them, and
// returns how many; 0 means the input cannot be read.
using LzhufRead = std::function<std::size_t(std::uint8_t* into, std::size_t most)>;
// Takes the next bytes of the stream; false stops the packing.
using LzhufWrite = std::function<bool(const std::uint8_t* bytes, std::size_t size)>;

// Packs the `size` bytes that `read` supplies into the same stream as
// LzhufEncode, handing it to `write` in pieces as it is made. Holds no more
// than about 70 KiB of the input at a time. False when a read gave nothing
// before the end or a write failed; the stream handed on is then cut short.
bool LzhufEncodeStream(std::size_t size, LzhufParse parse, const LzhufRead& read, const LzhufWrite& write);
