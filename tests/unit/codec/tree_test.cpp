// The adaptive Huffman model and the offset code: known codes of the fresh
// and the once-updated tree, the rebuild point, and agreement with the
// literal reference model over long random runs.
#include <gtest/gtest.h>

#include <random>

#include "codec_support.h"
#include "reference_model.h"

namespace {

std::string ByteBits(unsigned byte, int length = 8) {
    std::string bits;
    for (int bit = length - 1; bit >= 0; --bit) bits.push_back((byte >> bit) & 1 ? '1' : '0');
    return bits;
}

TEST(Tree, FreshTreeGivesNineBitCodesToTheFirst56Symbols) {
    LzhufTree tree;
    InitTree(&tree);
    for (int s = 0; s < kSymbolCount; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(CodeOf(tree, s).size(), s < 56 ? 9u : 8u);
    }
    EXPECT_EQ(tree.frequency[kRoot], kSymbolCount);
    EXPECT_EQ(tree.frequency[kNodeCount], 0xFFFF);
    EXPECT_EQ(CodeOf(tree, 0x4D), ByteBits(0x15));
}

TEST(Tree, OneUpdateMovesTheLiteralAndKeepsItsNeighbour) {
    LzhufTree tree;
    InitTree(&tree);
    UpdateTree(&tree, 0x4D);
    EXPECT_EQ(CodeOf(tree, 0x5A), ByteBits(0x22));
    EXPECT_EQ(CodeOf(tree, 0x4D), ByteBits(0xE3));
    EXPECT_EQ(tree.frequency[kRoot], kSymbolCount + 1);
}

TEST(Tree, ReferenceModelKnowsTheSameCodes) {
    // The reference is only worth comparing against if it is right itself.
    RefTree ref;
    RefInit(ref);
    EXPECT_EQ(RefCode(ref, 0x4D), ByteBits(0x15));
    EXPECT_EQ(RefCode(ref, 0), "111001000");
    RefUpdate(ref, 0x4D);
    EXPECT_EQ(RefCode(ref, 0x5A), ByteBits(0x22));
    EXPECT_EQ(RefCode(ref, 0x4D), ByteBits(0xE3));
}

// Frequencies in order, every internal node the sum of its two children,
// and parent links that agree with the child links.
void ExpectConsistent(const LzhufTree& t) {
    for (int n = 0; n < kNodeCount; ++n) {
        ASSERT_LE(t.frequency[n], t.frequency[n + 1]) << "node " << n;
        int c = t.child[n];
        if (c >= kNodeCount) {
            ASSERT_EQ(t.parent[c], n);
        } else {
            ASSERT_EQ(t.frequency[n], t.frequency[c] + t.frequency[c + 1]) << "node " << n;
            ASSERT_EQ(t.parent[c], n);
            ASSERT_EQ(t.parent[c + 1], n);
        }
    }
}

TEST(Tree, FirstRebuildComesInsideThe32485thUpdate) {
    LzhufTree tree;
    InitTree(&tree);
    std::mt19937 rng(1);
    for (int i = 0; i < 32484; ++i) UpdateTree(&tree, static_cast<int>(rng() % 40));
    EXPECT_EQ(tree.frequency[kRoot], 0x8000);
    unsigned leafTotal = 0;
    for (int n = 0; n < kNodeCount; ++n)
        if (tree.child[n] >= kNodeCount) leafTotal += (tree.frequency[n] + 1) / 2;

    UpdateTree(&tree, 7);
    // Halved leaves, then the symbol's own increment.
    EXPECT_EQ(tree.frequency[kRoot], leafTotal + 1);
    ExpectConsistent(tree);
}

TEST(Tree, RebuildHalvesEveryLeafRoundingUp) {
    LzhufTree tree;
    InitTree(&tree);
    for (int i = 0; i < 5000; ++i) UpdateTree(&tree, i % 3 == 0 ? 200 : i % 7);
    unsigned before[kSymbolCount];
    for (int n = 0; n < kNodeCount; ++n)
        if (tree.child[n] >= kNodeCount) before[tree.child[n] - kNodeCount] = tree.frequency[n];
    RebuildTree(&tree);
    ExpectConsistent(tree);
    for (int s = 0; s < kSymbolCount; ++s) EXPECT_EQ(tree.frequency[tree.parent[kNodeCount + s]], (before[s] + 1) / 2);
}

// The production update searches and swaps its own way; it must leave every
// array exactly as the literal steps do, through several rebuilds.
void ExpectSameAsReference(const std::vector<int>& symbols) {
    LzhufTree tree;
    InitTree(&tree);
    RefTree ref;
    RefInit(ref);
    int rebuilds = 0;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        if (tree.frequency[kRoot] == 0x8000) ++rebuilds;
        UpdateTree(&tree, symbols[i]);
        RefUpdate(ref, symbols[i]);
        if (i % 997 == 0 || i + 1 == symbols.size()) {
            for (int n = 0; n <= kNodeCount; ++n) ASSERT_EQ(tree.frequency[n], ref.frequency[n]) << "after " << i;
            for (int n = 0; n < kNodeCount; ++n) ASSERT_EQ(tree.child[n], ref.child[n]) << "after " << i;
            for (int n = 0; n < kNodeCount + kSymbolCount; ++n)
                ASSERT_EQ(tree.parent[n], ref.parent[n]) << "after " << i;
        }
    }
    EXPECT_GE(rebuilds, 3);
}

TEST(Tree, UpdatesMatchTheReferenceForSkewedAndUniformSymbols) {
    std::mt19937 rng(42);
    std::vector<int> skewed, uniform, phases;
    std::geometric_distribution<int> geometric(0.08);
    for (int i = 0; i < 120000; ++i) {
        skewed.push_back(std::min(geometric(rng), kSymbolCount - 1));
        uniform.push_back(static_cast<int>(rng() % kSymbolCount));
        // Long runs of one symbol, then a change of favourite.
        phases.push_back((i / 5000) * 37 % kSymbolCount);
    }
    ExpectSameAsReference(skewed);
    ExpectSameAsReference(uniform);
    ExpectSameAsReference(phases);
}

TEST(OffsetCode, TableFollowsTheRowsOfFirstByteRanges) {
    for (int first = 0; first < 256; ++first) {
        SCOPED_TRACE(first);
        int upper = kOffsetCode.upper[first];
        int length = kOffsetCode.length[first];
        // The code of `upper` is the first `length` bits of `first`.
        EXPECT_EQ(RefOffsetCode(upper), ByteBits(static_cast<unsigned>(first) >> (8 - length), length));
    }
    EXPECT_EQ(kOffsetCode.upper[0x1F], 0);
    EXPECT_EQ(kOffsetCode.length[0x1F], 3);
    EXPECT_EQ(kOffsetCode.upper[0x20], 1);
    EXPECT_EQ(kOffsetCode.upper[0x4F], 3);
    EXPECT_EQ(kOffsetCode.upper[0x50], 4);
    EXPECT_EQ(kOffsetCode.length[0x8F], 5);
    EXPECT_EQ(kOffsetCode.upper[0xBF], 23);
    EXPECT_EQ(kOffsetCode.upper[0xC0], 24);
    EXPECT_EQ(kOffsetCode.length[0xEF], 7);
    EXPECT_EQ(kOffsetCode.upper[0xF0], 48);
    EXPECT_EQ(kOffsetCode.upper[0xFF], 63);
    EXPECT_EQ(kOffsetCode.length[0xFF], 8);
}

}  // namespace
