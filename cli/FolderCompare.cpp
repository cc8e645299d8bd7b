#include "FolderCompare.h"

#include "OrderedPool.h"
#include "Platform.h"
#include "Printable.h"
#include "Report.h"
#include "ReportPage.h"
#include "Utf8Path.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Join(const std::string& folder, const std::string& relative)
{
    return relative == "." ? folder : Utf8(PathOf(folder) / PathOf(relative));
}

// What lies below one root, as relative paths with '/' between folders
// ("." for the root itself).
struct Listing
{
    std::vector<std::string> files;       // everything that is not a folder
    std::vector<std::string> unreadable;  // folders that could not be listed
};

// Links count as what they point to, but links to folders are not walked
// into, so a link loop cannot make the walk endless; what is not a regular
// file (a broken link, a pipe) becomes that pair's trouble.
void Walk(const fs::path& root, const fs::path& folder, Listing& listing)
{
    const auto relative = [&](const fs::path& path) {
        const std::u8string text = path.lexically_relative(root).generic_u8string();
        return std::string(text.begin(), text.end());
    };
    std::error_code error;
    fs::directory_iterator it(folder, error), end;
    std::vector<fs::path> folders;
    for (; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (it->symlink_status(ignored).type() == fs::file_type::directory)
            folders.push_back(it->path());
        else if (!fs::is_directory(it->path(), ignored))
            listing.files.push_back(relative(it->path()));
    }
    if (error) {
        listing.unreadable.push_back(relative(folder));
        return;
    }
    for (const fs::path& sub : folders)
        Walk(root, sub, listing);
}

Listing List(const std::string& root)
{
    Listing listing;
    Walk(PathOf(root), PathOf(root), listing);
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.unreadable.begin(), listing.unreadable.end());
    return listing;
}

bool Contains(const std::vector<std::string>& sorted, const std::string& path)
{
    return std::binary_search(sorted.begin(), sorted.end(), path);
}

// Whether `path` lies below one of the folders (or is one).
bool Below(const std::vector<std::string>& folders, const std::string& path)
{
    for (const std::string& folder : folders) {
        if (folder == "." || path == folder || path.rfind(folder + "/", 0) == 0)
            return true;
    }
    return false;
}

// What a terminal shows while the folders are compared.
class CProgress
{
public:
    explicit CProgress(size_t total) : m_bShown(IsTerminal(stderr)), m_nTotal(total) {}
    void Update(size_t done)
    {
        if (m_bShown)
            std::fprintf(stderr, "\rtobrel-diff: %zu of %zu pairs compared", done, m_nTotal);
    }
    ~CProgress()
    {
        if (m_bShown)
            std::fprintf(stderr, "\r\033[K");
    }

private:
    bool m_bShown;
    size_t m_nTotal;
};

} // namespace

namespace {

// 64-bit FNV-1a, on from `hash`.
uint64_t Fnv1a(const std::string& text, uint64_t hash = 0xcbf29ce484222325u)
{
    for (const unsigned char c : text)
        hash = (hash ^ c) * 0x100000001b3u;
    return hash;
}

} // namespace

int ShareOf(const std::string& relative, int shards)
{
    return int(Fnv1a(relative) % uint64_t(shards)) + 1;
}

std::string ListingPrint(const std::vector<std::string>& paths)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (const std::string& path : paths)
        hash = Fnv1a(path + '\n', hash);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

void CompareFolders(const std::string& expected, const std::string& actual, const PairOptions& options,
                    CReport& report, const CReportPage* page)
{
    const Listing sides[2] = {List(expected), List(actual)};
    const std::string roots[2] = {expected, actual};

    // A folder that cannot be listed is one line of trouble; what the other
    // side has below it is not reported again, pair by pair.
    std::vector<std::string> unreadable;
    std::set_union(sides[0].unreadable.begin(), sides[0].unreadable.end(), sides[1].unreadable.begin(),
                   sides[1].unreadable.end(), std::back_inserter(unreadable));
    std::vector<std::string> all;
    std::set_union(sides[0].files.begin(), sides[0].files.end(), sides[1].files.begin(), sides[1].files.end(),
                   std::back_inserter(all));
    std::erase_if(all, [&](const std::string& path) { return Below(unreadable, path); });
    all.insert(all.end(), unreadable.begin(), unreadable.end());
    std::sort(all.begin(), all.end());
    RunShare share;
    share.listing = ListingPrint(all);
    if (options.shards > 0) {
        share.index = options.shard;
        share.count = options.shards;
        std::erase_if(all, [&](const std::string& path) { return ShareOf(path, options.shards) != options.shard; });
    }
    report.SetShare(share);

    const auto compare = [&](size_t index) {
        auto result = std::make_unique<PairResult>();
        const std::string& relative = all[index];
        try {
            for (int side = 0; side < 2; ++side) {
                if (Contains(sides[side].unreadable, relative)) {
                    SetTrouble(*result, Trouble::CannotRead, Printable(Join(roots[side], relative)));
                    return result;
                }
            }
            const bool inFirst = Contains(sides[0].files, relative), inSecond = Contains(sides[1].files, relative);
            if (!inFirst || !inSecond) {
                SetTrouble(*result, inFirst ? Trouble::OnlyInFirst : Trouble::OnlyInSecond,
                           Printable(Join(roots[inFirst ? 0 : 1], relative)));
                return result;
            }
            PairOptions pairOptions = options;
            pairOptions.threads = 1;
            pairOptions.bImageOnlyIfDiffering = true;
            if (!options.diffImage.empty()) {
                pairOptions.diffImage = Join(options.diffImage, relative);
                pairOptions.diffImageFolder = options.diffImage;
            }
            if (page)
                pairOptions.reportImages = page->PairImagesPath(index);
            ComparePair(Join(expected, relative), Join(actual, relative), pairOptions, *result);
        } catch (const std::bad_alloc&) {
            SetTrouble(*result, Trouble::OutOfMemory, Printable(relative));
        }
        return result;
    };

    // Difference images are written in their folder until their own
    // folders are made, for the pairs that differ only.
    if (!options.diffImage.empty()) {
        std::error_code ignored;
        fs::create_directories(PathOf(options.diffImage), ignored);
    }
    CProgress progress(all.size());
    report.BeginFolders(expected, actual);
    const size_t threads = std::max(1u, std::thread::hardware_concurrency());
    RunInOrder(all.size(), threads, 4 * threads, compare, [&](size_t index, const std::unique_ptr<PairResult>& result) {
        report.FolderPair(all[index], Join(expected, all[index]), Join(actual, all[index]), *result);
        progress.Update(index + 1);
    });
    report.EndFolders();
}
