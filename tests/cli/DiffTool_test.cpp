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

Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args)
{
    const auto out = dir.Path() / "stdout.txt";
    const auto err = dir.Path() / "stderr.txt";
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

BmpSpec Picture(int width, int height, PixelFn pixel = Gradient)
{
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixel = std::move(pixel);
    return spec;
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
    void SetUp() override
    {
        m_first = Quote(m_dir.WriteBmp("first.bmp", Picture(5, 4)));
        m_second = Quote(m_dir.WriteBmp("second.bmp", Picture(5, 4, Changed)));
    }

    TempDir m_dir;
    std::string m_first, m_second;
};

} // namespace

TEST_F(DiffTool, CountsDifferencesAndSaysSoInItsStatus)
{
    const Outcome differ = RunTool(m_dir, {m_first, m_second});
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.out, "3\n");
    EXPECT_EQ(differ.err, "");

    const Outcome equal = RunTool(m_dir, {m_first, m_first});
    EXPECT_EQ(equal.status, 0);
    EXPECT_EQ(equal.out, "0\n");
}

TEST_F(DiffTool, AppliesTheToleranceToEachChannel)
{
    EXPECT_EQ(RunTool(m_dir, {"--tolerance", "5", m_first, m_second}).out, "2\n");
    EXPECT_EQ(RunTool(m_dir, {"--tolerance=6", m_first, m_second}).out, "1\n");
    EXPECT_EQ(RunTool(m_dir, {"--tolerance", "40", m_first, m_second}).out, "1\n");
    const Outcome none = RunTool(m_dir, {"--tolerance", "41", m_first, m_second});
    EXPECT_EQ(none.out, "0\n");
    EXPECT_EQ(none.status, 0);
}

TEST_F(DiffTool, ListsPixelsInScanOrder)
{
    const Outcome listed = RunTool(m_dir, {"--list", m_first, m_second});
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.out, "x=1, y=0\nx=4, y=2\nx=0, y=3\n");
    EXPECT_EQ(RunTool(m_dir, {"--list", m_first, m_first}).out, "");
}

TEST_F(DiffTool, ReadsEveryHeaderVariantAlike)
{
    BmpSpec topDown = Picture(5, -4, Changed);
    topDown.infoSize = 124;
    BmpSpec gap = Picture(5, 4, Changed);
    gap.infoSize = 108;
    gap.gapBytes = 12;
    gap.sizeImage = 0;
    for (const auto& [name, spec] : {std::pair{"top-down.bmp", topDown}, std::pair{"gap.bmp", gap}}) {
        SCOPED_TRACE(name);
        const Outcome listed = RunTool(m_dir, {"--list", m_first, Quote(m_dir.WriteBmp(name, spec))});
        EXPECT_EQ(listed.out, "x=1, y=0\nx=4, y=2\nx=0, y=3\n");
    }
}

TEST_F(DiffTool, WritesADifferenceImage)
{
    const auto out = m_dir.Path() / "diff.bmp";
    ASSERT_EQ(RunTool(m_dir, {"--diff-image", Quote(out), m_first, m_second}).status, 1);

    ImageBuffer image;
    ASSERT_EQ(LoadBmpFile(image, WidePath(out).c_str()), 0);
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const unsigned char* p = image.pixels + PixelOffset(image, x, y);
            const Rgb shown{p[2], p[1], p[0]};
            const Rgb red{255, 0, 0};
            const bool listed = (x == 1 && y == 0) || (x == 4 && y == 2) || (x == 0 && y == 3);
            if (listed) {
                EXPECT_EQ(shown, red) << x << "," << y;
            } else {
                const Rgb original = Gradient(x, y);
                EXPECT_LE(shown.r, original.r / 3 + 24) << x << "," << y;
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
    const auto truncated = [] {
        auto bytes = BuildBmp(Picture(5, 4));
        bytes.resize(bytes.size() - 3);
        return bytes;
    }();
    const std::string missing = Quote(m_dir.Path() / "missing.bmp");
    const std::string text = Quote(m_dir.Write("text.bmp", {'h', 'e', 'l', 'l', 'o'}));
    const std::string palette = Quote(m_dir.WriteBmp("palette.bmp", eightBit));
    const std::string cut = Quote(m_dir.Write("cut.bmp", truncated));
    const std::string small = Quote(m_dir.WriteBmp("small.bmp", Picture(4, 4)));
    const std::string folder = Quote(m_dir.Path());

    struct Case { std::vector<std::string> args; std::string reason; };
    const Case cases[] = {
        {{m_first, missing}, "missing.bmp: ファイルを読み込めませんでした"},
        {{folder, m_first}, "ファイルを読み込めませんでした"},
        {{m_first, cut}, "cut.bmp: ファイルを読み込めませんでした"},
        {{text, m_first}, "text.bmp: Bitmap ファイルではありません"},
        {{m_first, palette}, "palette.bmp: 24 bit color 非圧縮フォーマットのみサポートしています"},
        {{m_first, small}, "２つのImageの幅または高さが異なります (5x4, 4x4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const Outcome trouble = RunTool(m_dir, c.args);
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
        const Outcome refused = RunTool(m_dir, args);
        EXPECT_EQ(refused.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("usage: tobrel-diff"), std::string::npos);
    }
    const Outcome help = RunTool(m_dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--diff-image"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
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
