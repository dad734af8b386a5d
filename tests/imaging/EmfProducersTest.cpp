// EMFs of another producer convert and draw what was drawn into them.
#include <gtest/gtest.h>

#include "app/imaging/PictureReader.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/imaging/LibEmfPictures.h"

namespace
{

// libEMF's reference device has 3.2 pixels per millimetre; the picture is drawn at 96 dpi.
int At(int units)
{
    return static_cast<int>(units * 96 / (3.2 * 25.4) + 0.5);
}

// A producer that makes no object writes no handle count; the picture is still a page.
TEST(EmfFromLibEmf, AnEmptyPictureIsABlankPage)
{
    const TRaster raster = DecodePicture(LibEmfEmpty());
    EXPECT_EQ(raster.Width, 320);
    EXPECT_EQ(raster.Height, 240);
    EXPECT_TRUE(PixelNear(raster, 160, 120, kWhite, 0));
}

TEST(EmfFromLibEmf, ShapesAreDrawnWhereTheyWereDrawn)
{
    const TRaster raster = DecodePicture(LibEmfShapes());
    ASSERT_EQ(raster.Width, 320);
    ASSERT_EQ(raster.Height, 240);
    EXPECT_TRUE(PixelNear(raster, At(80), At(60), kRed));
    EXPECT_TRUE(PixelNear(raster, At(240), At(70), kBlue));
    EXPECT_TRUE(PixelNear(raster, At(184), At(24), kWhite)); // the ellipse's box corner
    EXPECT_TRUE(PixelNear(raster, At(80), At(160), kGreen));
    EXPECT_TRUE(PixelNear(raster, At(30), At(200), kWhite)); // beside the triangle
}

// A part drawn under a world transform between SaveDC and RestoreDC, then a path without it.
TEST(EmfFromLibEmf, TheWorldTransformEndsWithItsRestoreDc)
{
    const TRaster raster = DecodePicture(LibEmfTransformsAndPaths());
    const TRgb orange{255, 128, 0};
    const TRgb purple{128, 0, 128};
    EXPECT_TRUE(PixelNear(raster, At(110), At(70), orange));
    EXPECT_TRUE(PixelNear(raster, At(150), At(110), orange));
    EXPECT_TRUE(PixelNear(raster, At(60), At(40), kWhite));
    EXPECT_TRUE(PixelNear(raster, At(210), At(140), purple));
    EXPECT_TRUE(PixelNear(raster, At(265), At(30), kWhite));
}

} // namespace
