#include "codec_support.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fake_platform.h"

int g_stopDecode = 0;

namespace {
void FakePumpMessages(void*) { g_platform->PumpMessages(0); }
int StopWhenAsked(void*) { return g_stopDecode; }
}  // namespace

const PumpControl kFakePump{FakePumpMessages, StopWhenAsked, nullptr};

DecodeRun RunDecode(const std::string& stream, std::int32_t unpackedSize, std::int32_t storedSize) {
    DecodeRun run;
    g_fake.WriteFile("C:\\in.bin", stream);
    OsFile in = g_platform->FileOpenRead("C:\\in.bin");
    OsFile out = g_platform->FileCreate("C:\\out.bin");
    EXPECT_NE(in, kNoFile);
    EXPECT_NE(out, kNoFile);
    std::size_t first = g_fake.calls.size();
    if (storedSize < 0) storedSize = static_cast<std::int32_t>(stream.size());
    static DecoderState decoder;
    StreamResult result = DecodeStream(&decoder, in, out, unpackedSize, storedSize, &kFakePump);
    run.produced = result.produced;
    run.writeFailed = result.writeFailed;
    run.faults = result.faults;
    for (std::size_t i = first; i < g_fake.calls.size(); ++i) {
        const std::string& c = g_fake.calls[i];
        if (c.rfind("FileRead ", 0) == 0) run.reads.push_back(c);
        if (c.rfind("FileWrite ", 0) == 0) run.writes.push_back(c);
    }
    g_platform->FileClose(out);
    g_platform->FileClose(in);
    run.output = g_fake.ReadFile("C:\\out.bin");
    return run;
}

std::string Encode(const std::string& data, LzhufParse parse) {
    std::vector<std::uint8_t> packed =
        LzhufEncode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), parse);
    return std::string(packed.begin(), packed.end());
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

std::string SampleText(std::size_t size) {
    static const char* const kWords[] = {"salvaschermo", "installazione", "the", "window", "of", "Glimmer",
                                         "and", "a", "che", "file", "per", "media", "\r\n", ", ", "\xe8"};
    std::mt19937 rng(7);
    std::string out;
    while (out.size() < size) {
        out += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        out += ' ';
    }
    out.resize(size);
    return out;
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    return bytes.str();
}

std::string CodeOf(const LzhufTree& tree, int symbol) {
    std::string code;
    for (int n = tree.parent[kNodeCount + symbol]; n != kRoot; n = tree.parent[n])
        code.push_back(n == tree.child[tree.parent[n]] ? '0' : '1');
    std::reverse(code.begin(), code.end());
    return code;
}
