#include "app/imaging/GdiPlus.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/imaging/ImagePreparation.h"
#include "platform/Stream.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

constexpr CLSID kFirst{1, 0, 0, {}};
constexpr CLSID kSecond{2, 0, 0, {}};
constexpr CLSID kThird{3, 0, 0, {}};

// Puts a test's own encoder list in place for the guard's lifetime.
class ScopedEncoders
{
public:
    explicit ScopedEncoders(std::vector<TImageCodecInfo> encoders)
        : m_previous(SetImageEncoders(std::move(encoders)))
    {
    }
    ~ScopedEncoders() { SetImageEncoders(std::move(m_previous)); }
    ScopedEncoders(const ScopedEncoders&) = delete;
    ScopedEncoders& operator=(const ScopedEncoders&) = delete;

private:
    std::vector<TImageCodecInfo> m_previous;
};

TEST(FindEncoderClsid, RealListHoldsOurJpegEncoder)
{
    CLSID clsid;
    const int index = FindEncoderClsid("image/jpeg", clsid);
    ASSERT_GE(index, 0);
    EXPECT_EQ(clsid, kJpegEncoderClsid);
}

TEST(FindEncoderClsid, ExactCaseSensitiveAndTheLastMatchWins)
{
    ScopedEncoders encoders({{kFirst, "image/jpeg", nullptr, nullptr},
                             {kSecond, "image/png", nullptr, nullptr},
                             {kThird, "image/jpeg", nullptr, nullptr}});
    CLSID clsid = kSecond;
    EXPECT_EQ(FindEncoderClsid("image/jpeg", clsid), 2);
    EXPECT_EQ(clsid, kThird);

    CLSID untouched = kSecond;
    EXPECT_EQ(FindEncoderClsid("image/JPEG", untouched), -1);
    EXPECT_EQ(FindEncoderClsid("image/jpeg ", untouched), -1);
    EXPECT_EQ(FindEncoderClsid("", untouched), -1);
    EXPECT_EQ(untouched, kSecond);
}

TEST(FindEncoderClsid, EmptyListFindsNothing)
{
    ScopedEncoders encoders({});
    CLSID clsid = kFirst;
    EXPECT_EQ(FindEncoderClsid("image/jpeg", clsid), -1);
    EXPECT_EQ(clsid, kFirst);
}

// A recording encoder shows what ReencodeAsJpeg hands over: the quality unchanged, as one
// Long value under EncoderQuality.
TEST(ReencodeAsJpeg, QualityReachesTheEncoderUnchanged)
{
    std::vector<std::int32_t> seen;
    ScopedEncoders encoders({{kFirst, "image/jpeg",
                              [&](const TRaster&, const EncoderParameters* parameters) {
                                  EXPECT_EQ(parameters->Count, 1u);
                                  const EncoderParameter& p = parameters->Parameter[0];
                                  EXPECT_EQ(p.Guid, EncoderQuality);
                                  EXPECT_EQ(p.NumberOfValues, 1u);
                                  EXPECT_EQ(p.Type, 4u);
                                  seen.push_back(*static_cast<const std::int32_t*>(p.Value));
                                  return std::string("JPEG");
                              },
                              nullptr}});
    for (int quality : {1, 100, 60})
    {
        TMemoryStream stream;
        ReencodeAsJpeg(TestDataPath("png_rgb8.png"), quality, stream);
        EXPECT_EQ(stream.Bytes(), "JPEG");
    }
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 100, 60}));
}

TEST(ReencodeAsJpeg, WithoutAJpegEncoderNothingIsWritten)
{
    ScopedEncoders encoders(
        {{kFirst, "image/png",
          [](const TRaster&, const EncoderParameters*) { return std::string("PNG"); }, nullptr}});
    TMemoryStream stream;
    EXPECT_EQ(TryReencodeAsJpeg(TestDataPath("png_rgb8.png"), 60, stream), "no JPEG encoder");
    EXPECT_EQ(stream.Size(), 0);
}

TEST(TGPImage, AFailedLoadHasNoSizeKeepsItsStatusAndNeverThrows)
{
    TTempDir dir;
    TGPImage missing(dir.File("absent.gif"));
    EXPECT_EQ(missing.Width(), 0u);
    EXPECT_EQ(missing.Height(), 0u);
    EXPECT_EQ(missing.LastStatus(), gsFileNotFound);
    EXPECT_EQ(missing.LastReason(), "file not found");

    TGPImage garbage(TestDataPath("garbage.jpg"));
    EXPECT_EQ(garbage.LastStatus(), gsUnknownImageFormat);
    TMemoryStream stream;
    EXPECT_NE(garbage.Save(stream, kJpegEncoderClsid, nullptr), gsOk);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(garbage.GetThumbnailImage(10, 10)->Width(), 0u);
}

TEST(TGPImage, SaveKeepsTheLastFailureAfterASuccess)
{
    TGPImage image(TestDataPath("png_rgb8.png"));
    ASSERT_EQ(image.LastStatus(), gsOk);
    EXPECT_EQ(image.Width(), 64u);
    EXPECT_EQ(image.Height(), 48u);
    TMemoryStream stream;
    EXPECT_NE(image.Save(stream, kFirst, nullptr), gsOk); // no such encoder
    const int failed = image.LastStatus();
    EXPECT_NE(failed, gsOk);
    EXPECT_EQ(image.Save(stream, kJpegEncoderClsid, nullptr), gsOk); // default quality
    EXPECT_EQ(image.LastStatus(), failed);
    EXPECT_TRUE(InspectJpeg(stream.Bytes()).Ok);
}

TEST(TGPImage, ThumbnailsHaveExactlyTheAskedSize)
{
    TGPImage image(TestDataPath("png_rgb8.png"));
    for (auto [w, h] : {std::pair{20u, 10u}, std::pair{1u, 1u}, std::pair{200u, 33u}})
    {
        std::unique_ptr<TGPImage> thumbnail = image.GetThumbnailImage(w, h);
        ASSERT_EQ(thumbnail->Width(), w);
        ASSERT_EQ(thumbnail->Height(), h);
    }
    std::unique_ptr<TGPImage> thumbnail = image.GetThumbnailImage(40, 30);
    const TRaster& pixels = *thumbnail->Pixels();
    EXPECT_TRUE(PixelNear(pixels, 5, 5, kRed, 4));
    EXPECT_TRUE(PixelNear(pixels, 35, 5, kGreen, 4));
    EXPECT_TRUE(PixelNear(pixels, 5, 25, kBlue, 4));
    EXPECT_TRUE(PixelNear(pixels, 35, 25, kYellow, 4));
    // Scaling must not bleed transparency into the edges.
    EXPECT_TRUE(PixelNear(pixels, 0, 0, kRed, 4));
    EXPECT_TRUE(PixelNear(pixels, 39, 29, kYellow, 4));
    EXPECT_EQ(image.GetThumbnailImage(0, 10)->Width(), 0u);
    EXPECT_EQ(image.GetThumbnailImage(70000, 10)->LastStatus(), gsValueOverflow);
}

TEST(TGPGraphics, DrawImageScalesIntoTheRectangleOnly)
{
    TRaster surface = SolidRaster(100, 80, kWhite);
    TGPImage image(TestDataPath("png_rgb8.png"));
    TGPGraphics graphics(surface);
    EXPECT_EQ(graphics.DrawImage(image, 10.0f, 20.0f, 32.0f, 24.0f), gsOk);
    EXPECT_TRUE(PixelNear(surface, 14, 24, kRed, 4));
    EXPECT_TRUE(PixelNear(surface, 38, 40, kYellow, 4));
    EXPECT_TRUE(PixelNear(surface, 9, 25, kWhite, 0));
    EXPECT_TRUE(PixelNear(surface, 43, 30, kWhite, 0));
    EXPECT_TRUE(PixelNear(surface, 60, 60, kWhite, 0));

    TGPImage missing("/nonexistent/picture.png");
    EXPECT_EQ(graphics.DrawImage(missing, 0, 0, 10, 10), gsInvalidParameter);
    EXPECT_EQ(graphics.LastStatus(), gsInvalidParameter);
}

} // namespace
