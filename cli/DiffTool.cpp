#include "DiffTool.h"

#include "BmpFormat.h"
#include "BmpLoader.h"
#include "DiffScan.h"
#include "Platform.h"
#include "ResultCodes.h"
#include "ResultText.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int c_nExitEqual = 0;
constexpr int c_nExitDifferent = 1;
constexpr int c_nExitTrouble = 2;

const char c_szUsage[] =
    "usage: tobrel-diff [--tolerance N] [--list] [--diff-image OUT.bmp] FIRST.bmp SECOND.bmp\n";

const char c_szHelp[] =
    "Compares two 24-bit uncompressed BMP files of the same size pixel by pixel.\n"
    "A pixel differs when any of its blue, green and red values differ by N or more.\n"
    "\n"
    "  --tolerance N         N from 1 to 255 (default 1)\n"
    "  --list                print every differing pixel as \"x=X, y=Y\", top row first,\n"
    "                        left to right, instead of their number\n"
    "  --diff-image OUT.bmp  write the first image dimmed, with every differing pixel\n"
    "                        in pure red, as a 24-bit BMP\n"
    "  --help                show this text\n"
    "\n"
    "Exit status: 0 the images are equal at that tolerance, 1 they differ,\n"
    "2 trouble (bad usage, a file that is missing, unreadable or not a 24-bit\n"
    "uncompressed BMP, images of different sizes); the reason goes to standard error.\n";

struct Options
{
    unsigned tolerance = 1;
    bool bList = false;
    const char* diffImage = nullptr;
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
            return c_nExitEqual;
        } else if (bOptions && arg == "--list") {
            options.bList = true;
        } else if (bOptions && (arg == "--tolerance" || arg.rfind("--tolerance=", 0) == 0)) {
            const char* value = arg == "--tolerance" ? (++i < argc ? argv[i] : nullptr)
                                                     : argv[i] + std::strlen("--tolerance=");
            if (!value || !ParseTolerance(value, options.tolerance))
                return UsageError("--tolerance takes a whole number from 1 to 255");
        } else if (bOptions && (arg == "--diff-image" || arg.rfind("--diff-image=", 0) == 0)) {
            options.diffImage = arg == "--diff-image" ? (++i < argc ? argv[i] : nullptr)
                                                      : argv[i] + std::strlen("--diff-image=");
            if (!options.diffImage || !*options.diffImage)
                return UsageError("--diff-image takes the name of the file to write");
        } else if (bOptions && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            if (files == 2)
                return UsageError("give exactly two files");
            options.paths[files++] = argv[i];
        }
    }
    if (files != 2)
        return UsageError("give exactly two files");
    return -1;
}

// A file's picture, read through a mapping. Bottom-up files are used in
// place; a top-down file's rows are copied in the order the scan expects.
class CMappedImage
{
public:
    int Open(const char* path)
    {
        if (!m_file.Open(path))
            return IDS_CANNOT_READ;
        BmpLayout layout;
        const size_t available = m_file.Size() < c_cbHeaders ? size_t(m_file.Size()) : c_cbHeaders;
        if (const int result = ParseBmpHeaders(m_file.Data(), available, m_file.Size(), layout))
            return result;
        const unsigned char* rows = m_file.Data() + layout.pixelOffset;
        if (layout.bTopDown) {
            m_pFlipped.reset(static_cast<unsigned char*>(std::malloc(size_t(layout.pixelBytes))));
            if (!m_pFlipped)
                return IDS_OUT_OF_MEMORY;
            std::memcpy(m_pFlipped.get(), rows, size_t(layout.pixelBytes));
            FlipRows(m_pFlipped.get(), layout.stride, layout.height);
            rows = m_pFlipped.get();
        }
        // The scan only reads; the record never frees this view.
        m_image = {layout.width, layout.height, layout.stride, const_cast<unsigned char*>(rows)};
        return 0;
    }

    const ImageBuffer& Image() const { return m_image; }

private:
    struct FreeDeleter { void operator()(unsigned char* p) const { std::free(p); } };

    CMappedFile m_file;
    std::unique_ptr<unsigned char, FreeDeleter> m_pFlipped;
    ImageBuffer m_image;
};

std::string SizeText(const ImageBuffer& image)
{
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

// One line per record, formatted by hand: a list can hold millions.
bool PrintList(const DiffList& list)
{
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    auto putNumber = [&](unsigned value) {
        char digits[8];
        int n = 0;
        do {
            digits[n++] = char('0' + value % 10);
            value /= 10;
        } while (value);
        while (n)
            buffer[used++] = digits[--n];
    };
    for (int i = 0; i < list.Size(); ++i) {
        if (used > buffer.size() - 32) {
            if (std::fwrite(buffer.data(), 1, used, stdout) != used)
                return false;
            used = 0;
        }
        std::memcpy(&buffer[used], "x=", 2);
        used += 2;
        putNumber(list[i].x);
        std::memcpy(&buffer[used], ", y=", 4);
        used += 4;
        putNumber(list[i].y);
        buffer[used++] = '\n';
    }
    return std::fwrite(buffer.data(), 1, used, stdout) == used && std::fflush(stdout) == 0;
}

void PrintCount(int count)
{
    std::printf("%d\n", count);
    std::fflush(stdout);
}

// The first image dimmed to a third of its brightness over a dark base,
// every listed pixel pure red.
bool WriteDiffImage(const char* path, const ImageBuffer& first, const DiffList& list)
{
    const size_t bytes = size_t(first.stride) * size_t(first.height);
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[bytes]);
    if (!pixels)
        return false;
    for (size_t i = 0; i < bytes; ++i)
        pixels[i] = uint8_t(first.pixels[i] / 3 + 24);
    for (int32_t row = 0; row < first.height; ++row) {
        unsigned char* end = pixels.get() + size_t(row) * first.stride;
        std::memset(end + 3 * size_t(first.width), 0, size_t(first.stride) - 3 * size_t(first.width));
    }
    ImageBuffer out = first;
    out.pixels = pixels.get();
    for (int i = 0; i < list.Size(); ++i) {
        unsigned char* p = pixels.get() + PixelOffset(out, list[i].x, list[i].y);
        p[0] = 0;
        p[1] = 0;
        p[2] = 255;
    }
    return WriteBmpFile(out, OpenOutputFile(path));
}

} // namespace

int RunDiffTool(int argc, char** argv)
{
    Options options;
    if (const int status = ParseArguments(argc, argv, options); status >= 0)
        return status;

    CMappedImage images[2];
    for (int i = 0; i < 2; ++i) {
        if (const int result = images[i].Open(options.paths[i])) {
            Fail(std::string(options.paths[i]) + ": " + ResultText(result));
            return c_nExitTrouble;
        }
    }
    const ImageBuffer& first = images[0].Image();
    const ImageBuffer& second = images[1].Image();
    if (first.width != second.width || first.height != second.height) {
        Fail(std::string(options.paths[0]) + ", " + options.paths[1] + ": " +
             ResultText(IDS_SIZE_MISMATCH) + " (" + SizeText(first) + ", " + SizeText(second) + ")");
        return c_nExitTrouble;
    }

    DiffList list;
    const int count = ScanDifferences(first, second, options.tolerance, list);
    if (count < 0) {
        Fail(std::string(options.paths[0]) + ", " + options.paths[1] + ": " + ResultText(-count));
        return c_nExitTrouble;
    }
    if (options.diffImage && !WriteDiffImage(options.diffImage, first, list)) {
        Fail(std::string(options.diffImage) + ": the difference image could not be written");
        return c_nExitTrouble;
    }
    if (options.bList) {
        if (!PrintList(list)) {
            Fail("the list could not be written to standard output");
            return c_nExitTrouble;
        }
    } else {
        PrintCount(count);
    }
    return count == 0 ? c_nExitEqual : c_nExitDifferent;
}
