#include "install/text.h"

#include <cstring>

int FormatText(char* out, std::size_t size, const char* format, const char* first,
               const char* second, const char* third) {
    const char* args[3] = {first, second, third};
    int next = 0;
    std::size_t n = 0;
    int whole = 1;
    for (const char* p = format; *p; ++p) {
        const char* piece = p;
        std::size_t length = 1;
        if (p[0] == '%' && p[1] == 's') {
            piece = next < 3 && args[next] ? args[next] : "";
            length = std::strlen(piece);
            ++next;
            ++p;
        }
        std::size_t room = size - 1 - n;
        if (length > room) {
            length = room;
            whole = 0;
        }
        std::memcpy(out + n, piece, length);
        n += length;
    }
    out[n] = '\0';
    return whole;
}

int AppendText(char* out, std::size_t size, const char* text) {
    std::size_t have = std::strlen(out);
    std::size_t add = std::strlen(text);
    if (have + add >= size) return 0;
    std::memcpy(out + have, text, add + 1);
    return 1;
}
