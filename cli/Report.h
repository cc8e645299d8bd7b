#pragma once

#include "PairCompare.h"
#include "ResultJson.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Standard output with every write checked: a result that could not be
// written must not end as a success.
class COut
{
public:
    void Put(std::string_view text);
    // Flushes; false if anything failed to reach the output.
    bool Finish();

private:
    bool m_bFailed = false;
};

class CReportPage;
class CCiFormats;

// The results in the form asked for: text (a count, a list, or a line per
// pair of folders) or one JSON document; with a page, the report for a
// browser as well.
class CReport
{
public:
    CReport(COut& out, bool json, const PairOptions& options) : m_out(out), m_bJson(json), m_options(options) {}

    // Whether the text tells each pair's regions.
    void ShowRegions(bool show) { m_bShowRegions = show; }

    // The browser report that gets every pair too, from `reportDir` (as it
    // was given, for the JSON).
    void SetPage(CReportPage* page, const std::string& reportDir)
    {
        m_pPage = page;
        m_reportDir = reportDir;
    }

    // The JUnit and Markdown writer that gets every pair too.
    void SetCi(CCiFormats* ci) { m_pCi = ci; }

    void Pair(const std::string& first, const std::string& second, const PairResult& result);

    // The share of a folder run and its listing, for the document's head.
    void SetShare(const RunShare& share) { m_share = share; }
    void BeginFolders(const std::string& expected, const std::string& actual);
    void FolderPair(const std::string& relative, const std::string& first, const std::string& second,
                    const PairResult& result);
    void EndFolders();

    int Same() const { return m_nSame; }
    int Passed() const { return m_nPassed; }  // counted pixels within the limits
    int Differing() const { return m_nDiffering; }
    int Troubled() const { return m_nTroubled; }
    // Why pictures of the report could not be written, pair by pair.
    const std::vector<std::string>& ReportFailures() const { return m_reportFailures; }

    // The folders' document before its pairs: the two folders, the rule and
    // where the report and the share of the pairs are.
    nlohmann::json Head(const std::string& expected, const std::string& actual) const;
    nlohmann::json Summary() const;

private:
    void PutPairJson(const std::string* relative, const std::string& first, const std::string& second,
                     const PairResult& result);
    nlohmann::json PairJson(const std::string* relative, const std::string& first, const std::string& second,
                            const PairResult& result) const;
    void PutList(const DiffList& list);
    void PutRegions(const PairResult& result, const char* indent);
    std::string CountText(const PairResult& result) const;
    void Count(const PairResult& result);

    COut& m_out;
    CCiFormats* m_pCi = nullptr;
    bool m_bJson;
    const PairOptions& m_options;
    int m_nSame = 0;
    int m_nPassed = 0;
    int m_nDiffering = 0;
    int m_nTroubled = 0;
    std::vector<std::string> m_reportFailures;
    bool m_bFirstPair = true;
    bool m_bShowRegions = false;
    RunShare m_share;
    CReportPage* m_pPage = nullptr;
    std::string m_reportDir;
};
