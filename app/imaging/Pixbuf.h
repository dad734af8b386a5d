#pragma once

#include <string_view>

#include "app/imaging/Raster.h"

// Decodes with gdk-pixbuf's loader for one format ("bmp", "ico"); the result is RGB or RGBA.
// The caller has checked the size the header claims, since the loader allocates by it.
// formatName names the format in a failure's reason ("bad BMP: ...").
TRaster DecodeWithPixbuf(std::string_view bytes, const char* loaderType, const char* formatName);

// Little-endian fields of headers, read with bounds already checked by the caller.
inline std::uint32_t ReadLe32(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 3])) << 24;
}

inline std::uint16_t ReadLe16(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                      static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

inline std::uint32_t ReadBe32(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 3]));
}
