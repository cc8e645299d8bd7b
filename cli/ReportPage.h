#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// The name a pair's pictures have inside a report: "pairs/FILE".
std::string ReportPairImages(const std::string& path);

// A report for a browser in a folder of its own: index.html with its script
// and style beside it, the results in data.js, and in pairs/ the pictures
// of each pair that differs, loaded when the pair is opened. It works opened
// from disk and from any static web server; nothing comes from the network.
class CReportPage
{
public:
    // Makes the folder and its pairs/ folder, in place of an earlier report
    // of ours; the reason when it cannot (a folder of something else).
    std::string Begin(const std::string& dir);
    // Where the pictures of the index-th pair go.
    std::string PairImagesPath(size_t index) const;
    // A pair's JSON object; `images` is its pictures' script, copied in
    // when it lies in another report (a merged one). False, and the report
    // fails, when it could not be copied.
    bool AddPair(nlohmann::json pair, const std::string& images);
    // Writes the page and the data; false when a file could not be written.
    bool Finish(nlohmann::json head, const nlohmann::json& summary);

private:
    std::string m_dir;
    std::vector<nlohmann::json> m_pairs;
    bool m_bFailed = false;
};
