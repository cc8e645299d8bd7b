#pragma once

#include "PairCompare.h"

#include <string>

class CReport;

// Compares every file below `expected` with the file of the same relative
// path below `actual`, on every core, and reports the pairs in sorted path
// order as they complete. A file on one side only is a trouble of its own;
// no trouble stops the other pairs. With a difference image, `options`
// names the folder that receives one per differing pair, under the pair's
// relative path. Memory is bounded by the pairs in flight.
void CompareFolders(const std::string& expected, const std::string& actual, const PairOptions& options,
                    CReport& report);
