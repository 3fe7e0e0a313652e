// Property checks inside the fuzz targets. A failed check prints what was
// expected and aborts, which libFuzzer reports as a crash and saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n    (%s)\n", file, line, what, condition);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, what) \
    ((condition) ? static_cast<void>(0) : FuzzCheckFailed(#condition, (what), __FILE__, __LINE__))
