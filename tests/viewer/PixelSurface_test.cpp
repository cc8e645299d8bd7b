#include "PixelSurface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TestImage
{
    TestImage(int w, int h) : width(w), height(h), stride((w * 3 + 3) / 4 * 4), bytes(size_t(stride) * h)
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7 + 3);
    }
    ImageBuffer Record() { return {width, height, stride, bytes.data()}; }

    int width, height, stride;
    std::vector<uint8_t> bytes;
};

} // namespace

TEST(PixelSurface, GeometryIsTheZoomedImageWithRowsOfWholeWords)
{
    TestImage tiny(1, 1), five(5, 3);
    SurfaceGeometry surface;
    ASSERT_TRUE(ComputeSurfaceGeometry(tiny.Record(), 2, surface));
    EXPECT_EQ(surface.width, 2);
    EXPECT_EQ(surface.height, 2);
    EXPECT_EQ(surface.stride, 8);
    EXPECT_EQ(surface.bytes, 16u);
    ASSERT_TRUE(ComputeSurfaceGeometry(five.Record(), 1, surface));
    EXPECT_EQ(surface.stride, 16);
    ASSERT_TRUE(ComputeSurfaceGeometry(five.Record(), 8, surface));
    EXPECT_EQ(surface.width, 40);
    EXPECT_EQ(surface.height, 24);
    EXPECT_EQ(surface.stride, 120);
}

TEST(PixelSurface, RefusesImagesWithoutARepresentableSurface)
{
    TestImage image(2, 2);
    SurfaceGeometry surface;
    for (const ImageBuffer bad : {ImageBuffer{0, 2, 0, image.bytes.data()}, ImageBuffer{2, 0, 8, image.bytes.data()},
                                  ImageBuffer{-2, 2, -4, image.bytes.data()}, ImageBuffer{2, -2, 8, image.bytes.data()},
                                  ImageBuffer{2, 2, 8, nullptr}}) {
        EXPECT_FALSE(ComputeSurfaceGeometry(bad, 1, surface));
        EXPECT_EQ(surface.bytes, 0u);
    }
    // 65535 x 65535 at zoom 8 would need 824 GB; 20000 x 20000 at zoom 2, 4.8 GB.
    EXPECT_FALSE(ComputeSurfaceGeometry(ImageBuffer{65535, 65535, BmpStride(65535), image.bytes.data()}, 8, surface));
    EXPECT_FALSE(ComputeSurfaceGeometry(ImageBuffer{20000, 20000, BmpStride(20000), image.bytes.data()}, 2, surface));
    EXPECT_TRUE(ComputeSurfaceGeometry(ImageBuffer{20000, 20000, BmpStride(20000), image.bytes.data()}, 1, surface));
}

// Every surface pixel against the image pixel it enlarges, and nothing
// written outside the surface.
TEST(PixelSurface, ReplicatesEveryPixelZoomTimesInBothDirections)
{
    for (int width : {1, 2, 3, 4, 5, 7, 13}) {
        for (int height : {1, 2, 5}) {
            for (int zoom : {1, 2, 3, 4, 8}) {
                SCOPED_TRACE(testing::Message() << width << "x" << height << " at zoom " << zoom);
                TestImage image(width, height);
                SurfaceGeometry surface;
                ASSERT_TRUE(ComputeSurfaceGeometry(image.Record(), zoom, surface));
                std::vector<uint8_t> bits(surface.bytes + 64, 0xCD);
                ReplicateImage(image.Record(), zoom, surface, bits.data());
                for (size_t i = surface.bytes; i < bits.size(); ++i)
                    ASSERT_EQ(bits[i], 0xCD) << "written past the surface at " << i;
                for (int sy = 0; sy < surface.height; ++sy) {
                    for (int sx = 0; sx < surface.width; ++sx) {
                        const uint8_t* shown = bits.data() + size_t(surface.height - 1 - sy) * surface.stride + 3 * sx;
                        const uint8_t* source = image.bytes.data() + PixelOffset(image.Record(), sx / zoom, sy / zoom);
                        ASSERT_EQ(shown[0], source[0]) << sx << "," << sy;
                        ASSERT_EQ(shown[1], source[1]) << sx << "," << sy;
                        ASSERT_EQ(shown[2], source[2]) << sx << "," << sy;
                    }
                }
                if (zoom == 1) {
                    EXPECT_EQ(std::vector<uint8_t>(bits.begin(), bits.begin() + surface.bytes), image.bytes);
                }
            }
        }
    }
}

TEST(PixelSurface, ReadsPixelsBottomUpAndBlackOutside)
{
    TestImage image(3, 2);
    const ImageBuffer record = image.Record();
    // (0, 0) is the first pixel of the last stored row.
    const PixelColor topLeft = GetImagePixel(record, 0, 0);
    EXPECT_EQ(topLeft.blue, image.bytes[size_t(image.stride)]);
    EXPECT_EQ(topLeft.green, image.bytes[size_t(image.stride) + 1]);
    EXPECT_EQ(topLeft.red, image.bytes[size_t(image.stride) + 2]);
    const PixelColor bottomRight = GetImagePixel(record, 2, 1);
    EXPECT_EQ(bottomRight.blue, image.bytes[6]);
    for (const auto& [x, y] : {std::pair{3, 0}, std::pair{0, 2}, std::pair{-1, 0}, std::pair{0, -1}}) {
        const PixelColor outside = GetImagePixel(record, x, y);
        EXPECT_EQ(outside.red + outside.green + outside.blue, 0) << x << "," << y;
    }
}

TEST(PixelSurface, MarkerFramesThePixelBlockWithASparePixel)
{
    const MarkerRect origin = MarkerRectFor(0, 0, 1);
    EXPECT_EQ(origin.left, -1);
    EXPECT_EQ(origin.top, -1);
    EXPECT_EQ(origin.right, 3);
    EXPECT_EQ(origin.bottom, 3);
    const MarkerRect zoomed = MarkerRectFor(2, 1, 4);
    EXPECT_EQ(zoomed.left, 7);
    EXPECT_EQ(zoomed.top, 3);
    EXPECT_EQ(zoomed.right, 14);
    EXPECT_EQ(zoomed.bottom, 10);
}
