// Runs the built tobrel-diff on real files, as a script would.

#include "Accept.h"
#include "BmpBuilder.h"
#include "BmpLoader.h"
#include "ImageFile.h"
#include "Platform.h"
#include "Printable.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// The tool under test; its folder holds the test data too.
std::filesystem::path g_toolPath;

namespace {

#ifdef TOBREL_TOOL_EMULATOR
const std::string c_emulator = TOBREL_TOOL_EMULATOR;
#else
const std::string c_emulator;
#endif

struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

// The command that starts the tool.
std::string Tool()
{
    return (c_emulator.empty() ? "" : c_emulator + " ") + Quote(g_toolPath);
}

// The gradient with three pixels changed: (1, 0) by 40 in red, (4, 2) by 5 in
// blue, (0, 3) by 1 in green.
Rgb Changed(int x, int y)
{
    Rgb c = Gradient(x, y);
    if (x == 1 && y == 0)
        c.r = uint8_t(c.r + 40);
    if (x == 4 && y == 2)
        c.b = uint8_t(c.b - 5);
    if (x == 0 && y == 3)
        c.g = uint8_t(c.g + 1);
    return c;
}

#ifdef _WIN32
// Runs `command` with its standard output and error in the two files, and
// returns its exit code, or -1 when it could not be started.
int RunDirectly(const std::string& command, const std::filesystem::path& out, const std::filesystem::path& err)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto create = [&](const std::filesystem::path& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const HANDLE outFile = create(out);
    const HANDLE errFile = create(err);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outFile;
    startup.hStdError = errFile;
    std::wstring line = std::filesystem::path(command).wstring();
    PROCESS_INFORMATION process{};
    DWORD code = DWORD(-1);
    // Wine now and then fails to start a process under load; that is not
    // the tool's answer, so a start that failed is tried again.
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        if (!started) {
            std::fprintf(stderr, "could not start the tool (error %lu), trying again\n", GetLastError());
            Sleep(200);
        }
    }
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outFile);
    CloseHandle(errFile);
    return int(code);
}
#endif

class DiffTool : public testing::Test
{
protected:
    // Runs the tool with its output in files; `stdoutPath` may name another.
    Outcome Run(const std::vector<std::string>& args, [[maybe_unused]] std::string stdoutPath = "")
    {
        const auto out = m_dir.Path() / "stdout.txt";
        const auto err = m_dir.Path() / "stderr.txt";
        std::string command = m_launcher + Tool();
        for (const auto& arg : args)
            command += " " + arg;
#ifdef _WIN32
        // Started directly rather than through cmd.exe, which under Wine now
        // and then fails to start at all.
        const int status = RunDirectly(command, out, err);
#else
        command += " > " + (stdoutPath.empty() ? Quote(out) : stdoutPath) + " 2> " + Quote(err);
        const int raw = std::system(command.c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        return {status, ReadFile(out), ReadFile(err)};
    }

    // Writes `name` below the folders A (as `a`) and B (as `b`) of the test's folder.
    void WriteBoth(const std::string& name, const BmpSpec& a, const BmpSpec& b)
    {
        for (const auto& [side, spec] : {std::pair{"A/", &a}, std::pair{"B/", &b}}) {
            std::filesystem::create_directories((m_dir.Path() / (side + name)).parent_path());
            m_dir.WriteBmp(side + name, *spec);
        }
    }

    TempDir m_dir;
    std::string m_launcher;  // what starts the tool, before its name
    const std::string m_first = Quote(m_dir.WriteBmp("first.bmp", Picture(5, 4)));
    const std::string m_second = Quote(m_dir.WriteBmp("second.bmp", Picture(5, 4, Changed)));
};

} // namespace

TEST_F(DiffTool, CountsOrListsDifferencesAndSaysSoInItsStatus)
{
    BmpSpec topDown = Picture(5, -4, Changed);
    topDown.infoSize = 124;
    BmpSpec gap = Picture(5, 4, Changed);
    gap.infoSize = 108;
    gap.gapBytes = 12;
    gap.sizeImage = 0;
    const std::string topDownFile = Quote(m_dir.WriteBmp("top-down.bmp", topDown));
    const std::string gapFile = Quote(m_dir.WriteBmp("gap.bmp", gap));
    const std::string all = "x=1, y=0\nx=4, y=2\nx=0, y=3\n";
    struct Case { std::vector<std::string> args; int status; std::string out; };
    const Case cases[] = {
        {{m_first, m_second}, 1, "3\n"},
        {{m_first, m_first}, 0, "0\n"},
        {{"--tolerance", "5", m_first, m_second}, 1, "2\n"},
        {{"--tolerance=6", m_first, m_second}, 1, "1\n"},
        {{"--tolerance", "40", m_first, m_second}, 1, "1\n"},
        {{"--tolerance", "41", m_first, m_second}, 0, "0\n"},
        {{"--list", m_first, m_second}, 1, all},
        {{"--list", m_first, m_first}, 0, ""},
        {{"--list", m_first, topDownFile}, 1, all},
        {{"--list", m_first, gapFile}, 1, all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Outcome result = Run(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
    }
}

// Wide pictures span several bands of rows; a top-down file's bands lie
// the other way round in the file.
TEST_F(DiffTool, ReadsTopDownFilesBandByBand)
{
    const auto marked = [](int x, int y) {
        Rgb c = Gradient(x, y);
        if ((x == 7 && y == 3) || (x == 2999 && y == 40) || (x == 0 && y == 69))
            c.g = uint8_t(c.g + 9);
        return c;
    };
    const std::string bottomUp = Quote(m_dir.WriteBmp("bottom-up.bmp", Picture(3000, 70)));
    const std::string topDown = Quote(m_dir.WriteBmp("top-down.bmp", Picture(3000, -70, marked)));
    const Outcome count = Run({bottomUp, topDown});
    EXPECT_EQ(count.out, "3\n") << "status " << count.status << ": " << count.err;
    const Outcome list = Run({"--list", topDown, bottomUp});
    EXPECT_EQ(list.out, "x=7, y=3\nx=2999, y=40\nx=0, y=69\n") << "status " << list.status << ": " << list.err;
}

TEST_F(DiffTool, WritesADifferenceImage)
{
    const auto out = m_dir.Path() / "diff.bmp";
    std::ofstream(out) << "an image of an earlier run";
    ASSERT_EQ(Run({"--diff-image", Quote(out), m_first, m_second}).status, 1);

    ImageBuffer image;
    ASSERT_EQ(LoadBmpFile(image, WidePath(out).c_str()), 0);
    ASSERT_EQ(image.width, 5);
    ASSERT_EQ(image.height, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const unsigned char* p = image.pixels + PixelOffset(image, x, y);
            const Rgb shown{p[2], p[1], p[0]}, red{255, 0, 0};
            if ((x == 1 && y == 0) || (x == 4 && y == 2) || (x == 0 && y == 3)) {
                EXPECT_EQ(shown, red) << x << "," << y;
            } else {
                EXPECT_LE(shown.r, Gradient(x, y).r / 3 + 24) << x << "," << y;
                EXPECT_NE(shown, red) << x << "," << y;
            }
        }
    }
    FreeImageBuffer(image);
}

TEST_F(DiffTool, ReportsTroubleWithStatusTwoAndOneLine)
{
    BmpSpec eightBit = Picture(5, 4);
    eightBit.bitCount = 8;
    auto truncated = BuildBmp(Picture(5, 4));
    truncated.resize(truncated.size() - 3);
    const std::string missing = Quote(m_dir.Path() / "missing.bmp");
    const std::string text = Quote(m_dir.Write("text.bmp", {'h', 'e', 'l', 'l', 'o'}));
    const std::string palette = Quote(m_dir.WriteBmp("palette.bmp", eightBit));
    const std::string cut = Quote(m_dir.Write("cut.bmp", truncated));
    const std::string small = Quote(m_dir.WriteBmp("small.bmp", Picture(4, 4)));

    struct Case { std::vector<std::string> args; std::string reason; };
    const Case cases[] = {
        {{m_first, missing}, "missing.bmp: ファイルを読み込めませんでした"},
        {{Quote(m_dir.Path()), m_first}, ": a folder, compared only with a folder"},
        {{m_first, cut}, "cut.bmp: ファイルを読み込めませんでした"},
        {{text, m_first}, "text.bmp: Bitmap ファイルではありません"},
        {{m_first, palette}, "palette.bmp: 24 bit color 非圧縮フォーマットのみサポートしています"},
        {{m_first, small}, "２つのImageの幅または高さが異なります (5x4, 4x4)"},
        {{m_first, Quote(m_dir.WriteBmp("low.bmp", Picture(5, 3)))}, "２つのImageの幅または高さが異なります (5x4, 5x3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const Outcome trouble = Run(c.args);
        EXPECT_EQ(trouble.status, 2);
        EXPECT_EQ(trouble.out, "");
        EXPECT_NE(trouble.err.find(c.reason), std::string::npos) << trouble.err;
        EXPECT_EQ(trouble.err.find('\n'), trouble.err.size() - 1) << trouble.err;
    }
}

TEST_F(DiffTool, RefusesBadUsage)
{
    const std::vector<std::string> bad[] = {
        {},
        {m_first},
        {m_first, m_second, m_first},
        {"--tolerance", "0", m_first, m_second},
        {"--tolerance", "256", m_first, m_second},
        {"--tolerance", "3x", m_first, m_second},
        {m_first, m_second, "--tolerance"},
        {"--diff-image", m_first, m_second},
        {"--colour", m_first, m_second},
        {"-", m_second},
        {"--", m_first, "-"},
        {"--list", Quote(m_dir.Path()), Quote(m_dir.Path())},
        {"--threshold", "0.1", "--tolerance", "2", m_first, m_second},
        {"--threshold", "1.5", m_first, m_second},
        {"--threshold", "-0", m_first, m_second},
        {"--max-diff-ratio", "2", m_first, m_second},
        {"--max-diff-pixels", "-1", m_first, m_second},
        {"--diff-mask", m_first, m_second},
        {"--ignore", "1:1-2:2,5:5-1:1", m_first, m_second},
        {"--ignore", "1:1-2", m_first, m_second},
        {"--ignore", "1:1-2:+2", m_first, m_second},
        {"--ignore", "-2147483649:0-7:15", m_first, m_second},
        {"--ignore", "0:0-2147483648:1", m_first, m_second},
        {"--ignore", "0:5-9:1", m_first, m_second},
        {"--shard", "1/4294967298", Quote(m_dir.Path()), Quote(m_dir.Path())},
        {"--shard", "\"1/ 2\"", Quote(m_dir.Path()), Quote(m_dir.Path())},
        {"--shard", "1/+2", Quote(m_dir.Path()), Quote(m_dir.Path())},
        {"--report", "--json", Quote(m_dir.Path()), Quote(m_dir.Path())},
        {"--diff-image", "--list", m_first, m_second},
        {"--json=yes", m_first, m_second},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Outcome refused = Run(args);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("usage: tobrel-diff"), std::string::npos);
    }
    EXPECT_NE(Run({"--ignore", "0:0-1:1,3:4-x:1", m_first, m_second}).err.find("3:4-x:1 is not an area"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("--json"));
    // A value that looks like an option is taken when written with "=".
    EXPECT_EQ(Run({"--diff-image=--x.bmp", m_first, m_second}).status, 1);
    EXPECT_TRUE(std::filesystem::exists("--x.bmp"));
    std::filesystem::remove("--x.bmp");
    const Outcome help = Run({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--diff-image"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).out, "tobrel-diff 1.0.0\n");
}

// Lists far longer than the comparer's output buffer come out once, whole.
TEST_F(DiffTool, ListsEveryPixelOfALargePairOnce)
{
    const std::string a = Quote(m_dir.WriteBmp("a.bmp", Picture(300, 300)));
    const std::string b = Quote(m_dir.WriteBmp("b.bmp", Picture(300, 300, [](int x, int y) {
        Rgb c = Gradient(x, y);
        c.b = uint8_t(c.b + 1);
        return c;
    })));
    const Outcome listed = Run({"--list", a, b});
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 90000);
    EXPECT_EQ(listed.out.substr(listed.out.size() - 26), "x=298, y=299\nx=299, y=299\n");
    const auto json = nlohmann::json::parse(Run({"--json", "--list", a, b}).out);
    EXPECT_EQ(json["differences"].size(), 90000u);
}

// AddressSanitizer reserves more address space than any such limit allows.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOBREL_ADDRESS_SANITIZER 1
#endif
#endif

#if !defined(_WIN32) && !defined(TOBREL_ADDRESS_SANITIZER) && !defined(TOBREL_TOOL_EMULATOR)
// A pair that cannot fit in the memory at hand (here the process's
// address-space limit) is refused as a pair before anything is decoded,
// even where one of its pictures would fit. The PNG (the comparer's own
// difference image) keeps the files small beside the pictures.
TEST_F(DiffTool, RefusesAPairLargerThanTheMemoryAtHand)
{
    std::string png[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = "abcd" + std::to_string(i);
        const auto inverted = [](int x, int y) {
            const Rgb c = Gradient(x, y);
            return Rgb{uint8_t(~c.r), uint8_t(~c.g), uint8_t(~c.b)};
        };
        const std::string bmp = Quote(m_dir.WriteBmp(name + ".bmp", Picture(4000, 4000, i ? inverted : Gradient)));
        png[i] = Quote(m_dir.Path() / (name + ".png"));
        ASSERT_EQ(Run({"--diff-image", png[i], bmp, bmp}).status, 0);
    }
    m_launcher = "ulimit -v 100000; ";
    const Outcome refused = Run({"--list", png[0], png[1]});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("abcd0.png, " + m_dir.Path().string() + "/abcd1.png: メモリが不足しています"),
              std::string::npos) << refused.err;
    m_launcher.clear();
    EXPECT_EQ(Run({"--list", png[0], png[1]}).status, 1);
}

// Whatever the memory at hand, a folder run with every output ends with a
// status and, in trouble, a message: no abort, no hang, no thread left
// behind.
TEST_F(DiffTool, EndsEveryFolderRunWithAStatusWhateverTheMemory)
{
    for (int i = 0; i < 6; ++i)
        WriteBoth("p" + std::to_string(i) + ".bmp", Picture(300, 200), Picture(300, 200, i % 2 ? Changed : Gradient));
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    for (const int kilobytes : {20000, 30000, 40000, 60000, 100000, 400000}) {
        SCOPED_TRACE(kilobytes);
        std::filesystem::remove_all(m_dir.Path() / "report");
        m_launcher = "ulimit -v " + std::to_string(kilobytes) + "; timeout 60 ";
        const Outcome result = Run({"--json", "--regions", "--report", Quote(m_dir.Path() / "report"), a, b});
        EXPECT_TRUE(result.status == 1 || (result.status == 2 && !(result.err + result.out).empty())) << result.status;
    }
}
#endif

TEST_F(DiffTool, DescribesAPairInJson)
{
    const Outcome listed = Run({"--json", "--list", "--tolerance", "2", m_first, m_second});
    EXPECT_EQ(listed.status, 1);
    const auto json = nlohmann::json::parse(listed.out);
    EXPECT_EQ(json["width"], 5);
    EXPECT_EQ(json["height"], 4);
    EXPECT_EQ(json["tolerance"], 2);
    EXPECT_EQ(json["count"], 2);
    EXPECT_EQ(json["bounds"], (nlohmann::json{{"left", 1}, {"top", 0}, {"right", 4}, {"bottom", 2}}));
    EXPECT_EQ(json["differences"], (nlohmann::json{{1, 0}, {4, 2}}));
    EXPECT_TRUE(nlohmann::json::parse(Run({"--json", m_first, m_first}).out)["bounds"].is_null());
}

// The screenshot options, on the pair that differs at (1, 0), (4, 2) and (0, 3).
TEST_F(DiffTool, JudgesByTheScreenshotOptionsAndItsLimits)
{
    struct Case { std::vector<std::string> args; int status; std::string out; };
    const Case cases[] = {
        {{"--regions"}, 1, "3\nregion 1:0-1:0 1 pixel\nregion 4:2-4:2 1 pixel\nregion 0:3-0:3 1 pixel\n"},
        {{"--regions", "--max-regions", "1", "--tolerance", "5"}, 1, "2\nregion 1:0-1:0 1 pixel\nand 1 more regions\n"},
        {{"--max-diff-pixels", "3"}, 0, "3, within the limit\n"},
        {{"--max-diff-pixels", "2"}, 1, "3, over the limit\n"},
        {{"--max-diff-ratio", "0.15"}, 0, "3, within the limit\n"},
        {{"--max-diff-ratio", "0.1"}, 1, "3, over the limit\n"},
        // Two of the ten compared pixels: ignored pixels are not compared.
        {{"--ignore", "0:0-4:1", "--max-diff-ratio", "0.15"}, 1, "2, over the limit\n"},
        {{"--ignore", "1:0-1:0,4:2-9:9"}, 1, "1\n"},
        {{"--ignore", "2:0-3:3"}, 1, "3\n"},
        {{"--threshold", "0.05", "--antialiasing"}, 1, "1, 0 anti-aliased\n"},
        {{"--threshold", "0"}, 1, "3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {m_first, m_second});
        const Outcome result = Run(args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
    }

    const auto json = nlohmann::json::parse(
        Run({"--json", "--threshold", "0.05", "--ignore", "0:3-0:3", "--max-diff-pixels", "1", m_first, m_second}).out);
    EXPECT_EQ(json["threshold"], 0.05);
    EXPECT_EQ(json["ignored"], (nlohmann::json{{{"left", 0}, {"top", 3}, {"right", 0}, {"bottom", 3}}}));
    EXPECT_EQ(json["compared"], 19);
    EXPECT_EQ(json["count"], 1);
    EXPECT_EQ(json["passed"], true);
    EXPECT_EQ(json["regions"], (nlohmann::json{{{"left", 1}, {"top", 0}, {"right", 1}, {"bottom", 0}, {"count", 1}}}));

    // In folders each pair is held to the limit alone.
    WriteBoth("two.bmp", Picture(5, 4), Picture(5, 4, [](int x, int y) {
                  Rgb c = Gradient(x, y);
                  c.r = uint8_t(c.r ^ (x == 2 && y < 2 ? 0x80 : 0));
                  return c;
              }));
    WriteBoth("three.bmp", Picture(5, 4), Picture(5, 4, Changed));
    const Outcome folders = Run({"--max-diff-pixels", "2", Quote(m_dir.Path() / "A"), Quote(m_dir.Path() / "B")});
    EXPECT_EQ(folders.status, 1);
    EXPECT_EQ(folders.out, "three.bmp: 3, over the limit\ntwo.bmp: 2, within the limit\n"
                           "2 pairs: 0 same, 1 within the limit, 1 differing, 0 in trouble\n");
}

// The report's files, with pictures for the differing pairs only; never
// among the inputs.
TEST_F(DiffTool, WritesAReportWithPicturesOfDifferingPairsOnly)
{
    WriteBoth("equal.bmp", Picture(5, 4), Picture(5, 4));
    WriteBoth("changed.bmp", Picture(5, 4), Picture(5, 4, Changed));
    const auto report = m_dir.Path() / "report";
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    EXPECT_EQ(Run({"--report", Quote(report), a, b}).status, 1);
    for (const char* file : {"index.html", "report.js", "report.css"})
        EXPECT_FALSE(ReadFile(report / file).empty()) << file;
    const std::string data = ReadFile(report / "data.js");
    EXPECT_EQ(data.rfind("window.tobrelReport = {", 0), 0u);
    const auto json = nlohmann::json::parse(data.substr(data.find('{'), data.rfind('}') - data.find('{') + 1));
    EXPECT_EQ(json["summary"]["differing"], 1);
    ASSERT_EQ(json["pairs"].size(), 2u);
    EXPECT_EQ(json["pairs"][0]["images"], "pairs/0.js");
    EXPECT_FALSE(json["pairs"][1].contains("images"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(report / "pairs"), {}), 1);
    const std::string pictures = ReadFile(report / "pairs" / "0.js");
    EXPECT_EQ(pictures.rfind("tobrelReportPair(document.currentScript, {\"diff\": \"data:image/png;base64,iVBORw0KGgo", 0), 0u);

    // A picture longer than a browser shows well comes reduced, the marks of
    // every pixel kept; the page reads the pixel under the pointer in
    // proportion.
    const auto corner = [](int x, int y) {
        Rgb c = Gradient(x, y);
        c.g = uint8_t(c.g + (x == 4099 && y == 5 ? 60 : 0));
        return c;
    };
    const auto wideA = m_dir.WriteBmp("wide-a.bmp", Picture(4100, 6)), wideB = m_dir.WriteBmp("wide-b.bmp", Picture(4100, 6, corner));
    EXPECT_EQ(Run({"--report", Quote(m_dir.Path() / "wide"), Quote(wideA), Quote(wideB)}).status, 1);
    const std::string script = ReadFile(m_dir.Path() / "wide" / "pairs" / "0.js");
    const auto picture = [&](const std::string& key) {
        const size_t from = script.find("\"" + key + "\": \"data:image/png;base64,");
        const size_t start = script.find(',', from) + 1;
        const std::string text = script.substr(start, script.find('"', start) - start);
        std::string bytes;
        uint32_t bits = 0;
        int count = 0;
        for (const char c : text) {
            const char* at = std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", c);
            if (c == '=' || !at)
                break;
            bits = bits << 6 | uint32_t(at - "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
            if ((count += 6) >= 8)
                bytes += char(bits >> (count -= 8));
        }
        const auto file = m_dir.Write(key + ".png", std::vector<uint8_t>(bytes.begin(), bytes.end()));
        CImageFile png;
        CImage image;
        EXPECT_EQ(png.Open(file.string()), Trouble::None) << key;
        EXPECT_EQ(png.Decode(3, image), Trouble::None) << key;
        return image;
    };
    for (const char* key : {"diff", "expected", "actual"}) {
        const CImage image = picture(key);
        EXPECT_EQ(image.View().width, 2050) << key;
        EXPECT_EQ(image.View().height, 3) << key;
    }
    const CImage diff = picture("diff");
    const uint8_t* marked = diff.View().Row(2) + 3 * 2049;
    EXPECT_EQ((Rgb{marked[2], marked[1], marked[0]}), (Rgb{255, 0, 0}));
    // The other pixels: the first picture's pixel each stands for, dimmed to
    // a third over a base of 24 in the difference image, as it is in the
    // first picture.
    const CImage expected = picture("expected");
    int wrong = 0;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2050; ++x) {
            const Rgb source = Gradient(2 * x, 2 * y);
            const uint8_t* dimmed = diff.View().Row(y) + 3 * x;
            const uint8_t* kept = expected.View().Row(y) + 3 * x;
            wrong += (x != 2049 || y != 2) && (Rgb{dimmed[2], dimmed[1], dimmed[0]}) !=
                                                  (Rgb{uint8_t(source.r / 3 + 24), uint8_t(source.g / 3 + 24),
                                                       uint8_t(source.b / 3 + 24)});
            wrong += (Rgb{kept[2], kept[1], kept[0]}) != source;
        }
    }
    EXPECT_EQ(wrong, 0);

    const Outcome inside = Run({"--report", Quote(m_dir.Path() / "A" / "report"), a, b});
    EXPECT_EQ(inside.status, 2);
    EXPECT_NE(inside.err.find("must lie apart from the inputs"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "A" / "report"));
}

// Three jobs with --shard compare every pair once between them, and --merge
// of their JSON gives what one run over the folders gives.
TEST_F(DiffTool, SplitsFoldersIntoSharesAndMergesThem)
{
    for (int i = 0; i < 12; ++i) {
        const std::string name = "page-" + std::to_string(i) + (i % 4 ? ".bmp" : "/nested.bmp");
        WriteBoth(name, Picture(5, 4), Picture(5, 4, i % 3 ? Gradient : Changed));
    }
    m_dir.WriteBmp("A/only-here.bmp", Picture(2, 2));
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    const Outcome whole = Run({"--threshold", "0.05", a, b});
    std::vector<std::string> shards, seen;
    for (int k = 1; k <= 3; ++k) {
        const auto file = m_dir.Path() / ("shard-" + std::to_string(k) + ".json");
        std::ofstream(file) << Run({"--json", "--threshold", "0.05", "--shard", std::to_string(k) + "/3", a, b}).out;
        shards.push_back(Quote(file));
        const auto json = nlohmann::json::parse(ReadFile(file));
        EXPECT_EQ(json["shard"], (nlohmann::json{{"index", k}, {"count", 3}}));
        EXPECT_LT(json["pairs"].size(), 13u) << "share " << k;
        for (const auto& pair : json["pairs"])
            seen.push_back(pair["path"]);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen.size(), 13u);
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());

    const Outcome merged = Run({"--merge", shards[2], shards[0], shards[1]});
    EXPECT_EQ(merged.status, whole.status);
    EXPECT_EQ(merged.out, whole.out);
    EXPECT_EQ(merged.status, 2);  // the file on one side only

    // Jobs that name the folders their own way split the pairs alike.
    std::vector<std::string> spelled;
    for (int k = 1; k <= 3; ++k) {
        const auto file = m_dir.Path() / ("spelled-" + std::to_string(k) + ".json");
        const std::string dir = (k == 2 ? m_dir.Path() / "." / "A" : m_dir.Path() / "A").string();
        std::ofstream(file) << Run({"--json", "--threshold", "0.05", "--shard", std::to_string(k) + "/3",
                                    Quote(dir), b}).out;
        spelled.push_back(Quote(file));
    }
    const auto paths = [](const std::string& json) {
        std::vector<std::pair<std::string, nlohmann::json>> found;
        const auto document = nlohmann::json::parse(json);
        for (const auto& pair : document["pairs"])
            found.emplace_back(pair["path"], pair.value("count", nlohmann::json()));
        return found;
    };
    std::vector<std::string> wholeJson = {"--json", "--threshold", "0.05", a, b};
    spelled.insert(spelled.begin(), {"--merge", "--json"});
    EXPECT_EQ(paths(Run(spelled).out), paths(Run(wholeJson).out));

    // Merged shards' reports (folders named with a trailing separator, as
    // people write them): every differing pair keeps pictures of its own.
    std::vector<std::string> reported = {"--merge", "--report", Quote(m_dir.Path() / "merged")};
    for (int k = 1; k <= 3; ++k) {
        const auto file = m_dir.Path() / ("r" + std::to_string(k) + ".json");
        std::ofstream(file) << Run({"--json", "--threshold", "0.05", "--report", Quote(m_dir.Path() / ("rt-" + std::to_string(k) + "/")),
                                    "--shard", std::to_string(k) + "/3", a, b}).out;
        reported.push_back(Quote(file));
    }
    const Outcome mergedReport = Run(reported);
    EXPECT_EQ(mergedReport.status, 2) << mergedReport.err;
    std::set<std::string> pictures;
    int differing = 0;
    const std::string data = ReadFile(m_dir.Path() / "merged" / "data.js");
    const auto document = nlohmann::json::parse(data.substr(data.find('{'), data.rfind('}') - data.find('{') + 1));
    for (const auto& pair : document["pairs"]) {
        if (!pair.contains("images"))
            continue;
        ++differing;
        pictures.insert(pair["images"].get<std::string>());
        EXPECT_FALSE(ReadFile(m_dir.Path() / "merged" / pair["images"].get<std::string>()).empty()) << pair["images"];
    }
    EXPECT_EQ(differing, 4);
    EXPECT_EQ(pictures.size(), 4u);

    // Shards that are not one split of one run are refused.
    const auto other = m_dir.Path() / "other-rule.json";
    std::ofstream(other) << Run({"--json", "--shard", "2/3", a, b}).out;
    const auto half = m_dir.Path() / "half.json";
    std::ofstream(half) << Run({"--json", "--threshold", "0.05", "--shard", "2/2", a, b}).out;
    const auto notShard = m_dir.Path() / "not-a-shard.json";
    std::ofstream(notShard) << Run({"--json", a, b}).out;
    struct Case { std::vector<std::string> args; std::string says; };
    const Case refused[] = {
        {{"--merge", shards[0], shards[1]}, "1 of the 3 shares are missing"},
        {{"--merge", shards[0], shards[1], shards[1]}, "does not fit a split into 3"},
        {{"--merge", shards[0], Quote(half)}, "does not fit a split into 3"},
        {{"--merge", shards[0], Quote(other), shards[2]}, "another rule"},
        {{"--merge", Quote(notShard)}, "not the JSON of a folder run with --shard"},
        {{"--merge", "--tolerance", "3", shards[0]}, "--merge takes only --json, --report, --junit and --markdown"},
        {{"--shard", "0/3", a, b}, "--shard takes K/N"},
        {{"--shard", "4/3", a, b}, "--shard takes K/N"},
        {{"--shard", "1/2", m_first, m_second}, "splits folders"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Outcome result = Run(c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
}

// JUnit XML and Markdown for CI: a test case per pair, a failure with the
// count, limit and regions for a pair over its limit, an error for trouble;
// the same files from a run and from the merge of its shards; never written
// over an input.
TEST_F(DiffTool, WritesJUnitAndMarkdownResultsForRunsAndMerges)
{
    const auto spotted = [](int x, int y) {
        Rgb c = Gradient(x, y);
        if ((x < 2 && y < 2) || (x == 8 && y > 4))
            c.r = uint8_t(c.r + 90);
        return c;
    };
    WriteBoth("same.bmp", Picture(10, 8), Picture(10, 8));
    WriteBoth("over & 'out'.bmp", Picture(10, 8), Picture(10, 8, spotted));
    WriteBoth("within.bmp", Picture(10, 8), Picture(10, 8, Changed));
    WriteBoth("sizes.bmp", Picture(10, 8), Picture(9, 8));
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    const auto junit = m_dir.Path() / "results.xml", markdown = m_dir.Path() / "summary.md";
    const std::vector<std::string> rule = {"--max-diff-pixels", "3", "--junit", Quote(junit), "--markdown", Quote(markdown)};
    std::vector<std::string> args = rule;
    args.insert(args.end(), {a, b});
    EXPECT_EQ(Run(args).status, 2);
    const std::string xml = ReadFile(junit), md = ReadFile(markdown);

    const auto count = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(xml, "<testcase "), 4u);
    EXPECT_EQ(count(xml, "<failure "), 1u);
    EXPECT_EQ(count(xml, "<error "), 1u);
    EXPECT_NE(xml.find("<testsuite name=\""), std::string::npos);
    EXPECT_NE(xml.find(" tests=\"4\" failures=\"1\" errors=\"1\" skipped=\"0\">"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name=\"over &amp; &apos;out&apos;.bmp\">\n      <failure type=\"differing\" "
                       "message=\"7 of 80 pixels differ (limit 3 pixels)\">"),
              std::string::npos) << xml;
    EXPECT_NE(xml.find("region 0:0-1:1 (4 pixels)\nregion 8:5-8:7 (3 pixels)"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<error type=\"trouble 104\""), std::string::npos) << xml;
#ifndef _WIN32
    EXPECT_EQ(std::system(("xmllint --noout --schema " + Quote(TOBREL_JUNIT_SCHEMA) + " " + Quote(junit) +
                           " 2>/dev/null").c_str()),
              0) << xml;
#endif

    EXPECT_EQ(md.rfind("## tobrel-diff: ", 0), 0u) << md;
    EXPECT_NE(md.find("**2 of 4 pairs fail**: 1 same, 1 within the limit, 1 differing, 1 in trouble."),
              std::string::npos) << md;
    EXPECT_NE(md.find("### Failing pairs\n\n| pair | differing pixels | limit | regions |\n|---|---|---|---|\n"
                      "| over & 'out'.bmp | 7 of 80 pixels differ | 3 pixels | 0:0-1:1 (4 pixels)<br>"
                      "8:5-8:7 (3 pixels) |\n"),
              std::string::npos) << md;
    EXPECT_NE(md.find("### In trouble\n\n| pair | trouble |\n|---|---|\n| sizes.bmp | "), std::string::npos) << md;

    // The shards merged write the same files.
    std::vector<std::string> merge = {"--merge", "--junit", Quote(m_dir.Path() / "m.xml"), "--markdown",
                                      Quote(m_dir.Path() / "m.md")};
    for (int k = 1; k <= 2; ++k) {
        const auto file = m_dir.Path() / ("s" + std::to_string(k) + ".json");
        std::ofstream(file) << Run({"--json", "--max-diff-pixels", "3", "--shard", std::to_string(k) + "/2", a, b}).out;
        merge.push_back(Quote(file));
    }
    EXPECT_EQ(Run(merge).status, 2);
    EXPECT_EQ(ReadFile(m_dir.Path() / "m.xml"), xml);
    EXPECT_EQ(ReadFile(m_dir.Path() / "m.md"), md);

    // One pair that passes: one test case, no failure.
    EXPECT_EQ(Run({"--junit", Quote(junit), "--markdown", Quote(markdown), m_first, m_first}).status, 0);
    EXPECT_EQ(count(ReadFile(junit), "<testcase "), 1u);
    EXPECT_EQ(count(ReadFile(junit), "<failure"), 0u);
    EXPECT_NE(ReadFile(markdown).find("**All 1 pair passes**"), std::string::npos);

    // Never over an input, an input folder's file or a shard's document.
    const std::string input = ReadFile(m_dir.Path() / "first.bmp");
    const struct { std::vector<std::string> args; std::filesystem::path untouched; } refusals[] = {
        {{"--junit", m_first, m_first, m_second}, m_dir.Path() / "first.bmp"},
        {{"--markdown", Quote(m_dir.Path() / "A" / "new.md"), a, b}, m_dir.Path() / "A" / "new.md"},
        {{"--junit", Quote(m_dir.Path() / "B" / "new.xml"), a, b}, m_dir.Path() / "B" / "new.xml"},
        {{"--merge", "--junit", Quote(m_dir.Path() / "s1.json"), Quote(m_dir.Path() / "s1.json"),
          Quote(m_dir.Path() / "s2.json")}, m_dir.Path() / "s1.json"},
    };
    for (const auto& r : refusals) {
        const std::string before = ReadFile(r.untouched);
        const Outcome refused = Run(r.args);
        EXPECT_EQ(refused.status, 2) << refused.err;
        EXPECT_NE(refused.err.find("would replace or lie inside an input"), std::string::npos) << refused.err;
        EXPECT_EQ(ReadFile(r.untouched), before);
    }
    EXPECT_EQ(ReadFile(m_dir.Path() / "first.bmp"), input);
}

// --accept copies a failing pair's actual file over its expected one, and
// nothing else: not pairs that passed or were not chosen, not files that
// changed since the run, not through a link out of the expected folder,
// not where a forged document points.
TEST_F(DiffTool, AcceptsFailingPairsOnlyAsTheRunSawThem)
{
    const auto spotted = [](int x, int y) {
        Rgb c = Gradient(x, y);
        c.g = uint8_t(x < 2 ? c.g + 90 : c.g);
        return c;
    };
    WriteBoth("changed.bmp", Picture(5, 4), Picture(5, 4, spotted));
    WriteBoth("other.bmp", Picture(5, 4), Picture(5, 4, spotted));
    WriteBoth("later.bmp", Picture(5, 4), Picture(5, 4, spotted));
    WriteBoth("same.bmp", Picture(5, 4), Picture(5, 4));
    WriteBoth("sub/within.bmp", Picture(5, 4), Picture(5, 4, Changed));  // 1 pixel at tolerance 10
    const auto results = m_dir.Path() / "results.json";
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    const Outcome run = Run({"--json", "--tolerance", "10", "--max-diff-pixels", "1", a, b});
    EXPECT_EQ(run.status, 1);
    std::ofstream(results) << run.out;
    const auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.Path()))
            if (entry.is_regular_file() && entry.path().filename() != "stdout.txt" && entry.path().filename() != "stderr.txt")
                files[entry.path().string()] = ReadFile(entry.path());
        return files;
    };
    const auto path = [&](const char* side, const char* name) {
        return (m_dir.Path() / side / std::filesystem::path(name).make_preferred()).string();
    };

    // Only the chosen pair; the pair within the limit is not failing.
    std::ofstream(path("B", "later.bmp"), std::ios::app) << "changed after the run";
    auto before = snapshot();
    Outcome accepted = Run({"--accept", Quote(results), "--only", "\"*ed.bmp\""});
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    EXPECT_NE(accepted.out.find("accepted changed.bmp: "), std::string::npos) << accepted.out;
    auto after = snapshot();
    EXPECT_EQ(after[path("A", "changed.bmp")], before[path("B", "changed.bmp")]);
    after[path("A", "changed.bmp")] = before[path("A", "changed.bmp")];
    EXPECT_EQ(after, before);

    // Every failing pair: one already accepted, one changed since, refused.
    accepted = Run({"--accept", Quote(results)});
    EXPECT_EQ(accepted.status, 2);
    EXPECT_NE(accepted.out.find("already accepted changed.bmp"), std::string::npos) << accepted.out;
    EXPECT_NE(accepted.out.find("accepted other.bmp: "), std::string::npos) << accepted.out;
    EXPECT_NE(accepted.err.find("later.bmp: " + Printable(path("B", "later.bmp")) + " changed since the run"),
              std::string::npos) << accepted.err;
    // Pairs that passed are not the command's business, not even to refuse.
    EXPECT_EQ(accepted.err.find("within.bmp"), std::string::npos) << accepted.err;
    EXPECT_EQ(accepted.err.find("same.bmp"), std::string::npos) << accepted.err;
    EXPECT_EQ(ReadFile(path("A", "later.bmp")), before[path("A", "later.bmp")]);
    EXPECT_EQ(ReadFile(path("A", "sub/within.bmp")), before[path("A", "sub/within.bmp")]);

    // A document that points out of the folders is refused, whatever it says.
    WriteBoth("forged.bmp", Picture(5, 4), Picture(5, 4, spotted));
    const auto forged = m_dir.Path() / "forged.json";
    auto document = nlohmann::json::parse(Run({"--json", a, b}).out);
    for (auto& pair : document["pairs"])
        if (pair["path"] == "forged.bmp")
            pair["path"] = "../A/forged.bmp";
    std::ofstream(forged) << document.dump();
    before = snapshot();
    accepted = Run({"--accept", Quote(forged), "--only", "\"*forged*\""});
    EXPECT_EQ(accepted.status, 2);
    EXPECT_NE(accepted.err.find("its path leaves the folders"), std::string::npos) << accepted.err;
    EXPECT_EQ(snapshot(), before);
#ifndef _WIN32
    // An expected file that is a link out of its folder is not replaced.
    const auto outside = m_dir.Write("outside.bmp", BuildBmp(Picture(5, 4)));
    std::filesystem::remove(path("A", "forged.bmp"));
    std::filesystem::create_symlink(outside, path("A", "forged.bmp"));
    std::ofstream(forged) << Run({"--json", a, b}).out;
    before = snapshot();
    accepted = Run({"--accept", Quote(forged), "--only", "forged.bmp"});
    EXPECT_EQ(accepted.status, 2);
    EXPECT_NE(accepted.err.find("leads out of its folder"), std::string::npos) << accepted.err;
    EXPECT_EQ(snapshot(), before);
#endif
    EXPECT_EQ(Run({"--accept", Quote(results), a}).status, 2);
    EXPECT_EQ(Run({"--only", "x", a, b}).status, 2);
}

// --only's patterns, as people write them and as the report quotes paths
// (with *, ? and backslashes taken as they stand).
TEST(Accept, OnlyMatchesPathsByGlob)
{
    const struct { const char* pattern; const char* path; bool matches; } rows[] = {
        {"", "", true},                {"*", "a/b.png", true},          {"login/*", "login/a.png", true},
        {"login/*", "logout/a.png", false}, {"*.png", "a/b.png", true},  {"*.png", "a.png.bmp", false},
        {"a?c", "abc", true},          {"a?c", "ac", false},            {"*a*b*", "xaxxbx", true},
        {"a\\*b", "a*b", true},         {"a\\*b", "axb", false},        {"a\\?", "a?", true},
        {"a\\\\b", "a\\b", true},       {"abc", "abcd", false},          {"**", "", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(GlobMatches(row.pattern, row.path), row.matches) << row.pattern << " " << row.path;
}

// The merged JSON of a run's shards is the unsplit run's JSON, member for
// member: counts, lists, regions, compared pixels, troubles and summary.
TEST_F(DiffTool, MergesShardsIntoTheJsonOfTheWholeRun)
{
    const auto spotted = [](int x, int y) {
        Rgb c = Gradient(x, y);
        if ((x < 3 && y < 2) || (x == 8 && y > 4))
            c.r = uint8_t(c.r + 90);
        return c;
    };
    for (int i = 0; i < 9; ++i)
        WriteBoth("p" + std::to_string(i) + ".bmp", Picture(10, 8), Picture(10, 8, i % 2 ? spotted : Gradient));
    m_dir.WriteBmp("B/only-here.bmp", Picture(2, 2));
    // An animation: noted as compared by its first picture, through the merge too.
    for (const char* side : {"A", "B"})
        std::filesystem::copy_file("format-files/gif-animated.gif", m_dir.Path() / side / "anim.gif");
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    const std::vector<std::string> rule = {"--json", "--list", "--threshold", "0.05", "--ignore", "9:0-9:0",
                                           "--max-diff-pixels", "6"};
    std::vector<std::string> args = rule;
    args.insert(args.end(), {a, b});
    const Outcome whole = Run(args);
    std::vector<std::string> merge = {"--merge", "--json"};
    for (int k = 1; k <= 3; ++k) {
        const auto file = m_dir.Path() / ("s" + std::to_string(k) + ".json");
        args = rule;
        args.insert(args.end(), {"--shard", std::to_string(k) + "/3", a, b});
        std::ofstream(file) << Run(args).out;
        merge.push_back(Quote(file));
    }
    const Outcome merged = Run(merge);
    EXPECT_EQ(merged.status, whole.status);
    const auto expected = nlohmann::json::parse(whole.out), got = nlohmann::json::parse(merged.out);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(expected["pairs"].size(), 11u);
    EXPECT_EQ(expected["pairs"][0]["more_pictures"], nlohmann::json({"first", "second"}));
    EXPECT_EQ(expected["pairs"][3]["regions"].size(), 2u);
    EXPECT_EQ(expected["pairs"][3]["compared"], 79);
}

// A shard document that is not what a run writes is refused as a whole,
// named with the member at fault, before anything is written; so is one of
// another run.
TEST_F(DiffTool, RefusesMalformedShardDocumentsNamingTheMember)
{
    for (int i = 0; i < 6; ++i)
        WriteBoth("p" + std::to_string(i) + ".bmp", Picture(5, 4), Picture(5, 4, i % 2 ? Changed : Gradient));
    const std::string a = Quote(m_dir.Path() / "A"), b = Quote(m_dir.Path() / "B");
    nlohmann::json shards[2];
    for (int k = 0; k < 2; ++k)
        shards[k] = nlohmann::json::parse(
            Run({"--json", "--max-diff-pixels", "3", "--shard", std::to_string(k + 1) + "/2", a, b}).out);
    const auto withPair = [&](int k) -> nlohmann::json& {
        for (auto& pair : shards[k]["pairs"]) {
            if (pair["count"] == 3)
                return pair;
        }
        return shards[k]["pairs"][0];
    };
    const int k = withPair(0)["count"] == 3 ? 0 : 1;
    struct Case { const char* name; std::function<void(nlohmann::json&, nlohmann::json&)> change; std::string says; };
    const Case cases[] = {
        {"count a string", [](auto&, auto& p) { p["count"] = "x"; }, "count: not a whole number"},
        {"count 1e30", [](auto&, auto& p) { p["count"] = 1e30; }, "count: not a whole number"},
        {"count 2^64-1", [](auto&, auto& p) { p["count"] = UINT64_MAX; }, "count: not a whole number"},
        {"count negative", [](auto&, auto& p) { p["count"] = -1; }, "count: not a whole number"},
        {"path a number", [](auto&, auto& p) { p["path"] = 5; }, "path: not a string"},
        {"compared missing", [](auto&, auto& p) { p.erase("compared"); }, "compared: missing"},
        {"passed forged", [](auto&, auto& p) { p["passed"] = false; }, "passed: does not follow"},
        {"bounds outside", [](auto&, auto& p) { p["bounds"]["right"] = 5; }, "bounds.right: not a whole number"},
        {"an empty difference", [](auto&, auto& p) { p["differences"] = {{}, {}, {}}; }, "not a pair [x, y]"},
        {"trouble code 0", [](auto&, auto& p) { p = {{"path", p["path"]}, {"first", "a"}, {"second", "b"}, {"trouble", {{"code", 0}, {"message", ""}}}}; }, "trouble.code"},
        {"more pictures a word", [](auto&, auto& p) { p["more_pictures"] = "first"; }, "more_pictures: not a list"},
        {"more pictures of a third", [](auto&, auto& p) { p["more_pictures"] = {"third"}; }, "more_pictures: not a list"},
        {"pictures outside", [](auto&, auto& p) { p["images"] = "/etc/hostname"; }, "images: not the name"},
        {"pictures above", [](auto&, auto& p) { p["images"] = "pairs/x/../../../secret.js"; }, "images: not the name"},
        {"another share's pair", [](auto& d, auto&) { d["pairs"].push_back(d["pairs"][0]); d["pairs"].back()["path"] = "zz.bmp"; d["pairs"].back()["first"] = "x"; }, ""},
        {"other folders", [](auto& d, auto&) { d["first"] = "elsewhere"; }, "other folders"},
        {"another listing", [](auto& d, auto&) { d["listing"] = "0000000000000000"; }, "other folders"},
        {"another rule", [](auto& d, auto&) { d["max_diff_pixels"] = 4; }, ""},
        {"no shard", [](auto& d, auto&) { d.erase("shard"); }, "not the JSON of a folder run with --shard"},
        {"shard index 0", [](auto& d, auto&) { d["shard"]["index"] = 0; }, "shard.index"},
        {"foreign", [](auto& d, auto&) { d = {{"hello", 1}}; }, "not the JSON of a folder run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json document = shards[k];
        nlohmann::json* pair = nullptr;
        for (auto& candidate : document["pairs"])
            pair = candidate["count"] == 3 ? &candidate : pair;
        ASSERT_NE(pair, nullptr);
        c.change(document, *pair);
        const auto file = m_dir.Path() / "bad.json", good = m_dir.Path() / "good.json";
        std::ofstream(file) << document.dump();
        std::ofstream(good) << shards[1 - k].dump();
        const Outcome result = Run({"--merge", "--report", Quote(m_dir.Path() / "merged"), Quote(good), Quote(file)});
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find("bad.json: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "merged"));
    }
    const auto deep = m_dir.Path() / "deep.json";
    std::ofstream(deep) << std::string(100000, '[') + std::string(100000, ']');
    for (const std::string& document : {Quote(deep), Quote(m_dir.Path() / "A")}) {
        const Outcome result = Run({"--merge", document});
        EXPECT_EQ(result.status, 2) << document;
        EXPECT_FALSE(result.err.empty());
    }
}

// Folders built here: a pair the same, one differing, one of another size,
// one not a bitmap, and files on one side only, some in a subfolder, with
// spaces and Japanese in their names.
TEST_F(DiffTool, ComparesFoldersPairByPairInPathOrder)
{
    const auto expected = m_dir.Path() / "expected", actual = m_dir.Path() / "actual";
    for (const auto& folder : {expected / u8"sub フォルダ", actual / u8"sub フォルダ"})
        std::filesystem::create_directories(folder);
    TempDir& d = m_dir;
    const auto both = [&](const std::string& name, const BmpSpec& a, const BmpSpec& b) {
        d.WriteBmp("expected/" + name, a);
        d.WriteBmp("actual/" + name, b);
    };
    both("a same.bmp", Picture(5, 4), Picture(5, 4));
    both("sub フォルダ/b.bmp", Picture(5, 4), Picture(5, 4, Changed));
    both("c.bmp", Picture(5, 4), Picture(4, 4));
    d.Write("expected/d.bmp", {'n', 'o'});
    d.WriteBmp("actual/d.bmp", Picture(5, 4));
    d.WriteBmp("expected/e.bmp", Picture(5, 4));
    d.WriteBmp("actual/f.bmp", Picture(5, 4));

    const Outcome text = Run({"--tolerance", "2", Quote(expected), Quote(actual)});
    EXPECT_EQ(text.status, 2);
    std::istringstream lines(text.out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);)
        got.push_back(line);
    ASSERT_EQ(got.size(), 7u) << text.out;
    EXPECT_EQ(got[0], "a same.bmp: same");
    EXPECT_NE(got[1].find("c.bmp: "), std::string::npos);
    EXPECT_NE(got[1].find("２つのImageの幅または高さが異なります (5x4, 4x4)"), std::string::npos);
    EXPECT_NE(got[2].find("Bitmap ファイルではありません"), std::string::npos);
    EXPECT_NE(got[3].find("only in the first folder"), std::string::npos);
    EXPECT_NE(got[4].find("only in the second folder"), std::string::npos);
    EXPECT_EQ(got[5], "sub フォルダ/b.bmp: 2");
    EXPECT_EQ(got[6], "6 pairs: 1 same, 1 differing, 4 in trouble");

    const auto json = nlohmann::json::parse(Run({"--json", Quote(expected), Quote(actual)}).out);
    ASSERT_EQ(json["pairs"].size(), 6u);
    EXPECT_EQ(json["pairs"][5]["path"], "sub フォルダ/b.bmp");
    EXPECT_EQ(json["pairs"][5]["count"], 3);
    EXPECT_EQ(json["pairs"][2]["trouble"]["code"], 107);
    EXPECT_EQ(json["pairs"][3]["trouble"]["code"], 122);  // only in the first folder
    EXPECT_EQ(json["pairs"][4]["trouble"]["code"], 123);
    EXPECT_EQ(json["summary"], (nlohmann::json{{"pairs", 6}, {"same", 1}, {"passed", 0}, {"differing", 1}, {"trouble", 4}}));

    // Only the troubles gone: 1; a difference image for the differing pair alone.
    for (const char* name : {"c.bmp", "d.bmp", "e.bmp"})
        std::filesystem::remove(expected / name);
    for (const char* name : {"c.bmp", "d.bmp", "f.bmp"})
        std::filesystem::remove(actual / name);
    const auto images = m_dir.Path() / "images";
    const Outcome imaged = Run({"--diff-image", Quote(images), Quote(expected), Quote(actual)});
    EXPECT_EQ(imaged.status, 1) << imaged.out << imaged.err;
    EXPECT_TRUE(std::filesystem::exists(images / u8"sub フォルダ" / "b.bmp"));
    EXPECT_FALSE(std::filesystem::exists(images / "a same.bmp"));
}

// Writing the difference image over an input would destroy it; a folder
// that is not there cannot take it. Either way the inputs stay whole.
TEST_F(DiffTool, NeverDestroysAnInputWithTheDifferenceImage)
{
    const auto first = m_dir.Path() / "first.bmp";
    const std::string before = ReadFile(first);
    for (const std::string& out : {m_first, m_second, Quote(m_dir.Path() / "no such folder" / "d.bmp")}) {
        SCOPED_TRACE(out);
        const Outcome refused = Run({"--diff-image", out, m_first, m_second});
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(ReadFile(first), before);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), 4);  // two inputs, two outputs
}

#ifndef _WIN32
// What only POSIX file systems let happen: names with control characters,
// named pipes, outputs that cannot be written, and folders linked in a loop.
TEST_F(DiffTool, StaysSafeWithHostileNamesPipesAndOutputs)
{
    const std::string forged = "a\nfake: 0\x1b[2J.bmp";
    m_dir.WriteBmp("a\nfake: 0\x1b[2J.bmp", Picture(4, 4));
    const Outcome named = Run({Quote(m_dir.Path() / "a\nfake: 0\x1b[2J.bmp"), m_second});
    EXPECT_EQ(named.status, 2);
    EXPECT_EQ(named.err.find('\n'), named.err.size() - 1) << named.err;
    EXPECT_EQ(named.err.find('\x1b'), std::string::npos) << named.err;
    EXPECT_NE(named.err.find("a\\x0afake: 0\\x1b[2J.bmp"), std::string::npos) << named.err;
    // A backslash of the name's own cannot pass for an escape.
    m_dir.WriteBmp("back\\x0a.bmp", Picture(4, 4));
    const Outcome slashed = Run({Quote(m_dir.Path() / "back\\x0a.bmp"), m_second});
    EXPECT_NE(slashed.err.find("back\\\\x0a.bmp"), std::string::npos) << slashed.err;
    // Folder lines name the pair the same way.
    for (const char* side : {"x", "y"}) {
        std::filesystem::create_directory(m_dir.Path() / side);
        m_dir.WriteBmp(std::string(side) + "/a\nb.bmp", Picture(2, 2));
    }
    EXPECT_EQ(Run({Quote(m_dir.Path() / "x"), Quote(m_dir.Path() / "y")}).out,
              "a\\x0ab.bmp: same\n1 pairs: 1 same, 0 differing, 0 in trouble\n");

    const auto pipe = m_dir.Path() / "pipe.bmp";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const Outcome piped = Run({Quote(pipe), m_second});
    EXPECT_EQ(piped.status, 2);
    EXPECT_NE(piped.err.find("ファイルを読み込めませんでした"), std::string::npos);
    ImageBuffer image;
    EXPECT_EQ(LoadBmpFile(image, WidePath(pipe).c_str()), IDS_CANNOT_READ);

    for (const auto& args : {std::vector<std::string>{m_first, m_second}, {"--list", m_first, m_second},
                             {"--json", m_first, m_second}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(Run(args, "/dev/full").status, 2);
    }

    std::filesystem::create_directories(m_dir.Path() / "loop" / "inner");
    std::filesystem::create_directory_symlink("..", m_dir.Path() / "loop" / "inner" / "back");
    m_dir.WriteBmp("loop/x.bmp", Picture(2, 2));
    EXPECT_EQ(Run({Quote(m_dir.Path() / "loop"), Quote(m_dir.Path() / "loop")}).out, "x.bmp: same\n1 pairs: 1 same, 0 differing, 0 in trouble\n");
}

// Outputs that are not a regular file: a device is written in place and
// stays a device, a pipe without a reader is refused at once, a link is
// followed to its file and stays a link; a name that cannot take a file,
// or a write that fails, is trouble and leaves nothing behind.
TEST_F(DiffTool, WritesEachKindOfOutputAsWhatItIs)
{
    namespace fs = std::filesystem;
    const fs::path dir = m_dir.Path();
    struct stat info;
    if (geteuid() == 0) {
        // Device nodes of the test's own, never the system's.
        ASSERT_EQ(mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        ASSERT_EQ(mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        EXPECT_EQ(Run({"--diff-image", Quote(dir / "full"), m_first, m_second}).status, 2);
        EXPECT_EQ(Run({"--diff-image", Quote(dir / "null"), m_first, m_second}).status, 1);
        for (const char* name : {"full", "null"}) {
            ASSERT_EQ(lstat((dir / name).c_str(), &info), 0);
            EXPECT_TRUE(S_ISCHR(info.st_mode)) << name;
        }
    }

    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const Outcome readerless = Run({"--diff-image", Quote(dir / "pipe"), m_first, m_second});
    EXPECT_EQ(readerless.status, 2);
    EXPECT_NE(readerless.err.find("could not be written"), std::string::npos) << readerless.err;
    // With a reader, the whole image flows through the pipe.
    const std::string piped = Quote(dir / "piped.bmp");
    EXPECT_EQ(std::system(("timeout 10 cat " + Quote(dir / "pipe") + " > " + piped + " & sleep 0.2; " + Tool() +
                           " --diff-image " + Quote(dir / "pipe") + " " + m_first + " " + m_second + " > /dev/null; status=$?; wait; exit $status")
                              .c_str()) >> 8, 1);
    EXPECT_EQ(fs::file_size(dir / "piped.bmp"), 54u + 16 * 4);

    fs::create_directory(dir / "elsewhere");
    m_dir.Write("elsewhere/old.bmp", {'o', 'l', 'd'});
    fs::create_symlink(dir / "elsewhere" / "old.bmp", dir / "link.bmp");
    fs::create_symlink(dir / "nowhere" / "x.bmp", dir / "dangling.bmp");
    EXPECT_EQ(Run({"--diff-image", Quote(dir / "link.bmp"), m_first, m_second}).status, 1);
    EXPECT_TRUE(fs::is_symlink(dir / "link.bmp"));
    EXPECT_EQ(fs::file_size(dir / "elsewhere" / "old.bmp"), 54u + 16 * 4);
    for (const auto& refused : {dir / "dangling.bmp", dir / "elsewhere"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(Run({"--diff-image", Quote(refused), m_first, m_second}).status, 2);
    }
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.bmp"));

    // A write that fails midway (the file size limit): nothing is put in place.
    TempDir big;
    const std::string a = Quote(big.WriteBmp("a.bmp", Picture(200, 200))), b = Quote(big.WriteBmp("b.bmp", Picture(200, 200, Changed)));
    // A write that the file size limit cuts short leaves the last image in
    // place and nothing beside it, and the tool says so.
    const auto out = big.Path() / "out.bmp";
    std::ofstream(out) << "the last good image";
    EXPECT_EQ(std::system(("ulimit -f 20; " + Tool() + " --diff-image " + Quote(out) + " " + a + " " + b +
                           " 2> /dev/null").c_str()) >> 8, 2);
    EXPECT_EQ(ReadFile(out), "the last good image");
    EXPECT_EQ(std::distance(fs::directory_iterator(big.Path()), {}), 3);
    // The same when only the last bytes, flushed as the file is closed, go
    // past the limit: 10,374 bytes under one of 10,240.
    const std::string c = Quote(big.WriteBmp("c.bmp", Picture(40, 86))), d = Quote(big.WriteBmp("d.bmp", Picture(40, 86, Changed)));
    EXPECT_EQ(std::system(("ulimit -f 20; " + Tool() + " --diff-image " + Quote(out) + " " + c + " " + d +
                           " 2> /dev/null").c_str()) >> 8, 2);
    EXPECT_EQ(ReadFile(out), "the last good image");
    EXPECT_EQ(std::distance(fs::directory_iterator(big.Path()), {}), 5);
    // Report pictures that cannot be written say so, and the count stands.
    const auto said = big.Path() / "said.txt", told = big.Path() / "told.txt";
    EXPECT_EQ(std::system(("ulimit -f 8; " + Tool() + " --report " + Quote(big.Path() / "report") + " " + a + " " + b +
                           " > " + Quote(told) + " 2> " + Quote(said)).c_str()) >> 8, 2);
    EXPECT_EQ(ReadFile(told), "3\n");
    EXPECT_NE(ReadFile(said).find("the report's pictures of the pair could not be written"), std::string::npos)
        << ReadFile(said);
    for (const auto& args : {std::vector<std::string>{m_first, m_second}, {"--list", m_first, m_second},
                             {"--json", m_first, m_second}, {"--version"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(Run(args, "/dev/full").status, 2);
    }
}

// Outputs replace only what is their own: no link below an output folder
// leads a picture into an input folder, a report goes only into an empty
// folder or over a report of ours (its links removed, not followed), and two
// outputs never share a folder.
TEST_F(DiffTool, WritesOutputsOnlyOverWhatIsTheirOwn)
{
    namespace fs = std::filesystem;
    const fs::path dir = m_dir.Path();
    WriteBoth("sub/x.bmp", Picture(5, 4), Picture(5, 4, Changed));
    WriteBoth("y.bmp", Picture(5, 4), Picture(5, 4, Changed));
    WriteBoth("other/x.bmp", Picture(5, 4), Picture(5, 4));
    const auto victim = dir / "B" / "other" / "x.bmp";
    const std::string before = ReadFile(victim);
    fs::create_directories(dir / "diffs");
    fs::create_directory_symlink(dir / "B" / "other", dir / "diffs" / "sub");
    const std::string a = Quote(dir / "A"), b = Quote(dir / "B");
    const Outcome linked = Run({"--diff-image", Quote(dir / "diffs"), a, b});
    EXPECT_EQ(linked.status, 2);
    EXPECT_NE(linked.out.find("sub/x.bmp: "), std::string::npos) << linked.out;
    EXPECT_EQ(ReadFile(victim), before);
    EXPECT_TRUE(fs::exists(dir / "diffs" / "y.bmp"));

    // A folder of something else is refused, untouched.
    fs::create_directories(dir / "notes");
    std::ofstream(dir / "notes" / "index.html") << "mine";
    EXPECT_EQ(Run({"--report", Quote(dir / "notes"), a, b}).status, 2);
    EXPECT_EQ(ReadFile(dir / "notes" / "index.html"), "mine");
    // Our own report is replaced whole, and a link in it is not followed.
    const auto report = dir / "report";
    EXPECT_EQ(Run({"--report", Quote(report), a, b}).status, 1);
    std::ofstream(report / "pairs" / "stale.js") << "old";
    std::ofstream(dir / "victim.txt") << "keep";
    fs::remove(report / "report.css");
    fs::create_symlink(dir / "victim.txt", report / "report.css");
    EXPECT_EQ(Run({"--report", Quote(report), a, b}).status, 1);
    EXPECT_EQ(ReadFile(dir / "victim.txt"), "keep");
    EXPECT_FALSE(fs::exists(report / "pairs" / "stale.js"));
    EXPECT_FALSE(fs::is_symlink(report / "report.css"));

    // Two outputs in one folder, or a merge over a shard's own report.
    EXPECT_EQ(Run({"--report", Quote(dir / "out"), "--diff-image", Quote(dir / "out"), a, b}).status, 2);
    EXPECT_EQ(Run({"--report", Quote(dir / "out"), "--diff-image", Quote(dir / "out" / "d.png"), m_first, m_second}).status, 2);
    const auto shard = dir / "shard.json";
    std::ofstream(shard) << Run({"--json", "--report", Quote(report), "--shard", "1/1", a, b}).out;
    const Outcome over = Run({"--merge", "--report", Quote(report), Quote(shard)});
    EXPECT_EQ(over.status, 2);
    EXPECT_NE(over.err.find("choose another folder"), std::string::npos) << over.err;
    EXPECT_EQ(Run({"--merge", "--report", Quote(dir / "merged"), Quote(shard)}).status, 1);
}

// Difference images for folders go to a folder outside both inputs: inside
// one they would replace other pairs' inputs.
TEST_F(DiffTool, RefusesAnImageFolderInsideAnInputFolder)
{
    namespace fs = std::filesystem;
    const fs::path a = m_dir.Path() / "A", b = m_dir.Path() / "B";
    WriteBoth("a.bmp", Picture(5, 4), Picture(5, 4, Changed));
    WriteBoth("sub/a.bmp", Picture(5, 4), Picture(5, 4));
    fs::create_directory_symlink(a / "sub", m_dir.Path() / "linked");
    const std::string before = ReadFile(a / "sub" / "a.bmp");
    for (const fs::path& out : {a / "sub", a, m_dir.Path() / "linked", b / "new", m_dir.Path()}) {
        SCOPED_TRACE(out);
        const Outcome refused = Run({"--diff-image", Quote(out), Quote(a), Quote(b)});
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("outside both input folders"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(ReadFile(a / "sub" / "a.bmp"), before);
    EXPECT_FALSE(fs::exists(b / "new"));
    EXPECT_EQ(Run({Quote(a), Quote(b)}).out, "a.bmp: 3\nsub/a.bmp: same\n2 pairs: 1 same, 1 differing, 0 in trouble\n");
}

// A folder that cannot be listed is trouble, never an empty folder. Run as
// an ordinary user, since permissions do not stop root.
TEST_F(DiffTool, ReportsFoldersThatCannotBeListed)
{
    namespace fs = std::filesystem;
    const fs::path a = m_dir.Path() / "A", b = m_dir.Path() / "B";
    WriteBoth("locked/x.bmp", Picture(5, 4), Picture(5, 4, Changed));
    WriteBoth("open.bmp", Picture(5, 4), Picture(5, 4));
    if (geteuid() == 0)
        m_launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const auto run = [&](const fs::path& locked) {
        fs::permissions(locked, fs::perms::none);
        const Outcome out = Run({Quote(a), Quote(b)});
        fs::permissions(locked, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        return out;
    };
    const Outcome sub = run(a / "locked");
    const Outcome root = run(b);
    // Names that begin with the locked folder's stay in the run, and with
    // shards the folder's trouble is told by its own share only.
    WriteBoth("locked.bmp", Picture(5, 4), Picture(5, 4, Changed));
    WriteBoth("locked-old/y.bmp", Picture(5, 4), Picture(5, 4));
    const Outcome beside = run(a / "locked");
    EXPECT_NE(beside.out.find("locked.bmp: 3"), std::string::npos) << beside.out;
    EXPECT_NE(beside.out.find("locked-old/y.bmp: same"), std::string::npos) << beside.out;
    int told = 0;
    for (const char* share : {"1/3", "2/3", "3/3"}) {
        fs::permissions(a / "locked", fs::perms::none);
        const Outcome part = Run({"--shard", share, Quote(a), Quote(b)});
        fs::permissions(a / "locked", fs::perms::owner_all);
        told += part.out.find("ファイルを読み込めませんでした") != std::string::npos;
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(sub.status, 2);
    EXPECT_NE(sub.out.find("locked: " + (a / "locked").string() + ": ファイルを読み込めませんでした"), std::string::npos) << sub.out;
    EXPECT_NE(sub.out.find("2 pairs: 1 same, 0 differing, 1 in trouble"), std::string::npos) << sub.out;
    EXPECT_EQ(root.status, 2);
    EXPECT_NE(root.out.find("1 pairs: 0 same, 0 differing, 1 in trouble"), std::string::npos) << root.out;
}

// What was read of a file that changed meanwhile is no result, whether it
// was read into buffers or mapped (where a lost page reads as zeros).
TEST(ImageFile, AFileChangedWhileReadIsAReadFailure)
{
    TempDir dir;
    struct Case { const char* name; std::function<void(const std::filesystem::path&)> change; };
    const Case cases[] = {
        {"cut short", [](const auto& path) { ASSERT_EQ(truncate(path.c_str(), 100), 0); }},
        {"grown", [](const auto& path) { std::ofstream(path, std::ios::app) << "more"; }},
        {"removed", [](const auto& path) { std::filesystem::remove(path); }},
        {"rewritten", [](const auto& path) {
             std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(60).put('x');
             struct timespec later[2] = {{0, UTIME_NOW}, {2000000000, 0}};
             utimensat(AT_FDCWD, path.c_str(), later, 0);
         }},
    };
    for (const bool mapped : {false, true}) {
        if (mapped)
            GuardMappedInputs();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (mapped ? ", mapped" : ", read"));
            const auto path = dir.WriteBmp("big.bmp", Picture(512, 512));
            CImageFile file;
            ASSERT_EQ(file.Open(path.string()), Trouble::None);
            c.change(path);
            std::vector<uint8_t> buffer;
            ImageView rows;
            const bool readAll = file.ReadRows(0, 512, buffer, rows) == Trouble::None;
            unsigned sum = 0;
            for (int32_t y = 0; readAll && y < rows.height; ++y)
                sum += rows.Row(y)[0] + rows.Row(y)[3 * 511 + 2];
            EXPECT_TRUE(!readAll || file.CheckUnchanged() == Trouble::CannotRead) << sum;
        }
    }
    // A PNG read row by row: whatever its damage looks like, a file that
    // changed could not be read.
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", PNG");
        const auto path = dir.WritePng("big.png", 512, 512, [](int x, int y) {
            const auto f = [&](size_t i) { return uint8_t(i * 7 + size_t(y) * 13 + (i * i) % 251); };
            return Rgb{f(3 * size_t(x)), f(3 * size_t(x) + 1), f(3 * size_t(x) + 2)};
        });
        CImageFile file;
        ASSERT_EQ(file.Open(path.string()), Trouble::None);
        c.change(path);
        Trouble trouble = file.Start(3);
        std::vector<uint8_t> rows(512 * 3 * 64);
        for (int band = 0; band < 8 && trouble == Trouble::None; ++band)
            trouble = file.Next(64, rows.data());
        if (trouble == Trouble::None)
            trouble = file.Finish();
        EXPECT_EQ(trouble, Trouble::CannotRead);
    }
}

// A container's memory limit is found at any level of its group's path,
// under either version of control groups, and inside a namespace at the
// mount's root; the tightest room wins.
TEST(AvailableMemory, FindsTheTightestControlGroupLimit)
{
    TempDir dir;
    const auto put = [&](const std::string& name, const std::string& text) {
        std::filesystem::create_directories((dir.Path() / name).parent_path());
        std::ofstream(dir.Path() / name) << text << "\n";
    };
    put("a/b/memory.max", "max");
    put("a/b/memory.current", "100");
    put("a/memory.max", "1000000");
    put("a/memory.current", "400000");
    put("memory/x/memory.limit_in_bytes", "5000");
    put("memory/x/memory.usage_in_bytes", "1000");
    put("memory/memory.limit_in_bytes", "9223372036854771712");
    put("memory/memory.usage_in_bytes", "7");
    put("full/memory.max", "300");
    put("full/memory.current", "500");
    const std::string root = dir.Path().string();
    struct Case { const char* groups; uint64_t room; };
    const Case cases[] = {
        {"0::/a/b\n", 600000},
        {"4:memory:/x\n0::/a/b\n", 4000},
        {"4:cpu,memory:/x\n", 4000},
        {"4:cpu:/x\n", UINT64_MAX},
        {"0::/nowhere\n", UINT64_MAX},
        {"0::/full\n", 0},
        {"", UINT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.groups);
        EXPECT_EQ(ControlGroupRoom(c.groups, root), c.room);
    }
}

// Stopped while it writes, the comparer leaves no unfinished file behind.
TEST_F(DiffTool, RemovesItsUnfinishedOutputWhenInterrupted)
{
    namespace fs = std::filesystem;
    TempDir big;
    const auto a = big.WriteBmp("a.bmp", Picture(3000, 3000)), b = big.WriteBmp("b.bmp", Picture(3000, 3000, Changed));
    const fs::path out = big.Path() / "out.png";
    const pid_t child = fork();
    if (child == 0) {
        const std::string command = "exec " + Tool() + " --diff-image " + Quote(out) + " " + Quote(a) + " " + Quote(b);
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& entry : fs::directory_iterator(big.Path()))
            seen = seen || entry.path().filename().string().rfind("out.png.tmp-", 0) == 0;
        if (!seen)
            usleep(500);
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(seen) << "the output never appeared";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(std::distance(fs::directory_iterator(big.Path()), {}), 2);
}
#endif

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    g_toolPath = std::filesystem::absolute(argv[0]).parent_path() /
#ifdef _WIN32
                 "tobrel-diff.exe";
#else
                 "tobrel-diff";
#endif
    return RUN_ALL_TESTS();
}
