#include "ReportPage.h"

#include "Platform.h"
#include "ReportAssets.h"
#include "Utf8Path.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

namespace fs = std::filesystem;

namespace {

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

bool CReportPage::Begin(const std::string& dir)
{
    m_dir = dir;
    std::error_code error;
    fs::create_directories(PathOf(dir) / "pairs", error);
    return fs::is_directory(PathOf(dir) / "pairs", error);
}

std::string CReportPage::PairImagesPath(size_t index) const
{
    return Utf8(PathOf(m_dir) / "pairs" / (std::to_string(index) + ".js"));
}

bool CReportPage::AddPair(nlohmann::json pair, const std::string& images)
{
    if (!images.empty()) {
        std::error_code error;
        const fs::path source = fs::weakly_canonical(PathOf(images), error);
        const fs::path home = fs::weakly_canonical(PathOf(m_dir) / "pairs", error);
        if (source.parent_path() != home) {
            std::ifstream in(source, std::ios::binary);
            const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            const std::string target = PairImagesPath(m_nCopied++);
            if (!in.is_open() || !WriteWhole(PathOf(target), text)) {
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
