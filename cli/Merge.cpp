#include "Merge.h"

#include "FolderCompare.h"
#include "Printable.h"
#include "ReportPage.h"
#include "ResultJson.h"
#include "Utf8Path.h"

#include <algorithm>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

struct Shard
{
    std::string file;
    RunDocument document;
    fs::path report;  // where its report's pictures are; empty without one
};

// A shard's report folder: as it was given to the shard, or beside the
// document (a CI job's artifacts come down into another folder).
bool FindReport(Shard& shard, std::string& failure)
{
    std::string given = shard.document.report;
    while (given.size() > 1 && (given.back() == '/' || given.back() == '\\'))
        given.pop_back();
    if (given.empty())
        return true;
    std::error_code error;
    const fs::path beside = PathOf(shard.file).parent_path() / PathOf(given).filename();
    for (const fs::path& place : {PathOf(given), beside}) {
        if (fs::is_directory(place, error)) {
            shard.report = place;
            return true;
        }
    }
    const bool pictures = std::any_of(shard.document.pairs.begin(), shard.document.pairs.end(),
                                      [](const auto& pair) { return !pair->images.empty(); });
    if (!pictures)
        return true;
    failure = Printable(shard.file) + ": its report folder " + Printable(given) + " is not there, nor beside it";
    return false;
}

// Whether `images` names a picture script the way a report writes it: a
// plain file name below pairs/, nothing that climbs out or starts anew.
bool IsPictureName(const std::string& images)
{
    const std::string prefix = "pairs/", suffix = ".js";
    if (images.size() <= prefix.size() + suffix.size() || images.rfind(prefix, 0) != 0 ||
        images.compare(images.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string name = images.substr(prefix.size());
    return name.find_first_of("/\\:") == std::string::npos && name[0] != '.';
}

// Whether two jobs named the same folder, each its own way ("shots",
// "./shots/").
bool SameFolder(const std::string& a, const std::string& b)
{
    const auto normal = [](const std::string& folder) {
        fs::path path = PathOf(folder).lexically_normal();
        return path.has_filename() || path == path.root_path() ? path : path.parent_path();
    };
    return normal(a) == normal(b);
}

// One run split into N shares, each share once, each pair in its own share
// and only once, one rule, the same folders and listing.
bool CheckSplit(const std::vector<Shard>& shards, std::string& failure)
{
    const RunDocument& first = shards[0].document;
    nlohmann::json rule;
    AddRule(rule, first.options);
    std::set<int> seen;
    std::set<std::string> paths;
    for (const Shard& shard : shards) {
        const RunDocument& d = shard.document;
        const std::string name = Printable(shard.file) + ": ";
        if (d.share.index == 0) {
            failure = name + "not the JSON of a folder run with --shard";
            return false;
        }
        if (d.share.count != first.share.count || !seen.insert(d.share.index).second) {
            failure = name + "share " + std::to_string(d.share.index) + " of " + std::to_string(d.share.count) +
                      " does not fit a split into " + std::to_string(first.share.count);
            return false;
        }
        nlohmann::json other;
        AddRule(other, d.options);
        if (other != rule) {
            failure = name + "judged by another rule than " + Printable(shards[0].file);
            return false;
        }
        if (!SameFolder(d.first, first.first) || !SameFolder(d.second, first.second) ||
            d.share.listing != first.share.listing) {
            failure = name + "a run over other folders, or over other files, than " + Printable(shards[0].file);
            return false;
        }
        for (size_t i = 0; i < d.pairs.size(); ++i) {
            const std::string& path = d.pairs[i]->path;
            const std::string where = name + "pairs[" + std::to_string(i) + "] (" + Printable(path) + "): ";
            if (ShareOf(path, d.share.count) != d.share.index) {
                failure = where + "not a pair of share " + std::to_string(d.share.index);
                return false;
            }
            if (!paths.insert(path).second) {
                failure = where + "given twice";
                return false;
            }
            if (!d.pairs[i]->images.empty() && !IsPictureName(d.pairs[i]->images)) {
                failure = where + "images: not the name of a report's pictures";
                return false;
            }
        }
    }
    if (int(seen.size()) != first.share.count) {
        failure = std::to_string(first.share.count - int(seen.size())) + " of the " +
                  std::to_string(first.share.count) + " shares are missing";
        return false;
    }
    return true;
}

} // namespace

int MergeShards(const std::vector<std::string>& documents, bool json, const std::string& reportDir,
                const CiOutputs& ci, COut& out, std::string& failure)
{
    // Results for CI never replace a shard's document.
    for (const std::string* output : {&ci.junit, &ci.markdown}) {
        if (!output->empty() && !(failure = CheckCiOutput(*output, documents)).empty())
            return c_nExitTrouble;
    }
    std::vector<Shard> shards(documents.size());
    for (size_t i = 0; i < documents.size(); ++i) {
        shards[i].file = documents[i];
        if (!ReadRunDocument(documents[i], shards[i].document, failure))
            return c_nExitTrouble;
    }
    if (!CheckSplit(shards, failure))
        return c_nExitTrouble;
    for (Shard& shard : shards) {
        if (!reportDir.empty() && !FindReport(shard, failure))
            return c_nExitTrouble;
    }

    // Every pair in path order, whichever shard it came from.
    struct Entry
    {
        RunDocument::Pair* pair;
        const Shard* shard;
    };
    std::vector<Entry> entries;
    for (const Shard& shard : shards) {
        for (const auto& pair : shard.document.pairs)
            entries.push_back({pair.get(), &shard});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.pair->path < b.pair->path; });

    const RunDocument& head = shards[0].document;
    PairOptions options = head.options;
    options.bList = std::any_of(shards.begin(), shards.end(), [](const Shard& s) { return s.document.bList; });
    CReport report(out, json, options);
    RunShare share;
    share.listing = head.share.listing;
    report.SetShare(share);
    CReportPage page;
    if (!reportDir.empty()) {
        // A shard's report is where the pictures come from: not the place
        // to write over.
        for (const Shard& shard : shards) {
            if (!shard.report.empty() && Overlap(reportDir, Utf8(shard.report))) {
                failure = Printable(reportDir) + ": the report of " + Printable(shard.file) +
                          ", which the merged report reads: choose another folder";
                return c_nExitTrouble;
            }
        }
        if (const std::string trouble = page.Begin(reportDir); !trouble.empty()) {
            failure = Printable(reportDir) + ": " + trouble;
            return c_nExitTrouble;
        }
        report.SetPage(&page, reportDir);
    }
    CCiFormats formats(ci);
    if (ci.Any())
        report.SetCi(&formats);
    report.BeginFolders(head.first, head.second);
    for (const Entry& entry : entries) {
        PairResult& result = entry.pair->result;
        if (!entry.pair->images.empty() && !entry.shard->report.empty())
            result.reportImages = Utf8(entry.shard->report / PathOf(entry.pair->images));
        report.FolderPair(entry.pair->path, entry.pair->first, entry.pair->second, result);
    }
    report.EndFolders();
    if (!reportDir.empty() && !page.Finish(report.Head(head.first, head.second), report.Summary())) {
        failure = Printable(reportDir) + ": the report could not be written";
        return c_nExitTrouble;
    }
    if (ci.Any() && !formats.Write(report.Head(head.first, head.second), report.Summary(), reportDir, failure))
        return c_nExitTrouble;
    if (report.Troubled() > 0)
        return c_nExitTrouble;
    return report.Differing() > 0 ? c_nExitDifferent : c_nExitEqual;
}
