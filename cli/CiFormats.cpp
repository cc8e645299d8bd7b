#include "CiFormats.h"

#include "Platform.h"
#include "Printable.h"
#include "Utf8Path.h"

#include <cstdio>
#include <string_view>

namespace {

using json = nlohmann::json;

// Regions shown per failing pair; the report and the JSON have them all.
constexpr size_t c_nRegionsShown = 5;

// A name as one printable line in valid UTF-8: bytes that are not UTF-8
// become \xHH, as control characters do.
std::string Shown(const std::string& name)
{
    const std::string text = Printable(name);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned lead = byte(i);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (byte(i + k) & 0xC0) == 0x80;
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            static const char c_hex[] = "0123456789abcdef";
            out += {'\\', 'x', c_hex[lead >> 4], c_hex[lead & 15]};
            ++i;
        }
    }
    return out;
}

std::string Xml(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

// Text that Markdown shows as it is inside a line or a table's cell: the
// marks of emphasis, code, links, tags and cells escaped.
std::string Plain(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>|~").find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    return out;
}

// A number with thousands apart, as people read counts.
std::string Grouped(int64_t n)
{
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Name(const json& pair)
{
    if (pair.contains("path"))
        return Shown(pair["path"].get<std::string>());
    return Shown(pair["first"].get<std::string>()) + " vs " + Shown(pair["second"].get<std::string>());
}

bool InTrouble(const json& pair)
{
    return pair.contains("trouble");
}

bool Fails(const json& pair)
{
    return !InTrouble(pair) && !pair["passed"].get<bool>();
}

// The limit a pair was held to, in words.
std::string Limit(const json& pair)
{
    std::string text;
    if (pair.contains("max_diff_pixels"))
        text = Grouped(pair["max_diff_pixels"].get<int64_t>()) + " pixels";
    if (pair.contains("max_diff_ratio")) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%g %%", pair["max_diff_ratio"].get<double>() * 100);
        text += (text.empty() ? "" : " or ") + std::string(ratio);
    }
    return text.empty() ? "0 pixels" : text;
}

std::string Region(const json& r)
{
    return std::to_string(r["left"].get<int>()) + ":" + std::to_string(r["top"].get<int>()) + "-" +
           std::to_string(r["right"].get<int>()) + ":" + std::to_string(r["bottom"].get<int>()) + " (" +
           Grouped(r["count"].get<int64_t>()) + " pixels)";
}

std::vector<std::string> Regions(const json& pair)
{
    std::vector<std::string> out;
    const json& regions = pair["regions"];
    for (size_t i = 0; i < regions.size() && i < c_nRegionsShown; ++i)
        out.push_back(Region(regions[i]));
    const int64_t more = int64_t(regions.size() > c_nRegionsShown ? regions.size() - c_nRegionsShown : 0) +
                         pair["regions_left_out"].get<int64_t>();
    if (more > 0)
        out.push_back("and " + Grouped(more) + " more regions");
    return out;
}

std::string CountText(const json& pair)
{
    return Grouped(pair["count"].get<int64_t>()) + " of " + Grouped(pair["compared"].get<int64_t>()) +
           " pixels differ";
}

std::string Inputs(const json& head)
{
    return Shown(head["first"].get<std::string>()) + " vs " + Shown(head["second"].get<std::string>());
}

bool WriteWhole(const std::string& path, const std::string& text)
{
    COutputFile file;
    return file.Open(path.c_str()) && file.Write(text.data(), text.size()) && file.Commit();
}

} // namespace

std::string CCiFormats::JUnit(const json& head, const json& summary) const
{
    const int64_t pairs = summary["pairs"], trouble = summary["trouble"];
    int64_t failures = 0;
    for (const json& pair : m_pairs)
        failures += Fails(pair);
    const std::string counts = " tests=\"" + std::to_string(pairs) + "\" failures=\"" + std::to_string(failures) +
                               "\" errors=\"" + std::to_string(trouble) + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tobrel-diff\"" + counts +
                      ">\n  <testsuite name=\"" + Xml(Inputs(head)) + "\"" + counts + " skipped=\"0\">\n";
    for (const json& pair : m_pairs) {
        xml += "    <testcase classname=\"tobrel-diff\" name=\"" + Xml(Name(pair)) + "\"";
        if (InTrouble(pair)) {
            const json& t = pair["trouble"];
            xml += ">\n      <error type=\"trouble " + std::to_string(t["code"].get<int>()) + "\" message=\"" +
                   Xml(Shown(t["message"].get<std::string>())) + "\"/>\n    </testcase>\n";
        } else if (Fails(pair)) {
            std::string details = CountText(pair) + ", over the limit of " + Limit(pair) + "\n";
            for (const std::string& region : Regions(pair))
                details += "region " + region + "\n";
            xml += ">\n      <failure type=\"differing\" message=\"" + Xml(CountText(pair)) + " (limit " +
                   Xml(Limit(pair)) + ")\">" + Xml(details) + "</failure>\n    </testcase>\n";
        } else {
            xml += "/>\n";
        }
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

std::string CCiFormats::Markdown(const json& head, const json& summary, const std::string& reportDir) const
{
    const int64_t pairs = summary["pairs"], trouble = summary["trouble"];
    int64_t failures = 0;
    for (const json& pair : m_pairs)
        failures += Fails(pair);
    std::string md = "## tobrel-diff: " + Plain(Inputs(head)) + "\n\n";
    if (failures + trouble == 0)
        md += "**All " + Grouped(pairs) + (pairs == 1 ? " pair passes**" : " pairs pass**");
    else
        md += "**" + Grouped(failures + trouble) + " of " + Grouped(pairs) + (pairs == 1 ? " pair fails**" : " pairs fail**");
    md += ": " + Grouped(summary["same"]) + " same, " + Grouped(summary["passed"]) + " within the limit, " +
          Grouped(summary["differing"]) + " differing, " + Grouped(trouble) + " in trouble.\n";
    if (failures > 0) {
        md += "\n### Failing pairs\n\n| pair | differing pixels | limit | regions |\n|---|---|---|---|\n";
        for (const json& pair : m_pairs) {
            if (!Fails(pair))
                continue;
            std::string regions;
            for (const std::string& region : Regions(pair))
                regions += (regions.empty() ? "" : "<br>") + Plain(region);
            md += "| " + Plain(Name(pair)) + " | " + Plain(CountText(pair)) + " | " + Plain(Limit(pair)) + " | " +
                  regions + " |\n";
        }
    }
    if (trouble > 0) {
        md += "\n### In trouble\n\n| pair | trouble |\n|---|---|\n";
        for (const json& pair : m_pairs) {
            if (InTrouble(pair))
                md += "| " + Plain(Name(pair)) + " | " + Plain(Shown(pair["trouble"]["message"].get<std::string>())) +
                      " |\n";
        }
    }
    if (!reportDir.empty())
        md += "\nReport: " + Plain(Shown(Utf8(PathOf(reportDir) / "index.html"))) + "\n";
    return md;
}

bool CCiFormats::Write(const json& head, const json& summary, const std::string& reportDir,
                       std::string& failure) const
{
    if (!m_outputs.junit.empty() && !WriteWhole(m_outputs.junit, JUnit(head, summary))) {
        failure = Printable(m_outputs.junit) + ": the JUnit results could not be written";
        return false;
    }
    if (!m_outputs.markdown.empty() && !WriteWhole(m_outputs.markdown, Markdown(head, summary, reportDir))) {
        failure = Printable(m_outputs.markdown) + ": the Markdown summary could not be written";
        return false;
    }
    return true;
}

std::string CheckCiOutput(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs) {
        if (Overlap(output, input) || IsSameFile(output.c_str(), input.c_str()))
            return Printable(output) + ": would replace or lie inside an input (" + Printable(input) + ")";
    }
    return {};
}
