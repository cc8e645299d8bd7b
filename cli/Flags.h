#pragma once

#include "CiFormats.h"
#include "PairCompare.h"

#include <string>
#include <vector>

// What the command line asks for.
struct Options
{
    PairOptions pair;
    bool bJson = false;
    bool bShowRegions = false;
    bool bTolerance = false;  // --tolerance was given
    std::string reportDir;
    CiOutputs ci;             // --junit, --markdown
    bool bMerge = false;
    std::string accept;       // --accept RESULT.json
    std::string only;         // --only PATTERN
    std::vector<std::string> files;  // two files or folders, or the shards' documents
};

// One option: its name, the value it takes (empty for none), its lines in
// --help, whether --merge takes it, and what it does to the options; a
// non-empty answer from `apply` is a usage error.
struct Flag
{
    const char* name;
    const char* value;
    const char* help;
    bool bMerge;
    std::string (*apply)(Options& options, const char* value);
};

// Every option, in the order --help shows them.
const std::vector<Flag>& Flags();

// The usage lines and the text of --help, from the table.
const char* UsageText();
std::string HelpText();

// Reads the arguments into `options`: -1 to go on, or the exit status
// (help and version printed, or a usage error told on standard error).
int ParseArguments(int argc, char** argv, Options& options);
