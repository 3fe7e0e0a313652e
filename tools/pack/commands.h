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

// Help texts, printed on --help.
extern const char* const kBuildHelp;
extern const char* const kListHelp;
extern const char* const kExtractHelp;
extern const char* const kVerifyHelp;
extern const char* const kSignHelp;

// Splits "--name=value"; true when `arg` is `name` (value in the next
// argument, taken and `i` advanced) or "name=value". Sets *missing when the
// option needs a value and none follows.
bool TakeOption(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                std::string* value, bool* missing);

// True for "-h" and "--help".
bool IsHelp(const std::string& arg);
