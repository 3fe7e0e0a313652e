// The C++ runtime pieces the screen saver uses, small: memory from the
// process heap, and the library's error paths (which would throw) ending the
// process quietly. Without them the static runtime brings its whole
// exception and name-demangling machinery along, several times the size of
// the screen saver itself. Running out of memory ends the screen saver as a
// key would; it never shows a fault.
#include <windows.h>

#include <bits/functexcept.h>
#include <cstddef>
#include <new>

namespace {

[[noreturn]] void OutOfLuck() {
    ExitProcess(3);
}

void* Allocate(std::size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void Free(void* p) {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = Allocate(size);
    if (!p) OutOfLuck();
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Free(p);
}
void operator delete[](void* p) noexcept {
    Free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Free(p);
}

namespace std {
void __throw_bad_alloc() {
    OutOfLuck();
}
void __throw_bad_array_new_length() {
    OutOfLuck();
}
void __throw_length_error(const char*) {
    OutOfLuck();
}
void __throw_logic_error(const char*) {
    OutOfLuck();
}
void __throw_out_of_range(const char*) {
    OutOfLuck();
}
void __throw_out_of_range_fmt(const char*, ...) {
    OutOfLuck();
}
void __throw_invalid_argument(const char*) {
    OutOfLuck();
}
}  // namespace std
