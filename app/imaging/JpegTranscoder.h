#pragma once

#include <string>
#include <string_view>

// A JPEG made into a JPEG at another quality without going through pixels: the source's DCT
// coefficients are rescaled to the target quality's tables ("requantized") with correct
// rounding and written with those tables, turned upright by the lossless block transforms
// when the EXIF orientation asks for it. The result is a new file (never the source's bytes),
// written with the same tables, sampling and optimised Huffman tables as the pixel path's
// encoder, and free of the rounding that decoding, colour conversion and a second forward
// transform would add.
//
// Only what the pixel path would give the same picture for is taken: 8-bit Huffman-coded
// (baseline or progressive) files with one grey component or YCbCr at 4:2:0, no colour
// profile other than sRGB, and an orientation whose transform is exact for the size (the
// sides it mirrors are whole MCUs). Everything else is refused with the reason, and so is
// data that libjpeg finds damaged: the caller then takes the pixel path.

struct TRequantized
{
    std::string Jpeg;    // the new file, empty when refused
    std::string Refusal; // why the source was not taken, empty on success
};

// quality: 1..100. Never throws for bad data (it is refused); throws std::bad_alloc.
TRequantized RequantizeJpeg(std::string_view source, int quality);

// The DCT path is on by default; a benchmark turns it off to time the pixel path alone.
// Process-wide; set it before conversions start.
void SetJpegRequantizing(bool enabled);
bool JpegRequantizing();
