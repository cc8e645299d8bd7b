#include "DiffTool.h"

#include "FolderCompare.h"
#include "PairCompare.h"
#include "Platform.h"
#include "Printable.h"
#include "Report.h"
#include "Version.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <thread>

namespace {

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

const char c_szVersion[] = "tobrel-diff " TOBREL_VERSION "\n";

const char c_szUsage[] =
    "usage: tobrel-diff [options] FIRST SECOND          (BMP or PNG files)\n"
    "       tobrel-diff [options] EXPECTED_DIR ACTUAL_DIR\n";

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
    "For one pair the output is the number of differing pixels (or the list). For\n"
    "folders it is one line per pair in path order: the relative path and \"same\",\n"
    "the count, or the trouble; then a summary line. Files are read, not trusted:\n"
    "a file of another kind, damaged or cut short is trouble, never a result.\n"
    "\n"
    "Exit status: 0 everything compared is equal at that tolerance, 1 something\n"
    "differs and nothing was in trouble, 2 trouble (bad usage, a file missing,\n"
    "unreadable, damaged, of another format or size, a result that could not be\n"
    "written). For one pair a trouble is one line on standard error naming the\n"
    "file and the reason; for folders it is the pair's line on standard output.\n";

struct Options
{
    PairOptions pair;
    bool bJson = false;
    const char* paths[2] = {};
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

bool ParseTolerance(const char* text, unsigned& tolerance)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 1 || value > 255)
        return false;
    tolerance = unsigned(value);
    return true;
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
            if (!value || !ParseTolerance(value, options.pair.tolerance))
                return UsageError("--tolerance takes a whole number from 1 to 255");
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
            if (files == 2)
                return UsageError("give exactly two files or two folders");
            options.paths[files++] = argv[i];
        }
    }
    if (files != 2)
        return UsageError("give exactly two files or two folders");
    return -1;
}

std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
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
    CReport report(out, options.bJson, options.pair.bList, options.pair.tolerance);
    const std::string first = options.paths[0], second = options.paths[1];
    const bool folders = IsFolder(first);
    if (folders != IsFolder(second)) {
        Fail(Printable(folders ? first : second) + ": a folder, compared only with a folder");
        return c_nExitTrouble;
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
        CompareFolders(first, second, options.pair, report);
        trouble = report.Troubled() > 0;
    } else {
        options.pair.threads = int(std::max(1u, std::thread::hardware_concurrency()));
        PairResult result;
        ComparePair(first, second, options.pair, result);
        if (result.trouble != Trouble::None) {
            Fail(result.message);
            trouble = true;
        }
        report.Pair(first, second, result);
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
    }
}
