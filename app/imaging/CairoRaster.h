#pragma once

#include <memory>

#include <cairo.h>

#include "app/imaging/Raster.h"

struct TCairoSurfaceDeleter
{
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct TCairoDeleter
{
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using TCairoSurface = std::unique_ptr<cairo_surface_t, TCairoSurfaceDeleter>;
using TCairo = std::unique_ptr<cairo_t, TCairoDeleter>;

// A new ARGB32 surface of the raster's size; the caller has checked the size. Throws
// EPictureError when cairo cannot make one, std::bad_alloc when memory is short.
TCairoSurface NewCairoSurface(int width, int height);

// The raster as an ARGB32 surface (premultiplied, as cairo wants it).
TCairoSurface RasterToSurface(const TRaster& raster);

// An ARGB32 surface's pixels as straight RGBA.
TRaster SurfaceToRaster(cairo_surface_t* surface);
