// Colour-managed decoding: pictures tagged with a profile, or PNG's gamma and chromaticities,
// come out in sRGB; untagged and sRGB-tagged ones as they are stored. Expected values are those
// another colour-managed program (Pillow's ImageCms) gives for the same profile.
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/JpegTranscoder.h"
#include "app/imaging/PictureReader.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/imaging/TestJpegs.h"
#include "tests/imaging/TestProfiles.h"
#include "tests/support/TestSupport.h"

namespace
{

void PutBe32(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string Chunk(const std::string& type, const std::string& data)
{
    std::string chunk;
    PutBe32(chunk, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    chunk += body;
    PutBe32(chunk, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                    static_cast<uInt>(body.size()))));
    return chunk;
}

std::string Deflated(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()));
    out.resize(size);
    return out;
}

// An 8-bit PNG of the raster (grey for one channel, else RGB) with the given chunks before its
// pixels.
std::string Png(const TRaster& raster, const std::string& chunks)
{
    std::string header;
    PutBe32(header, static_cast<std::uint32_t>(raster.Width));
    PutBe32(header, static_cast<std::uint32_t>(raster.Height));
    header += std::string{8, static_cast<char>(raster.Channels == 1 ? 0 : 2), 0, 0, 0};
    std::string rows;
    for (int y = 0; y < raster.Height; ++y)
        rows += '\0' + std::string(reinterpret_cast<const char*>(raster.Row(y)), raster.RowBytes());
    return "\x89PNG\r\n\x1A\n" + Chunk("IHDR", header) + chunks + Chunk("IDAT", Deflated(rows)) +
           Chunk("IEND", "");
}

std::string Iccp(const std::string& icc)
{
    return Chunk("iCCP", std::string("test\0\0", 6) + Deflated(icc));
}

std::string Gama(std::uint32_t gamma)
{
    std::string data;
    PutBe32(data, gamma);
    return Chunk("gAMA", data);
}

std::string Chrm(std::vector<std::uint32_t> values)
{
    std::string data;
    for (std::uint32_t value : values)
        PutBe32(data, value);
    return Chunk("cHRM", data);
}

// Two colours side by side, each 8 x 8: the Adobe RGB test colours, or the given ones.
TRaster TwoColours(TRgb left = {200, 100, 50}, TRgb right = {40, 200, 90})
{
    TRaster raster = NewRaster(16, 8, 3);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c)
                raster.Row(y)[x * 3 + c] = static_cast<std::uint8_t>(
                    x < 8 ? left[static_cast<std::size_t>(c)] : right[static_cast<std::size_t>(c)]);
    return raster;
}

TRaster GreyRaster(int level)
{
    TRaster raster = NewRaster(8, 8, 1);
    std::fill(raster.Pixels.begin(), raster.Pixels.end(), static_cast<std::uint8_t>(level));
    return raster;
}

// Adobe RGB (200, 100, 50) and (40, 200, 90) in sRGB.
constexpr TRgb kAdobeLeft{227, 100, 42};
constexpr TRgb kAdobeRight{0, 201, 80};
// 128 of 255 in linear light is 188 in sRGB's curve.
constexpr int kLinearHalf = 188;

TEST(ColourManagedPng, AnEmbeddedProfileIsConvertedToSrgb)
{
    const TRaster raster = DecodePicture(Png(TwoColours(), Iccp(AdobeRgbIcc())));
    EXPECT_TRUE(PixelNear(raster, 4, 4, kAdobeLeft, 1));
    EXPECT_TRUE(PixelNear(raster, 12, 4, kAdobeRight, 1));
    const TRaster grey = DecodePicture(Png(GreyRaster(128), Iccp(LinearGreyIcc())));
    EXPECT_TRUE(PixelNear(grey, 4, 4, TRgb{kLinearHalf, kLinearHalf, kLinearHalf}, 1));
}

// Without a profile, gamma and chromaticities describe the colours; an sRGB chunk or a gamma of
// 1/2.2 alone is sRGB; nothing at all is sRGB.
TEST(ColourManagedPng, GammaAndChromaticitiesDescribeTheColours)
{
    const TRaster linear = DecodePicture(Png(GreyRaster(128), Gama(100000)));
    EXPECT_TRUE(PixelNear(linear, 4, 4, TRgb{kLinearHalf, kLinearHalf, kLinearHalf}, 1));
    // Adobe RGB's chromaticities and gamma, told in chunks.
    const TRaster adobe = DecodePicture(Png(
        TwoColours(), Gama(45471) + Chrm({31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000})));
    EXPECT_TRUE(PixelNear(adobe, 4, 4, kAdobeLeft, 2));
    EXPECT_TRUE(PixelNear(adobe, 12, 4, kAdobeRight, 2));
    for (const std::string& chunks :
         {Gama(45455), Chunk("sRGB", std::string(1, '\0')) + Gama(100000), std::string()})
    {
        const TRaster same = DecodePicture(Png(TwoColours(), chunks));
        EXPECT_TRUE(PixelNear(same, 4, 4, TRgb{200, 100, 50}, 0));
    }
    // Nonsense chromaticities leave the picture as it is.
    const TRaster nonsense =
        DecodePicture(Png(TwoColours(), Gama(100000) + Chrm({0, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_TRUE(PixelNear(nonsense, 4, 4, TRgb{200, 100, 50}, 0));
}

// A JPEG's APP2 profile: converted on the pixel path, and the DCT path, which cannot convert,
// refuses every profile but sRGB.
TEST(ColourManagedJpeg, AnEmbeddedProfileIsConvertedAndKeepsTheDctPathToSrgb)
{
    TTestJpegOptions options;
    options.Quality = 100;
    options.Subsample = false;
    options.IccProfile = AdobeRgbIcc();
    const std::string adobe = MakeTestJpeg(TwoColours(), options);
    const TRaster raster = DecodePicture(adobe);
    EXPECT_TRUE(PixelNear(raster, 4, 4, kAdobeLeft, 3));
    EXPECT_TRUE(PixelNear(raster, 12, 4, kAdobeRight, 3));
    EXPECT_EQ(RequantizeJpeg(MakeTestJpeg(PhotoRaster(64, 48), {.IccProfile = AdobeRgbIcc()}), 60)
                  .Refusal,
              "colour profile");
    EXPECT_EQ(
        RequantizeJpeg(MakeTestJpeg(PhotoRaster(64, 48), {.IccProfile = SrgbIcc()}), 60).Refusal,
        "");

    options.IccProfile = SrgbIcc();
    EXPECT_TRUE(
        PixelNear(DecodePicture(MakeTestJpeg(TwoColours(), options)), 4, 4, TRgb{200, 100, 50}, 3));
    // A damaged profile is ignored: the picture is taken as untagged.
    options.IccProfile = std::string(600, 'x');
    EXPECT_TRUE(
        PixelNear(DecodePicture(MakeTestJpeg(TwoColours(), options)), 4, 4, TRgb{200, 100, 50}, 3));
}

// The ICC marker of a JPEG: "ICC_PROFILE", sequence 1 of 1, the profile.
std::string WithIccMarker(const std::string& jpeg, const std::string& icc)
{
    const std::string payload = std::string("ICC_PROFILE\0\1\1", 14) + icc;
    std::string marker = "\xFF\xE2";
    marker += static_cast<char>(((payload.size() + 2) >> 8) & 0xFF);
    marker += static_cast<char>((payload.size() + 2) & 0xFF);
    return jpeg.substr(0, 2) + marker + payload + jpeg.substr(2);
}

// A CMYK JPEG's inks go through its profile; without one, the plain formula stays.
TEST(ColourManagedJpeg, CmykGoesThroughItsProfile)
{
    const std::string cmyk = ReadFileBytes(TestDataPath("jpeg_cmyk_adobe.jpg"));
    const TRaster plain = DecodePicture(cmyk);
    EXPECT_TRUE(PixelNear(plain, 16, 12, kRed, 2));
    const TRaster pressed = DecodePicture(WithIccMarker(cmyk, DimPressCmykIcc()));
    EXPECT_TRUE(PixelNear(pressed, 16, 12, TRgb{204, 0, 0}, 4));   // magenta and yellow
    EXPECT_TRUE(PixelNear(pressed, 48, 12, TRgb{0, 204, 0}, 4));   // cyan and yellow
    EXPECT_TRUE(PixelNear(pressed, 16, 36, TRgb{0, 0, 204}, 4));   // cyan and magenta
    EXPECT_TRUE(PixelNear(pressed, 48, 36, TRgb{102, 102, 0}, 4)); // yellow, half black
    // An RGB profile on CMYK inks does not fit them: ignored.
    EXPECT_TRUE(PixelNear(DecodePicture(WithIccMarker(cmyk, AdobeRgbIcc())), 16, 12, kRed, 2));
}

TEST(ColourManagedTiff, AnEmbeddedProfileIsConvertedToSrgb)
{
    TTempDir dir;
    const std::string path = dir.File("adobe.tif");
    WriteTiff(path, TwoColours(), 1, 2, AdobeRgbIcc());
    const TRaster raster = DecodePictureFile(path);
    EXPECT_TRUE(PixelNear(raster, 4, 4, kAdobeLeft, 1));
    EXPECT_TRUE(PixelNear(raster, 12, 4, kAdobeRight, 1));
}

TEST(ColourProfiles, OnlySrgbItselfCountsAsSrgb)
{
    EXPECT_TRUE(IsSrgbProfile(SrgbIcc()));
    EXPECT_TRUE(IsSrgbProfile(ReadFileBytes("/usr/share/color/icc/colord/sRGB.icc")));
    for (const std::string& other : {AdobeRgbIcc(), DisplayP3Icc(), LinearGreyIcc(),
                                     DimPressCmykIcc(), std::string(), std::string(200, '\0')})
        EXPECT_FALSE(IsSrgbProfile(other));
}

} // namespace
