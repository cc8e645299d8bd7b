#include "DiffTool.h"

#include "Accept.h"

#include "Flags.h"
#include "FolderCompare.h"
#include "Merge.h"
#include "PairCompare.h"
#include "Platform.h"
#include "Printable.h"
#include "Report.h"
#include "ReportPage.h"
#include "Utf8Path.h"

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

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

void Fail(const std::string& what)
{
    WriteErrorLine("tobrel-diff: " + what);
}

int UsageError(const std::string& what)
{
    Fail(what);
    std::fputs(UsageText(), stderr);
    return c_nExitTrouble;
}

bool IsFolder(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(PathOf(path), ignored);
}

int Run(int argc, char** argv)
{
    Options options;
    if (const int status = ParseArguments(argc, argv, options); status >= 0)
        return status;

    COut out;
    if (!options.accept.empty()) {
        std::string failure;
        std::vector<std::string> refusals;
        int status = AcceptChanges(options.accept, options.only, out, refusals, failure);
        if (!failure.empty())
            Fail(failure);
        for (const std::string& refusal : refusals)
            Fail("not accepted: " + refusal);
        if (!out.Finish()) {
            Fail("the results could not be written to standard output");
            status = c_nExitTrouble;
        }
        return status;
    }
    if (options.bMerge) {
        std::string failure;
        const int status = MergeShards(options.files, options.bJson, options.reportDir, options.ci, out, failure);
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
    const std::string first = options.files[0], second = options.files[1];
    const bool folders = IsFolder(first);
    if (folders != IsFolder(second)) {
        Fail(Printable(folders ? first : second) + ": a folder, compared only with a folder");
        return c_nExitTrouble;
    }
    if (options.pair.shards > 0 && !folders)
        return UsageError("--shard splits folders, not a pair of files");

    // Results for CI never replace an input, nor lie in an input folder.
    for (const std::string* output : {&options.ci.junit, &options.ci.markdown}) {
        if (output->empty())
            continue;
        if (const std::string why = CheckCiOutput(*output, {first, second}); !why.empty()) {
            Fail(why);
            return c_nExitTrouble;
        }
    }
    CCiFormats ci(options.ci);
    if (options.ci.Any()) {
        report.SetCi(&ci);
        options.pair.bRegions = true;  // the failing pairs show where they differ
    }

    CReportPage page;
    const std::string& reportDir = options.reportDir;
    // Two outputs in one folder would write over each other's files.
    if (!reportDir.empty() && !options.pair.diffImage.empty() && Overlap(reportDir, options.pair.diffImage)) {
        Fail(Printable(options.pair.diffImage) + ": the difference images and the report must lie apart");
        return c_nExitTrouble;
    }
    if (!reportDir.empty()) {
        // The report's files must never replace an input.
        if (Overlap(reportDir, first) || Overlap(reportDir, second)) {
            Fail(Printable(reportDir) + ": the report's folder must lie apart from the inputs");
            return c_nExitTrouble;
        }
        if (const std::string failure = page.Begin(reportDir); !failure.empty()) {
            Fail(Printable(reportDir) + ": " + failure);
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
        options.pair.inputFolders = {first, second};
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
        if (const std::string note = MorePicturesNote(first, second, result); !note.empty())
            WriteErrorLine("tobrel-diff: note: " + note);
        report.Pair(first, second, result);
    }
    if (!reportDir.empty() && !page.Finish(report.Head(first, second), report.Summary())) {
        Fail(Printable(reportDir) + ": the report could not be written");
        trouble = true;
    }
    for (const std::string& failure : report.ReportFailures()) {
        Fail(failure);
        trouble = true;
    }
    if (std::string failure; options.ci.Any() && !ci.Write(report.Head(first, second), report.Summary(), reportDir, failure)) {
        Fail(failure);
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
