// EMF records the converter cannot draw as they stand: compressed bitmaps, the pair of an ORed
// opacity bitmap and ANDed colours a transparent bitmap is written as, and EMF+ records.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/imaging/PictureReader.h"
#include "app/imaging/metafile/EmfRecords.h"
#include "tests/imaging/ImagingTestSupport.h"

namespace
{

constexpr std::uint32_t kSrcPaint = 0x00EE0086;
constexpr std::uint32_t kSrcAnd = 0x008800C6;
constexpr std::uint32_t kSrcCopy = 0x00CC0020;
constexpr int kSide = 96; // pixels of the picture and of the drawn bitmap

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

struct TBitmap
{
    std::uint32_t BitCount;
    std::uint32_t Compression; // 0 plain, 1 RLE8, 2 RLE4
    std::vector<std::uint32_t> Palette;
    std::string Bits;
};

// An EMR_STRETCHDIBITS drawing a 2 x 2 bitmap over the whole picture.
std::string StretchDibits(std::uint32_t rop, const TBitmap& bitmap)
{
    std::string info;
    for (std::uint32_t v : {40u, 2u, 2u, 1u | bitmap.BitCount << 16, bitmap.Compression,
                            static_cast<std::uint32_t>(bitmap.Bits.size()), 0u, 0u,
                            static_cast<std::uint32_t>(bitmap.Palette.size()), 0u})
        AppendLe32(info, v);
    for (std::uint32_t colour : bitmap.Palette)
        AppendLe32(info, colour);
    std::string bits = bitmap.Bits;
    bits.resize((bits.size() + 3) / 4 * 4, '\0');
    std::string record;
    const auto size = static_cast<std::uint32_t>(80 + info.size() + bits.size());
    for (std::uint32_t v : {81u,
                            size,
                            0u,
                            0u,
                            kSide - 1u,
                            kSide - 1u,
                            0u,
                            0u,
                            0u,
                            0u,
                            2u,
                            2u,
                            80u,
                            static_cast<std::uint32_t>(info.size()),
                            80u + static_cast<std::uint32_t>(info.size()),
                            static_cast<std::uint32_t>(bitmap.Bits.size()),
                            0u,
                            rop,
                            static_cast<std::uint32_t>(kSide),
                            static_cast<std::uint32_t>(kSide)})
        AppendLe32(record, v);
    return record + info + bits;
}

// The same bitmap drawn by EMR_BITBLT (or EMR_STRETCHBLT, which adds the source size): a source
// transform and background colour come between the placement and the bitmap.
std::string Blt(std::uint32_t type, std::uint32_t rop, const TBitmap& bitmap)
{
    const std::string dibits = StretchDibits(rop, bitmap);
    const std::string info = dibits.substr(80, 40 + 4 * bitmap.Palette.size());
    const std::string bits = dibits.substr(80 + info.size());
    const std::uint32_t fixed = type == 76 ? 100 : 108;
    std::string record;
    for (std::uint32_t v : {type, fixed + static_cast<std::uint32_t>(info.size() + bits.size()), 0u,
                            0u, kSide - 1u, kSide - 1u, 0u, 0u, static_cast<std::uint32_t>(kSide),
                            static_cast<std::uint32_t>(kSide), rop, 0u, 0u})
        AppendLe32(record, v);
    for (float f : {1.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F}) // the source transform
    {
        std::uint32_t bits32 = 0;
        std::memcpy(&bits32, &f, 4);
        AppendLe32(record, bits32);
    }
    for (std::uint32_t v :
         {0xFFFFFFu, 0u, fixed, static_cast<std::uint32_t>(info.size()),
          fixed + static_cast<std::uint32_t>(info.size()), static_cast<std::uint32_t>(bits.size())})
        AppendLe32(record, v);
    if (type == 77)
        for (std::uint32_t v : {2u, 2u})
            AppendLe32(record, v);
    return record + info + bits;
}

std::string MakeEmf(const std::vector<std::string>& records)
{
    std::string body;
    for (const auto& r : records)
        body += r;
    std::string eof;
    for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u})
        AppendLe32(eof, v);
    body += eof;
    std::string header;
    const auto total = static_cast<std::uint32_t>(88 + body.size());
    for (std::uint32_t v : {1u,          88u,
                            0u,          0u,
                            kSide - 1u,  kSide - 1u,
                            0u,          0u,
                            2540u,       2540u,
                            0x464D4520u, 0x10000u,
                            total,       static_cast<std::uint32_t>(records.size() + 2),
                            0u,          0u,
                            0u,          1024u,
                            768u,        271u,
                            203u,        0u})
        AppendLe32(header, v);
    return header + body;
}

// The opacity of a 2 x 2 bitmap, bottom row first: clear and full, then full and half.
const TBitmap kMaskRle8{
    8, 1, {0x000000, 0x808080, 0xFFFFFF}, Bytes({1, 0, 1, 2, 0, 0, 1, 2, 1, 1, 0, 0, 0, 1})};
const TBitmap kRedColours{
    24, 0, {}, Bytes({0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0})};

::testing::AssertionResult Near(const TRaster& raster, int x, int y, TRgb colour)
{
    return PixelNear(raster, x, y, colour, 6);
}

} // namespace

TEST(EmfTransparentBitmap, OredOpacityAndAndedColoursBlendOntoWhite)
{
    const TRaster raster = DecodePicture(
        MakeEmf({StretchDibits(kSrcPaint, kMaskRle8), StretchDibits(kSrcAnd, kRedColours)}));
    ASSERT_EQ(raster.Width, kSide);
    ASSERT_EQ(raster.Height, kSide);
    EXPECT_TRUE(Near(raster, 24, 24, TRgb{255, 0, 0}));     // full
    EXPECT_TRUE(Near(raster, 72, 24, TRgb{255, 127, 127})); // half, not darkened
    EXPECT_TRUE(Near(raster, 24, 72, TRgb{255, 255, 255})); // clear
    EXPECT_TRUE(Near(raster, 72, 72, TRgb{255, 0, 0}));
}

// Producers write the pair with EMR_BITBLT or EMR_STRETCHBLT as well.
TEST(EmfTransparentBitmap, BitBltAndStretchBltPairsAreMergedToo)
{
    for (std::uint32_t type : {76u, 77u})
    {
        SCOPED_TRACE(type);
        const TRaster raster = DecodePicture(
            MakeEmf({Blt(type, kSrcPaint, kMaskRle8), Blt(type, kSrcAnd, kRedColours)}));
        EXPECT_TRUE(Near(raster, 24, 24, TRgb{255, 0, 0}));
        EXPECT_TRUE(Near(raster, 72, 24, TRgb{255, 127, 127}));
        EXPECT_TRUE(Near(raster, 24, 72, TRgb{255, 255, 255}));
    }
    // Alone, the copied bitmap is drawn as it is.
    const TRaster copied = DecodePicture(MakeEmf({Blt(77, kSrcCopy, kRedColours)}));
    EXPECT_TRUE(Near(copied, 24, 24, TRgb{255, 0, 0}));
    EXPECT_TRUE(Near(copied, 72, 72, TRgb{255, 0, 0}));
}

// A compressed bitmap on its own is expanded and drawn as stored; RLE4 packs two pixels a byte.
TEST(EmfTransparentBitmap, CompressedBitmapAloneIsDrawn)
{
    // Palette red, blue; bottom row blue then red, top row red then blue, each a run of two
    // alternating nibbles.
    const TBitmap rle4{4, 2, {0xFF0000, 0x0000FF}, Bytes({2, 0x10, 0, 0, 2, 0x01, 0, 0, 0, 1})};
    const TRaster raster = DecodePicture(MakeEmf({StretchDibits(kSrcCopy, rle4)}));
    EXPECT_TRUE(Near(raster, 24, 72, TRgb{0, 0, 255}));
    EXPECT_TRUE(Near(raster, 72, 72, TRgb{255, 0, 0}));
    EXPECT_TRUE(Near(raster, 24, 24, TRgb{255, 0, 0}));
    EXPECT_TRUE(Near(raster, 72, 24, TRgb{0, 0, 255}));
}

// Hostile compressed streams are refused with the reason, never read or written past their ends.
TEST(EmfTransparentBitmap, MalformedCompressedBitmapsAreRefused)
{
    const std::vector<std::pair<std::string, std::string>> streams{
        {Bytes({3, 2, 0, 1}), "runs outside the bitmap"},              // run past the row
        {Bytes({1, 2, 0, 0, 1, 2, 0, 0, 1, 2, 0, 1}), "runs outside"}, // a third row
        {Bytes({0, 2, 1}), "ends early"},                              // delta cut short
        {Bytes({0, 2, 5, 0}), "moves outside"},                        // delta past the row
        {Bytes({0, 4, 1, 2}), "ends early"},                           // literal run cut short
        {Bytes({1}), "ends early"},                                    // half a pair
    };
    for (const auto& [stream, reason] : streams)
    {
        const TBitmap mask{8, 1, {0, 0xFFFFFF, 0x808080}, stream};
        const std::string emf =
            MakeEmf({StretchDibits(kSrcPaint, mask), StretchDibits(kSrcAnd, kRedColours)});
        try
        {
            DecodePicture(emf);
            ADD_FAILURE() << "accepted: " << reason;
        }
        catch (const EPictureError& e)
        {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("bad EMF"), std::string::npos) << e.what();
        }
    }
}

namespace
{

// An EMR_COMMENT holding an EMF+ header (dual or EMF+ only) or a red EMF+ FillRects.
std::string EmfPlusComment(std::uint16_t type, std::uint16_t flags)
{
    std::string plus;
    AppendLe32(plus, 0x2B464D45); // "EMF+"
    AppendLe32(plus, type | static_cast<std::uint32_t>(flags) << 16);
    if (type == 0x4001)
        for (std::uint32_t v : {28u, 16u, 0xDBC01002u, 1u, 96u, 96u})
            AppendLe32(plus, v);
    else
        for (std::uint32_t v : {36u, 24u, 0xFFFF0000u, 1u, 0x41200000u, 0x41200000u, 0x42480000u,
                                0x42480000u}) // 10, 10, 50, 50 as floats
            AppendLe32(plus, v);
    std::string record;
    for (std::uint32_t v : {70u, static_cast<std::uint32_t>(12 + plus.size()),
                            static_cast<std::uint32_t>(plus.size())})
        AppendLe32(record, v);
    return record + plus;
}

} // namespace

// The converter draws no EMF+: a file drawn in EMF+ alone is refused with that reason instead of
// coming out as a blank page; a dual file is drawn from its plain records.
TEST(EmfPlus, AFileDrawnInEmfPlusOnlyIsRefusedADualOneIsDrawn)
{
    try
    {
        DecodePicture(MakeEmf({EmfPlusComment(0x4001, 0), EmfPlusComment(0x400A, 0x8000)}));
        ADD_FAILURE() << "an EMF+ only file was accepted";
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "unsupported EMF: drawn in EMF+ records only");
    }
    const TRaster dual =
        DecodePicture(MakeEmf({EmfPlusComment(0x4001, 1), EmfPlusComment(0x400A, 0x8000),
                               StretchDibits(kSrcCopy, kRedColours)}));
    EXPECT_TRUE(Near(dual, 70, 20, kRed));
}

// A record that claims more bytes than the file holds is refused where it stands; the converter,
// left to find out itself, wrote gigabytes of drawing first on some such files.
TEST(EmfRecords, ARecordRunningPastTheEndIsRefusedByItsPlace)
{
    std::string emf = MakeEmf({StretchDibits(kSrcCopy, kRedColours)});
    std::string size;
    AppendLe32(size, 0x00100000);
    emf.replace(92, 4, size); // the first record after the 88-byte header
    try
    {
        DecodePicture(emf);
        ADD_FAILURE() << "accepted";
    }
    catch (const EPictureError& e)
    {
        EXPECT_STREQ(e.what(), "bad EMF: broken record at byte 88");
    }
}

namespace
{

// A picture drawn at one pixel a unit: bounds of the frame's size.
TRaster DrawnAtOnePixelAUnit(const std::vector<std::string>& records, std::uint16_t handles)
{
    std::string emf = MakeEmf(records);
    PutLe32(emf, 16, kSide);
    PutLe32(emf, 20, kSide);
    PutLe16(emf, 56, handles);
    return DecodePicture(emf);
}

// Dashed pens draw the platform's dashes as in WMF pictures, whether made by EMR_CREATEPEN or
// EMR_EXTCREATEPEN; the null pen draws nothing (the converter drew its lines black).
TEST(EmfPens, DashedPensDrawThePlatformsDashesAndTheNullPenNothing)
{
    std::vector<std::string> records;
    std::uint32_t slot = 1;
    const auto line = [&](const std::string& pen, std::uint32_t y) {
        records.push_back(pen);
        records.push_back(EmfRecord(37, {slot++}));                         // select
        records.push_back(EmfRecord(27, {10, y}) + EmfRecord(54, {90, y})); // move, line
    };
    for (std::uint32_t style = 1; style <= 5; ++style)
        line(EmfRecord(38, {slot, style, 1, 0, 0}), 10 * style);
    line(EmfRecord(38, {slot, 1, 4, 0, 0}), 62);
    line(EmfRecord(95, {slot, 0, 0, 0, 0, 0x10002, 4, 0, 0, 0, 0}), 74); // dots of 4
    const TRaster raster = DrawnAtOnePixelAUnit(records, static_cast<std::uint16_t>(slot));
    EXPECT_EQ(Inked(raster, 10, 10, 58), DashesOf({18, 6}, 48));
    EXPECT_EQ(Inked(raster, 20, 10, 58), DashesOf({3, 3}, 48));
    EXPECT_EQ(Inked(raster, 30, 10, 58), DashesOf({9, 6, 3, 6}, 48));
    EXPECT_EQ(Inked(raster, 40, 10, 58), DashesOf({9, 3, 3, 3, 3, 3}, 48));
    EXPECT_EQ(Inked(raster, 50, 0, kSide), std::string(kSide, '.'));
    EXPECT_EQ(Inked(raster, 62, 10, 58), DashesOf({12, 4}, 48));
    EXPECT_EQ(Inked(raster, 74, 10, 58), DashesOf({4, 4}, 48));
}

// A fresh device context fills with the white brush (the converter's was black), and polygons
// alternately, as WMF pictures are filled, unless the fill mode in force is the winding rule:
// each shape by its own (the converter filled the whole picture by one rule).
TEST(EmfDefaults, TheWhiteBrushAndAlternateFilling)
{
    // A pentagram: its middle is inside twice.
    const std::string star = EmfRecord(86, {0, 0, 96, 96, 5, 48 | 8u << 16, 71 | 80u << 16,
                                            10 | 36u << 16, 86 | 36u << 16, 25 | 80u << 16});
    const std::string red = EmfRecord(39, {1, 0, 0x0000FF, 0}) + EmfRecord(37, {1});
    const std::string blue = EmfRecord(39, {2, 0, 0xFF0000, 0}) + EmfRecord(37, {2});
    const TRaster plain = DrawnAtOnePixelAUnit({EmfRecord(43, {4, 4, 30, 30}), red, star}, 2);
    EXPECT_TRUE(PixelNear(plain, 17, 17, kWhite));
    EXPECT_TRUE(PixelNear(plain, 4, 17, TRgb{127, 127, 127}, 60)); // its outline
    EXPECT_TRUE(PixelNear(plain, 48, 50, kWhite));
    EXPECT_TRUE(PixelNear(plain, 48, 15, kRed));
    const TRaster mixed =
        DrawnAtOnePixelAUnit({red, EmfRecord(19, {2}), star, blue, EmfRecord(19, {1}), star}, 3);
    EXPECT_TRUE(PixelNear(mixed, 48, 50, kRed)); // the second star leaves its middle
    EXPECT_TRUE(PixelNear(mixed, 48, 15, kBlue));
}

// The colours along a row: r, g, b, w and y for red, green, blue, white and yellow, ? else.
std::string Colours(const TRaster& raster, int y, int from, int to)
{
    std::string marks;
    for (int x = from; x < to; ++x)
    {
        char mark = '?';
        for (const auto& [name, rgb] :
             {std::pair{'r', kRed}, std::pair{'g', kGreen}, std::pair{'b', kBlue},
              std::pair{'w', kWhite}, std::pair{'y', TRgb{255, 255, 0}}})
            if (PixelNear(raster, x, y, rgb, 8))
                mark = name;
        marks += mark;
    }
    return marks;
}

// A hatched brush tiles the page with the platform's 8 x 8 pattern: lines one pixel wide in the
// brush colour on the page's pixels whatever the world transform, the rest in the background
// colour where the background mode is opaque and clear where it is transparent. The converter
// filled it solid in the hatch colour.
TEST(EmfBrushes, HatchesAreThePlatformsPatternsOnThePage)
{
    const TRaster raster = DrawnAtOnePixelAUnit(
        {EmfRecord(37, {0x80000008}), // the null pen
         EmfRecord(39, {1, 0, 0xFF0000, 0}), EmfRecord(37, {1}), EmfRecord(43, {0, 0, 96, 96}),
         EmfRecord(39, {2, 2, 0x0000FF, 4}), EmfRecord(37, {2}), EmfRecord(25, {0x00FF00}),
         EmfRecord(35, {0x40000000, 0, 0, 0x40000000, 0x3F800000, 0}), // twice, 1 across
         EmfRecord(43, {2, 2, 22, 22}),                                // cross, pixels 5 to 45
         EmfRecord(35, {0x3F800000, 0, 0, 0x3F800000, 0, 0}), EmfRecord(18, {1}),
         EmfRecord(39, {3, 2, 0x0000FF, 2}), EmfRecord(37, {3}),
         EmfRecord(43, {50, 50, 90, 90})}, // forward diagonal, clear
        4);
    EXPECT_EQ(Colours(raster, 7, 4, 46), "bgggggggrgggggggrgggggggrgggggggrgggggggrb");
    EXPECT_EQ(Colours(raster, 19, 4, 46), "b" + std::string(40, 'r') + "b");
    EXPECT_EQ(Colours(raster, 53, 49, 61), "bbbbrbbbbbbb");
    EXPECT_EQ(Colours(raster, 58, 49, 61), "brbbbbbbbrbb");
}

// An EMR_EXTTEXTOUTW of text in the font of slot 1 at (x, y), its characters 10 units apart.
std::string Text(std::int32_t x, std::int32_t y, std::uint32_t options, std::uint32_t left,
                 std::uint32_t top, std::uint32_t right, std::uint32_t bottom)
{
    std::string record = EmfRecord(84, {0,
                                        0,
                                        0,
                                        0,
                                        1,
                                        0x3F800000,
                                        0x3F800000,
                                        static_cast<std::uint32_t>(x),
                                        static_cast<std::uint32_t>(y),
                                        2,
                                        76,
                                        options,
                                        left,
                                        top,
                                        right,
                                        bottom,
                                        80,
                                        'H' | 'i' << 16,
                                        10,
                                        10});
    return record;
}

// Text in the opaque background mode is drawn on its cell box in the background colour (as wide
// as its characters' spacing, or as the text measures where it gives none; 0.9 em above the
// baseline and 0.2 below), and ETO_OPAQUE fills its rectangle in any mode; the converter drew
// neither.
TEST(EmfText, TheBackgroundBoxIsDrawnBehindOpaqueText)
{
    std::string font = EmfRecord(82, {1, static_cast<std::uint32_t>(-20), 0, 0, 0, 400, 0, 0});
    font.resize(font.size() + 64, '\0'); // no face name
    PutLe32(font, 4, static_cast<std::uint32_t>(font.size()));
    const TRaster raster = DrawnAtOnePixelAUnit(
        {font, EmfRecord(37, {1}), EmfRecord(22, {24}), EmfRecord(25, {0x00FFFF}),
         Text(30, 40, 0, 0, 0, 0, 0), EmfRecord(18, {1}), EmfRecord(25, {0x00FF00}),
         Text(30, 80, 2, 20, 60, 70, 90), Text(30, 20, 0, 0, 0, 0, 0), EmfRecord(18, {2}),
         EmfRecord(25, {0x00FFFF}),
         EmfRecord(84, {0, 0, 0, 0, 1, 0x3F800000, 0x3F800000, 60, 20, 4, 76, 0, 0, 0, 0, 0, 0,
                        'i' | 'i' << 16, 'i' | 'i' << 16}), // no spacing
         EmfRecord(22, {8}), Text(55, 58, 0, 0, 0, 0, 0)},  // aligned by its bottom
        2);
    EXPECT_EQ(Colours(raster, 22, 28, 52), "wwyyyyyyyyyyyyyyyyyyyyww"); // 18 above the baseline
    EXPECT_EQ(Colours(raster, 21, 29, 31), "ww");
    EXPECT_EQ(Colours(raster, 43, 29, 31), "wy"); // 4 below
    EXPECT_EQ(Colours(raster, 44, 29, 31), "ww");
    EXPECT_EQ(Colours(raster, 60, 19, 22), "wgg");
    EXPECT_EQ(Colours(raster, 89, 68, 71), "ggw");
    EXPECT_EQ(Colours(raster, 90, 68, 71), "www");
    EXPECT_EQ(Colours(raster, 4, 28, 52), std::string(24, 'w')); // transparent: no box
    // Four narrow letters of 20 pixels: 22 to 26 pixels wide in the usual serif faces (a font
    // without a name is drawn in one).
    EXPECT_EQ(Colours(raster, 3, 59, 62), "wyy");
    EXPECT_EQ(Colours(raster, 3, 80, 81), "y");
    EXPECT_EQ(Colours(raster, 3, 87, 92), "wwwww");
    // Text aligned by its bottom has its baseline the descent above (the converter put it at
    // the bottom): nothing of its letters lies in the box's lowest rows.
    EXPECT_EQ(Colours(raster, 56, 55, 75), std::string(20, 'y'));
    EXPECT_EQ(Colours(raster, 58, 55, 57), "ww");
}

// Regions are filled with their brush and no outline (EMR_FILLRGN with the one it names,
// EMR_PAINTRGN with the one in force), and a bitmap-less EMR_BITBLT fills its rectangle with
// the brush (PATCOPY) or black (BLACKNESS); the converter drew none of them.
TEST(EmfBrushes, RegionsAndPatternBlitsAreFilled)
{
    const auto region = [](std::uint32_t type, std::initializer_list<std::uint32_t> head,
                           std::initializer_list<std::uint32_t> rectangles) {
        std::string record = EmfRecord(type, head);
        const auto count = static_cast<std::uint32_t>(rectangles.size() / 4);
        for (std::uint32_t value : {32U, 1U, count, 16 * count, 0U, 0U, 96U, 96U})
            AppendLe32(record, value);
        for (std::uint32_t value : rectangles)
            AppendLe32(record, value);
        PutLe32(record, 4, static_cast<std::uint32_t>(record.size()));
        return record;
    };
    std::string blt =
        EmfRecord(76, {0, 0, 96,         96, 50, 50,       30, 30, 0x00F00021, 0, 0, 0x3F800000,
                       0, 0, 0x3F800000, 0,  0,  0xFFFFFF, 0,  0,  0,          0, 0});
    std::string black = blt;
    PutLe32(black, 40, 0x42);
    PutLe32(black, 24, 10);
    const TRaster raster = DrawnAtOnePixelAUnit(
        {EmfRecord(39, {1, 2, 0x0000FF, 4}), EmfRecord(39, {2, 0, 0xFF0000, 0}),
         region(71, {0, 0, 96, 96, 64, 1}, {8, 8, 40, 40}), EmfRecord(37, {2}),
         region(74, {0, 0, 96, 96, 64}, {50, 8, 80, 40}), blt, black},
        3);
    EXPECT_EQ(Colours(raster, 12, 7, 14), "wwwwwrw"); // the cross hatch, no outline
    EXPECT_EQ(Colours(raster, 11, 7, 10), "wrr");
    EXPECT_EQ(Colours(raster, 20, 48, 52), "wwbb");
    EXPECT_EQ(Colours(raster, 60, 48, 52), "wwbb");
    EXPECT_TRUE(PixelNear(raster, 20, 60, kBlack));
}

// Pens are as wide as their width in logical units makes in device pixels: the converter drew
// an EMR_CREATEPEN pen a unit wide whatever its width, and took an extended pen's width for
// device pixels whatever the mapping mode.
TEST(EmfPens, WidthsFollowTheMappingMode)
{
    const auto line = [](std::uint32_t y, std::uint32_t unit) { // across the picture
        return EmfRecord(27, {10 * unit, y}) + EmfRecord(54, {90 * unit, y});
    };
    const TRaster raster = DrawnAtOnePixelAUnit(
        {EmfRecord(38, {1, 0, 6, 0, 0}), EmfRecord(37, {1}), line(10, 1), EmfRecord(17, {8}),
         EmfRecord(9, {960, 960}), EmfRecord(11, {96, 96}), // 0.1 pixel a unit
         EmfRecord(95, {2, 0, 0, 0, 0, 0x10000, 40, 0, 0, 0, 0}), EmfRecord(37, {2}), line(400, 10),
         EmfRecord(38, {3, 0, 20, 0, 0}), EmfRecord(37, {3}), line(700, 10)},
        4);
    EXPECT_EQ(InkedRows(raster, 48, 10), 6);
    EXPECT_EQ(InkedRows(raster, 48, 40), 4);
    EXPECT_EQ(InkedRows(raster, 48, 70), 2);
}

// A pen's width is turned into pixels by the mapping in force where it is drawn, not where it
// was made: a pen 8 units wide is 8 pixels at one pixel a unit and one at a tenth, also after
// a RestoreDC brings the tenth back (the converter kept the mapping across RestoreDC).
TEST(EmfPens, WidthsFollowTheMappingWhereTheyAreDrawn)
{
    const auto line = [](std::uint32_t y, std::uint32_t unit) { // across the picture
        return EmfRecord(27, {10 * unit, y}) + EmfRecord(54, {90 * unit, y});
    };
    const TRaster raster = DrawnAtOnePixelAUnit(
        {EmfRecord(38, {1, 0, 8, 0, 0}), EmfRecord(37, {1}), EmfRecord(17, {8}),
         EmfRecord(9, {960, 960}), EmfRecord(11, {96, 96}), line(200, 10), EmfRecord(33, {}),
         EmfRecord(17, {1}), line(50, 1), EmfRecord(34, {0xFFFFFFFF}), line(800, 10)},
        2);
    for (int y : {20, 80})
    {
        EXPECT_GE(InkedRows(raster, 48, y), 1) << y;
        EXPECT_LE(InkedRows(raster, 48, y), 2) << y;
    }
    EXPECT_EQ(InkedRows(raster, 48, 50), 8);
}

// A thin dashed pen's gaps show the background colour where the background mode is opaque, as
// in WMF pictures; the converter left them clear. Lines lie on pixel rows (moved half a pixel);
// an abandoned path leaves nothing behind.
TEST(EmfPens, ThinDashedPensFillTheirGapsWithTheBackgroundWhereOpaque)
{
    const std::string dashed = EmfRecord(38, {2, 1, 1, 0, 0});
    const auto line = [](std::uint32_t y) {
        return EmfRecord(27, {10, y}) + EmfRecord(54, {90, y});
    };
    const TRaster raster = DrawnAtOnePixelAUnit(
        {EmfRecord(35, {0x3F800000, 0, 0, 0x3F800000, 0, 0x3F000000}), // half a pixel down
         EmfRecord(39, {1, 0, 0x0000FF, 0}), EmfRecord(37, {1}), EmfRecord(37, {0x80000008}),
         EmfRecord(43, {0, 0, 96, 96}),                                    // red everywhere
         dashed, EmfRecord(37, {2}), EmfRecord(59, {}), EmfRecord(68, {}), // a path abandoned
         line(10), EmfRecord(18, {1}), line(20), EmfRecord(18, {2}), EmfRecord(25, {0x00FF00}),
         line(30)},
        3);
    EXPECT_TRUE(PixelNear(raster, 15, 10, kBlack, 8));
    EXPECT_TRUE(PixelNear(raster, 30, 10, kWhite, 8)); // a gap: the background colour
    EXPECT_TRUE(PixelNear(raster, 15, 20, kBlack, 8));
    EXPECT_TRUE(PixelNear(raster, 30, 20, kRed, 8)); // transparent
    EXPECT_TRUE(PixelNear(raster, 30, 30, kGreen, 8));
    EXPECT_TRUE(PixelNear(raster, 30, 12, kRed, 8)); // beside the line
}

// Cosmetic pens (of width 0, cosmetic extended pens, the stock pens) are one pixel of the page
// wide under any transform, their dashes a thin pen's; the converter scaled them, or drew an
// extended pen of width 0 not at all. Wider pens keep their scale. A unit here is 4 pixels.
TEST(EmfPens, CosmeticPensAreOnePixelWideUnderTransforms)
{
    std::vector<std::string> records = {
        EmfRecord(35, {0x40800000, 0, 0, 0x40800000, 0, 0})}; // scale 4
    std::uint32_t slot = 1;
    const auto line = [&](const std::string& pen, std::uint32_t y) {
        if (!pen.empty())
            records.push_back(pen + EmfRecord(37, {slot++}));
        records.push_back(EmfRecord(27, {2, y}) + EmfRecord(54, {22, y}));
    };
    line(EmfRecord(38, {slot, 0, 0, 0, 0}), 3);
    line(EmfRecord(95, {slot, 0, 0, 0, 0, 0x10000, 0, 0, 0, 0, 0}), 6);
    line(EmfRecord(95, {slot, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0}), 9);
    line(EmfRecord(38, {slot, 2, 0, 0, 0}), 12); // dots
    line(EmfRecord(95, {slot, 0, 0, 0, 0, 0x10000, 1, 0, 0, 0, 0}), 15);
    records.push_back(EmfRecord(37, {0x80000007})); // BLACK_PEN
    line("", 21);
    const TRaster raster = DrawnAtOnePixelAUnit(records, static_cast<std::uint16_t>(slot));
    for (int y : {12, 24, 36, 84})
    {
        EXPECT_GE(InkedRows(raster, 48, y), 1) << y;
        EXPECT_LE(InkedRows(raster, 48, y), 2) << y;
    }
    EXPECT_EQ(Inked(raster, 48, 8, 56), DashesOf({3, 3}, 48));
    EXPECT_GE(InkedRows(raster, 48, 60), 4);
}

} // namespace

namespace
{

// An EMF+ record of the given type and flags holding the given 32-bit fields.
std::string PlusRecord(std::uint16_t type, std::uint16_t flags,
                       std::initializer_list<std::uint32_t> fields)
{
    std::string record;
    AppendLe32(record, type | static_cast<std::uint32_t>(flags) << 16);
    AppendLe32(record, static_cast<std::uint32_t>(12 + 4 * fields.size()));
    AppendLe32(record, static_cast<std::uint32_t>(4 * fields.size()));
    for (std::uint32_t field : fields)
        AppendLe32(record, field);
    return record;
}

std::string PlusComment(const std::string& records)
{
    std::string comment =
        EmfRecord(70, {static_cast<std::uint32_t>(4 + records.size()), 0x2B464D45});
    PutLe32(comment, 4, static_cast<std::uint32_t>(comment.size() + records.size()));
    return comment + records;
}

// A FillRects of (x, y, w, h) with the brush given (a colour when flags say so).
std::string PlusFillRect(std::uint16_t flags, std::uint32_t brush, float x, float y, float w,
                         float h)
{
    std::uint32_t bits[4];
    const float values[4] = {x, y, w, h};
    std::memcpy(bits, values, sizeof bits);
    return PlusRecord(0x400A, flags, {brush, 1, bits[0], bits[1], bits[2], bits[3]});
}

// A solid brush of COLORREF colour in the given slot, selected, filling (l, t)-(r, b) without
// an outline.
std::string PlainFill(std::uint32_t slot, std::uint32_t colour, std::uint32_t l, std::uint32_t t,
                      std::uint32_t r, std::uint32_t b)
{
    return EmfRecord(39, {slot, 0, colour, 0}) + EmfRecord(37, {slot}) +
           EmfRecord(37, {0x80000008}) + EmfRecord(43, {l, t, r, b});
}

// A file with EMF+ records beside its plain ones, as office suites write translucent shapes:
// the EMF+ fill holds the opacity, the plain records after it draw the same opaque. The plain
// drawing takes the EMF+ fill's opacity, whether its colour is given in the record or by a
// brush object; an opaque fill stays as it is.
TEST(EmfPlus, TranslucentFillsKeepTheirOpacityInThePlainDrawing)
{
    const std::string getDc = PlusComment(PlusRecord(0x4004, 0, {}));
    std::string emf = MakeEmf(
        {EmfPlusComment(0x4001, 1),
         PlusComment(PlusFillRect(0x8000, 0x80FF0000, 0, 0, 48, 96)), // red, half opaque
         PlainFill(1, 0x0000FF, 0, 0, 48, 96), getDc,
         PlusComment(PlusRecord(0x4008, 0x0102, {0xDBC01002, 0, 0x400000FF}) + // brush 2: blue
                     PlusFillRect(0, 2, 48, 0, 48, 48)),
         PlainFill(2, 0xFF0000, 48, 0, 96, 48), getDc,
         PlusComment(PlusFillRect(0x8000, 0xFF00FF00, 48, 48, 48, 48)), // green, opaque
         PlainFill(3, 0x00FF00, 48, 48, 96, 96), getDc});
    PutLe16(emf, 56, 4);
    const TRaster raster = DecodePicture(emf);
    EXPECT_TRUE(PixelNear(raster, 20, 50, TRgb{255, 127, 127}, 3));
    EXPECT_TRUE(PixelNear(raster, 70, 20, TRgb{191, 191, 255}, 3));
    EXPECT_TRUE(PixelNear(raster, 70, 70, kGreen, 3));
}

// The same for outlines: an EMF+ pen whose solid brush is not opaque (DrawLines, DrawPath)
// gives the plain pens after it its opacity, whatever its optional fields.
TEST(EmfPlus, TranslucentPensKeepTheirOpacityInThePlainDrawing)
{
    const std::string getDc = PlusComment(PlusRecord(0x4004, 0, {}));
    const auto plainLine = [](std::uint32_t slot, std::uint32_t y) {
        return EmfRecord(95, {slot, 0, 0, 0, 0, 0x10200, 8, 0, 0x0000FF, 0, 0}) + // red, 8 wide
               EmfRecord(37, {slot}) + EmfRecord(27, {10, y}) + EmfRecord(54, {86, y});
    };
    std::string emf = MakeEmf(
        {EmfPlusComment(0x4001, 1),
         PlusComment(PlusRecord(0x4008, 0x0201, // pen 1: 8 wide, half opaque red
                                {0xDBC01002, 0, 0, 2, 0x41000000, 0xDBC01002, 0, 0x80FF0000}) +
                     PlusRecord(0x400D, 0x0001, {2, 0, 0, 0, 0})), // DrawLines
         plainLine(1, 20), getDc,
         PlusComment(PlusRecord(0x4008, 0x0202, // pen 2: a start cap and a dash pattern first
                                {0xDBC01002, 0, 0x102, 2, 0x41000000, 0, 2, 0x40400000, 0x3F800000,
                                 0xDBC01002, 0, 0x40FF0000}) +
                     PlusRecord(0x4015, 0x0003, {2})), // DrawPath of path 3
         plainLine(2, 50), getDc});
    PutLe16(emf, 56, 3);
    const TRaster raster = DecodePicture(emf);
    EXPECT_TRUE(PixelNear(raster, 48, 20, TRgb{255, 127, 127}, 3));
    EXPECT_TRUE(PixelNear(raster, 48, 50, TRgb{255, 191, 191}, 3));
}

} // namespace
