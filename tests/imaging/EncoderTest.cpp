#include <random>
#include <string>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "app/imaging/ImagePreparation.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/PictureReader.h"
#include "platform/Stream.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

TRaster NoiseRaster(int width, int height)
{
    TRaster raster = NewRaster(width, height, 3);
    std::mt19937 random(7);
    for (auto& byte : raster.Pixels)
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    return raster;
}

TEST(EncodeJpeg, ColourIsACompleteThreeComponentFileAt420)
{
    const std::string jpeg = EncodeJpeg(QuadrantRaster(64, 48), 90);
    const TJpegFacts facts = InspectJpeg(jpeg);
    ASSERT_TRUE(facts.Ok);
    EXPECT_TRUE(facts.StartsWithSoi);
    EXPECT_TRUE(facts.EndsWithEoi);
    EXPECT_EQ(facts.Width, 64);
    EXPECT_EQ(facts.Height, 48);
    EXPECT_EQ(facts.Components, 3);
    EXPECT_EQ(facts.Subsampling, TJSAMP_420);
    const TRaster back = DecodeJpegForTest(jpeg);
    EXPECT_TRUE(PixelNear(back, 16, 12, kRed, 6));
    EXPECT_TRUE(PixelNear(back, 48, 12, kGreen, 6));
    EXPECT_TRUE(PixelNear(back, 16, 36, kBlue, 6));
    EXPECT_TRUE(PixelNear(back, 48, 36, kYellow, 6));
}

TEST(EncodeJpeg, GreyAndNeutralRgbBecomeOneComponent)
{
    TRaster grey = NewRaster(8, 8, 1, 100);
    EXPECT_EQ(InspectJpeg(EncodeJpeg(grey, 60)).Components, 1);
    EXPECT_EQ(InspectJpeg(EncodeJpeg(SolidRaster(8, 8, {90, 90, 90}), 60)).Components, 1);
    // One pixel off grey keeps the picture in colour.
    TRaster almost = SolidRaster(8, 8, {90, 90, 90});
    almost.Pixels[5 * 3 + 1] = 91;
    EXPECT_EQ(InspectJpeg(EncodeJpeg(almost, 60)).Components, 3);
}

TEST(EncodeJpeg, TransparencyGoesOntoWhite)
{
    TRaster rgba = NewRaster(16, 16, 4, 0); // all clear black
    const TRaster back = DecodeJpegForTest(EncodeJpeg(rgba, 90));
    EXPECT_TRUE(PixelNear(back, 8, 8, kWhite, 2));
}

TEST(EncodeJpeg, QualityOneAndHundredReachTheEncoder)
{
    const TRaster noise = NoiseRaster(64, 64);
    const std::string low = EncodeJpeg(noise, 1);
    const std::string high = EncodeJpeg(noise, 100);
    EXPECT_TRUE(InspectJpeg(low).Ok);
    EXPECT_TRUE(InspectJpeg(high).Ok);
    EXPECT_LT(low.size() * 4, high.size());
}

TEST(EncodeJpeg, QualityOutsideTheScaleIsRefusedNotClamped)
{
    EXPECT_THROW(EncodeJpeg(QuadrantRaster(8, 8), 101), EPictureError);
    EXPECT_THROW(EncodeJpeg(QuadrantRaster(8, 8), -1), EPictureError);
}

// Every accepted format goes through to a JPEG of its pixel size.
TEST(TryReencodeAsJpeg, EveryFormatGivesACompleteJpeg)
{
    for (const char* name : {"jpeg_rgb_64x48.jpg", "png_rgba16.png", "gif_transparent.gif",
                             "bmp_8bit_rle.bmp", "ico_multi.ico", "tiff_g4.tif", "emf_simple.emf",
                             "wmf_placeable.wmf", "jpeg_exif_orient6.jpg"})
    {
        TMemoryStream stream;
        EXPECT_EQ(TryReencodeAsJpeg(TestDataPath(name), 60, stream), "") << name;
        const TJpegFacts facts = InspectJpeg(stream.Bytes());
        const TRaster source = DecodePictureFile(TestDataPath(name));
        EXPECT_TRUE(facts.Ok && facts.StartsWithSoi && facts.EndsWithEoi) << name;
        EXPECT_EQ(facts.Width, source.Width) << name;
        EXPECT_EQ(facts.Height, source.Height) << name;
    }
}

TEST(TryReencodeAsJpeg, AJpegIsEncodedAgainNotCopied)
{
    const std::string original = ReadFileBytes(TestDataPath("jpeg_rgb_64x48.jpg"));
    TMemoryStream low;
    TMemoryStream high;
    ASSERT_EQ(TryReencodeAsJpeg(TestDataPath("jpeg_rgb_64x48.jpg"), 5, low), "");
    ASSERT_EQ(TryReencodeAsJpeg(TestDataPath("jpeg_rgb_64x48.jpg"), 100, high), "");
    EXPECT_NE(low.Bytes(), original);
    EXPECT_NE(low.Bytes(), high.Bytes());
}

TEST(TryReencodeAsJpeg, GreySourcesGiveOneComponent)
{
    for (const char* name : {"jpeg_grey.jpg", "png_grey.png", "tiff_g4.tif"})
    {
        TMemoryStream stream;
        ASSERT_EQ(TryReencodeAsJpeg(TestDataPath(name), 60, stream), "") << name;
        EXPECT_EQ(InspectJpeg(stream.Bytes()).Components, 1) << name;
    }
}

TEST(TryReencodeAsJpeg, FailuresLeaveTheStreamEmptyAndGiveTheReason)
{
    TTempDir dir;
    TMemoryStream stream;
    EXPECT_EQ(TryReencodeAsJpeg(TestDataPath("garbage.jpg"), 60, stream), "not a picture");
    EXPECT_EQ(TryReencodeAsJpeg(TestDataPath("huge_dims.bmp"), 60, stream),
              "picture too large: 70000 x 200");
    EXPECT_EQ(TryReencodeAsJpeg(dir.File("nothing.png"), 60, stream), "file not found");
    EXPECT_EQ(stream.Size(), 0);
    ReencodeAsJpeg(TestDataPath("truncated.png"), 60, stream);
    EXPECT_EQ(stream.Size(), 0);
}

TEST(TryReencodeAsJpeg, WritesFromTheStreamPositionAndReportsWriteErrors)
{
    TMemoryStream stream(std::string("abc"));
    stream.SetPosition(3);
    ASSERT_EQ(TryReencodeAsJpeg(TestDataPath("png_rgb8.png"), 60, stream), "");
    EXPECT_EQ(stream.Bytes().substr(0, 5), "abc\xFF\xD8");

    TFailingStream failing(10);
    const std::string reason = TryReencodeAsJpeg(TestDataPath("png_rgb8.png"), 60, failing);
    EXPECT_EQ(reason.rfind("cannot write", 0), 0u) << reason;
}

TEST(TryReencodeAsJpeg, AWriteThatFailsPartwayLeavesTheStreamAsItWas)
{
    // The stream takes the first bytes of the JPEG, then refuses the rest: appended to the end,
    // and written over the middle of what the stream holds.
    for (const std::int64_t start : {0, 3, 1})
    {
        TFailingStream failing(20);
        failing.Write("abcdefgh");
        failing.SetPosition(start);
        EXPECT_NE(TryReencodeAsJpeg(TestDataPath("png_rgb8.png"), 60, failing), "");
        EXPECT_EQ(failing.Bytes(), "abcdefgh") << start;
        EXPECT_EQ(failing.Position(), start);
    }
    TFailingStream empty(10);
    EXPECT_NE(TryReencodeAsJpeg(TestDataPath("png_rgb8.png"), 60, empty), "");
    EXPECT_EQ(empty.Size(), 0);
}

TEST(TryReencodeAsJpeg, PathsAreBytesHandedOnUnchanged)
{
    TTempDir dir;
    // Latin-1 and invalid UTF-8 bytes in the name.
    const std::string path = dir.File("bild-\xE4\xF6\xFF.png");
    WriteFileBytes(path, ReadFileBytes(TestDataPath("png_rgb8.png")));
    TMemoryStream stream;
    EXPECT_EQ(TryReencodeAsJpeg(path, 60, stream), "");
}

} // namespace
