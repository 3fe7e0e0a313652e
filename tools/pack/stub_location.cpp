#include "stub_location.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

std::string StubBesideProgram(const std::string& program) {
    std::string folder = program.substr(0, program.find_last_of('/') + 1);
    if (folder.empty()) folder = "./";
    // The program's own path holds no symbolic links (the kernel resolves
    // /proc/self/exe), so "bin/.." may be dropped as text.
    return std::filesystem::path(folder + "../" + kInstalledStub).lexically_normal().string();
}

std::string InstalledStub(std::string* problem) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof self - 1) {
        *problem = std::string("the program's own path cannot be read: ") + std::strerror(errno);
        return "";
    }
    self[length] = '\0';
    std::string stub = StubBesideProgram(self);
    struct stat st;
    if (stat(stub.c_str(), &st) != 0) {
        *problem = stub + ": " + std::strerror(errno);
        return "";
    }
    if (!S_ISREG(st.st_mode)) {
        *problem = stub + ": not a regular file";
        return "";
    }
    return stub;
}
