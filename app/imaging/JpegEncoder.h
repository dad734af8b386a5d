#pragma once

#include <string>

#include "app/imaging/Raster.h"

// Encodes a raster as a complete JPEG file (SOI to EOI). The quality goes to TurboJPEG
// unchanged; colour is subsampled 4:2:0, and a grey picture (one channel, or RGB with R = G = B
// in every pixel) becomes a one-component JPEG. RGBA is flattened onto white first. Throws
// EPictureError when the encoder refuses (a quality outside 1..100, for one).
std::string EncodeJpeg(const TRaster& raster, int quality);
