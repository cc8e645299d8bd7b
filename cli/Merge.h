#pragma once

#include "CiFormats.h"
#include "Report.h"

#include <string>
#include <vector>

// Combines the JSON documents of the shards of one folder run (the same
// split, every share once, the same rule) into one result, printed as text
// or JSON like a folder run's and, with `reportDir`, one report with the
// shards' pictures, and with `ci` the JUnit and Markdown results. Returns
// the exit status; `failure` says why a set of documents cannot be merged.
int MergeShards(const std::vector<std::string>& documents, bool json, const std::string& reportDir,
                const CiOutputs& ci, COut& out, std::string& failure);
