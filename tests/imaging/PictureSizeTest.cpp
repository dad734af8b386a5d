#include "app/imaging/PictureSize.h"

#include <gtest/gtest.h>

#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

TEST(PictureSize, HeadersTellTheStoredSize)
{
    for (const char* name :
         {"jpeg_rgb_64x48.jpg", "jpeg_exif_orient6.jpg", "jpeg_cmyk_adobe.jpg", "png_rgb8.png",
          "gif_transparent.gif", "tiff_lzw.tif", "tiff_orient6.tif"})
    {
        const TPictureSize size = PictureSizeFromHeader(ReadFileBytes(TestDataPath(name)));
        EXPECT_EQ(size.Width, 64) << name;
        EXPECT_EQ(size.Height, 48) << name;
    }
    // Bottom-up and top-down (a negative height) alike.
    for (const char* name : {"bmp_24bit.bmp", "bmp_24bit_topdown.bmp"})
    {
        const TPictureSize size = PictureSizeFromHeader(ReadFileBytes(TestDataPath(name)));
        EXPECT_EQ(size.Width, 63) << name;
        EXPECT_EQ(size.Height, 47) << name;
    }
    EXPECT_EQ(PictureSizeFromHeader(ReadFileBytes(TestDataPath("huge_dims.bmp"))).Width, 70000);
    for (const std::string& unknown :
         {ReadFileBytes(TestDataPath("emf_simple.emf")), ReadFileBytes(TestDataPath("garbage.jpg")),
          std::string("\xFF\xD8\xFF"), std::string("MM\0*\xFF\xFF\xFF\xFF", 8), std::string()})
        EXPECT_EQ(PictureSizeFromHeader(unknown).Width, 0);
}

// The estimate follows the path the picture will take: coefficients for a JPEG the DCT path
// requantizes, pixels and the encoder's buffers for the rest.
TEST(PictureSize, EstimatesWhatPreparingHolds)
{
    const std::int64_t coefficients = EstimatePreparationBytes(TestDataPath("jpeg_rgb_64x48.jpg"));
    const std::int64_t pixels = EstimatePreparationBytes(TestDataPath("png_rgb8.png"));
    EXPECT_GT(coefficients, 64 * 48);
    EXPECT_GT(pixels, coefficients);
    EXPECT_EQ(EstimatePreparationBytes(TestDataPath("jpeg_progressive.jpg")), pixels); // 4:4:4
    EXPECT_EQ(EstimatePreparationBytes(TestDataPath("wmf_placeable.wmf")), 0);
    TTempDir dir;
    EXPECT_EQ(EstimatePreparationBytes(dir.File("missing.png")), 0);

    // A TIFF whose directory comes after a large strip is measured all the same.
    const std::string path = dir.File("tail.tif");
    WriteTiff(path, SolidRaster(300, 100, kRed), 1);
    EXPECT_EQ(EstimatePreparationBytes(path), pixels / (64 * 48) * 300 * 100);

    // A grey scan is read a byte a pixel: two fit the budget where two colour pictures would not.
    const std::string grey = dir.File("grey.tif");
    WriteTiff(grey, NewRaster(300, 100, 1, 200), 1);
    EXPECT_EQ(EstimatePreparationBytes(grey), pixels / (64 * 48) * 300 * 100 / 2);
    WriteTiff(grey, NewRaster(300, 100, 2, 200), 1); // grey with alpha: through RGBA
    EXPECT_EQ(EstimatePreparationBytes(grey), pixels / (64 * 48) * 300 * 100);
}

} // namespace
