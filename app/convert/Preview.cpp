#include "app/convert/Preview.h"

#include <algorithm>
#include <cmath>

#include "app/convert/FileList.h"
#include "app/imaging/GdiPlus.h"

namespace
{

// Nearest integer, halves to the even neighbour (the default rounding mode).
int RoundHalfEven(long double value)
{
    return static_cast<int>(std::nearbyint(value));
}

} // namespace

TPreviewGeometry PreviewGeometry(std::uint32_t width, std::uint32_t height, int boxWidth,
                                 int boxHeight)
{
    if (width == 0 || height == 0 || boxWidth <= 0 || boxHeight <= 0)
        throw EPictureError("picture has no pixels");
    const auto rx = static_cast<float>(static_cast<long double>(width) / boxWidth);
    const auto ry = static_cast<float>(static_cast<long double>(height) / boxHeight);
    const float s = rx > ry ? rx : ry;

    TPreviewGeometry geometry;
    // A picture far wider than high (or the reverse) would round its short side to nothing.
    geometry.Width = std::max(1, RoundHalfEven(static_cast<long double>(width) / s));
    geometry.Height = std::max(1, RoundHalfEven(static_cast<long double>(height) / s));
    geometry.X = RoundHalfEven(static_cast<long double>(boxWidth - geometry.Width) / 2);
    geometry.Y = RoundHalfEven(static_cast<long double>(boxHeight - geometry.Height) / 2);
    return geometry;
}

std::optional<TRaster> RenderPreview(const std::string& path, int scale, int boxWidth,
                                     int boxHeight)
{
    if (!FileIsPresent(path))
        return std::nullopt;
    TGPImage image(path);
    if (image.Width() == 0 || image.Height() == 0)
        throw EPictureError(image.LastReason().empty() ? "not a picture" : image.LastReason());
    const TPreviewGeometry geometry =
        PreviewGeometry(image.Width(), image.Height(), boxWidth, boxHeight);
    scale = std::max(1, scale);
    const auto scaled = [scale](int value) { return static_cast<std::uint32_t>(value * scale); };
    std::unique_ptr<TGPImage> thumbnail =
        image.GetThumbnailImage(scaled(geometry.Width), scaled(geometry.Height));
    if (thumbnail->Width() == 0)
        throw EPictureError(thumbnail->LastReason().empty() ? "cannot scale the picture"
                                                            : thumbnail->LastReason());

    TRaster box =
        NewRaster(std::int64_t{boxWidth} * scale, std::int64_t{boxHeight} * scale, 3, 255);
    TGPGraphics graphics(box);
    graphics.DrawImage(
        *thumbnail, static_cast<float>(geometry.X * scale), static_cast<float>(geometry.Y * scale),
        static_cast<float>(thumbnail->Width()), static_cast<float>(thumbnail->Height()));
    return box;
}
