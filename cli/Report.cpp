#include "Report.h"

#include "CiFormats.h"
#include "Printable.h"
#include "ReportPage.h"
#include "ResultJson.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace {

// Paths are bytes; JSON holds Unicode. Invalid UTF-8 becomes U+FFFD rather
// than a document no parser takes.
std::string Dump(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Appends the decimal digits of `value`; formatted by hand because a list
// can hold millions of numbers.
void PutNumber(std::string& out, unsigned value)
{
    char digits[8];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        out += digits[--n];
}

std::string RegionText(const DiffRegion& r)
{
    return std::to_string(r.left) + ":" + std::to_string(r.top) + "-" + std::to_string(r.right) + ":" +
           std::to_string(r.bottom) + " " + std::to_string(r.count) + (r.count == 1 ? " pixel" : " pixels");
}

} // namespace

void COut::Put(std::string_view text)
{
    if (!m_bFailed && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        m_bFailed = true;
}

bool COut::Finish()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout) && !m_bFailed;
}

void CReport::Count(const PairResult& result)
{
    if (!result.reportFailure.empty())
        m_reportFailures.push_back(result.reportFailure);
    if (result.trouble != Trouble::None)
        ++m_nTroubled;
    else if (result.summary.count == 0)
        ++m_nSame;
    else if (result.passed)
        ++m_nPassed;
    else
        ++m_nDiffering;
}

// The count, or "same" in a folder's line, with what else the options ask
// to be told of.
std::string CReport::CountText(const PairResult& result) const
{
    std::string text = std::to_string(result.summary.count);
    if (m_options.rule.bAntialiasing)
        text += ", " + std::to_string(result.antialiased) + " anti-aliased";
    if (m_options.HasLimit() && result.summary.count > 0)
        text += result.passed ? ", within the limit" : ", over the limit";
    return text;
}

void CReport::PutRegions(const PairResult& result, const char* indent)
{
    if (!m_bShowRegions || result.trouble != Trouble::None)
        return;
    std::string text;
    for (const DiffRegion& region : result.regions)
        text += indent + ("region " + RegionText(region)) + "\n";
    if (result.regionsLeftOut > 0)
        text += indent + ("and " + std::to_string(result.regionsLeftOut) + " more regions") + "\n";
    m_out.Put(text);
}

void CReport::PutList(const DiffList& list)
{
    std::string chunk;
    chunk.reserve(1 << 20);
    for (int i = 0; i < list.Size(); ++i) {
        if (m_bJson) {
            chunk += i ? ",[" : "[";
            PutNumber(chunk, list[i].x);
            chunk += ',';
            PutNumber(chunk, list[i].y);
            chunk += ']';
        } else {
            chunk += "x=";
            PutNumber(chunk, list[i].x);
            chunk += ", y=";
            PutNumber(chunk, list[i].y);
            chunk += '\n';
        }
        if (chunk.size() > (1 << 20) - 64) {
            m_out.Put(chunk);
            chunk.clear();
        }
    }
    m_out.Put(chunk);
}

// A pair's object; with a list, its differences go in by hand behind the
// other members, since there can be millions of them.
void CReport::PutPairJson(const std::string* relative, const std::string& first, const std::string& second,
                          const PairResult& result)
{
    const nlohmann::json object = PairJson(relative, first, second, result);
    std::string text = Dump(object);
    if (!m_options.bList || result.trouble != Trouble::None) {
        m_out.Put(text);
        return;
    }
    text.pop_back();  // the closing brace
    m_out.Put(text + ",\"differences\":[");
    PutList(result.list);
    m_out.Put("]}");
}

nlohmann::json CReport::PairJson(const std::string* relative, const std::string& first, const std::string& second,
                                 const PairResult& result) const
{
    nlohmann::json pair = ::PairJson(relative, first, second, m_options, result);
    if (!result.reportImages.empty())
        pair["images"] = ReportPairImages(result.reportImages);
    return pair;
}

void CReport::Pair(const std::string& first, const std::string& second, const PairResult& result)
{
    Count(result);
    if (m_pPage)
        m_pPage->AddPair(PairJson(nullptr, first, second, result), result.reportImages);
    if (m_pCi)
        m_pCi->AddPair(PairJson(nullptr, first, second, result));
    if (m_bJson) {
        PutPairJson(nullptr, first, second, result);
        m_out.Put("\n");
    } else if (result.trouble == Trouble::None) {
        if (m_options.bList)
            PutList(result.list);
        else
            m_out.Put(CountText(result) + "\n");
        PutRegions(result, "");
    }
}

void CReport::BeginFolders(const std::string& expected, const std::string& actual)
{
    // The pairs are written as they are compared, so the document is opened
    // and closed by hand around them.
    if (m_bJson) {
        std::string text = Dump(Head(expected, actual));
        text.pop_back();  // the closing brace
        m_out.Put(text + ",\"pairs\":[\n");
    }
}

void CReport::FolderPair(const std::string& relative, const std::string& first, const std::string& second,
                         const PairResult& result)
{
    Count(result);
    if (m_pPage)
        m_pPage->AddPair(PairJson(&relative, first, second, result), result.reportImages);
    if (m_pCi)
        m_pCi->AddPair(PairJson(&relative, first, second, result));
    if (m_bJson) {
        if (!m_bFirstPair)
            m_out.Put(",\n");
        PutPairJson(&relative, first, second, result);
    } else {
        std::string what = result.trouble != Trouble::None ? result.message : CountText(result);
        if (result.trouble == Trouble::None && result.summary.count == 0)
            what.replace(0, 1, "same");
        if (const std::string note = MorePicturesNote(first, second, result); !note.empty())
            what += " (" + note + ")";
        m_out.Put(Printable(relative) + ": " + what + "\n");
        PutRegions(result, "  ");
    }
    m_bFirstPair = false;
}

nlohmann::json CReport::Head(const std::string& expected, const std::string& actual) const
{
    nlohmann::json head{{"first", expected}, {"second", actual}};
    AddRule(head, m_options);
    if (m_share.index > 0)
        head["shard"] = {{"index", m_share.index}, {"count", m_share.count}};
    if (!m_share.listing.empty())
        head["listing"] = m_share.listing;
    if (m_pPage)
        head["report"] = m_reportDir;
    return head;
}

nlohmann::json CReport::Summary() const
{
    return {{"pairs", m_nSame + m_nPassed + m_nDiffering + m_nTroubled},
            {"same", m_nSame},
            {"passed", m_nPassed},
            {"differing", m_nDiffering},
            {"trouble", m_nTroubled}};
}

void CReport::EndFolders()
{
    const int pairs = m_nSame + m_nPassed + m_nDiffering + m_nTroubled;
    if (m_bJson) {
        m_out.Put("\n],\"summary\":" + Dump(Summary()) + "}\n");
        return;
    }
    std::string text = std::to_string(pairs) + " pairs: " + std::to_string(m_nSame) + " same, ";
    if (m_options.HasLimit())
        text += std::to_string(m_nPassed) + " within the limit, ";
    m_out.Put(text + std::to_string(m_nDiffering) + " differing, " + std::to_string(m_nTroubled) + " in trouble\n");
}
