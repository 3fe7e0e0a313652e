// Runs every hostile package through the real glimmer-pack binary:
//
//   verify_hostile_corpus GLIMMER_PACK
//
// `glimmer-pack verify` must refuse each damaged case with exit status 1 and
// a message on stderr that names the package, and accept the sound package
// and the harmless oddities with exit status 0. Prints one line per failed
// check, the counts, and a closing "N passed, N failed"; exits 1 when a
// check failed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "hostile/hostile_corpus.h"
#include "support/fake_platform.h"

extern char** environ;

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

struct Outcome {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string err;
};

// Runs `program verify package` with stdout and stderr sent to files.
Outcome Verify(const std::string& program, const std::string& package, const std::string& folder) {
    const std::string out = folder + "/stdout.txt", err = folder + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string verb = "verify";
    char* argv[] = {const_cast<char*>(program.c_str()), verb.data(), const_cast<char*>(package.c_str()), nullptr};
    Outcome o;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) o.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    o.err = ReadBytesFile(err);
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: verify_hostile_corpus GLIMMER_PACK\n");
        return 2;
    }
    const std::string program = argv[1];
    const std::string folder = MakeTempFolder();

    const std::string sound = folder + "/sound.exe";
    WriteBytesFile(BuildPackageBytes(HostileBasePackage()), sound);
    Outcome o = Verify(program, sound, folder);
    Check(o.status == 0, "the sound package passes (status " + std::to_string(o.status) + ": " + o.err + ")");

    int refused = 0, accepted = 0;
    const std::vector<HostileCase> corpus = MakeHostileCorpus();
    for (const HostileCase& c : corpus) {
        const std::string package = folder + "/" + c.name + ".exe";
        WriteBytesFile(c.bytes, package);
        o = Verify(program, package, folder);
        if (c.verifyRefuses) {
            Check(o.status == 1, c.name + ": refused with status 1 (got " + std::to_string(o.status) + ")");
            Check(o.err.find("glimmer-pack: " + package + ": ") == 0 && o.err.size() > package.size() + 18,
                  c.name + ": a message naming the package on stderr (got '" + o.err + "')");
            refused += o.status == 1 ? 1 : 0;
        } else {
            Check(o.status == 0, c.name + ": accepted (status " + std::to_string(o.status) + ": " + o.err + ")");
            accepted += o.status == 0 ? 1 : 0;
        }
        std::filesystem::remove(package);
    }
    std::filesystem::remove_all(folder);
    std::printf("hostile cases through glimmer-pack verify: %zu; refused %d, accepted as harmless %d\n",
                corpus.size(), refused, accepted);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
