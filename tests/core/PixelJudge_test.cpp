// The screenshot rule's judge on three-channel pictures, whose inner pixels
// go through vector code, against the same pictures with an opaque alpha
// channel, which go the plain way pixel by pixel.

#include "PixelJudge.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(PixelJudge, JudgesThreeChannelsAsTheSamePicturesWithOpaqueAlpha)
{
    // Few colours, so that pixels have equal neighbours, flat areas and
    // neighbours equally dark; several palettes, for near and far colours.
    const std::vector<std::vector<uint32_t>> palettes = {
        {0x000000, 0xFFFFFF, 0x808080},
        {0x102030, 0x112233, 0x0F1F2F, 0x203040},
        {0xC83214, 0x14C832, 0x3214C8, 0xF0F0F0, 0x0A0A0A},
    };
    constexpr int32_t width = 40, height = 30;
    std::mt19937 random(11);
    int64_t antialiased = 0, counted = 0;
    for (const auto& palette : palettes) {
        for (int round = 0; round < 4; ++round) {
            // The second picture: the first with a tenth of its pixels repainted.
            std::vector<uint32_t> first(size_t(width) * height), second;
            for (uint32_t& pixel : first)
                pixel = palette[random() % palette.size()];
            second = first;
            for (uint32_t& pixel : second) {
                if (random() % 10 == 0)
                    pixel = palette[random() % palette.size()];
            }
            std::vector<uint8_t> bytes3[2], bytes4[2];
            for (int i = 0; i < 2; ++i) {
                for (const uint32_t pixel : i ? second : first) {
                    for (int shift : {0, 8, 16}) {
                        bytes3[i].push_back(uint8_t(pixel >> shift));
                        bytes4[i].push_back(uint8_t(pixel >> shift));
                    }
                    bytes4[i].push_back(255);
                }
            }
            PixelRule rule;
            rule.threshold = 0.05;
            rule.bAntialiasing = true;
            const CPixelJudge three({width, height, 3, bytes3[0].data(), 3 * width},
                                    {width, height, 3, bytes3[1].data(), 3 * width}, rule);
            const CPixelJudge four({width, height, 4, bytes4[0].data(), 4 * width},
                                   {width, height, 4, bytes4[1].data(), 4 * width}, rule);
            for (int32_t y = 0; y < height; ++y) {
                std::vector<int32_t> counted3, antialiased3, counted4, antialiased4;
                three.JudgeRow(y, counted3, antialiased3);
                four.JudgeRow(y, counted4, antialiased4);
                EXPECT_EQ(counted3, counted4) << "row " << y;
                EXPECT_EQ(antialiased3, antialiased4) << "row " << y;
                counted += int64_t(counted4.size());
                antialiased += int64_t(antialiased4.size());
            }
        }
    }
    // Both kinds of pixel were there to judge.
    EXPECT_GT(counted, 100);
    EXPECT_GT(antialiased, 10);
}
