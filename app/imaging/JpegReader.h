#pragma once

#include <string_view>

#include "app/imaging/Raster.h"

// What a JPEG's header says, read without decoding the picture.
struct TJpegHeader
{
    int Width = 0; // upright, after the EXIF orientation
    int Height = 0;
    int StoredWidth = 0; // as the data lie
    int StoredHeight = 0;
    int Components = 0;
    int Orientation = 1; // EXIF, 1..8
};

// Throws EPictureError ("bad JPEG: ...", "truncated JPEG", "picture too large: W x H").
TJpegHeader ReadJpegHeader(std::string_view bytes);

// Decodes to RGB or grey and turns the picture upright. scaleEighths (1..8) decodes at that
// many eighths of the stored size in the DCT domain, which costs a fraction of a full decode:
// each side becomes ceil(side * scaleEighths / 8). Throws EPictureError.
TRaster DecodeJpeg(std::string_view bytes, int scaleEighths = 8);
