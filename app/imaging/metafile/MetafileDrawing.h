#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/imaging/Raster.h"

// Drawing of metafiles by libraries that crash or loop on some files: only the helper program
// pictova-metafile (and the fuzzing targets) call these, never the converter itself. Each
// returns straight RGBA, or throws EPictureError with the reason; a picture larger than
// maxPixels is refused before anything of its size is allocated.
TRaster DrawWmf(std::string bytes, std::int64_t maxPixels);
TRaster DrawEmf(std::string_view bytes, std::int64_t maxPixels);
