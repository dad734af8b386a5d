#include "app/imaging/CairoRaster.h"

#include <cstring>
#include <new>

TCairoSurface NewCairoSurface(int width, int height)
{
    TCairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) == CAIRO_STATUS_NO_MEMORY)
        throw std::bad_alloc();
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw EPictureError(std::string("cannot make a drawing surface: ") +
                            cairo_status_to_string(cairo_surface_status(surface.get())));
    return surface;
}

TCairoSurface RasterToSurface(const TRaster& raster)
{
    TCairoSurface surface = NewCairoSurface(raster.Width, raster.Height);
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    for (int y = 0; y < raster.Height; ++y)
    {
        const std::uint8_t* in = raster.Row(y);
        auto* out = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = 0; x < raster.Width; ++x, in += raster.Channels)
        {
            std::uint32_t r = in[0];
            std::uint32_t g = raster.Channels >= 3 ? in[1] : in[0];
            std::uint32_t b = raster.Channels >= 3 ? in[2] : in[0];
            const std::uint32_t a = raster.Channels == 4 ? in[3] : 255;
            if (a != 255)
            {
                r = (r * a + 127) / 255;
                g = (g * a + 127) / 255;
                b = (b * a + 127) / 255;
            }
            out[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

TRaster SurfaceToRaster(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    TRaster raster = NewRaster(width, height, 4);
    for (int y = 0; y < height; ++y)
    {
        const auto* in =
            reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        std::uint8_t* out = raster.Row(y);
        for (int x = 0; x < width; ++x, out += 4)
        {
            const std::uint32_t p = in[x];
            const std::uint32_t a = p >> 24;
            std::uint32_t rgb[3] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(
                    a == 0 ? 0 : std::min<std::uint32_t>(255, (rgb[c] * 255 + a / 2) / a));
            out[3] = static_cast<std::uint8_t>(a);
        }
    }
    return raster;
}
