#pragma once

#include <string>

#include "app/imaging/Raster.h"

struct jpeg_compress_struct;

// Encodes a raster as a complete JPEG file (SOI to EOI) at the quality (1..100): the standard
// tables scaled as libjpeg scales them, colour subsampled 4:2:0, Huffman tables optimised for
// the picture. A grey picture (one channel, or RGB with R = G = B in every pixel) becomes a
// one-component JPEG. RGBA is flattened onto white first. Throws EPictureError when the
// encoder refuses (a quality outside 1..100, for one).
std::string EncodeJpeg(const TRaster& raster, int quality);

// The same tables, sampling and Huffman optimisation on a compressor whose image size is set,
// for JPEGs made from coefficients rather than pixels.
void SetJpegOutputParameters(jpeg_compress_struct& info, bool grey, int quality);

// Huffman tables are optimised by default; a benchmark turns that off to time what it costs.
// Process-wide; set it before conversions start.
void SetJpegHuffmanOptimised(bool optimised);
bool JpegHuffmanOptimised();
