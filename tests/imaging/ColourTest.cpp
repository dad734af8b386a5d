// Colour-managed decoding: pictures tagged with a profile, or PNG's gamma and chromaticities,
// come out in sRGB; untagged and sRGB-tagged ones as they are stored. Expected values are those
// another colour-managed program (Pillow's ImageCms) gives for the same profile.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <tiffio.h>
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

// A TIFF of blocks 8 x 8, one a colour, side by side: each colour's samples as 8-bit values,
// stored in `bits` bits (16: each value times 257), in strips or 16 x 16 tiles.
struct TTiffBlocks
{
    std::uint16_t Photometric = PHOTOMETRIC_SEPARATED;
    std::vector<std::vector<int>> Colours;
    int Bits = 8;
    bool Tiled = false;
    std::string Icc;
};

std::string TiffOfBlocks(const TTempDir& dir, const TTiffBlocks& blocks)
{
    const std::string path = dir.File("blocks.tif");
    const auto samples = static_cast<std::uint16_t>(blocks.Colours.at(0).size());
    const std::uint32_t width = 8 * static_cast<std::uint32_t>(blocks.Colours.size());
    const std::uint32_t height = 8;
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, blocks.Bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, blocks.Photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!blocks.Icc.empty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(blocks.Icc.size()),
                     blocks.Icc.data());
    const std::uint32_t tile = 16;
    const std::uint32_t stride = blocks.Tiled ? (width + tile - 1) / tile * tile : width;
    const std::uint32_t rows = blocks.Tiled ? tile : height;
    std::vector<std::uint16_t> values(std::size_t{stride} * rows * samples, 0);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (std::uint16_t c = 0; c < samples; ++c)
                values[(std::size_t{y} * stride + x) * samples + c] = static_cast<std::uint16_t>(
                    blocks.Colours[x / 8][c] * (blocks.Bits == 16 ? 257 : 1));
    std::vector<std::uint8_t> bytes;
    for (std::uint16_t v : values)
    {
        if (blocks.Bits == 16)
            bytes.insert(bytes.end(), reinterpret_cast<const std::uint8_t*>(&v),
                         reinterpret_cast<const std::uint8_t*>(&v) + 2);
        else
            bytes.push_back(static_cast<std::uint8_t>(v));
    }
    const std::size_t rowBytes = bytes.size() / rows;
    if (blocks.Tiled)
    {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, tile);
        std::vector<std::uint8_t> one(rowBytes / stride * tile * tile);
        for (std::uint32_t left = 0; left < stride; left += tile)
        {
            for (std::uint32_t y = 0; y < tile; ++y)
                std::memcpy(one.data() + y * one.size() / tile,
                            bytes.data() + y * rowBytes + left * (rowBytes / stride),
                            one.size() / tile);
            EXPECT_GE(TIFFWriteTile(tiff, one.data(), left, 0, 0, 0), 0);
        }
    }
    else
    {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
        for (std::uint32_t y = 0; y < height; ++y)
            EXPECT_EQ(TIFFWriteScanline(tiff, bytes.data() + y * rowBytes, y, 0), 1);
    }
    TIFFClose(tiff);
    return ReadFileBytes(path);
}

// CMYK inks and, as Pillow's ImageCms gives them through the same profile, their sRGB colours.
const std::vector<std::vector<int>> kInks = {
    {0, 255, 255, 0}, {255, 0, 0, 128}, {64, 128, 32, 0}, {200, 40, 100, 60}};
const std::vector<TRgb> kPressed = {{204, 0, 0}, {0, 100, 100}, {152, 100, 178}, {30, 131, 94}};
// The same by the plain formula, as for untagged CMYK.
const std::vector<TRgb> kPlain = {{255, 0, 0}, {0, 127, 127}, {191, 127, 223}, {42, 164, 118}};

::testing::AssertionResult BlocksNear(const TRaster& raster, const std::vector<TRgb>& colours,
                                      int tolerance)
{
    if (raster.Width != 8 * static_cast<int>(colours.size()) || raster.Height != 8)
        return ::testing::AssertionFailure() << "size " << raster.Width << " x " << raster.Height;
    for (std::size_t i = 0; i < colours.size(); ++i)
        for (const int y : {0, 7})
            if (auto near =
                    PixelNear(raster, static_cast<int>(i) * 8 + 4, y, colours[i], tolerance);
                !near)
                return near << " (block " << i << ")";
    return ::testing::AssertionSuccess();
}

// A CMYK TIFF with a CMYK profile goes through it as a JPEG does, stored in strips or tiles, in 8
// or 16 bits; without a profile, with one that does not fit CMYK or with a damaged one, the plain
// formula stays.
TEST(ColourManagedTiff, CmykGoesThroughItsProfile)
{
    TTempDir dir;
    for (const bool tiled : {false, true})
        for (const int bits : {8, 16})
        {
            SCOPED_TRACE(std::to_string(bits) + (tiled ? " bits, tiled" : " bits, strips"));
            TTiffBlocks blocks{.Colours = kInks, .Bits = bits, .Tiled = tiled, .Icc = ""};
            EXPECT_TRUE(BlocksNear(DecodePicture(TiffOfBlocks(dir, blocks)), kPlain, 1));
            blocks.Icc = DimPressCmykIcc();
            EXPECT_TRUE(BlocksNear(DecodePicture(TiffOfBlocks(dir, blocks)), kPressed, 2));
        }
    for (const std::string& unfit : {AdobeRgbIcc(), std::string(600, 'x')})
        EXPECT_TRUE(BlocksNear(DecodePicture(TiffOfBlocks(dir, {.Colours = kInks, .Icc = unfit})),
                               kPlain, 1));
}

// Grey and RGB TIFFs in 8 and 16 bits (16-bit ones are read through libtiff's RGBA interface)
// go through their profile; a damaged profile is ignored.
TEST(ColourManagedTiff, GreyAndRgbProfilesIn8And16Bits)
{
    TTempDir dir;
    for (const int bits : {8, 16})
    {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const TRaster grey = DecodePicture(TiffOfBlocks(
            dir, {PHOTOMETRIC_MINISBLACK, {{128}, {255}}, bits, false, LinearGreyIcc()}));
        EXPECT_TRUE(BlocksNear(grey, {{kLinearHalf, kLinearHalf, kLinearHalf}, kWhite}, 1));
        const TRaster adobe = DecodePicture(TiffOfBlocks(
            dir, {PHOTOMETRIC_RGB, {{200, 100, 50}, {40, 200, 90}}, bits, false, AdobeRgbIcc()}));
        EXPECT_TRUE(BlocksNear(adobe, {kAdobeLeft, kAdobeRight}, 1));
        const TRaster damaged = DecodePicture(TiffOfBlocks(
            dir, {PHOTOMETRIC_RGB, {{200, 100, 50}}, bits, false, std::string(600, 'x')}));
        EXPECT_TRUE(BlocksNear(damaged, {{200, 100, 50}}, 0));
    }
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
