#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/imaging/Raster.h"

// Colour-managed decoding with Little CMS. A picture whose file describes its colours (an
// embedded ICC profile, or PNG's gamma and chromaticities) is converted to sRGB, the colour
// space untagged pictures are taken to be in and the one a PDF's DeviceRGB is shown as.
// Profiles come from the files and are not trusted: one that cannot be read, or that does not
// fit the pixels (a CMYK profile on RGB pixels), is ignored and the picture is taken as
// untagged, as browsers do.

// True for a profile close enough to sRGB that converting would move no pixel by more than
// rounding: RGB, with sRGB's primaries and tone curve. The JPEG transcoder takes only such
// files (and untagged ones) on its DCT path; every other profile needs the pixel path.
bool IsSrgbProfile(std::string_view icc);

// Converts an RGB, RGBA (alpha kept) or grey raster described by the profile to sRGB, in
// place. A grey profile applies to grey rasters and to RGB(A) ones whose pixels are all grey.
void ConvertToSrgb(TRaster& raster, std::string_view icc);

// The profile PNG's gAMA and cHRM chunks describe, as ICC bytes: gamma as stored (100000 times
// the encoding exponent, 45455 for 1/2.2), chromaticities as stored (white x, y, then red,
// green and blue x, y, each 100000 times) or null for sRGB's. Empty when they describe sRGB
// near enough (a gamma of 1/2.2 with sRGB's chromaticities) or no usable profile.
std::string ProfileFromGamma(std::uint32_t gamma, const std::uint32_t* chromaticities);

// Rows of CMYK samples to sRGB through a CMYK profile: JPEG's and TIFF's CMYK pictures share it.
class TCmykToSrgb
{
public:
    // How the samples of one pixel are stored: 1 or 2 bytes a sample (2 in the machine's byte
    // order, as libtiff hands them out), followed by extraSamples further samples (alpha or
    // spot inks, skipped); inverted: 255 for no ink (Adobe's JPEGs).
    struct TLayout
    {
        bool Inverted = false;
        int BytesPerSample = 1;
        int ExtraSamples = 0;
    };

    // Null unless the profile is a usable CMYK profile and the layout one of the above.
    static std::unique_ptr<TCmykToSrgb> Create(std::string_view icc, const TLayout& layout);
    ~TCmykToSrgb();
    TCmykToSrgb(const TCmykToSrgb&) = delete;
    TCmykToSrgb& operator=(const TCmykToSrgb&) = delete;

    // pixels CMYK pixels of the layout to RGB triples.
    void Convert(const std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t pixels) const;

private:
    TCmykToSrgb(void* transform, std::size_t pixelBytes)
        : m_transform(transform), m_pixelBytes(pixelBytes)
    {
    }
    void* m_transform; // cmsHTRANSFORM, owned
    std::size_t m_pixelBytes;
};
