// Runs the built tobrel-diff on real files, as a script would.

#include "BmpBuilder.h"
#include "BmpLoader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

std::filesystem::path g_toolPath;

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

class DiffTool : public testing::Test
{
protected:
    Outcome Run(const std::vector<std::string>& args)
    {
        const auto out = m_dir.Path() / "stdout.txt";
        const auto err = m_dir.Path() / "stderr.txt";
        std::string command = Quote(g_toolPath);
        for (const auto& arg : args)
            command += " " + arg;
        command += " > " + Quote(out) + " 2> " + Quote(err);
#ifdef _WIN32
        // cmd.exe drops the outermost quotes of a command that starts with one.
        const int status = std::system(("\"" + command + "\"").c_str());
#else
        const int raw = std::system(command.c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        return {status, ReadFile(out), ReadFile(err)};
    }

    TempDir m_dir;
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

TEST_F(DiffTool, WritesADifferenceImage)
{
    const auto out = m_dir.Path() / "diff.bmp";
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
        {{Quote(m_dir.Path()), m_first}, "ファイルを読み込めませんでした"},
        {{m_first, cut}, "cut.bmp: ファイルを読み込めませんでした"},
        {{text, m_first}, "text.bmp: Bitmap ファイルではありません"},
        {{m_first, palette}, "palette.bmp: 24 bit color 非圧縮フォーマットのみサポートしています"},
        {{m_first, small}, "２つのImageの幅または高さが異なります (5x4, 4x4)"},
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
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Outcome refused = Run(args);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("usage: tobrel-diff"), std::string::npos);
    }
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--diff-image"), std::string::npos);
}

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
