// BMP as browsers show it: 32-bit BI_RGB pictures whose fourth bytes are not all zero carry
// alpha; headers that would make the loader allocate what the file cannot hold are refused.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/imaging/PictureReader.h"
#include "platform/ByteOrder.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

void PutLe(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 32-bit BI_RGB BMP of 2 x 2 pixels given top row first as 0xAARRGGBB; stored bottom-up, or
// top-down with a negative height.
std::string Bmp32(const std::vector<std::uint32_t>& pixels, bool topDown = false)
{
    std::string out = "BM";
    PutLe(out, 54 + 16, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, 2, 4);
    PutLe(out, topDown ? static_cast<std::uint32_t>(-2) : 2U, 4);
    PutLe(out, 1, 2);
    PutLe(out, 32, 2);
    for (int i = 0; i < 6; ++i)
        PutLe(out, 0, 4); // BI_RGB, sizes, resolution, colours
    for (int row : topDown ? std::vector<int>{0, 1} : std::vector<int>{1, 0})
        for (int x = 0; x < 2; ++x)
            PutLe(out, pixels[static_cast<std::size_t>(row * 2 + x)], 4);
    return out;
}

TEST(Bmp32, FourthBytesNotAllZeroAreAlpha)
{
    for (bool topDown : {false, true})
    {
        const TRaster raster =
            DecodePicture(Bmp32({0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFFFFFF00}, topDown));
        ASSERT_EQ(raster.Width, 2);
        EXPECT_TRUE(PixelNear(raster, 0, 0, kRed));
        EXPECT_TRUE(PixelNear(raster, 1, 0, TRgb{127, 255, 127}));
        EXPECT_TRUE(PixelNear(raster, 0, 1, kWhite)); // blue, fully clear
        EXPECT_TRUE(PixelNear(raster, 1, 1, kYellow));
    }
}

TEST(Bmp32, FourthBytesAllZeroMeanOpaque)
{
    const TRaster raster = DecodePicture(Bmp32({0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFF00}));
    EXPECT_TRUE(PixelNear(raster, 0, 0, kRed));
    EXPECT_TRUE(PixelNear(raster, 1, 0, kGreen));
    EXPECT_TRUE(PixelNear(raster, 0, 1, kBlue));
    EXPECT_TRUE(PixelNear(raster, 1, 1, kYellow));
}

// Uncompressed rows have a fixed size: a file too short for them is cut short, whatever the
// depth (the loader would make up the rows), while a last row without its padding is whole.
TEST(Bmp32, CutPixelsAreATruncatedPicture)
{
    const std::string bmp = Bmp32({0, 0, 0, 0});
    EXPECT_EQ(ReasonFor(bmp.substr(0, bmp.size() - 1)), "truncated BMP");
    for (const char* name : {"bmp_1bit.bmp", "bmp_16bit.bmp", "bmp_24bit.bmp"})
    {
        const std::string whole = ReadFileBytes(TestDataPath(name));
        const std::uint32_t width = ReadLe32(whole, 18);
        const unsigned bitCount = ReadLe16(whole, 28);
        const std::size_t padding = ((width * bitCount + 31) / 32 * 4) - (width * bitCount + 7) / 8;
        EXPECT_GT(DecodePicture(whole.substr(0, whole.size() - padding)).Width, 0) << name;
        EXPECT_EQ(ReasonFor(whole.substr(0, whole.size() - padding - 1)), "truncated BMP") << name;
    }
}

// The loader allocates by the header's size, colour count and pixel offset before it reads
// them: a value the file cannot hold is refused first (the fuzzer's inputs asked for 4 GB).
TEST(BmpHeader, SizesTheFileCannotHoldAreRefused)
{
    EXPECT_EQ(ReasonFor(ReadFileBytes(TestDataPath("regress/bmp/oom-palette-count.bmp"))),
              "bad BMP: palette larger than the file");
    std::string bmp = ReadFileBytes(TestDataPath("bmp_24bit.bmp"));
    bmp.replace(14, 4, std::string("\xF0\xFF\xFF\xFF", 4));
    EXPECT_EQ(ReasonFor(bmp), "bad BMP: unknown header size 4294967280");
    // An offset to the pixels beyond the end (the fuzzer's 30-byte file asked for 4 GB).
    EXPECT_EQ(ReasonFor(ReadFileBytes(TestDataPath("regress/bmp/oom-pixel-offset.bmp"))),
              "truncated BMP");
}

} // namespace
