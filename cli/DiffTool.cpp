#include "DiffTool.h"

#include "FolderCompare.h"
#include "Merge.h"
#include "PairCompare.h"
#include "Platform.h"
#include "Printable.h"
#include "Report.h"
#include "ReportPage.h"
#include "Utf8Path.h"
#include "Version.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using uchar = unsigned char;

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

const char c_szVersion[] = "tobrel-diff " TOBREL_VERSION "\n";

const char c_szUsage[] =
    "usage: tobrel-diff [options] FIRST SECOND          (BMP or PNG files)\n"
    "       tobrel-diff [options] EXPECTED_DIR ACTUAL_DIR\n"
    "       tobrel-diff --merge [--json] [--report DIR] SHARD.json...\n";

const char c_szHelp[] =
    "Compares two images of the same size pixel by pixel, or every file below one\n"
    "folder with the file of the same relative path below the other. A pixel differs\n"
    "when any of its red, green and blue values differ by N or more; when either\n"
    "image has alpha, alpha is compared too (an image without it counts as opaque).\n"
    "\n"
    "Files are told apart by their first bytes: 24-bit uncompressed BMP, and PNG\n"
    "with 8 bits a sample of any colour type (greyscale, truecolour, palette, with\n"
    "alpha or transparency, interlaced or not), in any mix. Stored samples are\n"
    "compared as they are: gamma, colour profiles and rendering intents change\n"
    "nothing. 16-bit PNGs are refused.\n"
    "\n"
    "  --tolerance N     N from 1 to 255 (default 1)\n"
    "  --list            list every differing pixel, top row first, left to right:\n"
    "                    \"x=X, y=Y\" lines, or with --json a \"differences\" array\n"
    "  --diff-image OUT  write the first image dimmed, every differing pixel pure\n"
    "                    red: PNG when OUT ends in .png, 24-bit BMP otherwise; for\n"
    "                    folders OUT is a folder that gets one under each differing\n"
    "                    pair's relative path\n"
    "  --json            print one JSON document instead of text\n"
    "  --version         print the version\n"
    "  -h, --help        show this text\n"
    "  --                the arguments after it are files, even if they begin with -\n"
    "\n"
    "For screenshots:\n"
    "  --threshold T     instead of --tolerance: a pixel differs when the distance\n"
    "                    of its colours in the YIQ space is above the fraction T\n"
    "                    (0 to 1; 0.1 is usual) of the largest; translucent pixels\n"
    "                    are blended first. Counts equal pixelmatch's\n"
    "  --antialiasing    leave out differing pixels that are anti-aliasing in\n"
    "                    either image, and count them apart (\"M anti-aliased\")\n"
    "  --ignore AREAS    x1:y1-x2:y2[,x1:y1-x2:y2...], corners included: pixels in\n"
    "                    them are not compared (an area may reach past the image)\n"
    "  --regions         after the count, the regions of differing pixels that\n"
    "                    touch (sides or corners), largest first: \"region\n"
    "                    LEFT:TOP-RIGHT:BOTTOM N pixels\"; the JSON always has them\n"
    "  --max-regions N   the regions told, at most (default 100)\n"
    "  --max-diff-pixels N, --max-diff-ratio R\n"
    "                    a pair with no more differing pixels (or no larger a share\n"
    "                    R of its compared pixels) passes: \"within the limit\"\n"
    "  --diff-mask       the difference image shows the marks alone, over\n"
    "                    transparent pixels in a PNG or black in a BMP\n"
    "With these the difference image shows counted pixels red, anti-aliased ones\n"
    "yellow and ignored areas grey.\n"
    "\n"
    "For people and CI:\n"
    "  --report DIR      write a report to open in a browser: DIR/index.html, with\n"
    "                    the pictures of every pair that differs\n"
    "  --shard K/N       folders: compare only share K of N of the pairs (by a hash\n"
    "                    of their paths), so that N jobs compare every pair once\n"
    "  --merge SHARD.json...\n"
    "                    combine the --json results of the N shards of one run\n"
    "                    into one result (text, --json, --report), with the\n"
    "                    combined exit status\n"
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

struct Options
{
    PairOptions pair;
    bool bJson = false;
    bool bShowRegions = false;
    std::string reportDir;
    bool bMerge = false;
    const char* paths[2] = {};
    std::vector<std::string> merged;  // the shards' documents, with --merge
};

void Fail(const std::string& what)
{
    WriteErrorLine("tobrel-diff: " + what);
}

int UsageError(const std::string& what)
{
    Fail(what);
    std::fputs(c_szUsage, stderr);
    return c_nExitTrouble;
}

// A whole number from `low` to `high`, the whole text of it.
bool ParseWhole(const char* text, long long low, long long high, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return *text && !*end && errno == 0 && value >= low && value <= high && std::isdigit(uchar(text[0]));
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
    std::string list = text;
    for (size_t start = 0;;) {
        const size_t comma = list.find(',', start);
        const std::string area = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long long v[4];
        char tail;
        int used = 0;
        // %lld takes signs and spaces; the digits-only check keeps them out.
        const bool digits = !area.empty() && area.find_first_not_of("0123456789:-") == std::string::npos;
        if (!digits || std::sscanf(area.c_str(), "%lld:%lld-%lld:%lld%n%c", &v[0], &v[1], &v[2], &v[3], &used, &tail) != 4 ||
            size_t(used) != area.size() || v[0] > v[2] || v[1] > v[3] || v[2] > INT32_MAX || v[3] > INT32_MAX) {
            bad = area;
            return false;
        }
        areas.push_back({int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(v[3])});
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// The value of `--name VALUE` or `--name=VALUE`, or null when it is missing.
const char* OptionValue(int argc, char** argv, int& i, const std::string& name)
{
    const std::string arg = argv[i];
    if (arg == name)
        return ++i < argc ? argv[i] : nullptr;
    return argv[i] + name.size() + 1;
}

bool IsOption(const std::string& arg, const std::string& name)
{
    return arg == name || arg.rfind(name + "=", 0) == 0;
}

// Returns -1 to go on, or the exit status.
int ParseArguments(int argc, char** argv, Options& options)
{
    int files = 0;
    bool bOptions = true;
    bool bTolerance = false;
    int mergeOptions = 0;  // --merge and any option it does not take
    PixelRule& rule = options.pair.rule;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (bOptions && arg == "--") {
            bOptions = false;
        } else if (bOptions && (arg == "--help" || arg == "-h")) {
            std::fputs(c_szUsage, stdout);
            std::fputs(c_szHelp, stdout);
            return std::fflush(stdout) == 0 ? c_nExitEqual : c_nExitTrouble;
        } else if (bOptions && arg == "--version") {
            std::fputs(c_szVersion, stdout);
            return std::fflush(stdout) == 0 ? c_nExitEqual : c_nExitTrouble;
        } else if (bOptions && arg == "--list") {
            options.pair.bList = true;
        } else if (bOptions && arg == "--json") {
            options.bJson = true;
        } else if (bOptions && IsOption(arg, "--tolerance")) {
            const char* value = OptionValue(argc, argv, i, "--tolerance");
            long long tolerance;
            if (!value || !ParseWhole(value, 1, 255, tolerance))
                return UsageError("--tolerance takes a whole number from 1 to 255");
            rule.tolerance = unsigned(tolerance);
            bTolerance = true;
        } else if (bOptions && IsOption(arg, "--threshold")) {
            const char* value = OptionValue(argc, argv, i, "--threshold");
            if (!value || !ParseFraction(value, rule.threshold))
                return UsageError("--threshold takes a decimal number from 0 to 1");
        } else if (bOptions && arg == "--antialiasing") {
            rule.bAntialiasing = true;
        } else if (bOptions && IsOption(arg, "--ignore")) {
            const char* value = OptionValue(argc, argv, i, "--ignore");
            std::string bad;
            if (!value)
                return UsageError("--ignore takes areas x1:y1-x2:y2 apart by commas");
            if (!ParseAreas(value, rule.ignored, bad))
                return UsageError("--ignore: " + Printable(bad) + " is not an area x1:y1-x2:y2 (x1 <= x2, y1 <= y2)");
        } else if (bOptions && arg == "--regions") {
            options.pair.bRegions = true;
            options.bShowRegions = true;
        } else if (bOptions && IsOption(arg, "--max-regions")) {
            const char* value = OptionValue(argc, argv, i, "--max-regions");
            long long kept;
            if (!value || !ParseWhole(value, 0, 1000000, kept))
                return UsageError("--max-regions takes a whole number from 0 to 1000000");
            options.pair.maxRegions = size_t(kept);
        } else if (bOptions && IsOption(arg, "--max-diff-pixels")) {
            const char* value = OptionValue(argc, argv, i, "--max-diff-pixels");
            long long limit;
            if (!value || !ParseWhole(value, 0, INT64_MAX, limit))
                return UsageError("--max-diff-pixels takes a whole number, 0 or more");
            options.pair.maxDiffPixels = limit;
        } else if (bOptions && IsOption(arg, "--max-diff-ratio")) {
            const char* value = OptionValue(argc, argv, i, "--max-diff-ratio");
            if (!value || !ParseFraction(value, options.pair.maxDiffRatio))
                return UsageError("--max-diff-ratio takes a decimal number from 0 to 1");
        } else if (bOptions && arg == "--diff-mask") {
            options.pair.bDiffMask = true;
        } else if (bOptions && IsOption(arg, "--report")) {
            const char* value = OptionValue(argc, argv, i, "--report");
            if (!value || !*value)
                return UsageError("--report takes the folder to write the report in");
            options.reportDir = value;
        } else if (bOptions && IsOption(arg, "--shard")) {
            const char* value = OptionValue(argc, argv, i, "--shard");
            int shard = 0, shards = 0, used = 0;
            if (!value || std::sscanf(value, "%d/%d%n", &shard, &shards, &used) != 2 || value[used] ||
                !std::isdigit(uchar(value[0])) || shard < 1 || shards < shard || shards > 1000000)
                return UsageError("--shard takes K/N, 1 <= K <= N");
            options.pair.shard = shard;
            options.pair.shards = shards;
        } else if (bOptions && arg == "--merge") {
            options.bMerge = true;
        } else if (bOptions && IsOption(arg, "--diff-image")) {
            const char* value = OptionValue(argc, argv, i, "--diff-image");
            if (!value || !*value || std::string(value) == "-")
                return UsageError("--diff-image takes the name of the file (or folder) to write");
            options.pair.diffImage = value;
        } else if (bOptions && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + Printable(arg));
        } else if (arg == "-") {
            return UsageError("standard input cannot be compared: name a file (./- for a file called -)");
        } else {
            options.merged.push_back(argv[i]);
            if (files < 2)
                options.paths[files] = argv[i];
            ++files;
        }
        if (bOptions && arg.rfind("--", 0) == 0 && arg != "--" && arg != "--json" && !IsOption(arg, "--report"))
            ++mergeOptions;
    }
    if (options.bMerge) {
        if (mergeOptions > 1)
            return UsageError("--merge takes only --json and --report: the rest comes from the shards");
        if (files == 0)
            return UsageError("--merge takes the shards' JSON documents");
        return -1;
    }
    if (files != 2)
        return UsageError("give exactly two files or two folders");
    if (bTolerance && rule.Perceptual())
        return UsageError("--tolerance and --threshold are two rules: give one");
    if (options.pair.bDiffMask && options.pair.diffImage.empty())
        return UsageError("--diff-mask needs --diff-image");
    // The JSON and the report always have the regions.
    options.pair.bRegions = options.pair.bRegions || options.bJson || !options.reportDir.empty();
    return -1;
}

bool IsFolder(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(PathOf(path), ignored);
}

// Whether one folder lies inside the other or is the same, links resolved.
bool Overlap(const std::string& a, const std::string& b)
{
    std::error_code ignored;
    const auto inside = [](const std::filesystem::path& inner, const std::filesystem::path& outer) {
        auto i = inner.begin();
        for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
            if (o->empty() && std::next(o) == outer.end())
                return true;  // the trailing separator of a folder name
            if (i == inner.end() || *i != *o)
                return false;
        }
        return true;
    };
    const auto x = std::filesystem::weakly_canonical(PathOf(a), ignored);
    const auto y = std::filesystem::weakly_canonical(PathOf(b), ignored);
    return inside(x, y) || inside(y, x);
}

int Run(int argc, char** argv)
{
    Options options;
    if (const int status = ParseArguments(argc, argv, options); status >= 0)
        return status;

    COut out;
    if (options.bMerge) {
        std::string failure;
        const int status = MergeShards(options.merged, options.bJson, options.reportDir, out, failure);
        if (!failure.empty())
            Fail(failure);
        if (!out.Finish()) {
            Fail("the results could not be written to standard output");
            return c_nExitTrouble;
        }
        return status;
    }
    CReport report(out, options.bJson, options.pair);
    report.ShowRegions(options.bShowRegions);
    const std::string first = options.paths[0], second = options.paths[1];
    const bool folders = IsFolder(first);
    if (folders != IsFolder(second)) {
        Fail(Printable(folders ? first : second) + ": a folder, compared only with a folder");
        return c_nExitTrouble;
    }
    if (options.pair.shards > 0 && !folders)
        return UsageError("--shard splits folders, not a pair of files");

    CReportPage page;
    const std::string& reportDir = options.reportDir;
    if (!reportDir.empty()) {
        // The report's files must never replace an input.
        if (Overlap(reportDir, first) || Overlap(reportDir, second)) {
            Fail(Printable(reportDir) + ": the report's folder must lie apart from the inputs");
            return c_nExitTrouble;
        }
        if (!page.Begin(reportDir)) {
            Fail(Printable(reportDir) + ": the report's folder could not be made");
            return c_nExitTrouble;
        }
        report.SetPage(&page, reportDir);
    }

    bool trouble = false;
    if (folders) {
        if (options.pair.bList && !options.bJson)
            return UsageError("--list with folders needs --json");
        // Difference images written among the inputs would replace other
        // pairs' files, or be compared as inputs themselves.
        const std::string& images = options.pair.diffImage;
        if (!images.empty() && (Overlap(images, first) || Overlap(images, second))) {
            Fail(Printable(images) + ": the difference images' folder must lie outside both input folders");
            return c_nExitTrouble;
        }
        CompareFolders(first, second, options.pair, report, reportDir.empty() ? nullptr : &page);
        trouble = report.Troubled() > 0;
    } else {
        options.pair.threads = int(std::max(1u, std::thread::hardware_concurrency()));
        if (!reportDir.empty())
            options.pair.reportImages = page.PairImagesPath(0);
        PairResult result;
        ComparePair(first, second, options.pair, result);
        if (result.trouble != Trouble::None) {
            Fail(result.message);
            trouble = true;
        }
        report.Pair(first, second, result);
    }
    if (!reportDir.empty() && !page.Finish(report.Head(first, second), report.Summary())) {
        Fail(Printable(reportDir) + ": the report could not be written");
        trouble = true;
    }
    if (!out.Finish()) {
        Fail("the results could not be written to standard output");
        return c_nExitTrouble;
    }
    if (trouble)
        return c_nExitTrouble;
    return report.Differing() > 0 ? c_nExitDifferent : c_nExitEqual;
}

} // namespace

int RunDiffTool(int argc, char** argv)
{
    // The last resort: memory can run out in any allocation, and the result
    // is then trouble, not an abort.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        Fail(TroubleText(Trouble::OutOfMemory));
        return c_nExitTrouble;
    } catch (const std::system_error& error) {
        Fail(error.what());
        return c_nExitTrouble;
    }
}
