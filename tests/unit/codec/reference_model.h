// A slow, literal model of the coding, step by step as the coding defines
// it (linear scans, no shortcuts), kept apart from the production code. The
// tests build hand-made streams with it and check the fast tree code
// against it.
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
void RefRebuild(RefTree& t);
// The code of `symbol` as '0'/'1' characters, root first.
std::string RefCode(const RefTree& t, int symbol);
// The code of an offset's upper six bits as '0'/'1' characters, from the
// table of first-byte ranges.
std::string RefOffsetCode(int upper);

// Writes a stream symbol by symbol, keeping the model in step.
class StreamBuilder {
  public:
    StreamBuilder() { RefInit(tree_); }
    void Literal(std::uint8_t byte);
    void Literals(const std::string& bytes);
    // A match of `length` (3..30) bytes copied from offset + 1 bytes back.
    void Match(int length, int offset);
    std::string Bits() const { return bits_; }
    std::string Bytes() const;  // zero-padded to a whole byte
    const RefTree& Tree() const { return tree_; }

  private:
    void Symbol(int symbol);
    RefTree tree_;
    std::string bits_;
};
