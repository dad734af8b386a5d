#include <random>
#include <string>
#include <utility>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "app/imaging/GdiPlus.h"
#include "app/imaging/ImagePreparation.h"
#include "app/imaging/JpegBlocks.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/JpegReader.h"
#include "app/imaging/JpegTranscoder.h"
#include "platform/Stream.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/imaging/TestJpegs.h"
#include "tests/imaging/TestProfiles.h"
#include "tests/support/TestSupport.h"

namespace
{

// What the pixel path makes of a JPEG: decoded, turned upright, encoded again.
std::string PixelPath(const std::string& jpeg, int quality)
{
    return EncodeJpeg(DecodeJpeg(jpeg), quality);
}

// Source options, one changed from the defaults.
TTestJpegOptions WithQuality(int quality)
{
    TTestJpegOptions options;
    options.Quality = quality;
    return options;
}
TTestJpegOptions WithOrientation(int orientation)
{
    TTestJpegOptions options;
    options.Orientation = orientation;
    return options;
}
TTestJpegOptions WithProfile(const std::string& icc)
{
    TTestJpegOptions options;
    options.IccProfile = icc;
    return options;
}
TTestJpegOptions Unsubsampled()
{
    TTestJpegOptions options;
    options.Subsample = false;
    return options;
}
TTestJpegOptions Arithmetic()
{
    TTestJpegOptions options;
    options.Arithmetic = true;
    return options;
}

std::string Refusal(const std::string& jpeg)
{
    return RequantizeJpeg(jpeg, 60).Refusal;
}

// The DCT path skips the rounding of decoding and encoding again, so it keeps closer to the
// source for no more bytes. Near the source's own quality it keeps more of the source's detail
// than the pixel path can, for a few more bytes: there only the PSNR is held to.
TEST(RequantizeJpeg, BeatsThePixelPathInQualityAndSize)
{
    const TRaster photo = PhotoRaster(160, 120);
    for (const bool progressive : {false, true})
    {
        TTestJpegOptions options;
        options.Progressive = progressive;
        const std::string source = MakeTestJpeg(photo, options);
        const TRaster decoded = DecodeJpeg(source);
        for (const int quality : {30, 60, 85})
        {
            const TRequantized dct = RequantizeJpeg(source, quality);
            ASSERT_EQ(dct.Refusal, "") << quality;
            const std::string pixel = PixelPath(source, quality);
            const TJpegFacts facts = InspectJpeg(dct.Jpeg);
            EXPECT_TRUE(facts.Ok && facts.StartsWithSoi && facts.EndsWithEoi);
            EXPECT_EQ(facts.Width, 160);
            EXPECT_EQ(facts.Height, 120);
            EXPECT_EQ(facts.Subsampling, TJSAMP_420);
            const double dctPsnr = Psnr(decoded, DecodeJpeg(dct.Jpeg));
            const double pixelPsnr = Psnr(decoded, DecodeJpeg(pixel));
            EXPECT_GE(dctPsnr, pixelPsnr)
                << "quality " << quality << " progressive " << progressive;
            if (quality <= 60)
            {
                EXPECT_LE(dct.Jpeg.size(), pixel.size()) << quality;
            }
        }
    }
}

// The fast arithmetic against plain integer division, over every target quantiser and the
// values where rounding and saturation turn.
TEST(TRequantTable, IsExactIntegerRoundingWithHalvesTowardZero)
{
    const auto reference = [](int value, int from, int to) {
        const long long n = static_cast<long long>(value < 0 ? -value : value) * from;
        const long long q = std::min<long long>((n + (to - 1) / 2) / to, 1023);
        return static_cast<JCOEF>(value < 0 ? -q : q);
    };
    std::mt19937 random(11);
    std::uniform_int_distribution<int> anyValue(-32768, 32767);
    std::uniform_int_distribution<int> smallValue(-1200, 1200);
    for (int to = 1; to <= 255; ++to)
    {
        for (const int from : {0, 1, 2, 3, 7, to, 2 * to, 99, 255, 1000, 65535})
        {
            std::uint16_t fromTable[DCTSIZE2];
            std::uint16_t toTable[DCTSIZE2];
            JCOEF in[DCTSIZE2];
            JCOEF out[DCTSIZE2];
            std::fill(std::begin(fromTable), std::end(fromTable), static_cast<std::uint16_t>(from));
            std::fill(std::begin(toTable), std::end(toTable), static_cast<std::uint16_t>(to));
            const TRequantTable table(fromTable, toTable);
            for (int round = 0; round < 5; ++round)
            {
                // Round 4 is sparse, as requantized blocks are: rows of zeros, runs past 16.
                for (int k = 0; k < DCTSIZE2; ++k)
                    in[k] = static_cast<JCOEF>(
                        round == 0   ? k - 32
                        : round == 1 ? anyValue(random)
                        : round == 4 ? (random() % 5 == 0 ? smallValue(random) / 30 : 0)
                                     : smallValue(random));
                if (round == 3)
                {
                    // Exact halves and their neighbours.
                    for (int k = 0; k < 20; ++k)
                        in[k] =
                            static_cast<JCOEF>((k % 2 == 0 ? 1 : -1) *
                                               ((2 * k + 1) * to / 2 / std::max(from, 1) + k % 3));
                    in[20] = -32768;
                    in[21] = 32767;
                }
                table.Apply(in, out);
                for (int k = 0; k < DCTSIZE2; ++k)
                    ASSERT_EQ(out[k], reference(in[k], from, to))
                        << "value " << in[k] << " from " << from << " to " << to;
                // The fused pass gives the same coefficients and the same counts.
                JCOEF fused[DCTSIZE2];
                THuffmanCounts expected;
                THuffmanCounts counts;
                int lastDc = 5;
                int expectedDc = 5;
                CountBlock(out, expectedDc, expected);
                table.ApplyAndCount(in, fused, lastDc, counts);
                ASSERT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(fused)));
                ASSERT_EQ(counts.Ac, expected.Ac);
                ASSERT_EQ(counts.Dc, expected.Dc);
                ASSERT_EQ(lastDc, expectedDc);
            }
        }
    }
}

// The symbols counted on the way and the tables built from them are exactly libjpeg's: its
// own optimisation of the same coefficients gives the same bytes. The sizes have MCUs with
// dummy blocks at the right and bottom edges.
TEST(RequantizeJpeg, HuffmanTablesAreThoseLibjpegWouldFit)
{
    TRaster grey = NewRaster(75, 61, 1);
    for (std::size_t i = 0; i < grey.Pixels.size(); ++i)
        grey.Pixels[i] = static_cast<std::uint8_t>(i * 13 % 256);
    for (const std::string& source :
         {MakeTestJpeg(PhotoRaster(200, 150)), MakeTestJpeg(PhotoRaster(100, 75)),
          MakeTestJpeg(PhotoRaster(100, 75), WithOrientation(5)), MakeTestJpeg(grey)})
        for (const int quality : {10, 60, 95})
        {
            const TRequantized dct = RequantizeJpeg(source, quality);
            ASSERT_EQ(dct.Refusal, "");
            EXPECT_EQ(dct.Jpeg, ReoptimiseWithLibjpeg(dct.Jpeg)) << quality;
        }
}

TEST(RequantizeJpeg, WritesTheTargetTablesNotTheSourceBytes)
{
    const std::string source = MakeTestJpeg(PhotoRaster(64, 48), WithQuality(60));
    const TRequantized same = RequantizeJpeg(source, 60);
    ASSERT_EQ(same.Refusal, "");
    EXPECT_NE(same.Jpeg, source);
    // The tables of a quality are those the pixel path's encoder writes for it: the DQT
    // segments match byte for byte.
    const auto tables = [](const std::string& jpeg) {
        const std::size_t at = jpeg.find("\xFF\xDB");
        const std::size_t length = static_cast<unsigned char>(jpeg[at + 2]) * 256u +
                                   static_cast<unsigned char>(jpeg[at + 3]);
        return jpeg.substr(at, 2 + length);
    };
    for (const int quality : {1, 60, 100})
        EXPECT_EQ(tables(RequantizeJpeg(source, quality).Jpeg), tables(PixelPath(source, quality)))
            << quality;
}

TEST(RequantizeJpeg, GreyStaysGreyAndFlatChromaBecomesGrey)
{
    TRaster grey = NewRaster(64, 48, 1);
    for (std::size_t i = 0; i < grey.Pixels.size(); ++i)
        grey.Pixels[i] = static_cast<std::uint8_t>(i * 7 % 251);
    const TRequantized fromGrey = RequantizeJpeg(MakeTestJpeg(grey), 60);
    ASSERT_EQ(fromGrey.Refusal, "");
    EXPECT_EQ(InspectJpeg(fromGrey.Jpeg).Components, 1);

    // Neutral pixels stored as YCbCr have nothing but zeros in Cb and Cr; the pixel path would
    // see R = G = B everywhere and write one component, and so does the DCT path.
    TRaster neutral = NewRaster(64, 48, 3);
    for (std::size_t i = 0; i < neutral.Pixels.size(); ++i)
        neutral.Pixels[i] = grey.Pixels[i / 3];
    const std::string source = MakeTestJpeg(neutral);
    ASSERT_EQ(InspectJpeg(source).Components, 3);
    const TRequantized flat = RequantizeJpeg(source, 60);
    ASSERT_EQ(flat.Refusal, "");
    EXPECT_EQ(InspectJpeg(flat.Jpeg).Components, 1);
    EXPECT_EQ(InspectJpeg(PixelPath(source, 60)).Components, 1);
}

// Every orientation whose transform is exact: the DCT path's picture is the pixel path's,
// turned the same way, within the rounding of one encoding.
TEST(RequantizeJpeg, TurnsEveryOrientationUprightLosslessly)
{
    const TRaster photo = PhotoRaster(64, 48, 3);
    for (int orientation = 1; orientation <= 8; ++orientation)
    {
        const std::string source = MakeTestJpeg(photo, WithOrientation(orientation));
        const TRequantized dct = RequantizeJpeg(source, 90);
        ASSERT_EQ(dct.Refusal, "") << orientation;
        const TRaster upright = DecodeJpeg(source);
        const TRaster result = DecodeJpeg(dct.Jpeg);
        ASSERT_EQ(result.Width, upright.Width) << orientation;
        ASSERT_EQ(result.Height, upright.Height) << orientation;
        EXPECT_GT(Psnr(upright, result), 35.0) << orientation;
    }
}

TEST(RequantizeJpeg, FallsBackWhereThePixelPathIsNeeded)
{
    const TRaster photo = PhotoRaster(100, 75);
    EXPECT_EQ(Refusal(ReadFileBytes(TestDataPath("jpeg_cmyk_adobe.jpg"))), "colour space");
    EXPECT_EQ(Refusal(MakeTestJpeg(photo, Unsubsampled())), "sampling");
    EXPECT_EQ(Refusal(ReadFileBytes(TestDataPath("jpeg_progressive.jpg"))), "sampling");
    EXPECT_EQ(Refusal(MakeTestJpeg(photo, Arithmetic())), "arithmetic coding");

    // Turning 100 x 75 needs a mirror of a side that is not whole MCUs of 16; transposing
    // alone (5) mirrors nothing and stays exact.
    for (const int orientation : {2, 3, 4, 6, 7, 8})
        EXPECT_EQ(Refusal(MakeTestJpeg(photo, WithOrientation(orientation))),
                  "orientation not exact for the size")
            << orientation;
    EXPECT_EQ(Refusal(MakeTestJpeg(photo, WithOrientation(5))), "");
    // 6 mirrors only the stored height: 100 x 64 is exact, whatever the width.
    EXPECT_EQ(Refusal(MakeTestJpeg(PhotoRaster(100, 64), WithOrientation(6))), "");

    EXPECT_EQ(Refusal(MakeTestJpeg(photo, WithProfile(DisplayP3Icc()))), "colour profile");
    EXPECT_EQ(Refusal(MakeTestJpeg(photo, WithProfile(SrgbIcc()))), "");
}

TEST(RequantizeJpeg, RefusesDamagedData)
{
    const std::string good = MakeTestJpeg(PhotoRaster(128, 96));
    // Bytes in the middle of the scan data: libjpeg warns and carries on with garbage, which
    // the pixel path may show but the DCT path must not copy.
    std::string corrupt = good;
    const std::size_t scan = good.find("\xFF\xDA");
    for (std::size_t i = scan + 200; i < scan + 260; i += 3)
        corrupt[i] = static_cast<char>(0xFF);
    EXPECT_EQ(Refusal(corrupt).rfind("damaged data", 0), 0u) << Refusal(corrupt);
    EXPECT_EQ(Refusal(good.substr(0, good.size() / 2)).rfind("damaged data", 0), 0u);
    const TRequantized notAJpeg = RequantizeJpeg("\xFF\xD8\xFF\xE0 not a JPEG", 60);
    EXPECT_EQ(notAJpeg.Refusal, "truncated JPEG");
    EXPECT_EQ(notAJpeg.Jpeg, "");
}

// Through the imaging layer: a file the DCT path refuses still converts by the pixel path, a
// file it takes is not decoded, and switching it off gives the pixel path's bytes.
TEST(ReencodeAsJpeg, TakesTheDctPathOnlyWhereItMay)
{
    TTempDir dir;
    const std::string taken = dir.File("taken.jpg");
    const std::string refused = dir.File("refused.jpg");
    const TRaster photo = PhotoRaster(100, 75);
    WriteFileBytes(taken, MakeTestJpeg(photo));
    WriteFileBytes(refused, MakeTestJpeg(photo, Arithmetic()));

    TMemoryStream viaDct;
    ASSERT_EQ(TryReencodeAsJpeg(taken, 60, viaDct), "");
    EXPECT_EQ(viaDct.Bytes(), RequantizeJpeg(ReadFileBytes(taken), 60).Jpeg);
    TMemoryStream viaPixels;
    ASSERT_EQ(TryReencodeAsJpeg(refused, 60, viaPixels), "");
    EXPECT_EQ(viaPixels.Bytes(), PixelPath(ReadFileBytes(refused), 60));

    SetJpegRequantizing(false);
    TMemoryStream switchedOff;
    const std::string reason = TryReencodeAsJpeg(taken, 60, switchedOff);
    SetJpegRequantizing(true);
    ASSERT_EQ(reason, "");
    EXPECT_EQ(switchedOff.Bytes(), PixelPath(ReadFileBytes(taken), 60));
}

TEST(EncodeJpeg, OptimisedHuffmanTablesShrinkTheFileNotThePicture)
{
    const TRaster photo = PhotoRaster(160, 120);
    const std::string ours = EncodeJpeg(photo, 60);
    // TurboJPEG with its standard tables and the same settings otherwise.
    tjhandle handle = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(handle, photo.Pixels.data(), photo.Width, 0, photo.Height, TJPF_RGB,
                          &buffer, &size, TJSAMP_420, 60, 0),
              0);
    const std::string standard(reinterpret_cast<const char*>(buffer), size);
    tjFree(buffer);
    tjDestroy(handle);
    EXPECT_LT(ours.size(), standard.size());
    EXPECT_EQ(DecodeJpegForTest(ours).Pixels, DecodeJpegForTest(standard).Pixels);
}

// The pixel path counts the symbols for its fitted tables itself, in place of libjpeg's own
// pass: the file is the one libjpeg fits for the same coefficients, with edge MCUs of dummy
// blocks, grey and colour, at any quality.
TEST(EncodeJpeg, FittedTablesAreThoseLibjpegWouldFit)
{
    TRaster grey = NewRaster(75, 61, 1);
    for (std::size_t i = 0; i < grey.Pixels.size(); ++i)
        grey.Pixels[i] = static_cast<std::uint8_t>(i * 13 % 256);
    for (const TRaster& raster : {PhotoRaster(200, 150), PhotoRaster(99, 37), grey})
        for (const int quality : {10, 60, 97, 100})
        {
            const std::string ours = EncodeJpeg(raster, quality);
            EXPECT_EQ(ours, ReoptimiseWithLibjpeg(ours)) << raster.Width << " " << quality;
        }
}

TEST(TGPImage, AJpegIsSizedFromItsHeaderAndThumbnailedFromAReducedDecode)
{
    TTempDir dir;
    const std::string path = dir.File("turned.jpg");
    // Quadrants stored 640 x 480 with orientation 6: upright 480 x 640, blue top left.
    WriteFileBytes(path, MakeTestJpeg(QuadrantRaster(640, 480), WithOrientation(6)));
    TGPImage image(path);
    ASSERT_EQ(image.LastStatus(), gsOk);
    EXPECT_EQ(image.Width(), 480u);
    EXPECT_EQ(image.Height(), 640u);
    for (auto [w, h] :
         {std::pair{60u, 80u}, std::pair{61u, 79u}, std::pair{480u, 640u}, std::pair{1000u, 7u}})
    {
        const std::unique_ptr<TGPImage> thumbnail = image.GetThumbnailImage(w, h);
        ASSERT_EQ(thumbnail->Width(), w);
        ASSERT_EQ(thumbnail->Height(), h);
    }
    const std::unique_ptr<TGPImage> thumbnail = image.GetThumbnailImage(60, 80);
    const TRaster& pixels = *thumbnail->Pixels();
    EXPECT_TRUE(PixelNear(pixels, 15, 20, kBlue, 12));
    EXPECT_TRUE(PixelNear(pixels, 45, 20, kRed, 12));
    EXPECT_TRUE(PixelNear(pixels, 15, 60, kYellow, 12));
    EXPECT_TRUE(PixelNear(pixels, 45, 60, kGreen, 12));
}

TEST(TGPImage, AJpegWhoseDataFailKeepsItsSizeAndFailsWhenUsed)
{
    TTempDir dir;
    const std::string path = dir.File("cut.jpg");
    const std::string whole = MakeTestJpeg(PhotoRaster(128, 96));
    WriteFileBytes(path, whole.substr(0, whole.size() / 2));
    TGPImage image(path);
    EXPECT_EQ(image.Width(), 128u);
    EXPECT_EQ(image.Height(), 96u);
    EXPECT_EQ(image.GetThumbnailImage(16, 12)->Width(), 0u);
    EXPECT_EQ(image.LastReason(), "truncated JPEG");
    TMemoryStream stream;
    EXPECT_NE(image.Save(stream, kJpegEncoderClsid, nullptr), gsOk);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(image.Pixels(), nullptr);
}

} // namespace
