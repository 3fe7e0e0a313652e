#include "support/tool_run.h"

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "support/fake_platform.h"
#include "support/package_builder.h"

std::string ShellQuote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome RunShell(const std::string& folder, const std::string& command) {
    const std::string out = folder + "/stdout", err = folder + "/stderr";
    std::string line = "cd " + ShellQuote(folder) + " && " + command + " >" + ShellQuote(out) + " 2>" +
                       ShellQuote(err) + " </dev/null";
    Outcome o;
    int raw = std::system(line.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadBytesFile(out);
    o.err = ReadBytesFile(err);
    std::error_code error;
    std::filesystem::remove(out, error);
    std::filesystem::remove(err, error);
    return o;
}

Outcome RunGlimmerPack(const std::string& folder, const std::vector<std::string>& args, const std::string& prefix) {
    std::string command = prefix + ShellQuote(GLIMMER_BINARY_DIR "/bin/glimmer-pack");
    for (const std::string& a : args) command.append(" ").append(ShellQuote(a));
    return RunShell(folder, command);
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void ToolFolderTest::SetUp() { dir = MakeTempFolder(); }

void ToolFolderTest::TearDown() {
    std::error_code error;
    if (!dir.empty()) std::filesystem::remove_all(dir, error);
}

std::string ToolFolderTest::Put(const std::string& name, const std::string& bytes) {
    std::string path = dir + "/" + name;
    WriteBytesFile(bytes, path);
    return path;
}
