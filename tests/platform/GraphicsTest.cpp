#include "platform/Graphics.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "tests/support/TestSupport.h"

namespace
{

TPaletteEntry Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return TPaletteEntry{r, g, b, 0};
}

// Reads pixel x of a 24-bit row as red, green, blue.
TPaletteEntry Pixel24(const TBitmap& bitmap, int row, int x)
{
    const std::uint8_t* p = bitmap.ScanLine(row) + 3 * x;
    return Rgb(p[2], p[1], p[0]);
}

void Put24(TBitmap& bitmap, int row, int x, TPaletteEntry c)
{
    std::uint8_t* p = bitmap.ScanLine(row) + 3 * x;
    p[0] = c.Blue;
    p[1] = c.Green;
    p[2] = c.Red;
}

} // namespace

TEST(Bitmap, RowsArePaddedToFourBytes)
{
    EXPECT_EQ(TBitmap(3, 2, pf24bit).RowBytes(), 12u);
    EXPECT_EQ(TBitmap(9, 1, pf1bit).RowBytes(), 4u);
    EXPECT_EQ(TBitmap(9, 1, pf4bit).RowBytes(), 8u);
    EXPECT_EQ(TBitmap(3, 1, pf15bit).RowBytes(), 8u);
    EXPECT_EQ(TBitmap(1, 1, pfCustom).BitsPerPixel(), 32);
    EXPECT_TRUE(TBitmap(0, 5, pf24bit).Empty());
    EXPECT_THROW(TBitmap(-1, 5, pf24bit), Exception);
    TBitmap bitmap(2, 2, pf8bit);
    EXPECT_THROW(bitmap.ScanLine(2), std::out_of_range);
}

TEST(Bitmap, WideningIndexedFormatsKeepsPaletteAndIndices)
{
    TBitmap oneBit(10, 2, pf1bit);
    oneBit.SetPalette({Rgb(10, 20, 30), Rgb(200, 100, 50)});
    oneBit.ScanLine(0)[0] = 0b1010'0000;
    oneBit.ScanLine(0)[1] = 0b0100'0000; // pixel 9
    oneBit.ScanLine(1)[0] = 0b0000'0001;
    oneBit.SetPixelFormat(pf8bit);
    ASSERT_EQ(oneBit.PixelFormat(), pf8bit);
    EXPECT_EQ(oneBit.Palette(), (std::vector{Rgb(10, 20, 30), Rgb(200, 100, 50)}));
    const std::uint8_t* row0 = oneBit.ScanLine(0);
    EXPECT_EQ((std::vector<int>(row0, row0 + 10)), (std::vector{1, 0, 1, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(oneBit.ScanLine(1)[7], 1);

    TBitmap fourBit(3, 1, pf4bit);
    EXPECT_EQ(fourBit.Palette().size(), 16u); // the classic colours by default
    fourBit.ScanLine(0)[0] = 0xF3;
    fourBit.ScanLine(0)[1] = 0xA0;
    fourBit.SetPixelFormat(pf8bit);
    EXPECT_EQ(fourBit.Palette().size(), 16u);
    EXPECT_EQ(fourBit.ScanLine(0)[0], 15);
    EXPECT_EQ(fourBit.ScanLine(0)[1], 3);
    EXPECT_EQ(fourBit.ScanLine(0)[2], 10);
}

TEST(Bitmap, DirectFormatsExpandToEightBitsPerChannel)
{
    TBitmap bitmap(4, 1, pf16bit);
    const std::uint16_t words[] = {0xF800, 0x07E0, 0x001F, (16u << 11) | (32u << 5) | 1u};
    for (int x = 0; x < 4; ++x)
    {
        bitmap.ScanLine(0)[2 * x] = static_cast<std::uint8_t>(words[x]);
        bitmap.ScanLine(0)[2 * x + 1] = static_cast<std::uint8_t>(words[x] >> 8);
    }
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(Pixel24(bitmap, 0, 0), Rgb(255, 0, 0));
    EXPECT_EQ(Pixel24(bitmap, 0, 1), Rgb(0, 255, 0));
    EXPECT_EQ(Pixel24(bitmap, 0, 2), Rgb(0, 0, 255));
    EXPECT_EQ(Pixel24(bitmap, 0, 3), Rgb(132, 130, 8)); // bits repeated, not shifted only

    TBitmap fifteen(1, 1, pf15bit);
    fifteen.ScanLine(0)[0] = 0xFF; // x-r5-g5-b5 = 0x7FFF: white
    fifteen.ScanLine(0)[1] = 0x7F;
    fifteen.SetPixelFormat(pf24bit);
    EXPECT_EQ(Pixel24(fifteen, 0, 0), Rgb(255, 255, 255));

    TBitmap wide(1, 1, pf32bit);
    wide.ScanLine(0)[0] = 0x10;
    wide.ScanLine(0)[1] = 0x20;
    wide.ScanLine(0)[2] = 0x30;
    wide.ScanLine(0)[3] = 0xFF;
    wide.SetPixelFormat(pf24bit);
    EXPECT_EQ(Pixel24(wide, 0, 0), Rgb(0x30, 0x20, 0x10));
    wide.SetPixelFormat(pf16bit);
    wide.SetPixelFormat(pf24bit);
    EXPECT_EQ(Pixel24(wide, 0, 0), Rgb(0x31, 0x20, 0x10)); // 5/6-bit precision
}

TEST(Bitmap, DirectToIndexedIsExactWhenTheColoursFit)
{
    TBitmap bitmap(5, 2, pf24bit);
    const TPaletteEntry colours[] = {Rgb(255, 128, 0), Rgb(1, 2, 3), Rgb(0, 0, 0)};
    for (int y = 0; y < 2; ++y)
    {
        for (int x = 0; x < 5; ++x)
        {
            Put24(bitmap, y, x, colours[(x + y) % 3]);
        }
    }
    TBitmap indexed(bitmap);
    indexed.SetPixelFormat(pf8bit);
    EXPECT_EQ(indexed.Palette().size(), 3u);
    for (int y = 0; y < 2; ++y)
    {
        for (int x = 0; x < 5; ++x)
        {
            EXPECT_EQ(indexed.Palette().at(indexed.ScanLine(y)[x]), colours[(x + y) % 3]);
        }
    }
    // And back: the same pixels.
    indexed.SetPixelFormat(pf24bit);
    EXPECT_TRUE(indexed.Palette().empty());
    for (int x = 0; x < 5; ++x)
    {
        EXPECT_EQ(Pixel24(indexed, 1, x), colours[(x + 1) % 3]);
    }

    // Two colours fit one bit.
    TBitmap twoColours(9, 1, pf24bit);
    Put24(twoColours, 0, 8, Rgb(9, 9, 9));
    twoColours.SetPixelFormat(pf1bit);
    EXPECT_EQ(twoColours.Palette(), (std::vector{Rgb(0, 0, 0), Rgb(9, 9, 9)}));
    EXPECT_EQ(twoColours.ScanLine(0)[0], 0);
    EXPECT_EQ(twoColours.ScanLine(0)[1], 0x80);
}

TEST(Bitmap, ManyColoursAreQuantisedToNearbyColours)
{
    TBitmap bitmap(64, 64, pf24bit);
    for (int y = 0; y < 64; ++y)
    {
        for (int x = 0; x < 64; ++x)
        {
            Put24(bitmap, y, x,
                  Rgb(static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4),
                      static_cast<std::uint8_t>((x + y) * 2)));
        }
    }
    TBitmap indexed(bitmap);
    indexed.SetPixelFormat(pf8bit);
    EXPECT_LE(indexed.Palette().size(), 256u);
    indexed.SetPixelFormat(pf24bit);
    int worst = 0;
    for (int y = 0; y < 64; ++y)
    {
        for (int x = 0; x < 64; ++x)
        {
            const TPaletteEntry a = Pixel24(bitmap, y, x);
            const TPaletteEntry b = Pixel24(indexed, y, x);
            worst = std::max({worst, std::abs(a.Red - b.Red), std::abs(a.Green - b.Green),
                              std::abs(a.Blue - b.Blue)});
        }
    }
    EXPECT_LE(worst, 26);

    TBitmap mono(bitmap);
    mono.SetPixelFormat(pf1bit);
    EXPECT_EQ(mono.Palette().size(), 2u);
}

TEST(Bitmap, IndexedToDirectGoesThroughThePalette)
{
    TBitmap bitmap(3, 1, pf8bit);
    bitmap.SetPalette({Rgb(1, 2, 3), Rgb(250, 251, 252)});
    bitmap.ScanLine(0)[0] = 1;
    bitmap.ScanLine(0)[1] = 0;
    bitmap.ScanLine(0)[2] = 7; // beyond the palette
    bitmap.SetPixelFormat(pf32bit);
    const std::uint8_t* row = bitmap.ScanLine(0);
    EXPECT_EQ((std::vector<int>(row, row + 12)),
              (std::vector{252, 251, 250, 0, 3, 2, 1, 0, 0, 0, 0, 0}));
}

TEST(Picture, AssignMakesAnIndependentCopy)
{
    TPicture original;
    original.SetGraphic(std::make_unique<TBitmap>(2, 2, pf24bit));
    TPicture copy(original);
    ASSERT_NE(copy.Graphic(), nullptr);
    EXPECT_NE(copy.Graphic(), original.Graphic());
    dynamic_cast<TBitmap&>(*copy.Graphic()).ScanLine(0)[0] = 99;
    EXPECT_EQ(dynamic_cast<TBitmap&>(*original.Graphic()).ScanLine(0)[0], 0);

    copy.Assign(copy);
    EXPECT_NE(copy.Graphic(), nullptr);
    copy = TPicture();
    EXPECT_EQ(copy.Graphic(), nullptr);
}

TEST(JpegImage, ReadsTheHeaderOfEachColourKind)
{
    struct Case
    {
        int Components;
        bool Adobe;
    };
    for (const Case c : {Case{1, false}, Case{3, false}, Case{4, true}, Case{4, false}})
    {
        SCOPED_TRACE(std::to_string(c.Components) + (c.Adobe ? " with Adobe" : ""));
        const std::string bytes = MakeTestJpeg(17, 9, c.Components, c.Adobe);
        TMemoryStream stream(bytes);
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        EXPECT_EQ(jpeg.Width(), 17);
        EXPECT_EQ(jpeg.Height(), 9);
        EXPECT_EQ(jpeg.Components(), c.Components);
        EXPECT_EQ(jpeg.HasAdobeMarker(), c.Adobe);
        EXPECT_EQ(jpeg.Data(), bytes);
        TMemoryStream saved;
        jpeg.SaveToStream(saved);
        EXPECT_EQ(saved.Bytes(), bytes);
    }
}

TEST(JpegImage, LoadTakesTheRestOfTheStream)
{
    const std::string bytes = MakeTestJpeg(4, 4, 3);
    TMemoryStream stream("prefix" + bytes);
    stream.SetPosition(6);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    EXPECT_EQ(jpeg.Data(), bytes);
}

TEST(JpegImage, AnUnreadableHeaderIsRefusedAndNothingIsKept)
{
    const std::string good = MakeTestJpeg(8, 8, 1);
    TJPEGImage jpeg;
    jpeg.SetData(good);
    for (const std::string& bad : {std::string(), std::string("GIF89a not a jpeg"),
                                   good.substr(0, 20), std::string("\xFF\xD8\xFF\xD9")})
    {
        TMemoryStream stream(bad);
        try
        {
            jpeg.LoadFromStream(stream);
            FAIL() << "expected an exception";
        }
        catch (const Exception& e)
        {
            EXPECT_EQ(std::string(e.what()).rfind("JPEG error: ", 0), 0u) << e.what();
            EXPECT_GT(std::string(e.what()).size(), 12u);
        }
        EXPECT_EQ(jpeg.Data(), good);
        EXPECT_EQ(jpeg.Width(), 8);
    }

    TJPEGImage raw;
    EXPECT_NO_THROW(raw.SetData("garbage"));
    EXPECT_EQ(raw.Data(), "garbage");
    EXPECT_EQ(raw.Components(), 0);
    EXPECT_EQ(raw.Width(), 0);
    EXPECT_FALSE(raw.Empty());
}
