#include "plain_decoder.h"

namespace {

constexpr int kWindow = 4096;
constexpr int kLongest = 30;
constexpr int kSymbols = 284;                // 256 literals, lengths 3..30
constexpr int kNodes = 2 * kSymbols - 1;     // 567
constexpr int kRootNode = kNodes - 1;        // 566
constexpr unsigned kRebuildAt = 0x8000;

std::uint16_t freq[kNodes + 1];
std::uint16_t son[kNodes];
std::uint16_t prnt[kNodes + kSymbols];
std::uint8_t text[kWindow];

unsigned bitBuffer;  // 16 bits, valid ones at the top
unsigned bitCount;
std::int32_t inputLeft;

// Tops the bit buffer up to more than eight valid bits; past the stored
// bytes the stream goes on with zeros.
void Fill(std::FILE* in) {
    while (bitCount <= 8) {
        unsigned byte = 0;
        if (inputLeft > 0) {
            --inputLeft;
            int c = getc_unlocked(in);
            byte = c == EOF ? 0 : static_cast<unsigned>(c);
        }
        bitBuffer = (bitBuffer | byte << (8 - bitCount)) & 0xFFFF;
        bitCount += 8;
    }
}

unsigned Bit(std::FILE* in) {
    Fill(in);
    unsigned bit = bitBuffer >> 15;
    bitBuffer = (bitBuffer << 1) & 0xFFFF;
    --bitCount;
    return bit;
}

unsigned Byte(std::FILE* in) {
    Fill(in);
    unsigned byte = bitBuffer >> 8;
    bitBuffer = (bitBuffer << 8) & 0xFFFF;
    bitCount -= 8;
    return byte;
}

void StartTree() {
    for (int s = 0; s < kSymbols; ++s) {
        freq[s] = 1;
        son[s] = static_cast<std::uint16_t>(s + kNodes);
        prnt[s + kNodes] = static_cast<std::uint16_t>(s);
    }
    for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
        freq[j] = static_cast<std::uint16_t>(freq[i] + freq[i + 1]);
        son[j] = static_cast<std::uint16_t>(i);
        prnt[i] = prnt[i + 1] = static_cast<std::uint16_t>(j);
    }
    freq[kNodes] = 0xFFFF;
    prnt[kRootNode] = 0;
}

// Halves the leaves' counts and builds the internal nodes again.
void Rebuild() {
    int m = 0;
    for (int i = 0; i < kNodes; ++i) {
        if (son[i] >= kNodes) {
            freq[m] = static_cast<std::uint16_t>((freq[i] + 1) / 2);
            son[m] = son[i];
            ++m;
        }
    }
    for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
        unsigned f = static_cast<unsigned>(freq[i]) + freq[i + 1];
        freq[j] = static_cast<std::uint16_t>(f);
        int k = j - 1;
        while (f < freq[k]) --k;
        ++k;
        for (int x = j; x > k; --x) {
            freq[x] = freq[x - 1];
            son[x] = son[x - 1];
        }
        freq[k] = static_cast<std::uint16_t>(f);
        son[k] = static_cast<std::uint16_t>(i);
    }
    for (int i = 0; i < kNodes; ++i) {
        int k = son[i];
        prnt[k] = static_cast<std::uint16_t>(i);
        if (k < kNodes) prnt[k + 1] = static_cast<std::uint16_t>(i);
    }
}

void Update(int symbol) {
    if (freq[kRootNode] == kRebuildAt) Rebuild();
    int n = prnt[symbol + kNodes];
    do {
        unsigned k = ++freq[n];
        if (k > freq[n + 1]) {
            int l = n + 1;
            while (k > freq[l + 1]) ++l;
            freq[n] = freq[l];
            freq[l] = static_cast<std::uint16_t>(k);
            int i = son[n];
            prnt[i] = static_cast<std::uint16_t>(l);
            if (i < kNodes) prnt[i + 1] = static_cast<std::uint16_t>(l);
            int j = son[l];
            son[l] = static_cast<std::uint16_t>(i);
            prnt[j] = static_cast<std::uint16_t>(n);
            if (j < kNodes) prnt[j + 1] = static_cast<std::uint16_t>(n);
            son[n] = static_cast<std::uint16_t>(j);
            n = l;
        }
        n = prnt[n];
    } while (n != 0);
}

int Symbol(std::FILE* in) {
    unsigned c = son[kRootNode];
    while (c < static_cast<unsigned>(kNodes)) c = son[c + Bit(in)];
    int symbol = static_cast<int>(c) - kNodes;
    Update(symbol);
    return symbol;
}

// Upper six bits of an offset and the length of their code, by the first
// eight bits read.
unsigned char upperOf[256];
unsigned char lengthOf[256];

void StartOffsetTables() {
    static const int kRows[][3] = {{1, 3, 32}, {3, 4, 16}, {8, 5, 8}, {12, 6, 4}, {24, 7, 2}, {16, 8, 1}};
    int first = 0, upper = 0;
    for (const auto& row : kRows) {
        for (int v = 0; v < row[0]; ++v, ++upper) {
            for (int k = 0; k < row[2]; ++k, ++first) {
                upperOf[first] = static_cast<unsigned char>(upper);
                lengthOf[first] = static_cast<unsigned char>(row[1]);
            }
        }
    }
}

int Offset(std::FILE* in) {
    unsigned i = Byte(in);
    unsigned upper = upperOf[i];
    int extra = lengthOf[i] - 2;
    while (extra--) i = (i << 1) + Bit(in);
    return static_cast<int>(upper << 6 | (i & 0x3F));
}

}  // namespace

std::int32_t PlainDecode(std::FILE* in, std::FILE* out, std::int32_t unpackedSize, std::int32_t storedSize) {
    if (unpackedSize <= 0) return 0;
    StartOffsetTables();
    StartTree();
    bitBuffer = 0;
    bitCount = 0;
    inputLeft = storedSize;
    for (int i = 0; i < kWindow - kLongest; ++i) text[i] = ' ';
    int r = kWindow - kLongest;
    std::int32_t count = 0;
    while (count < unpackedSize) {
        int c = Symbol(in);
        if (c < 256) {
            putc_unlocked(c, out);
            text[r++] = static_cast<std::uint8_t>(c);
            r &= kWindow - 1;
            ++count;
        } else {
            int i = (r - Offset(in) - 1) & (kWindow - 1);
            int length = c - 253;
            for (int k = 0; k < length; ++k) {
                c = text[(i + k) & (kWindow - 1)];
                putc_unlocked(c, out);
                text[r++] = static_cast<std::uint8_t>(c);
                r &= kWindow - 1;
                ++count;
            }
        }
    }
    return count;
}
