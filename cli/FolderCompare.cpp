#include "FolderCompare.h"

#include "Platform.h"
#include "Report.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path FromUtf8(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string ToUtf8(const std::u8string& text)
{
    return std::string(text.begin(), text.end());
}

// Everything below `root` that is not a folder, as relative paths with '/'
// between folders. Links count as what they point to, but links to folders
// are not walked into, so a link loop cannot make the walk endless; what is
// not a regular file (a broken link, a pipe) becomes that pair's trouble.
std::vector<std::string> ListFiles(const std::string& root)
{
    std::vector<std::string> files;
    std::error_code error;
    const fs::path base = FromUtf8(root);
    for (fs::recursive_directory_iterator it(base, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (!fs::is_directory(it->path(), ignored))
            files.push_back(ToUtf8(it->path().lexically_relative(base).generic_u8string()));
    }
    return files;
}

std::string Join(const std::string& folder, const std::string& relative)
{
    return ToUtf8((FromUtf8(folder) / FromUtf8(relative)).u8string());
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

void CompareFolders(const std::string& expected, const std::string& actual, const PairOptions& options,
                    CReport& report)
{
    std::vector<std::string> first = ListFiles(expected), second = ListFiles(actual);
    std::sort(first.begin(), first.end());
    std::sort(second.begin(), second.end());
    std::vector<std::string> all;
    std::set_union(first.begin(), first.end(), second.begin(), second.end(), std::back_inserter(all));

    // Workers take the next pair while it is less than `window` ahead of
    // the one waiting to be reported; results are reported in order.
    const size_t threads = std::max(1u, std::thread::hardware_concurrency());
    const size_t window = 4 * threads;
    std::vector<std::unique_ptr<PairResult>> results(all.size());
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, reported = 0;

    const auto work = [&] {
        PairOptions pairOptions = options;
        pairOptions.threads = 1;
        pairOptions.bImageOnlyIfDiffering = true;
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return next >= all.size() || next < reported + window; });
                if (next >= all.size())
                    return;
                index = next++;
            }
            auto result = std::make_unique<PairResult>();
            const std::string& relative = all[index];
            const bool inFirst = std::binary_search(first.begin(), first.end(), relative);
            const bool inSecond = std::binary_search(second.begin(), second.end(), relative);
            if (!inFirst || !inSecond) {
                result->code = inFirst ? c_nTroubleOnlyExpected : c_nTroubleOnlyActual;
                result->trouble = Printable(Join(inFirst ? expected : actual, relative)) + ": " + TroubleText(result->code);
            } else {
                if (!options.diffImage.empty())
                    pairOptions.diffImage = Join(options.diffImage, relative);
                ComparePair(Join(expected, relative), Join(actual, relative), pairOptions, *result);
            }
            std::lock_guard lock(mutex);
            results[index] = std::move(result);
            changed.notify_all();
        }
    };

    CProgress progress(all.size());
    report.BeginFolders(expected, actual);
    std::vector<std::thread> workers;
    for (size_t k = 0; k < std::min(threads, all.size()); ++k)
        workers.emplace_back(work);
    for (size_t index = 0; index < all.size(); ++index) {
        std::unique_ptr<PairResult> result;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return results[index] != nullptr; });
            result = std::move(results[index]);
            reported = index + 1;
            changed.notify_all();
        }
        report.FolderPair(all[index], Join(expected, all[index]), Join(actual, all[index]), *result);
        progress.Update(index + 1);
    }
    for (std::thread& worker : workers)
        worker.join();
    report.EndFolders();
}
