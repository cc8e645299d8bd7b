#include "Flags.h"

#include "Platform.h"
#include "Printable.h"
#include "Version.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using uchar = unsigned char;

constexpr int c_nExitEqual = 0;
constexpr int c_nExitTrouble = 2;

const char c_szUsage[] =
    "usage: tobrel-diff [options] FIRST SECOND          (BMP, PNG, JPEG, WebP, TIFF, GIF)\n"
    "       tobrel-diff [options] EXPECTED_DIR ACTUAL_DIR\n"
    "       tobrel-diff --merge [--json] [--report DIR] SHARD.json...\n";

const char c_szIntroduction[] =
    "Compares two images of the same size pixel by pixel, or every file below one\n"
    "folder with the file of the same relative path below the other. A pixel differs\n"
    "when any of its red, green and blue values differ by N or more; when either\n"
    "image has alpha, alpha is compared too (an image without it counts as opaque).\n"
    "\n"
    "Files are told apart by their first bytes: 24-bit uncompressed BMP, PNG with\n"
    "8 bits a sample of any colour type (greyscale, truecolour, palette, with alpha\n"
    "or transparency, interlaced or not), JPEG (baseline and progressive, colour\n"
    "or grey), WebP (lossy and lossless, with alpha), TIFF (the first page: 8-bit\n"
    "grey, RGB and RGBA, palette and bilevel, strips or tiles) and GIF (the first\n"
    "picture, its transparent colour as alpha), in any mix. Stored samples are\n"
    "compared as they are: gamma, colour profiles and rendering intents change\n"
    "nothing. 16-bit PNG and TIFF, floating-point TIFF, CMYK JPEG and animated\n"
    "WebP are refused.\n"
    "\n";

const char c_szClosing[] =
    "\n"
    "For one pair the output is the number of differing pixels (or the list). For\n"
    "folders it is one line per pair in path order: the relative path and \"same\",\n"
    "the count, or the trouble; then a summary line. Files are read, not trusted:\n"
    "a file of another kind, damaged or cut short is trouble, never a result.\n"
    "\n"
    "Exit status: 0 everything compared is equal (or within the limits), 1 something\n"
    "differs and nothing was in trouble, 2 trouble (bad usage, a file missing,\n"
    "unreadable, damaged, of another format or size, a result that could not be\n"
    "written). For one pair a trouble is one line on standard error naming the\n"
    "file and the reason; for folders it is the pair's line on standard output.\n";

// A whole number from `low` to `high`, the whole text of it: digits only,
// no sign, no space, no overflow.
bool ParseWhole(const char* text, long long low, long long high, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return std::isdigit(uchar(text[0])) && !*end && errno == 0 && value >= low && value <= high;
}

// A decimal number from 0 to 1, the whole text of it.
bool ParseFraction(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *text && !*end && (std::isdigit(uchar(text[0])) || text[0] == '.') && value >= 0 && value <= 1;
}

// Rectangles "x1:y1-x2:y2", corners included, apart by commas.
bool ParseAreas(const char* text, std::vector<PixelRect>& areas, std::string& bad)
{
    const std::string list = text;
    for (size_t start = 0;;) {
        const size_t comma = list.find(',', start);
        const std::string area = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long long v[4];
        bool ok = !area.empty();
        // Each number on its own: digits only, so no sign slips in.
        const char separators[4] = {':', '-', ':', '\0'};
        size_t at = 0;
        for (int k = 0; k < 4 && ok; ++k) {
            const size_t next = k < 3 ? area.find(separators[k], at) : area.size();
            ok = next != std::string::npos &&
                 ParseWhole(area.substr(at, next - at).c_str(), 0, INT32_MAX, v[k]);
            at = next + 1;
        }
        if (!ok || v[0] > v[2] || v[1] > v[3]) {
            bad = area;
            return false;
        }
        areas.push_back({int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(v[3])});
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::string SetTolerance(Options& o, const char* value)
{
    long long tolerance;
    if (!ParseWhole(value, 1, 255, tolerance))
        return "--tolerance takes a whole number from 1 to 255";
    o.pair.rule.tolerance = unsigned(tolerance);
    o.bTolerance = true;
    return {};
}

std::string SetThreshold(Options& o, const char* value)
{
    return ParseFraction(value, o.pair.rule.threshold) ? "" : "--threshold takes a decimal number from 0 to 1";
}

std::string SetIgnore(Options& o, const char* value)
{
    std::string bad;
    if (!ParseAreas(value, o.pair.rule.ignored, bad))
        return "--ignore: " + Printable(bad) + " is not an area x1:y1-x2:y2 (x1 <= x2, y1 <= y2)";
    return {};
}

std::string SetMaxRegions(Options& o, const char* value)
{
    long long kept;
    if (!ParseWhole(value, 0, 1000000, kept))
        return "--max-regions takes a whole number from 0 to 1000000";
    o.pair.maxRegions = size_t(kept);
    return {};
}

std::string SetMaxDiffPixels(Options& o, const char* value)
{
    long long limit;
    if (!ParseWhole(value, 0, INT64_MAX, limit))
        return "--max-diff-pixels takes a whole number, 0 or more";
    o.pair.maxDiffPixels = limit;
    return {};
}

std::string SetMaxDiffRatio(Options& o, const char* value)
{
    return ParseFraction(value, o.pair.maxDiffRatio) ? "" : "--max-diff-ratio takes a decimal number from 0 to 1";
}

std::string SetReport(Options& o, const char* value)
{
    if (!*value)
        return "--report takes the folder to write the report in";
    o.reportDir = value;
    return {};
}

std::string SetShard(Options& o, const char* value)
{
    const std::string text = value;
    const size_t slash = text.find('/');
    long long shard = 0, shards = 0;
    if (slash == std::string::npos || !ParseWhole(text.substr(slash + 1).c_str(), 1, 1000000, shards) ||
        !ParseWhole(text.substr(0, slash).c_str(), 1, shards, shard))
        return "--shard takes K/N, 1 <= K <= N";
    o.pair.shard = int(shard);
    o.pair.shards = int(shards);
    return {};
}

std::string SetDiffImage(Options& o, const char* value)
{
    if (!*value || std::string(value) == "-")
        return "--diff-image takes the name of the file (or folder) to write";
    o.pair.diffImage = value;
    return {};
}

// What --help says between the groups of options, before the option named.
struct Section
{
    const char* before;
    const char* text;
};

const Section c_sections[] = {
    {"--threshold", "\nFor screenshots:\n"},
    {"--report",
     "With these the difference image shows counted pixels red, anti-aliased ones\n"
     "yellow and ignored areas grey.\n"
     "\n"
     "For people and CI:\n"},
};

} // namespace

const std::vector<Flag>& Flags()
{
    static const std::vector<Flag> s_flags = {
        {"--tolerance", "N", "N from 1 to 255 (default 1)\n", false, SetTolerance},
        {"--list", "",
         "list every differing pixel, top row first, left to right:\n"
         "\"x=X, y=Y\" lines, or with --json a \"differences\" array\n",
         false, [](Options& o, const char*) { o.pair.bList = true; return std::string(); }},
        {"--diff-image", "OUT",
         "write the first image dimmed, every differing pixel pure\n"
         "red: PNG when OUT ends in .png, 24-bit BMP otherwise; for\n"
         "folders OUT is a folder that gets one under each differing\n"
         "pair's relative path\n",
         false, SetDiffImage},
        {"--json", "", "print one JSON document instead of text\n", true,
         [](Options& o, const char*) { o.bJson = true; return std::string(); }},
        {"--threshold", "T",
         "instead of --tolerance: a pixel differs when the distance\n"
         "of its colours in the YIQ space is above the fraction T\n"
         "(0 to 1; 0.1 is usual) of the largest; translucent pixels\n"
         "are blended first. Counts equal pixelmatch's\n",
         false, SetThreshold},
        {"--antialiasing", "",
         "leave out differing pixels that are anti-aliasing in\n"
         "either image, and count them apart (\"M anti-aliased\")\n",
         false, [](Options& o, const char*) { o.pair.rule.bAntialiasing = true; return std::string(); }},
        {"--ignore", "AREAS",
         "x1:y1-x2:y2[,x1:y1-x2:y2...], corners included: pixels in\n"
         "them are not compared (an area may reach past the image)\n",
         false, SetIgnore},
        {"--regions", "",
         "after the count, the regions of differing pixels that\n"
         "touch (sides or corners), largest first: \"region\n"
         "LEFT:TOP-RIGHT:BOTTOM N pixels\"; the JSON always has them\n",
         false, [](Options& o, const char*) { o.pair.bRegions = o.bShowRegions = true; return std::string(); }},
        {"--max-regions", "N", "the regions told, at most (default 100)\n", false, SetMaxRegions},
        {"--max-diff-pixels", "N",
         "a pair with no more differing pixels (or no larger a share\n"
         "R of its compared pixels) passes: \"within the limit\"\n",
         false, SetMaxDiffPixels},
        {"--max-diff-ratio", "R", nullptr, false, SetMaxDiffRatio},
        {"--diff-mask", "",
         "the difference image shows the marks alone, over\n"
         "transparent pixels in a PNG or black in a BMP\n",
         false, [](Options& o, const char*) { o.pair.bDiffMask = true; return std::string(); }},
        {"--report", "DIR",
         "write a report to open in a browser: DIR/index.html, with\n"
         "the pictures of every pair that differs\n",
         true, SetReport},
        {"--junit", "FILE",
         "also write the results as JUnit XML: a test case per pair,\n"
         "a failure for a pair over its limit, an error for trouble\n",
         true, [](Options& o, const char* value) {
             o.ci.junit = value;
             return std::string(*value ? "" : "--junit takes the name of the file to write");
         }},
        {"--markdown", "FILE",
         "also write a Markdown summary for a CI job's page: the\n"
         "counts, the failing pairs with their regions, the trouble\n",
         true, [](Options& o, const char* value) {
             o.ci.markdown = value;
             return std::string(*value ? "" : "--markdown takes the name of the file to write");
         }},
        {"--accept", "RESULT.json",
         "copy each failing pair's actual (second) file over its\n"
         "expected (first) one, as the --json results of a run name\n"
         "them, if neither changed since; nothing else\n",
         false, [](Options& o, const char* value) {
             o.accept = value;
             return std::string(*value ? "" : "--accept takes the JSON results of a run");
         }},
        {"--only", "PATTERN",
         "with --accept, only the pairs whose relative path matches\n"
         "PATTERN (* and ? match any character, / too)\n",
         false, [](Options& o, const char* value) {
             o.only = value;
             return std::string(*value ? "" : "--only takes a pattern");
         }},
        {"--shard", "K/N",
         "folders: compare only share K of N of the pairs (by a hash\n"
         "of their paths), so that N jobs compare every pair once\n",
         false, SetShard},
        {"--merge", "",
         "combine the --json results of the N shards of one run\n"
         "into one result (text, --json, --report), with the\n"
         "combined exit status\n",
         true, [](Options& o, const char*) { o.bMerge = true; return std::string(); }},
    };
    return s_flags;
}

const char* UsageText()
{
    return c_szUsage;
}

std::string HelpText()
{
    // Options and their help side by side from this column; a longer one
    // has its help on the lines below.
    constexpr size_t c_nColumn = 20;
    const auto entry = [](std::string head, const char* help) {
        std::string text = "  " + head;
        std::string indent(c_nColumn, ' ');
        if (text.size() + 2 > c_nColumn)
            text += "\n" + indent;
        else
            text += std::string(c_nColumn - text.size(), ' ');
        for (const char* line = help; *line;) {
            const char* end = std::strchr(line, '\n');
            text.append(line, size_t(end - line + 1));
            line = end + 1;
            if (*line)
                text += indent;
        }
        return text;
    };
    std::string text = std::string(c_szUsage) + c_szIntroduction;
    const std::vector<Flag>& flags = Flags();
    for (size_t i = 0; i < flags.size(); ++i) {
        const Flag& flag = flags[i];
        const std::string name = flag.name;
        for (const Section& section : c_sections) {
            if (name == section.before)
                text += section.text;
        }
        if (!flag.help)
            continue;
        std::string head = name + (*flag.value ? " " + std::string(flag.value) : "");
        // An option without help of its own shares the next one's.
        if (i + 1 < flags.size() && !flags[i + 1].help)
            head += ", " + std::string(flags[i + 1].name) + " " + flags[i + 1].value;
        if (name == "--merge")
            head += " SHARD.json...";
        text += entry(head, flag.help);
        if (name == "--json") {
            text += entry("--version", "print the version\n");
            text += entry("-h, --help", "show this text\n");
            text += entry("--", "the arguments after it are files, even if they begin with -\n");
        }
    }
    return text + c_szClosing;
}

namespace {

int UsageError(const std::string& what)
{
    WriteErrorLine("tobrel-diff: " + what);
    std::fputs(c_szUsage, stderr);
    return c_nExitTrouble;
}

int Print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? c_nExitEqual : c_nExitTrouble;
}

} // namespace

int ParseArguments(int argc, char** argv, Options& options)
{
    bool bOptions = true;
    bool bOthersThanMerge = false, bOthersThanAccept = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!bOptions || arg.size() < 2 || arg[0] != '-') {
            if (arg == "-")
                return UsageError("standard input cannot be compared: name a file (./- for a file called -)");
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            bOptions = false;
            continue;
        }
        if (arg == "--help" || arg == "-h")
            return Print(HelpText());
        if (arg == "--version")
            return Print("tobrel-diff " TOBREL_VERSION "\n");
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Flag* flag = nullptr;
        for (const Flag& candidate : Flags())
            flag = name == candidate.name ? &candidate : flag;
        if (!flag || (!*flag->value && equals != std::string::npos))
            return UsageError("unknown option " + Printable(arg));
        const char* value = "";
        if (*flag->value) {
            if (equals != std::string::npos) {
                value = argv[i] + equals + 1;
            } else if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                value = argv[++i];
            } else {
                // An option in its place is a value gone missing (say, an
                // empty variable in a CI script), not a name to write to.
                return UsageError(name + " takes " + flag->value + (i + 1 < argc ? " (write " + name + "=" +
                                  Printable(argv[i + 1]) + " for a name that begins with --)" : ""));
            }
        }
        if (const std::string error = flag->apply(options, value); !error.empty())
            return UsageError(error);
        bOthersThanMerge = bOthersThanMerge || !flag->bMerge;
        bOthersThanAccept = bOthersThanAccept || (name != "--accept" && name != "--only");
    }
    if (!options.only.empty() && options.accept.empty())
        return UsageError("--only chooses the pairs of --accept");
    if (!options.accept.empty()) {
        if (bOthersThanAccept || !options.files.empty())
            return UsageError("--accept takes only --only: the rest comes from the results");
        return -1;
    }
    if (options.bMerge) {
        if (bOthersThanMerge)
            return UsageError("--merge takes only --json, --report, --junit and --markdown: the rest comes from the shards");
        if (options.files.empty())
            return UsageError("--merge takes the shards' JSON documents");
        return -1;
    }
    if (options.files.size() != 2)
        return UsageError("give exactly two files or two folders");
    if (options.bTolerance && options.pair.rule.Perceptual())
        return UsageError("--tolerance and --threshold are two rules: give one");
    if (options.pair.bDiffMask && options.pair.diffImage.empty())
        return UsageError("--diff-mask needs --diff-image");
    // The JSON and the report always have the regions.
    options.pair.bRegions = options.pair.bRegions || options.bJson || !options.reportDir.empty();
    return -1;
}
