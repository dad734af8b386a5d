#include "app/imaging/Raster.h"

#include <algorithm>
#include <string>
#include <utility>

bool PictureSizeFits(std::int64_t width, std::int64_t height, std::int64_t maxPixels)
{
    // The sides are bounded before the area is formed: they may come from 32-bit fields.
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= std::min(maxPixels, kMaxPicturePixels);
}

void CheckPictureSize(std::int64_t width, std::int64_t height, std::int64_t maxPixels)
{
    if (width <= 0 || height <= 0)
        throw EPictureError("picture has no pixels");
    if (!PictureSizeFits(width, height, maxPixels))
        throw EPictureError("picture too large: " + std::to_string(width) + " x " +
                                std::to_string(height),
                            fkTooLarge);
}

TRaster NewRaster(std::int64_t width, std::int64_t height, int channels, std::uint8_t fill)
{
    CheckPictureSize(width, height);
    TRaster raster;
    raster.Width = static_cast<int>(width);
    raster.Height = static_cast<int>(height);
    raster.Channels = channels;
    raster.Pixels.assign(raster.RowBytes() * static_cast<std::size_t>(height), fill);
    return raster;
}

void FlattenOntoWhite(TRaster& raster)
{
    if (raster.Channels != 4)
        return;
    const std::size_t count =
        static_cast<std::size_t>(raster.Width) * static_cast<std::size_t>(raster.Height);
    std::uint8_t* in = raster.Pixels.data();
    std::uint8_t* out = raster.Pixels.data();
    // In place: the write position never overtakes the read position.
    for (std::size_t i = 0; i < count; ++i, in += 4, out += 3)
    {
        const unsigned a = in[3];
        if (a == 255)
        {
            // Opaque, as most pixels of most pictures are: the blend would give the colour.
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            continue;
        }
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<std::uint8_t>((in[c] * a + 255 * (255 - a) + 127) / 255);
    }
    raster.Channels = 3;
    // The spare capacity is kept: giving it back would copy the picture once more at its peak.
    raster.Pixels.resize(count * 3);
}

bool IsNeutralRgb(const TRaster& raster)
{
    if (raster.Channels != 3)
        return false;
    const std::size_t count = raster.Pixels.size() / 3;
    const std::uint8_t* p = raster.Pixels.data();
    for (std::size_t i = 0; i < count; ++i, p += 3)
        if (p[0] != p[1] || p[0] != p[2])
            return false;
    return true;
}

void ReduceToGreyIfNeutral(TRaster& raster)
{
    if (!IsNeutralRgb(raster))
        return;
    const std::size_t count = raster.Pixels.size() / 3;
    for (std::size_t i = 0; i < count; ++i)
        raster.Pixels[i] = raster.Pixels[i * 3];
    raster.Channels = 1;
    raster.Pixels.resize(count);
}

void ApplyOrientation(TRaster& raster, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return;
    const int w = raster.Width;
    const int h = raster.Height;
    const bool swap = orientation >= 5;
    const int outW = swap ? h : w;
    const int outH = swap ? w : h;
    const auto n = static_cast<std::size_t>(raster.Channels);
    std::vector<std::uint8_t> out(raster.Pixels.size());
    for (int y = 0; y < outH; ++y)
    {
        for (int x = 0; x < outW; ++x)
        {
            // (sx, sy): the stored pixel that appears at (x, y) once upright.
            int sx = 0;
            int sy = 0;
            switch (orientation)
            {
            case 2:
                sx = w - 1 - x;
                sy = y;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sx = x;
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            default:
                sx = w - 1 - y;
                sy = x;
                break; // 8
            }
            const std::uint8_t* src =
                raster.Pixels.data() + (static_cast<std::size_t>(sy) * static_cast<std::size_t>(w) +
                                        static_cast<std::size_t>(sx)) *
                                           n;
            std::uint8_t* dst =
                out.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(outW) +
                              static_cast<std::size_t>(x)) *
                                 n;
            for (std::size_t c = 0; c < n; ++c)
                dst[c] = src[c];
        }
    }
    raster.Pixels = std::move(out);
    raster.Width = outW;
    raster.Height = outH;
}
