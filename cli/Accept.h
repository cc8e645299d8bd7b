#pragma once

#include "Report.h"

#include <string>

// Accepts the changes a run found: for each pair of the JSON `document` (a
// folder run's, or one pair's) that failed and whose relative path matches
// `pattern` (a glob: * and ? match any character, / too, and a backslash
// takes the next character as it stands; empty: every pair), the actual
// (second) file is copied over the expected (first) one, written beside it
// and renamed into place. A pair is refused when either file is no longer
// the one compared (the document records their sizes and CRC-32s; one whose
// expected file is already the actual one is said to be accepted already),
// when its path leaves the folders, or when the expected file leads out of
// its folder through a link. Every copy is said on `out`, every refusal in
// `refusals`. Returns the exit status: 0 when nothing was refused, 2
// otherwise; `failure` says why the document itself cannot be used.
int AcceptChanges(const std::string& document, const std::string& pattern, COut& out,
                  std::vector<std::string>& refusals, std::string& failure);

// Whether `text` matches the glob `pattern`.
bool GlobMatches(const std::string& pattern, const std::string& text);
