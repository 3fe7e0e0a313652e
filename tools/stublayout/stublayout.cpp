// Post-link step of the installer stub: rearranges the linked image in place
// so that the payload anchor's data are its last needed bytes (see
// pe_layout.h). Usage: stublayout STUB.exe
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "pe_layout.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: stublayout STUB.exe\n");
        return 2;
    }
    const std::string path = argv[1];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "stublayout: %s: cannot open\n", path.c_str());
        return 1;
    }
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::string error;
    if (!MakeAnchorLast(file, "LASTRES", &error)) {
        std::fprintf(stderr, "stublayout: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    const std::string temporary = path + ".layout";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        if (!out) {
            std::fprintf(stderr, "stublayout: %s: cannot write\n", temporary.c_str());
            std::remove(temporary.c_str());
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "stublayout: %s: cannot replace\n", path.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
