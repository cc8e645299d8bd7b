#include "ReportPage.h"

#include "Platform.h"
#include "ReportAssets.h"
#include "Utf8Path.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The file that says a folder holds a report of ours.
constexpr char c_szMarker[] = ".tobrel-report";

bool WriteWhole(const fs::path& path, std::string_view text)
{
    COutputFile out;
    return out.Open(Utf8(path).c_str()) && out.Write(text.data(), text.size()) && out.Commit();
}

} // namespace

std::string ReportPairImages(const std::string& path)
{
    return "pairs/" + Utf8(PathOf(path).filename());
}

std::string CReportPage::Begin(const std::string& dir)
{
    m_dir = dir;
    const fs::path folder = PathOf(dir);
    std::error_code error;
    // Only a folder of ours is written into: a new or empty one, or a report
    // of ours, which is replaced whole; its entries are removed, never
    // followed (a link among them goes, its target stays).
    if (fs::exists(folder, error) && !fs::is_empty(folder, error)) {
        if (!fs::is_regular_file(folder / c_szMarker, error) || fs::is_symlink(folder / c_szMarker, error))
            return "a folder that is neither empty nor a report of this tool's: choose another";
        for (const auto& entry : fs::directory_iterator(folder, error))
            fs::remove_all(entry.path(), error);
    }
    fs::create_directories(folder / "pairs", error);
    if (!fs::is_directory(folder / "pairs", error) || fs::is_symlink(folder / "pairs", error) ||
        !WriteWhole(folder / c_szMarker, "A report of tobrel-diff; the next report here replaces it whole.\n"))
        return "the report's folder could not be made";
    return {};
}

std::string CReportPage::PairImagesPath(size_t index) const
{
    return Utf8(PathOf(m_dir) / "pairs" / (std::to_string(index) + ".js"));
}

namespace {

// A pair's pictures copied from another report (a shard's) into `target`,
// piece by piece; only a regular file is read, and it is read once.
bool CopyPictures(const std::string& source, const std::string& target)
{
    CInputFile in;
    COutputFile out;
    if (!in.Open(source.c_str()) || !out.Open(target.c_str()))
        return false;
    std::vector<char> piece(1 << 20);
    for (uint64_t done = 0; done < in.Size();) {
        const size_t bytes = size_t(std::min<uint64_t>(piece.size(), in.Size() - done));
        if (!in.ReadAt(done, piece.data(), bytes) || !out.Write(piece.data(), bytes))
            return false;
        done += bytes;
    }
    return in.Unchanged() && out.Commit();
}

} // namespace

bool CReportPage::AddPair(nlohmann::json pair, const std::string& images)
{
    // The page lists a bounded number of regions; the rest it counts.
    constexpr size_t c_nMostRegions = 1000;
    if (pair.contains("regions") && pair["regions"].size() > c_nMostRegions) {
        const int64_t more = int64_t(pair["regions"].size() - c_nMostRegions);
        pair["regions"].erase(pair["regions"].begin() + c_nMostRegions, pair["regions"].end());
        pair["regions_left_out"] = pair.value("regions_left_out", int64_t(0)) + more;
    }
    if (!images.empty()) {
        std::error_code error;
        const fs::path source = fs::weakly_canonical(PathOf(images), error);
        const fs::path home = fs::weakly_canonical(PathOf(m_dir) / "pairs", error);
        if (source.parent_path() != home) {
            // Named by the pair's path, so that no copy lands on a picture
            // of the report it is merged into.
            char name[32];
            std::snprintf(name, sizeof name, "m-%016llx.js",
                          static_cast<unsigned long long>(std::hash<std::string>()(pair.value("path", images))));
            const std::string target = Utf8(PathOf(m_dir) / "pairs" / name);
            if (!CopyPictures(images, target)) {
                m_bFailed = true;
                return false;
            }
            pair["images"] = ReportPairImages(target);
        }
    }
    m_pairs.push_back(std::move(pair));
    return true;
}

bool CReportPage::Finish(nlohmann::json head, const nlohmann::json& summary)
{
    if (m_bFailed)
        return false;
    head["pairs"] = std::move(m_pairs);
    head["summary"] = summary;
    const std::string data =
        "window.tobrelReport = " + head.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + ";\n";
    const fs::path dir = PathOf(m_dir);
    return WriteWhole(dir / "data.js", data) && WriteWhole(dir / "report.js", c_szReportJs) &&
           WriteWhole(dir / "report.css", c_szReportCss) && WriteWhole(dir / "index.html", c_szIndexHtml);
}
