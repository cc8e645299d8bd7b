#include "Report.h"

#include "Printable.h"

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
    if (result.trouble != Trouble::None)
        ++m_nTroubled;
    else if (result.summary.count == 0)
        ++m_nSame;
    else
        ++m_nDiffering;
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
    std::string text = PairJson(relative, first, second, result);
    if (!m_bList || result.trouble != Trouble::None) {
        m_out.Put(text);
        return;
    }
    text.pop_back();  // the closing brace
    m_out.Put(text + ",\"differences\":[");
    PutList(result.list);
    m_out.Put("]}");
}

std::string CReport::PairJson(const std::string* relative, const std::string& first, const std::string& second,
                              const PairResult& result) const
{
    nlohmann::json pair;
    if (relative)
        pair["path"] = *relative;
    pair["first"] = first;
    pair["second"] = second;
    if (result.trouble != Trouble::None) {
        pair["trouble"] = {{"code", TroubleCode(result.trouble)}, {"message", result.message}};
        return Dump(pair);
    }
    pair["width"] = result.width;
    pair["height"] = result.height;
    pair["tolerance"] = m_nTolerance;
    pair["count"] = result.summary.count;
    const DiffSummary& s = result.summary;
    pair["bounds"] = s.count ? nlohmann::json{{"left", s.left}, {"top", s.top}, {"right", s.right}, {"bottom", s.bottom}}
                             : nlohmann::json(nullptr);
    return Dump(pair);
}

void CReport::Pair(const std::string& first, const std::string& second, const PairResult& result)
{
    Count(result);
    if (m_bJson) {
        PutPairJson(nullptr, first, second, result);
        m_out.Put("\n");
    } else if (result.trouble == Trouble::None) {
        if (m_bList)
            PutList(result.list);
        else
            m_out.Put(std::to_string(result.summary.count) + "\n");
    }
}

void CReport::BeginFolders(const std::string& expected, const std::string& actual)
{
    // The pairs are written as they are compared, so the document is opened
    // and closed by hand around them.
    if (m_bJson)
        m_out.Put("{\"first\":" + Dump(expected) + ",\"second\":" + Dump(actual) +
                  ",\"tolerance\":" + std::to_string(m_nTolerance) + ",\"pairs\":[\n");
}

void CReport::FolderPair(const std::string& relative, const std::string& first, const std::string& second,
                         const PairResult& result)
{
    Count(result);
    if (m_bJson) {
        if (!m_bFirstPair)
            m_out.Put(",\n");
        PutPairJson(&relative, first, second, result);
    } else {
        const std::string what = result.trouble != Trouble::None ? result.message
                                 : result.summary.count == 0 ? std::string("same")
                                                             : std::to_string(result.summary.count);
        m_out.Put(Printable(relative) + ": " + what + "\n");
    }
    m_bFirstPair = false;
}

void CReport::EndFolders()
{
    const int pairs = m_nSame + m_nDiffering + m_nTroubled;
    if (m_bJson) {
        m_out.Put("\n],\"summary\":" +
                  Dump({{"pairs", pairs}, {"same", m_nSame}, {"differing", m_nDiffering}, {"trouble", m_nTroubled}}) +
                  "}\n");
    } else {
        m_out.Put(std::to_string(pairs) + " pairs: " + std::to_string(m_nSame) + " same, " +
                  std::to_string(m_nDiffering) + " differing, " + std::to_string(m_nTroubled) + " in trouble\n");
    }
}
