#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "app/imaging/Raster.h"

// Metafiles are drawn by libraries that crash or loop on some files, so they are drawn in the
// helper program pictova-metafile: the file goes in on its standard input, and width, height,
// channel count (32-bit little-endian each) and the pixels come back on its standard output. A
// crash, a hang past the time limit or bad output fails the picture, never the caller.

// The helper's path: $PICTOVA_METAFILE_HELPER, else pictova-metafile beside the running
// program, else the build's bin folder.
std::string MetafileHelperPath();

// How long the helper may take before it is killed (10 s by default); returns the previous
// limit. Tests shorten it.
std::chrono::milliseconds SetMetafileHelperTimeout(std::chrono::milliseconds timeout);

// Runs the helper on a WMF file's bytes. Throws EPictureError with the reason.
TRaster RenderWmfInHelper(std::string_view bytes);
