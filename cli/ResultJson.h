#pragma once

#include "PairCompare.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

// The JSON of results, written and read back by this one module: a pair's
// object, and a folder run's document (its head, its pairs, its summary).
// Whatever is read is checked field by field, type and range: a document
// from disk is input like a picture, and names nothing to be trusted as a
// path.

// The rule the pairs were judged by, and the limits they were held to, as
// members of `object`.
void AddRule(nlohmann::json& object, const PairOptions& options);

// A pair's object, without its list of differences (which the printer adds
// by hand: there can be millions); `relative` is the path below the folders.
nlohmann::json PairJson(const std::string* relative, const std::string& first, const std::string& second,
                        const PairOptions& options, const PairResult& result);

// What a folder run records of itself besides its rule: the share it
// compared and what the listing it split was.
struct RunShare
{
    int index = 0;  // 0: the run was not split
    int count = 0;
    std::string listing;  // a fingerprint of every relative path of both folders
};

// A folder run's document read back.
struct RunDocument
{
    struct Pair
    {
        std::string path;
        std::string first;
        std::string second;
        std::string images;  // as the document gives it: "pairs/NAME.js"
        PairResult result;
    };

    std::string first;  // the folders
    std::string second;
    PairOptions options;  // the rule and the limits
    RunShare share;
    std::string report;   // where its report was written, as given
    bool bList = false;   // the pairs carry their lists
    std::vector<std::unique_ptr<Pair>> pairs;
};

// Reads and checks the document in `file`: None, or false with `failure`
// naming the file and the field at fault (a document too large for the
// memory at hand, or not a folder run's, is refused as a whole). With
// `pairAlone` the object of one pair's run is taken too, as a document of
// that pair with an empty relative path.
bool ReadRunDocument(const std::string& file, RunDocument& document, std::string& failure, bool pairAlone = false);

// The same for a document's text; `name` stands for it in a failure.
bool ParseRunDocument(const std::string& text, const std::string& name, RunDocument& document, std::string& failure,
                      bool pairAlone = false);
