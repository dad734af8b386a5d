#pragma once

#include <cstdint>

// The ternary raster operations metafiles combine bitmaps with (the metafile formats' own
// values). Both the EMF reader and the WMF helper program read them.
constexpr std::uint32_t kSrcCopy = 0x00CC0020;
constexpr std::uint32_t kSrcPaint = 0x00EE0086;
constexpr std::uint32_t kSrcAnd = 0x008800C6;
constexpr std::uint32_t kSrcInvert = 0x00660046;
constexpr std::uint32_t kSrcErase = 0x00440328;
constexpr std::uint32_t kNotSrcCopy = 0x00330008;
constexpr std::uint32_t kNotSrcErase = 0x001100A6;
constexpr std::uint32_t kMergePaint = 0x00BB0226;
