// Running glimmer-pack (or any shell command) from a test, as a user would:
// its exit status and what it wrote to standard output and error.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct Outcome {
    int status = -1;  // the exit status; -1 when the program did not exit
    std::string out, err;
};

// `arg` quoted for the shell.
std::string ShellQuote(const std::string& arg);

// Runs `command` with /bin/sh in `folder`, standard input empty; its output
// goes through files in `folder`, removed afterwards.
Outcome RunShell(const std::string& folder, const std::string& command);

// Runs the built glimmer-pack with `args` in `folder`. `prefix`: shell text
// run first in the same shell (limits, environment).
Outcome RunGlimmerPack(const std::string& folder, const std::vector<std::string>& args,
                       const std::string& prefix = "");

// Arguments joined, for building command lines.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

// A test with a fresh folder of its own, removed afterwards, and a way to put
// files into it.
class ToolFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes `bytes` to `name` in the folder; returns its path.
    std::string Put(const std::string& name, const std::string& bytes);

    std::string dir;
};
