// glimmer-pack: joins a payload to the installer stub, and lists, extracts
// and verifies the packages it makes.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "platform/platform.h"

namespace {

const char* const kHelp =
    "Usage: glimmer-pack COMMAND [OPTIONS]\n"
    "\n"
    "Builds and inspects self-installing screen-saver packages.\n"
    "\n"
    "Commands:\n"
    "  build    join a screen saver, its data, an uninstaller and media files to the stub\n"
    "  list     show a package's catalogue\n"
    "  extract  write every file of a package into a folder under its installed name\n"
    "  verify   check a package's catalogue and decode every packed file\n"
    "  sign     sign a package with Authenticode (through osslsigncode)\n"
    "\n"
    "'glimmer-pack COMMAND --help' describes each command.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

}  // namespace

bool IsHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

bool TakeOption(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                std::string* value, bool* missing) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            *missing = true;
            return true;
        }
        *value = args[++i];
        return true;
    }
    if (name.size() > 2 && arg.compare(0, name.size() + 1, name + "=") == 0) {
        *value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

int main(int argc, char** argv) {
    g_platform = &kPosixPlatform;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given");
    if (IsHelp(args[0])) {
        std::cout << kHelp;
        return kExitOk;
    }
    std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    struct Command {
        const char* name;
        int (*run)(const std::vector<std::string>&);
        const char* help;
    };
    const Command commands[] = {
        {"build", RunBuild, kBuildHelp},
        {"list", RunList, kListHelp},
        {"extract", RunExtract, kExtractHelp},
        {"verify", RunVerify, kVerifyHelp},
        {"sign", RunSign, kSignHelp},
    };
    for (const Command& c : commands) {
        if (command != c.name) continue;
        for (const std::string& arg : rest) {
            if (arg == "--") break;
            if (IsHelp(arg)) {
                std::cout << c.help;
                return kExitOk;
            }
        }
        return c.run(rest);
    }
    return UsageError("unknown command '" + command + "'");
}
