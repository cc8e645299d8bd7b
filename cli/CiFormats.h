#pragma once

// The results for CI dashboards: JUnit XML (one test case per pair, a
// failure for a pair over its limit, an error for a pair in trouble) and
// Markdown for a job summary page (the counts, the failing pairs with their
// regions, the pairs in trouble, the report's place). Both are made from
// the pairs' JSON objects, so a run and a merge of its shards write the same.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct CiOutputs
{
    std::string junit;     // --junit FILE
    std::string markdown;  // --markdown FILE

    bool Any() const { return !junit.empty() || !markdown.empty(); }
};

class CCiFormats
{
public:
    explicit CCiFormats(const CiOutputs& outputs) : m_outputs(outputs) {}

    // A pair's object as the JSON output has it.
    void AddPair(const nlohmann::json& pair) { m_pairs.push_back(pair); }

    // Writes the files asked for, each whole or not at all; `head` names
    // the inputs and the rule, `summary` counts the pairs as the JSON does,
    // `reportDir` is the report's folder or empty. False, with `failure`
    // naming the file, when one could not be written.
    bool Write(const nlohmann::json& head, const nlohmann::json& summary, const std::string& reportDir,
               std::string& failure) const;

    std::string JUnit(const nlohmann::json& head, const nlohmann::json& summary) const;
    std::string Markdown(const nlohmann::json& head, const nlohmann::json& summary, const std::string& reportDir) const;

private:
    const CiOutputs& m_outputs;
    std::vector<nlohmann::json> m_pairs;
};

// Why `output` may not be written where it is asked for (it would replace
// or lie inside one of `inputs`), or empty.
std::string CheckCiOutput(const std::string& output, const std::vector<std::string>& inputs);
