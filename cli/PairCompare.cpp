#include "PairCompare.h"

#include "DiffImage.h"
#include "ImageFile.h"
#include "Platform.h"
#include "ResultCodes.h"
#include "ResultText.h"
#include "Scan4.h"

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

// Below this many pixels a second thread costs more than it saves.
constexpr int64_t c_nPixelsPerThread = 1 << 20;

// Counts in bands of rows, one per thread; false if a file shrank meanwhile.
bool Summarize(const ImageBuffer& first, const ImageBuffer& second, int channels, unsigned tolerance, int threads,
               DiffSummary& summary)
{
    const int64_t pixels = int64_t(first.width) * first.height;
    const int bands = int(std::clamp<int64_t>(pixels / c_nPixelsPerThread, 1, std::max(threads, 1)));
    std::vector<DiffSummary> found(static_cast<size_t>(bands));
    std::vector<char> read(size_t(bands), 0);
    const auto band = [&](int k) {
        const int32_t top = int32_t(int64_t(first.height) * k / bands);
        const int32_t end = int32_t(int64_t(first.height) * (k + 1) / bands);
        read[size_t(k)] = RunGuarded([&, k, top, end] {
            if (channels == 3)
                SummarizeDifferences(first, second, tolerance, top, end, found[size_t(k)]);
            else
                SummarizeDifferences4(first, second, tolerance, top, end, found[size_t(k)]);
        });
    };
    std::vector<std::thread> workers;
    for (int k = 1; k < bands; ++k)
        workers.emplace_back(band, k);
    band(0);
    for (std::thread& worker : workers)
        worker.join();
    summary = DiffSummary();
    for (int k = 0; k < bands; ++k) {
        if (!read[size_t(k)])
            return false;
        summary.Merge(found[size_t(k)]);
    }
    return true;
}

std::string SizeText(const CImageFile& image)
{
    return std::to_string(image.Width()) + "x" + std::to_string(image.Height());
}

void Fail(PairResult& result, int code, const std::string& where)
{
    result.code = code;
    result.trouble = where + ": " + TroubleText(code);
    result.list.Release();
}

} // namespace

std::string TroubleText(int code)
{
    switch (code) {
    case c_nTroubleDiffImage: return "the difference image could not be written";
    case c_nTroubleDiffImageInput: return "the difference image would overwrite an input";
    case c_nTroubleOnlyExpected: return "only in the first folder";
    case c_nTroubleOnlyActual: return "only in the second folder";
    case c_nTroublePng16Bit: return "16-bit PNG samples are not compared (reduced to 8 bits, different samples could look equal)";
    case c_nTroublePngDamaged: return "the PNG file's data is damaged";
    }
    const char* text = ResultText(code);
    return text ? text : "error " + std::to_string(code);
}

std::string Printable(const std::string& text)
{
    static const char c_szHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += c_szHex[c >> 4];
            out += c_szHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result)
{
    result.code = 0;
    result.trouble.clear();
    result.summary = DiffSummary();
    result.list.Clear();

    CImageFile images[2];
    const std::string* paths[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        if (const int code = images[i].Open(*paths[i]))
            return Fail(result, code, Printable(*paths[i]));
    }
    const std::string both = Printable(first) + ", " + Printable(second);
    if (images[0].Width() != images[1].Width() || images[0].Height() != images[1].Height()) {
        Fail(result, IDS_SIZE_MISMATCH, both);
        result.trouble += " (" + SizeText(images[0]) + ", " + SizeText(images[1]) + ")";
        return;
    }

    // Whatever can refuse the difference image does so before any work and
    // before the output is touched.
    const std::string& out = options.diffImage;
    if (!out.empty()) {
        if (IsSameFile(out.c_str(), first.c_str()) || IsSameFile(out.c_str(), second.c_str()))
            return Fail(result, c_nTroubleDiffImageInput, Printable(out));
        if (!CanWriteDiffImage(out, images[0].Width(), images[0].Height()))
            return Fail(result, IDS_IMAGE_TOO_LARGE, Printable(out));
    }

    // Alpha is compared when either image has it; both are decoded at once.
    const int channels = images[0].HasAlpha() || images[1].HasAlpha() ? 4 : 3;
    int decoded[2] = {};
    std::thread other([&] { decoded[1] = images[1].Decode(channels); });
    decoded[0] = images[0].Decode(channels);
    other.join();
    for (int i = 0; i < 2; ++i) {
        if (decoded[i])
            return Fail(result, decoded[i], Printable(*paths[i]));
    }
    const ImageBuffer& a = images[0].Image();
    const ImageBuffer& b = images[1].Image();
    result.width = a.width;
    result.height = a.height;

    // The difference image needs every pixel's place, like a list does.
    if (options.bList || !out.empty()) {
        int count = 0;
        if (!RunGuarded([&] {
                count = channels == 3 ? ScanDifferences(a, b, options.tolerance, result.list)
                                      : ScanDifferences4(a, b, options.tolerance, result.list);
            }))
            return Fail(result, IDS_CANNOT_READ, both);
        if (count < 0)
            return Fail(result, -count, both);
        DiffSummary& s = result.summary;
        s.count = count;
        for (int i = 0; i < count; ++i) {
            const DiffPoint p = result.list[i];
            s.left = s.left < 0 || p.x < s.left ? p.x : s.left;
            s.right = p.x > s.right ? p.x : s.right;
        }
        if (count > 0) {
            s.top = result.list[0].y;
            s.bottom = result.list[count - 1].y;
        }
    } else if (!Summarize(a, b, channels, options.tolerance, options.threads, result.summary)) {
        return Fail(result, IDS_CANNOT_READ, both);
    }

    if (!out.empty() && !(options.bImageOnlyIfDiffering && result.summary.count == 0)) {
        if (options.bImageOnlyIfDiffering) {
            std::error_code ignored;
            std::filesystem::create_directories(
                std::filesystem::path(std::u8string(out.begin(), out.end())).parent_path(), ignored);
        }
        if (const int code = WriteDiffImage(out, a, channels, result.list))
            return Fail(result, code, Printable(code == IDS_CANNOT_READ ? first : out));
    }
    if (!options.bList)
        result.list.Release();
}
