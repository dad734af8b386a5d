#include <string>
#include <utility>
#include <vector>

#include <spng.h>
#include <tiffio.h>

#include <gtest/gtest.h>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/JpegReader.h"
#include "app/imaging/JpegTranscoder.h"
#include "app/imaging/PictureReader.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

struct TQuadrantCase
{
    const char* File;
    int Width;
    int Height;
    TRgb TopLeft;
    TRgb TopRight;
    TRgb BottomLeft;
    TRgb BottomRight;
    int Tolerance;
};

void PrintTo(const TQuadrantCase& c, std::ostream* os)
{
    *os << c.File;
}

class QuadrantFixtures : public ::testing::TestWithParam<TQuadrantCase>
{
};

// Every format the converter accepts, with its awkward variants, decoded to upright RGB with
// transparency on white: samples at the centres of the four quadrants.
TEST_P(QuadrantFixtures, DecodeToTheirPixels)
{
    const TQuadrantCase& c = GetParam();
    const TRaster raster = DecodePictureFile(TestDataPath(c.File));
    ASSERT_EQ(raster.Width, c.Width);
    ASSERT_EQ(raster.Height, c.Height);
    ASSERT_TRUE(raster.Channels == 3 || raster.Channels == 1);
    const int left = c.Width / 4;
    const int right = c.Width * 3 / 4;
    const int top = c.Height / 4;
    const int bottom = c.Height * 3 / 4;
    EXPECT_TRUE(PixelNear(raster, left, top, c.TopLeft, c.Tolerance));
    EXPECT_TRUE(PixelNear(raster, right, top, c.TopRight, c.Tolerance));
    EXPECT_TRUE(PixelNear(raster, left, bottom, c.BottomLeft, c.Tolerance));
    EXPECT_TRUE(PixelNear(raster, right, bottom, c.BottomRight, c.Tolerance));
}

constexpr TRgb kHalfBlue{128, 128, 255};
constexpr TRgb kHalfGreen{127, 255, 127};
constexpr TRgb kDarkYellow{128, 128, 0};

INSTANTIATE_TEST_SUITE_P(
    AllFormats, QuadrantFixtures,
    ::testing::Values(
        TQuadrantCase{"jpeg_rgb_64x48.jpg", 64, 48, kRed, kGreen, kBlue, kYellow, 3},
        TQuadrantCase{"jpeg_progressive.jpg", 64, 48, kRed, kGreen, kBlue, kYellow, 3},
        TQuadrantCase{"jpeg_cmyk_adobe.jpg", 64, 48, kRed, kGreen, kBlue, kDarkYellow, 3},
        TQuadrantCase{"jpeg_exif_orient6.jpg", 48, 64, kBlue, kRed, kYellow, kGreen, 3},
        TQuadrantCase{"png_rgb8.png", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"png_interlaced.png", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"png_palette_trns.png", 64, 48, kRed, kGreen, kBlue, kWhite, 0},
        TQuadrantCase{"png_rgba16.png", 64, 48, kRed, kHalfBlue, kBlue, kWhite, 1},
        TQuadrantCase{"png_named_jpg.jpg", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"gif_transparent.gif", 64, 48, kRed, kGreen, kBlue, kWhite, 0},
        TQuadrantCase{"gif_animated.gif", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_1bit.bmp", 63, 47, kRed, kBlue, kBlue, kBlue, 0},
        TQuadrantCase{"bmp_4bit_rle.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_8bit_rle.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_16bit.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_16bit_555.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_24bit.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_24bit_topdown.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_32bit.bmp", 63, 47, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"bmp_32bit_alpha.bmp", 63, 47, kRed, kHalfGreen, kBlue, kWhite, 1},
        TQuadrantCase{"ico_multi.ico", 48, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"ico_png_entry.ico", 256, 256, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"tiff_lzw.tif", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"tiff_multipage.tif", 64, 48, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"tiff_rgba.tif", 64, 48, kRed, kGreen, kBlue, kWhite, 0},
        TQuadrantCase{"tiff_orient6.tif", 48, 64, kBlue, kRed, kYellow, kGreen, 0},
        TQuadrantCase{"tiff_g4.tif", 64, 48, kBlack, kWhite, kWhite, kWhite, 0},
        TQuadrantCase{"emf_simple.emf", 384, 288, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"wmf_placeable.wmf", 240, 192, kRed, kGreen, kBlue, kYellow, 0},
        TQuadrantCase{"wmf_noplaceable.wmf", 193, 129, kRed, kGreen, kBlue, kYellow, 0}));

TEST(GreyPictures, JpegStaysOneChannel)
{
    const TRaster raster = DecodePictureFile(TestDataPath("jpeg_grey.jpg"));
    ASSERT_EQ(raster.Channels, 1);
    EXPECT_TRUE(PixelNear(raster, 8, 24, {0, 0, 0}, 3));
    EXPECT_TRUE(PixelNear(raster, 24, 24, {85, 85, 85}, 3));
    EXPECT_TRUE(PixelNear(raster, 40, 24, {170, 170, 170}, 3));
    EXPECT_TRUE(PixelNear(raster, 56, 24, {255, 255, 255}, 3));
}

TEST(GreyPictures, TwoBitPngKeepsItsLevels)
{
    const TRaster raster = DecodePictureFile(TestDataPath("png_grey_2bit.png"));
    EXPECT_TRUE(PixelNear(raster, 8, 24, {0, 0, 0}, 0));
    EXPECT_TRUE(PixelNear(raster, 24, 24, {85, 85, 85}, 0));
    EXPECT_TRUE(PixelNear(raster, 56, 24, {255, 255, 255}, 0));
}

// A PNG of the header's kind, its samples (packed as stored) from a pattern, perhaps a
// palette and a gamma, written by libspng.
std::string PatternPng(std::uint8_t colourType, std::uint8_t depth, std::uint32_t gamma)
{
    constexpr std::uint32_t kSide = 37;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{kSide, kSide, depth, colourType, 0, 0, 0};
    spng_set_ihdr(ctx, &header);
    const unsigned samples = colourType == SPNG_COLOR_TYPE_TRUECOLOR ? 3 : 1;
    if (colourType == SPNG_COLOR_TYPE_INDEXED)
    {
        spng_plte palette{};
        palette.n_entries = 1u << depth;
        for (unsigned i = 0; i < palette.n_entries; ++i)
            palette.entries[i] = {static_cast<std::uint8_t>(i * 7),
                                  static_cast<std::uint8_t>(i * 3),
                                  static_cast<std::uint8_t>(255 - i), 0};
        spng_set_plte(ctx, &palette);
    }
    if (gamma != 0)
        spng_set_gama_int(ctx, gamma);
    const std::size_t rowBytes = (kSide * samples * depth + 7) / 8;
    std::vector<std::uint8_t> pixels(rowBytes * kSide);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 37 % 251);
    EXPECT_EQ(
        spng_encode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
        0);
    std::size_t size = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx, &size, &error);
    std::string bytes(static_cast<const char*>(png), size);
    std::free(png);
    spng_ctx_free(ctx);
    return bytes;
}

// PNGs that cannot be transparent decode straight to RGB: the same pixels as through RGBA with
// every alpha 255, flattened, for every kind and depth, colour-managed or not.
TEST(OpaquePng, DecodesToTheSamePixelsAsThroughRgba)
{
    struct TKind
    {
        std::uint8_t ColourType;
        std::uint8_t Depth;
    };
    for (const TKind kind : {TKind{0, 1}, TKind{0, 4}, TKind{0, 8}, TKind{0, 16}, TKind{2, 8},
                             TKind{2, 16}, TKind{3, 2}, TKind{3, 8}})
        for (const std::uint32_t gamma : {0u, 100000u})
        {
            const std::string png = PatternPng(kind.ColourType, kind.Depth, gamma);
            spng_ctx* ctx = spng_ctx_new(0);
            spng_set_png_buffer(ctx, png.data(), png.size());
            spng_ihdr header{};
            ASSERT_EQ(spng_get_ihdr(ctx, &header), 0);
            TRaster expected = NewRaster(header.width, header.height, 4);
            ASSERT_EQ(spng_decode_image(ctx, expected.Pixels.data(), expected.Pixels.size(),
                                        SPNG_FMT_RGBA8, SPNG_DECODE_TRNS),
                      0);
            spng_ctx_free(ctx);
            if (gamma != 0)
                ConvertToSrgb(expected, ProfileFromGamma(gamma, nullptr));
            FlattenOntoWhite(expected);

            const TRaster decoded = DecodePicture(png);
            EXPECT_EQ(decoded.Channels, 3);
            EXPECT_EQ(decoded.Pixels, expected.Pixels)
                << int{kind.ColourType} << " " << int{kind.Depth} << " " << gamma;
        }
}

TEST(GifComposition, FrameSmallerThanTheScreenLeavesTheRestWhite)
{
    const TRaster raster = DecodePictureFile(TestDataPath("gif_offset_frame.gif"));
    ASSERT_EQ(raster.Width, 64);
    ASSERT_EQ(raster.Height, 48);
    EXPECT_TRUE(PixelNear(raster, 32, 24, kRed, 0));
    EXPECT_TRUE(PixelNear(raster, 4, 4, kWhite, 0));
    EXPECT_TRUE(PixelNear(raster, 60, 44, kWhite, 0));
}

// A frame without pixels widens nothing, wherever it is placed (the fuzzer's 62-byte file made
// a page of 16384 x 12288).
TEST(GifComposition, AnEmptyFrameLeavesTheScreenAsItIs)
{
    const TRaster raster =
        DecodePicture(ReadFileBytes(TestDataPath("regress/gif/empty-frame-far-off.gif")));
    EXPECT_EQ(raster.Width, 64);
    EXPECT_EQ(raster.Height, 48);
}

// Stored 3 x 2 as  1 2 3 / 4 5 6  (one grey channel, so values name positions).
TEST(Orientation, EveryExifValueTurnsTheStoredPictureUpright)
{
    const std::vector<std::vector<std::uint8_t>> expected = {
        {},
        {1, 2, 3, 4, 5, 6}, // 1 as stored
        {3, 2, 1, 6, 5, 4}, // 2 mirrored
        {6, 5, 4, 3, 2, 1}, // 3 turned half round
        {4, 5, 6, 1, 2, 3}, // 4 upside down
        {1, 4, 2, 5, 3, 6}, // 5 transposed (2 x 3)
        {4, 1, 5, 2, 6, 3}, // 6 turned clockwise
        {6, 3, 5, 2, 4, 1}, // 7 transverse
        {3, 6, 2, 5, 1, 4}, // 8 turned anticlockwise
    };
    for (int orientation = 1; orientation <= 8; ++orientation)
    {
        TRaster raster = NewRaster(3, 2, 1);
        raster.Pixels = {1, 2, 3, 4, 5, 6};
        ApplyOrientation(raster, orientation);
        EXPECT_EQ(raster.Pixels, expected[static_cast<std::size_t>(orientation)]) << orientation;
        EXPECT_EQ(raster.Width, orientation >= 5 ? 2 : 3) << orientation;
        EXPECT_EQ(raster.Height, orientation >= 5 ? 3 : 2) << orientation;
    }
}

// libtiff mirrors 5..8 as if they were 1..4; the reader must end with the same picture as
// for a JPEG with that EXIF value.
TEST(Orientation, TiffTagsFiveToEightMatchTheExifMeaning)
{
    TTempDir dir;
    TRaster stored = NewRaster(3, 2, 3);
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t c = 0; c < 3; ++c)
            stored.Pixels[i * 3 + c] = static_cast<std::uint8_t>((i + 1) * 40);
    for (int orientation = 1; orientation <= 8; ++orientation)
    {
        const std::string path = dir.File("o" + std::to_string(orientation) + ".tif");
        WriteTiff(path, stored, orientation);
        TRaster expected = stored;
        ApplyOrientation(expected, orientation);
        const TRaster decoded = DecodePictureFile(path);
        ASSERT_EQ(decoded.Width, expected.Width) << orientation;
        ASSERT_EQ(decoded.Height, expected.Height) << orientation;
        EXPECT_EQ(decoded.Pixels, expected.Pixels) << orientation;
    }
}

// Plain 8-bit grey is read row by row as stored: black-is-zero as it is, white-is-zero turned
// round, and both stay one channel.
TEST(TiffGrey, EightBitGreyKeepsItsValuesInEitherPhotometric)
{
    TTempDir dir;
    TRaster grey = NewRaster(5, 3, 1);
    for (std::size_t i = 0; i < grey.Pixels.size(); ++i)
        grey.Pixels[i] = static_cast<std::uint8_t>(i * 17);
    const std::string black = dir.File("black.tif");
    WriteTiff(black, grey, 1);
    EXPECT_EQ(DecodePictureFile(black).Pixels, grey.Pixels);

    const std::string white = dir.File("white.tif");
    TIFF* tiff = TIFFOpen(white.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 5u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 3u);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    for (int y = 0; y < 3; ++y)
        ASSERT_EQ(TIFFWriteScanline(tiff, grey.Row(y), static_cast<std::uint32_t>(y), 0), 1);
    TIFFClose(tiff);
    const TRaster decoded = DecodePictureFile(white);
    ASSERT_EQ(decoded.Channels, 1);
    for (std::size_t i = 0; i < grey.Pixels.size(); ++i)
        EXPECT_EQ(decoded.Pixels[i], 255 - grey.Pixels[i]) << i;
}

// Strips too short for the rows the header claims are cut short, known before the picture is
// allocated; uncompressed YCbCr with its colour subsampled stores half the bytes of RGB and is
// whole.
TEST(DamagedFiles, TiffStripsTooShortForTheirRowsAreTruncated)
{
    TTempDir dir;
    const std::string path = dir.File("ycbcr.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 16u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 16u);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16u);
    // Each 2 x 2 block: four lumas, then Cb and Cr.
    std::string blocks;
    for (int i = 0; i < 64; ++i)
        blocks += std::string("\x80\x80\x80\x80\x80\x80", 6);
    ASSERT_EQ(TIFFWriteEncodedStrip(tiff, 0, blocks.data(), static_cast<tmsize_t>(blocks.size())),
              static_cast<tmsize_t>(blocks.size()));
    TIFFClose(tiff);
    const TRaster ycbcr = DecodePictureFile(path);
    ASSERT_EQ(ycbcr.Width, 16);
    EXPECT_TRUE(PixelNear(ycbcr, 9, 9, TRgb{128, 128, 128}, 2));

    std::string claim = ReadFileBytes(path);
    const std::uint32_t directory = ReadLe32(claim, 4);
    for (std::size_t entry = directory + 2; entry + 12 <= claim.size(); entry += 12)
    {
        const std::uint16_t tag = ReadLe16(claim, entry);
        if (tag == TIFFTAG_IMAGELENGTH || tag == TIFFTAG_ROWSPERSTRIP)
            claim.replace(entry + 8, 2, std::string("\x80\x3E", 2)); // 16000 rows
        if (tag > TIFFTAG_ROWSPERSTRIP)
            break;
    }
    EXPECT_EQ(ReasonFor(claim), "truncated TIFF");
}

// An EMF with a clip region: its converter's SVG once closed the clip definition without the
// namespace prefix it opened it with, and the SVG renderer refused the whole picture.
TEST(EmfClip, AClipRegionDoesNotBreakTheDrawing)
{
    std::string emf = ReadFileBytes(TestDataPath("emf_simple.emf"));
    // EMR_INTERSECTCLIPRECT, 24 bytes, wide enough to keep the whole drawing.
    std::string clip;
    for (std::int32_t value : {30, 24, -100000, -100000, 100000, 100000})
        AppendLe32(clip, static_cast<std::uint32_t>(value));
    emf.insert(ReadLe32(emf, 4), clip); // after the header record
    std::string totals;
    AppendLe32(totals, static_cast<std::uint32_t>(emf.size()));
    AppendLe32(totals, ReadLe32(emf, 52) + 1);
    emf.replace(48, 8, totals); // file size and record count
    const TRaster raster = DecodePicture(emf);
    ASSERT_EQ(raster.Width, 384);
    EXPECT_TRUE(PixelNear(raster, 96, 72, kRed));
    EXPECT_TRUE(PixelNear(raster, 288, 216, kYellow));
}

// Half-transparent red over white is (255, 127, 127), however the file stores its alpha: libtiff
// hands both kinds out premultiplied, which a straight blend turned into (191, 127, 127).
TEST(TiffAlpha, PartlyTransparentPixelsAreFlattenedOntoWhite)
{
    TTempDir dir;
    for (const auto& [kind, red] :
         {std::pair{1, 128}, std::pair{2, 255}}) // associated, unassociated
    {
        TRaster stored = NewRaster(4, 2, 4);
        for (std::size_t i = 0; i < 8; ++i)
        {
            stored.Pixels[i * 4] = static_cast<std::uint8_t>(red);
            stored.Pixels[i * 4 + 3] = 128;
        }
        const std::string path = dir.File("alpha" + std::to_string(kind) + ".tif");
        WriteTiff(path, stored, 1, kind);
        const TRaster decoded = DecodePictureFile(path);
        EXPECT_TRUE(PixelNear(decoded, 1, 1, {255, 127, 127})) << "alpha kind " << kind;
    }
    // Grey with alpha: libtiff passes unassociated alpha on straight, associated as stored.
    for (const auto& [kind, grey] : {std::pair{1, 48}, std::pair{2, 96}})
    {
        TRaster stored = NewRaster(4, 2, 2);
        for (std::size_t i = 0; i < 8; ++i)
        {
            stored.Pixels[i * 2] = static_cast<std::uint8_t>(grey);
            stored.Pixels[i * 2 + 1] = 128;
        }
        const std::string path = dir.File("grey" + std::to_string(kind) + ".tif");
        WriteTiff(path, stored, 1, kind);
        const TRaster decoded = DecodePictureFile(path);
        EXPECT_TRUE(PixelNear(decoded, 1, 1, {175, 175, 175})) << "grey alpha kind " << kind;
    }
}

struct TFailureCase
{
    const char* File;
    const char* Reason;
};

void PrintTo(const TFailureCase& c, std::ostream* os)
{
    *os << c.File;
}

class BrokenFixtures : public ::testing::TestWithParam<TFailureCase>
{
};

TEST_P(BrokenFixtures, FailWithTheirReason)
{
    try
    {
        DecodePictureFile(TestDataPath(GetParam().File));
        FAIL() << "decoded";
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), GetParam().Reason);
    }
}

// The oversized ones must be refused from the header alone: none of them holds the pixels it
// claims, and a decoder that allocated first would need gigabytes.
INSTANTIATE_TEST_SUITE_P(
    Hostile, BrokenFixtures,
    ::testing::Values(TFailureCase{"empty.png", "empty file"},
                      TFailureCase{"garbage.jpg", "not a picture"},
                      TFailureCase{"truncated.png", "truncated PNG"},
                      TFailureCase{"truncated.jpg", "truncated JPEG"},
                      TFailureCase{"truncated.gif", "truncated GIF"},
                      TFailureCase{"huge_dims.png", "picture too large: 70000 x 200"},
                      TFailureCase{"huge_area.png", "picture too large: 20000 x 20000"},
                      TFailureCase{"huge_dims.bmp", "picture too large: 70000 x 200"},
                      TFailureCase{"huge_dims.gif", "picture too large: 65535 x 65535"}));

TEST(FileErrors, MissingDirectoryAndUnreadable)
{
    TTempDir dir;
    try
    {
        DecodePictureFile(dir.File("absent.png"));
        FAIL();
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "file not found");
        EXPECT_EQ(e.Fault(), fkFileNotFound);
    }
    try
    {
        DecodePictureFile(dir.Path());
        FAIL();
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "not a regular file");
    }
}

TEST(PictureSize, LimitsAreInclusiveAndNamedInTheReason)
{
    EXPECT_NO_THROW(CheckPictureSize(65500, 3000));
    EXPECT_NO_THROW(CheckPictureSize(16000, 16000)); // exactly 256 megapixels
    try
    {
        CheckPictureSize(65501, 1);
        FAIL();
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "picture too large: 65501 x 1");
        EXPECT_EQ(e.Fault(), fkTooLarge);
    }
    EXPECT_THROW(CheckPictureSize(16001, 16000), EPictureError);
    EXPECT_THROW(CheckPictureSize(0, 10), EPictureError);

    // A lower cap (the metafile helper's) gives the same reason; a higher one changes nothing.
    EXPECT_NO_THROW(CheckPictureSize(100, 100, 10000));
    try
    {
        CheckPictureSize(101, 100, 10000);
        FAIL();
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "picture too large: 101 x 100");
        EXPECT_EQ(e.Fault(), fkTooLarge);
    }
    EXPECT_FALSE(PictureSizeFits(16001, 16000, kMaxPicturePixels * 4));
    // Sides read from 32-bit fields: the area must not wrap into the limits.
    EXPECT_FALSE(PictureSizeFits(4294967295, 4294967295));
    EXPECT_FALSE(PictureSizeFits(-65500, -65500));
}

// Cut and damaged copies of every good fixture either decode or fail with a reason; none may
// crash, hang or print to stderr.
TEST(DamagedFiles, CutOrScrambledCopiesNeverCrash)
{
    const std::vector<std::string> files = {
        "jpeg_rgb_64x48.jpg",    "jpeg_progressive.jpg", "jpeg_cmyk_adobe.jpg",
        "jpeg_exif_orient6.jpg", "png_interlaced.png",   "png_palette_trns.png",
        "gif_animated.gif",      "bmp_4bit_rle.bmp",     "bmp_32bit_alpha.bmp",
        "ico_multi.ico",         "ico_png_entry.ico",    "tiff_lzw.tif",
        "tiff_g4.tif",           "emf_simple.emf",       "wmf_placeable.wmf"};
    for (const std::string& name : files)
    {
        const std::string good = ReadFileBytes(TestDataPath(name));
        std::vector<std::string> variants;
        for (std::size_t cut : {good.size() / 8, good.size() / 3, good.size() / 2, good.size() - 1})
            variants.push_back(good.substr(0, cut));
        std::string scrambled = good;
        for (std::size_t i = 20; i < scrambled.size(); i += 7)
            scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5A);
        variants.push_back(scrambled);
        for (std::size_t i = 0; i < variants.size(); ++i)
        {
            ::testing::internal::CaptureStderr();
            std::string outcome = "decoded";
            try
            {
                const TRaster raster = DecodePicture(variants[i]);
                EXPECT_GT(raster.Width, 0);
            }
            catch (const EPictureError& e)
            {
                outcome = e.what();
                EXPECT_FALSE(outcome.empty());
            }
            const std::string printed = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(printed, "") << name << " variant " << i << ": " << outcome;
        }
    }
}

// A scan cut short and closed with the end-of-image marker is a truncated file too: libjpeg
// would make up every row that is left, seconds of work for a few hundred bytes claiming 256
// megapixels. Checked for one and for several scans.
TEST(DamagedFiles, AJpegWhoseScanStopsAtItsEndMarkerIsTruncated)
{
    for (const char* name : {"jpeg_rgb_64x48.jpg", "jpeg_grey.jpg", "jpeg_progressive.jpg"})
    {
        const std::string good = ReadFileBytes(TestDataPath(name));
        const std::size_t scan = good.find("\xFF\xDA");
        ASSERT_NE(scan, std::string::npos) << name;
        EXPECT_EQ(ReasonFor(good.substr(0, scan + 20) + "\xFF\xD9"), "truncated JPEG") << name;
    }
}

// A header claiming far more blocks than the bytes after it can code is known as cut short
// from the header alone, before the decoder allocates the picture; a flat picture, whose
// blocks cost two bits each, is not taken for one.
TEST(DamagedFiles, AJpegTooShortForTheBlocksItClaimsIsTruncatedFromItsHeader)
{
    for (const char* name : {"jpeg_rgb_64x48.jpg", "jpeg_grey.jpg", "jpeg_progressive.jpg"})
    {
        std::string claim = ReadFileBytes(TestDataPath(name));
        std::size_t frame = claim.find("\xFF\xC0");
        if (frame == std::string::npos)
            frame = claim.find("\xFF\xC2");
        ASSERT_NE(frame, std::string::npos) << name;
        claim.replace(frame + 5, 4, "\x3E\x80\x3E\x80"); // 16000 x 16000
        const auto headerReason = [](const std::string& bytes) {
            try
            {
                ReadJpegHeader(bytes);
            }
            catch (const EPictureError& e)
            {
                return std::string(e.what());
            }
            return std::string();
        };
        EXPECT_EQ(headerReason(claim), "truncated JPEG") << name;
        EXPECT_EQ(ReasonFor(claim), "truncated JPEG") << name;
        EXPECT_EQ(RequantizeJpeg(claim, 60).Refusal, "truncated JPEG") << name;
        // A sequential scan whose header says it starts past the DC coefficients is decoded
        // whole all the same (a fuzzer's file took 580 MB).
        if (claim.find("\xFF\xC2") != std::string::npos)
            continue;
        const std::size_t scan = claim.find("\xFF\xDA");
        ASSERT_NE(scan, std::string::npos) << name;
        claim[scan + 5 + 2 * static_cast<std::size_t>(claim[scan + 4])] = 1;
        EXPECT_EQ(headerReason(claim), "truncated JPEG") << name;
    }
    const TRaster flat = NewRaster(2048, 2048, 1, 200);
    const std::string encoded = EncodeJpeg(flat, 90);
    ASSERT_LT(encoded.size(), std::size_t{2048 * 2048 / 64 / 2});
    EXPECT_EQ(ReadJpegHeader(encoded).Width, 2048);
    EXPECT_EQ(DecodeJpeg(encoded).Height, 2048);
}

// Deflate gives at most 1032 bytes for one: image data too short for the rows the header claims
// is cut short before the picture is allocated, while a flat picture, compressed about 800 to
// one, is whole.
TEST(DamagedFiles, APngTooShortForItsRowsIsTruncatedAndAFlatOneIsNot)
{
    constexpr std::uint32_t kWidth = 8000;
    constexpr std::uint32_t kHeight = 1000;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 9);
    spng_ihdr header{kWidth, kHeight, 8, SPNG_COLOR_TYPE_GRAYSCALE, 0, 0, 0};
    spng_set_ihdr(ctx, &header);
    const std::vector<std::uint8_t> pixels(std::size_t{kWidth} * kHeight, 200);
    ASSERT_EQ(
        spng_encode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
        0);
    std::size_t size = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx, &size, &error);
    const std::string flat(static_cast<const char*>(png), size);
    std::free(png);
    spng_ctx_free(ctx);
    ASSERT_LT(flat.size() * 700, pixels.size());
    EXPECT_EQ(DecodePicture(flat).Height, static_cast<int>(kHeight));

    // The header claims 16 times the rows, as a hostile file would, with its checksum mended.
    std::string claim = flat;
    claim.replace(20, 4, std::string("\0\0\x3E\x80", 4));
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 12; i < 29; ++i)
    {
        crc ^= static_cast<std::uint8_t>(claim[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i)
        claim[29 + static_cast<std::size_t>(i)] = static_cast<char>(crc >> (24 - 8 * i));
    EXPECT_EQ(ReasonFor(claim), "truncated PNG");
}

TEST(Sniffing, ContentDecidesNotTheName)
{
    EXPECT_STREQ(FindPictureReader(ReadFileBytes(TestDataPath("png_named_jpg.jpg")))->FormatName(),
                 "PNG");
    EXPECT_STREQ(FindPictureReader(ReadFileBytes(TestDataPath("emf_simple.emf")))->FormatName(),
                 "EMF");
    EXPECT_STREQ(
        FindPictureReader(ReadFileBytes(TestDataPath("wmf_noplaceable.wmf")))->FormatName(), "WMF");
    ASSERT_NE(FindPictureReader("BM"), nullptr);
    EXPECT_STREQ(FindPictureReader("BM")->FormatName(), "BMP");
    EXPECT_EQ(FindPictureReader("BM"), FindPictureReader("BMxx")); // both the BMP reader
    EXPECT_EQ(FindPictureReader("hello"), nullptr);
}

} // namespace
