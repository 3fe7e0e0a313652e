// A corpus of hostile installer packages: every way in which a file that
// anyone can make may be wrong. Each case is a whole installer file (the
// test stub, a catalogue and the entries' data, then damaged), with what the
// installer and `glimmer-pack verify` must make of it.
//
// Used by the in-process check (the real install sequence over the
// recording fake), by the check that runs every case through the real
// glimmer-pack binary, and by make_hostile_corpus, which writes the files.
#pragma once

#include <string>
#include <vector>

#include "support/package_builder.h"

// What the installer does with a case.
enum class StubVerdict {
    Damaged,    // refuses it with the damaged-package message
    BadName,    // refuses it: its title or a media extension cannot name a file
    TooLong,    // refuses it: a target path would not fit 259 characters
    Installs,   // odd but harmless: installs, only inside its two places
};

struct HostileCase {
    std::string name;    // unique, usable as a file name
    std::string group;   // the kind of damage, for the counts
    std::string bytes;   // the whole installer file
    StubVerdict stub;
    bool verifyRefuses;  // glimmer-pack verify exits 1 with a message
};

// The sound package that most cases damage: a license, numbering base 14,
// five files (screen saver, data file, uninstaller and two media files),
// stored and packed entries.
TestPackage HostileBasePackage();

// Every case, in a fixed order; the same bytes on every call. Built on
// `stub`: the test stub, or a real stub.exe for runs of the real program.
std::vector<HostileCase> MakeHostileCorpus(const std::string& stub = MakeTestStub());

// "Damaged", "BadName", ... for messages.
const char* VerdictName(StubVerdict verdict);
