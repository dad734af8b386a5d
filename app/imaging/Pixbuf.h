#pragma once

#include <string_view>

#include "app/imaging/Raster.h"

// Decodes with gdk-pixbuf's loader for one format ("bmp", "ico"); the result is RGB or RGBA.
// The caller has checked the size the header claims, since the loader allocates by it.
// formatName names the format in a failure's reason ("bad BMP: ...").
TRaster DecodeWithPixbuf(std::string_view bytes, const char* loaderType, const char* formatName);
