// Reads a folder run's document as --merge does. Every input must be refused
// with a message or read whole, never crash, hang or read outside it; what
// is read must come out again as it went in.

#include "ResultJson.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RunDocument document;
    std::string failure;
    if (!ParseRunDocument(text, "fuzz.json", document, failure)) {
        if (failure.empty())
            std::abort();
        return 0;
    }
    // Written again and read back, a pair is the same pair.
    for (const auto& pair : document.pairs) {
        const nlohmann::json once = PairJson(&pair->path, pair->first, pair->second, document.options, pair->result);
        RunDocument again;
        nlohmann::json head;
        AddRule(head, document.options);
        head["first"] = document.first;
        head["second"] = document.second;
        head["pairs"] = nlohmann::json::array({once});
        if (!ParseRunDocument(head.dump(), "again.json", again, failure) ||
            PairJson(&again.pairs[0]->path, again.pairs[0]->first, again.pairs[0]->second, again.options,
                     again.pairs[0]->result) != once)
            std::abort();
    }
    return 0;
}
