#include "support/reference_model.h"

#include <algorithm>

namespace {
constexpr unsigned kT = 567;  // nodes; leaves are marked by child >= kT
constexpr unsigned kR = 566;  // root
constexpr unsigned kN = 284;  // symbols

void RefRebuild(RefTree& t) {
    unsigned m = 0;
    for (unsigned i = 0; i < kT; ++i) {
        if (t.child[i] >= kT) {
            t.frequency[m] = (t.frequency[i] + 1) / 2;
            t.child[m++] = t.child[i];
        }
    }
    for (unsigned i = 0, j = kN; j < kT; i += 2, ++j) {
        unsigned f = t.frequency[i] + t.frequency[i + 1];
        t.frequency[j] = f;
        unsigned k = j - 1;
        while (f < t.frequency[k]) --k;
        ++k;
        for (unsigned x = j; x > k; --x) {
            t.frequency[x] = t.frequency[x - 1];
            t.child[x] = t.child[x - 1];
        }
        t.frequency[k] = f;
        t.child[k] = i;
    }
    for (unsigned n = 0; n < kT; ++n) {
        unsigned k = t.child[n];
        t.parent[k] = n;
        if (k < kT) t.parent[k + 1] = n;
    }
}
}  // namespace

void RefInit(RefTree& t) {
    for (unsigned s = 0; s < kN; ++s) {
        t.frequency[s] = 1;
        t.child[s] = kT + s;
        t.parent[kT + s] = s;
    }
    for (unsigned i = 0, j = kN; j < kT; i += 2, ++j) {
        t.frequency[j] = t.frequency[i] + t.frequency[i + 1];
        t.child[j] = i;
        t.parent[i] = t.parent[i + 1] = j;
    }
    t.frequency[kT] = 0xFFFF;
    t.parent[kR] = 0;
}

void RefUpdate(RefTree& t, int symbol) {
    if (t.frequency[kR] == 0x8000) RefRebuild(t);
    unsigned n = t.parent[kT + static_cast<unsigned>(symbol)];
    do {
        unsigned k = ++t.frequency[n];
        if (k > t.frequency[n + 1]) {
            unsigned l = n + 1;
            while (k > t.frequency[l + 1]) ++l;
            t.frequency[n] = t.frequency[l];
            t.frequency[l] = k;
            unsigned i = t.child[n];
            t.parent[i] = l;
            if (i < kT) t.parent[i + 1] = l;
            unsigned j = t.child[l];
            t.child[l] = i;
            t.parent[j] = n;
            if (j < kT) t.parent[j + 1] = n;
            t.child[n] = j;
            n = l;
        }
        n = t.parent[n];
    } while (n != 0);
}

std::string RefCode(const RefTree& t, int symbol) {
    std::string code;
    for (unsigned n = t.parent[kT + static_cast<unsigned>(symbol)]; n != kR; n = t.parent[n])
        code.push_back(n == t.child[t.parent[n]] ? '0' : '1');
    std::reverse(code.begin(), code.end());
    return code;
}

std::string RefOffsetCode(int upper) {
    // Upper values [from, to], code length, first byte of the row.
    static const int kRows[][4] = {{0, 0, 3, 0x00},   {1, 3, 4, 0x20},   {4, 11, 5, 0x50},
                                   {12, 23, 6, 0x90}, {24, 47, 7, 0xC0}, {48, 63, 8, 0xF0}};
    for (const auto& row : kRows) {
        if (upper < row[0] || upper > row[1]) continue;
        int firstByte = row[3] + ((upper - row[0]) << (8 - row[2]));
        std::string code;
        for (int bit = 7; bit >= 8 - row[2]; --bit) code.push_back((firstByte >> bit) & 1 ? '1' : '0');
        return code;
    }
    return "";
}

void StreamBuilder::Literals(const std::string& bytes) {
    for (char c : bytes) {
        bits_ += RefCode(tree_, static_cast<std::uint8_t>(c));
        RefUpdate(tree_, static_cast<std::uint8_t>(c));
    }
}

void StreamBuilder::Match(int length, int offset) {
    bits_ += RefCode(tree_, 253 + length);
    RefUpdate(tree_, 253 + length);
    bits_ += RefOffsetCode(offset >> 6);
    for (int bit = 5; bit >= 0; --bit) bits_.push_back((offset >> bit) & 1 ? '1' : '0');
}

std::string StreamBuilder::Bytes() const {
    std::string out((bits_.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < bits_.size(); ++i)
        if (bits_[i] == '1') out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
    return out;
}
