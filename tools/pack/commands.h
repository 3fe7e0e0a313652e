// glimmer-pack's commands. Each takes the arguments after the command's name
// and returns the process exit code (see cli.h).
#pragma once

#include <string>
#include <vector>

int RunBuild(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunSign(const std::vector<std::string>& args);
int RunNew(const std::vector<std::string>& args);

// Help texts, printed on --help and by "glimmer-pack help COMMAND".
extern const char* const kBuildHelp;
extern const char* const kListHelp;
extern const char* const kExtractHelp;
extern const char* const kVerifyHelp;
extern const char* const kSignHelp;
extern const char* const kNewHelp;
