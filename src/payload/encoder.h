// Encoder for the packed-entry coding that decoder.h reads. Used by
// glimmer-pack and the tests; never linked into the stub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class LzhufParse {
    Greedy,   // take the longest match at every position
    Lazy,     // hold a match back while the next position has a longer one
    Optimal,  // cheapest path in bits through each block (the default)
};

// Packs `size` bytes. The stream has no header; decoding it with the
// unpacked size `size` gives the input back byte for byte.
std::vector<std::uint8_t> LzhufEncode(const std::uint8_t* data, std::size_t size,
                                      LzhufParse parse = LzhufParse::Optimal);
