#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/imaging/Raster.h"

// The preview box of the main window: the selected picture drawn on white, as large as the box
// allows in its limiting direction (larger pictures shrink, smaller ones grow).

inline constexpr int kPreviewWidth = 313;
inline constexpr int kPreviewHeight = 143;

// Where the thumbnail of a width x height picture lies in a boxWidth x boxHeight box. The ratios
// are single-precision, the larger one scales, and sizes and offsets are rounded with halves to
// even: 3000 x 2000 in 313 x 143 gives 214 x 143 at (50, 0). A side that would round to 0 is
// kept at 1 pixel.
struct TPreviewGeometry
{
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// Throws EPictureError for a picture without pixels (0 x 0, what a picture that did not load
// reports): the scale would be 0 / 0.
TPreviewGeometry PreviewGeometry(std::uint32_t width, std::uint32_t height,
                                 int boxWidth = kPreviewWidth, int boxHeight = kPreviewHeight);

// Draws the picture file as the preview shows it: an RGB raster of (box size x scale) pixels,
// white where the picture does not cover it; scale > 1 draws for a high-density screen with
// the same geometry. Nothing (no raster) when no file exists at path; throws EPictureError with
// the reason when the file holds no picture that decodes.
std::optional<TRaster> RenderPreview(const std::string& path, int scale = 1,
                                     int boxWidth = kPreviewWidth, int boxHeight = kPreviewHeight);
