// A plain decoder of the packed-entry coding, the yardstick of glimmer-bench:
// the coding decoded the straightforward way, as a small program of its kind
// does it. One bit at a time down the tree, the tree update with its linear
// search for the node to swap with, a 16-bit bit buffer topped up a byte at
// a time, every input byte taken and every output byte put through the C
// library's buffered streams. It shares no code with the installer's decoder.
#pragma once

#include <cstdint>
#include <cstdio>

// Decodes `unpackedSize` bytes from `in` (the stream, `storedSize` bytes) to
// `out`; returns the number of bytes put.
std::int32_t PlainDecode(std::FILE* in, std::FILE* out, std::int32_t unpackedSize, std::int32_t storedSize);
