#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "app/imaging/Raster.h"
#include "platform/ByteOrder.h"

using TRgb = std::array<int, 3>;

inline constexpr TRgb kRed{255, 0, 0};
inline constexpr TRgb kGreen{0, 255, 0};
inline constexpr TRgb kBlue{0, 0, 255};
inline constexpr TRgb kYellow{255, 255, 0};
inline constexpr TRgb kWhite{255, 255, 255};
inline constexpr TRgb kBlack{0, 0, 0};

// Appends the low 2 or 4 bytes of value, least significant first: fields of hand-made files.
inline void PutLe(std::string& out, std::uint32_t value, int bytes)
{
    if (bytes == 2)
        AppendLe16(out, static_cast<std::uint16_t>(value));
    else
        AppendLe32(out, value);
}

// The pixel at (x, y) is within tolerance of rgb in every channel (grey rasters compare their
// one channel with each of r, g, b).
::testing::AssertionResult PixelNear(const TRaster& raster, int x, int y, TRgb rgb,
                                     int tolerance = 2);

// Row y from x = from up to x = to as '#' where ink is (darker than light grey) and '.' where
// not: dashes made readable.
std::string Inked(const TRaster& raster, int y, int from, int to);

// Rows inked at column x from y - 6 to y + 6: how wide a horizontal line through y is drawn.
int InkedRows(const TRaster& raster, int x, int y);

// count characters of the pattern Inked gives for a line drawn in dashes and gaps of these
// lengths in turn, a dash first.
std::string DashesOf(std::initializer_list<int> lengths, int count);

// A JPEG file's facts as TurboJPEG reads them, and its pixels decoded to RGB.
struct TJpegFacts
{
    bool Ok = false;
    int Width = 0;
    int Height = 0;
    int Components = 0;   // 1 for grey, else 3
    int Subsampling = -1; // TJSAMP_*
    bool StartsWithSoi = false;
    bool EndsWithEoi = false;
};
TJpegFacts InspectJpeg(const std::string& bytes);
TRaster DecodeJpegForTest(const std::string& bytes);

// Writes a baseline TIFF of an RGB or RGBA raster (or grey, grey + alpha for 1 or 2 channels)
// with the Orientation tag; the alpha sample is declared as alphaKind (1 associated, 2
// unassociated alpha); an ICC profile when icc is not empty.
void WriteTiff(const std::string& path, const TRaster& raster, int orientation, int alphaKind = 2,
               const std::string& icc = "");

// An RGB raster filled with one colour.
TRaster SolidRaster(int width, int height, TRgb rgb);

// The quadrant pattern of the fixtures: red, green / blue, yellow, split at the middle.
TRaster QuadrantRaster(int width, int height);

// What decoding bytes gives: "decoded", or the message of the picture error.
std::string ReasonFor(const std::string& bytes);
