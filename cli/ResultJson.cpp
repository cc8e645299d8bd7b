#include "ResultJson.h"

#include "InputFile.h"
#include "Platform.h"
#include "Printable.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

using json = nlohmann::json;

nlohmann::json RectJson(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return {{"left", left}, {"top", top}, {"right", right}, {"bottom", bottom}};
}

// A parsed document takes about this many times its text's size.
constexpr uint64_t c_nParsedPerByte = 24;
// Deeper than any document of ours nests.
constexpr int c_nMostDepth = 16;

struct TooDeep
{
};

// Reads the members of a document, each checked for its type and range; the
// first that fails says where it is, in `failure`.
class CFields
{
public:
    CFields(const std::string& name, std::string& failure) : m_name(name), m_failure(failure) {}

    bool Fail(const std::string& where, const std::string& what)
    {
        m_failure = Printable(m_name) + ": " + (where.empty() ? "" : Printable(where) + ": ") + what;
        return false;
    }

    // The member `key` of `object`; null (having failed unless `optional`)
    // when it is missing.
    const json* Member(const json& object, const char* key, const std::string& where, bool optional = false)
    {
        const auto it = object.find(key);
        if (it != object.end())
            return &*it;
        if (!optional)
            Fail(Join(where, key), "missing");
        return nullptr;
    }

    bool String(const json& object, const char* key, const std::string& where, std::string& out)
    {
        const json* value = Member(object, key, where);
        if (!value)
            return false;
        if (!value->is_string())
            return Fail(Join(where, key), "not a string");
        out = value->get<std::string>();
        return true;
    }

    bool Whole(const json& object, const char* key, const std::string& where, int64_t low, int64_t high, int64_t& out)
    {
        const json* value = Member(object, key, where);
        return value && Whole(*value, Join(where, key), low, high, out);
    }

    bool Whole(const json& value, const std::string& where, int64_t low, int64_t high, int64_t& out)
    {
        if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(high)))
            return Fail(where, "not a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        out = value.get<int64_t>();
        if (out < low || out > high)
            return Fail(where, "not a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        return true;
    }

    bool Fraction(const json& object, const char* key, const std::string& where, double& out)
    {
        const json* value = Member(object, key, where);
        if (!value)
            return false;
        if (!value->is_number() || !std::isfinite(value->get<double>()) || value->get<double>() < 0 ||
            value->get<double>() > 1)
            return Fail(Join(where, key), "not a number from 0 to 1");
        out = value->get<double>();
        return true;
    }

    bool Boolean(const json& object, const char* key, const std::string& where, bool& out)
    {
        const json* value = Member(object, key, where);
        if (!value)
            return false;
        if (!value->is_boolean())
            return Fail(Join(where, key), "not true or false");
        out = value->get<bool>();
        return true;
    }

    bool Array(const json& object, const char* key, const std::string& where, const json*& out)
    {
        out = Member(object, key, where);
        return out && (out->is_array() || Fail(Join(where, key), "not an array"));
    }

    // A rectangle inside a picture of `width` x `height` (any size when 0).
    bool Rect(const json& value, const std::string& where, int64_t width, int64_t height, PixelRect& rect)
    {
        if (!value.is_object())
            return Fail(where, "not an object");
        const int64_t most = std::numeric_limits<int32_t>::max();
        int64_t v[4];
        if (!Whole(value, "left", where, 0, width ? width - 1 : most, v[0]) ||
            !Whole(value, "top", where, 0, height ? height - 1 : most, v[1]) ||
            !Whole(value, "right", where, v[0], width ? width - 1 : most, v[2]) ||
            !Whole(value, "bottom", where, v[1], height ? height - 1 : most, v[3]))
            return false;
        rect = {int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(v[3])};
        return true;
    }

    static std::string Join(const std::string& where, const std::string& key)
    {
        return where.empty() ? key : where + "." + key;
    }

private:
    const std::string& m_name;
    std::string& m_failure;
};

// The rule and limits of a document's head, or of one of its pairs.
bool ReadRule(CFields& fields, const json& object, const std::string& where, PairOptions& options)
{
    PixelRule& rule = options.rule;
    if (object.contains("threshold")) {
        if (!fields.Fraction(object, "threshold", where, rule.threshold))
            return false;
    } else {
        int64_t tolerance;
        if (!fields.Whole(object, "tolerance", where, 1, 255, tolerance))
            return false;
        rule.tolerance = unsigned(tolerance);
    }
    const json* ignored;
    if (!fields.Boolean(object, "antialiasing", where, rule.bAntialiasing) ||
        !fields.Array(object, "ignored", where, ignored))
        return false;
    rule.ignored.clear();
    for (size_t i = 0; i < ignored->size(); ++i) {
        PixelRect rect;
        if (!fields.Rect((*ignored)[i], CFields::Join(where, "ignored[" + std::to_string(i) + "]"), 0, 0, rect))
            return false;
        rule.ignored.push_back(rect);
    }
    if (object.contains("max_diff_pixels") &&
        !fields.Whole(object, "max_diff_pixels", where, 0, std::numeric_limits<int64_t>::max(), options.maxDiffPixels))
        return false;
    return !object.contains("max_diff_ratio") || fields.Fraction(object, "max_diff_ratio", where, options.maxDiffRatio);
}

bool ReadPair(CFields& fields, const json& object, const std::string& where, const RunDocument& document,
              RunDocument::Pair& pair)
{
    if (!object.is_object())
        return fields.Fail(where, "not an object");
    if (!fields.String(object, "path", where, pair.path) || !fields.String(object, "first", where, pair.first) ||
        !fields.String(object, "second", where, pair.second))
        return false;
    PairResult& result = pair.result;
    if (const json* trouble = fields.Member(object, "trouble", where, true)) {
        const std::string at = CFields::Join(where, "trouble");
        int64_t code;
        if (!trouble->is_object())
            return fields.Fail(at, "not an object");
        if (!fields.Whole(*trouble, "code", at, 1, 999, code) || !fields.String(*trouble, "message", at, result.message))
            return false;
        result.trouble = TroubleOf(int(code));
        if (TroubleText(result.trouble).rfind("error ", 0) == 0)
            return fields.Fail(CFields::Join(at, "code"), "not a trouble this tool reports");
        return true;
    }
    int64_t width, height;
    if (!fields.Whole(object, "width", where, 1, 65535, width) || !fields.Whole(object, "height", where, 1, 65535, height))
        return false;
    result.width = int32_t(width);
    result.height = int32_t(height);
    PairOptions rule;
    if (!ReadRule(fields, object, where, rule))
        return false;
    json mine, theirs;
    AddRule(mine, rule);
    AddRule(theirs, document.options);
    if (mine != theirs)
        return fields.Fail(where, "judged by another rule than the document's");

    const int64_t pixels = width * height;
    DiffSummary& s = result.summary;
    if (!fields.Whole(object, "compared", where, 0, pixels, result.compared) ||
        !fields.Whole(object, "count", where, 0, result.compared, s.count) ||
        !fields.Whole(object, "antialiased", where, 0, result.compared - s.count, result.antialiased) ||
        !fields.Boolean(object, "passed", where, result.passed))
        return false;
    if (result.passed != Passes(document.options, s.count, result.compared))
        return fields.Fail(CFields::Join(where, "passed"), "does not follow from the count and the limits");

    const json* bounds = fields.Member(object, "bounds", where);
    if (!bounds)
        return false;
    if (s.count == 0 && !bounds->is_null())
        return fields.Fail(CFields::Join(where, "bounds"), "given for a pair without differences");
    if (s.count > 0) {
        PixelRect box;
        if (!fields.Rect(*bounds, CFields::Join(where, "bounds"), width, height, box))
            return false;
        s.left = box.left, s.top = box.top, s.right = box.right, s.bottom = box.bottom;
    }

    const json* regions;
    if (!fields.Array(object, "regions", where, regions) ||
        !fields.Whole(object, "regions_left_out", where, 0, s.count, result.regionsLeftOut))
        return false;
    for (size_t i = 0; i < regions->size(); ++i) {
        const std::string at = CFields::Join(where, "regions[" + std::to_string(i) + "]");
        PixelRect box;
        int64_t count;
        if (!fields.Rect((*regions)[i], at, width, height, box) || !fields.Whole((*regions)[i], "count", at, 1, s.count, count))
            return false;
        result.regions.push_back({box.left, box.top, box.right, box.bottom, count});
    }
    if (const json* files = fields.Member(object, "files", where, true)) {
        const std::string at = CFields::Join(where, "files");
        if (!files->is_object())
            return fields.Fail(at, "not an object");
        for (int i = 0; i < 2; ++i) {
            const char* side = i ? "second" : "first";
            const std::string in = CFields::Join(at, side);
            const json* file = fields.Member(*files, side, at);
            std::string crc;
            int64_t size;
            if (!file)
                return false;
            if (!file->is_object())
                return fields.Fail(in, "not an object");
            if (!fields.Whole(*file, "size", in, 0, std::numeric_limits<int64_t>::max(), size) ||
                !fields.String(*file, "crc32", in, crc))
                return false;
            if (crc.size() != 8 || crc.find_first_not_of("0123456789abcdef") != std::string::npos)
                return fields.Fail(CFields::Join(in, "crc32"), "not 8 hexadecimal digits");
            result.files[i] = {true, uint64_t(size), uint32_t(std::stoul(crc, nullptr, 16))};
        }
    }
    if (const json* which = fields.Member(object, "more_pictures", where, true)) {
        const std::string at = CFields::Join(where, "more_pictures");
        if (!which->is_array() || which->empty() || which->size() > 2)
            return fields.Fail(at, "not a list of \"first\" and \"second\"");
        for (const json& name : *which) {
            const bool first = name == "first";
            if (!first && name != "second")
                return fields.Fail(at, "not a list of \"first\" and \"second\"");
            result.morePictures[first ? 0 : 1] = true;
        }
    }
    if (object.contains("images") && !fields.String(object, "images", where, pair.images))
        return false;

    if (const json* list = fields.Member(object, "differences", where, true)) {
        if (!list->is_array() || int64_t(list->size()) != s.count)
            return fields.Fail(CFields::Join(where, "differences"), "not a list of the counted pixels");
        for (size_t i = 0; i < list->size(); ++i) {
            const json& p = (*list)[i];
            int64_t x, y;
            const std::string at = CFields::Join(where, "differences[" + std::to_string(i) + "]");
            if (!p.is_array() || p.size() != 2)
                return fields.Fail(at, "not a pair [x, y]");
            if (!fields.Whole(p[0], at, 0, width - 1, x) || !fields.Whole(p[1], at, 0, height - 1, y))
                return false;
            if (!result.list.Append({uint16_t(x), uint16_t(y)}))
                throw std::bad_alloc();
        }
    }
    return true;
}

} // namespace

void AddRule(nlohmann::json& object, const PairOptions& options)
{
    const PixelRule& rule = options.rule;
    if (rule.Perceptual())
        object["threshold"] = rule.threshold;
    else
        object["tolerance"] = rule.tolerance;
    object["antialiasing"] = rule.bAntialiasing;
    nlohmann::json ignored = nlohmann::json::array();
    for (const PixelRect& r : rule.ignored)
        ignored.push_back(RectJson(r.left, r.top, r.right, r.bottom));
    object["ignored"] = ignored;
    if (options.maxDiffPixels >= 0)
        object["max_diff_pixels"] = options.maxDiffPixels;
    if (options.maxDiffRatio >= 0)
        object["max_diff_ratio"] = options.maxDiffRatio;
}

nlohmann::json PairJson(const std::string* relative, const std::string& first, const std::string& second,
                        const PairOptions& options, const PairResult& result)
{
    nlohmann::json pair;
    if (relative)
        pair["path"] = *relative;
    pair["first"] = first;
    pair["second"] = second;
    if (result.trouble != Trouble::None) {
        pair["trouble"] = {{"code", TroubleCode(result.trouble)}, {"message", result.message}};
        return pair;
    }
    pair["width"] = result.width;
    pair["height"] = result.height;
    AddRule(pair, options);
    pair["count"] = result.summary.count;
    pair["antialiased"] = result.antialiased;
    pair["compared"] = result.compared;
    pair["passed"] = result.passed;
    const DiffSummary& s = result.summary;
    pair["bounds"] = s.count ? RectJson(s.left, s.top, s.right, s.bottom) : nlohmann::json(nullptr);
    nlohmann::json regions = nlohmann::json::array();
    for (const DiffRegion& r : result.regions) {
        nlohmann::json region = RectJson(r.left, r.top, r.right, r.bottom);
        region["count"] = r.count;
        regions.push_back(region);
    }
    pair["regions"] = regions;
    pair["regions_left_out"] = result.regionsLeftOut;
    if (result.files[0].bKnown && result.files[1].bKnown) {
        nlohmann::json files;
        for (int i = 0; i < 2; ++i) {
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", unsigned(result.files[i].crc));
            files[i ? "second" : "first"] = {{"size", result.files[i].size}, {"crc32", crc}};
        }
        pair["files"] = files;
    }
    if (result.morePictures[0] || result.morePictures[1]) {
        nlohmann::json which = nlohmann::json::array();
        for (int i = 0; i < 2; ++i) {
            if (result.morePictures[i])
                which.push_back(i ? "second" : "first");
        }
        pair["more_pictures"] = which;
    }
    return pair;
}

namespace {

// The text as JSON, no deeper than our documents nest.
bool ParseText(CFields& fields, const std::string& text, json& d)
{
    try {
        d = json::parse(text, [](int depth, json::parse_event_t, json&) {
            if (depth > c_nMostDepth)
                throw TooDeep();
            return true;
        }, false);
    } catch (const TooDeep&) {
        return fields.Fail("", "nested deeper than a document of results");
    }
    return !d.is_discarded() || fields.Fail("", "not JSON");
}

// One pair's object, as a run of two files writes it, as a document of
// that one pair with an empty relative path.
bool ParsePairDocument(CFields& fields, json& d, RunDocument& document)
{
    if (!d.is_object() || d.contains("path") || !fields.String(d, "first", "", document.first) ||
        !fields.String(d, "second", "", document.second) || !ReadRule(fields, d, "", document.options))
        return false;
    d["path"] = "";
    auto pair = std::make_unique<RunDocument::Pair>();
    if (!ReadPair(fields, d, "", document, *pair))
        return false;
    document.bList = d.contains("differences");
    document.pairs.push_back(std::move(pair));
    return true;
}

} // namespace

bool ParseRunDocument(const std::string& text, const std::string& name, RunDocument& document, std::string& failure,
                      bool pairAlone)
{
    CFields fields(name, failure);
    json d;
    if (!ParseText(fields, text, d))
        return false;
    if (pairAlone && d.is_object() && !d.contains("pairs"))
        return ParsePairDocument(fields, d, document);
    if (!d.is_object() || !d.contains("pairs"))
        return fields.Fail("", "not the JSON of a folder run");
    if (!fields.String(d, "first", "", document.first) || !fields.String(d, "second", "", document.second) ||
        !ReadRule(fields, d, "", document.options))
        return false;
    if (const json* share = fields.Member(d, "shard", "", true)) {
        int64_t index, count;
        if (!share->is_object())
            return fields.Fail("shard", "not an object");
        if (!fields.Whole(*share, "count", "shard", 1, 1000000, count) ||
            !fields.Whole(*share, "index", "shard", 1, count, index))
            return false;
        document.share.index = int(index);
        document.share.count = int(count);
    }
    if (d.contains("listing") && !fields.String(d, "listing", "", document.share.listing))
        return false;
    if (d.contains("report") && !fields.String(d, "report", "", document.report))
        return false;
    const json* pairs;
    if (!fields.Array(d, "pairs", "", pairs))
        return false;
    for (size_t i = 0; i < pairs->size(); ++i) {
        auto pair = std::make_unique<RunDocument::Pair>();
        const json& object = (*pairs)[i];
        if (!ReadPair(fields, object, "pairs[" + std::to_string(i) + "]", document, *pair))
            return false;
        document.bList = document.bList || object.contains("differences");
        document.pairs.push_back(std::move(pair));
    }
    return true;
}

bool ReadRunDocument(const std::string& file, RunDocument& document, std::string& failure, bool pairAlone)
{
    CInputFile input;
    if (!input.Open(file.c_str())) {
        failure = Printable(file) + ": " + TroubleText(Trouble::CannotRead);
        return false;
    }
    if (input.Size() > std::min<uint64_t>(AvailableMemory() / c_nParsedPerByte, std::numeric_limits<uint32_t>::max())) {
        failure = Printable(file) + ": too large to be read with the memory at hand";
        return false;
    }
    std::string text(size_t(input.Size()), '\0');
    if (!input.ReadAt(0, text.data(), text.size()) || !input.Unchanged()) {
        failure = Printable(file) + ": " + TroubleText(Trouble::CannotRead);
        return false;
    }
    return ParseRunDocument(text, file, document, failure, pairAlone);
}
