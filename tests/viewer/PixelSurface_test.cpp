#include "BmpBuilder.h"
#include "PixelSurface.h"

#include <gtest/gtest.h>

#include <vector>

TEST(PixelSurface, RefusesImagesWithoutARepresentableSurface)
{
    MemoryImage image(2, 2);
    uint8_t* bits = image.bytes.data();
    struct Case { const char* name; ImageBuffer image; int zoom; bool expected; };
    const Case cases[] = {
        {"width 0", {0, 2, 0, bits}, 1, false},
        {"height 0", {2, 0, 8, bits}, 1, false},
        {"negative width", {-2, 2, -4, bits}, 1, false},
        {"negative height", {2, -2, 8, bits}, 1, false},
        {"no pixels", {2, 2, 8, nullptr}, 1, false},
        {"824 GB at zoom 8", {65535, 65535, BmpStride(65535), bits}, 8, false},
        {"4.8 GB at zoom 2", {20000, 20000, BmpStride(20000), bits}, 2, false},
        {"1.2 GB at zoom 1", {20000, 20000, BmpStride(20000), bits}, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SurfaceGeometry surface;
        EXPECT_EQ(ComputeSurfaceGeometry(c.image, c.zoom, surface), c.expected);
        EXPECT_EQ(surface.bytes != 0, c.expected);
    }
}

// Every surface pixel against the image pixel it enlarges, and nothing
// written outside the surface.
TEST(PixelSurface, ReplicatesEveryPixelZoomTimesInBothDirections)
{
    for (int width : {1, 2, 3, 4, 5, 7, 13}) {
        for (int height : {1, 2, 5}) {
            for (int zoom : {1, 2, 3, 4, 8}) {
                SCOPED_TRACE(testing::Message() << width << "x" << height << " at zoom " << zoom);
                MemoryImage image(width, height, Gradient);
                SurfaceGeometry surface;
                ASSERT_TRUE(ComputeSurfaceGeometry(image.Record(), zoom, surface));
                ASSERT_EQ(surface.width, width * zoom);
                ASSERT_EQ(surface.height, height * zoom);
                ASSERT_GE(surface.stride, 3 * surface.width);
                ASSERT_EQ(surface.stride % 4, 0);
                std::vector<uint8_t> bits(surface.bytes + 64, 0xCD);
                ReplicateImage(image.Record(), zoom, surface, bits.data());
                for (size_t i = surface.bytes; i < bits.size(); ++i)
                    ASSERT_EQ(bits[i], 0xCD) << "written past the surface at " << i;
                for (int sy = 0; sy < surface.height; ++sy) {
                    for (int sx = 0; sx < surface.width; ++sx) {
                        const uint8_t* shown = bits.data() + size_t(surface.height - 1 - sy) * surface.stride + 3 * sx;
                        ASSERT_EQ((Rgb{shown[2], shown[1], shown[0]}), Gradient(sx / zoom, sy / zoom)) << sx << "," << sy;
                    }
                }
            }
        }
    }
}

TEST(PixelSurface, ReadsPixelsFromTheTopAndBlackOutside)
{
    MemoryImage image(3, 2, Gradient);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{2, 0}, std::pair{0, 1}, std::pair{2, 1}}) {
        const PixelColor c = GetImagePixel(image.Record(), x, y);
        EXPECT_EQ((Rgb{c.red, c.green, c.blue}), Gradient(x, y)) << x << "," << y;
    }
    for (const auto& [x, y] : {std::pair{3, 0}, std::pair{0, 2}, std::pair{-1, 0}, std::pair{0, -1}}) {
        const PixelColor c = GetImagePixel(image.Record(), x, y);
        EXPECT_EQ((Rgb{c.red, c.green, c.blue}), (Rgb{0, 0, 0})) << x << "," << y;
    }
}
