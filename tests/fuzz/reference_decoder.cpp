#include "reference_decoder.h"

#include <algorithm>

#include "support/reference_model.h"

namespace {

constexpr int kWindow = 4096;     // ring window, positions masked with 0xFFF
constexpr int kLongest = 30;      // longest match; the window's kept tail
constexpr int kSymbols = 284;     // 256 literals, then lengths 3..30
constexpr unsigned kNodes = 567;  // 2 * kSymbols - 1; leaves have child >= kNodes
constexpr unsigned kRootNode = 566;
constexpr std::int32_t kChunk = 16384;
constexpr std::int32_t kPumpStep = 102400;

// The offset code, from its table of first-byte ranges.
void OffsetCode(unsigned first, int* upper, int* length) {
    struct Range { unsigned from; int upperFrom; int length; };
    static const Range kRanges[] = {
        {0xF0, 48, 8}, {0xC0, 24, 7}, {0x90, 12, 6}, {0x50, 4, 5}, {0x20, 1, 4}, {0x00, 0, 3},
    };
    for (const Range& r : kRanges) {
        if (first >= r.from) {
            *upper = r.upperFrom + static_cast<int>((first - r.from) >> (8 - r.length));
            *length = r.length;
            return;
        }
    }
}

struct Bits {
    const ReferenceDecodeInput* in;
    std::int32_t left;    // stored bytes still to consume
    std::size_t next = 0; // index of the next stored byte
    unsigned buffer = 0;  // 16 bits, valid ones at the top
    int count = 0;

    void Refill() {
        while (count <= 8) {
            unsigned byte = 0;
            if (left > 0) {
                --left;
                byte = next < in->streamBytes ? in->stream[next] : 0;
                ++next;
            }
            buffer = (buffer | byte << (8 - count)) & 0xFFFF;
            count += 8;
        }
    }
    int Bit() {
        Refill();
        int bit = (buffer >> 15) & 1;
        buffer = (buffer << 1) & 0xFFFF;
        --count;
        return bit;
    }
    unsigned Byte() {
        Refill();
        unsigned byte = buffer >> 8;
        buffer = (buffer << 8) & 0xFFFF;
        count -= 8;
        return byte;
    }
};

}  // namespace

std::vector<std::uint8_t> TailProbeStream() {
    // The code of symbol 283 in a fresh tree, then the offset.
    RefTree t;
    RefInit(t);
    std::vector<int> bits;
    for (char c : RefCode(t, kSymbols - 1)) bits.push_back(c == '1');
    // Offset 4095: upper six bits 63 (code 11111111), lower six 111111.
    for (int k = 0; k < 14; ++k) bits.push_back(1);
    std::vector<std::uint8_t> stream((bits.size() + 7) / 8, 0);
    for (std::size_t k = 0; k < bits.size(); ++k)
        if (bits[k]) stream[k / 8] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
    return stream;
}

void ReferenceDecode(const ReferenceDecodeInput& input, ReferenceDecodeResult* out) {
    ReferenceDecodeResult& result = *out;
    result.produced = 0;
    result.pumps = 0;
    // Every byte produced goes here first; cut to what reaches the target
    // at the end.
    std::vector<std::uint8_t>& produced = result.written;
    produced.clear();
    std::copy(input.windowTail, input.windowTail + kLongest, result.windowTail);
    if (input.unpackedSize <= 0) return;

    RefTree tree;
    RefInit(tree);
    std::uint8_t window[kWindow];
    std::fill(window, window + kWindow - kLongest, ' ');
    std::copy(input.windowTail, input.windowTail + kLongest, window + kWindow - kLongest);
    int r = kWindow - kLongest;
    Bits bits{&input, input.storedSize};
    std::int32_t pumpMark = 0;
    bool cancel = false;

    auto put = [&](std::uint8_t c) {
        produced.push_back(c);
        window[r] = c;
        r = (r + 1) & (kWindow - 1);
    };

    while (static_cast<std::int32_t>(produced.size()) < input.unpackedSize) {
        unsigned x = tree.child[kRootNode];
        while (x < kNodes) x = tree.child[x + static_cast<unsigned>(bits.Bit())];
        int symbol = static_cast<int>(x - kNodes);
        RefUpdate(tree, symbol);
        if (symbol < 256) {
            put(static_cast<std::uint8_t>(symbol));
        } else {
            unsigned first = bits.Byte();
            int upper = 0, length = 0;
            OffsetCode(first, &upper, &length);
            unsigned code = first;
            for (int k = 0; k < length - 2; ++k) code = (code << 1) + static_cast<unsigned>(bits.Bit());
            int offset = upper << 6 | static_cast<int>(code & 0x3F);
            int start = (r - offset - 1) & (kWindow - 1);
            for (int k = 0; k < symbol - 253; ++k) put(window[(start + k) & (kWindow - 1)]);
        }
        if (static_cast<std::int32_t>(produced.size()) > pumpMark) {
            ++result.pumps;
            if (result.pumps == input.cancelAtPump) cancel = true;
            if (cancel && !input.uninstaller) break;
            pumpMark += kPumpStep;
        }
    }

    // The result never exceeds the unpacked size, although a last match may
    // run past it; a stop after a Cancel keeps only the whole chunks.
    const std::int32_t count = static_cast<std::int32_t>(produced.size());
    result.produced = std::min(count, input.unpackedSize);
    std::int32_t written = count >= input.unpackedSize ? input.unpackedSize : count / kChunk * kChunk;
    produced.resize(static_cast<std::size_t>(written));
    for (int k = 0; k < kLongest; ++k) result.windowTail[k] = window[kWindow - kLongest + k];
}
