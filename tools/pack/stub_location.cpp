#include "stub_location.h"

#include <cerrno>
#include <cstring>

#include "tool_files.h"

std::string StubBesideProgram(const std::string& program) {
    std::string folder = program.substr(0, program.find_last_of(kPathSeparators) + 1);  // "" or ending in a separator
    std::string relative = kStubFromProgram;
    // The program's own path holds no symbolic links (the system resolves
    // it), so "bin/.." may be dropped as text.
    while (relative.compare(0, 3, "../") == 0) {
        const std::string parent = folder.substr(0, folder.find_last_not_of(kPathSeparators) + 1);
        const std::size_t up = parent.find_last_of(kPathSeparators);
        const std::string last = up == std::string::npos ? parent : parent.substr(up + 1);
        if (last.empty() || last == "." || last == "..") break;
        folder = up == std::string::npos ? "" : parent.substr(0, up + 1);
        relative.erase(0, 3);
    }
    return folder + relative;
}

std::string InstalledStub(std::string* problem) {
    std::string self = ProgramPath();
    if (self.empty()) {
        *problem = "the program's own path cannot be read: " + SystemProblem();
        return "";
    }
    std::string stub = StubBesideProgram(self);
    FileFacts facts;
    if (!LookAt(stub, true, &facts)) {
        *problem = stub + ": " + SystemProblem();
        return "";
    }
    if (facts.kind == FileKind::Missing) {
        *problem = stub + ": " + std::strerror(ENOENT);
        return "";
    }
    if (facts.kind != FileKind::Regular) {
        *problem = stub + ": not a regular file";
        return "";
    }
    return stub;
}
