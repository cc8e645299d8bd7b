#pragma once

#include "PairCompare.h"

#include <string>
#include <vector>

class CReport;
class CReportPage;

// Which share of `shards` (1 to shards) a pair's relative path falls in: a
// hash of its bytes, the same on every machine, so that jobs that each take
// one share compare every pair exactly once.
int ShareOf(const std::string& relative, int shards);

// A fingerprint of a folder run's listing (the sorted relative paths of
// both folders): shards of one run have the same.
std::string ListingPrint(const std::vector<std::string>& paths);

// Compares every file below `expected` with the file of the same relative
// path below `actual`, on every core, and reports the pairs in sorted path
// order as they complete. A file on one side only is a trouble of its own;
// no trouble stops the other pairs. With a difference image, `options`
// names the folder that receives one per differing pair, under the pair's
// relative path. With `options.shards`, only the pairs of one share are
// compared; with a page, each differing pair's pictures go to it. Memory is
// bounded by the pairs in flight.
void CompareFolders(const std::string& expected, const std::string& actual, const PairOptions& options,
                    CReport& report, const CReportPage* page);
