// The installer stub that an installed glimmer-pack carries with it.
//
// Installed, glimmer-pack is PREFIX/bin/glimmer-pack and its stub
// PREFIX/share/glimmer-pack/stub.exe; on Windows glimmer-pack.exe and
// stub.exe lie in one folder. The stub is found from where the
// running program itself lies, so that a tree installed under any prefix,
// unpacked from the .deb anywhere or moved after installing, finds its own
// stub and never another installation's.
#pragma once

#include <string>

// The stub beside the program at `program` (a path to glimmer-pack itself):
// kStubFromProgram (tool_files.h) from the program's folder.
std::string StubBesideProgram(const std::string& program);

// The installed stub of the running program (found from the program's own path).
// Returns its path when it is a regular file; otherwise "" with the reason
// in *problem (the path looked at, or that the program's own path is
// unknown).
std::string InstalledStub(std::string* problem);
