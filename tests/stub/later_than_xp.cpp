// A program that Windows XP cannot start, for the check of imports to refuse:
// it imports a Vista function of KERNEL32.DLL, a function of a library that
// XP lacks, and a C runtime function that XP's runtime lacks, and its build
// marks it for Vista's subsystem. Built for Windows 7's headers on purpose;
// never run.
#include <windows.h>
#include <dwmapi.h>

#include <cstdio>
#include <cstring>

int main() {
    BOOL composed = FALSE;
    DwmIsCompositionEnabled(&composed);
    char text[32];
    strcpy_s(text, sizeof text, "later");
    std::printf("%lu %d %s\n", static_cast<unsigned long>(GetTickCount64()), composed, text);
    return 0;
}
