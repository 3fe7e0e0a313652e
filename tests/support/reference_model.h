// A slow, literal model of the coding, step by step as the coding defines
// it (linear scans, no shortcuts), apart from the production code. Tests
// build hand-made streams with it and hold the fast tree code against it;
// the fuzzers' reference decoder runs its tree.
#pragma once

#include <cstdint>
#include <string>

struct RefTree {
    unsigned frequency[568];
    unsigned child[567];
    unsigned parent[851];
};

void RefInit(RefTree& t);
void RefUpdate(RefTree& t, int symbol);
std::string RefCode(const RefTree& t, int symbol);  // '0'/'1', root first
// The code of an offset's upper six bits, from the rows of first-byte ranges.
std::string RefOffsetCode(int upper);

// Writes a stream symbol by symbol, keeping the model in step.
class StreamBuilder {
  public:
    StreamBuilder() { RefInit(tree_); }
    void Literals(const std::string& bytes);
    void Match(int length, int offset);  // length 3..30, from offset + 1 bytes back
    std::size_t BitCount() const { return bits_.size(); }
    std::string Bytes() const;  // zero-padded to a whole byte

  private:
    RefTree tree_;
    std::string bits_;
};
