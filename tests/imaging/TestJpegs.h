#pragma once

#include <string>

#include "app/imaging/Raster.h"

// JPEGs with chosen properties, written through libjpeg for the DCT path's tests.
struct TTestJpegOptions
{
    int Quality = 92;
    bool Subsample = true; // 4:2:0, else 4:4:4 (colour only)
    bool Progressive = false;
    bool Arithmetic = false;
    int Orientation = 0;    // an EXIF block with this orientation when 1..8
    std::string IccProfile; // an APP2 ICC profile when not empty
};
std::string MakeTestJpeg(const TRaster& raster, const TTestJpegOptions& options = {});

// Smooth colour with a little noise, as a photograph compresses.
TRaster PhotoRaster(int width, int height, unsigned seed = 1);

// Peak signal-to-noise ratio of b against a (same size and channels), in dB.
double Psnr(const TRaster& a, const TRaster& b);

// The same coefficients written again by libjpeg with its own optimised Huffman tables: a
// lossless copy, byte for byte what libjpeg makes of them.
std::string ReoptimiseWithLibjpeg(const std::string& jpeg);
