#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exceptions.h"

// What kind of failure a picture had, for callers that answer with a status code.
enum TPictureFault
{
    fkBadData,
    fkFileNotFound,
    fkCannotRead,
    fkUnknownFormat,
    fkTooLarge,
};

// A picture failed; what() is the reason in plain words ("truncated PNG"), without the file
// name, which the caller adds where it reports.
class EPictureError : public Exception
{
public:
    explicit EPictureError(const std::string& reason, TPictureFault fault = fkBadData)
        : Exception(reason), m_fault(fault)
    {
    }
    TPictureFault Fault() const { return m_fault; }

private:
    TPictureFault m_fault;
};

// 8-bit pixels, rows top to bottom, no padding. Channels: 1 grey, 3 RGB, 4 RGBA (straight,
// not premultiplied; only between a decoder and FlattenOntoWhite).
struct TRaster
{
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    std::vector<std::uint8_t> Pixels;

    std::size_t RowBytes() const
    {
        return static_cast<std::size_t>(Width) * static_cast<std::size_t>(Channels);
    }
    std::uint8_t* Row(int y) { return Pixels.data() + static_cast<std::size_t>(y) * RowBytes(); }
    const std::uint8_t* Row(int y) const
    {
        return Pixels.data() + static_cast<std::size_t>(y) * RowBytes();
    }
};

// JPEG cannot hold more than 65535 rows or columns, and 256 megapixels of RGBA already take a
// gigabyte: a picture beyond either limit fails before anything is allocated.
inline constexpr std::int64_t kMaxPictureSide = 65500;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// The fuzzing build only: headers claiming large pictures are cheap to make and costly to
// allocate, and would leave the fuzzer zeroing memory instead of exploring.
inline constexpr std::int64_t kMaxPicturePixels = 4LL * 1000 * 1000;
#else
inline constexpr std::int64_t kMaxPicturePixels = 256LL * 1000 * 1000;
#endif

// Whether a picture of this size may be allocated: both sides positive, neither above
// kMaxPictureSide, and at most maxPixels pixels (kMaxPicturePixels caps a larger maxPixels).
bool PictureSizeFits(std::int64_t width, std::int64_t height,
                     std::int64_t maxPixels = kMaxPicturePixels);

// Throws EPictureError "picture has no pixels" for a zero or negative side, and
// "picture too large: W x H" (fkTooLarge) beyond the limits of PictureSizeFits.
void CheckPictureSize(std::int64_t width, std::int64_t height,
                      std::int64_t maxPixels = kMaxPicturePixels);

// A raster of the given size after CheckPictureSize, every byte set to fill.
TRaster NewRaster(std::int64_t width, std::int64_t height, int channels, std::uint8_t fill = 0);

// Composes RGBA onto white and leaves RGB; grey and RGB pass unchanged.
void FlattenOntoWhite(TRaster& raster);

// True for an RGB raster whose every pixel has R = G = B.
bool IsNeutralRgb(const TRaster& raster);

// An RGB raster whose every pixel has R = G = B becomes one grey channel.
void ReduceToGreyIfNeutral(TRaster& raster);

// Turns a picture stored in orientation 1..8 (the EXIF/TIFF Orientation values) upright;
// 5 to 8 swap width and height. Other values leave it as it is.
void ApplyOrientation(TRaster& raster, int orientation);
