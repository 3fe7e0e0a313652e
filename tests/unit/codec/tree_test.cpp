// The adaptive Huffman model and the offset code: known codes of the fresh
// and the once-updated tree, the rebuild, and agreement with the literal
// reference model over long random runs.
#include <gtest/gtest.h>

#include <random>

#include "codec_support.h"
#include "support/reference_model.h"

namespace {

std::string ByteBits(unsigned value, int length = 8) {
    std::string bits;
    for (int bit = length - 1; bit >= 0; --bit) bits.push_back((value >> bit) & 1 ? '1' : '0');
    return bits;
}

TEST(Tree, KnownCodesOfTheFreshAndTheOnceUpdatedTree) {
    LzhufTree tree;
    InitTree(&tree);
    for (int s = 0; s < kSymbolCount; ++s) EXPECT_EQ(CodeOf(tree, s).size(), s < 56 ? 9u : 8u) << s;
    EXPECT_EQ(CodeOf(tree, 0x4D), ByteBits(0x15));
    UpdateTree(&tree, 0x4D);
    EXPECT_EQ(CodeOf(tree, 0x5A), ByteBits(0x22));
    EXPECT_EQ(CodeOf(tree, 0x4D), ByteBits(0xE3));

    // The reference model, which the other tests trust, knows them too.
    RefTree ref;
    RefInit(ref);
    EXPECT_EQ(RefCode(ref, 0x4D), ByteBits(0x15));
    RefUpdate(ref, 0x4D);
    EXPECT_EQ(RefCode(ref, 0x5A), ByteBits(0x22));
    EXPECT_EQ(RefCode(ref, 0x4D), ByteBits(0xE3));
}

// Frequencies in order, every internal node the sum of its children, and
// parent links that agree with the child links.
void ExpectConsistent(const LzhufTree& t) {
    for (int n = 0; n < kNodeCount; ++n) {
        ASSERT_LE(t.frequency[n], t.frequency[n + 1]) << n;
        int c = t.child[n];
        ASSERT_EQ(t.parent[c], n);
        if (c < kNodeCount) {
            ASSERT_EQ(t.frequency[n], t.frequency[c] + t.frequency[c + 1]) << n;
            ASSERT_EQ(t.parent[c + 1], n);
        }
    }
}

TEST(Tree, TheFirstRebuildHalvesTheLeavesInsideThe32485thUpdate) {
    // The root starts at 284 and grows by one per symbol.
    LzhufTree tree;
    InitTree(&tree);
    std::mt19937 rng(1);
    for (int i = 0; i < 32484; ++i) UpdateTree(&tree, static_cast<int>(rng() % 40));
    EXPECT_EQ(tree.frequency[kRoot], 0x8000);
    unsigned halved[kSymbolCount], total = 0;
    for (int s = 0; s < kSymbolCount; ++s) {
        halved[s] = (tree.frequency[tree.parent[kNodeCount + s]] + 1u) / 2;
        total += halved[s];
    }
    UpdateTree(&tree, 7);
    ExpectConsistent(tree);
    EXPECT_EQ(tree.frequency[kRoot], total + 1);
    for (int s = 0; s < kSymbolCount; ++s)
        EXPECT_EQ(tree.frequency[tree.parent[kNodeCount + s]], halved[s] + (s == 7 ? 1u : 0u)) << s;
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
        rebuilds += tree.frequency[kRoot] == 0x8000;
        UpdateTree(&tree, symbols[i]);
        RefUpdate(ref, symbols[i]);
        if (i % 997 != 0 && i + 1 != symbols.size()) continue;
        for (int n = 0; n <= kNodeCount; ++n) ASSERT_EQ(tree.frequency[n], ref.frequency[n]) << i;
        for (int n = 0; n < kNodeCount; ++n) ASSERT_EQ(tree.child[n], ref.child[n]) << i;
        for (int n = 0; n < kNodeCount + kSymbolCount; ++n) ASSERT_EQ(tree.parent[n], ref.parent[n]) << i;
    }
    EXPECT_GE(rebuilds, 3);
}

TEST(Tree, UpdatesMatchTheReferenceForSkewedUniformAndShiftingSymbols) {
    std::mt19937 rng(42);
    std::geometric_distribution<int> geometric(0.08);
    std::vector<int> skewed, uniform, phases;
    for (int i = 0; i < 120000; ++i) {
        skewed.push_back(std::min(geometric(rng), kSymbolCount - 1));
        uniform.push_back(static_cast<int>(rng() % kSymbolCount));
        phases.push_back((i / 5000) * 37 % kSymbolCount);  // long runs, then a new favourite
    }
    ExpectSameAsReference(skewed);
    ExpectSameAsReference(uniform);
    ExpectSameAsReference(phases);
}

TEST(OffsetCode, EveryFirstByteBeginsTheCodeOfItsUpperBits) {
    for (int first = 0; first < 256; ++first) {
        int length = kOffsetCode.length[first];
        EXPECT_EQ(RefOffsetCode(kOffsetCode.upper[first]), ByteBits(static_cast<unsigned>(first) >> (8 - length), length))
            << first;
    }
}

}  // namespace
