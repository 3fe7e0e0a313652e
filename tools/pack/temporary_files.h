// Files that glimmer-pack writes under a temporary name and that must not
// outlive an interrupted run.
#pragma once

#include <string>
#include <vector>

// On SIGINT, SIGTERM and SIGHUP, removes every non-empty path in `paths` and
// exits with 128 + the signal. A signal that was ignored when the tool
// started (nohup, a background job) stays ignored. The vector must not grow
// while the handlers may run: reserve its room first.
void RemoveOnSignal(const std::vector<std::string>* paths);
