// glimmer-pack: joins a payload to the installer stub, and lists, extracts
// and verifies the packages it makes.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "platform/platform.h"
#include "tool_files.h"

#ifndef GLIMMER_PACK_VERSION
#define GLIMMER_PACK_VERSION "unknown"
#endif

namespace {

const char* const kHelp =
    "Usage: glimmer-pack COMMAND [OPTIONS]\n"
    "       glimmer-pack help [COMMAND]\n"
    "       glimmer-pack --version\n"
    "\n"
    "Builds and inspects self-installing screen-saver packages.\n"
    "\n"
    "Commands:\n"
    "  build    join a screen saver, its data, an uninstaller and media files to the stub\n"
    "  list     show a package's catalogue\n"
    "  extract  write every file of a package into a folder under its installed name\n"
    "  verify   check a package's catalogue and decode every packed file\n"
    "  sign     sign a package with Authenticode (through osslsigncode)\n"
    "  new      write a package file for a slideshow of a folder's pictures and music\n"
    "\n"
    "Every command takes -q (errors only) and -v (what is done to each file).\n"
    "'glimmer-pack help COMMAND' describes each command.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* help;
};

const Command kCommands[] = {
    {"build", RunBuild, kBuildHelp},
    {"list", RunList, kListHelp},
    {"extract", RunExtract, kExtractHelp},
    {"verify", RunVerify, kVerifyHelp},
    {"sign", RunSign, kSignHelp},
    {"new", RunNew, kNewHelp},
};

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = StartTool(argc, argv);
    g_platform = ToolPlatform();
    if (args.empty()) return UsageError("", "no command given");
    const std::string& first = args[0];
    if (first == "-h" || first == "--help") {
        std::cout << kHelp;
        return kExitOk;
    }
    if (first == "--version") {
        std::cout << "glimmer-pack " GLIMMER_PACK_VERSION "\n";
        return kExitOk;
    }
    if (first == "help") {
        if (args.size() == 1) {
            std::cout << kHelp;
            return kExitOk;
        }
        if (args.size() > 2) return UsageError("", "help takes one command name");
        const Command* command = FindCommand(args[1]);
        if (!command) return UsageError("", "no command '" + args[1] + "'");
        std::cout << command->help;
        return kExitOk;
    }
    const Command* command = FindCommand(first);
    if (!command) return UsageError("", "unknown command '" + first + "'");
    return command->run(std::vector<std::string>(args.begin() + 1, args.end()));
}
