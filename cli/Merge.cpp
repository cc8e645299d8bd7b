#include "Merge.h"

#include "Printable.h"
#include "ReportPage.h"
#include "Utf8Path.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

// What the pairs of every shard must have been judged by alike.
const char* const c_rule[] = {"tolerance", "threshold", "antialiasing", "ignored", "max_diff_pixels", "max_diff_ratio"};

struct Shard
{
    std::string file;
    nlohmann::json document;
    fs::path report;  // where its report's pictures are
};

bool Read(const std::string& file, Shard& shard, std::string& failure)
{
    std::ifstream in(PathOf(file), std::ios::binary);
    shard.file = file;
    shard.document = nlohmann::json::parse(in, nullptr, false);
    const nlohmann::json& d = shard.document;
    if (!in.is_open() || d.is_discarded() || !d.is_object() || !d.contains("pairs") || !d["pairs"].is_array() ||
        !d.contains("shard") || !d["shard"].is_object() || !d["shard"].value("index", nlohmann::json()).is_number_integer() ||
        !d["shard"].value("count", nlohmann::json()).is_number_integer()) {
        failure = Printable(file) + ": not the JSON of a folder run with --shard";
        return false;
    }
    if (d.contains("report") && d["report"].is_string()) {
        // As it was given to the shard, or beside the document.
        shard.report = PathOf(d["report"].get<std::string>());
        std::error_code error;
        if (!fs::is_directory(shard.report, error))
            shard.report = PathOf(file).parent_path() / shard.report.filename();
    }
    return true;
}

// The same split into N shares, each share once, one rule.
bool CheckSplit(const std::vector<Shard>& shards, std::string& failure)
{
    const nlohmann::json& first = shards[0].document;
    const int64_t count = first["shard"]["count"];
    std::set<int64_t> seen;
    for (const Shard& shard : shards) {
        const nlohmann::json& d = shard.document;
        const int64_t index = d["shard"]["index"];
        if (d["shard"]["count"] != count || index < 1 || index > count || !seen.insert(index).second) {
            failure = Printable(shard.file) + ": share " + std::to_string(index) + " of " +
                      d["shard"]["count"].dump() + " does not fit a split into " + std::to_string(count);
            return false;
        }
        for (const char* key : c_rule) {
            if (d.contains(key) != first.contains(key) || (d.contains(key) && d[key] != first[key])) {
                failure = Printable(shard.file) + ": judged by another rule than " + Printable(shards[0].file) +
                          " (" + key + ")";
                return false;
            }
        }
    }
    if (int64_t(seen.size()) != count) {
        failure = std::to_string(count - int64_t(seen.size())) + " of the " + std::to_string(count) +
                  " shares are missing";
        return false;
    }
    return true;
}

PairOptions OptionsOf(const nlohmann::json& d)
{
    PairOptions options;
    options.rule.tolerance = d.value("tolerance", 1u);
    options.rule.threshold = d.value("threshold", -1.0);
    options.rule.bAntialiasing = d.value("antialiasing", false);
    for (const auto& area : d.value("ignored", nlohmann::json::array()))
        options.rule.ignored.push_back({area.value("left", 0), area.value("top", 0), area.value("right", 0),
                                        area.value("bottom", 0)});
    options.maxDiffPixels = d.value("max_diff_pixels", int64_t(-1));
    options.maxDiffRatio = d.value("max_diff_ratio", -1.0);
    return options;
}

// A pair's result again, from its JSON object.
void ResultOf(const nlohmann::json& pair, const Shard& shard, PairResult& result)
{
    if (pair.contains("trouble")) {
        result.trouble = TroubleOf(pair["trouble"].value("code", 0));
        result.message = pair["trouble"].value("message", "");
        return;
    }
    result.width = pair.value("width", 0);
    result.height = pair.value("height", 0);
    result.summary.count = pair.value("count", int64_t(0));
    if (pair.contains("bounds") && pair["bounds"].is_object()) {
        const nlohmann::json& b = pair["bounds"];
        result.summary.left = b.value("left", -1);
        result.summary.top = b.value("top", -1);
        result.summary.right = b.value("right", -1);
        result.summary.bottom = b.value("bottom", -1);
    }
    result.antialiased = pair.value("antialiased", int64_t(0));
    result.compared = pair.value("compared", int64_t(0));
    result.passed = pair.value("passed", result.summary.count == 0);
    for (const auto& r : pair.value("regions", nlohmann::json::array()))
        result.regions.push_back({r.value("left", 0), r.value("top", 0), r.value("right", 0), r.value("bottom", 0),
                                  r.value("count", int64_t(0))});
    result.regionsLeftOut = pair.value("regions_left_out", int64_t(0));
    for (const auto& p : pair.value("differences", nlohmann::json::array()))
        result.list.Append({p[0].get<uint16_t>(), p[1].get<uint16_t>()});
    if (pair.contains("images") && !shard.report.empty())
        result.reportImages = Utf8(shard.report / PathOf(pair["images"].get<std::string>()));
}

} // namespace

int MergeShards(const std::vector<std::string>& documents, bool json, const std::string& reportDir, COut& out,
                std::string& failure)
{
    std::vector<Shard> shards(documents.size());
    for (size_t i = 0; i < documents.size(); ++i) {
        if (!Read(documents[i], shards[i], failure))
            return c_nExitTrouble;
    }
    if (!CheckSplit(shards, failure))
        return c_nExitTrouble;

    // Every pair in path order, whichever shard it came from.
    struct Entry
    {
        const nlohmann::json* pair;
        const Shard* shard;
    };
    std::vector<Entry> entries;
    for (const Shard& shard : shards) {
        for (const auto& pair : shard.document["pairs"])
            entries.push_back({&pair, &shard});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.pair->value("path", "") < b.pair->value("path", "");
    });

    const nlohmann::json& head = shards[0].document;
    PairOptions options = OptionsOf(head);
    options.bList = std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.pair->contains("differences"); });
    CReport report(out, json, options);
    CReportPage page;
    if (!reportDir.empty()) {
        if (!page.Begin(reportDir)) {
            failure = Printable(reportDir) + ": the report's folder could not be made";
            return c_nExitTrouble;
        }
        report.SetPage(&page, reportDir);
    }
    const std::string first = head.value("first", ""), second = head.value("second", "");
    report.BeginFolders(first, second);
    for (const Entry& entry : entries) {
        PairResult result;
        ResultOf(*entry.pair, *entry.shard, result);
        report.FolderPair(entry.pair->value("path", ""), entry.pair->value("first", ""),
                          entry.pair->value("second", ""), result);
    }
    report.EndFolders();
    if (!reportDir.empty() && !page.Finish(report.Head(first, second), report.Summary())) {
        failure = Printable(reportDir) + ": the report could not be written";
        return c_nExitTrouble;
    }
    if (report.Troubled() > 0)
        return c_nExitTrouble;
    return report.Differing() > 0 ? c_nExitDifferent : c_nExitEqual;
}
