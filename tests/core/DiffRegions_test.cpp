#include "DiffRegions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Found
{
    std::vector<DiffRegion> regions;
    int64_t leftOut;
};

// The regions of the pixels marked '#' in rows of text, fed row by row.
Found RegionsOf(const std::vector<std::string>& rows, size_t kept = 100)
{
    CRegionFinder finder(kept);
    for (size_t y = 0; y < rows.size(); ++y) {
        std::vector<int32_t> xs;
        for (size_t x = 0; x < rows[y].size(); ++x) {
            if (rows[y][x] == '#')
                xs.push_back(int32_t(x));
        }
        finder.AddRow(int32_t(y), xs.data(), xs.size());
    }
    finder.Finish();
    return {finder.Largest(), finder.LeftOut()};
}

std::string Describe(const Found& found)
{
    std::string text;
    for (const DiffRegion& r : found.regions)
        text += std::to_string(r.left) + ":" + std::to_string(r.top) + "-" + std::to_string(r.right) + ":" +
                std::to_string(r.bottom) + "=" + std::to_string(r.count) + " ";
    return text + "+" + std::to_string(found.leftOut);
}

} // namespace

TEST(DiffRegions, GroupsPixelsThatTouchBySidesOrCorners)
{
    struct Case { const char* name; std::vector<std::string> rows; size_t kept; const char* regions; };
    const Case cases[] = {
        {"nothing", {"....", "...."}, 100, "+0"},
        {"one pixel", {"..#."}, 100, "2:0-2:0=1 +0"},
        {"corners touch", {"#...", ".#..", "..#."}, 100, "0:0-2:2=3 +0"},
        {"corner from the right", {"..#", ".#.", "#.."}, 100, "0:0-2:2=3 +0"},
        {"a gap of one pixel", {"#.#"}, 100, "0:0-0:0=1 2:0-2:0=1 +0"},
        {"a row between", {"##", "..", "##"}, 100, "0:0-1:0=2 0:2-1:2=2 +0"},
        {"joined below", {"#...#", "#...#", "#####"}, 100, "0:0-4:2=9 +0"},
        {"joined late, three arms", {"#.#.#", "#.#.#", "#.#.#", "#####"}, 100, "0:0-4:3=14 +0"},
        {"one run under two", {"##.##", ".###."}, 100, "0:0-4:1=7 +0"},
        {"a spiral", {"#####", "#...#", "#.#.#", "#.###"}, 100, "0:0-4:3=14 +0"},
        {"apart then far", {"#....", ".....", "....#", "#...."}, 100, "0:0-0:0=1 4:2-4:2=1 0:3-0:3=1 +0"},
        {"largest first, then top, then left", {"#.##", "...#", "#..."}, 100, "2:0-3:1=3 0:0-0:0=1 0:2-0:2=1 +0"},
        {"kept", {"#.#.##"}, 1, "4:0-5:0=2 +2"},
        {"none kept", {"#.#"}, 0, "+2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Describe(RegionsOf(c.rows, c.kept)), c.regions);
    }
}

// Memory follows the width: a tall picture of many small regions keeps only
// the largest, and counts the rest.
TEST(DiffRegions, KeepsTheLargestOfManyAndCountsTheRest)
{
    std::vector<std::string> rows;
    for (int y = 0; y < 3000; ++y)
        rows.push_back(y % 2 ? std::string(64, '.') : std::string(y == 1000 ? "#######" : "#.#.#.#"));
    const Found found = RegionsOf(rows, 2);
    EXPECT_EQ(Describe(found), "0:1000-6:1000=7 0:0-0:0=1 +5995");
}
