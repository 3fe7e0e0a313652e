#include "temporary_files.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

const std::vector<std::string>* g_removeOnSignal = nullptr;

void RemoveAndExit(int signal) {
    if (g_removeOnSignal)
        for (const std::string& path : *g_removeOnSignal)
            if (!path.empty()) unlink(path.c_str());
    std::_Exit(128 + signal);
}

}  // namespace

void RemoveOnSignal(const std::vector<std::string>* paths) {
    g_removeOnSignal = paths;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = RemoveAndExit;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}
